#pragma once
// The code signature of a PE image checked with OpenSSL, reported in the
// terms of the platform's trust provider so that the same signer rules judge
// it: the verdict and chain status carry the platform's codes.
#include <stdint.h>

#include <string>
#include <vector>

#include "install/signer_rules.h"

// The trust provider's verdicts and chain status bits this check gives.
const int32_t kVerdictNoSignature = static_cast<int32_t>(0x800B0100);  // TRUST_E_NOSIGNATURE
const int32_t kVerdictBadDigest = static_cast<int32_t>(0x80096010);    // TRUST_E_BAD_DIGEST
const int32_t kVerdictSubjectForm = static_cast<int32_t>(0x800B0003);  // TRUST_E_SUBJECT_FORM_UNKNOWN
const uint32_t kChainNotTimeValid = 0x1;
const uint32_t kChainRevoked = 0x4;
const uint32_t kChainWrongUsage = 0x10;  // a certificate of the chain is not for code signing
const uint32_t kChainBadSignature = 0x8;
const uint32_t kChainUntrustedRoot = 0x20;
const uint32_t kChainBadBasicConstraints = 0x400;
const uint32_t kChainInvalid = 0x800;  // any other fault OpenSSL finds
const uint32_t kChainPartial = 0x10000;

// What the signer's timestamp vouches for: an RFC 3161 token among its
// unsigned attributes that countersigns its signature value. When valid,
// the chain is judged at that time, as the platform does, so a signature
// outlives its certificate; otherwise at the current time.
struct SigningTime {
  bool stamped = false;    // the signer carries a timestamp token
  bool valid = false;      // it verifies, and its authority's chain ends in a trusted root
  int64_t when = 0;        // the time it vouches for, seconds since 1970 (UTC)
  std::string authority;   // the common name of its signer
  std::string problem;     // why it is not valid
};

// Fills report for the image in bytes: the image digest (checksum field,
// directory entry and certificate table left out), the signature over it,
// and the signer's chain to the roots in rootFiles (PEM; none: the system
// bundle). False, with the reason in *error, only when the roots cannot be
// read; a bad or missing signature is a verdict in report.
bool InspectImageSignature(const std::string& bytes, const std::vector<std::string>& rootFiles, SignerReport* report,
                           std::string* error, SigningTime* time = nullptr);
