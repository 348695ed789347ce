#pragma once
#include <windows.h>

#include "base/byte_string.h"

// One string value under root\keyPath. A read always yields a text: the
// default (empty when none) when the key or value is missing, or when the
// stored data do not fit 259 characters and a zero.
ByteString RegGetString(HKEY root, const char* keyPath, const char* valueName, const char* defaultText);
// Creates missing keys; stores the text with its terminating zero as REG_SZ.
// The status of the creation or, when that succeeded, of the write.
LONG RegSetString(HKEY root, const char* keyPath, const char* valueName, const char* text);
// The same for a folder, which may be named in any script: the value keeps
// its type and text, read and written whole rather than through the code
// page, where a character outside it would become '?' and name another
// folder. Read: false (out empty) when missing, not text or over cap.
bool RegGetPath(HKEY root, const char* keyPath, const wchar_t* valueName, wchar_t* out, size_t cap);
LONG RegSetPath(HKEY root, const char* keyPath, const wchar_t* valueName, const wchar_t* path);
