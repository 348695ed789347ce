#pragma once
#include <windows.h>

#include "base/byte_string.h"
#include "base/transfer_progress.h"

// The updater source as the sequence sees it: the run's file fetcher.
class UpdaterFetcher {
 public:
  virtual ~UpdaterFetcher() {}
  // Fetches the cabinet of name and unpacks it so that the fresh updater
  // stands at target; false on any failure and when cancelled. progress, when
  // given, hears how far each transfer has come.
  virtual bool GetCompressedFile(const char* name, const char* target, TransferProgress* progress = nullptr) = 0;
  // The codes text for " /Codes=", or an absent text.
  virtual ByteString GetCodes() = 0;
  // True when the last fetch failed for the secure connection alone.
  virtual bool SecureConnectionFailed() const = 0;
};

// What the sequence uses of the window, the site and the rest of the program.
class InstallHost {
 public:
  virtual ~InstallHost() {}
  // The main window's lines, in the user's language (base/ui_language.h);
  // all wait until the window has handled them.
  virtual void SetStatusLine(const wchar_t* text) = 0;
  virtual void SetErrorLine(const wchar_t* text) = 0;
  virtual void ClearErrorLine() = 0;
  virtual void EnableInstallButton() = 0;
  virtual void PostCloseCommand() = 0;
  virtual bool HasEmbeddedPackage() = 0;
  // Builds the site connection, asks it for the family and builds the file
  // fetcher on the answer. None when any of them fails. The fetcher lives
  // until the next call, which may end it.
  virtual UpdaterFetcher* ContactSite(const char* family) = 0;
  // After ContactSite gave none: true when the site could not be reached
  // for the secure connection alone.
  virtual bool SecureContactFailed() = 0;
  // Runs the drive dialog modally; 1 with the chosen folder (ending in a
  // backslash) in folder (cap characters), anything else when cancelled.
  virtual int RunDriveDialog(wchar_t* folder, size_t cap) = 0;
  // Merges the executable's parameter block into the stored web parameters.
  virtual void MergeLaunchParameters() = 0;
};

// The worker's procedure from "Please wait..." to the start of the updater.
// Its state (folder, updater path) lasts across runs of one process.
class InstallSequence {
 public:
  explicit InstallSequence(InstallHost& host);
  void Run();

  // The updater path, fetching the updater when it is missing; the empty text
  // when the cancel flag is set. Settled afresh at every call (once a run), so
  // a failed fetch is tried again by the next run.
  const wchar_t* GetUpdaterPath();

 private:
  // Brings the updater to the paths GetUpdaterPath settled.
  bool FetchUpdater();
  void ContactFailure();
  void CommonEnd();
  bool ComposeArguments(wchar_t* out, size_t cap);

  InstallHost& host_;
  UpdaterFetcher* fetcher_;
  // Paths are wide: the folder may be named in any script.
  wchar_t install_folder_[MAX_PATH];
  bool folder_chosen_;
  // The folder (at most 259 characters) plus "NewUpdate.exe" always fits, so
  // these paths are never cut.
  wchar_t updater_path_[MAX_PATH + 16];
  wchar_t pending_path_[MAX_PATH + 16];
  bool updater_present_;
  // The last fetch of the updater failed for the secure connection alone.
  bool fetch_secure_failure_;
};
