#include "transport/transport_library.h"

#include "base/diagnostic_log.h"
#include "base/file_utils.h"

#include <string.h>

TransportLibrary& NameEntries(TransportLibrary& library, const char* entry_names, int entry_count) {
  if (!library.entry_names) {
    library.entry_names = entry_names;
    library.entry_count = entry_count;
  }
  return library;
}

bool LoadTransportLibrary(TransportLibrary& library, const char* file_name) {
  int count = library.entry_count;
  if (count < 0 || count > TransportLibrary::kMaxEntries) return false;
  HMODULE module = LoadSystemLibrary(file_name);
  if (!module) return false;
  LogModuleVersion(module);

  const char* name = library.entry_names;
  for (int i = 0; i < count; ++i, name += strlen(name) + 1) {
    library.entries[i] = GetProcAddress(module, name);
    if (!library.entries[i]) {
      FreeLibrary(module);
      library.handle = nullptr;
      return false;
    }
  }
  library.handle = module;
  return true;
}

bool IsTransportLibraryLoaded(const TransportLibrary& library) { return library.handle != nullptr; }

void AddTransportObject(TransportLibrary& library) { InterlockedIncrement(&library.live); }

bool RemoveTransportObject(TransportLibrary& library) { return InterlockedDecrement(&library.live) <= 0; }

void ReleaseTransportLibrary(TransportLibrary& library) {
  if (library.handle) FreeLibrary(library.handle);
  library.handle = nullptr;
  for (int i = 0; i < TransportLibrary::kMaxEntries; ++i) library.entries[i] = nullptr;
}

void LogTransportStep(const char* step, const char* unit, int line) {
  if (!LogIsOn()) return;
  DWORD error = GetLastError();
  LogPrint("%s,%s %d, 0x%x\n", step, unit, line, error);
}

void LogSocketStep(const char* step, const char* unit, int line, int socket_error) {
  if (!LogIsOn()) return;
  DWORD error = GetLastError();
  LogPrint("%s,%s %d, 0x%x, 0x%x\n", step, unit, line, error, socket_error);
}
