#include "install/install_sequence.h"

#include <wchar.h>

#include "install/command_line.h"
#include "install/process_start.h"

#include <shellapi.h>
#include <algorithm>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <sddl.h>

#include "base/cancel_flag.h"
#include "install/folder_access.h"
#include "install/folder_rules.h"
#include "install/product.h"
#include "base/registry.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

std::string TestUpdaterPath() { return ProgramFolder() + "\\..\\support\\test_updater.exe"; }

std::string SelfPath() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

// Stands in for the run's file fetcher: copies the test updater to the target
// (the way a cabinet unpacks "NewUpdate.exe") unless told otherwise.
class FakeFetcher : public UpdaterFetcher {
 public:
  bool GetCompressedFile(const char* name, const char* target, TransferProgress*) override {
    calls.push_back(std::string(name) + " -> " + target);
    if (during_fetch) during_fetch();
    if (!succeed) return false;
    return CopyFileA(source.c_str(), target, FALSE) != 0;
  }
  ByteString GetCodes() override { return codes; }
  bool SecureConnectionFailed() const override { return false; }

  std::vector<std::string> calls;
  std::function<void()> during_fetch;
  bool succeed = true;
  std::string source = TestUpdaterPath();
  ByteString codes;
};

class FakeHost : public InstallHost {
 public:
  // The English texts are ASCII.
  void SetStatusLine(const wchar_t* text) override {
    status.assign(text, text + wcslen(text));
    events.push_back("status:" + status);
  }
  void SetErrorLine(const wchar_t* text) override {
    std::string narrow(text, text + wcslen(text));
    if (error.empty()) error = narrow;
    events.push_back("error:" + narrow);
  }
  void ClearErrorLine() override {
    error.clear();
    events.push_back("clear");
  }
  void EnableInstallButton() override { button_enabled = true; }
  void PostCloseCommand() override { ++close_posts; }
  bool HasEmbeddedPackage() override { return package; }
  UpdaterFetcher* ContactSite(const char* family) override {
    events.push_back(std::string("contact:") + family);
    if (during_contact) during_contact();
    return contact_ok ? &fetcher : nullptr;
  }
  bool SecureContactFailed() override { return false; }
  int RunDriveDialog(wchar_t* folder, size_t cap) override {
    ++dialog_runs;
    if (during_dialog) during_dialog();
    std::wstring wide = WidePath(dialog_folder);
    if (dialog_result == 1 && wide.size() < cap) memcpy(folder, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    return dialog_result;
  }
  void MergeLaunchParameters() override { events.push_back("merge"); }

  FakeFetcher fetcher;
  std::vector<std::string> events;
  std::string status = "untouched", error;
  bool button_enabled = false;
  int close_posts = 0;
  bool package = false;
  bool contact_ok = true;
  std::function<void()> during_contact;
  std::function<void()> during_dialog;
  int dialog_runs = 0;
  int dialog_result = 1;
  std::string dialog_folder;
};

// A folder with the given descriptor (SDDL), as another account could have
// made it beforehand.
bool MakeFolderWith(const std::string& path, const char* sddl) {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &attributes.lpSecurityDescriptor,
                                                            nullptr))
    return false;
  BOOL made = CreateDirectoryA(path.c_str(), &attributes);
  LocalFree(attributes.lpSecurityDescriptor);
  return made != 0;
}

// Whether the process has the privilege on; on given: switches it first.
bool Privilege(const char* name, int on = -1) {
  HANDLE token;
  TOKEN_PRIVILEGES change = {1, {{{0, 0}, static_cast<DWORD>(on > 0 ? SE_PRIVILEGE_ENABLED : 0)}}};
  BOOL held = FALSE;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES, &token);
  LookupPrivilegeValueA(nullptr, name, &change.Privileges[0].Luid);
  if (on >= 0) AdjustTokenPrivileges(token, FALSE, &change, 0, nullptr, nullptr);
  PRIVILEGE_SET set = {1, PRIVILEGE_SET_ALL_NECESSARY, {{change.Privileges[0].Luid, 0}}};
  PrivilegeCheck(token, &set, &held);
  CloseHandle(token);
  return held != 0;
}

class InstallSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteMachineKey(SETUP_FAMILY_KEY);
    SetCancelRequested(false);
    log_ = updater_log_folder_.File("updater.log");
    SetEnvironmentVariableA("SETUP_TEST_UPDATER_LOG", log_.c_str());
    install_ = folder_.Path() + "\\Pellomar\\";
    host_.dialog_folder = install_;
    GetCurrentDirectoryA(sizeof cwd_, cwd_);
  }
  void TearDown() override {
    SetCurrentDirectoryA(cwd_);
    for (int i = 0; made_ && i < 100 && !RemoveDirectoryA(install_.c_str()); ++i) {
      for (const char* name : {"Update.exe", "NewUpdate.exe", "http_tmp1.tmp", "http_tmp2.tmp"})
        DeleteFileA((install_ + name).c_str());
      Sleep(50);  // the updater may still hold its file
    }
    DeleteMachineKey(SETUP_FAMILY_KEY);
    SetCancelRequested(false);
  }
  // The updater is not waited for by the sequence; the test waits for its record.
  std::string WaitForUpdaterLog() {
    for (int i = 0; i < 200; ++i) {
      std::string text = ReadWholeFile(log_);
      if (text.find("\r\n") != std::string::npos && text.rfind("\r\n") == text.size() - 2 &&
          std::count(text.begin(), text.end(), '\n') >= 2)
        return text;
      Sleep(50);
    }
    return ReadWholeFile(log_);
  }
  void StoreInstallDir(const std::string& folder) {
    RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", folder.c_str());
  }
  std::string Updater() const { return install_ + "Update.exe"; }
  // A folder an earlier run left. Elsewhere the program's own folder reads
  // back as the administrators', but this platform keeps no lists to show
  // it: so below the program-files folder, where no folder is judged.
  void MakeInstallFolder() {
    std::string program_files =
        RegGetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "").Text();
    install_ = program_files + "\\PellomarTest" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(++made_count_) + "\\";
    host_.dialog_folder = install_;
    ASSERT_TRUE(CreateDirectoryA(install_.c_str(), nullptr));
    made_ = true;
  }

  ScratchFolder folder_, updater_log_folder_;
  std::string log_, install_;
  bool made_ = false;
  static int made_count_;
  char cwd_[MAX_PATH];
  FakeHost host_;
};

int InstallSequenceTest::made_count_ = 0;

}  // namespace

