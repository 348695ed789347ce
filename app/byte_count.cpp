#include "app/byte_count.h"

#include "install/text.h"

static const char* const kUnits[] = {"bytes", "kb", "Mb", "Gb", "Tb"};
static const int kLastUnit = 4;

// Decimal digits of a 64-bit count, with a sign for negative ones.
static void DecimalText(int64_t value, char* out) {
  char digits[24];
  int n = 0;
  // Work on the magnitude as unsigned so that the smallest value has one too.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  char* p = out;
  if (value < 0) *p++ = '-';
  while (n) *p++ = digits[--n];
  *p = 0;
}

bool FormatByteCountInto(char* out, size_t cap, int64_t count) {
  int unit = 0;
  int64_t fraction = 0;
  while (count > 1024 && unit < kLastUnit) {
    fraction = ((count % 1024) * 100) / 1024;
    count /= 1024;
    ++unit;
  }
  char number[24];  // sign and 19 digits at most
  DecimalText(count, number);
  if (unit == 0) return FormatText(out, cap, "%s%s", number, kUnits[0]) >= 0;
  return FormatText(out, cap, "%s.%c%c%s", number, static_cast<char>('0' + fraction / 10),
                    static_cast<char>('0' + fraction % 10), kUnits[unit]) >= 0;
}

const char* FormatByteCount(int64_t count) {
  static char text[32];
  FormatByteCountInto(text, sizeof text, count);
  return text;
}
