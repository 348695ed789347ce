#include "base/diagnostic_log.h"

#include <string.h>

#include "base/file_utils.h"
#include "base/log_lines.h"
#include "base/text.h"

// Null while closed: the program then carries no initialised data at all,
// which saves the file a section of its own.
static HANDLE g_sink;

void LogSetSink(HANDLE sink) { g_sink = sink == INVALID_HANDLE_VALUE ? nullptr : sink; }
bool LogIsOn() { return g_sink != nullptr; }

static void WriteToSink(void*, const char* data, size_t length) {
  DWORD written = 0;
  WriteFile(g_sink, data, static_cast<DWORD>(length), &written, nullptr);
}

void LogPrint(const char* format, ...) {
  if (!g_sink) return;
  // The program's own formatter, not the system's: the product then
  // imports no formatter it never calls. A line that does not fit is left
  // out (empty) rather than cut.
  char text[5000];
  va_list args;
  va_start(args, format);
  FormatTextV(text, sizeof text, format, args);
  va_end(args);
  LogWriteLines(text, WriteToSink, nullptr);
}

void LogWithError(const char* format, ...) {
  DWORD error = GetLastError();
  if (!g_sink) return;
  // Under a page, so the frame needs no probe; a line that does not fit is
  // left out, as LogPrint leaves out its own.
  char text[4000];
  va_list args;
  va_start(args, format);
  int n = FormatTextV(text, sizeof text, format, args);
  va_end(args);
  if (n >= 0) LogPrint("%s 0x%x\n", text, error);
}

typedef DWORD(WINAPI* VersionSizeFunction)(LPCSTR, LPDWORD);
typedef BOOL(WINAPI* VersionInfoFunction)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* VersionQueryFunction)(LPCVOID, LPCSTR, LPVOID*, PUINT);

static FARPROC VersionEntry(HMODULE library, const char* name) {
  return library ? GetProcAddress(library, name) : nullptr;
}

void ModuleVersionText(const char* path, char* out, size_t cap) {
  if (cap == 0) return;
  CopyText(out, cap, "Failed 1");
  // Loaded here from the system folder: a static import would be looked for
  // beside the program first, where a download could have planted one.
  HMODULE library = LoadSystemLibrary("version.dll");
  VersionSizeFunction get_size =
      reinterpret_cast<VersionSizeFunction>(reinterpret_cast<void*>(VersionEntry(library, "GetFileVersionInfoSizeA")));
  VersionInfoFunction get_info =
      reinterpret_cast<VersionInfoFunction>(reinterpret_cast<void*>(VersionEntry(library, "GetFileVersionInfoA")));
  VersionQueryFunction query =
      reinterpret_cast<VersionQueryFunction>(reinterpret_cast<void*>(VersionEntry(library, "VerQueryValueA")));
  DWORD handle = 0;
  // Without the library the information cannot be read: "Failed 1".
  DWORD size = get_size && get_info && query ? get_size(path, &handle) : 0;
  void* block = size ? HeapAlloc(GetProcessHeap(), 0, size) : nullptr;
  // Out of memory reads as no version information.
  if (block) {
    CopyText(out, cap, "Failed 2");
    if (get_info(path, 0, size, block)) {
      char* version = nullptr;
      UINT length = 0;
      if (query(block, "\\StringFileInfo\\040904b0\\ProductVersion", reinterpret_cast<void**>(&version),
                &length) && version) {
        // A version text longer than the buffer is cut: it is only printed.
        size_t n = strlen(version);
        if (n >= cap) n = cap - 1;
        memcpy(out, version, n);
        out[n] = 0;
      } else {
        FormatText(out, cap, "%s unknown version", path);  // too long: the empty text
      }
    }
    HeapFree(GetProcessHeap(), 0, block);
  }
  if (library) FreeLibrary(library);
}

void LogModuleVersion(HMODULE module) {
  if (!g_sink) return;
  char path[MAX_PATH + 1] = "";
  GetModuleFileNameA(module, path, MAX_PATH);
  char version[MAX_PATH + 64];
  ModuleVersionText(path, version, sizeof version);
  LogPrint("%s %s\n", path, version);
}
