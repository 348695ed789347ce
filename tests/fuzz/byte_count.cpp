// Byte counts as the drive dialog shows them, for every 64-bit count and
// buffer size: the text of the division rule, inside the buffer or refused.
#include "base/byte_count.h"
#include "install/progress_text.h"
#include "fuzz_input.h"

#include <wchar.h>

#include <vector>

namespace {

// The rule with divisions: units of 1024 while the value is above 1024,
// at most up to "Tb", and the last remainder in hundredths.
std::string Expected(int64_t count) {
  static const char* const kUnits[] = {"bytes", "kb", "Mb", "Gb", "Tb"};
  unsigned __int128 value = count < 0 ? -static_cast<__int128>(count) : count;
  int unit = 0;
  unsigned fraction = 0;
  while (value > 1024 && unit < 4) {
    fraction = static_cast<unsigned>(value % 1024 * 100 / 1024);
    value /= 1024;
    ++unit;
  }
  char text[64];
  if (unit == 0) {
    snprintf(text, sizeof text, "%s%llubytes", count < 0 ? "-" : "", static_cast<unsigned long long>(value));
  } else {
    snprintf(text, sizeof text, "%s%llu.%02u%s", count < 0 ? "-" : "", static_cast<unsigned long long>(value), fraction,
             kUnits[unit]);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  int64_t count = static_cast<int64_t>(in.Uint64());
  size_t cap = in.Byte() % 40;
  std::string expected = Expected(count);
  FUZZ_CHECK(expected.size() < 24);

  FuzzBuffer out(cap);
  bool ok = FormatByteCountInto(out.get(), cap, count);
  FUZZ_CHECK(ok == (expected.size() < cap));
  if (cap) FUZZ_CHECK(out.Terminated() && out.Text() == (ok ? expected : ""));
  FUZZ_CHECK(FormatByteCount(count) == expected);

  // The progress line takes counts a server announced: any pair fits its
  // buffer, the percentage never passes 100, and it is refused, not cut.
  uint64_t done = in.Uint64();
  uint64_t total = in.Uint64();
  size_t progress_cap = in.Byte() % (kProgressTextCap + 8);
  // The English texts, with their values marked as the packs mark them.
  static const wchar_t kKnown[] = L"Downloading Update ... \x11% (\x12 of \x13)";
  static const wchar_t kUnknown[] = L"Downloading Update ... \x11";
  std::vector<wchar_t> line(progress_cap + 1, L'Z');
  bool fits = FormatProgressText(line.data(), progress_cap, done, total, kKnown, kUnknown);
  wchar_t wide[kProgressTextCap];
  FUZZ_CHECK(FormatProgressText(wide, kProgressTextCap, done, total, kKnown, kUnknown));
  FUZZ_CHECK(fits == (wcslen(wide) < progress_cap));
  if (progress_cap) {
    FUZZ_CHECK(wmemchr(line.data(), 0, progress_cap) != nullptr);
    FUZZ_CHECK(wcscmp(line.data(), fits ? wide : L"") == 0);
  }
  std::string text(wide, wide + wcslen(wide));  // ASCII: the English words and the numbers
  const char* full = text.c_str();
  const char* percent = strchr(full, '%');
  if (percent) {
    const char* digits = percent;
    while (digits > full && digits[-1] >= '0' && digits[-1] <= '9') --digits;
    FUZZ_CHECK(total > 0 && digits < percent && atoi(digits) <= 100);
  } else {
    FUZZ_CHECK(total == 0);
  }
  return 0;
}
