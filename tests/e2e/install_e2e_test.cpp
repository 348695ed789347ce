// The whole program under Wine: Setup.exe (its end-to-end variant, whose host
// table points at this test's loopback addresses) against a loopback vendor
// site, with the demo updater standing in for the real one.
#include "tests/e2e/e2e_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "base/registry.h"
#include "install/product.h"
#include "tests/support/test_support.h"

namespace {

using e2e::CleanMachine;
using e2e::LoopbackSite;
using e2e::Make;
using e2e::Quoted;
using e2e::SetupRun;
using e2e::UpdaterReport;
using testing_support::HttpReply;
using testing_support::ScratchFolder;

const char kFamilyKey[] = "Software\\Brannock\\Pellomar";
const DWORD kRunTimeoutMs = 120000;

std::string StoredValue(const char* value) {
  return testing_support::ReadMachineValueBytes(kFamilyKey, value);
}

// The program under test, copied to a folder of the test as "Setup.exe".
std::string CopySetup(const ScratchFolder& scratch) {
  std::string target = scratch.File("Setup.exe");
  EXPECT_TRUE(CopyFileA(e2e::SetupProgram().c_str(), target.c_str(), FALSE));
  return target;
}

// The targets must read: one or more connection tests of the folder, then
// the given requests in order, nothing else.
void ExpectTestFileThen(const std::vector<std::string>& targets, const std::string& folder,
                        const std::vector<std::string>& then) {
  std::regex test_file(folder + "test_pattern\\.txt\\?Rand=[0-9]+");
  size_t i = 0;
  while (i < targets.size() && std::regex_match(targets[i], test_file)) ++i;
  EXPECT_GE(i, 1u) << "no connection test below " << folder;
  ASSERT_EQ(targets.size() - i, then.size()) << "requests after the connection test: " << targets.size() - i;
  for (size_t j = 0; j < then.size(); ++j)
    EXPECT_TRUE(std::regex_match(targets[i + j], std::regex(then[j]))) << targets[i + j] << " vs " << then[j];
}

const char kGateway[] = "/secure/gateway_new\\.php\\?Product=Pellomar&Bios=53&Rand=[0-9]+";

TEST(EndToEnd, WebInstallAsksForTheDriveOnceAndFetchesTheUpdaterOnce) {
  CleanMachine machine;
  LoopbackSite web(80);
  ScratchFolder scratch;
  std::string setup = CopySetup(scratch);
  std::string folder = e2e::DefaultInstallFolder();
  std::string log = scratch.File("updater.log");

  {
    SetupRun run(setup, web.HostAddresses(), log);
    ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "Setup.exe did not end; error line: " << run.ErrorLine();
    EXPECT_TRUE(run.DriveDialogSeen());
  }
  UpdaterReport report = e2e::WaitForUpdater(log, 20000);
  ASSERT_TRUE(report.started) << "the updater was not started";
  EXPECT_EQ(report.Line("Command line"), "\"" + folder + "\\Update.exe\" /Setup=Tamsu");
  EXPECT_EQ(report.Line("Working folder"), folder);
  EXPECT_EQ(StoredValue("InstallDir"), folder + "\\" + std::string(1, '\0'));

  // Site: connection test, then the gateway with the prefix's fingerprint
  // (BIOS text "abc"). Area: its own connection test, then the cabinet.
  ExpectTestFileThen(web.site.Targets(), "/secure/", {kGateway});
  ExpectTestFileThen(web.area.Targets(), "/pellomar/", {"/pellomar/Update\\.exe\\?Rand=[0-9]+"});
  // Only the updater is left in the folder, unpacked from the cabinet.
  EXPECT_EQ(e2e::FolderEntries(folder), std::vector<std::string>{"Update.exe"});
  EXPECT_TRUE(testing_support::ReadWholeFile(folder + "\\Update.exe") == web.updater)
      << "Update.exe is not the updater the cabinet holds";

  // Second run: the folder is known and the updater there, so no dialog and
  // nothing fetched; the site is still asked.
  DeleteFileA(log.c_str());
  size_t site_before = web.site.Targets().size();
  size_t area_before = web.area.Targets().size();
  {
    SetupRun run(setup, web.HostAddresses(), log);
    ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "second run did not end; error line: " << run.ErrorLine();
    EXPECT_FALSE(run.DriveDialogSeen());
  }
  report = e2e::WaitForUpdater(log, 20000);
  ASSERT_TRUE(report.started);
  EXPECT_EQ(report.Line("Command line"), "\"" + folder + "\\Update.exe\" /Setup=Tamsu");
  EXPECT_EQ(web.area.Targets().size(), area_before);
  std::vector<std::string> site_targets = web.site.Targets();
  ASSERT_GT(site_targets.size(), site_before);
  ExpectTestFileThen(std::vector<std::string>(site_targets.begin() + site_before, site_targets.end()), "/secure/",
                     {kGateway});
}

// The same install with the site's requests (the site's scheme set to https)
// and the download area over TLS, through the TLS bench's fronts (site 143,
// area 144), timed against the plain one with the same files. Plain servers
// on the fronts' own addresses see nothing: no request falls back to http.
TEST(EndToEnd, HttpsSiteAndAreaInstallAsOverHttp) {
  using testing_support::HttpTestServer;
  using testing_support::TestAddress;
  ScratchFolder scratch;
  std::string setup = CopySetup(scratch);
  std::string folder = e2e::DefaultInstallFolder();
  std::string log = scratch.File("updater.log");
  const std::string cabinet = e2e::ReadBuildFile("tools/demo_updater/cab/Update.exe");
  const std::string updater = e2e::ReadBuildFile("tools/demo_updater/demo_updater.exe");
  DWORD took[2] = {0, 0};
  for (int secure = 0; secure < 2; ++secure) {
    CleanMachine machine;
    DeleteFileA(log.c_str());
    HttpTestServer site(secure ? 143 : 88, secure ? 101 : 1), area(secure ? 144 : 88, secure ? 101 : 2);
    HttpTestServer site_plain(143, 1), area_plain(144, 1);
    ASSERT_TRUE(site.Ok() && area.Ok() && site_plain.Ok() && area_plain.Ok());
    std::string site_host = secure ? TestAddress(143, 1) : site.Address();
    std::string area_url = secure ? "https://" + TestAddress(144, 1) : area.BaseUrl();
    site.ServeFile("/secure/test_pattern.txt", e2e::kTestPattern);
    site.ServeFile("/secure/gateway_new.php", area_url + "/pellomar/");
    area.ServeFile("/pellomar/test_pattern.txt", e2e::kTestPattern);
    area.ServeFile("/pellomar/Update.exe", cabinet);
    SetEnvironmentVariableA("SETUP_E2E_SITE_SCHEME", secure ? "https" : nullptr);
    DWORD start = GetTickCount();
    {
      SetupRun run(setup, site_host + "," + TestAddress(88, 3), log);
      ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "Setup.exe did not end; error line: " << run.ErrorLine();
    }
    took[secure] = GetTickCount() - start;
    SetEnvironmentVariableA("SETUP_E2E_SITE_SCHEME", nullptr);
    const char* name = secure ? "https" : "http";
    UpdaterReport report = e2e::WaitForUpdater(log, 20000);
    ASSERT_TRUE(report.started) << name << ": the updater was not started";
    EXPECT_EQ(report.Line("Command line"), "\"" + folder + "\\Update.exe\" /Setup=Tamsu") << name;
    EXPECT_TRUE(testing_support::ReadWholeFile(folder + "\\Update.exe") == updater) << name;
    ExpectTestFileThen(site.Targets(), "/secure/", {kGateway});
    ExpectTestFileThen(area.Targets(), "/pellomar/", {"/pellomar/Update\\.exe\\?Rand=[0-9]+"});
    EXPECT_EQ(0, site_plain.ConnectionCount() + area_plain.ConnectionCount()) << name;
  }
  printf("install from the same files over http: %lu ms, over https: %lu ms\n", static_cast<unsigned long>(took[0]),
         static_cast<unsigned long>(took[1]));
}

TEST(EndToEnd, SiteDownShowsTheErrorKeepsTheWindowAndLeavesNothing) {
  CleanMachine machine;
  ScratchFolder scratch;
  std::string setup = CopySetup(scratch);
  std::string log = scratch.File("updater.log");
  std::vector<std::string> temp_before = e2e::FolderEntries(e2e::TempFolder());
  // Nothing listens on either address of the host table.
  std::string nowhere = testing_support::TestAddress(81, 1) + "," + testing_support::TestAddress(81, 3);

  SetupRun run(setup, nowhere, log);
  ASSERT_TRUE(run.Drive(kRunTimeoutMs, [&] { return run.ErrorLine() == "Can't contact Pellomar site"; }))
      << "error line: " << run.ErrorLine();
  EXPECT_EQ(run.StatusLine(), "");
  Sleep(1500);
  EXPECT_FALSE(run.Ended()) << "the window closed by itself";
  EXPECT_FALSE(run.DriveDialogSeen());
  // The worker has ended, so Cancel now quits.
  run.PressCancel();
  EXPECT_TRUE(run.Drive(15000)) << "Cancel did not end the program";

  EXPECT_FALSE(testing_support::FileExists(e2e::DefaultInstallFolder()));
  EXPECT_EQ(e2e::FolderEntries(scratch.Path()), std::vector<std::string>{"Setup.exe"});
  std::vector<std::string> temp_after = e2e::FolderEntries(e2e::TempFolder());
  std::vector<std::string> left;
  for (const std::string& name : temp_after) {
    bool old = std::find(temp_before.begin(), temp_before.end(), name) != temp_before.end();
    // Scratch folders of the tests (this one's, and others' running beside it) come and go.
    if (!old && name.compare(0, 11, "setup-test-") != 0) left.push_back(name);
  }
  EXPECT_TRUE(left.empty()) << "left in %TEMP%: " << left.front();
  EXPECT_EQ(StoredValue("InstallDir"), "<absent>");
}

TEST(EndToEnd, CancelledDriveDialogKeepsTheWindowWithoutTextAndStoresNothing) {
  CleanMachine machine;
  LoopbackSite web(86);
  ScratchFolder scratch;
  std::string setup = CopySetup(scratch);
  std::string log = scratch.File("updater.log");

  SetupRun run(setup, web.HostAddresses(), log);
  run.CancelDriveDialog();
  ASSERT_TRUE(run.Drive(kRunTimeoutMs, [&] { return run.DriveDialogSeen(); })) << "no drive dialog";
  // The dialog goes, the window stays, with both lines empty.
  ASSERT_FALSE(run.Drive(3000)) << "the program ended after the dialog was cancelled";
  EXPECT_EQ(run.StatusLine(), "");
  EXPECT_EQ(run.ErrorLine(), "");
  run.PressCancel();
  EXPECT_TRUE(run.Drive(15000)) << "Cancel did not end the program";

  EXPECT_FALSE(testing_support::FileExists(e2e::DefaultInstallFolder()));
  EXPECT_EQ(StoredValue("InstallDir"), "<absent>");
  EXPECT_EQ(web.area.ConnectionCount(), 0);
  EXPECT_FALSE(e2e::WaitForUpdater(log, 500).started);
}

TEST(EndToEnd, UnreachableDownloadAreaShowsFailedToStartAndLeavesTheFolderEmpty) {
  CleanMachine machine;
  LoopbackSite web(85);
  web.site.ServeFile("/secure/gateway_new.php", "http://" + testing_support::TestAddress(85, 9) + "/pellomar/");
  ScratchFolder scratch;
  std::string setup = CopySetup(scratch);
  std::string log = scratch.File("updater.log");

  SetupRun run(setup, web.HostAddresses(), log);
  ASSERT_TRUE(run.Drive(kRunTimeoutMs, [&] { return run.ErrorLine() == "Failed to start Update"; }))
      << "error line: " << run.ErrorLine();
  EXPECT_TRUE(run.DriveDialogSeen());
  Sleep(1000);
  EXPECT_FALSE(run.Ended()) << "the window closed by itself";
  run.PressCancel();
  EXPECT_TRUE(run.Drive(15000)) << "Cancel did not end the program";

  EXPECT_FALSE(e2e::WaitForUpdater(log, 1000).started);
  EXPECT_EQ(e2e::FolderEntries(e2e::DefaultInstallFolder()), std::vector<std::string>{});
  EXPECT_EQ(StoredValue("InstallDir"), "<absent>");
  EXPECT_EQ(web.area.ConnectionCount(), 0);
}

TEST(EndToEnd, CancelDuringTheCabinetDownloadStartsNothingAndLeavesNothing) {
  CleanMachine machine;
  LoopbackSite web(82);
  // The cabinet arrives in two halves, seconds apart: time to cancel.
  std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(web.cabinet.size()) +
                     "\r\nConnection: close\r\n\r\n";
  size_t half = web.cabinet.size() / 2;
  web.area.ServePath("/pellomar/Update.exe",
                     HttpReply::Chunks({head + web.cabinet.substr(0, half), web.cabinet.substr(half)}, 4000));
  ScratchFolder scratch;
  std::string setup = CopySetup(scratch);
  std::string log = scratch.File("updater.log");
  std::string folder = e2e::DefaultInstallFolder();

  SetupRun run(setup, web.HostAddresses(), log);
  auto cabinet_asked = [&] {
    for (const std::string& t : web.area.Targets())
      if (t.compare(0, 20, "/pellomar/Update.exe") == 0) return true;
    return false;
  };
  ASSERT_TRUE(run.Drive(kRunTimeoutMs, cabinet_asked)) << "the cabinet was never asked for";
  run.PressCancel();
  ASSERT_TRUE(run.Drive(60000)) << "Setup.exe did not close after Cancel";

  EXPECT_FALSE(e2e::WaitForUpdater(log, 3000).started) << "the updater was started";
  EXPECT_EQ(e2e::FolderEntries(folder), std::vector<std::string>{}) << "files left in " << folder;
  EXPECT_EQ(StoredValue("InstallDir"), "<absent>");
  for (const std::string& t : web.area.Targets())
    EXPECT_EQ(t.find("_uncompressed"), std::string::npos) << "fell back after the cancel: " << t;
}

// A forward proxy asking for Basic credentials (squid, run by the host),
// stopped with the test.
class SquidProxy {
 public:
  SquidProxy(const std::string& listen, const std::string& outgoing, const char* user, const char* password) {
    std::string output;
    if (testing_support::RunOnHost({"bash", SETUP_SQUID_SCRIPT, "start", listen, outgoing, user, password},
                                   &output) == 0)
      state_ = output.substr(0, output.find('\n'));
    else
      ADD_FAILURE() << "squid did not start:\n" << output;
  }
  ~SquidProxy() {
    if (!state_.empty()) testing_support::RunOnHost({"bash", SETUP_SQUID_SCRIPT, "stop", state_}, nullptr);
  }
  bool Ok() const { return !state_.empty(); }
  std::string AccessLog() const { return testing_support::ReadWholeFile("Z:" + state_ + "/access.log"); }

