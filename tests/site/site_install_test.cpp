// The install sequence with the real site connection, product query and file
// fetcher against loopback servers: what the user sees when the site is
// down or the contact is cancelled, and the whole road when it answers.
#include "tests/support/http_test_server.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/cancel_flag.h"
#include "install/install_sequence.h"
#include "install/product.h"
#include "base/registry.h"
#include "site/file_fetcher.h"
#include "site/product_query.h"
#include "site/site_connection.h"
#include "transport/host_connection.h"
#include "tests/support/test_support.h"
#include "tests/site/kept_transports.h"
#include "tests/site/loopback_host.h"

using namespace testing_support;
using site_testing::LoopbackSiteHost;

namespace {

const char kPattern[] = "qestorvilanumedra";

class SiteInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KeepTransportLibrariesLoaded();
    DeleteMachineKey(SETUP_FAMILY_KEY);
    SetCancelRequested(false);
    GetCurrentDirectoryA(sizeof cwd_, cwd_);
    install_ = folder_.Path() + "\\Pellomar\\";
  }
  void TearDown() override {
    SetCurrentDirectoryA(cwd_);
    DeleteMachineKey(SETUP_FAMILY_KEY);
    SetCancelRequested(false);
  }

  ScratchFolder folder_;
  std::string install_;
  char cwd_[MAX_PATH];
};

TEST_F(SiteInstallTest, SiteDownShowsTheContactFailureInTheErrorLine) {
  LoopbackSiteHost host(TestAddress(30, 19));
  host.dialog_folder = install_;
  InstallSequence sequence(host);
  sequence.Run();
  EXPECT_EQ("Can't contact Pellomar site", host.error);
  EXPECT_EQ("", host.status);
  EXPECT_TRUE(host.button_enabled);
  EXPECT_EQ(0, host.close_posts);
  EXPECT_EQ(0, host.dialog_runs);
  EXPECT_EQ(nullptr, host.fetcher.get());
}

TEST_F(SiteInstallTest, GatewayNamingNoDownloadAreaIsAContactFailure) {
  HttpTestServer server(30, 14);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/secure/test_pattern.txt", kPattern);
  for (const char* answer : {",,,", "<p>Moved to http://h.test/pub/</p>"}) {
    server.ServeFile("/secure/gateway_new.php", answer);
    LoopbackSiteHost host(server.Address());
    host.dialog_folder = install_;
    InstallSequence sequence(host);
    sequence.Run();
    EXPECT_EQ("Can't contact Pellomar site", host.error) << answer;
    EXPECT_EQ("", host.status);
    EXPECT_TRUE(host.button_enabled);
    EXPECT_EQ(0, host.dialog_runs);
  }
  const std::vector<std::string> targets = server.Targets();
  EXPECT_EQ(2, std::count_if(targets.begin(), targets.end(), [](const std::string& target) {
              return target.find("gateway_new.php?Product=Pellomar&") != std::string::npos;
            }));
}

TEST_F(SiteInstallTest, CancelDuringTheContactShowsItInTheStatusLine) {
  HttpTestServer server(30, 11);
  ASSERT_TRUE(server.Ok());
  // The site has no test file; its first answer is slow, and the user
  // cancels while it is awaited.
  server.QueueReply(HttpReply::Chunks({"HTTP/1.0 404 Not Found\r\n", "\r\nnot here"}, 1500));
  std::thread user([&server] {
    if (server.WaitForConnections(1, 20000)) SetCancelRequested(true);
  });
  LoopbackSiteHost host(server.Address());
  host.dialog_folder = install_;
  InstallSequence sequence(host);
  sequence.Run();
  user.join();
  EXPECT_EQ("Can't contact Pellomar site", host.status);
  EXPECT_EQ("", host.error);
  EXPECT_TRUE(host.button_enabled);
  EXPECT_EQ(0, host.dialog_runs);
}

