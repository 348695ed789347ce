#include "install/progress_text.h"

#include <string.h>

#include "base/byte_count.h"
#include "base/text.h"

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

bool FormatProgressText(char* out, size_t cap, uint64_t done, uint64_t total) {
  char done_text[24];
  FormatByteCountInto(done_text, sizeof done_text, AsCount(done));
  if (total == 0) return FormatText(out, cap, "Downloading Update ... %s", done_text) >= 0;
  char total_text[24];
  FormatByteCountInto(total_text, sizeof total_text, AsCount(total));
  return FormatText(out, cap, "Downloading Update ... %u%% (%s of %s)", Percent(done, total), done_text,
                    total_text) >= 0;
}

bool ProgressText::Update(uint64_t done, uint64_t total, uint32_t now_ms) {
  if (shown_ && now_ms - shown_at_ < kProgressIntervalMs) return false;
  char next[kProgressTextCap];
  if (!FormatProgressText(next, sizeof next, done, total) || strcmp(next, text_) == 0) return false;
  CopyText(text_, sizeof text_, next);
  shown_at_ = now_ms;
  shown_ = true;
  return true;
}
