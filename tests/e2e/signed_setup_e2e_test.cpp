// Signed setup executables under Wine: what the signature covers is taken,
// what was put after it only when it is a parameter block.
#include "tests/e2e/e2e_harness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/appended_blocks.h"
#include "tests/package/block_layout.h"
#include "tests/support/certificate_table.h"
#include "tests/support/test_support.h"
#include "tools/maker/cabinet_writer.h"
#include "tools/maker/signed_image.h"

namespace {

using e2e::CleanMachine;
using e2e::LoopbackSite;
using e2e::Make;
using e2e::Quoted;
using e2e::SetupRun;
using e2e::UpdaterReport;
using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;

const DWORD kRunTimeoutMs = 120000;

const unsigned char* Bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// Every updater these tests hand out carries the publisher's signature.
std::string SignedUpdater(const ScratchFolder& scratch) {
  std::string signed_updater = scratch.File("updater.exe"), log;
  EXPECT_TRUE(testing_support::SignWithTestCertificate("signer", e2e::BuildFile("tools/demo_updater/demo_updater.exe"),
                                                       signed_updater, &log))
      << log;
  return signed_updater;
}

std::string Signed(const std::string& in, const std::string& out) {
  std::string log;
  EXPECT_TRUE(testing_support::SignWithTestCertificate("signer", in, out, &log)) << log;
  return out;
}

void ExpectSignatureHolds(const std::string& file) {
  std::string report;
  EXPECT_EQ(0, testing_support::VerifyWithTestAuthority(file, &report)) << report;
}

TEST(SignedSetup, EmbedThenSignInstallsFromThePackageAndMergesParametersStampedAfterSigning) {
  CleanMachine machine;
  LoopbackSite web(120);
  for (const char* path : {"/pellomar/test_pattern.txt", "/pellomar/Update.exe", "/pellomar/Update.exe_uncompressed"})
    web.area.RemovePath(path);
  ScratchFolder scratch;
  std::string updater = SignedUpdater(scratch);
  std::string bundled = scratch.File("Bundled.exe");
  ASSERT_NO_FATAL_FAILURE(
      Make("embed " + Quoted(e2e::SetupProgram()) + " -o " + Quoted(bundled) + " --updater " + Quoted(updater)));
  std::string setup = Signed(bundled, scratch.File("Setup.exe"));
  ASSERT_NO_FATAL_FAILURE(Make("stamp --in-place " + Quoted(setup) + " \"a=1&b=2\""));
  ExpectSignatureHolds(setup);
  // In the signature: nothing but alignment zeros after its data.
  std::string stamped = ReadWholeFile(setup);
  CertificateTable table;
  ASSERT_TRUE(FindCertificateTable(Bytes(stamped), static_cast<uint32_t>(stamped.size()), &table));
  EXPECT_EQ(std::string(stamped.size() - table.signatureEnd, '\0'), stamped.substr(table.signatureEnd));
  std::string log = scratch.File("updater.log");
  std::string folder = e2e::DefaultInstallFolder();

  {
    SetupRun run(setup, web.HostAddresses(), log);
    ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "Setup.exe did not end; error line: " << run.ErrorLine();
  }
  UpdaterReport report = e2e::WaitForUpdater(log, 20000);
  ASSERT_TRUE(report.started) << "the updater was not started";
  EXPECT_EQ(report.Line("Command line"), Quoted(folder + "\\Update.exe") + " /Setup=Tamsu /Bulk=" + Quoted(setup));
  EXPECT_EQ(report.Line("WWWParams at start"), "&a=1&b=2");
  EXPECT_EQ(web.area.ConnectionCount(), 0) << "the download area was asked";
  EXPECT_TRUE(ReadWholeFile(folder + "\\Update.exe") == ReadWholeFile(updater));
}

// A package taken from a bundled setup, placed inside the table of a signed
// one: the signature still holds, yet covers none of it. Also behind a
// signature whose outer length is indefinite (the checkers accept that too),
// where the walk cannot tell where the signature ends.
TEST(SignedSetup, PackagePutAfterTheSignatureIsIgnored) {
  LoopbackSite web(121);
  ScratchFolder scratch;
  std::string updater = SignedUpdater(scratch);
  CabinetEntry entry = {"NewUpdate.exe", ReadWholeFile(updater), 0, 0};
  std::string cabinet, error;
  ASSERT_TRUE(BuildStoredCabinet({entry}, &cabinet, &error)) << error;
  web.area.ServeFile("/pellomar/Update.exe", cabinet);

  std::string bundled = scratch.File("Bundled.exe");
  ASSERT_NO_FATAL_FAILURE(
      Make("embed " + Quoted(e2e::SetupProgram()) + " -o " + Quoted(bundled) + " --updater " + Quoted(updater)));
  std::string package_bytes = ReadWholeFile(bundled);
  SetupBlocks blocks = FindSetupBlocks(Bytes(package_bytes), static_cast<uint32_t>(package_bytes.size()));
  ASSERT_TRUE(blocks.hasPackage);
  std::string block = package_bytes.substr(blocks.packageStart, blocks.packageLength) + "Bulk" +
                      block_layout::Offset(0) + "Suffix" + block_layout::ParameterBlock("evil=1");
  std::string signed_image = ReadWholeFile(Signed(e2e::SetupProgram(), scratch.File("Signed.exe")));
  std::string folder = e2e::DefaultInstallFolder();
  for (bool indefinite : {false, true}) {
    SCOPED_TRACE(indefinite ? "indefinite length" : "definite length");
    std::string image = signed_image;
    CertificateTable table;
    ASSERT_TRUE(FindCertificateTable(Bytes(image), static_cast<uint32_t>(image.size()), &table));
    uint32_t at = PlaceInCertificateTable(&image, table, static_cast<uint32_t>(image.size()), block);
    block_layout::Put32(image, at + blocks.packageLength + 4, at);
    if (indefinite) {
      // 0x30 0x82 and two length bytes become 0x30 0x80, and the two
      // end-of-content zeros close the signature where it ended.
      ASSERT_EQ(std::string("\x30\x82", 2), image.substr(table.start + 8, 2));
      image[table.start + 9] = static_cast<char>(0x80);
      image.erase(table.start + 10, 2);
      image.insert(table.signatureEnd - 2, 2, '\0');
      ASSERT_FALSE(FindCertificateTable(Bytes(image), static_cast<uint32_t>(image.size()), &table));
    }
    UpdatePeChecksum(&image);
    std::string setup = scratch.File(indefinite ? "Indefinite.exe" : "Setup.exe");
    ASSERT_TRUE(testing_support::WriteWholeFile(setup, image));
    ExpectSignatureHolds(setup);
    std::string log = scratch.File(indefinite ? "indefinite.log" : "updater.log");
    CleanMachine machine;
    size_t asked_before = web.area.Targets().size();
    {
      SetupRun run(setup, web.HostAddresses(), log);
      ASSERT_TRUE(run.Drive(kRunTimeoutMs)) << "Setup.exe did not end; error line: " << run.ErrorLine();
    }
    UpdaterReport report = e2e::WaitForUpdater(log, 20000);
    ASSERT_TRUE(report.started) << "the updater was not started";
    // Fetched over the web and no package named to the updater; the
    // parameters after the signature data are taken only where the
    // signature's end is known.
    EXPECT_EQ(report.Line("Command line"), Quoted(folder + "\\Update.exe") + " /Setup=Tamsu");
    EXPECT_EQ(report.Line("WWWParams at start"), indefinite ? "(none)" : "&evil=1");
    bool fetched = false;
    std::vector<std::string> asked = web.area.Targets();
    for (size_t i = asked_before; i < asked.size(); ++i)
      fetched = fetched || asked[i].compare(0, 20, "/pellomar/Update.exe") == 0;
    EXPECT_TRUE(fetched) << "the updater did not come from the download area";
  }
}

}  // namespace
