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

#define SETUP_WIDE_(text) L##text
#define SETUP_WIDE(text) SETUP_WIDE_(text)

InstallSequence::InstallSequence(InstallHost& host)
    : host_(host), fetcher_(nullptr), folder_chosen_(false), updater_present_(false), fetch_secure_failure_(false) {
  install_folder_[0] = 0;
  updater_path_[0] = 0;
  pending_path_[0] = 0;
}

static void WorkingFolder(const char* install_folder, char* out, size_t cap) {
  CopyText(out, cap, install_folder);
  size_t n = strlen(out);
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
static bool EnterWorkingFolder(const char* folder) {
  wchar_t wide[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, folder, -1, wide, MAX_PATH) ||
      !PrepareInstallFolder(wide, !IsBelowProgramFiles(folder)))
    return false;
  if (!SetCurrentDirectoryA(folder)) {
    LogWithError("SetCurrentDirectory %s failed 0x%x\r\n", folder);
    return false;
  }
  return true;
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

  ByteString stored = RegGetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", "");
  CopyText(install_folder_, sizeof install_folder_, stored.Text());
  if (!EndWithBackslash(install_folder_, sizeof install_folder_) || !IsDirectoryPath(install_folder_)) {
    install_folder_[0] = 0;
  }

  if (!install_folder_[0]) {
    char chosen[MAX_PATH] = "";
    if (host_.RunDriveDialog(chosen, sizeof chosen) != 1) {
      // Closes the window when the main window's Cancel came meanwhile.
      CommonEnd();
      return;
    }
    CopyText(install_folder_, sizeof install_folder_, chosen);
    folder_chosen_ = true;
  }

  char folder[MAX_PATH];
  WorkingFolder(install_folder_, folder, sizeof folder);
  if (!EnterWorkingFolder(folder)) {
    // Nothing is fetched into whatever folder happens to be current.
    if (!IsCancelRequested()) {
      // The path as the system's code page reads it; the line has room for
      // any path.
      wchar_t path[MAX_PATH];
      if (!MultiByteToWideChar(CP_ACP, 0, folder, -1, path, MAX_PATH)) path[0] = 0;
      host_.SetErrorLine(UiLine(kUiFolderRefused, path).Text());
    }
    CommonEnd();
    return;
  }

  ClearDiskFull();
  const char* updater = GetUpdaterPath();
  if (!updater[0]) {
    CommonEnd();
    return;
  }
  WorkingFolder(install_folder_, folder, sizeof folder);

  host_.MergeLaunchParameters();

  char arguments[600];
  StartOutcome start = ComposeArguments(arguments, sizeof arguments) ? StartCheckedProcess(updater, arguments, folder)
                                                                     : kNotStarted;
  bool refused = start == kNotTrusted;
  if (start != kStarted && updater_present_ && !IsCancelRequested()) {
    // The updater that was already there would not start or was not signed:
    // replace it with a fresh copy and try once more.
    DeleteFileA(updater_path_);
    if (FetchUpdater()) start = StartCheckedProcess(updater, arguments, folder);
    refused = refused || start == kNotTrusted;
  }
  bool started = start == kStarted;

  if (started) {
    if (folder_chosen_) RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", install_folder_);
    host_.EnableInstallButton();
    host_.PostCloseCommand();
  } else if (!IsCancelRequested()) {
    // A file cut by a full disk fails its checks; the user is told of the disk.
    bool full = DiskFullNoted();
    if (full) LogPrint("Disk full in %s\r\n", folder);
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

bool InstallSequence::ComposeArguments(char* out, size_t cap) {
  bool ok = FormatText(out, cap, "/Setup=%s", SETUP_PRODUCT_NAME) >= 0;
  ByteString codes = fetcher_->GetCodes();
  // Quoted when a credential holds a blank or a quote, so the updater reads
  // exactly the four credentials and no option of their making.
  if (ok && codes.IsPresent()) ok = AppendText(out, cap, " /Codes=") && AppendArgumentValue(out, cap, codes.Text());
  if (ok && host_.HasEmbeddedPackage()) {
    char self[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    ok = n > 0 && n < sizeof self && AppendFormat(out, cap, " /Bulk=\"%s\"", self);
  }
  if (!ok) LogPrint("Updater arguments do not fit %d bytes\r\n", static_cast<int>(cap));
  return ok;
}

const char* InstallSequence::GetUpdaterPath() {
  // Both always fit (see the header); a path longer than the platform takes
  // then fails to fetch or start, and the user sees "Failed to start Update".
  updater_present_ = false;
  FormatText(updater_path_, sizeof updater_path_, "%s%s", install_folder_, "Update.exe");
  FormatText(pending_path_, sizeof pending_path_, "%s%s", install_folder_, "NewUpdate.exe");

  if (IsFilePath(pending_path_)) {
    DeleteFileA(updater_path_);
    // MoveFileA's own flag: one import serves every move.
    MoveFileExA(pending_path_, updater_path_, MOVEFILE_COPY_ALLOWED);
  }
  if (IsFilePath(updater_path_)) {
    updater_present_ = true;
    return IsCancelRequested() ? "" : updater_path_;
  }
  FetchUpdater();
  if (IsCancelRequested()) {
    DeleteFileA(updater_path_);
    return "";
  }
  return updater_path_;
}

bool InstallSequence::FetchUpdater() {
  // The status line follows the transfer and is empty again after it.
  ProgressLine progress(host_);
  fetch_secure_failure_ = false;
  if (!fetcher_->GetCompressedFile("Update.exe", pending_path_, &progress)) {
    fetch_secure_failure_ = fetcher_->SecureConnectionFailed();
    return false;
  }
  DeleteFileA(updater_path_);
  return MoveFileExA(pending_path_, updater_path_, MOVEFILE_COPY_ALLOWED) != 0;
}
