#include "install/command_line.h"

#include <string.h>

// Writes the quoted form of value to out (when given) and returns its length.
static size_t QuotedForm(const char* value, char* out) {
  size_t n = 0;
  if (out) out[n] = '"';
  ++n;
  for (const char* p = value;; ++p) {
    size_t slashes = 0;
    while (p[slashes] == '\\') ++slashes;
    // Backslashes count double only before a quote, the closing one included.
    size_t copies = p[slashes] == '"' || !p[slashes] ? 2 * slashes : slashes;
    for (size_t i = 0; i < copies; ++i, ++n)
      if (out) out[n] = '\\';
    p += slashes;
    if (!*p) break;
    if (*p == '"') {
      if (out) out[n] = '\\';
      ++n;
    }
    if (out) out[n] = *p;
    ++n;
  }
  if (out) out[n] = '"';
  return n + 1;
}

bool AppendArgumentValue(char* out, size_t cap, const char* value) {
  size_t used = strlen(out);
  bool plain = value[0] && !strpbrk(value, " \t\n\v\"");
  size_t length = plain ? strlen(value) : QuotedForm(value, nullptr);
  if (used + length >= cap) return false;
  if (plain) {
    memcpy(out + used, value, length);
  } else {
    QuotedForm(value, out + used);
  }
  out[used + length] = 0;
  return true;
}
