#include "install/signer_rules.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

namespace {

const std::string kOurs(64, 'A');
const std::string kTheirs = std::string(63, 'A') + "B";
const std::string kLeafKey(64, 'C'), kAuthorityKey(64, 'D'), kOtherKey(64, 'E');

SignerReport Trusted(const std::u16string& name = u"Brannock", uint32_t names = 1) {
  SignerReport report = {};
  report.signer_found = true;
  report.code_signing = true;
  report.name_count = names;
  report.name_length = static_cast<uint32_t>(name.size());
  memcpy(report.name, name.data(), name.size() * 2);
  strcpy(report.thumbprint, kOurs.c_str());
  report.chain_length = 2;
  strcpy(report.key_hashes[0], kLeafKey.c_str());
  strcpy(report.key_hashes[1], kAuthorityKey.c_str());
  return report;
}

}  // namespace

// The platform's verdicts and the chain are covered end to end; here the
// name, thumbprint and pin rules, and a verdict that names no signer.
TEST(SignerRules, PublisherIsExactAndListsMatchWholeEntries) {
  SignerReport unnamed = Trusted();
  unnamed.signer_found = false;
  SignerReport no_thumbprint = Trusted();
  no_thumbprint.thumbprint[0] = 0;
  SignerReport long_name = Trusted(u"Brannock");
  long_name.name_length = SignerReport::kNameUnits + 1;
  SignerReport long_chain = Trusted();
  long_chain.chain_length = 40;  // only the recorded part counts
  struct Case {
    const char* what;
    SignerReport report;
    std::string publisher, thumbprints, pins;
    TrustFailure expected;
  } cases[] = {
      {"trusted", Trusted(), "Brannock", "", "", kTrusted},
      {"case-different", Trusted(), "brannock", "", "", kOtherPublisher},
      {"full-width letters", Trusted(u"\uFF22\uFF52\uFF41\uFF4E\uFF4E\uFF4F\uFF43\uFF4B"), "Brannock", "", "",
       kOtherPublisher},
      {"two common names", Trusted(u"Brannock", 2), "Brannock", "", "", kOtherPublisher},
      {"no common name", Trusted(u"", 0), "", "", "", kTrusted},
      {"trailing space", Trusted(u"Brannock "), "Brannock", "", "", kOtherPublisher},
      {"embedded zero", Trusted(std::u16string(u"Brannock\0x", 10)), "Brannock", "", "", kOtherPublisher},
      {"longer than kept", long_name, "Brannock", "", "", kOtherPublisher},
      {"non-ASCII name in UTF-8", Trusted(u"Br\u00E4nnock \U0001F600"), "Br\xC3\xA4nnock \xF0\x9F\x98\x80", "", "",
       kTrusted},
      {"publisher not UTF-8", Trusted(u"Br\u00E4nnock"), "Br\xE4nnock", "", "", kOtherPublisher},
      {"accepted verdict without a signer", unnamed, "Brannock", "", "", kPlatformVerdict},
      {"listed second", Trusted(), "Brannock", kTheirs + "," + kOurs, "", kTrusted},
      {"thumbprint alone", Trusted(), "", kOurs, "", kTrusted},
      {"not listed", Trusted(), "Brannock", kTheirs, "", kThumbprintUnlisted},
      {"a prefix is not an entry", Trusted(), "", kOurs.substr(0, 63) + "," + kOurs + "A", "", kThumbprintUnlisted},
      {"unknown thumbprint never matches", no_thumbprint, "", kTheirs + ",," + kTheirs, "", kThumbprintUnlisted},
      {"leaf key pinned", Trusted(), "Brannock", "", kOtherKey + "," + kLeafKey, kTrusted},
      {"authority key pinned", Trusted(), "Brannock", "", kAuthorityKey, kTrusted},
      {"no key pinned", Trusted(), "Brannock", "", kOtherKey, kKeyNotPinned},
      {"pin past the recorded chain", long_chain, "Brannock", "", kOtherKey, kKeyNotPinned},
      {"pin and thumbprint both needed", Trusted(), "Brannock", kTheirs, kLeafKey, kThumbprintUnlisted},
  };
  for (const Case& c : cases) {
    SignerPolicy policy = {c.publisher.c_str(), c.thumbprints.c_str(), c.pins.c_str()};
    EXPECT_EQ(c.expected, JudgeSigner(c.report, policy)) << c.what;
  }
}

TEST(SignerRules, Utf8DecodingRefusesWhatIsNotStrictUtf8) {
  uint16_t out[4];
  struct Case {
    const char* text;
    int units;
  } cases[] = {
      {"", 0},           {"abc", 3},          {"\xC3\xA4", 1},      {"\xF0\x9F\x98\x80", 2},
      {"abcd", 4},       {"abcde", -1},       {"abc\xF0\x9F\x98\x80", -1},
      {"\xC0\xAE", -1},  {"\xE0\x80\xAE", -1}, {"\xED\xA0\x80", -1}, {"\xF4\x90\x80\x80", -1},
      {"\xC3", -1},      {"\x80", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.units, Utf8ToUtf16(c.text, out, 4)) << c.text;
}
