#pragma once
#include <windows.h>

// The diagnostic print of every subsystem. The sink is closed in the product,
// so a print costs one test; tests open one to check the bytes.
void LogPrint(const char* format, ...);
// Whether a sink takes the lines: what a line needs is worked out only then.
bool LogIsOn();
// LogPrint with the platform's last error as the last argument, read only
// when a sink takes the line (in the product the read is dropped).
template <typename... Arguments>
void LogWithError(const char* format, Arguments... arguments) {
  if (LogIsOn()) LogPrint(format, arguments..., GetLastError());
}
void LogModuleVersion(HMODULE module);
// "Failed 1", "Failed 2", the path followed by " unknown version", or the
// product version stored in the file.
void ModuleVersionText(const char* path, char* out, size_t cap);

// Sets the sink (INVALID_HANDLE_VALUE closes it without closing the handle).
void LogSetSink(HANDLE sink);
