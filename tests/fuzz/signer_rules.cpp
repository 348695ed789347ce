// The signer rules on any certificate names and thumbprint lists: trusted
// only when every rule holds, a thumbprint listed only as a whole entry, and
// a longer list never takes a trust away.
#include "install/signer_rules.h"
#include "fuzz_input.h"

namespace {

bool Listed(const std::string& list, const std::string& thumbprint) {
  if (thumbprint.empty()) return false;
  size_t at = 0;
  for (;;) {
    size_t end = list.find(',', at);
    if (list.substr(at, end == std::string::npos ? std::string::npos : end - at) == thumbprint) return true;
    if (end == std::string::npos) return false;
    at = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  unsigned flags = in.Byte();
  SignerReport report = {};
  report.verdict = flags & 1 ? static_cast<int32_t>(in.Uint32()) : 0;
  report.chain_status = flags & 2 ? in.Uint32() : 0;
  report.signer_found = !(flags & 4);
  report.code_signing = !(flags & 8);
  snprintf(report.subject, sizeof report.subject, "%s", in.Text());
  snprintf(report.thumbprint, sizeof report.thumbprint, "%s", in.Text());
  std::string publisher = flags & 16 ? report.subject : in.Text();
  std::string list = in.Text();
  if (flags & 32) list += "," + std::string(report.thumbprint);

  bool listed = ThumbprintListed(list.c_str(), report.thumbprint);
  FUZZ_CHECK(listed == Listed(list, report.thumbprint));
  TrustFailure verdict = JudgeSigner(report, publisher.c_str(), list.c_str());
  bool keeps_all = report.verdict == 0 && report.signer_found && report.chain_status == 0 && report.code_signing &&
                   (publisher.empty() || publisher == report.subject) && (list.empty() || listed);
  FUZZ_CHECK((verdict == kTrusted) == keeps_all);
  if (verdict == kTrusted) {
    FUZZ_CHECK(JudgeSigner(report, publisher.c_str(), (list + ",X").c_str()) == kTrusted || list.empty());
    FUZZ_CHECK(JudgeSigner(report, "", "") == kTrusted);
  }
  // A part of the thumbprint is not the thumbprint.
  std::string thumbprint = report.thumbprint;
  if (thumbprint.size() > 1) FUZZ_CHECK(!ThumbprintListed(thumbprint.substr(1).c_str(), report.thumbprint));
  return 0;
}
