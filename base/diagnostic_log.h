#pragma once
#include <windows.h>

// The diagnostic print of every subsystem. The sink is closed in the product,
// so a print costs one test; tests open one to check the bytes.
void LogPrint(const char* format, ...);
void LogModuleVersion(HMODULE module);
// "Failed 1", "Failed 2", the path followed by " unknown version", or the
// product version stored in the file.
void ModuleVersionText(const char* path, char* out, size_t cap);

// Sets the sink (INVALID_HANDLE_VALUE closes it without closing the handle).
void LogSetSink(HANDLE sink);
