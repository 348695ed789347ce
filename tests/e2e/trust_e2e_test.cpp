// The publisher check in the whole program: Setup.exe under Wine starts only
// an updater signed by the configured publisher under a trusted authority,
// whichever road the updater came by. The signed and broken updaters are
// made before the run from the demo updater (sign-variants.sh).
#include "tests/e2e/e2e_harness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/registry.h"
#include "install/publisher_check.h"
#include "tests/support/test_support.h"
#include "tools/maker/cabinet_writer.h"

namespace {

using e2e::CleanMachine;
using e2e::LoopbackSite;
using e2e::Quoted;
using e2e::SetupRun;
using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;

const DWORD kRunTimeoutMs = 120000;

std::string Variant(const std::string& name) { return e2e::BuildFile("signed/" + name + ".exe"); }
std::string Refusal() { return std::string("Update is not signed by ") + UpdaterPublisher(); }

std::string CabinetOf(const std::string& program) {
  std::string cabinet, error;
  EXPECT_TRUE(BuildStoredCabinet({{"NewUpdate.exe", program, 0x5821, 0}}, &cabinet, &error)) << error;
  return cabinet;
}

enum Road { kCabinet, kUncompressed, kPackage };

// Puts program on the road: the download area serves it as a cabinet or
// only uncompressed, or the setup carries it in its package (and the area
// serves nothing). Returns the setup to run.
std::string Serve(Road road, const std::string& program, LoopbackSite& web, const ScratchFolder& scratch) {
  std::string setup = scratch.File("Setup.exe");
  if (road == kPackage) {
    for (const char* path : {"/pellomar/test_pattern.txt", "/pellomar/Update.exe", "/pellomar/Update.exe_uncompressed"})
      web.area.RemovePath(path);
    e2e::Make("embed " + Quoted(e2e::SetupProgram()) + " -o " + Quoted(setup) + " --updater " + Quoted(program));
    return setup;
  }
  std::string bytes = ReadWholeFile(program);
  if (road == kCabinet) {
    web.area.ServeFile("/pellomar/Update.exe", CabinetOf(bytes));
    web.area.RemovePath("/pellomar/Update.exe_uncompressed");
  } else {
    web.area.RemovePath("/pellomar/Update.exe");
    web.area.ServeFile("/pellomar/Update.exe_uncompressed", bytes);
  }
  EXPECT_TRUE(CopyFileA(e2e::SetupProgram().c_str(), setup.c_str(), FALSE));
  return setup;
}

struct TrustCase {
  const char* variant;
  Road road;
  bool starts;
};

TEST(Trust, OnlyAnUpdaterSignedByThePublisherStartsOnEveryRoad) {
  const TrustCase cases[] = {
      {"signer", kCabinet, true},        {"signer", kPackage, true},      {"unsigned", kCabinet, false},
      {"flipped", kUncompressed, false}, {"other", kPackage, false},      {"untrusted", kCabinet, false},
      {"nousage", kUncompressed, false}, {"selfsigned", kPackage, false},
  };
  int a = 100;
  for (const TrustCase& c : cases) {
    SCOPED_TRACE(std::string(c.variant) + " by road " + std::to_string(c.road));
    CleanMachine machine;
    LoopbackSite web(a++);
    ScratchFolder scratch;
    std::string setup = Serve(c.road, Variant(c.variant), web, scratch);
    std::string log = scratch.File("updater.log");
    std::string folder = e2e::DefaultInstallFolder();

    SetupRun run(setup, web.HostAddresses(), log);
    if (c.starts) {
      ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "Setup.exe did not end; error line: " << run.ErrorLine();
      EXPECT_TRUE(e2e::WaitForUpdater(log, 20000).started);
      EXPECT_TRUE(ReadWholeFile(folder + "\\Update.exe") == ReadWholeFile(Variant(c.variant)));
      continue;
    }
    ASSERT_TRUE(run.Drive(kRunTimeoutMs, [&] { return run.ErrorLine() == Refusal(); }))
        << "error line: " << run.ErrorLine();
    EXPECT_EQ(run.StatusLine(), "");
    Sleep(1000);
    EXPECT_FALSE(run.Ended()) << "the window closed by itself";
    run.PressCancel();
    EXPECT_TRUE(run.Drive(15000)) << "Cancel did not end the program";
    EXPECT_FALSE(e2e::WaitForUpdater(log, 500).started) << "the refused updater ran";
    EXPECT_EQ(e2e::FolderEntries(folder), std::vector<std::string>{}) << "left in " << folder;
    EXPECT_EQ(testing_support::ReadMachineValueBytes("Software\\Brannock\\Pellomar", "InstallDir"), "<absent>");
  }
}

TEST(Trust, TamperedPresentUpdaterIsReplacedByAFreshTrustedOne) {
  CleanMachine machine;
  LoopbackSite web(110);
  ScratchFolder scratch;
  std::string setup = Serve(kCabinet, Variant("signer"), web, scratch);
  std::string folder = scratch.File("product");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(CopyFileA(Variant("flipped").c_str(), (folder + "\\Update.exe").c_str(), FALSE));
  RegSetString(HKEY_LOCAL_MACHINE, "Software\\Brannock\\Pellomar", "InstallDir", (folder + "\\").c_str());
  std::string log = scratch.File("updater.log");

  {
    SetupRun run(setup, web.HostAddresses(), log);
    ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "Setup.exe did not end; error line: " << run.ErrorLine();
  }
  e2e::UpdaterReport report = e2e::WaitForUpdater(log, 20000);
  ASSERT_TRUE(report.started);
  EXPECT_EQ(report.Line("Command line"), Quoted(folder + "\\Update.exe") + " /Setup=Tamsu");
  EXPECT_TRUE(ReadWholeFile(folder + "\\Update.exe") == ReadWholeFile(Variant("signer")));
  EXPECT_EQ(e2e::FolderEntries(folder), std::vector<std::string>{"Update.exe"});
}

TEST(Trust, BuildWithTheCheckOffStartsAnUnsignedUpdater) {
  CleanMachine machine;
  LoopbackSite web(111);
  ScratchFolder scratch;
  Serve(kUncompressed, Variant("unsigned"), web, scratch);
  std::string setup = scratch.File("Unchecked.exe");
  std::string unchecked = std::string("Z:") + SETUP_E2E_UNCHECKED_PROGRAM;
  for (char& ch : unchecked)
    if (ch == '/') ch = '\\';
  ASSERT_TRUE(CopyFileA(unchecked.c_str(), setup.c_str(), FALSE));
  std::string log = scratch.File("updater.log");

  {
    SetupRun run(setup, web.HostAddresses(), log);
    ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "Setup.exe did not end; error line: " << run.ErrorLine();
  }
  EXPECT_TRUE(e2e::WaitForUpdater(log, 20000).started);
}

}  // namespace
