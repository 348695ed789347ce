#include "app/setup_host.h"

#include "app/drive_dialog.h"
#include "app/setup_dialog.h"
#include "install/launch_parameters.h"
#include "base/text.h"
#include "site/file_fetcher.h"
#include "site/site_connection.h"

SetupHost::SetupHost(HINSTANCE instance, SetupDialog& dialog)
    : instance_(instance), dialog_(dialog), site_(nullptr), fetcher_(nullptr) {}

void SetupHost::SetStatusLine(const wchar_t* text) { dialog_.SetStatusLine(text); }
void SetupHost::SetErrorLine(const wchar_t* text) { dialog_.SetErrorLine(text); }
void SetupHost::ClearErrorLine() { dialog_.ClearErrorLine(); }
void SetupHost::EnableInstallButton() { dialog_.EnableInstallButton(); }
void SetupHost::PostCloseCommand() { dialog_.PostCloseCommand(); }
bool SetupHost::HasEmbeddedPackage() { return dialog_.Package() != nullptr; }

UpdaterFetcher* SetupHost::ContactSite(const char* family) {
  // The fetcher of an earlier run holds the package folder open, and a
  // folder opens only once at a time: it goes before the new one is made.
  // Earlier site connections stay, so that their transports' libraries stay
  // loaded for the process.
  delete fetcher_;
  fetcher_ = nullptr;
  site_ = new SiteConnection(dialog_.Window());
  if (!site_) return nullptr;
  ProductQuery* query = site_->FindOrCreateQuery(family);
  if (!query) return nullptr;
  FileFetcher* fetcher = new FileFetcher(dialog_.Window(), query, dialog_.Package());
  fetcher_ = fetcher;
  return fetcher;
}

bool SetupHost::SecureContactFailed() { return site_ && site_->SecureConnectionFailed(); }

int SetupHost::RunDriveDialog(wchar_t* folder, size_t cap) {
  DriveDialog dialog(instance_);
  if (dialog.Run() != 1) return 2;
  // The dialog's folder is a path in the code page's form: it fits any path
  // buffer; refuse rather than cut otherwise.
  return MultiByteToWideChar(CP_ACP, 0, dialog.Folder(), -1, folder, static_cast<int>(cap)) > 0 ? 1 : 2;
}

void SetupHost::MergeLaunchParameters() { ::MergeLaunchParameters(); }

void RunInstallSequence(void* sequence) { static_cast<InstallSequence*>(sequence)->Run(); }
