#include "install/parameter_merge.h"

#include <string.h>

#include "install/launch_parameters.h"

bool TrailerParameterText(const unsigned char* block, char* out, size_t cap) {
  if (cap > 0) out[0] = 0;
  if (memcmp(block + 260, "Cookies", 7) != 0) return false;
  // The text is the run of non-zero bytes that ends at 258. Position 259 is
  // its terminator; when 259 is not zero the text still ends at 258, so
  // nothing past the block's area is ever read. Position 0 is never text.
  size_t end = 259;
  size_t begin = end;
  while (begin > 1 && block[begin - 1] != 0) --begin;
  size_t length = end - begin;
  if (length + 1 > cap) return false;
  memcpy(out, block + begin, length);
  out[length] = 0;
  return true;
}

bool SameParameterKeyN(const char* a, size_t aLength, const char* b, size_t bLength) {
  for (size_t i = 0;; ++i) {
    char ca = i < aLength ? a[i] : 0;
    char cb = i < bLength ? b[i] : 0;
    if (ca != cb || ca == 0) return ca == cb;
    if (ca == '=') return true;
  }
}

bool SameParameterKey(const char* a, const char* b) {
  return SameParameterKeyN(a, strlen(a), b, strlen(b));
}

namespace {

struct Entry {
  const char* text;
  size_t length;
};

class EntryList {
 public:
  // cap: bytes of the output buffer, terminating zero included.
  explicit EntryList(size_t cap) : cap_(cap), count_(0), length_(0), full_(false) {}

  // Splits text on "&" and keeps each new key while there is room.
  void AddAll(const char* text) {
    while (*text && !full_) {
      const char* end = strchr(text, '&');
      size_t length = end ? static_cast<size_t>(end - text) : strlen(text);
      if (length > 0) Add(text, length);
      text += length;
      if (*text == '&') ++text;
    }
  }

  // out holds cap_ bytes; Add never lets the kept entries outgrow them.
  void Write(char* out) const {
    size_t at = 0;
    for (size_t i = 0; i < count_; ++i) {
      out[at++] = '&';
      memcpy(out + at, entries_[i].text, entries_[i].length);
      at += entries_[i].length;
    }
    out[at] = 0;
  }

 private:
  void Add(const char* text, size_t length) {
    for (size_t i = 0; i < count_; ++i) {
      if (SameParameterKeyN(entries_[i].text, entries_[i].length, text, length)) return;
    }
    // "&" plus the entry, and the final zero, must fit.
    if (count_ == kMaxKeptParameters || length_ + 1 + length + 1 > cap_) {
      full_ = true;
      return;
    }
    entries_[count_].text = text;
    entries_[count_].length = length;
    ++count_;
    length_ += 1 + length;
  }

  size_t cap_;
  Entry entries_[kMaxKeptParameters];
  size_t count_;
  size_t length_;
  bool full_;
};

}  // namespace

void MergeParameterTexts(const char* first, const char* second, char* out, size_t cap) {
  if (cap == 0) return;
  EntryList list(cap);
  list.AddAll(first);
  list.AddAll(second);
  list.Write(out);
}
