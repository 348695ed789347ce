#include "base/file_utils.h"

#include <sddl.h>

#include "base/diagnostic_log.h"
#include "base/text.h"

bool IsDirectoryPath(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFilePath(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD FileSizeOf(const char* path) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(path, &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  return entry.nFileSizeLow;
}

HMODULE LoadSystemLibrary(const char* file_name) {
  char path[MAX_PATH];
  UINT length = GetSystemDirectoryA(path, sizeof path);
  if (length == 0 || length >= sizeof path) return nullptr;
  if (!AppendText(path, sizeof path, "\\") || !AppendText(path, sizeof path, file_name)) return nullptr;
  return LoadLibraryA(path);
}

PSECURITY_DESCRIPTOR NewLockedDescriptor(const char* head, const char* inheritance) {
  // Composed rather than stored whole: the lists differ only in their heads
  // and flags. 0x1200a9: read and execute. Short texts: it always fits.
  char list[160];
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (FormatText(list, sizeof list, "%s(A;%s;FA;;;BA)(A;%s;FA;;;SY)(A;%s;0x1200a9;;;BU)", head, inheritance,
                 inheritance, inheritance) < 0 ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorA(list, SDDL_REVISION_1, &descriptor, nullptr))
    return nullptr;
  return descriptor;
}

// P: protected from the parent's list. OICI: files and folders below
// inherit each entry.
PSECURITY_DESCRIPTOR NewLockedFolderDescriptor() { return NewLockedDescriptor("D:P", "OICI"); }

bool CreateFolder(const char* path, bool locked) {
  if (!locked) return CreateDirectoryA(path, nullptr) != 0;
  // Given at creation, so the folder never stands with the parent's list.
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, NewLockedFolderDescriptor(), FALSE};
  if (!attributes.lpSecurityDescriptor) return false;
  BOOL created = CreateDirectoryA(path, &attributes);
  LocalFree(attributes.lpSecurityDescriptor);
  return created != 0;
}

ByteString MakeTempFileName() {
  char folder[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof folder, folder);
  char name[MAX_PATH + 1];
  if (n == 0 || n >= sizeof folder || GetTempFileNameA(folder, "TMP", 0, name) == 0) return ByteString("");
  return ByteString(name);
}

void FileHandle::Open(const char* path, DWORD disposition, bool readOnly) {
  Close();
  handle_ = CreateFileA(path, readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                        readOnly ? FILE_SHARE_READ : 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

static bool disk_full = false;

void NoteDiskFull(DWORD missing) {
  disk_full = true;
  LogPrint("Disk full: %u bytes missing\r\n", static_cast<unsigned>(missing));
}

bool DiskFullNoted() { return disk_full; }

void ClearDiskFull() { disk_full = false; }

bool WriteAll(HANDLE file, const void* data, DWORD length) {
  DWORD written = 0;
  BOOL ok = WriteFile(file, data, length, &written, nullptr);
  if (ok && written == length) return true;
  // A file on a disk comes out short only when the disk is full.
  DWORD error = ok ? ERROR_DISK_FULL : GetLastError();
  if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) NoteDiskFull(length - written);
  return false;
}

bool FileHandle::Write(const void* data, DWORD length) { return WriteAll(handle_, data, length); }

void FileHandle::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

MappedFile::MappedFile(const char* path, bool readOnly, DWORD size)
    : view_(nullptr), mapping_(nullptr), file_(INVALID_HANDLE_VALUE) {
  file_ = CreateFileA(path, readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                      readOnly ? OPEN_EXISTING : CREATE_ALWAYS, FILE_FLAG_RANDOM_ACCESS | FILE_ATTRIBUTE_NORMAL,
                      nullptr);
  if (file_ == INVALID_HANDLE_VALUE) return;
  mapping_ = CreateFileMappingA(file_, nullptr, readOnly ? PAGE_READONLY : PAGE_READWRITE, 0, size, nullptr);
  if (!mapping_) return;
  view_ = MapViewOfFile(mapping_, readOnly ? FILE_MAP_READ : FILE_MAP_WRITE, 0, 0, 0);
}

MappedFile::~MappedFile() {
  if (view_) UnmapViewOfFile(view_);
  if (mapping_) CloseHandle(mapping_);
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

DWORD MappedFile::Size() const { return file_ == INVALID_HANDLE_VALUE ? 0 : GetFileSize(file_, nullptr); }

TemporaryFile::~TemporaryFile() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  if (!name_.IsEmpty()) DeleteFileA(name_.Text());
}

bool TemporaryFile::Read(void* buffer, DWORD wanted, DWORD* read) {
  if (handle_ == INVALID_HANDLE_VALUE) {
    handle_ = CreateFileA(name_.Text(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return false;
  }
  DWORD count = 0;
  BOOL ok = ReadFile(handle_, buffer, wanted, &count, nullptr);
  if (read) *read = count;
  return ok != 0;
}
