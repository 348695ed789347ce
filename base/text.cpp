#include "base/text.h"

#include <string.h>

bool CopyText(char* out, size_t cap, const char* text) {
  if (cap == 0) return false;
  size_t n = text ? strlen(text) : 0;
  if (n >= cap) {
    out[0] = 0;
    return false;
  }
  if (n) memcpy(out, text, n);
  out[n] = 0;
  return true;
}

// Length of the text in out, or cap when no terminator lies inside it.
static size_t BoundedLength(const char* out, size_t cap) {
  const char* end = static_cast<const char*>(memchr(out, 0, cap));
  return end ? static_cast<size_t>(end - out) : cap;
}

bool AppendText(char* out, size_t cap, const char* text) {
  size_t have = BoundedLength(out, cap);
  if (have >= cap) return false;  // no terminator inside: refuse to touch it
  size_t n = text ? strlen(text) : 0;
  if (n >= cap - have) return false;
  if (n) memcpy(out + have, text, n);
  out[have + n] = 0;
  return true;
}

namespace {

// The text built so far. len goes on counting once a character does not
// fit, so a full sink is one whose len reached cap.
struct Sink {
  char* out;
  size_t cap;
  size_t len;
  bool Full() const { return len >= cap; }
  // Not inlined: the formatter puts from many places.
  __attribute__((noinline)) void Put(char c) {
    if (len + 1 < cap) out[len] = c;
    ++len;
  }
};

// unsigned long holds every argument the format takes; a wider type would
// pull 64-bit division into the 32-bit program.
size_t UnsignedDigits(unsigned long v, unsigned base, char* digits) {
  size_t n = 0;
  do {
    unsigned d = static_cast<unsigned>(v % base);
    digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
    v /= base;
  } while (v);
  return n;
}

void PutNumber(Sink& sink, unsigned long v, unsigned base, bool negative) {
  char digits[24];
  size_t n = UnsignedDigits(v, base, digits);
  if (negative) sink.Put('-');
  while (n) sink.Put(digits[--n]);
}

}  // namespace

int FormatTextV(char* out, size_t cap, const char* format, va_list args) {
  if (cap == 0) return -1;
  Sink sink = {out, cap, 0};
  for (const char* p = format; *p && !sink.Full(); ++p) {
    if (*p != '%') {
      sink.Put(*p);
      continue;
    }
    ++p;
    bool is_long = false;
    while (*p == 'l') {
      is_long = true;
      ++p;
    }
    switch (*p) {
      case 's': {
        const char* s = va_arg(args, const char*);
        for (; s && *s && !sink.Full(); ++s) sink.Put(*s);
        break;
      }
      case 'd': {
        long v = is_long ? va_arg(args, long) : va_arg(args, int);
        unsigned long m = v < 0 ? 0ul - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
        PutNumber(sink, m, 10, v < 0);
        break;
      }
      case 'u':
      case 'x': {
        unsigned long v = is_long ? va_arg(args, unsigned long) : va_arg(args, unsigned);
        PutNumber(sink, v, *p == 'u' ? 10 : 16, false);
        break;
      }
      case 'c':
        sink.Put(static_cast<char>(va_arg(args, int)));
        break;
      case 0:
        --p;  // a lone % at the end prints nothing
        break;
      default:
        // "%%" prints one %, an unknown one prints as it stands.
        if (*p != '%') sink.Put('%');
        sink.Put(*p);
        break;
    }
  }
  if (sink.Full()) {
    out[0] = 0;
    return -1;
  }
  out[sink.len] = 0;
  return static_cast<int>(sink.len);
}

int FormatText(char* out, size_t cap, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = FormatTextV(out, cap, format, args);
  va_end(args);
  return n;
}

bool AppendFormat(char* out, size_t cap, const char* format, ...) {
  size_t have = BoundedLength(out, cap);
  if (have >= cap) return false;
  char saved = out[have];
  va_list args;
  va_start(args, format);
  int n = FormatTextV(out + have, cap - have, format, args);
  va_end(args);
  if (n < 0) {
    out[have] = saved;
    return false;
  }
  return true;
}
