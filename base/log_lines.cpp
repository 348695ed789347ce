#include "base/log_lines.h"

// The updater's /Codes= value carries the proxy's user name and password: a
// line shows "/Codes=***" and nothing more of it, up to the line's end (a
// password may hold any character, so no later mark ends it safely).
static const char kCodes[] = "/Codes=";

void LogWriteLines(const char* text, LogWriteFn write, void* context) {
  char line[kLogLineBufferSize];
  size_t n = 0;
  bool masking = false;
  size_t matched = 0;  // characters of kCodes just seen, across flushed pieces
  for (const char* p = text; *p; ++p) {
    char c = *p;
    if (c == '\r') continue;
    if (masking && c != '\n') continue;
    masking = false;
    if (c == '\n') {
      matched = 0;
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
    // Only the mark's first character is a '/', so a mismatch restarts there.
    matched = c == kCodes[matched] ? matched + 1 : c == '/' ? 1 : 0;
    if (matched == sizeof kCodes - 1) {
      matched = 0;
      for (const char* star = "***"; *star; ++star) {
        if (n + 2 >= sizeof line) {
          write(context, line, n);
          n = 0;
        }
        line[n++] = *star;
      }
      masking = true;
    }
  }
  if (n) write(context, line, n);
}