TEST_F(InstallSequenceTest, FreshInstallAsksForTheFolderFetchesStartsAndStoresIt) {
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_EQ(1, host_.dialog_runs);
  ASSERT_EQ(1u, host_.fetcher.calls.size());
  // Named in the install folder, which is current by then.
  EXPECT_EQ("Update.exe -> NewUpdate.exe", host_.fetcher.calls[0]);
  EXPECT_TRUE(FileExists(Updater()));
  EXPECT_FALSE(FileExists(install_ + "NewUpdate.exe"));
  std::string record = WaitForUpdaterLog();
  EXPECT_EQ("\"" + Updater() + "\" /Setup=Tamsu\r\n" + folder_.Path() + "\\Pellomar\r\n", record);
  EXPECT_EQ(install_, RegGetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", "").Text());
  EXPECT_EQ("", host_.status);
  EXPECT_EQ("", host_.error);
  EXPECT_TRUE(host_.button_enabled);
  EXPECT_EQ(1, host_.close_posts);
  std::vector<std::string> expected_start = {"status:Please wait...", "clear",
                                             "status:Contacting Pellomar site. Please wait ...",
                                             "contact:Pellomar", "status:", "merge", "status:"};
  EXPECT_EQ(expected_start, host_.events);
}

// A folder named outside the code page: entered, fetched into and started
// from by its wide name, and stored whole for the next run.
TEST_F(InstallSequenceTest, FolderNamedInAnotherScriptInstallsAndIsStoredWhole) {
  host_.dialog_folder = folder_.Path() + "\\\xe4\xb8\x8b\xe8\xbd\xbd\\";  // "下载"
  std::wstring wide = WidePath(host_.dialog_folder);
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_EQ("", host_.error);
  EXPECT_EQ(1, host_.close_posts);
  EXPECT_FALSE(WaitForUpdaterLog().empty()) << "the updater did not start";
  wchar_t stored[MAX_PATH] = L"";
  EXPECT_TRUE(RegGetPath(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, L"InstallDir", stored, MAX_PATH));
  EXPECT_EQ(wide, stored);
  SetCurrentDirectoryA(cwd_);
  // The updater may still be running from it a moment after its log line.
  bool deleted = false;
  for (int i = 0; i < 100 && !(deleted = DeleteFileW((wide + L"Update.exe").c_str())); ++i) Sleep(50);
  EXPECT_TRUE(deleted);
  for (int i = 0; i < 100 && !RemoveDirectoryW(wide.c_str()); ++i) Sleep(50);
}

TEST_F(InstallSequenceTest, StoredFolderWithUpdaterStartsWithoutDialogOrFetch) {
  MakeInstallFolder();
  ASSERT_TRUE(CopyFileA(TestUpdaterPath().c_str(), Updater().c_str(), FALSE));
  StoreInstallDir(install_);
  host_.fetcher.codes.Assign(",,user,pass");
  host_.package = true;
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_EQ(0, host_.dialog_runs);
  EXPECT_TRUE(host_.fetcher.calls.empty());
  EXPECT_EQ("\"" + Updater() + "\" /Setup=Tamsu /Codes=,,user,pass /Bulk=\"" + SelfPath() + "\"\r\n" +
                install_.substr(0, install_.size() - 1) + "\r\n",
            WaitForUpdaterLog());
  EXPECT_EQ(1, host_.close_posts);
}

// Credentials with a blank, a quote, a backslash before a quote and a
// trailing backslash: the platform's parser in the updater reads exactly the
// four of them and nothing more.
TEST_F(InstallSequenceTest, CodesArriveAsTheFourCredentialsWhateverTheyHold) {
  MakeInstallFolder();
  ASSERT_TRUE(CopyFileA(TestUpdaterPath().c_str(), Updater().c_str(), FALSE));
  StoreInstallDir(install_);
  std::string args = updater_log_folder_.File("args.txt");
  SetEnvironmentVariableA("SETUP_TEST_UPDATER_ARGS", args.c_str());
  const std::string codes = "site user,pa\"ss /Bulk=x,proxy\\\"user,secret\\";
  host_.fetcher.codes.Assign(codes.c_str());
  host_.package = true;
  InstallSequence sequence(host_);
  sequence.Run();
  WaitForUpdaterLog();
  SetEnvironmentVariableA("SETUP_TEST_UPDATER_ARGS", nullptr);
  EXPECT_EQ(Updater() + "\n/Setup=Tamsu\n/Codes=" + codes + "\n/Bulk=" + SelfPath() + "\n", ReadWholeFile(args));
}

TEST(ArgumentValue, ThePlatformsParserReadsEveryValueBack) {
  for (const char* value : {"a,b,c,d", "a b", "\"", "\\", "x\\", "a\\\\\"b", "\\\\server\\x", "tab\tx", "", "\"\"",
                            "a\\b c"}) {
    char line[64] = "p.exe /Codes=";
    ASSERT_TRUE(AppendArgumentValue(line, sizeof line, value)) << value;
    WCHAR wide[64];
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, line, -1, wide, 64), 0);
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(wide, &count);
    ASSERT_EQ(2, count) << line;
    char back[64];
    WideCharToMultiByte(CP_ACP, 0, args[1], -1, back, sizeof back, nullptr, nullptr);
    LocalFree(args);
    EXPECT_EQ("/Codes=" + std::string(value), back) << line;
  }
  // Refused whole when the quoted form does not fit.
  char small[12] = "/Codes=";
  EXPECT_FALSE(AppendArgumentValue(small, sizeof small, "a b\""));
  EXPECT_STREQ("/Codes=", small);
  EXPECT_TRUE(AppendArgumentValue(small, sizeof small, "abcd"));
}

