// Base64 and the Basic authentication line: the known vectors, any bytes
// against an encoder written another way, and every result inside its
// buffer or refused whole.
#include "transport/host_connection.h"
#include "fuzz_input.h"

namespace {

std::string Encode(const std::string& bytes, size_t cap, bool* ok) {
  FuzzBuffer out(cap);
  *ok = Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()), out.get(),
                     cap);
  if (cap) FUZZ_CHECK(out.Terminated());
  return cap ? out.Text() : "";
}

void CheckKnownVectors() {
  static const char* const kVectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                            {"foo", "Zm9v"},  {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                                            {"foobar", "Zm9vYmFy"}};
  for (const auto& v : kVectors) {
    bool ok;
    FUZZ_CHECK(Encode(v[0], 64, &ok) == v[1] && ok);
    FUZZ_CHECK(ReferenceBase64(v[0]) == v[1]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool vectors_checked = false;
  if (!vectors_checked) {
    CheckKnownVectors();
    vectors_checked = true;
  }
  FuzzInput in(data, size);
  size_t cap = in.Byte() | (in.Byte() & 0x0f) << 8;
  const char* user = in.Text();
  const char* password = in.Text();
  const char* header = in.Text();
  size_t got;
  const unsigned char* raw = in.Bytes(in.Left(), &got);
  std::string bytes(reinterpret_cast<const char*>(raw), got);

  bool ok;
  std::string encoded = Encode(bytes, cap, &ok);
  std::string expected = ReferenceBase64(bytes);
  FUZZ_CHECK(ok == (cap > 0 && expected.size() < cap));
  FUZZ_CHECK(encoded == (ok ? expected : ""));
  // No bytes: the empty text, however small the buffer.
  FuzzBuffer none(1);
  FUZZ_CHECK(Base64Encode(raw, 0, none.get(), 1) && none.get()[0] == 0);
  FUZZ_CHECK(Base64Encode(raw, -1, none.get(), 1) && none.get()[0] == 0);

  ByteString line = BasicAuthLine(user, password, header);
  std::string pair = std::string(user) + ":" + password;
  std::string want = std::string(header) + ": Basic " + ReferenceBase64(pair) + "\r\n";
  bool fits = pair.size() < kCredentialPairBufferSize && want.size() < kHeaderLineBufferSize;
  FUZZ_CHECK(line.IsPresent() == fits);
  if (fits) FUZZ_CHECK(line.Text() == want);
  // An absent credential reads as the empty one.
  ByteString empty = BasicAuthLine(nullptr, nullptr, header);
  FUZZ_CHECK(!empty.IsPresent() || empty.Text() == std::string(header) + ": Basic Og==\r\n");
  return 0;
}
