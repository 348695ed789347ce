#pragma once
#include <stddef.h>
#include <stdint.h>

// What the signature check saw in one file: the platform's verdict and the
// signing certificate it names. Platform-free, so the rules build natively
// and the maker's tool can fill it from what another library reads.
struct SignerReport {
  enum { kNameUnits = 128, kChainSize = 8 };
  int32_t verdict;        // the trust provider's result; 0 when it accepts
  uint32_t chain_status;  // error bits of the signer's chain; 0 when it ends in a trusted root
  bool signer_found;      // a signing certificate was named
  bool code_signing;      // it carries the code-signing usage
  // The common names of the subject: how many, and the first in UTF-16 code
  // units (not terminated). A longer name keeps a length over kNameUnits and
  // so never matches.
  uint32_t name_count;
  uint32_t name_length;
  uint16_t name[kNameUnits];
  char thumbprint[65];  // SHA-256 of the encoded certificate, upper-case hex; empty when unknown
  // SHA-256 of each chain certificate's encoded SubjectPublicKeyInfo, leaf
  // first, upper-case hex; a longer chain keeps its first kChainSize.
  uint32_t chain_length;
  char key_hashes[kChainSize][65];
};

// What a signer must be. publisher: the exact common name in UTF-8, or empty
// for any. thumbprints, pins: accepted SHA-256 hashes of the certificate and
// of a chain certificate's public key, upper-case hex separated by ',', or
// empty for any (the configure step and the maker's tool bring lists to
// that form).
struct SignerPolicy {
  const char* publisher;
  const char* thumbprints;
  const char* pins;
};

// The first rule a signer breaks; kTrusted when it keeps them all.
enum TrustFailure {
  kTrusted = 0,
  kNoTrustLibrary,    // the system's trust or crypto library is missing
  kPlatformVerdict,   // no signature, a changed file or a refused certificate
  kChainNotTrusted,   // incomplete chain or not ending in a trusted root
  kNoCodeSigning,     // the certificate is not for code signing
  kOtherPublisher,    // another common name, or not exactly one
  kThumbprintUnlisted,
  kKeyNotPinned       // no certificate of the chain carries a pinned key
};

TrustFailure JudgeSigner(const SignerReport& report, const SignerPolicy& policy);
// Whether thumbprint is one of the list's entries.
bool ThumbprintListed(const char* thumbprints, const char* thumbprint);
// Whether the subject's one common name is publisher, unit for unit: no
// case folding, no code-page mapping. A publisher that is not valid UTF-8
// matches nothing.
bool SameCommonName(const SignerReport& report, const char* publisher);
// Decodes strict UTF-8 into UTF-16 units; the count, or -1 when text is not
// valid UTF-8 (overlong forms, surrogates) or needs more than cap units.
int Utf8ToUtf16(const char* text, uint16_t* out, size_t cap);
