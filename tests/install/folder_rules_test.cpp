#include <gtest/gtest.h>
#include <stdio.h>

#include <string>

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

}  // namespace