TEST_F(InstallSequenceTest, StoredFolderThatIsGoneLeadsToTheDialogAndIsReplaced) {
  StoreInstallDir(folder_.Path() + "\\Vanished\\");
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_EQ(1, host_.dialog_runs);
  WaitForUpdaterLog();
  EXPECT_EQ(install_, RegGetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", "").Text());
}

TEST_F(InstallSequenceTest, PendingUpdaterReplacesTheOldOneWithoutFetch) {
  MakeInstallFolder();
  ASSERT_TRUE(WriteWholeFile(Updater(), "old updater, not a program"));
  ASSERT_TRUE(CopyFileA(TestUpdaterPath().c_str(), (install_ + "NewUpdate.exe").c_str(), FALSE));
  StoreInstallDir(install_);
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_TRUE(host_.fetcher.calls.empty());
  EXPECT_FALSE(FileExists(install_ + "NewUpdate.exe"));
  EXPECT_NE(std::string::npos, WaitForUpdaterLog().find("/Setup=Tamsu"));
  EXPECT_EQ(1, host_.close_posts);
}

TEST_F(InstallSequenceTest, PresentUpdaterThatWillNotStartIsReplacedByAFreshCopy) {
  MakeInstallFolder();
  ASSERT_TRUE(WriteWholeFile(Updater(), "broken"));
  StoreInstallDir(install_);
  InstallSequence sequence(host_);
  sequence.Run();
  ASSERT_EQ(1u, host_.fetcher.calls.size());
  EXPECT_NE(std::string::npos, WaitForUpdaterLog().find("/Setup=Tamsu"));
  EXPECT_EQ(1, host_.close_posts);
  EXPECT_EQ("", host_.error);
}

TEST_F(InstallSequenceTest, FailedFetchShowsStartFailureAndStaysOpen) {
  host_.fetcher.succeed = false;
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_EQ("Failed to start Update", host_.error);
  EXPECT_EQ("", host_.status);
  EXPECT_TRUE(host_.button_enabled);
  EXPECT_EQ(0, host_.close_posts);
  EXPECT_EQ("<absent>", ReadMachineValueBytes(SETUP_FAMILY_KEY, "InstallDir"));
  EXPECT_FALSE(FileExists(log_));

  // The next Install command fetches again.
  host_.fetcher.succeed = true;
  sequence.Run();
  EXPECT_EQ(2u, host_.fetcher.calls.size());
  EXPECT_NE(std::string::npos, WaitForUpdaterLog().find("/Setup=Tamsu"));
  EXPECT_EQ(1, host_.close_posts);
}

TEST_F(InstallSequenceTest, CancelBeforeTheFirstStepIsKept) {
  // Cancel came between the Install command, which cleared the flag, and
  // the worker's first step.
  SetCancelRequested(true);
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_TRUE(IsCancelRequested());
  EXPECT_EQ(0, host_.dialog_runs);
  EXPECT_TRUE(host_.fetcher.calls.empty());
  EXPECT_FALSE(FileExists(log_));
  EXPECT_EQ("", host_.error);
  EXPECT_EQ(1, host_.close_posts);
  EXPECT_TRUE(host_.button_enabled);
}

TEST_F(InstallSequenceTest, CancelDuringFetchDeletesTheUpdaterAndCloses) {
  host_.fetcher.during_fetch = [] { SetCancelRequested(true); };
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_FALSE(FileExists(Updater()));
  EXPECT_FALSE(FileExists(install_ + "NewUpdate.exe"));
  EXPECT_EQ("", host_.error);
  EXPECT_EQ("", host_.status);
  EXPECT_EQ(1, host_.close_posts);
  EXPECT_FALSE(FileExists(log_));
  // A later run in the same process settles the updater afresh.
  SetCancelRequested(false);
  host_.fetcher.during_fetch = nullptr;
  host_.close_posts = 0;
  sequence.Run();
  EXPECT_EQ(2u, host_.fetcher.calls.size());
  EXPECT_NE(std::string::npos, WaitForUpdaterLog().find("/Setup=Tamsu"));
  EXPECT_EQ(1, host_.close_posts);
}

TEST_F(InstallSequenceTest, CancelNoticedAfterTheContactEndsTheRun) {
  host_.during_contact = [] { SetCancelRequested(true); };
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_EQ(0, host_.dialog_runs);
  EXPECT_EQ("", host_.status);
  EXPECT_EQ(1, host_.close_posts);
  EXPECT_TRUE(host_.button_enabled);
}

TEST_F(InstallSequenceTest, ContactFailureGoesToErrorLineOrToStatusWhenCancelled) {
  host_.contact_ok = false;
  {
    InstallSequence sequence(host_);
    sequence.Run();
  }
  EXPECT_EQ("Can't contact Pellomar site", host_.error);
  EXPECT_EQ("", host_.status);
  EXPECT_EQ(0, host_.close_posts);
  EXPECT_TRUE(host_.button_enabled);

  FakeHost cancelled;
  cancelled.contact_ok = false;
  cancelled.during_contact = [] { SetCancelRequested(true); };
  InstallSequence sequence(cancelled);
  sequence.Run();
  EXPECT_EQ("Can't contact Pellomar site", cancelled.status);
  EXPECT_EQ("", cancelled.error);
  EXPECT_EQ(0, cancelled.close_posts);
  EXPECT_TRUE(cancelled.button_enabled);
}

TEST_F(InstallSequenceTest, CancelledDriveDialogLeavesTheWindowIdleAndSilent) {
  host_.dialog_result = 2;
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_EQ("", host_.status);
  EXPECT_EQ("", host_.error);
  EXPECT_TRUE(host_.button_enabled);
  EXPECT_EQ(0, host_.close_posts);
  EXPECT_TRUE(host_.fetcher.calls.empty());

  // With the main window's Cancel pressed while the dialog was open, the
  // window closes as after any cancel.
  FakeHost cancelled;
  cancelled.dialog_result = 2;
  cancelled.during_dialog = [] { SetCancelRequested(true); };
  InstallSequence again(cancelled);
  again.Run();
  EXPECT_EQ("", cancelled.status);
  EXPECT_EQ("", cancelled.error);
  EXPECT_TRUE(cancelled.button_enabled);
  EXPECT_EQ(1, cancelled.close_posts);
  EXPECT_TRUE(cancelled.fetcher.calls.empty());
}

TEST_F(InstallSequenceTest, OverLongFolderFailsToStartInsteadOfCutting) {
  // 259 characters with the trailing backslash: the longest folder the buffer takes.
  std::string base = folder_.Path() + "\\";
  std::string longest = base + std::string(258 - base.size(), 'd') + "\\";
  ASSERT_EQ(259u, longest.size());
  host_.dialog_folder = longest;
  host_.package = true;
  host_.fetcher.codes.Assign(std::string(99, 'c').c_str());
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_EQ("Failed to start Update", host_.error);
  EXPECT_EQ(0, host_.close_posts);
  EXPECT_FALSE(FileExists(log_));
}

TEST_F(InstallSequenceTest, StoredFolderWithoutBackslashIsUsedWhole) {
  MakeInstallFolder();
  ASSERT_TRUE(CopyFileA(TestUpdaterPath().c_str(), Updater().c_str(), FALSE));
  const std::string stored = install_.substr(0, install_.size() - 1);
  StoreInstallDir(stored);
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_EQ(0, host_.dialog_runs);
  EXPECT_TRUE(host_.fetcher.calls.empty());
  EXPECT_EQ("\"" + Updater() + "\" /Setup=Tamsu\r\n" + stored + "\r\n", WaitForUpdaterLog());
  EXPECT_FALSE(FileExists(stored.substr(0, stored.size() - 1)));
  // The stored value is left as it was.
  EXPECT_EQ(stored, RegGetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", "").Text());
}

TEST_F(InstallSequenceTest, FolderThatCannotBeMadeStopsBeforeWritingAnything) {
  ASSERT_TRUE(WriteWholeFile(folder_.Path() + "\\Pellomar", "a file in the way"));
  ScratchFolder current;
  ASSERT_TRUE(SetCurrentDirectoryA(current.Path().c_str()));
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_EQ("Can't install into " + folder_.Path() + "\\Pellomar", host_.error);
  EXPECT_EQ("", host_.status);
  EXPECT_TRUE(host_.button_enabled);
  EXPECT_EQ(0, host_.close_posts);
  EXPECT_TRUE(host_.fetcher.calls.empty());
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((current.Path() + "\\*.tmp").c_str(), &entry);
  EXPECT_EQ(INVALID_HANDLE_VALUE, search) << entry.cFileName;
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  EXPECT_EQ("<absent>", ReadMachineValueBytes(SETUP_FAMILY_KEY, "InstallDir"));
  EXPECT_FALSE(FileExists(log_));
}

TEST_F(InstallSequenceTest, FolderOutsideProgramFilesIsLockedNewOrEmptyRefusedWhenItHoldsAnything) {
  host_.fetcher.succeed = false;  // the folder is settled before the fetch
  {
    InstallSequence sequence(host_);
    sequence.Run();
  }
  std::string outside = FolderAccessList(folder_.Path() + "\\Pellomar");

  // One made beforehand that lets Everyone change it, with something planted
  // in it and in a folder below: refused, and left exactly as it was.
  const char kOpen[] = "D:(A;OICI;FA;;;WD)";
  std::string planted_folder = folder_.Path() + "\\Planted";
  ASSERT_TRUE(MakeFolderWith(planted_folder, kOpen));
  ASSERT_TRUE(MakeFolderWith(planted_folder + "\\below", kOpen));
  ASSERT_TRUE(WriteWholeFile(planted_folder + "\\version.dll", "planted"));
  ASSERT_TRUE(WriteWholeFile(planted_folder + "\\below\\deep.dll", "planted"));
  const char* const kHeld[] = {"", "\\below", "\\version.dll", "\\below\\deep.dll"};
  std::vector<std::string> lists_before;
  for (const char* held : kHeld) lists_before.push_back(FolderAccessList(planted_folder + held));
  ASSERT_NE(std::string::npos, lists_before[0].find(" S-1-1-0:"));
  StoreInstallDir(planted_folder + "\\");
  {
    InstallSequence sequence(host_);
    sequence.Run();
  }
  EXPECT_EQ("Can't install into " + planted_folder, host_.error);
  EXPECT_EQ(1u, host_.fetcher.calls.size());  // the first run's only
  EXPECT_FALSE(FileExists(log_));
  for (size_t i = 0; i < lists_before.size(); ++i)
    EXPECT_EQ(lists_before[i], FolderAccessList(planted_folder + kHeld[i])) << kHeld[i];
  EXPECT_EQ("planted", ReadWholeFile(planted_folder + "\\version.dll"));

  // An empty one is taken over, locked before the fetch began; the
  // takeover's privileges end as they were found, on or off.
  std::string empty_folder = folder_.Path() + "\\Empty";
  ASSERT_TRUE(MakeFolderWith(empty_folder, kOpen));
  StoreInstallDir(empty_folder + "\\");
  bool restore_was = Privilege("SeRestorePrivilege", 1), take_was = Privilege("SeTakeOwnershipPrivilege", 0);
  std::string at_fetch = "<no fetch>";
  host_.fetcher.during_fetch = [&] { at_fetch = FolderAccessList(empty_folder); };
  {
    InstallSequence sequence(host_);
    sequence.Run();
  }
  host_.fetcher.during_fetch = nullptr;
  EXPECT_EQ("Failed to start Update", host_.error);  // the fetch fails here, after the folder
  EXPECT_EQ(std::string::npos, at_fetch.find(" S-1-1-0:")) << at_fetch;
  EXPECT_NE("<no fetch>", at_fetch);
  EXPECT_TRUE(restore_was);
  EXPECT_FALSE(take_was);
  EXPECT_EQ(restore_was, Privilege("SeRestorePrivilege"));
  EXPECT_EQ(take_was, Privilege("SeTakeOwnershipPrivilege"));
  Privilege("SeRestorePrivilege", 0);

  // Below the program-files folder the new folder inherits that folder's list.
  std::string program_files =
      RegGetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "").Text();
  ASSERT_FALSE(program_files.empty());
  std::string inside_folder = program_files + "\\PellomarAccessTest";
  RemoveDirectoryA(inside_folder.c_str());
  DeleteMachineKey(SETUP_FAMILY_KEY);
  host_.dialog_folder = inside_folder + "\\";
  {
    InstallSequence sequence(host_);
    sequence.Run();
  }
  SetCurrentDirectoryA(cwd_);
  std::string inside = FolderAccessList(inside_folder);
  EXPECT_TRUE(RemoveDirectoryA(inside_folder.c_str()));

  // The locked list grants Everyone nothing (this platform keeps a list as
  // owner, group and other permissions, so the full list is checked on the
  // descriptors themselves, below).
  ASSERT_NE("<unreadable>", outside);
  EXPECT_EQ(std::string::npos, outside.find(" S-1-1-0:")) << outside;
  EXPECT_NE(outside, inside);
}

TEST_F(InstallSequenceTest, PlantedHardLinkRefusesTheFolderAndItsTargetStaysAsItWas) {
  std::string elsewhere = updater_log_folder_.File("system.dll");  // a file outside the folder
  ASSERT_TRUE(WriteWholeFile(elsewhere, "theirs"));
  std::string planted = folder_.Path() + "\\Planted";
  ASSERT_TRUE(MakeFolderWith(planted, "D:(A;OICI;FA;;;WD)"));
  ASSERT_TRUE(CreateHardLinkA((planted + "\\version.dll").c_str(), elsewhere.c_str(), nullptr));
  std::string before = FolderAccessList(elsewhere);
  StoreInstallDir(planted + "\\");
  InstallSequence sequence(host_);
  sequence.Run();
  EXPECT_EQ("Can't install into " + planted, host_.error);
  EXPECT_TRUE(host_.fetcher.calls.empty());
  EXPECT_EQ(before, FolderAccessList(elsewhere));
}

std::string OwnerOf(PSECURITY_DESCRIPTOR descriptor) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  char* text = nullptr;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner || !ConvertSidToStringSidA(owner, &text))
    return "<none>";
  std::string out = text;
  LocalFree(text);
  return out;
}