TEST_F(SiteInstallTest, AnsweringSiteLeadsToTheDownloadAreaAndTheUpdater) {
  HttpTestServer site(30, 12);
  HttpTestServer area(30, 13);
  ASSERT_TRUE(site.Ok());
  ASSERT_TRUE(area.Ok());
  site.ServeFile("/secure/test_pattern.txt", kPattern);
  site.ServeFile("/secure/gateway_new.php", "http://" + area.Address() + "/pub/tamsu/,2,3");
  area.ServeFile("/pub/tamsu/test_pattern.txt", kPattern);
  // No cabinet here, so the fetcher takes the plain updater.
  area.ServeFile("/pub/tamsu/Update.exe_uncompressed",
                 ReadWholeFile(ProgramFolder() + "\\..\\support\\test_updater.exe"));
  ScratchFolder log_folder;
  const std::string log = log_folder.File("updater.log");
  SetEnvironmentVariableA("SETUP_TEST_UPDATER_LOG", log.c_str());

  LoopbackSiteHost host(site.Address());
  host.dialog_folder = install_;
  InstallSequence sequence(host);
  sequence.Run();
  EXPECT_EQ("", host.error);
  EXPECT_EQ(1, host.close_posts);
  ASSERT_NE(nullptr, host.fetcher.get());
  EXPECT_TRUE(FileExists(install_ + "Update.exe"));

  std::string record;
  for (int i = 0; i < 200 && std::count(record.begin(), record.end(), '\n') < 2; ++i) {
    Sleep(50);
    record = ReadWholeFile(log);
  }
  EXPECT_EQ("\"" + install_ + "Update.exe\" /Setup=Tamsu\r\n" + folder_.Path() + "\\Pellomar\r\n", record);
  // Every fetch of the updater went to the area the gateway named.
  bool asked_for_updater = false;
  for (const std::string& target : area.Targets()) {
    if (target.find("Update.exe_uncompressed?Rand=") != std::string::npos) asked_for_updater = true;
  }
  EXPECT_TRUE(asked_for_updater);
  for (const std::string& target : site.Targets()) EXPECT_EQ(std::string::npos, target.find("Update.exe"));
}

// Over TLS the user is told when the secure connection alone failed, at the
// site or at the download area, and nothing is kept; a site that is simply
// down is still a contact failure. The TLS bench's fronts stand for the site
// (group 145) and the area (146); a plain site serves the http rows.
TEST_F(SiteInstallTest, SecureConnectionFailuresHaveTheirOwnLine) {
  const std::string kSecure = "Can't make a secure connection to Pellomar site";
  struct Case {
    const char* name;
    int site_kind;  // TLS front of the site; 0: plain http site; 9: nothing listens
    int area_kind;  // TLS front of the area
    std::string error;
  } cases[] = {
      {"https area, untrusted authority", 0, 2, kSecure},
      {"https site, wrong name", 3, 1, kSecure},
      {"https site, TLS 1.3 only", 6, 1, kSecure},
      {"https site, nothing listens", 9, 1, "Can't contact Pellomar site"},
      // Last: the updater it starts holds its file for a while.
      {"https area, good certificate", 0, 1, ""},
  };
  const std::string updater = ReadWholeFile(ProgramFolder() + "\\..\\support\\test_updater.exe");
  for (const Case& c : cases) {
    SetSiteSchemeForTesting(c.site_kind ? "https" : "http");
    std::unique_ptr<HttpTestServer> site(c.site_kind ? c.site_kind < 9 ? new HttpTestServer(145, c.site_kind + 100)
                                                                       : nullptr
                                                     : new HttpTestServer(30, 15));
    HttpTestServer area(146, c.area_kind + 100);
    if (site) {
      site->ServeFile("/secure/test_pattern.txt", kPattern);
      site->ServeFile("/secure/gateway_new.php", "https://" + TestAddress(146, c.area_kind) + "/pub/,2,3");
    }
    area.ServeFile("/pub/test_pattern.txt", kPattern);
    area.ServeFile("/pub/Update.exe_uncompressed", updater);

    LoopbackSiteHost host(c.site_kind == 0 ? site->Address() : TestAddress(145, c.site_kind));
    host.dialog_folder = install_;
    InstallSequence sequence(host);
    sequence.Run();
    SetSiteSchemeForTesting(nullptr);
    EXPECT_EQ(c.error, host.error) << c.name;
    EXPECT_EQ(c.error.empty(), FileExists(install_ + "Update.exe")) << c.name;
    EXPECT_FALSE(FileExists(install_ + "http_tmp1.tmp")) << c.name;
    EXPECT_FALSE(FileExists(install_ + "NewUpdate.exe")) << c.name;
  }
}

}  // namespace
