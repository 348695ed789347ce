#include "tests/e2e/e2e_harness.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/test_support.h"
#include "tools/demo_updater/setup_windows.h"

namespace e2e {

using testing_support::HttpTestServer;
using testing_support::ProgramFolder;
using testing_support::ReadWholeFile;

const char kTestPattern[] = "qestorvilanumedra";

namespace {

const char kBiosKey[] = "Enum\\Root\\*PNP0c01\\0000";

std::string MachineString(const char* key, const char* value) {
  std::string bytes = testing_support::ReadMachineValueBytes(key, value);
  if (bytes == "<absent>") return bytes;
  return bytes.substr(0, bytes.find('\0'));
}

void SetMachineString(const char* key, const char* value, const std::string& text) {
  HKEY k;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(k, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(k);
}

std::string WindowText(HWND dialog, int id) {
  char text[512];
  ControlText(dialog, id, text, sizeof text);
  return text;
}

}  // namespace

std::string BuildFile(const std::string& relative) {
  // The test program lives in <build>\tests\e2e.
  std::string path = ProgramFolder() + "\\..\\..\\" + relative;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string ReadBuildFile(const std::string& relative) {
  std::string bytes = ReadWholeFile(BuildFile(relative));
  EXPECT_FALSE(bytes.empty()) << "missing build file " << relative;
  return bytes;
}

std::string SetupProgram() {
  std::string path = std::string("Z:") + SETUP_E2E_PROGRAM;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

void Make(const std::string& arguments) {
  std::string output;
  int code = testing_support::RunCapturingOutput(Quoted(BuildFile("tools/maker/maker.exe")) + " " + arguments, &output);
  ASSERT_EQ(code, 0) << "maker " << arguments << ":\n" << output;
}

std::string DefaultInstallFolder() {
  std::string program_files = MachineString("Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
  if (program_files == "<absent>") program_files = "C:";
  return program_files + "\\Pellomar";
}

void RemoveTree(const std::string& path) {
  for (const std::string& name : FolderEntries(path)) {
    std::string full = path + "\\" + name;
    DWORD attributes = GetFileAttributesA(full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      RemoveTree(full);
    } else {
      SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(full.c_str());
    }
  }
  RemoveDirectoryA(path.c_str());
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = entry.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::string TempFolder() {
  char temp[MAX_PATH];
  DWORD n = GetTempPathA(sizeof temp, temp);
  std::string path(temp, n);
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

LoopbackSite::LoopbackSite(int a_)
    : a(a_), site(a_, 1), area(a_, 2),
      cabinet(ReadBuildFile("tools/demo_updater/cab/Update.exe")),
      updater(ReadBuildFile("tools/demo_updater/demo_updater.exe")) {
  EXPECT_TRUE(site.Ok() && area.Ok()) << "cannot listen on " << site.Address() << " or " << area.Address();
  site.ServeFile("/secure/test_pattern.txt", kTestPattern);
  site.ServeFile("/secure/gateway_new.php", area.BaseUrl() + "/pellomar/");
  area.ServeFile("/pellomar/test_pattern.txt", kTestPattern);
  area.ServeFile("/pellomar/Update.exe", cabinet);
  area.ServeFile("/pellomar/Update.exe_uncompressed", updater);
}

std::string LoopbackSite::HostAddresses() const {
  return site.Address() + "," + testing_support::TestAddress(a, 3);
}

std::string UpdaterReport::Line(const std::string& label) const {
  auto found = lines.find(label);
  return found == lines.end() ? "<missing>" : found->second;
}

UpdaterReport WaitForUpdater(const std::string& log, DWORD timeout_ms) {
  UpdaterReport report;
  DWORD start = GetTickCount();
  std::string text;
  for (;;) {
    text = ReadWholeFile(log);
    if (text.find("--\r\n") != std::string::npos) break;
    if (GetTickCount() - start > timeout_ms) return report;
    Sleep(100);
  }
  report.started = true;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 2;
    if (line == "--") break;
    // "/Setup=Tamsu" keeps its "=" in the label; "Command line: x" loses ": ".
    std::string label, value;
    if (!line.empty() && line[0] == '/') {
      size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      label = line.substr(0, eq + 1);
      value = line.substr(eq + 1);
    } else {
      size_t colon = line.find(": ");
      if (colon == std::string::npos) continue;
      label = line.substr(0, colon);
      value = line.substr(colon + 2);
    }
    report.lines[label] = value;
  }
  return report;
}

SetupRun::SetupRun(const std::string& setup_exe, const std::string& host_addresses,
                   const std::string& updater_log, const std::string& arguments) {
  // The child inherits these; the updater it starts inherits them in turn.
  SetEnvironmentVariableA("SETUP_E2E_ADDRESSES", host_addresses.c_str());
  SetEnvironmentVariableA("SETUP_DEMO_UPDATER_LOG", updater_log.c_str());
  SetEnvironmentVariableA("SETUP_DEMO_UPDATER_CLOSE", "0");
  std::string line = "\"" + setup_exe + "\"" + (arguments.empty() ? "" : " " + arguments);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_)) {
    ADD_FAILURE() << "cannot start " << setup_exe << ": error " << GetLastError();
    process_ = PROCESS_INFORMATION();
  }
}

SetupRun::~SetupRun() {
  if (!process_.hProcess) return;
  if (!Ended()) {
    TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 10000);
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

bool SetupRun::Ended() {
  return !process_.hProcess || WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
}

bool SetupRun::Drive(DWORD timeout_ms, const std::function<bool()>& done) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done && done()) return true;
    if (Ended()) return !done;
    if (GetTickCount() - start > timeout_ms) return false;
    HWND proxy = FindProcessWindow(process_.dwProcessId, "Enter Network Password");
    if (proxy) {
      ++proxy_dialogs_;
      // Its two edits in order: the name, then the password.
      HWND name = FindWindowExA(proxy, nullptr, "Edit", nullptr);
      HWND password = name ? FindWindowExA(proxy, name, "Edit", nullptr) : nullptr;
      EXPECT_TRUE(password) << "the proxy dialog has no name and password fields";
      if (name) SetWindowTextA(name, proxy_user_.c_str());
      if (password) SetWindowTextA(password, proxy_password_.c_str());
      PostMessageA(proxy, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(proxy, IDOK)));
      for (int i = 0; i < 100 && IsWindow(proxy) && IsWindowVisible(proxy); ++i) Sleep(100);
    }
    HWND dialog = FindDriveDialog(process_.dwProcessId);
    if (dialog) {
      dialog_seen_ = true;
      if (cancel_dialog_)
        ::PressCancel(dialog);
      else
        EXPECT_TRUE(AnswerDriveDialog(dialog, 20000, nullptr)) << "the drive dialog's OK stayed disabled";
      // Wait for the dialog to go before looking again.
      for (int i = 0; i < 100 && IsWindow(dialog) && IsWindowVisible(dialog); ++i) Sleep(100);
    }
    Sleep(100);
  }
}

HWND SetupRun::MainWindow() { return process_.hProcess ? FindSetupWindow(process_.dwProcessId) : nullptr; }

std::string SetupRun::StatusLine() {
  HWND window = MainWindow();
  return window ? WindowText(window, kSetupStatusLine) : "<no window>";
}

std::string SetupRun::ErrorLine() {
  HWND window = MainWindow();
  return window ? WindowText(window, kSetupErrorLine) : "<no window>";
}

void SetupRun::PressCancel() {
  HWND window = MainWindow();
  ASSERT_NE(window, nullptr) << "no setup window to cancel";
  ::PressCancel(window);
}

void SetupRun::PressInstall() {
  HWND window = MainWindow();
  ASSERT_NE(window, nullptr) << "no setup window";
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

CleanMachine::CleanMachine() {
  Clean();
  old_bios_ = MachineString(kBiosKey, "BIOSVersion");
  SetMachineString(kBiosKey, "BIOSVersion", "abc");
}

CleanMachine::~CleanMachine() {
  Clean();
  if (old_bios_ == "<absent>") {
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBiosKey, 0, KEY_SET_VALUE, &k) == ERROR_SUCCESS) {
      RegDeleteValueA(k, "BIOSVersion");
      RegCloseKey(k);
    }
  } else {
    SetMachineString(kBiosKey, "BIOSVersion", old_bios_);
  }
}

void CleanMachine::Clean() {
  testing_support::DeleteMachineKey("Software\\Brannock");
  RemoveTree(DefaultInstallFolder());
}

}  // namespace e2e
