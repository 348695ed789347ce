#pragma once
#include <stddef.h>
#include <stdint.h>

// The status line's text for a transfer, in the user's language: the pattern
// for a known size (total above 0) takes the whole percent as {1}, the bytes
// so far as {2} and the total as {3} ("Downloading Update ... 37% (716.80kb
// of 1.90Mb)"); the one for an unknown size takes the bytes so far as {1}
// ("Downloading Update ... 716.80kb"). The numbers and units are the same in
// every language. A count past the total reads as 100%. False (out empty)
// when cap is too small; kProgressTextCap suffices for every language's text.
enum { kProgressTextCap = 128 };
bool FormatProgressText(wchar_t* out, size_t cap, uint64_t done, uint64_t total, const wchar_t* known,
                        const wchar_t* unknown);

// Decides when the status line follows a transfer: a new text at most every
// kProgressIntervalMs (about 8 a second) and only when it differs from the
// one shown, so a fast read loop costs the window nothing.
class ProgressText {
 public:
  enum { kProgressIntervalMs = 125 };
  // The patterns as FormatProgressText takes them; they outlive the object.
  ProgressText(const wchar_t* known, const wchar_t* unknown)
      : known_(known), unknown_(unknown), shown_at_(0), shown_(false) {
    text_[0] = 0;
  }

  // True when the line is to show Text() now. now_ms is a millisecond tick
  // count; it may wrap.
  bool Update(uint64_t done, uint64_t total, uint32_t now_ms);
  const wchar_t* Text() const { return text_; }
  // Whether any text was handed out.
  bool Shown() const { return shown_; }

 private:
  const wchar_t* known_;
  const wchar_t* unknown_;
  wchar_t text_[kProgressTextCap];
  uint32_t shown_at_;
  bool shown_;
};
