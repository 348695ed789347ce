#pragma once
#include <stdarg.h>
#include <stddef.h>

// Bounded text building for the fixed buffers. A text that does not fit is
// refused, never cut: the functions report false (or -1) and leave the empty
// text (CopyText, FormatText) or the buffer unchanged (AppendText).

// Copies text into out (capacity cap bytes, terminating zero included).
bool CopyText(char* out, size_t cap, const char* text);
// Appends text to the text already in out.
bool AppendText(char* out, size_t cap, const char* text);
// printf subset: %s (null prints as empty), %d, %u, %x, %c, %%. Returns the
// length written, or -1 when the result does not fit in cap bytes.
int FormatText(char* out, size_t cap, const char* format, ...);
int FormatTextV(char* out, size_t cap, const char* format, va_list args);
// Appends a formatted text; false (out unchanged) when it does not fit.
bool AppendFormat(char* out, size_t cap, const char* format, ...);
