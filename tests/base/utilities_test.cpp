#include <gtest/gtest.h>

#include <string>

#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "base/registry.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {
const char kKey[] = "Software\\SetupTests\\Utilities";

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { DeleteMachineKey("Software\\SetupTests"); }
  void TearDown() override { DeleteMachineKey("Software\\SetupTests"); }
};

void StoreRaw(const char* name, DWORD type, const void* data, DWORD size) {
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, kKey, &key));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
  RegCloseKey(key);
}
}  // namespace

TEST_F(Registry, DefaultsVersusPresentEmpty) {
  EXPECT_STREQ("Unknown", RegGetString(HKEY_LOCAL_MACHINE, kKey, "Missing", "Unknown").Text());
  ByteString none = RegGetString(HKEY_LOCAL_MACHINE, kKey, "Missing", nullptr);
  EXPECT_TRUE(none.IsPresent());
  EXPECT_STREQ("", none.Text());
  StoreRaw("Empty", REG_SZ, "", 1);
  EXPECT_STREQ("", RegGetString(HKEY_LOCAL_MACHINE, kKey, "Empty", "Unknown").Text());
  StoreRaw("Value", REG_SZ, "abc", 4);
  EXPECT_STREQ("abc", RegGetString(HKEY_LOCAL_MACHINE, kKey, "Value", "Unknown").Text());
}

TEST_F(Registry, SetCreatesNestedKeysAndStoresTheZero) {
  const char* deep = "Software\\SetupTests\\A\\B\\C";
  EXPECT_EQ(0, RegSetString(HKEY_LOCAL_MACHINE, deep, "InstallDir", "C:\\X\\"));
  EXPECT_EQ(std::string("C:\\X\\\0", 6), ReadMachineValueBytes(deep, "InstallDir"));
  EXPECT_STREQ("C:\\X\\", RegGetString(HKEY_LOCAL_MACHINE, deep, "InstallDir", "").Text());
  EXPECT_EQ(0, RegSetString(HKEY_LOCAL_MACHINE, deep, "Empty", ""));
  EXPECT_EQ(std::string("\0", 1), ReadMachineValueBytes(deep, "Empty"));
  // A write the registry refuses (a value name past its limit) is reported,
  // though the key opened and closed well.
  std::string long_name(20000, 'n');
  EXPECT_NE(0, RegSetString(HKEY_LOCAL_MACHINE, deep, long_name.c_str(), "x"));
}

TEST_F(Registry, OverLongOrUnterminatedDataYieldsTheDefault) {
  std::string fits(259, 'a');
  StoreRaw("Fits", REG_SZ, fits.c_str(), 260);
  EXPECT_EQ(fits, RegGetString(HKEY_LOCAL_MACHINE, kKey, "Fits", "dflt").Text());
  std::string too_long(300, 'b');
  StoreRaw("Long", REG_SZ, too_long.c_str(), 301);
  EXPECT_STREQ("dflt", RegGetString(HKEY_LOCAL_MACHINE, kKey, "Long", "dflt").Text());
  std::string no_zero(260, 'c');
  StoreRaw("NoZero", REG_BINARY, no_zero.data(), 260);
  EXPECT_STREQ("dflt", RegGetString(HKEY_LOCAL_MACHINE, kKey, "NoZero", "dflt").Text());
  StoreRaw("Short", REG_BINARY, "xyz", 3);  // stored without a zero, but it fits
  EXPECT_STREQ("xyz", RegGetString(HKEY_LOCAL_MACHINE, kKey, "Short", "dflt").Text());
}

// A path read whole or refused, never cut. A folder in another script
// stored and read back whole, and one the narrow writer stored: the install
// sequence's tests (FolderNamedInAnotherScriptInstallsAndIsStoredWhole,
// StoredFolder*).
TEST_F(Registry, PathsReadWholeOrRefused) {
  struct Case {
    const char* name;
    DWORD type;
    std::wstring data;  // stored without a zero
    size_t cap;
    const wchar_t* expected;  // null: refused
  } cases[] = {
      {"Fits", REG_SZ, std::wstring(259, L'a'), MAX_PATH, nullptr},
      {"Unterminated", REG_SZ, L"C:\\Y", 8, L"C:\\Y"},
      {"Full", REG_SZ, std::wstring(8, L'b'), 8, nullptr},
      {"Missing", REG_SZ, L"", 0, nullptr},
      {"Number", REG_DWORD, L"ab", 8, nullptr},
  };
  cases[0].data.push_back(L'\0');
  cases[0].expected = cases[0].data.c_str();
  for (const Case& c : cases) {
    if (c.cap) {
      HKEY key;
      ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, kKey, &key));
      RegSetValueExW(key, WidePath(c.name).c_str(), 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                     static_cast<DWORD>(c.data.size() * sizeof(wchar_t)));
      RegCloseKey(key);
    }
    wchar_t buffer[MAX_PATH] = L"old";
    bool read = RegGetPath(HKEY_LOCAL_MACHINE, kKey, WidePath(c.name).c_str(), buffer, c.cap ? c.cap : MAX_PATH);
    EXPECT_EQ(c.expected != nullptr, read) << c.name;
    EXPECT_STREQ(c.expected ? c.expected : L"", buffer) << c.name;
  }
}

