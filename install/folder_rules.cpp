#include "install/folder_rules.h"

#include <string.h>

#include "base/text.h"

bool EndWithBackslash(char* folder, size_t cap) {
  size_t n = strlen(folder);
  if (n == 0 || folder[n - 1] == '\\') return true;
  return AppendText(folder, cap, "\\");
}

static char LowerLetter(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsInsideFolder(const char* path, const char* folder) {
  if (strstr(path, "..")) return false;
  size_t n = strlen(folder);
  while (n > 0 && folder[n - 1] == '\\') --n;
  if (n <= 2) return false;  // "", "C:" and the like: a whole drive
  for (size_t i = 0; i < n; ++i) {
    if (LowerLetter(path[i]) != LowerLetter(folder[i])) return false;  // also ends at path's zero
  }
  if (path[n] != '\\') return false;
  // A tail of separators, dots and spaces alone (".", " .") names the folder
  // itself to the platform.
  for (const char* p = path + n + 1; *p; ++p) {
    if (*p != '\\' && *p != '.' && *p != ' ') return true;
  }
  return false;
}
