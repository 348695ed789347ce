#include "install/folder_rules.h"

#include <stdint.h>
#include <string.h>

#include "base/little_endian.h"
#include "base/text.h"

bool EndWithBackslash(char* folder, size_t cap) {
  size_t n = strlen(folder);
  if (n == 0 || folder[n - 1] == '\\') return true;
  return AppendText(folder, cap, "\\");
}

static char LowerLetter(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsInsideFolder(const char* path, const char* folder) {
  if (strstr(path, "..")) return false;
  size_t n = strlen(folder);
  while (n > 0 && folder[n - 1] == '\\') --n;
  if (n <= 2) return false;  // "", "C:" and the like: a whole drive
  for (size_t i = 0; i < n; ++i) {
    if (LowerLetter(path[i]) != LowerLetter(folder[i])) return false;  // also ends at path's zero
  }
  if (path[n] != '\\') return false;
  // A tail of separators, dots and spaces alone (".", " .") names the folder
  // itself to the platform.
  for (const char* p = path + n + 1; *p; ++p) {
    if (*p != '\\' && *p != '.' && *p != ' ') return true;
  }
  return false;
}

namespace {


// S-1-5-32-544 (Administrators) and S-1-5-18 (SYSTEM) as the platform stores them.
const unsigned char kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
const unsigned char kSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};

// Whether the SID at `at` (inside [0, size)) is one of the two.
bool IsTrustedSid(const unsigned char* sd, size_t size, size_t at) {
  if (at > size || size - at < 8) return false;
  size_t length = 8 + 4 * static_cast<size_t>(sd[at + 1]);
  if (size - at < length) return false;
  return (length == sizeof kAdministrators && memcmp(sd + at, kAdministrators, length) == 0) ||
         (length == sizeof kSystem && memcmp(sd + at, kSystem, length) == 0);
}

}  // namespace

bool IsAdministratorsFolder(const unsigned char* sd, size_t size) {
  // Self-relative: revision, padding, control, then the offsets of owner,
  // group, audit list and access list.
  const uint32_t kDaclPresent = 0x4, kSelfRelative = 0x8000;
  if (size < 20 || sd[0] != 1 || (ReadLe16(sd + 2) & (kDaclPresent | kSelfRelative)) != (kDaclPresent | kSelfRelative))
    return false;
  uint32_t owner = ReadLe32(sd + 4), dacl = ReadLe32(sd + 16);
  // No list at all lets everyone in.
  if (!IsTrustedSid(sd, size, owner) || dacl == 0 || dacl > size || size - dacl < 8) return false;
  size_t acl_end = dacl + ReadLe16(sd + dacl + 2);
  if (acl_end > size) return false;
  uint32_t count = ReadLe16(sd + dacl + 4);
  size_t at = dacl + 8;
  for (uint32_t i = 0; i < count; ++i) {
    if (at > acl_end || acl_end - at < 8) return false;
    uint32_t type = sd[at], ace_size = ReadLe16(sd + at + 2), mask = ReadLe32(sd + at + 4);
    if (ace_size < 8 || ace_size > acl_end - at) return false;
    // Writing, adding, deleting, and changing the list or the owner, also
    // through the generic rights.
    const uint32_t kChangeRights = 0x500d0156;
    // Allowing entries: plain (0) and conditional (9) ones name their SID
    // after the mask; the compound and object kinds (4, 5, 11) are not
    // read and count as another account.
    bool allows = type == 0 || type == 4 || type == 5 || type == 9 || type == 11;
    if (allows && (mask & kChangeRights) &&
        !((type == 0 || type == 9) && IsTrustedSid(sd, at + ace_size, at + 8)))
      return false;
    at += ace_size;
  }
  return true;
}

FolderVerdict JudgeInstallFolder(uint32_t volume_flags, const unsigned char* descriptor, size_t size, bool holds) {
  if (!(volume_flags & kPersistentAccessLists)) return kFolderRefused;
  if (!descriptor || IsAdministratorsFolder(descriptor, size)) return kFolderLeft;
  return holds ? kFolderNotEmpty : kFolderToLock;
}
