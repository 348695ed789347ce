#include "base/byte_count.h"

#include "base/text.h"

static const char* const kUnits[] = {"bytes", "kb", "Mb", "Gb", "Tb"};
static const int kLastUnit = 4;

bool FormatByteCountInto(char* out, size_t cap, int64_t count) {
  // Work on the magnitude, with shifts: no 64-bit division in the program.
  uint64_t value = count < 0 ? 0 - static_cast<uint64_t>(count) : static_cast<uint64_t>(count);
  int unit = 0;
  unsigned fraction = 0;
  while (value > 1024 && unit < kLastUnit) {
    fraction = static_cast<unsigned>(((value & 1023) * 100) >> 10);
    value >>= 10;
    ++unit;
  }
  // Past "Tb" the value is at most 2^63 / 2^40 = 8388608: it fits 32 bits.
  const char* sign = count < 0 ? "-" : "";
  unsigned whole = static_cast<unsigned>(value);
  if (unit == 0) return FormatText(out, cap, "%s%u%s", sign, whole, kUnits[0]) >= 0;
  return FormatText(out, cap, "%s%u.%c%c%s", sign, whole, static_cast<char>('0' + fraction / 10),
                    static_cast<char>('0' + fraction % 10), kUnits[unit]) >= 0;
}

const char* FormatByteCount(int64_t count) {
  static char text[32];
  FormatByteCountInto(text, sizeof text, count);
  return text;
}
