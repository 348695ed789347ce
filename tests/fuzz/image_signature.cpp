// The native maker's signature check on any file, and on images whose
// certificate table comes from the input: it never fails to answer, its
// verdict is one of its codes, a chain is judged only behind a sound
// signature, and the signer's texts stay inside their fields.
#include <string.h>

#include "fuzz_input.h"
#include "tools/maker/openssl_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // First byte: 0 the rest is the file, else the certificate table of a
  // PE32 (odd) or PE32+ image.
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] != 0) bytes = SignedImage(bytes, data[0] & 2);
  SignerReport report;
  std::string error;
  FUZZ_CHECK(InspectImageSignature(bytes, {}, &report, &error));
  FUZZ_CHECK(report.verdict == 0 || report.verdict == kVerdictNoSignature || report.verdict == kVerdictBadDigest ||
             report.verdict == kVerdictSubjectForm);
  FUZZ_CHECK(report.verdict != 0 || report.signer_found);
  FUZZ_CHECK(report.chain_status == 0 || report.verdict == 0);
  FUZZ_CHECK(report.name_length <= SignerReport::kNameUnits + 1 && (report.name_count > 0 || !report.name_length));
  FUZZ_CHECK(report.chain_length <= SignerReport::kChainSize);
  size_t thumbprint = strnlen(report.thumbprint, sizeof report.thumbprint);
  FUZZ_CHECK(thumbprint == 0 || thumbprint == 64);
  for (uint32_t i = 0; i < report.chain_length; ++i) {
    size_t key = strnlen(report.key_hashes[i], sizeof report.key_hashes[i]);
    FUZZ_CHECK(key == 0 || key == 64);
  }
  return 0;
}
