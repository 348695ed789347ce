// The fingerprint hash on any texts: only letters and digits count, case and
// the digits' letters do not matter, two texts hash as one, and the result
// folds into the width asked for.
#include "site/fingerprint.h"
#include "fuzz_input.h"

namespace {

// Letters and digits only, digits as the letters they stand for, upper case.
std::string Canonical(const char* text) {
  static const char kDigitLetters[] = "OICDEFGHIJ";
  std::string out;
  for (const char* p = text; *p; ++p) {
    char c = *p;
    if (c >= 'a' && c <= 'z') out += static_cast<char>(c - 'a' + 'A');
    else if (c >= 'A' && c <= 'Z') out += c;
    else if (c >= '0' && c <= '9') out += kDigitLetters[c - '0'];
  }
  return out;
}

uint32_t Fold(uint32_t hash, int width) {
  uint32_t folded = 0;
  for (int shift = 0; shift < 32; shift += width) folded ^= (hash >> shift) & ((1u << width) - 1);
  return folded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  unsigned flags = in.Byte();
  int width = static_cast<int8_t>(in.Byte());
  const char* first = flags & 1 ? nullptr : in.Text();
  const char* second = flags & 2 ? nullptr : in.Text();
  std::string a = first ? first : "", b = second ? second : "";

  uint32_t whole = FingerprintHash(first, second, 32);
  FUZZ_CHECK(FingerprintHash(Canonical(a.c_str()).c_str(), Canonical(b.c_str()).c_str(), 32) == whole);
  FUZZ_CHECK(FingerprintHash((a + b).c_str(), nullptr, 32) == whole);
  FUZZ_CHECK(FingerprintHash(nullptr, (a + b).c_str(), 32) == whole);
  if (Canonical((a + b).c_str()).empty()) FUZZ_CHECK(whole == 0);

  uint32_t hash = FingerprintHash(first, second, width);
  if (width >= 1 && width < 32) {
    FUZZ_CHECK(hash < (1u << width));
    FUZZ_CHECK(hash == Fold(whole, width));
  } else {
    FUZZ_CHECK(hash == whole);
  }
  return 0;
}
