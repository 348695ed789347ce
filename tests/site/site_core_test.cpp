// Platform-free texts of the site gateway: fingerprint hash, query texts,
// answer splitting and cabinet entry names.
#include <gtest/gtest.h>

#include <string>

#include "site/cabinet_names.h"
#include "site/fingerprint.h"
#include "site/gateway_text.h"

namespace {

TEST(FingerprintHash, WorkedExamples) {
  EXPECT_EQ(0x53u, FingerprintHash("abc", nullptr, 32));
  EXPECT_EQ(0x53af76u, FingerprintHash("Unknown", nullptr, 32));
  EXPECT_EQ(0u, FingerprintHash("AH", nullptr, 32));
  EXPECT_EQ(0u, FingerprintHash("", nullptr, 32));
  EXPECT_EQ(0u, FingerprintHash(nullptr, nullptr, 32));
}

TEST(FingerprintHash, EquivalentLetters) {
  EXPECT_EQ(FingerprintHash("PHOENIX BIOS 4.0", nullptr, 32), FingerprintHash("phoenix bios 4.0", nullptr, 32));
  EXPECT_EQ(FingerprintHash("O", nullptr, 32), FingerprintHash("0", nullptr, 32));
  EXPECT_EQ(FingerprintHash("I", nullptr, 32), FingerprintHash("1", nullptr, 32));
  EXPECT_EQ(FingerprintHash("I", nullptr, 32), FingerprintHash("8", nullptr, 32));
  // Digits 2..9 are the letters C..J.
  EXPECT_EQ(FingerprintHash("CDEFGHIJ", nullptr, 32), FingerprintHash("23456789", nullptr, 32));
  EXPECT_NE(FingerprintHash("A", nullptr, 32), FingerprintHash("B", nullptr, 32));
}

TEST(FingerprintHash, SkippedBytes) {
  const uint32_t plain = FingerprintHash("AMIBIOS080010", nullptr, 32);
  EXPECT_EQ(plain, FingerprintHash("AMI BIOS-08.00.10", nullptr, 32));
  EXPECT_EQ(plain, FingerprintHash("\xe9" "AMI\x80" "BIOS 08\xff" "0010_", nullptr, 32));
  EXPECT_EQ(plain, FingerprintHash("AMIBIOS", "080010", 32));
  EXPECT_EQ(plain, FingerprintHash(nullptr, "AMIBIOS080010", 32));
}

TEST(FingerprintHash, FoldsToWidth) {
  // 11 letters rotate the accumulator past 32 bits.
  const uint32_t full = FingerprintHash("ZZZZZZZZZZZ", nullptr, 32);
  uint32_t folded16 = (full & 0xffff) ^ (full >> 16);
  EXPECT_EQ(folded16, FingerprintHash("ZZZZZZZZZZZ", nullptr, 16));
  uint32_t folded12 = (full & 0xfff) ^ ((full >> 12) & 0xfff) ^ (full >> 24);
  EXPECT_EQ(folded12, FingerprintHash("ZZZZZZZZZZZ", nullptr, 12));
  uint32_t parity = 0;
  for (int i = 0; i < 32; ++i) parity ^= (full >> i) & 1;
  EXPECT_EQ(parity, FingerprintHash("ZZZZZZZZZZZ", nullptr, 1));
  // Out-of-range widths read as 32.
  EXPECT_EQ(full, FingerprintHash("ZZZZZZZZZZZ", nullptr, 0));
  EXPECT_EQ(full, FingerprintHash("ZZZZZZZZZZZ", nullptr, 40));
}

TEST(GatewayTexts, QuerySuffix) {
  char out[1000];
  ASSERT_TRUE(ComposeQuerySuffix(out, sizeof out, 0x53af76, nullptr, ""));
  EXPECT_STREQ("&Bios=53af76", out);
  ASSERT_TRUE(ComposeQuerySuffix(out, sizeof out, 1, "", "&a=1"));
  EXPECT_STREQ("&Bios=1&a=1", out);
  ASSERT_TRUE(ComposeQuerySuffix(out, sizeof out, 0xdeadbeef, "yes", "&a=b c&d=e"));
  EXPECT_STREQ("&Bios=deadbeef&Beta=yes&a=b c&d=e", out);
}

TEST(GatewayTexts, QuerySuffixRefusedWhenLong) {
  char out[1000];
  std::string params = "&p=" + std::string(999 - 8 - 3, 'x');  // "&Bios=53" is 8, so 999 exactly
  ASSERT_TRUE(ComposeQuerySuffix(out, sizeof out, 0x53, "", params.c_str()));
  EXPECT_EQ(999u, std::string(out).size());
  params += "y";
  EXPECT_FALSE(ComposeQuerySuffix(out, sizeof out, 0x53, "", params.c_str()));
  EXPECT_STREQ("", out);
  EXPECT_FALSE(ComposeQuerySuffix(out, sizeof out, 0x53, std::string(1000, 'b').c_str(), ""));
  EXPECT_STREQ("", out);
}

TEST(GatewayTexts, Request) {
  char out[2048];
  ASSERT_TRUE(ComposeGatewayRequest(out, sizeof out, "Pellomar", "", "&Bios=53af76", ""));
  EXPECT_STREQ("gateway_new.php?Product=Pellomar&Bios=53af76", out);
  ASSERT_TRUE(ComposeGatewayRequest(out, sizeof out, "Pellomar", "k", "&Bios=1&Beta=2&g=1", "&p=2"));
  EXPECT_STREQ("gateway_new.php?Product=Pellomar&AuthKey=k&Bios=1&Beta=2&g=1&p=2", out);
  char small[30];
  EXPECT_FALSE(ComposeGatewayRequest(small, sizeof small, "Pellomar", "", "&Bios=1", ""));
  EXPECT_STREQ("", small);
}

struct AnswerCase {
  const char* text;
  const char* url;
  const char* second;
  const char* third;
};

TEST(GatewayAnswerSplit, Fields) {
  const AnswerCase cases[] = {
      {"http://h.test/pub/,,x", "http://h.test/pub/", "x", ""},
      {"http://h.test/pub/", "http://h.test/pub/", "", ""},
      {",,,", "", "", ""},
      {"", "", "", ""},
      {"http://h.test/pub/,a,b,c", "http://h.test/pub/", "a", "b"},
      {"http://h.test/pub/,a,b\r\n", "http://h.test/pub/", "a", "b\r\n"},
      {",,u,,s", "u", "s", ""},
      {"u,,,s,,,t,", "u", "s", "t"},
      {"u\r\n", "u\r\n", "", ""},
  };
  for (const AnswerCase& c : cases) {
    GatewayAnswer answer(c.text);
    EXPECT_STREQ(c.url, answer.url.Text()) << c.text;
    EXPECT_STREQ(c.second, answer.second.Text()) << c.text;
    EXPECT_STREQ(c.third, answer.third.Text()) << c.text;
  }
  GatewayAnswer none(nullptr);
  EXPECT_TRUE(none.url.IsEmpty());
}

TEST(GatewayAnswerSplit, Url) {
  struct Case {
    const char* url;
    const char* scheme;  // null: refused
    const char* host;
    unsigned short port;
    const char* path;
  } cases[] = {
      {"http://h.test/pub/x/", "http", "h.test", 0, "pub/x/"},
      {"http://h.test", "http", "h.test", 0, ""},
      // The scheme is kept, in any letter case, and so is a named port.
      {"HTTPS://h.test:8443/pub/", "https", "h.test", 8443, "pub/"},
      {"https://127.0.0.2/a://b", "https", "127.0.0.2", 0, "a://b"},
      {"http://h:65535", "http", "h", 65535, ""},
      // A space in the path is the site's business; the host is what matters.
      {"http://h.test/my files/", "http", "h.test", 0, "my files/"},
      // Another scheme would be fetched as something it is not.
      {"ftp://h/x/", nullptr}, {"HTTPS+x-1.0://h2/", nullptr}, {"httpx://h/", nullptr},
      // No host, or a host or port that would split the request line.
      {"http://", nullptr}, {"http:///pub/", nullptr}, {"http://h .test/pub/", nullptr},
      {"http://h\r\n.test/", nullptr}, {"http://h.test/pub/\r\n", nullptr}, {"http://h.test/p\tx/", nullptr},
      {"http://h.test/\x7f", nullptr}, {"://h.test/", nullptr}, {"<a href=http://h.test/>", nullptr},
      {"ht tp://h.test/", nullptr}, {"h.test/pub/", nullptr}, {"", nullptr},
      {"http://h:0/", nullptr}, {"http://h:65536/", nullptr}, {"http://h:/", nullptr}, {"http://:80/", nullptr},
      {"http://h:8x/", nullptr}, {"http://u:p@h/", nullptr}, {"http://h:0000080/", nullptr},
  };
  for (const Case& c : cases) {
    AreaUrl area;
    area.host.Assign("keep");
    area.port = 7;
    bool ok = SplitUrl(c.url, &area);
    EXPECT_EQ(c.scheme != nullptr, ok) << c.url;
    if (!ok) {
      EXPECT_STREQ("keep", area.host.Text()) << c.url;
      EXPECT_EQ(7, area.port) << c.url;
      continue;
    }
    EXPECT_STREQ(c.scheme, area.scheme.Text()) << c.url;
    EXPECT_STREQ(c.host, area.host.Text()) << c.url;
    EXPECT_EQ(c.port, area.port) << c.url;
    EXPECT_STREQ(c.path, area.path.Text()) << c.url;
    EXPECT_TRUE(area.path.IsPresent()) << c.url;
  }
}

TEST(CabinetNames, TargetFolder) {
  char out[260];
  ASSERT_TRUE(CabinetTargetFolder("C:\\Pellomar\\NewUpdate.exe", out, sizeof out));
  EXPECT_STREQ("C:\\Pellomar", out);
  ASSERT_TRUE(CabinetTargetFolder("x.exe", out, sizeof out));
  EXPECT_STREQ(".", out);
  ASSERT_TRUE(CabinetTargetFolder("\\x.exe", out, sizeof out));
  EXPECT_STREQ(".", out);
  ASSERT_TRUE(CabinetTargetFolder("a\\b\\c", out, sizeof out));
  EXPECT_STREQ("a\\b", out);
  char small[5];
  EXPECT_FALSE(CabinetTargetFolder("abcde\\x", small, sizeof small));
  EXPECT_STREQ("", small);
  ASSERT_TRUE(CabinetTargetFolder("abcd\\x", small, sizeof small));
  EXPECT_STREQ("abcd", small);
}

TEST(CabinetNames, ContainedEntries) {
  for (const char* good : {"NewUpdate.exe", "sub\\a.txt", "a..b", "..a", ".\\x", "x\\.\\y", "...x"}) {
    EXPECT_TRUE(IsContainedEntryName(good)) << good;
  }
  for (const char* bad : {"..\\evil.exe", "..", "a\\..\\..\\b", "a/../b", "../x", "\\abs.txt", "/abs",
                          "\\\\server\\share\\x", "C:\\x.txt", "C:x.txt", "a.txt:stream", "...\\x",
                          ".. \\x", "a\\. .", ""}) {
    EXPECT_FALSE(IsContainedEntryName(bad)) << bad;
  }
  EXPECT_FALSE(IsContainedEntryName(nullptr));
}

TEST(CabinetNames, EntryTargetBounded) {
  char out[260];
  ASSERT_TRUE(ComposeEntryTarget(out, sizeof out, ".", "NewUpdate.exe"));
  EXPECT_STREQ(".\\NewUpdate.exe", out);
  std::string folder(200, 'f');
  std::string name(58, 'n');  // 200 + 1 + 58 = 259 characters
  ASSERT_TRUE(ComposeEntryTarget(out, sizeof out, folder.c_str(), name.c_str()));
  EXPECT_EQ(259u, std::string(out).size());
  name += "n";
  EXPECT_FALSE(ComposeEntryTarget(out, sizeof out, folder.c_str(), name.c_str()));
  EXPECT_STREQ("", out);
}

}  // namespace
