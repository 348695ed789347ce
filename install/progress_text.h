#pragma once
#include <stddef.h>
#include <stdint.h>

// The status line's text for a transfer: "Downloading Update ... 37%
// (716.80kb of 1.90Mb)" when the size is known (total above 0), else
// "Downloading Update ... 716.80kb". A count past the total reads as 100%.
// False (out empty) when cap is too small; kProgressTextCap always suffices.
enum { kProgressTextCap = 80 };
bool FormatProgressText(char* out, size_t cap, uint64_t done, uint64_t total);

// Decides when the status line follows a transfer: a new text at most every
// kProgressIntervalMs (about 8 a second) and only when it differs from the
// one shown, so a fast read loop costs the window nothing.
class ProgressText {
 public:
  enum { kProgressIntervalMs = 125 };
  ProgressText() : shown_at_(0), shown_(false) { text_[0] = 0; }

  // True when the line is to show Text() now. now_ms is a millisecond tick
  // count; it may wrap.
  bool Update(uint64_t done, uint64_t total, uint32_t now_ms);
  const char* Text() const { return text_; }
  // Whether any text was handed out.
  bool Shown() const { return shown_; }

 private:
  char text_[kProgressTextCap];
  uint32_t shown_at_;
  bool shown_;
};
