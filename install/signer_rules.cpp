#include "install/signer_rules.h"

#include <string.h>

static char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool ThumbprintListed(const char* thumbprints, const char* thumbprint) {
  size_t length = strlen(thumbprint);
  if (length == 0) return false;
  const char* p = thumbprints;
  while (*p) {
    while (*p == ' ' || *p == ';') ++p;
    const char* start = p;
    while (*p && *p != ';' && *p != ' ') ++p;
    // A whole entry must match: a prefix of the signer's thumbprint is not it.
    if (static_cast<size_t>(p - start) == length) {
      size_t i = 0;
      while (i < length && Upper(start[i]) == Upper(thumbprint[i])) ++i;
      if (i == length) return true;
    }
  }
  return false;
}

TrustFailure JudgeSigner(const SignerReport& report, const char* publisher, const char* thumbprints) {
  if (report.verdict != 0 || !report.signer_found) return kPlatformVerdict;
  if (report.chain_status != 0) return kChainNotTrusted;
  if (!report.code_signing) return kNoCodeSigning;
  if (publisher[0] && strcmp(report.subject, publisher) != 0) return kOtherPublisher;
  if (thumbprints[0] && !ThumbprintListed(thumbprints, report.thumbprint)) return kThumbprintUnlisted;
  return kTrusted;
}
