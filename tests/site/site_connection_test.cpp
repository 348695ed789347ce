// The site connection against loopback test servers: the machine fingerprint
// from the registry, the gateway request as the server receives it, the
// answer as the query keeps it, and the cache of queries.
#include "tests/support/http_test_server.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "install/product.h"
#include "base/registry.h"
#include "site/file_text.h"
#include "site/fingerprint.h"
#include "site/product_query.h"
#include "site/site_connection.h"
#include "transport/host_connection.h"
#include "tests/support/test_support.h"
#include "tests/site/kept_transports.h"

using namespace testing_support;

namespace {

const char kBiosKey[] = "Enum\\Root\\*PNP0c01\\0000";
const char kProductKey[] = SETUP_FAMILY_KEY "\\" SETUP_FAMILY_NAME;
const char kPattern[] = "qestorvilanumedra";

// The request target without "http://host" (the socket transport sends the
// absolute form, the others the path alone).
std::string PathOf(const std::string& target) {
  if (target.compare(0, 7, "http://") != 0) return target;
  size_t slash = target.find('/', 7);
  return slash == std::string::npos ? "/" : target.substr(slash);
}

// Splits "...&Rand=<n>" into the part before it and n; false when the
// target does not end in a decimal "Rand=" parameter.
bool SplitRand(const std::string& target, std::string* before, unsigned long long* n) {
  size_t at = target.rfind("Rand=");
  if (at == std::string::npos || at == 0 || (target[at - 1] != '&' && target[at - 1] != '?')) return false;
  std::string digits = target.substr(at + 5);
  if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  *before = target.substr(0, at - 1);
  *n = std::stoull(digits);
  return true;
}

class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KeepTransportLibrariesLoaded();
    ClearRegistry();
  }
  void TearDown() override { ClearRegistry(); }
  static void ClearRegistry() {
    DeleteMachineKey(SETUP_FAMILY_KEY);
    DeleteMachineKey(kBiosKey);
  }
  static void ServeSite(HttpTestServer& server, const std::string& answer) {
    server.ServeFile("/secure/test_pattern.txt", kPattern);
    server.ServeFile("/secure/gateway_new.php", answer);
  }
  // Targets the server saw for the gateway script, in order.
  static std::vector<std::string> GatewayTargets(HttpTestServer& server) {
    std::vector<std::string> found;
    for (const std::string& target : server.Targets()) {
      std::string path = PathOf(target);
      if (path.compare(0, 24, "/secure/gateway_new.php?") == 0) found.push_back(path);
    }
    return found;
  }
};

TEST_F(SiteTest, MachineFingerprintFromTheBiosValue) {
  // No key: the default text "Unknown".
  EXPECT_EQ(0x53af76u, MachineFingerprint());
  ASSERT_EQ(ERROR_SUCCESS, RegSetString(HKEY_LOCAL_MACHINE, kBiosKey, "BIOSVersion", "abc"));
  EXPECT_EQ(0x53u, MachineFingerprint());
  // Case, 0/O, 1/8/I and punctuation do not tell machines apart.
  ASSERT_EQ(ERROR_SUCCESS, RegSetString(HKEY_LOCAL_MACHINE, kBiosKey, "BIOSVersion", "Bios 1.08-0"));
  const uint32_t same = MachineFingerprint();
  ASSERT_EQ(ERROR_SUCCESS, RegSetString(HKEY_LOCAL_MACHINE, kBiosKey, "BIOSVersion", "BIOSIOIO"));
  EXPECT_EQ(same, MachineFingerprint());
  // A hash of 0 is never sent: an empty value and "AH" both give 1.
  ASSERT_EQ(ERROR_SUCCESS, RegSetString(HKEY_LOCAL_MACHINE, kBiosKey, "BIOSVersion", ""));
  EXPECT_EQ(1u, MachineFingerprint());
  ASSERT_EQ(ERROR_SUCCESS, RegSetString(HKEY_LOCAL_MACHINE, kBiosKey, "BIOSVersion", "AH"));
  EXPECT_EQ(1u, MachineFingerprint());
}

TEST_F(SiteTest, FileTextReadsUpToTheFirstZeroByte) {
  ScratchFolder folder;
  EXPECT_STREQ("", FileText(folder.File("missing").c_str()).Text());
  ASSERT_TRUE(WriteWholeFile(folder.File("empty"), ""));
  FileText empty(folder.File("empty").c_str());
  EXPECT_TRUE(empty.IsPresent());
  EXPECT_STREQ("", empty.Text());
  ASSERT_TRUE(WriteWholeFile(folder.File("plain"), "http://h/p/,a,b\r\n"));
  EXPECT_STREQ("http://h/p/,a,b\r\n", FileText(folder.File("plain").c_str()).Text());
  ASSERT_TRUE(WriteWholeFile(folder.File("zero"), std::string("http://h/p/\0,junk", 17)));
  FileText cut(folder.File("zero").c_str());
  EXPECT_EQ(11u, cut.Length());
  EXPECT_STREQ("http://h/p/", cut.Text());
  // A folder is not a file.
  EXPECT_STREQ("", FileText(folder.Path().c_str()).Text());
}

