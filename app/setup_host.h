#pragma once
#include <windows.h>

#include "install/install_sequence.h"

class SetupDialog;
class SiteConnection;

// What the install sequence uses of the program: the main window's lines and
// close command, the site contact, the drive dialog and the parameter merge.
class SetupHost : public InstallHost {
 public:
  SetupHost(HINSTANCE instance, SetupDialog& dialog);
  SetupHost(const SetupHost&) = delete;
  SetupHost& operator=(const SetupHost&) = delete;

  void SetStatusLine(const wchar_t* text) override;
  void SetErrorLine(const wchar_t* text) override;
  void ClearErrorLine() override;
  void EnableInstallButton() override;
  void PostCloseCommand() override;
  bool HasEmbeddedPackage() override;
  // Each run builds its own connection and fetcher; the last ones are kept
  // until the process ends (the sequence holds on to the fetcher).
  UpdaterFetcher* ContactSite(const char* family) override;
  bool SecureContactFailed() override;
  int RunDriveDialog(wchar_t* folder, size_t cap) override;
  void MergeLaunchParameters() override;

 protected:
  HINSTANCE instance_;
  SetupDialog& dialog_;
  SiteConnection* site_;
  UpdaterFetcher* fetcher_;
};

// The worker procedure of the main window: one sequence for the process,
// run again by every Install command.
void RunInstallSequence(void* sequence);
