// The gateway query's texts with outside parameters in them: a text that
// fits is exactly the parts joined; one that does not is refused whole and
// leaves the buffer empty, never a query cut short.
#include "site/gateway_text.h"
#include "fuzz_input.h"

namespace {

std::string Hex(uint32_t v) {
  char text[16];
  snprintf(text, sizeof text, "%x", v);
  return text;
}

void CheckResult(bool ok, const FuzzBuffer& out, const std::string& expected) {
  size_t cap = out.cap();
  FUZZ_CHECK(ok == (expected.size() < cap));
  if (cap) FUZZ_CHECK(out.Terminated());
  if (ok) FUZZ_CHECK(out.Text() == expected);
  if (!ok && cap) FUZZ_CHECK(out.Text().empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  unsigned absent = in.Byte();  // which texts are null
  size_t cap = in.Byte() * 4u;
  uint32_t fingerprint = in.Uint32();
  const char* beta = absent & 1 ? nullptr : in.Text();
  const char* stored = absent & 2 ? nullptr : in.Text();
  const char* name = in.Text();
  const char* key = absent & 4 ? nullptr : in.Text();
  const char* product = absent & 8 ? nullptr : in.Text();

  FuzzBuffer suffix(cap);
  bool ok = ComposeQuerySuffix(suffix.get(), cap, fingerprint, beta, stored);
  std::string expected = "&Bios=" + Hex(fingerprint);
  if (beta && beta[0]) expected += std::string("&Beta=") + beta;
  if (stored) expected += stored;
  CheckResult(ok, suffix, expected);

  const char* suffix_text = ok ? suffix.get() : (absent & 16 ? nullptr : "");
  FuzzBuffer request(cap + 8);
  ok = ComposeGatewayRequest(request.get(), request.cap(), name, key, suffix_text, product);
  expected = std::string("gateway_new.php?Product=") + name;
  if (key && key[0]) expected += std::string("&AuthKey=") + key;
  if (suffix_text) expected += suffix_text;
  if (product) expected += product;
  CheckResult(ok, request, expected);
  return 0;
}
