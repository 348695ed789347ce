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
using testing_support::WriteWholeFile;
using testing_support::ScratchFolder;

const DWORD kRunTimeoutMs = 120000;

std::string Variant(const std::string& name) { return e2e::BuildFile("signed/" + name + ".exe"); }
std::string KeyPin(const std::string& name) { return e2e::ReadBuildFile("signed/" + name + ".pin"); }

TrustFailure Check(const std::string& path, const SignerPolicy& policy, SignerReport* report) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, file) << path;
  TrustFailure failure = CheckPublisher(file, path.c_str(), policy, report);
  CloseHandle(file);
  return failure;
}

// A cabinet of entries, signed by signer unless it is empty.
std::string SignedCabinet(const std::vector<CabinetEntry>& entries, const std::string& signer,
                          const ScratchFolder& scratch) {
  std::string cabinet, error, log;
  EXPECT_TRUE(BuildStoredCabinet(entries, &cabinet, &error)) << error;
  std::string plain = scratch.File("plain.cab"), out = scratch.File("signed.cab");
  WriteWholeFile(plain, cabinet);
  if (signer.empty()) return plain;
  EXPECT_TRUE(testing_support::SignWithTestCertificate(signer, plain, out, &log)) << log;
  return out;
}

std::string Refusal() { return std::string("Update is not signed by ") + UpdaterPolicy().publisher; }

std::string CabinetOf(const std::string& program) {
  std::string cabinet, error;
  EXPECT_TRUE(BuildStoredCabinet({{"NewUpdate.exe", program, 0x5821, 0}}, &cabinet, &error)) << error;
  return cabinet;
}

// First in the file, so its first check is the process's first. The
// platform checks a signed cabinet's signer and chain; Wine does not
// recompute its digest (osslsigncode verify is the reference for that).
TEST(Trust, SignedTwoMegabyteCabinetPassesAndItsCheckIsTimed) {
  ScratchFolder scratch;
  std::string cabinet = SignedCabinet({{"NewUpdate.exe", ReadWholeFile(Variant("signer")), 0x5821, 0},
                                       {"data.bin", std::string(2 << 20, 'd'), 0x5821, 0}},
                                      "signer", scratch);
  LARGE_INTEGER frequency, t0, t1, t2;
  QueryPerformanceFrequency(&frequency);
  SignerReport report;
  QueryPerformanceCounter(&t0);
  EXPECT_EQ(kTrusted, Check(cabinet, UpdaterPolicy(), &report));
  QueryPerformanceCounter(&t1);
  EXPECT_EQ(kTrusted, Check(cabinet, UpdaterPolicy(), &report));
  QueryPerformanceCounter(&t2);
  double first = 1000.0 * (t1.QuadPart - t0.QuadPart) / frequency.QuadPart;
  double later = 1000.0 * (t2.QuadPart - t1.QuadPart) / frequency.QuadPart;
  printf("cabinet check of %u bytes: first %.1f ms, later %.1f ms\n",
         static_cast<unsigned>(ReadWholeFile(cabinet).size()), first, later);
  EXPECT_EQ(kPlatformVerdict, Check(SignedCabinet({{"NewUpdate.exe", "x", 0x5821, 0}}, "", scratch),
                                    UpdaterPolicy(), &report));
}

// The rules on what the platform reads from real signatures: the subject's
// common names in wide text, and the public keys of the whole chain.
TEST(Trust, NamesAndPinsAsThePlatformReadsThem) {
  ASSERT_TRUE(UpdaterPolicy().pins[0]) << "the tests' build pins the test authority (scripts/build.sh)";
  std::string leaf_pin = KeyPin("signer");
  const char* publisher = UpdaterPolicy().publisher;
  SignerPolicy build = UpdaterPolicy(), leaf = {publisher, "", leaf_pin.c_str()};
  struct Case {
    const char* variant;
    SignerPolicy policy;
    TrustFailure expected;
  } cases[] = {
      {"signer", build, kTrusted},
      {"signer", leaf, kTrusted},
      // Named right, under an authority the machine trusts but nobody pinned.
      {"unpinned", build, kKeyNotPinned},
      {"unpinned", leaf, kKeyNotPinned},
      {"twonames", build, kOtherPublisher},
      {"fullwidth", build, kOtherPublisher},
      {"other", build, kOtherPublisher},
  };
  for (const Case& c : cases) {
    SignerReport report;
    EXPECT_EQ(c.expected, Check(Variant(c.variant), c.policy, &report)) << c.variant;
    EXPECT_EQ(0u, report.chain_status) << c.variant << ": its chain ends in a root the machine trusts";
    EXPECT_GE(report.chain_length, 2u) << c.variant;
  }
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
      {"nousage", kUncompressed, false}, {"selfsigned", kPackage, false},  {"unpinned", kCabinet, false},
      {"expired", kUncompressed, false},
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

// The cabinet brings the signed updater and a library the updater would load
// from its folder: the library lands only when the publisher signed the
// cabinet; otherwise only the updater's entry is taken, on either road (the
// fetcher's tests cover the unsigned cabinet from the web).
TEST(Trust, CabinetBringsCompanionFilesOnlyWhenThePublisherSignedIt) {
  struct Case {
    const char* cabinet_signer;
    Road road;
    std::vector<std::string> lands;
  } cases[] = {
      {"signer", kCabinet, {"Update.exe", "companion.dll"}},
      {"other", kCabinet, {"Update.exe"}},
      {"", kPackage, {"Update.exe"}},
  };
  int a = 130;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("cabinet signed by '") + c.cabinet_signer + "' on road " + std::to_string(c.road));
    CleanMachine machine;
    LoopbackSite web(a++);
    ScratchFolder scratch;
    std::string cabinet = SignedCabinet({{"NewUpdate.exe", ReadWholeFile(Variant("signer")), 0x5821, 0},
                                         {"companion.dll", "MZ not a library", 0x5821, 0}},
                                        c.cabinet_signer, scratch);
    std::string setup = scratch.File("Setup.exe");
    if (c.road == kPackage) {
      for (const char* path : {"/pellomar/test_pattern.txt", "/pellomar/Update.exe", "/pellomar/Update.exe_uncompressed"})
        web.area.RemovePath(path);
      e2e::Make("embed " + Quoted(e2e::SetupProgram()) + " -o " + Quoted(setup) + " Update.exe=" + Quoted(cabinet));
    } else {
      web.area.ServeFile("/pellomar/Update.exe", ReadWholeFile(cabinet));
      ASSERT_TRUE(CopyFileA(e2e::SetupProgram().c_str(), setup.c_str(), FALSE));
    }
    std::string log = scratch.File("updater.log");
    {
      SetupRun run(setup, web.HostAddresses(), log);
      ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "Setup.exe did not end; error line: " << run.ErrorLine();
    }
    EXPECT_TRUE(e2e::WaitForUpdater(log, 20000).started);
    EXPECT_EQ(c.lands, e2e::FolderEntries(e2e::DefaultInstallFolder()));
  }
}

TEST(Trust, TamperedPresentUpdaterIsReplacedByAFreshTrustedOne) {
  CleanMachine machine;
  LoopbackSite web(110);
  ScratchFolder scratch;
  std::string setup = Serve(kCabinet, Variant("signer"), web, scratch);
  // Below the program-files folder: this platform keeps no lists to show a
  // folder elsewhere as the administrators', and another's is not used.
  std::string folder = e2e::DefaultInstallFolder();
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