TEST(FileUtilities, PathQuestionsAndSizes) {
  ScratchFolder folder;
  std::string file = folder.File("f.bin");
  EXPECT_FALSE(IsDirectoryPath(file.c_str()));
  EXPECT_FALSE(IsFilePath(file.c_str()));
  EXPECT_EQ(0u, FileSizeOf(file.c_str()));
  ASSERT_TRUE(WriteWholeFile(file, ""));
  EXPECT_TRUE(IsFilePath(file.c_str()));
  EXPECT_FALSE(IsDirectoryPath(file.c_str()));
  EXPECT_EQ(0u, FileSizeOf(file.c_str()));
  ASSERT_TRUE(WriteWholeFile(file, std::string(1234, 'x')));
  EXPECT_EQ(1234u, FileSizeOf(file.c_str()));
  EXPECT_EQ(1234u, FileSizeOf(folder.File("*.bin").c_str()));  // wildcards honoured
  EXPECT_TRUE(IsDirectoryPath(folder.Path().c_str()));
  EXPECT_FALSE(IsFilePath(folder.Path().c_str()));
}

TEST(FileUtilities, FileHandleCreatesTruncatesAndWrites) {
  ScratchFolder folder;
  std::string path = folder.File("out.txt");
  ASSERT_TRUE(WriteWholeFile(path, "old content that is longer"));
  {
    FileHandle file;
    file.CreateForWriting(path.c_str());
    ASSERT_TRUE(file.IsOpen());
    EXPECT_TRUE(file.Write("new", 3));
  }
  EXPECT_EQ("new", ReadWholeFile(path));
  FileHandle missing(folder.File("no\\such\\dir.txt").c_str(), CREATE_ALWAYS, false);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_FALSE(missing.Write("x", 1));
}

TEST(FileUtilities, MappedFileReadsAndCreatesWithSize) {
  ScratchFolder folder;
  std::string path = folder.File("map.bin");
  ASSERT_TRUE(WriteWholeFile(path, "mapped bytes"));
  {
    MappedFile map(path.c_str(), true, 0);
    ASSERT_NE(nullptr, map.View());
    EXPECT_EQ(12u, map.Size());
    EXPECT_EQ(0, memcmp(map.View(), "mapped bytes", 12));
  }
  std::string created = folder.File("new.bin");
  {
    MappedFile map(created.c_str(), false, 5);
    ASSERT_NE(nullptr, map.View());
    memcpy(map.View(), "hello", 5);
  }
  EXPECT_EQ("hello", ReadWholeFile(created));
  MappedFile missing(folder.File("absent.bin").c_str(), true, 0);
  EXPECT_EQ(nullptr, missing.View());
}

TEST(FileUtilities, TemporaryFileIsDeletedOnEveryPath) {
  std::string never_read, read_to_end;
  {
    TemporaryFile temp;
    never_read = temp.Name();
    ASSERT_FALSE(never_read.empty());
    EXPECT_TRUE(FileExists(never_read));
  }
  EXPECT_FALSE(FileExists(never_read));
  {
    TemporaryFile temp;
    read_to_end = temp.Name();
    ASSERT_TRUE(WriteWholeFile(read_to_end, "0123456789"));
    char buffer[8];
    DWORD n = 99;
    ASSERT_TRUE(temp.Read(buffer, sizeof buffer, &n));
    EXPECT_EQ(8u, n);
    ASSERT_TRUE(temp.Read(buffer, sizeof buffer, &n));
    EXPECT_EQ(2u, n);
    ASSERT_TRUE(temp.Read(buffer, sizeof buffer, &n));
    EXPECT_EQ(0u, n);
  }
  EXPECT_FALSE(FileExists(read_to_end));
  {
    TemporaryFile temp;
    std::string name = temp.Name();
    DeleteFileA(name.c_str());  // someone removed it: the read fails, nothing else breaks
    char c;
    DWORD n = 0;
    EXPECT_FALSE(temp.Read(&c, 1, &n));
  }
  // A temporary folder named outside the code page (a profile in another
  // script): the name still reaches the file through the narrow functions.
  ScratchFolder scratch;
  std::wstring other = WidePath(scratch.Path() + "\\\xe4\xb8\x8b\xe8\xbd\xbd");  // "下载"
  ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
  wchar_t old_tmp[MAX_PATH] = L"";
  DWORD had_tmp = GetEnvironmentVariableW(L"TMP", old_tmp, MAX_PATH);
  SetEnvironmentVariableW(L"TMP", other.c_str());
  std::string name;
  DWORD size_seen = 0;
  {
    TemporaryFile temp;
    name = temp.Name();
    EXPECT_TRUE(WriteWholeFile(name, "written by name"));
    WIN32_FIND_DATAW entry;
    HANDLE found = FindFirstFileW((other + L"\\TMP*").c_str(), &entry);
    if (found != INVALID_HANDLE_VALUE) {
      size_seen = entry.nFileSizeLow;
      FindClose(found);
    }
  }
  SetEnvironmentVariableW(L"TMP", had_tmp ? old_tmp : nullptr);
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(15u, size_seen) << "no file written by the name " << name << " in the temporary folder";
  EXPECT_TRUE(RemoveDirectoryW(other.c_str())) << "the file was left behind";
}