 private:
  std::string state_;
};

// Behind a proxy that asks for credentials, with no road to the site but
// through it: the platform's dialog comes once (the download area's
// connection uses what the site's was given) and the updater gets them.
// Run with /log, where a link waits at the log's name: the log goes to the
// next name, holds the run's lines and never the password.
TEST(EndToEnd, AProxyAskingForCredentialsIsAnsweredOnceAndTheUpdaterGetsThem) {
  CleanMachine machine;
  LoopbackSite web(88);
  std::string listen = testing_support::TestAddress(88, 8), outgoing = testing_support::TestAddress(88, 9);
  web.site.AcceptOnlyFrom(outgoing);
  web.area.AcceptOnlyFrom(outgoing);
  SquidProxy proxy(listen, outgoing, "user", "password");
  ASSERT_TRUE(proxy.Ok());
  ScratchFolder scratch;
  std::string setup = CopySetup(scratch);
  std::string log = scratch.File("updater.log");

  const std::string temp = e2e::TempFolder() + "\\" SETUP_PRODUCT_NAME " Setup";
  const std::string planted = temp + ".log", numbered = temp + " (2).log", target = scratch.File("target.txt");
  // The link is made and removed on the host: Wine's calls do not handle one.
  std::string output;
  ASSERT_EQ(0, testing_support::RunOnHost({"rm", "-f", testing_support::UnixPath(planted),
                                           testing_support::UnixPath(numbered)}, &output)) << output;
  ASSERT_EQ(0, testing_support::RunOnHost({"ln", "-s", testing_support::UnixPath(target),
                                           testing_support::UnixPath(planted)}, &output)) << output;

  // The platform's preconfigured proxy, for the child alone.
  SetEnvironmentVariableA("http_proxy", ("http://" + listen + ":3128").c_str());
  {
    SetupRun run(setup, web.HostAddresses(), log, "/Log");
    SetEnvironmentVariableA("http_proxy", nullptr);
    run.AnswerProxyDialog("user", "password");
    ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "Setup.exe did not end; error line: " << run.ErrorLine();
    EXPECT_EQ(1, run.ProxyDialogsSeen());
    EXPECT_TRUE(run.DriveDialogSeen());
  }
  UpdaterReport report = e2e::WaitForUpdater(log, 20000);
  ASSERT_TRUE(report.started) << "the updater was not started";
  EXPECT_EQ(report.Line("/Codes="), ",,user,password");
  std::string lines = testing_support::ReadWholeFile(numbered);
  EXPECT_FALSE(testing_support::FileExists(target)) << "the log went through the planted link";
  EXPECT_NE(std::string::npos, lines.find("Started \"")) << lines;
  EXPECT_NE(std::string::npos, lines.find(" /Codes=***\r\n")) << lines;
  EXPECT_EQ(std::string::npos, lines.find("password")) << lines;
  testing_support::RunOnHost({"rm", "-f", testing_support::UnixPath(planted), testing_support::UnixPath(numbered)},
                             &output);
  ExpectTestFileThen(web.site.Targets(), "/secure/", {kGateway});
  ExpectTestFileThen(web.area.Targets(), "/pellomar/", {"/pellomar/Update\\.exe\\?Rand=[0-9]+"});
  // The proxy let the cabinet through for the user it asked (its log leaves
  // out the query).
  std::string access = proxy.AccessLog();
  EXPECT_TRUE(std::regex_search(access, std::regex("TCP_MISS/200 [0-9]+ GET http://[0-9.]+/pellomar/Update\\.exe\\? user ")))
      << access;
}

// A setup carrying the updater in its package, and a download area that has
// nothing to give: the gateway still answers and names it.
std::string PackageOnlySetup(LoopbackSite& web, ScratchFolder& scratch) {
  for (const char* path : {"/pellomar/test_pattern.txt", "/pellomar/Update.exe", "/pellomar/Update.exe_uncompressed"})
    web.area.RemovePath(path);
  std::string setup = scratch.File("Setup.exe");
  Make("embed " + Quoted(e2e::SetupProgram()) + " -o " + Quoted(setup) + " --updater " +
       Quoted(e2e::BuildFile("tools/demo_updater/demo_updater.exe")));
  return setup;
}

TEST(EndToEnd, PackageInstallTakesTheUpdaterFromThePackageAndNamesTheSetup) {
  CleanMachine machine;
  LoopbackSite web(83);
  ScratchFolder scratch;
  std::string setup;
  ASSERT_NO_FATAL_FAILURE(setup = PackageOnlySetup(web, scratch));
  std::string log = scratch.File("updater.log");
  std::string folder = e2e::DefaultInstallFolder();

  {
    SetupRun run(setup, web.HostAddresses(), log);
    ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "Setup.exe did not end; error line: " << run.ErrorLine();
    EXPECT_TRUE(run.DriveDialogSeen());
  }
  UpdaterReport report = e2e::WaitForUpdater(log, 20000);
  ASSERT_TRUE(report.started) << "the updater was not started";
  EXPECT_EQ(report.Line("Command line"), Quoted(folder + "\\Update.exe") + " /Setup=Tamsu /Bulk=" + Quoted(setup));
  EXPECT_EQ(web.area.ConnectionCount(), 0) << "the download area was asked";
  ExpectTestFileThen(web.site.Targets(), "/secure/", {kGateway});
  EXPECT_EQ(e2e::FolderEntries(folder), std::vector<std::string>{"Update.exe"});
  EXPECT_TRUE(testing_support::ReadWholeFile(folder + "\\Update.exe") == web.updater);
}

TEST(EndToEnd, PackageStillServesASecondRunInTheSameWindow) {
  CleanMachine machine;
  LoopbackSite web(87);
  ScratchFolder scratch;
  std::string setup;
  ASSERT_NO_FATAL_FAILURE(setup = PackageOnlySetup(web, scratch));
  std::string log = scratch.File("updater.log");
  std::string folder = e2e::DefaultInstallFolder();

  {
    // First run: the user cancels the drive dialog; the window stays idle.
    SetupRun run(setup, web.HostAddresses(), log);
    run.CancelDriveDialog();
    ASSERT_TRUE(run.Drive(kRunTimeoutMs, [&] { return run.DriveDialogSeen(); })) << "no drive dialog";
    ASSERT_FALSE(run.Drive(2000)) << "the program ended after the dialog was cancelled";
    // Second run from the same window: the package's folder must open again.
    run.AcceptDriveDialog();
    run.PressInstall();
    ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "Setup.exe did not end; error line: " << run.ErrorLine();
  }
  UpdaterReport report = e2e::WaitForUpdater(log, 20000);
  ASSERT_TRUE(report.started) << "the updater was not started";
  EXPECT_EQ(report.Line("/Bulk="), setup);
  EXPECT_EQ(web.area.ConnectionCount(), 0) << "the second run went to the download area";
  EXPECT_TRUE(testing_support::ReadWholeFile(folder + "\\Update.exe") == web.updater);
}

TEST(EndToEnd, StampedParametersAreStoredBeforeTheUpdaterStartsAndSentNextTime) {
  CleanMachine machine;
  LoopbackSite web(84);
  ScratchFolder scratch;
  std::string setup = scratch.File("Setup.exe");
  ASSERT_NO_FATAL_FAILURE(
      Make("stamp " + Quoted(e2e::SetupProgram()) + " -o " + Quoted(setup) + " a=1&b=2"));
  // A folder already known, and parameters stored by an earlier setup. The
  // second run finds the updater in it: below the program-files folder, as
  // this platform keeps no lists to show one elsewhere as the administrators'.
  std::string folder = e2e::DefaultInstallFolder();
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  RegSetString(HKEY_LOCAL_MACHINE, kFamilyKey, "InstallDir", (folder + "\\").c_str());
  RegSetString(HKEY_LOCAL_MACHINE, kFamilyKey, "WWWParams", "&b=9&c=3");
  std::string log = scratch.File("updater.log");

  {
    SetupRun run(setup, web.HostAddresses(), log);
    ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "Setup.exe did not end; error line: " << run.ErrorLine();
    EXPECT_FALSE(run.DriveDialogSeen());
  }
  UpdaterReport report = e2e::WaitForUpdater(log, 20000);
  ASSERT_TRUE(report.started);
  EXPECT_EQ(report.Line("WWWParams at start"), "&a=1&b=2&c=3");
  EXPECT_EQ(report.Line("Command line"), Quoted(folder + "\\Update.exe") + " /Setup=Tamsu");
  EXPECT_EQ(StoredValue("WWWParams"), "&a=1&b=2&c=3" + std::string(1, '\0'));
  // This run's query went out before the merge.
  ExpectTestFileThen(web.site.Targets(), "/secure/",
                     {"/secure/gateway_new\\.php\\?Product=Pellomar&Bios=53&b=9&c=3&Rand=[0-9]+"});

  DeleteFileA(log.c_str());
  size_t site_before = web.site.Targets().size();
  {
    SetupRun run(setup, web.HostAddresses(), log);
    ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "second run did not end; error line: " << run.ErrorLine();
  }
  ASSERT_TRUE(e2e::WaitForUpdater(log, 20000).started);
  std::vector<std::string> targets = web.site.Targets();
  ExpectTestFileThen(std::vector<std::string>(targets.begin() + site_before, targets.end()), "/secure/",
                     {"/secure/gateway_new\\.php\\?Product=Pellomar&Bios=53&a=1&b=2&c=3&Rand=[0-9]+"});
  EXPECT_EQ(StoredValue("WWWParams"), "&a=1&b=2&c=3" + std::string(1, '\0'));
}

// The install folder on a drive too small for the updater (small_drive.sh
// maps one): the user is told the disk is full, not that the updater is
// forged; nothing is started and nothing is left on the drive.
TEST(EndToEnd, FullDiskSaysSoStartsNothingAndLeavesNothing) {
  const char* drive = getenv("SETUP_SMALL_DRIVE");
  if (!drive || !*drive) GTEST_SKIP() << "needs the small drive of small_drive.sh";
  CleanMachine machine;
  LoopbackSite web(91);
  // The cabinet stays on the drive while it is unpacked.
  ASSERT_GT(web.cabinet.size() + web.updater.size(), 160u * 1024) << "cabinet and updater fit the drive";
  ScratchFolder scratch;
  std::string setup = CopySetup(scratch);
  std::string log = scratch.File("updater.log");
  std::string folder = std::string(drive) + "\\Pellomar";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  RegSetString(HKEY_LOCAL_MACHINE, kFamilyKey, "InstallDir", (folder + "\\").c_str());

  SetupRun run(setup, web.HostAddresses(), log);
  const char kDiskFull[] = "Not enough disk space to install Update";
  ASSERT_TRUE(run.Drive(kRunTimeoutMs, [&] { return run.ErrorLine() == kDiskFull; }))
      << "error line: " << run.ErrorLine();
  EXPECT_FALSE(run.DriveDialogSeen());
  run.PressCancel();
  EXPECT_TRUE(run.Drive(15000)) << "Cancel did not end the program";
  EXPECT_FALSE(e2e::WaitForUpdater(log, 1000).started);
  EXPECT_EQ(e2e::FolderEntries(folder), std::vector<std::string>{});
  for (const std::string& t : web.area.Targets())
    EXPECT_EQ(t.find("_uncompressed"), std::string::npos) << "the plain copy was fetched: " << t;
  e2e::RemoveTree(folder);
}

}  // namespace

