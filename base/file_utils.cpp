#include "base/file_utils.h"

#include <sddl.h>
#include <string.h>

#include "base/diagnostic_log.h"
#include "base/text.h"

// Whether something exists with these attributes and is (or is not) a folder.
static bool IsKind(DWORD attributes, bool folder) {
  return attributes != INVALID_FILE_ATTRIBUTES && ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder;
}

bool IsDirectoryPath(const char* path) { return IsKind(GetFileAttributesA(path), true); }
bool IsFilePath(const char* path) { return IsKind(GetFileAttributesA(path), false); }
bool IsDirectoryPath(const wchar_t* path) { return IsKind(GetFileAttributesW(path), true); }
bool IsFilePath(const wchar_t* path) { return IsKind(GetFileAttributesW(path), false); }

bool AppendPath(wchar_t* out, size_t cap, const wchar_t* text) {
  size_t used = lstrlenW(out), length = lstrlenW(text);
  if (used + length >= cap) return false;
  memcpy(out + used, text, (length + 1) * sizeof *text);
  return true;
}

// A UTF-8 code page takes every character and refuses the flag and the
// question of a stand-in.
static int ToCodePage(const wchar_t* path, char* out, size_t cap, BOOL* stand_in) {
  if (GetACP() == CP_UTF8) stand_in = nullptr;
  return WideCharToMultiByte(CP_ACP, stand_in ? WC_NO_BEST_FIT_CHARS : 0, path, -1, out, static_cast<int>(cap),
                             nullptr, stand_in);
}

bool NarrowPath(const wchar_t* path, char* out, size_t cap) {
  BOOL stand_in = FALSE;
  if (ToCodePage(path, out, cap, &stand_in) > 0 && !stand_in) return true;
  if (cap) out[0] = 0;
  return false;
}

void LogTextOf(const wchar_t* path, char* out, size_t cap) {
  if (ToCodePage(path, out, cap, nullptr) <= 0 && cap) out[0] = 0;
}

bool OwnPath(wchar_t* out, DWORD cap) {
  DWORD length = GetModuleFileNameW(nullptr, out, cap);
  return length > 0 && length < cap;
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

bool CreateFolder(const wchar_t* path, bool locked) {
  if (!locked) return CreateDirectoryW(path, nullptr) != 0;
  // Given at creation, so the folder never stands with the parent's list.
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, NewLockedFolderDescriptor(), FALSE};
  if (!attributes.lpSecurityDescriptor) return false;
  BOOL created = CreateDirectoryW(path, &attributes);
  LocalFree(attributes.lpSecurityDescriptor);
  return created != 0;
}

bool CreateFolder(const char* path, bool locked) {
  wchar_t wide[MAX_PATH];
  return MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) > 0 && CreateFolder(wide, locked);
}

ByteString MakeTempFileName() {
  wchar_t folder[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, folder);
  wchar_t name[MAX_PATH + 1];
  if (n == 0 || n > MAX_PATH || GetTempFileNameW(folder, L"TMP", 0, name) == 0) return ByteString("");
  char narrow[MAX_PATH + 1];
  if (NarrowPath(name, narrow, sizeof narrow)) return ByteString(narrow);
  wchar_t short_name[MAX_PATH + 1];
  n = GetShortPathNameW(name, short_name, MAX_PATH + 1);
  if (n > 0 && n <= MAX_PATH && NarrowPath(short_name, narrow, sizeof narrow)) return ByteString(narrow);
  // No name the transports could open: the file is not left behind.
  DeleteFileW(name);
  return ByteString("");
}

void FileHandle::Open(const char* path, DWORD disposition, bool readOnly) {
  Close();
  handle_ = CreateFileA(path, readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                        readOnly ? FILE_SHARE_READ : 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

static bool disk_full = false;

void NoteDiskFull(DWORD missing) {
  disk_full = true;
  LogPrint("Disk full: %u bytes missing\n", static_cast<unsigned>(missing));
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
  Map(readOnly, size);
}

MappedFile::MappedFile(const wchar_t* path, bool readOnly, DWORD size)
    : view_(nullptr), mapping_(nullptr), file_(INVALID_HANDLE_VALUE) {
  file_ = CreateFileW(path, readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                      readOnly ? OPEN_EXISTING : CREATE_ALWAYS, FILE_FLAG_RANDOM_ACCESS | FILE_ATTRIBUTE_NORMAL,
                      nullptr);
  Map(readOnly, size);
}

void MappedFile::Map(bool readOnly, DWORD size) {
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