TEST_F(SiteTest, QuerySuffixFromFingerprintBetaAndStoredParameters) {
  {
    // The maker's site below "/secure/"; nothing is fetched before a query.
    SiteConnection site(nullptr);
    ASSERT_NE(nullptr, site.Connection());
    EXPECT_STREQ(SETUP_HOST_1, site.Connection()->host.Text());
    EXPECT_STREQ("/secure/", site.Connection()->base_path.Text());
    EXPECT_FALSE(site.Connection()->connected);
    EXPECT_STREQ("&Bios=53af76", site.QuerySuffix());
    EXPECT_TRUE(site.QuerySuffixFits());
  }
  RegSetString(HKEY_LOCAL_MACHINE, kBiosKey, "BIOSVersion", "abc");
  RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "Beta", "");
  RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "WWWParams", "&a=b c");
  {
    SiteConnection site(nullptr, "127.0.0.1");
    EXPECT_STREQ("&Bios=53&a=b c", site.QuerySuffix());
  }
  RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "Beta", "2");
  SiteConnection site(nullptr, "127.0.0.1");
  EXPECT_STREQ("&Bios=53&Beta=2&a=b c", site.QuerySuffix());
}

TEST_F(SiteTest, GatewayRequestAsTheServerReceivesIt) {
  HttpTestServer server(30, 1);
  ASSERT_TRUE(server.Ok());
  ServeSite(server, "http://h.test/pub/");
  RegSetString(HKEY_LOCAL_MACHINE, kBiosKey, "BIOSVersion", "abc");

  SiteConnection bare(nullptr, server.Address().c_str());
  ASSERT_NE(nullptr, bare.FindOrCreateQuery("Pellomar"));

  RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "Beta", "yes");
  RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "WWWParams", "&g=1 2");
  RegSetString(HKEY_LOCAL_MACHINE, kProductKey, "AuthKey", "k");
  RegSetString(HKEY_LOCAL_MACHINE, kProductKey, "WWWParams", "&a=b c");
  SiteConnection full(nullptr, server.Address().c_str());
  ProductQuery* query = full.FindOrCreateQuery("Pellomar");
  ASSERT_NE(nullptr, query);
  EXPECT_STREQ("k", query->AuthKey());
  EXPECT_STREQ("&a=b c", query->ProductParameters());

  std::vector<std::string> gateway = GatewayTargets(server);
  ASSERT_EQ(2u, gateway.size());
  std::string before;
  unsigned long long first = 0, second = 0;
  ASSERT_TRUE(SplitRand(gateway[0], &before, &first)) << gateway[0];
  EXPECT_EQ("/secure/gateway_new.php?Product=Pellomar&Bios=53", before);
  ASSERT_TRUE(SplitRand(gateway[1], &before, &second)) << gateway[1];
  EXPECT_EQ("/secure/gateway_new.php?Product=Pellomar&AuthKey=k&Bios=53&Beta=yes&g=1%202&a=b%20c", before);
  // One counter for the whole process: later requests carry larger numbers.
  EXPECT_GT(second, first);

  // Parameters too long for the download path: the gateway is not asked at
  // all rather than asked with a cut request.
  RegSetString(HKEY_LOCAL_MACHINE, kProductKey, "WWWParams", ("&long=" + std::string(200, 'x')).c_str());
  SiteConnection too_long(nullptr, server.Address().c_str());
  EXPECT_EQ(nullptr, too_long.FindOrCreateQuery("Pellomar"));
  EXPECT_EQ(2u, GatewayTargets(server).size());
}

