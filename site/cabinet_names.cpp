#include "site/cabinet_names.h"

#include <string.h>

#include "install/text.h"

bool CabinetTargetFolder(const char* target, char* out, size_t cap) {
  const char* last = strrchr(target, '\\');
  if (!last || last == target) return CopyText(out, cap, ".");
  size_t length = static_cast<size_t>(last - target);
  if (length >= cap) {
    if (cap) out[0] = 0;
    return false;
  }
  memcpy(out, target, length);
  out[length] = 0;
  return true;
}

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A component the platform strips to ".." or further up: two or more dots,
// nothing else but spaces.
static bool IsParentComponent(const char* start, size_t length) {
  size_t dots = 0;
  for (size_t i = 0; i < length; ++i) {
    if (start[i] == '.') {
      ++dots;
    } else if (start[i] != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

bool IsContainedEntryName(const char* name) {
  if (!name || !name[0] || IsSeparator(name[0])) return false;
  // A colon names a drive ("C:x") or an alternate stream; neither belongs here.
  if (strchr(name, ':')) return false;
  const char* start = name;
  for (const char* p = name;; ++p) {
    if (!*p || IsSeparator(*p)) {
      if (IsParentComponent(start, static_cast<size_t>(p - start))) return false;
      if (!*p) break;
      start = p + 1;
    }
  }
  return true;
}

bool ComposeEntryTarget(char* out, size_t cap, const char* folder, const char* name) {
  return FormatText(out, cap, "%s\\%s", folder, name) >= 0;
}
