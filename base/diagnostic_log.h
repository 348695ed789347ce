#pragma once
#include <windows.h>

// The diagnostic print of every subsystem. The sink is closed in the product,
// so a print costs one test; tests open one to check the bytes.
void LogPrint(const char* format, ...);
// Whether a sink takes the lines: what a line needs is worked out only then.
bool LogIsOn();
// LogPrint of format and its arguments followed by " 0x" and the platform's
// last error, read on entry, and the line's end: "Open %s failed" prints
// "Open C:\x failed 0x5". One call for every such line, so none carries the
// read or the test of the sink.
void LogWithError(const char* format, ...);
void LogModuleVersion(HMODULE module);
// "Failed 1", "Failed 2", the path followed by " unknown version", or the
// product version stored in the file.
void ModuleVersionText(const char* path, char* out, size_t cap);

// Sets the sink (INVALID_HANDLE_VALUE closes it without closing the handle).
void LogSetSink(HANDLE sink);
