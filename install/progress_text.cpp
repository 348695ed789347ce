#include "install/progress_text.h"

#include "base/byte_count.h"
#include "base/text.h"
#include "base/ui_text.h"

static int64_t AsCount(uint64_t bytes) { return bytes > INT64_MAX ? INT64_MAX : static_cast<int64_t>(bytes); }

// Whole percent, rounded down, so 100% shows only when all has arrived.
static unsigned Percent(uint64_t done, uint64_t total) {
  if (done >= total) return 100;
  // Scaled down until a hundred times the total fits 32 bits: no 64-bit
  // division in the program.
  while (total >= (1u << 25)) {
    total >>= 1;
    done >>= 1;
  }
  return static_cast<unsigned>(done) * 100u / static_cast<unsigned>(total);
}

// The byte counts and the percent are ASCII.
static void Widen(wchar_t* out, const char* text) {
  while ((*out++ = static_cast<unsigned char>(*text++)) != 0) {
  }
}

bool FormatProgressText(wchar_t* out, size_t cap, uint64_t done, uint64_t total, const wchar_t* known,
                        const wchar_t* unknown) {
  // 24 characters hold any count and any percent.
  char number[24];
  wchar_t percent_text[24], done_text[24], total_text[24];
  FormatByteCountInto(number, sizeof number, AsCount(done));
  Widen(done_text, number);
  if (total == 0) {
    const wchar_t* values[] = {done_text};
    return FillUiText(out, cap, unknown, values, 1);
  }
  FormatByteCountInto(number, sizeof number, AsCount(total));
  Widen(total_text, number);
  FormatText(number, sizeof number, "%u", Percent(done, total));
  Widen(percent_text, number);
  const wchar_t* values[] = {percent_text, done_text, total_text};
  return FillUiText(out, cap, known, values, 3);
}

bool ProgressText::Update(uint64_t done, uint64_t total, uint32_t now_ms) {
  if (shown_ && now_ms - shown_at_ < kProgressIntervalMs) return false;
  wchar_t next[kProgressTextCap];
  if (!FormatProgressText(next, kProgressTextCap, done, total, known_, unknown_)) return false;
  size_t i = 0;
  while (next[i] && next[i] == text_[i]) ++i;
  if (next[i] == text_[i]) return false;
  for (i = 0; (text_[i] = next[i]) != 0; ++i) {
  }
  shown_at_ = now_ms;
  shown_ = true;
  return true;
}
