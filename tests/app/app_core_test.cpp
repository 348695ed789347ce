// Byte counts and folder rules of the drive dialog; the arguments the
// program's own entry point hands WinMain.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "app/command_line.h"
#include "app/install_folder.h"
#include "base/byte_count.h"

namespace {

TEST(CommandLine, ArgumentsAfterProgramName) {
  const struct {
    const char* line;
    const char* arguments;
  } rows[] = {
      {"Setup.exe", ""},
      {"Setup.exe /a b", "/a b"},
      {"Setup.exe \t  /a ", "/a "},
      {"\"C:\\Program Files\\Setup.exe\" /a", "/a"},
      {"\"C:\\Program Files\\Setup.exe\"/a", "/a"},  // no blank after the quote
      {"\"C:\\unclosed name /a", ""},                   // the name takes the rest
      {"\"\" /a", "/a"},
      {"  /a", "/a"},  // a blank first: the name is empty
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_STREQ(row.arguments, ArgumentsAfterProgramName(row.line)) << row.line;
  EXPECT_STREQ("", ArgumentsAfterProgramName(nullptr));
}

TEST(CommandLine, SwitchIsAWordOfItsOwn) {
  const struct {
    const char* arguments;
    bool log;
  } rows[] = {
      {"/log", true},       {"/LOG", true},      {"/a /Log\t", true}, {"/logx", false},
      {"x/log", false},     {"/lo", false},      {"", false},          {"/a  /log", true},
  };
  for (const auto& row : rows) EXPECT_EQ(row.log, HasSwitch(row.arguments, "/log")) << row.arguments;
}

TEST(FormatByteCount, UnitsAndFractions) {
  EXPECT_STREQ("0bytes", FormatByteCount(0));
  EXPECT_STREQ("1000bytes", FormatByteCount(1000));
  EXPECT_STREQ("1024bytes", FormatByteCount(1024));  // exactly 1024 stays
  EXPECT_STREQ("1.00kb", FormatByteCount(1025));
  EXPECT_STREQ("1.50kb", FormatByteCount(1536));
  EXPECT_STREQ("1024.00kb", FormatByteCount(1024 * 1024));
  EXPECT_STREQ("1024.00kb", FormatByteCount(1024 * 1024 + 1));
  EXPECT_STREQ("1.00Mb", FormatByteCount(1025 * 1024));
  EXPECT_STREQ("50.51Mb", FormatByteCount(52969472));
  EXPECT_STREQ("50.51Mb", FormatByteCount(52969471));
  EXPECT_STREQ("3.00Gb", FormatByteCount(3221225472LL));
  EXPECT_STREQ("20.00Mb", FormatByteCount(20LL * 1024 * 1024));
  // A fraction below ten keeps its leading zero: 1 + 50/1024 kb.
  EXPECT_STREQ("1.04kb", FormatByteCount(1024 + 50));
}

TEST(FormatByteCount, BeyondTerabytesStaysInTb) {
  const int64_t tb = 1024LL * 1024 * 1024 * 1024;
  EXPECT_STREQ("1024.00Tb", FormatByteCount(1024 * tb));
  EXPECT_STREQ("1025.00Tb", FormatByteCount(1025 * tb));
  EXPECT_STREQ("8388607.99Tb", FormatByteCount(INT64_MAX));
  EXPECT_STREQ("-8388608.00Tb", FormatByteCount(INT64_MIN));
  EXPECT_STREQ("-1.50kb", FormatByteCount(-1536));
}

TEST(FormatByteCount, BoundedBuffer) {
  char out[8];
  EXPECT_TRUE(FormatByteCountInto(out, sizeof out, 1536));
  EXPECT_STREQ("1.50kb", out);
  // "1000bytes" needs 10 bytes: refused, never cut.
  EXPECT_FALSE(FormatByteCountInto(out, sizeof out, 1000));
  EXPECT_STREQ("", out);
  char wide[24];
  EXPECT_TRUE(FormatByteCountInto(wide, sizeof wide, INT64_MAX));
  // The process-wide buffer is overwritten by the next call.
  const char* first = FormatByteCount(1000);
  FormatByteCount(1536);
  EXPECT_STREQ("1.50kb", first);
}

std::string Chosen(const char* program_files, char letter) {
  char folder[260];
  DefaultInstallFolder(program_files, folder, sizeof folder);
  if (!FinishInstallFolder(folder, sizeof folder, letter)) return "<refused>";
  return folder;
}

TEST(InstallFolder, DefaultsAndChoices) {
  char folder[260];
  DefaultInstallFolder("C:\\Program Files", folder, sizeof folder);
  EXPECT_STREQ("C:\\Program Files\\Pellomar", folder);
  DefaultInstallFolder("", folder, sizeof folder);
  EXPECT_STREQ("\\Pellomar", folder);
  DefaultInstallFolder(nullptr, folder, sizeof folder);
  EXPECT_STREQ("\\Pellomar", folder);

  // The program-files drive kept, in either case.
  EXPECT_EQ("C:\\Program Files\\Pellomar\\", Chosen("C:\\Program Files", 'C'));
  EXPECT_EQ("c:\\Program Files\\Pellomar\\", Chosen("c:\\Program Files", 'C'));
  // Another drive: its root, the letter in upper case.
  EXPECT_EQ("D:\\Pellomar\\", Chosen("C:\\Program Files", 'd'));
  // No stored value reads as "C:".
  EXPECT_EQ("C:\\Pellomar\\", Chosen("C:", 'C'));
  // An empty value has no drive letter: any drive gives its root.
  EXPECT_EQ("C:\\Pellomar\\", Chosen("", 'C'));
  EXPECT_EQ("Z:\\Pellomar\\", Chosen("", 'z'));
  // A value that is no absolute path on the drive is not kept: it would give
  // a relative or drive-relative folder.
  EXPECT_EQ("C:\\Pellomar\\", Chosen("C", 'C'));
  EXPECT_EQ("C:\\Pellomar\\", Chosen("C:Program Files", 'C'));
  EXPECT_EQ("C:\\Pellomar\\", Chosen("C/Program Files", 'c'));
  EXPECT_EQ("D:\\Pellomar\\", Chosen("D:/Program Files", 'D'));
}

TEST(InstallFolder, OverlongProgramFilesIsNeverCut) {
  std::string longest = "E:\\" + std::string(250, 'x');
  char folder[260];
  DefaultInstallFolder(longest.c_str(), folder, sizeof folder);
  EXPECT_STREQ("E:\\Pellomar", folder);
  EXPECT_EQ("E:\\Pellomar\\", Chosen(longest.c_str(), 'E'));
  // Fits exactly: 245 + 9 + the trailing backslash + the zero = 256.
  std::string fits = "F:\\" + std::string(242, 'y');
  EXPECT_EQ(fits + "\\Pellomar\\", Chosen(fits.c_str(), 'F'));
  std::string odd = std::string(300, '\\');
  DefaultInstallFolder(odd.c_str(), folder, sizeof folder);
  EXPECT_STREQ("\\Pellomar", folder);
}

TEST(InstallFolder, TooSmallBufferRefuses) {
  char folder[16];
  DefaultInstallFolder("C:\\Program Files", folder, sizeof folder);
  EXPECT_STREQ("C:\\Pellomar", folder);
  EXPECT_TRUE(FinishInstallFolder(folder, sizeof folder, 'C'));
  EXPECT_STREQ("C:\\Pellomar\\", folder);
  char tiny[8] = "C:\\x";
  EXPECT_FALSE(FinishInstallFolder(tiny, sizeof tiny, 'D'));
}

}  // namespace
