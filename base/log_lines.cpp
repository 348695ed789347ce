#include "base/log_lines.h"

void LogWriteLines(const char* text, LogWriteFn write, void* context) {
  char line[kLogLineBufferSize];
  size_t n = 0;
  for (const char* p = text; *p; ++p) {
    char c = *p;
    if (c == '\r') continue;
    if (c == '\n') {
      line[n++] = '\r';
      line[n++] = '\n';
      write(context, line, n);
      n = 0;
      continue;
    }
    // A line longer than the buffer (formatted texts stop at 1024
    // characters, so only a caller's own text can do this) goes out in pieces.
    if (n + 2 >= sizeof line) {
      write(context, line, n);
      n = 0;
    }
    line[n++] = c;
  }
  if (n) write(context, line, n);
}