TEST(FileUtilities, LockedFolderAccessList) {
  PSECURITY_DESCRIPTOR locked = NewLockedFolderDescriptor();
  ASSERT_NE(nullptr, locked);
  // Protected; Administrators and SYSTEM full control, Users read and
  // execute, each passed on to files and folders inside (flags 3).
  EXPECT_EQ("P S-1-5-32-544:1f01ff:3 S-1-5-18:1f01ff:3 S-1-5-32-545:1200a9:3", DescribeAccessList(locked));
  LocalFree(locked);

  ScratchFolder folder;
  std::string plain = folder.File("plain"), kept = folder.File("locked");
  EXPECT_TRUE(CreateFolder(plain.c_str(), false));
  EXPECT_TRUE(CreateFolder(kept.c_str(), true));
  EXPECT_TRUE(IsDirectoryPath(kept.c_str()));
  EXPECT_FALSE(CreateFolder(kept.c_str(), true));  // one that exists is not made again
  // This platform keeps a list as owner, group and other permissions: the
  // plain folder lets Everyone read, the locked one does not.
  EXPECT_NE(std::string::npos, FolderAccessList(plain).find(" S-1-1-0:"));
  EXPECT_EQ(std::string::npos, FolderAccessList(kept).find(" S-1-1-0:"));
}

TEST(DiagnosticLog, ClosedSinkWritesNothingOpenSinkFollowsTheLineRules) {
  ScratchFolder folder;
  std::string path = folder.File("log.txt");
  LogPrint("%s\n", "not written");  // sink closed: nothing to check but that it returns
  HANDLE sink = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, sink);
  LogSetSink(sink);
  LogPrint("a\r\nb\n");
  LogPrint("%s,%s %d, 0x%x\r\n", "connect", "SocketMethod", 122, 0x274d);
  LogPrint("x");
  LogPrint("\r");
  LogPrint("\n");
  LogSetSink(INVALID_HANDLE_VALUE);
  LogPrint("after close\n");
  CloseHandle(sink);
  EXPECT_EQ("a\r\nb\r\nconnect,SocketMethod 122, 0x274d\r\nx\r\n", ReadWholeFile(path));
}

TEST(DiagnosticLog, ModuleVersionTexts) {
  char text[MAX_PATH + 64];
  ScratchFolder folder;
  std::string plain = folder.File("plain.txt");
  ASSERT_TRUE(WriteWholeFile(plain, "no version here"));
  ModuleVersionText(plain.c_str(), text, sizeof text);
  EXPECT_STREQ("Failed 1", text);
  // Wine's own system libraries carry version resources with a product version.
  char system[MAX_PATH];
  GetSystemDirectoryA(system, sizeof system);
  std::string kernel = std::string(system) + "\\kernel32.dll";
  ModuleVersionText(kernel.c_str(), text, sizeof text);
  EXPECT_STRNE("Failed 1", text);
  EXPECT_STRNE("Failed 2", text);
  EXPECT_NE(0u, strlen(text));
  std::string ours = ProgramFolder() + "\\version_ours.exe";
  ModuleVersionText(ours.c_str(), text, sizeof text);
  EXPECT_STREQ("9.8.7", text);
  std::string other = ProgramFolder() + "\\version_other.exe";
  ModuleVersionText(other.c_str(), text, sizeof text);
  EXPECT_EQ(other + " unknown version", text);
}
