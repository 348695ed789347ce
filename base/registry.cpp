#include "base/registry.h"

#include <string.h>

#include "base/text.h"

ByteString RegGetString(HKEY root, const char* keyPath, const char* valueName, const char* defaultText) {
  char buffer[260];
  CopyText(buffer, sizeof buffer, defaultText);  // an over-long default reads as empty
  HKEY key;
  if (RegOpenKeyA(root, keyPath, &key) == ERROR_SUCCESS) {
    // Read into a scratch buffer so that a value that does not fit leaves the
    // default in place instead of unspecified bytes.
    char value[260];
    DWORD size = sizeof value;
    LONG status = RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (status == ERROR_SUCCESS && size <= sizeof value) {
      if (size == 0) {
        buffer[0] = 0;
      } else if (memchr(value, 0, size)) {
        memcpy(buffer, value, size);
      } else if (size < sizeof value) {
        memcpy(buffer, value, size);  // stored without its zero
        buffer[size] = 0;
      }
      // 260 bytes without a zero: the default stands.
    }
  }
  return ByteString(buffer);
}

LONG RegSetString(HKEY root, const char* keyPath, const char* valueName, const char* text) {
  HKEY key;
  LONG status = RegCreateKeyA(root, keyPath, &key);
  if (status != ERROR_SUCCESS) return status;
  if (!text) text = "";
  status = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(strlen(text) + 1));
  RegCloseKey(key);
  return status;
}

bool RegGetPath(HKEY root, const char* keyPath, const wchar_t* valueName, wchar_t* out, size_t cap) {
  out[0] = 0;
  HKEY key;
  if (RegOpenKeyA(root, keyPath, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = static_cast<DWORD>(cap * sizeof *out);
  LONG status = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(out), &size);
  RegCloseKey(key);
  size_t n = size / sizeof *out;
  // A value stored without its zero gets one when there is room.
  bool whole = status == ERROR_SUCCESS && type == REG_SZ && (n < cap || out[n - 1] == 0);
  if (whole && n < cap) out[n] = 0;
  if (!whole) out[0] = 0;
  return whole;
}

LONG RegSetPath(HKEY root, const char* keyPath, const wchar_t* valueName, const wchar_t* path) {
  HKEY key;
  LONG status = RegCreateKeyA(root, keyPath, &key);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                          static_cast<DWORD>((lstrlenW(path) + 1) * sizeof *path));
  RegCloseKey(key);
  return status;
}
