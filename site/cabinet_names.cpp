#include "site/cabinet_names.h"

#include <string.h>

#include "base/text.h"

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

static char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// A component the platform opens as a device instead of a file in the
// folder ("NUL", "com1.txt", "CON "): its part before the first dot, spaces
// at its end dropped, is a reserved device name.
static bool IsDeviceComponent(const char* start, size_t length) {
  size_t stem = 0;
  while (stem < length && start[stem] != '.') ++stem;
  while (stem > 0 && start[stem - 1] == ' ') --stem;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char* device : kDevices) {
    size_t n = strlen(device);
    if (stem != n) continue;
    size_t i = 0;
    while (i < n && Upper(start[i]) == device[i]) ++i;
    if (i == n) return true;
  }
  // The platform counts the superscripts 1, 2 and 3 of the ANSI code page
  // (0xB9, 0xB2, 0xB3) as digits too: "COM\xB9" opens a port.
  unsigned char digit = stem == 4 ? static_cast<unsigned char>(start[3]) : 0;
  if ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3) {
    char a = Upper(start[0]), b = Upper(start[1]), c = Upper(start[2]);
    if ((a == 'C' && b == 'O' && c == 'M') || (a == 'L' && b == 'P' && c == 'T')) return true;
  }
  return false;
}

bool IsContainedEntryName(const char* name) {
  if (!name || !name[0] || IsSeparator(name[0])) return false;
  // A colon names a drive ("C:x") or an alternate stream; neither belongs here.
  if (strchr(name, ':')) return false;
  const char* start = name;
  for (const char* p = name;; ++p) {
    if (!*p || IsSeparator(*p)) {
      size_t length = static_cast<size_t>(p - start);
      if (IsParentComponent(start, length) || IsDeviceComponent(start, length)) return false;
      if (!*p) break;
      start = p + 1;
    }
  }
  return true;
}

bool ComposeEntryTarget(char* out, size_t cap, const char* folder, const char* name) {
  return FormatText(out, cap, "%s\\%s", folder, name) >= 0;
}

bool IsTargetEntry(const char* entry, const char* target) {
  const char* name = strrchr(target, '\\');
  name = name ? name + 1 : target;
  for (; *entry || *name; ++entry, ++name) {
    char a = *entry >= 'a' && *entry <= 'z' ? *entry - 32 : *entry;
    char b = *name >= 'a' && *name <= 'z' ? *name - 32 : *name;
    if (a != b) return false;
  }
  return true;
}
