#include "install/folder_access.h"

#include <windows.h>

#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "base/text.h"
#include "install/folder_rules.h"

namespace {

// Another account's folder can be taken over only with these on: taking
// ownership, and restoring, which grants the list and the owner whatever
// the folder's entries say (an entry for the owner's rights among them).
// On only while the folder is secured.
void SetTakeover(DWORD state) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
  static const char* const kNames[] = {"SeTakeOwnershipPrivilege", "SeRestorePrivilege"};
  for (const char* name : kNames) {
    TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, state}}};
    if (LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid))
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  }
  CloseHandle(token);
}

// The owner first (the privilege allows that), then the list (an owner may
// always change it). Opened as itself: a link is changed, never followed;
// a file with a second name is refused, as the change would reach it there.
bool Apply(const char* path, SecuredKind kind) {
  PSECURITY_DESCRIPTOR descriptor = NewSecuredDescriptor(kind);
  if (!descriptor) return false;
  static const DWORD kSteps[2][2] = {{WRITE_OWNER, OWNER_SECURITY_INFORMATION}, {WRITE_DAC, DACL_SECURITY_INFORMATION}};
  DWORD error = 0;
  for (const DWORD* step : kSteps) {
    const DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileA(path, step[0] | FILE_READ_ATTRIBUTES, kShare, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info)) {
      error = GetLastError();
    } else if (kind == kHeldFile && info.nNumberOfLinks > 1) {
      error = ERROR_TOO_MANY_LINKS;
    } else if (!SetKernelObjectSecurity(file, step[1], descriptor)) {
      error = GetLastError();
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (error) break;
  }
  LocalFree(descriptor);
  if (error) LogPrint("Securing %s failed 0x%x\r\n", path, error);
  return error == 0;
}

// Everything below folder, each folder before its listing; links are not
// entered. A path that does not fit is not cut: the whole fails.
bool ApplyBelow(const char* folder) {
  char path[MAX_PATH];
  WIN32_FIND_DATAA entry;
  if (FormatText(path, sizeof path, "%s\\*", folder) < 0) return false;
  HANDLE search = FindFirstFileA(path, &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    const char* name = entry.cFileName;
    if (name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]))) continue;
    bool directory = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    bool link = entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
    ok = FormatText(path, sizeof path, "%s\\%s", folder, name) >= 0 &&
         Apply(path, directory ? kHeldFolder : kHeldFile) && (!directory || link || ApplyBelow(path));
  } while (ok && FindNextFileA(search, &entry));
  FindClose(search);
  return ok;
}

}  // namespace

bool SecureInstallFolder(const char* folder) {
  char root[MAX_PATH];
  DWORD flags = 0;
  if (!GetVolumePathNameA(folder, root, sizeof root) ||
      !GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
    flags = 0;
  DWORD attributes = GetFileAttributesA(folder);
  bool exists = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  // A link would send what is fetched wherever it points.
  if (exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    LogPrint("Install folder %s is a link\r\n", folder);
    return false;
  }
  const SECURITY_INFORMATION kWanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  unsigned char* descriptor = nullptr;
  if (exists) {
    // One that cannot be read is judged as no list: it is locked.
    GetFileSecurityA(folder, kWanted, nullptr, 0, &size);
    descriptor = static_cast<unsigned char*>(LocalAlloc(LPTR, size + 1));
    if (!descriptor) return false;
    if (!GetFileSecurityA(folder, kWanted, descriptor, size, &size)) size = 0;
  }
  FolderVerdict verdict = JudgeInstallFolder(flags, descriptor, size);
  LocalFree(descriptor);
  if (verdict == kFolderRefused) {
    LogPrint("Install folder %s: its volume keeps no access lists (flags 0x%x)\r\n", folder, flags);
    return false;
  }
  if (verdict == kFolderLeft) return true;
  LogPrint("Install folder %s is not the administrators' alone: locking it\r\n", folder);
  SetTakeover(SE_PRIVILEGE_ENABLED);
  bool secured = Apply(folder, kSecuredFolder) && ApplyBelow(folder);
  SetTakeover(0);
  return secured;
}

PSECURITY_DESCRIPTOR NewSecuredDescriptor(SecuredKind kind) {
  // The folder's own list is protected from its parent's; what it holds
  // gets the same entries as inherited ones, as the platform passes them on.
  if (kind == kSecuredFolder) return NewLockedDescriptor("O:BAD:PAI", "OICI");
  return NewLockedDescriptor("O:BAD:AI", kind == kHeldFolder ? "OICIID" : "ID");
}