TEST_F(SiteTest, AnswerFieldsAsTheQueryKeepsThem) {
  HttpTestServer server(30, 2);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/secure/test_pattern.txt", kPattern);
  SiteConnection site(nullptr, server.Address().c_str());

  struct Case {
    std::string answer;
    bool valid;
    const char *url, *host, *path, *second, *third;
  };
  const Case cases[] = {
      {"http://h.test/pub/,,x", true, "http://h.test/pub/", "h.test", "pub/", "x", ""},
      {"http://h.test/pub/", true, "http://h.test/pub/", "h.test", "pub/", "", ""},
      {"http://h.test", true, "http://h.test", "h.test", "", "", ""},
      {",http://h.test/pub/,a,b,c", true, "http://h.test/pub/", "h.test", "pub/", "a", "b"},
      {"http://h.test/pub/,a,b\r\n", true, "http://h.test/pub/", "h.test", "pub/", "a", "b\r\n"},
      {std::string("http://h.test/x/\0,junk", 22), true, "http://h.test/x/", "h.test", "x/", "", ""},
      {",,,", false, "", "", "", "", ""},
      {"", false, "", "", "", "", ""},
      {"h.test/pub/,a,b", false, "", "", "", "", ""},
      {"http:///pub/", false, "", "", "", "", ""},
      {"http://h.test/pub/\r\n", false, "", "", "", "", ""},
  };
  int n = 0;
  for (const Case& c : cases) {
    // A fresh name each time: the cache would otherwise answer.
    std::string name = "Product" + std::to_string(++n);
    server.ServeFile("/secure/gateway_new.php", c.answer);
    ProductQuery* query = site.FindOrCreateQuery(name.c_str());
    if (!c.valid) {
      EXPECT_EQ(nullptr, query) << c.answer;
      continue;
    }
    ASSERT_NE(nullptr, query) << c.answer;
    EXPECT_STREQ(name.c_str(), query->Name());
    EXPECT_STREQ(c.url, query->Url()) << c.answer;
    EXPECT_STREQ(c.host, query->Host()) << c.answer;
    EXPECT_STREQ(c.path, query->Path()) << c.answer;
    EXPECT_STREQ(c.second, query->SecondField()) << c.answer;
    EXPECT_STREQ(c.third, query->ThirdField()) << c.answer;
    EXPECT_EQ(&site, query->Site());
  }
  EXPECT_EQ(static_cast<size_t>(n), GatewayTargets(server).size());

  // A gateway missing from the site: the error page names no download area.
  server.RemovePath("/secure/gateway_new.php");
  EXPECT_EQ(nullptr, site.FindOrCreateQuery("Missing"));
}

TEST_F(SiteTest, OnlyValidQueriesAreKept) {
  HttpTestServer server(30, 3);
  ASSERT_TRUE(server.Ok());
  ServeSite(server, "http://h.test/pub/");
  SiteConnection site(nullptr, server.Address().c_str());

  ProductQuery* first = site.FindOrCreateQuery("Pellomar");
  ASSERT_NE(nullptr, first);
  const int after_first = server.ConnectionCount();
  EXPECT_EQ(first, site.FindOrCreateQuery("Pellomar"));
  EXPECT_EQ(after_first, server.ConnectionCount());
  // Names are told apart by their exact bytes.
  ProductQuery* other = site.FindOrCreateQuery("pellomar");
  ASSERT_NE(nullptr, other);
  EXPECT_NE(first, other);
  EXPECT_EQ(after_first + 1, server.ConnectionCount());

  // A failed name is asked again, and succeeds once the gateway knows it.
  server.ServeFile("/secure/gateway_new.php", ",,,");
  EXPECT_EQ(nullptr, site.FindOrCreateQuery("Later"));
  EXPECT_EQ(nullptr, site.FindOrCreateQuery("Later"));
  EXPECT_EQ(after_first + 3, server.ConnectionCount());
  server.ServeFile("/secure/gateway_new.php", "http://later.test/dl/");
  ProductQuery* later = site.FindOrCreateQuery("Later");
  ASSERT_NE(nullptr, later);
  EXPECT_STREQ("later.test", later->Host());
  EXPECT_EQ(later, site.FindOrCreateQuery("Later"));
  // Kept queries do not change when the gateway's answer does.
  EXPECT_STREQ("h.test", site.FindOrCreateQuery("Pellomar")->Host());
  EXPECT_EQ(after_first + 4, server.ConnectionCount());
}

TEST_F(SiteTest, NoQueryWhenTheSiteCannotBeReached) {
  // Nothing listens here: every transport fails, the gateway is never asked.
  SiteConnection down(nullptr, TestAddress(30, 9).c_str());
  EXPECT_EQ(nullptr, down.FindOrCreateQuery("Pellomar"));

  // A test file with a line ending fails the connection test too.
  HttpTestServer server(30, 4);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/secure/test_pattern.txt", std::string(kPattern) + "\r\n");
  server.ServeFile("/secure/gateway_new.php", "http://h.test/pub/");
  SiteConnection site(nullptr, server.Address().c_str());
  EXPECT_EQ(nullptr, site.FindOrCreateQuery("Pellomar"));
  EXPECT_TRUE(GatewayTargets(server).empty());
  EXPECT_GT(server.ConnectionCount(), 0);
}

}  // namespace
