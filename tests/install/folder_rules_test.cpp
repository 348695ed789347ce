#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "install/folder_rules.h"

namespace {

std::string Ended(const std::string& folder, size_t cap = 260) {
  char out[260];
  snprintf(out, sizeof out, "%s", folder.c_str());
  if (!EndWithBackslash(out, cap)) return "<refused:" + std::string(out) + ">";
  return out;
}

TEST(FolderRules, StoredFolderEndsWithOneBackslash) {
  EXPECT_EQ("C:\\Program Files\\Pellomar\\", Ended("C:\\Program Files\\Pellomar"));
  EXPECT_EQ("C:\\Program Files\\Pellomar\\", Ended("C:\\Program Files\\Pellomar\\"));
  EXPECT_EQ("", Ended(""));
  // "D:\Pellomar" (11 characters) takes the backslash in 13 bytes, not in 12.
  EXPECT_EQ("D:\\Pellomar\\", Ended("D:\\Pellomar", 13));
  EXPECT_EQ("<refused:D:\\Pellomar>", Ended("D:\\Pellomar", 12));
}

TEST(FolderRules, InsideMeansARealSubFolder) {
  struct Case {
    const char* path;
    const char* folder;
    bool inside;
  } cases[] = {
      {"C:\\Program Files\\Pellomar", "C:\\Program Files", true},
      {"c:\\PROGRAM FILES\\Pellomar", "C:\\Program Files", true},
      {"C:\\Program Files\\Pellomar", "C:\\Program Files\\", true},
      {"C:\\Program Files (x86)\\Pellomar", "C:\\Program Files", false},
      {"C:\\Program FilesX\\Pellomar", "C:\\Program Files", false},
      {"C:\\Program Files", "C:\\Program Files", false},
      {"C:\\Program Files\\", "C:\\Program Files", false},
      {"C:\\Program", "C:\\Program Files", false},
      {"D:\\Program Files\\Pellomar", "C:\\Program Files", false},
      {"C:\\Program Files\\..\\Pellomar", "C:\\Program Files", false},
      // Separators, dots and spaces alone are the folder itself to the platform.
      {"C:\\Program Files\\.", "C:\\Program Files", false},
      {"C:\\Program Files\\\\", "C:\\Program Files", false},
      {"C:\\Program Files\\ .\\", "C:\\Program Files", false},
      {"C:\\Program Files\\.\\Pellomar", "C:\\Program Files", true},
      {"C:\\Program Files\\.x", "C:\\Program Files", true},
      // A program-files value that names a whole drive, or none, holds nothing.
      {"C:\\Pellomar", "C:\\", false},
      {"C:\\Pellomar", "C:", false},
      {"C:\\Pellomar", "C", false},
      {"C:\\Pellomar", "", false},
      {"\\Pellomar", "\\", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.inside, IsInsideFolder(c.path, c.folder)) << c.path << " in " << c.folder;
  }
}

// Security descriptors in the platform's self-relative form, built here so
// that the decision is tested without the platform.
std::string Bytes16(uint32_t v) { return std::string{static_cast<char>(v & 0xff), static_cast<char>(v >> 8 & 0xff)}; }
std::string Bytes32(uint32_t v) { return Bytes16(v & 0xffff) + Bytes16(v >> 16); }

std::string Sid(unsigned char authority, std::vector<uint32_t> parts) {
  std::string sid = {1, static_cast<char>(parts.size()), 0, 0, 0, 0, 0, static_cast<char>(authority)};
  for (uint32_t part : parts) sid += Bytes32(part);
  return sid;
}

const std::string kAdministrators = Sid(5, {32, 544}), kSystem = Sid(5, {18}), kUsers = Sid(5, {32, 545}),
                  kAuthenticated = Sid(5, {11}), kEveryone = Sid(1, {0}), kCreatorOwner = Sid(3, {0}),
                  kSomeUser = Sid(5, {21, 1, 2, 3, 1001});

struct Ace {
  unsigned char type;  // 0 allow, 1 deny, 5 allow-object
  unsigned char flags;
  uint32_t mask;
  std::string sid;
};

// Header, access list, owner. dacl false: no list at all; null: present
// but empty of a body.
std::string Descriptor(const std::string& owner, const std::vector<Ace>& aces, bool dacl = true, bool null = false) {
  std::string list;
  for (const Ace& a : aces) {
    std::string body = Bytes32(a.mask) + a.sid;
    list += std::string{static_cast<char>(a.type), static_cast<char>(a.flags)} + Bytes16(4 + body.size()) + body;
  }
  list = std::string{2, 0} + Bytes16(8 + list.size()) + Bytes16(aces.size()) + Bytes16(0) + list;
  uint32_t control = 0x8000 | (dacl ? 0x4 : 0);
  uint32_t owner_at = 20 + static_cast<uint32_t>(list.size());
  return std::string{1, 0} + Bytes16(control) + Bytes32(owner_at) + Bytes32(0) + Bytes32(0) +
         Bytes32(dacl && !null ? 20 : 0) + list + owner;
}

bool Decide(const std::string& descriptor) {
  // An exact copy, so a read past the end is caught by the sanitizer.
  std::vector<unsigned char> exact(descriptor.begin(), descriptor.end());
  return IsAdministratorsFolder(exact.data(), exact.size());
}

TEST(FolderRules, OnlyAFolderOfTheAdministratorsAloneIsLeftAsItIs) {
  const uint32_t kFull = 0x1f01ff, kReadExecute = 0x1200a9, kModify = 0x1301bf;
  const std::vector<Ace> kLocked = {{0, 3, kFull, kAdministrators}, {0, 3, kFull, kSystem},
                                    {0, 3, kReadExecute, kUsers}};
  auto with = [&](Ace extra) {
    std::vector<Ace> aces = kLocked;
    aces.push_back(extra);
    return aces;
  };
  struct Case {
    const char* name;
    std::string descriptor;
    bool theirs;
  } cases[] = {
      {"the locked list, Administrators own it", Descriptor(kAdministrators, kLocked), true},
      {"SYSTEM owns it", Descriptor(kSystem, kLocked), true},
      {"a user owns it", Descriptor(kSomeUser, kLocked), false},
      {"Everyone may read", Descriptor(kAdministrators, with({0, 0, kReadExecute, kEveryone})), true},
      {"a denying entry changes nothing", Descriptor(kAdministrators, with({1, 0, kFull, kUsers})), true},
      {"Users may modify", Descriptor(kAdministrators, with({0, 0, kModify, kUsers})), false},
      {"authenticated users may add, inherit-only",
       Descriptor(kAdministrators, with({0, 0x0b, 0x6, kAuthenticated})), false},
      {"a creator owner entry", Descriptor(kAdministrators, with({0, 0x0b, kFull, kCreatorOwner})), false},
      {"a user may change the list", Descriptor(kAdministrators, with({0, 0, 0x40000, kSomeUser})), false},
      {"a user may delete", Descriptor(kAdministrators, with({0, 0, 0x10000, kSomeUser})), false},
      {"generic write", Descriptor(kAdministrators, with({0, 0, 0x40000000, kEveryone})), false},
      {"generic all", Descriptor(kAdministrators, with({0, 0, 0x10000000, kEveryone})), false},
      {"an allowing object entry is not read", Descriptor(kAdministrators, with({5, 0, kFull, kAdministrators})),
       false},
      {"no access list", Descriptor(kAdministrators, kLocked, false), false},
      {"a null access list", Descriptor(kAdministrators, kLocked, true, true), false},
      {"an empty access list", Descriptor(kAdministrators, {}), true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.theirs, Decide(c.descriptor)) << c.name;

  // A volume without persistent access lists (FAT, exFAT) is refused, the
  // administrators' folder too; a folder made just now is left as made.
  // Another account's folder is taken over only while it holds nothing.
  const std::string locked = Descriptor(kAdministrators, kLocked), open = Descriptor(kSomeUser, kLocked);
  const unsigned char* l = reinterpret_cast<const unsigned char*>(locked.data());
  const unsigned char* o = reinterpret_cast<const unsigned char*>(open.data());
  EXPECT_EQ(kFolderRefused, JudgeInstallFolder(0x2 | 0x4, l, locked.size(), false));
  EXPECT_EQ(kFolderRefused, JudgeInstallFolder(0, nullptr, 0, false));
  EXPECT_EQ(kFolderRefused, JudgeInstallFolder(0x2, o, open.size(), true));
  EXPECT_EQ(kFolderLeft, JudgeInstallFolder(0x8 | 0x2, l, locked.size(), true));
  EXPECT_EQ(kFolderLeft, JudgeInstallFolder(0x8, nullptr, 0, false));
  EXPECT_EQ(kFolderToLock, JudgeInstallFolder(0x8, o, open.size(), false));
  EXPECT_EQ(kFolderNotEmpty, JudgeInstallFolder(0x8, o, open.size(), true));
  EXPECT_EQ(kFolderNotEmpty, JudgeInstallFolder(0x8, l, 0, true));  // an unreadable list counts as none

  // Cut anywhere, or with an entry count beyond the list: never theirs.
  std::string whole = Descriptor(kAdministrators, kLocked);
  for (size_t cut = 0; cut < whole.size(); ++cut) EXPECT_FALSE(Decide(whole.substr(0, cut))) << cut;
  std::string counted = whole;
  counted.replace(20 + 4, 2, Bytes16(4));
  EXPECT_FALSE(Decide(counted));
}

}  // namespace
