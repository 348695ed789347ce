// The window's side of the install sequence, recorded, with the real site
// connection, product query and file fetcher behind ContactSite.
#pragma once

#include <string.h>
#include <wchar.h>

#include <memory>
#include <string>

#include "install/install_sequence.h"
#include "tests/support/test_support.h"
#include "package/embedded_package.h"
#include "site/file_fetcher.h"
#include "site/product_query.h"
#include "site/site_connection.h"

namespace site_testing {

class LoopbackSiteHost : public InstallHost {
 public:
  explicit LoopbackSiteHost(const std::string& site_host, EmbeddedPackage* package = nullptr)
      : site_host_(site_host), package_(package) {}

  // The English texts are ASCII.
  void SetStatusLine(const wchar_t* text) override { status.assign(text, text + wcslen(text)); }
  void SetErrorLine(const wchar_t* text) override {
    if (error.empty()) error.assign(text, text + wcslen(text));
  }
  void ClearErrorLine() override { error.clear(); }
  void EnableInstallButton() override { button_enabled = true; }
  void PostCloseCommand() override { ++close_posts; }
  bool HasEmbeddedPackage() override { return package_ != nullptr; }
  UpdaterFetcher* ContactSite(const char* family) override {
    site.reset(new SiteConnection(nullptr, site_host_.c_str()));
    ProductQuery* query = site->FindOrCreateQuery(family);
    if (!query) return nullptr;
    fetcher.reset(new FileFetcher(nullptr, query, package_));
    return fetcher.get();
  }
  bool SecureContactFailed() override { return site && site->SecureConnectionFailed(); }
  // Answers with dialog_folder; without one (or when it does not fit), as if
  // cancelled.
  int RunDriveDialog(wchar_t* folder, size_t cap) override {
    ++dialog_runs;
    std::wstring wide = testing_support::WidePath(dialog_folder);
    if (wide.empty() || wide.size() >= cap) return 2;
    memcpy(folder, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    return 1;
  }
  void MergeLaunchParameters() override {}

  std::unique_ptr<SiteConnection> site;
  std::unique_ptr<FileFetcher> fetcher;
  std::string status = "untouched", error, dialog_folder;
  bool button_enabled = false;
  int close_posts = 0;
  int dialog_runs = 0;

 private:
  std::string site_host_;
  EmbeddedPackage* package_;
};

}  // namespace site_testing
