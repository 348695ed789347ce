#include "install/folder_access.h"

#include <string.h>
#include <windows.h>

#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "install/folder_rules.h"

namespace {

// Log lines are narrow: names go through the system's code page.
struct NarrowName {
  explicit NarrowName(const wchar_t* wide) {
    if (!WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr)) text[0] = 0;
  }
  char text[MAX_PATH];
};

// Another account's folder can be taken over only with these on: taking
// ownership, and restoring, which grants the list and the owner whatever
// the folder's entries say. On only while the folder is secured, then
// back to what they were (a caller may have had them on already).
struct TakeoverPrivileges {
  DWORD count;
  LUID_AND_ATTRIBUTES entries[2];
};

bool SwitchTakeover(HANDLE token, TakeoverPrivileges* to, TakeoverPrivileges* before) {
  DWORD size = 0;
  return AdjustTokenPrivileges(token, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(to), sizeof *before,
                               reinterpret_cast<TOKEN_PRIVILEGES*>(before), &size) != 0;
}

// The owner first (the privilege allows that), then the list (an owner may
// always change it). Opened as itself: a link is changed, never followed,
// and refused.
bool SecureFolder(const wchar_t* path) {
  PSECURITY_DESCRIPTOR descriptor = NewSecuredDescriptor();
  if (!descriptor) return false;
  static const DWORD kSteps[2][2] = {{WRITE_OWNER, OWNER_SECURITY_INFORMATION}, {WRITE_DAC, DACL_SECURITY_INFORMATION}};
  DWORD error = 0;
  for (const DWORD* step : kSteps) {
    const DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileW(path, step[0] | FILE_READ_ATTRIBUTES, kShare, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info)) {
      error = GetLastError();
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      error = ERROR_CANT_ACCESS_FILE;
    } else if (!SetKernelObjectSecurity(file, step[1], descriptor)) {
      error = GetLastError();
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (error) break;
  }
  LocalFree(descriptor);
  if (error) LogPrint("Securing %s failed 0x%x\n", NarrowName(path).text, error);
  return error == 0;
}

// The folder's first entry other than "." and ".." (an empty name when it
// holds none). False when it cannot be listed: not known to be empty.
bool FirstEntry(const wchar_t* folder, WIN32_FIND_DATAW* entry) {
  wchar_t pattern[MAX_PATH];
  int n = lstrlenW(folder);
  if (n + 3 > MAX_PATH) return false;  // never a cut path
  memcpy(pattern, folder, n * sizeof *folder);
  lstrcpyW(pattern + n, L"\\*");
  HANDLE search = FindFirstFileW(pattern, entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool listed = true;
  for (;;) {
    const wchar_t* name = entry->cFileName;
    if (!(name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2])))) break;
    if (!FindNextFileW(search, entry)) {
      listed = GetLastError() == ERROR_NO_MORE_FILES;
      entry->cFileName[0] = 0;
      break;
    }
  }
  FindClose(search);
  return listed;
}

bool HoldsAnything(const wchar_t* folder) {
  WIN32_FIND_DATAW entry;
  if (!FirstEntry(folder, &entry)) {
    LogPrint("Install folder %s cannot be listed\n", NarrowName(folder).text);
    return true;
  }
  if (entry.cFileName[0])
    LogPrint("Install folder %s holds %s\n", NarrowName(folder).text, NarrowName(entry.cFileName).text);
  return entry.cFileName[0] != 0;
}

bool TakeOver(const wchar_t* folder) {
  HANDLE token;
  TakeoverPrivileges on = {2, {{{0, 0}, SE_PRIVILEGE_ENABLED}, {{0, 0}, SE_PRIVILEGE_ENABLED}}}, before = {};
  bool opened = OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token) &&
                LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &on.entries[0].Luid) &&
                LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &on.entries[1].Luid);
  // Only those whose state changed come back in before.
  if (opened) SwitchTakeover(token, &on, &before);
  // What arrived while the list was put on is found by the second look.
  bool secured = SecureFolder(folder) && !HoldsAnything(folder);
  if (before.count) SwitchTakeover(token, &before, &on);
  if (opened) CloseHandle(token);
  return secured;
}

}  // namespace

bool PrepareInstallFolder(const wchar_t* folder, bool locked) {
  if (!locked) return CreateDirectoryW(folder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
  wchar_t root[MAX_PATH];
  DWORD flags = 0;
  if (!GetVolumePathNameW(folder, root, MAX_PATH) ||
      !GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
    flags = 0;
  FolderVerdict verdict = JudgeInstallFolder(flags, nullptr, 0, false);
  if (verdict == kFolderLeft) {
    // Made with the locked list in one step: it never stands with the
    // parent's. Only when it exists already is it judged.
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, NewSecuredDescriptor(), FALSE};
    BOOL made = attributes.lpSecurityDescriptor && CreateDirectoryW(folder, &attributes);
    DWORD error = made ? 0 : GetLastError();
    LocalFree(attributes.lpSecurityDescriptor);
    if (made) return true;
    if (error != ERROR_ALREADY_EXISTS) {
      LogPrint("CreateDirectory %s failed 0x%x\n", NarrowName(folder).text, error);
      return false;
    }
    DWORD attributes_found = GetFileAttributesW(folder);
    // A link would send what is fetched wherever it points.
    if (attributes_found == INVALID_FILE_ATTRIBUTES || !(attributes_found & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes_found & FILE_ATTRIBUTE_REPARSE_POINT)) {
      LogPrint("Install folder %s is a link or no folder\n", NarrowName(folder).text);
      return false;
    }
    // One whose list cannot be read is judged as having none.
    const SECURITY_INFORMATION kWanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    GetFileSecurityW(folder, kWanted, nullptr, 0, &size);
    unsigned char* descriptor = static_cast<unsigned char*>(LocalAlloc(LPTR, size + 1));
    if (!descriptor) return false;
    if (!GetFileSecurityW(folder, kWanted, descriptor, size, &size)) size = 0;
    verdict = JudgeInstallFolder(flags, descriptor, size, HoldsAnything(folder));
    LocalFree(descriptor);
  }
  if (verdict == kFolderRefused)
    LogPrint("Install folder %s: volume keeps no access lists (flags 0x%x)\n", NarrowName(folder).text, flags);
  // Another account's that holds anything: its first entry is in the log.
  if (verdict != kFolderToLock) return verdict == kFolderLeft;
  LogPrint("Install folder %s is not the administrators' alone: locking it\n", NarrowName(folder).text);
  return TakeOver(folder);
}

PSECURITY_DESCRIPTOR NewSecuredDescriptor() { return NewLockedDescriptor("O:BAD:PAI", "OICI"); }
