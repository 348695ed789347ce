#include "install/install_sequence.h"

#include <string.h>

#include "base/cancel_flag.h"
#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "install/folder_access.h"
#include "install/folder_rules.h"
#include "install/product.h"
#include "install/progress_line.h"
#include "install/process_start.h"
#include "install/command_line.h"
#include "base/registry.h"
#include "base/text.h"
#include "base/ui_language.h"

static const wchar_t kPendingName[] = L"NewUpdate.exe";
#define SETUP_WIDE_(text) L##text
#define SETUP_WIDE(text) SETUP_WIDE_(text)

InstallSequence::InstallSequence(InstallHost& host)
    : host_(host), fetcher_(nullptr), folder_chosen_(false), updater_present_(false), fetch_secure_failure_(false) {
  install_folder_[0] = 0;
  updater_path_[0] = 0;
  pending_path_[0] = 0;
}

static void WorkingFolder(const wchar_t* install_folder, wchar_t* out, size_t cap) {
  out[0] = 0;
  AppendPath(out, cap, install_folder);
  size_t n = lstrlenW(out);
  if (n) out[n - 1] = 0;  // drop the trailing backslash
}

// Below the program-files folder a new folder inherits that folder's access
// list. Anywhere else (a drive root's "X:\<family>") it would inherit one that
// lets any user replace what the administrator starts next, so it gets a
// locked list of its own.
static bool IsBelowProgramFiles(const char* folder) {
  static const char* const kValues[] = {"ProgramFilesDir", "ProgramFilesDir (x86)", "ProgramW6432Dir"};
  for (const char* value : kValues) {
    ByteString program_files =
        RegGetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", value, "");
    if (IsInsideFolder(folder, program_files.Text())) return true;
  }
  return false;
}

// Creates the working folder when missing and makes it current; the
// fetcher's temporary files land in the current folder. Outside the
// program-files folders anyone may have made it beforehand: it must be the
// administrators' before anything is fetched into it or started from it.
static bool EnterWorkingFolder(const wchar_t* folder) {
  // The program-files rule reads narrow paths: a folder with no narrow form
  // counts as outside, so it is made locked and judged as such.
  char narrow[MAX_PATH];
  bool below = NarrowPath(folder, narrow, sizeof narrow) && IsBelowProgramFiles(narrow);
  if (!PrepareInstallFolder(folder, !below)) return false;
  if (!SetCurrentDirectoryW(folder)) {
    char log[2 * MAX_PATH];
    if (LogIsOn()) LogTextOf(folder, log, sizeof log);
    LogWithError("SetCurrentDirectory %s failed", log);
    return false;
  }
  return true;
}

// The folder as stored, with its trailing backslash; a folder that does not
// fit or no longer exists is asked for again.
static void StoredInstallFolder(wchar_t* out, size_t cap) {
  size_t n = RegGetPath(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, L"InstallDir", out, cap) ? lstrlenW(out) : 0;
  if (n && out[n - 1] != L'\\' && !AppendPath(out, cap, L"\\")) n = 0;
  if (!n || !IsDirectoryPath(out)) out[0] = 0;
}

void InstallSequence::Run() {
  // The cancel flag was cleared by the Install command; clearing it here
  // would lose a Cancel pressed before this first step.
  host_.SetStatusLine(UiLine(kUiPleaseWait).Text());
  host_.ClearErrorLine();
  host_.SetStatusLine(UiLine(kUiContacting).Text());

  // The host may have ended the fetcher of an earlier run.
  fetcher_ = host_.ContactSite(SETUP_FAMILY_NAME);
  if (!fetcher_) {
    ContactFailure();
    return;
  }
  host_.SetStatusLine(L"");
  if (IsCancelRequested()) {
    CommonEnd();
    return;
  }

  StoredInstallFolder(install_folder_, MAX_PATH);

  if (!install_folder_[0]) {
    wchar_t chosen[MAX_PATH] = L"";
    if (host_.RunDriveDialog(chosen, MAX_PATH) != 1) {
      // Closes the window when the main window's Cancel came meanwhile.
      CommonEnd();
      return;
    }
    AppendPath(install_folder_, MAX_PATH, chosen);
    folder_chosen_ = true;
  }

  wchar_t folder[MAX_PATH];
  WorkingFolder(install_folder_, folder, MAX_PATH);
  if (!EnterWorkingFolder(folder)) {
    // Nothing is fetched into whatever folder happens to be current.
    if (!IsCancelRequested()) host_.SetErrorLine(UiLine(kUiFolderRefused, folder).Text());
    CommonEnd();
    return;
  }

  ClearDiskFull();
  const wchar_t* updater = GetUpdaterPath();
  if (!updater[0]) {
    CommonEnd();
    return;
  }
  WorkingFolder(install_folder_, folder, MAX_PATH);

  host_.MergeLaunchParameters();

  wchar_t arguments[600];
  StartOutcome start = ComposeArguments(arguments, 600) ? StartCheckedProcess(updater, arguments, folder)
                                                        : kNotStarted;
  bool refused = start == kNotTrusted;
  if (start != kStarted && updater_present_ && !IsCancelRequested()) {
    // The updater that was already there would not start or was not signed:
    // replace it with a fresh copy and try once more.
    DeleteFileW(updater_path_);
    if (FetchUpdater()) start = StartCheckedProcess(updater, arguments, folder);
    refused = refused || start == kNotTrusted;
  }
  bool started = start == kStarted;

  if (started) {
    if (folder_chosen_) RegSetPath(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, L"InstallDir", install_folder_);
    host_.EnableInstallButton();
    host_.PostCloseCommand();
  } else if (!IsCancelRequested()) {
    // A file cut by a full disk fails its checks; the user is told of the disk.
    bool full = DiskFullNoted();
    if (full && LogIsOn()) {
      char log[2 * MAX_PATH];
      LogTextOf(folder, log, sizeof log);
      LogPrint("Disk full in %s\n", log);
    }
    host_.SetErrorLine(UiLine(full                    ? kUiDiskFull
                              : refused               ? kUiNotSigned
                              : fetch_secure_failure_ ? kUiSecureFailed
                                                      : kUiStartFailed,
                              SETUP_WIDE(SETUP_UPDATER_SIGNER))
                           .Text());
  }
  CommonEnd();
}