TEST(SecuredFolder, DescriptorsGivenAndTheDecisionOnThePlatformsOwn) {
  // Protected, each entry passed on to files and folders (flags 3); what
  // the program makes a folder with reads back as the administrators'.
  PSECURITY_DESCRIPTOR secured = NewSecuredDescriptor();
  ASSERT_NE(nullptr, secured);
  EXPECT_EQ("P S-1-5-32-544:1f01ff:3 S-1-5-18:1f01ff:3 S-1-5-32-545:1200a9:3", DescribeAccessList(secured));
  EXPECT_EQ("S-1-5-32-544", OwnerOf(secured));
  EXPECT_TRUE(IsAdministratorsFolder(static_cast<const unsigned char*>(secured), GetSecurityDescriptorLength(secured)));
  LocalFree(secured);
  // The platform's own self-relative layout, decided by the platform-free
  // rule: what the folder is given counts as the administrators'.
  struct Case {
    const char* sddl;
    bool theirs;
  } cases[] = {
      {"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", true},
      {"O:SYD:(A;;FA;;;BA)(D;;FA;;;WD)(A;;0x1200a9;;;WD)", true},
      {"O:BUD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", false},
      {"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;0x1301bf;;;AU)", false},
      {"O:BAD:(A;;FA;;;BA)(A;;WD;;;BU)", false},
      {"O:BA", false},
  };
  for (const Case& c : cases) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(c.sddl, SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(c.theirs, IsAdministratorsFolder(static_cast<const unsigned char*>(descriptor),
                                               GetSecurityDescriptorLength(descriptor)))
        << c.sddl;
    LocalFree(descriptor);
  }
}

TEST(StartProcess, ComposesTheQuotedCommandLineOrRefuses) {
  wchar_t line[64];
  EXPECT_TRUE(ComposeCommandLine(line, 64, L"C:\\Program Files\\Pellomar\\Update.exe", L"/Setup=Tamsu"));
  EXPECT_STREQ(L"\"C:\\Program Files\\Pellomar\\Update.exe\" /Setup=Tamsu", line);
  wchar_t small[16];
  EXPECT_FALSE(ComposeCommandLine(small, 16, L"C:\\Update.exe", L"/Setup=Tamsu"));
  EXPECT_STREQ(L"", small);
  ScratchFolder folder;
  EXPECT_FALSE(StartProcess(WidePath(folder.Path() + "\\missing.exe").c_str(), L"/Setup=Tamsu",
                            WidePath(folder.Path()).c_str()));
}
