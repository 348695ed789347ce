#include "app/command_line.h"

const char* ArgumentsAfterProgramName(const char* command_line) {
  if (!command_line) return "";
  const char* p = command_line;
  if (*p == '"') {
    // A quoted name ends at the next quote; an unclosed one takes the rest.
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (static_cast<unsigned char>(*p) > ' ') ++p;
  }
  while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
  return p;
}
