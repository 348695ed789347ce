// The signer rules on any certificate names and hash lists: trusted only
// when every rule holds, an entry listed only whole, a longer list never
// takes a trust away, and the UTF-8 decoding stays inside its buffer and
// agrees with the name comparison.
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
  report.name_count = in.Byte() % 3;
  std::string publisher = in.Text();
  // The name: the publisher decoded, or raw units from the input.
  int units = Utf8ToUtf16(publisher.c_str(), report.name, SignerReport::kNameUnits);
  FUZZ_CHECK(units >= -1 && units <= SignerReport::kNameUnits);
  if (units < 0 || (flags & 64)) {
    report.name_length = in.Byte();
    for (uint32_t i = 0; i < report.name_length && i < SignerReport::kNameUnits; ++i)
      report.name[i] = static_cast<uint16_t>(in.Byte() | in.Byte() << 8);
  } else {
    report.name_length = static_cast<uint32_t>(units);
  }
  snprintf(report.thumbprint, sizeof report.thumbprint, "%s", in.Text());
  report.chain_length = in.Byte() % (SignerReport::kChainSize + 2);
  for (uint32_t i = 0; i < SignerReport::kChainSize; ++i)
    snprintf(report.key_hashes[i], sizeof report.key_hashes[i], "%s", in.Text());
  std::string list = in.Text(), pins = in.Text();
  if (flags & 32) list += "," + std::string(report.thumbprint);

  bool listed = ThumbprintListed(list.c_str(), report.thumbprint);
  FUZZ_CHECK(listed == Listed(list, report.thumbprint));
  bool pinned = false;
  for (uint32_t i = 0; i < report.chain_length && i < SignerReport::kChainSize; ++i)
    pinned = pinned || Listed(pins, report.key_hashes[i]);
  bool named = SameCommonName(report, publisher.c_str());
  if (units >= 0 && !(flags & 64)) FUZZ_CHECK(named == (report.name_count == 1));
  if (report.name_count != 1 || units < 0) FUZZ_CHECK(!named);

  SignerPolicy policy = {flags & 16 ? "" : publisher.c_str(), list.c_str(), pins.c_str()};
  TrustFailure verdict = JudgeSigner(report, policy);
  bool keeps_all = report.verdict == 0 && report.signer_found && report.chain_status == 0 && report.code_signing &&
                   (!policy.publisher[0] || named) && (list.empty() || listed) && (pins.empty() || pinned);
  FUZZ_CHECK((verdict == kTrusted) == keeps_all);
  if (verdict == kTrusted) {
    std::string longer = list + ",X";
    SignerPolicy wider = {policy.publisher, list.empty() ? "" : longer.c_str(), policy.pins};
    FUZZ_CHECK(JudgeSigner(report, wider) == kTrusted);
    SignerPolicy none = {"", "", ""};
    FUZZ_CHECK(JudgeSigner(report, none) == kTrusted);
  }
  // A part of the thumbprint is not the thumbprint.
  std::string thumbprint = report.thumbprint;
  if (thumbprint.size() > 1) FUZZ_CHECK(!ThumbprintListed(thumbprint.substr(1).c_str(), report.thumbprint));
  return 0;
}
