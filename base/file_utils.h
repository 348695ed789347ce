#pragma once
#include <windows.h>

#include "base/byte_string.h"

bool IsDirectoryPath(const char* path);
bool IsFilePath(const char* path);
// Low 32 bits of the first entry matching path (wildcards honoured); 0 when none.
DWORD FileSizeOf(const char* path);
// A new empty file in the temporary folder; the empty text when none can be made.
ByteString MakeTempFileName();
// Loads file_name from the system directory only, never from the program's
// or the current folder, where a download could have planted one. None when
// the path would not fit (never loaded from a cut path) or the load fails.
HMODULE LoadSystemLibrary(const char* file_name);
// Creates one folder level. locked: with the access list below; when that
// list cannot be made, no folder is created.
bool CreateFolder(const char* path, bool locked);
// The access list of the program-files folder: Administrators and SYSTEM
// full control, Users read and execute, all passed on to what is put inside,
// nothing inherited from the parent. Null when it cannot be made; the caller
// releases it with LocalFree.
PSECURITY_DESCRIPTOR NewLockedFolderDescriptor();
// Those same three entries, each with the inheritance flags given, behind
// head (the owner and the list's own flags, as "O:BAD:PAI").
PSECURITY_DESCRIPTOR NewLockedDescriptor(const char* head, const char* inheritance);

// Writes all length bytes; a short write is a failure. One that fails for
// want of room is noted, so the user hears of a full disk rather than of
// what the cut file went on to cause.
bool WriteAll(HANDLE file, const void* data, DWORD length);
// Notes a full disk: missing bytes did not fit.
void NoteDiskFull(DWORD missing);
// Whether a full disk was noted since the last clear.
bool DiskFullNoted();
void ClearDiskFull();

// One file handle, closed by its destruction.
class FileHandle {
 public:
  FileHandle() : handle_(INVALID_HANDLE_VALUE) {}
  FileHandle(const char* path, DWORD disposition, bool readOnly) : handle_(INVALID_HANDLE_VALUE) {
    Open(path, disposition, readOnly);
  }
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  void Open(const char* path, DWORD disposition, bool readOnly);
  // Creates (or truncates) the file for writing.
  void CreateForWriting(const char* path) { Open(path, CREATE_ALWAYS, false); }
  bool Write(const void* data, DWORD length);
  void Close();
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Handle() const { return handle_; }

 private:
  HANDLE handle_;
};

// A whole file mapped into memory. The view is null when any step failed.
class MappedFile {
 public:
  MappedFile(const char* path, bool readOnly, DWORD size);
  virtual ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  void* View() const { return view_; }
  HANDLE File() const { return file_; }
  // Size of the mapped file (0 when it could not be opened).
  DWORD Size() const;

 private:
  void* view_;
  HANDLE mapping_;
  HANDLE file_;
};

// A uniquely named file in the temporary folder, deleted with the object.
class TemporaryFile {
 public:
  TemporaryFile() : handle_(INVALID_HANDLE_VALUE), name_(MakeTempFileName()) {}
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const char* Name() const { return name_.Text(); }
  // Reads from the current position (the start at the first read).
  bool Read(void* buffer, DWORD wanted, DWORD* read);

 private:
  HANDLE handle_;
  ByteString name_;
};
