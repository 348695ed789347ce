#pragma once
#include <windows.h>

// The process-wide record of one transport kind: its system library, the
// entry table filled when it loads, and how many transports of the kind live.
// Handle and table are touched only by the worker thread; the live count is
// interlocked because transports may be destroyed elsewhere.
struct TransportLibrary {
  enum { kMaxEntries = 20 };
  // The entries' names, each ended by its zero, looked up in this order:
  // packed in one text, they need no table of pointers.
  const char* entry_names;
  int entry_count;                 // at most kMaxEntries
  HMODULE handle;                  // none until a complete load
  FARPROC entries[kMaxEntries];
  volatile LONG live;
};

// Names a record's entries unless they were named before (a test may name
// others). The records start as all zeros, so the image carries no
// initialised data: a file section less.
TransportLibrary& NameEntries(TransportLibrary& library, const char* entry_names, int entry_count);

// Loads file_name from the system directory (never from the program's own
// folder), prints its version, and fills the entry table. The library is kept
// only when every entry was found; otherwise it is released and false returned.
bool LoadTransportLibrary(TransportLibrary& library, const char* file_name);
bool IsTransportLibraryLoaded(const TransportLibrary& library);

// Constructor and destructor bookkeeping of a transport object. The release
// answers true when this was the last live object of the kind: the caller then
// shuts the library down and calls ReleaseTransportLibrary.
void AddTransportObject(TransportLibrary& library);
bool RemoveTransportObject(TransportLibrary& library);
void ReleaseTransportLibrary(TransportLibrary& library);

// The two diagnostic lines of a failed step. The platform's last error is
// read first, before anything can change it.
void LogTransportStep(const char* step, const char* unit, int line);
void LogSocketStep(const char* step, const char* unit, int line, int socket_error);
