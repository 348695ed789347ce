#pragma once
// Running the end-to-end variant of Setup.exe under the bench's Wine prefix:
// a loopback vendor site, the program as a separate process, its windows
// answered the way a user would, and what it left behind.
#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/http_test_server.h"

namespace e2e {

extern const char kTestPattern[];  // the 17-character connection test file

// A file of the build tree, given relative to its root.
std::string BuildFile(const std::string& relative);
std::string ReadBuildFile(const std::string& relative);  // fails the test when missing
// The end-to-end variant of Setup.exe.
std::string SetupProgram();

std::string Quoted(const std::string& path);
// The maker's tool on the end-to-end Setup.exe; fails the test when it fails.
void Make(const std::string& arguments);

// Where the drive dialog puts the product on this prefix: "<Program Files>\Pellomar".
std::string DefaultInstallFolder();
void RemoveTree(const std::string& path);
// Names of the files directly in a folder (no "." or ".."), sorted.
std::vector<std::string> FolderEntries(const std::string& folder);
std::string TempFolder();  // without its trailing backslash

// The vendor site on TestAddress(a, 1) and the download area on
// TestAddress(a, 2): the test files, the gateway naming the area, and the
// updater as a cabinet and uncompressed (the demo's own updater).
struct LoopbackSite {
  explicit LoopbackSite(int a);
  // The host table of the program: both site names on the site's address,
  // both family names on TestAddress(a, 3), where nothing listens.
  std::string HostAddresses() const;
  int a;
  testing_support::HttpTestServer site;
  testing_support::HttpTestServer area;
  std::string cabinet;  // bytes of the cabinet "Update.exe"
  std::string updater;  // bytes of the updater it holds
};

// What the demo updater wrote when it ran: its report's "label: value"
// lines ("Command line", "/Setup=", "/Codes=", "/Bulk=", "Working folder",
// "WWWParams at start").
struct UpdaterReport {
  bool started = false;
  std::map<std::string, std::string> lines;
  std::string Line(const std::string& label) const;
};

// One run of a setup executable. The updater it starts writes its report to
// a log of the run's own; the environment names the host table.
class SetupRun {
 public:
  SetupRun(const std::string& setup_exe, const std::string& host_addresses, const std::string& updater_log,
           const std::string& arguments = "");
  ~SetupRun();  // ends the process if it still runs
  bool Started() const { return process_.hProcess != nullptr; }

  // Handles the windows until done() holds or the process ends or time
  // runs out: the drive dialog is answered with OK (or Cancel, see below)
  // when it shows. True when done() held (or, without done, when the
  // process ended).
  bool Drive(DWORD timeout_ms, const std::function<bool()>& done = nullptr);
  bool Ended();
  bool DriveDialogSeen() const { return dialog_seen_; }
  // The platform's proxy credentials dialog, when it shows, is answered with
  // these and OK; ProxyDialogsSeen counts how often it came.
  void AnswerProxyDialog(const std::string& user, const std::string& password) {
    proxy_user_ = user;
    proxy_password_ = password;
  }
  int ProxyDialogsSeen() const { return proxy_dialogs_; }
  void CancelDriveDialog() { cancel_dialog_ = true; }
  void AcceptDriveDialog() { cancel_dialog_ = false; }
  HWND MainWindow();
  std::string StatusLine();
  std::string ErrorLine();
  void PressCancel();
  // What Enter does in the window: the hidden default button starts a run.
  void PressInstall();

 private:
  PROCESS_INFORMATION process_ = {};
  bool dialog_seen_ = false;
  bool cancel_dialog_ = false;
  std::string proxy_user_, proxy_password_;
  int proxy_dialogs_ = 0;
};

// Waits (at most timeout_ms) for the updater's report to be complete.
UpdaterReport WaitForUpdater(const std::string& log, DWORD timeout_ms);

// Leaves no trace of the family in the registry or the default folder,
// before and after a test; sets the prefix's BIOS version text to "abc"
// (fingerprint 53) for the test's time and puts back what was there.
class CleanMachine {
 public:
  CleanMachine();
  ~CleanMachine();

 private:
  void Clean();
  std::string old_bios_;
};

}  // namespace e2e