void InstallSequence::CommonEnd() {
  host_.SetStatusLine(L"");
  host_.EnableInstallButton();
  if (IsCancelRequested()) host_.PostCloseCommand();
}

void InstallSequence::ContactFailure() {
  host_.SetStatusLine(L"");
  UiLine text(host_.SecureContactFailed() ? kUiSecureFailed : kUiContactFailed);
  if (IsCancelRequested()) {
    host_.SetStatusLine(text.Text());
  } else {
    host_.SetErrorLine(text.Text());
  }
  host_.EnableInstallButton();
}

bool InstallSequence::ComposeArguments(wchar_t* out, size_t cap) {
  // The product name and the codes are narrow texts; the setup's own path
  // after "/Bulk=" may be named in any script.
  char narrow[600];
  bool ok = FormatText(narrow, sizeof narrow, "/Setup=%s", SETUP_PRODUCT_NAME) >= 0;
  ByteString codes = fetcher_->GetCodes();
  // Quoted when a credential holds a blank or a quote, so the updater reads
  // exactly the four credentials and no option of their making.
  if (ok && codes.IsPresent())
    ok = AppendText(narrow, sizeof narrow, " /Codes=") && AppendArgumentValue(narrow, sizeof narrow, codes.Text());
  ok = ok && MultiByteToWideChar(CP_ACP, 0, narrow, -1, out, static_cast<int>(cap)) > 0;
  if (ok && host_.HasEmbeddedPackage()) {
    wchar_t self[MAX_PATH];
    ok = OwnPath(self, MAX_PATH) && AppendPath(out, cap, L" /Bulk=\"") && AppendPath(out, cap, self) &&
         AppendPath(out, cap, L"\"");
  }
  if (!ok) LogPrint("Updater arguments do not fit %d characters\n", static_cast<int>(cap));
  return ok;
}

const wchar_t* InstallSequence::GetUpdaterPath() {
  // Both always fit (see the header); a path longer than the platform takes
  // then fails to fetch or start, and the user sees "Failed to start Update".
  updater_present_ = false;
  updater_path_[0] = pending_path_[0] = 0;
  AppendPath(updater_path_, MAX_PATH + 16, install_folder_);
  AppendPath(updater_path_, MAX_PATH + 16, L"Update.exe");
  AppendPath(pending_path_, MAX_PATH + 16, install_folder_);
  AppendPath(pending_path_, MAX_PATH + 16, kPendingName);

  if (IsFilePath(pending_path_)) {
    DeleteFileW(updater_path_);
    // MoveFile's own flag: one import serves every move.
    MoveFileExW(pending_path_, updater_path_, MOVEFILE_COPY_ALLOWED);
  }
  if (IsFilePath(updater_path_)) {
    updater_present_ = true;
    return IsCancelRequested() ? L"" : updater_path_;
  }
  FetchUpdater();
  if (IsCancelRequested()) {
    DeleteFileW(updater_path_);
    return L"";
  }
  return updater_path_;
}

bool InstallSequence::FetchUpdater() {
  // The status line follows the transfer and is empty again after it.
  ProgressLine progress(host_);
  fetch_secure_failure_ = false;
  // Named in the current folder, which is the install folder: the fetcher
  // takes narrow names, and the folder's own name may have no narrow form.
  if (!fetcher_->GetCompressedFile("Update.exe", "NewUpdate.exe", &progress)) {
    fetch_secure_failure_ = fetcher_->SecureConnectionFailed();
    return false;
  }
  DeleteFileW(updater_path_);
  return MoveFileExW(pending_path_, updater_path_, MOVEFILE_COPY_ALLOWED) != 0;
}
