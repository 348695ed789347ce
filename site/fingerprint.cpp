#include "site/fingerprint.h"

// Letter value 1..26 of a byte, or 0 for a byte that does not count.
static unsigned LetterValue(unsigned char c) {
  if (c == '0') return 'O' - 'A' + 1;
  if (c == '1') return 'I' - 'A' + 1;
  if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
  // Digits 2..9 stand for the letters 17 places on, C..J (so 8 is I).
  if (c >= '2' && c <= '9') c = static_cast<unsigned char>(c + 17);
  if (c >= 'A' && c <= 'Z') return c - 'A' + 1u;
  return 0;
}

static uint32_t HashText(uint32_t b, const char* text) {
  if (!text) return b;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    unsigned v = LetterValue(*p);
    if (!v) continue;
    b = ((b << 3) | (b >> 29)) ^ v;
  }
  return b;
}

uint32_t FingerprintHash(const char* first, const char* second, int width) {
  uint32_t b = HashText(HashText(0, first), second);
  if (width < 1 || width >= 32) return b;
  const uint32_t mask = (1u << width) - 1;
  uint32_t r = 0;
  for (int consumed = 0; consumed < 32; consumed += width) {
    r ^= b & mask;
    b >>= width;
  }
  return r;
}
