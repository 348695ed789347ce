#include "base/diagnostic_log.h"

#include "base/log_lines.h"
#include "base/text.h"

static HANDLE g_sink = INVALID_HANDLE_VALUE;

void LogSetSink(HANDLE sink) { g_sink = sink; }

static void WriteToSink(void*, const char* data, size_t length) {
  DWORD written = 0;
  WriteFile(g_sink, data, static_cast<DWORD>(length), &written, nullptr);
}

void LogPrint(const char* format, ...) {
  if (g_sink == INVALID_HANDLE_VALUE) return;
  // wvsprintfA produces at most 1024 characters, well inside this buffer.
  char text[5000];
  va_list args;
  va_start(args, format);
  wvsprintfA(text, format, args);
  va_end(args);
  LogWriteLines(text, WriteToSink, nullptr);
}

void ModuleVersionText(const char* path, char* out, size_t cap) {
  CopyText(out, cap, "Failed 1");
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) return;
  void* block = HeapAlloc(GetProcessHeap(), 0, size);
  if (!block) return;  // out of memory reads as no version information
  CopyText(out, cap, "Failed 2");
  if (GetFileVersionInfoA(path, 0, size, block)) {
    char* version = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block, "\\StringFileInfo\\040904b0\\ProductVersion",
                       reinterpret_cast<void**>(&version), &length) && version) {
      // A version text longer than the buffer is cut: it is only printed.
      lstrcpynA(out, version, static_cast<int>(cap));
    } else {
      FormatText(out, cap, "%s unknown version", path);  // too long: the empty text
    }
  }
  HeapFree(GetProcessHeap(), 0, block);
}

void LogModuleVersion(HMODULE module) {
  if (g_sink == INVALID_HANDLE_VALUE) return;
  char path[MAX_PATH + 1] = "";
  GetModuleFileNameA(module, path, MAX_PATH);
  char version[MAX_PATH + 64];
  ModuleVersionText(path, version, sizeof version);
  LogPrint("%s %s\r\n", path, version);
}
