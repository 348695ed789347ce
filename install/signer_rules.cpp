#include "install/signer_rules.h"

#include <string.h>

bool ThumbprintListed(const char* thumbprints, const char* thumbprint) {
  size_t length = strlen(thumbprint);
  for (const char* entry = thumbprints; length && *entry;) {
    const char* end = strchr(entry, ',');
    size_t n = end ? static_cast<size_t>(end - entry) : strlen(entry);
    // A whole entry must match: a prefix of the signer's thumbprint is not it.
    if (n == length && memcmp(entry, thumbprint, n) == 0) return true;
    if (!end) break;
    entry = end + 1;
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
