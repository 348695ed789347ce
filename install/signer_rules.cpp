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

int Utf8ToUtf16(const char* text, uint16_t* out, size_t cap) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  size_t n = 0;
  while (*p) {
    uint32_t c = *p++;
    int more = c < 0x80 ? 0 : c >= 0xC2 && c < 0xE0 ? 1 : c >= 0xE0 && c < 0xF0 ? 2 : c >= 0xF0 && c < 0xF5 ? 3 : -1;
    if (more < 0) return -1;
    if (more) c &= 0x3F >> more;
    for (int i = 0; i < more; ++i, ++p) {
      if ((*p & 0xC0) != 0x80) return -1;
      c = c << 6 | (*p & 0x3F);
    }
    // Overlong three- and four-byte forms, surrogates and beyond U+10FFFF.
    if ((more == 2 && (c < 0x800 || (c >= 0xD800 && c < 0xE000))) || (more == 3 && (c < 0x10000 || c > 0x10FFFF)))
      return -1;
    if (n + (c >= 0x10000) >= cap) return -1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out[n++] = static_cast<uint16_t>(0xD800 | c >> 10);
      c = 0xDC00 | (c & 0x3FF);
    }
    out[n++] = static_cast<uint16_t>(c);
  }
  return static_cast<int>(n);
}

bool SameCommonName(const SignerReport& report, const char* publisher) {
  uint16_t wanted[SignerReport::kNameUnits];
  int n = Utf8ToUtf16(publisher, wanted, SignerReport::kNameUnits);
  return report.name_count == 1 && n >= 0 && report.name_length == static_cast<uint32_t>(n) &&
         memcmp(report.name, wanted, n * sizeof wanted[0]) == 0;
}

TrustFailure JudgeSigner(const SignerReport& report, const SignerPolicy& policy) {
  if (report.verdict != 0 || !report.signer_found) return kPlatformVerdict;
  if (report.chain_status != 0) return kChainNotTrusted;
  if (!report.code_signing) return kNoCodeSigning;
  if (policy.publisher[0] && !SameCommonName(report, policy.publisher)) return kOtherPublisher;
  if (policy.thumbprints[0] && !ThumbprintListed(policy.thumbprints, report.thumbprint)) return kThumbprintUnlisted;
  if (!policy.pins[0]) return kTrusted;
  for (uint32_t i = 0; i < report.chain_length && i < SignerReport::kChainSize; ++i) {
    if (ThumbprintListed(policy.pins, report.key_hashes[i])) return kTrusted;
  }
  return kKeyNotPinned;
}