// The native maker's tool: its package (another compound-file writer's
// layout) and its stamp, as the program reads and installs them.
TEST(EndToEnd, PackageAndStampOfTheNativeToolInstall) {
  CleanMachine machine;
  LoopbackSite web(89);
  ScratchFolder scratch;
  for (const char* path : {"/pellomar/test_pattern.txt", "/pellomar/Update.exe", "/pellomar/Update.exe_uncompressed"})
    web.area.RemovePath(path);
  std::string setup = scratch.File("Setup.exe"), output;
  using testing_support::UnixPath;
  ASSERT_EQ(0, testing_support::RunOnHost({SETUP_NATIVE_MAKER, "embed", UnixPath(e2e::SetupProgram()), "-o",
                                           UnixPath(setup), "--updater",
                                           UnixPath(e2e::BuildFile("tools/demo_updater/demo_updater.exe"))},
                                          &output))
      << output;
  ASSERT_EQ(0, testing_support::RunOnHost(
                   {SETUP_NATIVE_MAKER, "stamp", "--in-place", UnixPath(setup), "Partner=acme&Campaign=winter"}, &output))
      << output;
  std::string log = scratch.File("updater.log");
  std::string folder = e2e::DefaultInstallFolder();
  {
    SetupRun run(setup, web.HostAddresses(), log);
    ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "Setup.exe did not end; error line: " << run.ErrorLine();
  }
  UpdaterReport report = e2e::WaitForUpdater(log, 20000);
  ASSERT_TRUE(report.started) << "the updater was not started";
  EXPECT_EQ(report.Line("/Bulk="), setup);
  EXPECT_EQ(web.area.ConnectionCount(), 0) << "the download area was asked";
  EXPECT_TRUE(testing_support::ReadWholeFile(folder + "\\Update.exe") == web.updater);
  EXPECT_EQ(StoredValue("WWWParams"), "&Partner=acme&Campaign=winter" + std::string(1, '\0'));
}
