// The install sequence with the real site connection, product query and file
// fetcher against loopback servers, up to the start of the test updater.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "base/cancel_flag.h"
#include "install/install_sequence.h"
#include "install/product.h"
#include "base/registry.h"
#include "package/embedded_package.h"
#include "site/file_fetcher.h"
#include "site/product_query.h"
#include "site/site_connection.h"
#include "tests/site/fetcher_test_support.h"
#include "tests/site/loopback_host.h"
#include "tests/support/test_support.h"

using fetcher_testing::Cabinet;
using fetcher_testing::LoopbackSite;
using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;
using site_testing::LoopbackSiteHost;

namespace {

std::string SelfPath() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

class InstallRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::DeleteMachineKey(SETUP_FAMILY_KEY);
    SetCancelRequested(false);
    GetCurrentDirectoryA(sizeof cwd_, cwd_);
    log_ = log_folder_.File("updater.log");
    SetEnvironmentVariableA("SETUP_TEST_UPDATER_LOG", log_.c_str());
    install_ = folder_.File("Pellomar");
    CreateDirectoryA(install_.c_str(), nullptr);
    RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", (install_ + "\\").c_str());
  }
  void TearDown() override {
    SetCurrentDirectoryA(cwd_);
    testing_support::DeleteMachineKey(SETUP_FAMILY_KEY);
  }
  // The sequence does not wait for the updater; the test waits for its record
  // (command line, then folder).
  std::string WaitForUpdaterLog() {
    std::string text;
    for (int i = 0; i < 400; ++i) {
      text = ReadWholeFile(log_);
      if (std::count(text.begin(), text.end(), '\n') >= 2) break;
      Sleep(50);
    }
    return text;
  }

  ScratchFolder folder_, log_folder_;
  std::string log_, install_;
  char cwd_[MAX_PATH];
};

TEST_F(InstallRoadTest, WebInstallUnpacksTheCabinetAndStartsTheUpdater) {
  LoopbackSite loopback(51, 1);
  ASSERT_TRUE(loopback.Ok());
  loopback.AreaUp();
  std::string cabinet = Cabinet("updater.cab");
  ASSERT_FALSE(cabinet.empty());
  loopback.ServeArea("Update.exe", cabinet);

  LoopbackSiteHost host(loopback.site.Address(), nullptr);
  InstallSequence sequence(host);
  sequence.Run();

  EXPECT_EQ(host.error, "");
  EXPECT_EQ(host.close_posts, 1);
  EXPECT_EQ(host.dialog_runs, 0);
  EXPECT_EQ(WaitForUpdaterLog(), "\"" + install_ + "\\Update.exe\" /Setup=Tamsu\r\n" + install_ + "\r\n");
  EXPECT_FALSE(testing_support::FileExists(install_ + "\\NewUpdate.exe"));
  EXPECT_FALSE(testing_support::FileExists(install_ + "\\http_tmp2.tmp"));
  EXPECT_EQ(loopback.AreaRequestsFor("Update.exe"), 1);
  EXPECT_EQ(loopback.AreaRequestsFor("Update.exe_uncompressed"), 0);
}

TEST_F(InstallRoadTest, PackageInstallNeedsTheGatewayButNotTheArea) {
  LoopbackSite loopback(51, 2);
  ASSERT_TRUE(loopback.Ok());
  // The area the gateway names is down: every request there would get a 404.
  std::string setup = folder_.File("Setup.exe");
  ASSERT_TRUE(fetcher_testing::WritePackageExecutable(setup, SETUP_FAMILY_NAME,
                                                      {{"Update.exe", Cabinet("updater.cab")}}));
  EmbeddedPackage package(testing_support::WidePath(setup).c_str());
  ASSERT_TRUE(package.IsOpen());

  LoopbackSiteHost host(loopback.site.Address(), &package);
  InstallSequence sequence(host);
  sequence.Run();

  EXPECT_EQ(host.error, "");
  EXPECT_EQ(host.close_posts, 1);
  EXPECT_EQ(WaitForUpdaterLog(),
            "\"" + install_ + "\\Update.exe\" /Setup=Tamsu /Bulk=\"" + SelfPath() + "\"\r\n" + install_ + "\r\n");
  EXPECT_EQ(loopback.Area().ConnectionCount(), 0);
  bool asked_gateway = false;
  for (const std::string& target : loopback.site.Targets()) {
    if (target.find("/secure/gateway_new.php?Product=Pellomar&") == 0) asked_gateway = true;
  }
  EXPECT_TRUE(asked_gateway);
}

TEST_F(InstallRoadTest, UnusableCabinetAndNoPlainCopyFailsToStart) {
  LoopbackSite loopback(51, 3);
  ASSERT_TRUE(loopback.Ok());
  loopback.AreaUp();
  loopback.ServeArea("Update.exe", Cabinet("cut.cab"));

  LoopbackSiteHost host(loopback.site.Address(), nullptr);
  InstallSequence sequence(host);
  sequence.Run();

  EXPECT_EQ(host.error, "Failed to start Update");
  EXPECT_EQ(host.close_posts, 0);
  EXPECT_TRUE(host.button_enabled);
  EXPECT_FALSE(testing_support::FileExists(install_ + "\\NewUpdate.exe"));
  EXPECT_FALSE(testing_support::FileExists(install_ + "\\Update.exe"));
  EXPECT_FALSE(testing_support::FileExists(log_));
}

}  // namespace
