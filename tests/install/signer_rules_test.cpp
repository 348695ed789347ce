#include "install/signer_rules.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

namespace {

const std::string kOurs(64, 'A');
const std::string kTheirs = std::string(63, 'A') + "B";

SignerReport Trusted() {
  SignerReport report = {};
  report.signer_found = true;
  report.code_signing = true;
  strcpy(report.subject, "Brannock");
  strcpy(report.thumbprint, kOurs.c_str());
  return report;
}

}  // namespace

// The platform's verdicts and the chain are covered end to end; here the
// name and thumbprint rules, and a verdict that names no signer.
TEST(SignerRules, PublisherIsExactAndThumbprintsMatchWholeEntries) {
  SignerReport unnamed = Trusted();
  unnamed.signer_found = false;
  SignerReport no_thumbprint = Trusted();
  no_thumbprint.thumbprint[0] = 0;
  struct Case {
    const char* what;
    SignerReport report;
    std::string publisher, thumbprints;
    TrustFailure expected;
  } cases[] = {
      {"trusted", Trusted(), "Brannock", "", kTrusted},
      {"publisher only by exact name", Trusted(), "brannock", "", kOtherPublisher},
      {"accepted verdict without a signer", unnamed, "Brannock", "", kPlatformVerdict},
      {"listed second", Trusted(), "Brannock", kTheirs + "," + kOurs, kTrusted},
      {"thumbprint alone", Trusted(), "", kOurs, kTrusted},
      {"not listed", Trusted(), "Brannock", kTheirs, kThumbprintUnlisted},
      {"a prefix is not an entry", Trusted(), "", kOurs.substr(0, 63) + "," + kOurs + "A", kThumbprintUnlisted},
      {"unknown thumbprint never matches", no_thumbprint, "", kTheirs + ",," + kTheirs, kThumbprintUnlisted},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, JudgeSigner(c.report, c.publisher.c_str(), c.thumbprints.c_str())) << c.what;
  }
}
