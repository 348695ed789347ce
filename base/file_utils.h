#pragma once
#include <windows.h>

#include "base/byte_string.h"

bool IsDirectoryPath(const char* path);
bool IsFilePath(const char* path);
// Paths the user or the system named (the program's own, the install folder,
// the temporary folder) may hold any script, so they are wide.
bool IsDirectoryPath(const wchar_t* path);
bool IsFilePath(const wchar_t* path);
// Appends text to the wide text in out (cap characters with the zero);
// false, out unchanged, when it does not fit: a path is never cut.
bool AppendPath(wchar_t* out, size_t cap, const wchar_t* text);
// The code page's form of a wide path, for what only takes narrow paths;
// false (out empty) when a character has no exact form there or it does not
// fit: a stand-in character could name another file.
bool NarrowPath(const wchar_t* path, char* out, size_t cap);
// For log lines: a character without a narrow form shows as '?'.
void LogTextOf(const wchar_t* path, char* out, size_t cap);
// The running program's own path; false when it does not fit cap characters
// (then nothing of it is used: a cut path names another file).
bool OwnPath(wchar_t* out, DWORD cap);
// Low 32 bits of the first entry matching path (wildcards honoured); 0 when none.
DWORD FileSizeOf(const char* path);
// A new empty file in the temporary folder, by a name the narrow functions
// of the transports reach: the folder may lie in a profile named in any
// script, so its short form stands in when the long one has no narrow form.
// The empty text when neither has one or no file can be made.
ByteString MakeTempFileName();
// Loads file_name from the system directory only, never from the program's
// or the current folder, where a download could have planted one. None when
// the path would not fit (never loaded from a cut path) or the load fails.
HMODULE LoadSystemLibrary(const char* file_name);
// Creates one folder level. locked: with the access list below; when that
// list cannot be made, no folder is created.
bool CreateFolder(const char* path, bool locked);
bool CreateFolder(const wchar_t* path, bool locked);
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
  MappedFile(const wchar_t* path, bool readOnly, DWORD size);
  virtual ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  void* View() const { return view_; }
  HANDLE File() const { return file_; }
  // Size of the mapped file (0 when it could not be opened).
  DWORD Size() const;

 private:
  void Map(bool readOnly, DWORD size);
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
