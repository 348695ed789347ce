#pragma once
#include <stdint.h>

// What the signature check saw in one file: the platform's verdict and the
// signing certificate it names. Platform-free, so the rules build natively.
struct SignerReport {
  int32_t verdict;        // the trust provider's result; 0 when it accepts
  uint32_t chain_status;  // error bits of the signer's chain; 0 when it ends in a trusted root
  bool signer_found;      // a signing certificate was named
  bool code_signing;      // it carries the code-signing usage
  char subject[128];      // its common name; a longer one is cut and so never matches
  char thumbprint[65];    // SHA-256 of the encoded certificate, upper-case hex; empty when unknown
};

// The first rule a signer breaks; kTrusted when it keeps them all.
enum TrustFailure {
  kTrusted = 0,
  kNoTrustLibrary,    // the system's trust or crypto library is missing
  kPlatformVerdict,   // no signature, a changed file or a refused certificate
  kChainNotTrusted,   // incomplete chain or not ending in a trusted root
  kNoCodeSigning,     // the certificate is not for code signing
  kOtherPublisher,    // another common name
  kThumbprintUnlisted
};

// publisher: the exact common name, or empty for any. thumbprints: accepted
// SHA-256 thumbprints in upper-case hex, separated by ',', or empty for any
// (the configure step and the maker's tool bring lists to that form).
TrustFailure JudgeSigner(const SignerReport& report, const char* publisher, const char* thumbprints);
// Whether thumbprint is one of the list's entries.
bool ThumbprintListed(const char* thumbprints, const char* thumbprint);
