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

static char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

bool HasSwitch(const char* arguments, const char* name) {
  for (const char* p = arguments; *p;) {
    while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
    const char* n = name;
    while (*n && Lower(*p) == Lower(*n)) ++p, ++n;
    if (!*n && static_cast<unsigned char>(*p) <= ' ') return true;
    while (static_cast<unsigned char>(*p) > ' ') ++p;
  }
  return false;
}
