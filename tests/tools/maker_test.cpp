#include <gtest/gtest.h>

#include <windows.h>
#include <imagehlp.h>
#include <setupapi.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "install/launch_parameters.h"
#include "install/product.h"
#include "package/appended_blocks.h"
#include "package/embedded_package.h"
#include "package/signer_attribute.h"
#include "tests/package/block_layout.h"
#include "tests/support/certificate_table.h"
#include "tests/support/test_support.h"
#include "tools/maker/cabinet_writer.h"
#include "tools/maker/signed_image.h"

using namespace testing_support;

namespace {

struct Result {
  int code;
  std::string output;  // stdout and stderr together
};

std::string MakerPath() { return ProgramFolder() + "\\..\\..\\tools\\maker\\maker.exe"; }

Result RunMaker(const std::string& arguments) {
  Result result;
  result.code = RunCapturingOutput("\"" + MakerPath() + "\" " + arguments, &result.output);
  return result;
}

std::string Quote(const std::string& path) { return "\"" + path + "\""; }

// The native tool on the host, with the same arguments: a Windows path, alone
// or after NAME=, becomes the host's path of the same file.
std::string HostArgument(const std::string& argument) {
  size_t drive = argument.find(":\\");
  if (drive == std::string::npos || drive == 0) return argument;
  return argument.substr(0, drive - 1) + UnixPath(argument.substr(drive - 1));
}

Result RunNative(const std::vector<std::string>& arguments) {
  std::vector<std::string> line = {SETUP_NATIVE_MAKER};
  for (const std::string& a : arguments) line.push_back(HostArgument(a));
  Result result;
  result.code = RunOnHost(line, &result.output);
  return result;
}

Result RunMaker(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& a : arguments) line += (line.empty() ? "" : " ") + Quote(a);
  return RunMaker(line);
}

// Unpacks a cabinet with the platform's reader; name -> bytes.
UINT CALLBACK Unpack(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR) {
  auto* folder = static_cast<std::string*>(context);
  if (notification == SPFILENOTIFY_FILEINCABINET) {
    auto* info = reinterpret_cast<FILE_IN_CABINET_INFO_A*>(param1);
    std::string target = *folder + "\\" + info->NameInCabinet;
    lstrcpynA(info->FullTargetName, target.c_str(), MAX_PATH);
    return FILEOP_DOIT;
  }
  return NO_ERROR;
}

std::map<std::string, std::string> UnpackCabinet(const std::string& cabinet, const std::string& folder) {
  std::map<std::string, std::string> files;
  std::string target = folder;
  CreateDirectoryA(folder.c_str(), nullptr);
  if (!SetupIterateCabinetA(cabinet.c_str(), 0, Unpack, &target)) return files;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return files;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      files[entry.cFileName] = ReadWholeFile(folder + "\\" + entry.cFileName);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return files;
}

class MakerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists(MakerPath())) << MakerPath();
    program_ = ReadWholeFile(ProgramFolder() + "\\..\\support\\test_updater_unsigned.exe");
    ASSERT_GT(program_.size(), 1000u);
    setup_ = scratch_.File("Setup.exe");
    ASSERT_TRUE(WriteWholeFile(setup_, program_));
    updater_ = scratch_.File("updater.exe");
    ASSERT_TRUE(WriteWholeFile(updater_, program_ + "updater"));
    notes_ = scratch_.File("notes.txt");
    ASSERT_TRUE(WriteWholeFile(notes_, "release notes"));
    DeleteMachineKey(SETUP_FAMILY_KEY);
  }
  void TearDown() override { DeleteMachineKey(SETUP_FAMILY_KEY); }

  std::string Extract(const std::string& exe, const char* stream, const char* folder_name = "Pellomar") {
    EmbeddedPackage package(exe.c_str());
    if (!package.IsOpen()) return "<not open>";
    std::unique_ptr<PackageFolder> folder(package.OpenFolder(folder_name));
    if (!folder) return "<no folder>";
    std::string out = scratch_.File("extracted.tmp");
    if (!folder->ExtractFile(stream, out.c_str())) return "<no stream>";
    return ReadWholeFile(out);
  }

  std::string Merged(const std::string& exe) {
    DeleteMachineKey(SETUP_FAMILY_KEY);
    MergeLaunchParametersFrom(exe.c_str());
    return ReadMachineValueBytes(SETUP_FAMILY_KEY, "WWWParams").c_str();
  }

  ScratchFolder scratch_;
  std::string program_, setup_, updater_, notes_;
};

TEST_F(MakerTest, StampIsReadBySetupAndReplacedNotStacked) {
  std::string stamped = scratch_.File("Stamped.exe");
  Result r = RunMaker("stamp " + Quote(setup_) + " -o " + Quote(stamped) + " \"a=1&b=2\"");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(ReadWholeFile(setup_) == program_);  // the input is untouched
  EXPECT_EQ(program_.size() + 267, ReadWholeFile(stamped).size());
  EXPECT_EQ("&a=1&b=2", Merged(stamped));

  std::string again = scratch_.File("Again.exe");
  r = RunMaker("stamp " + Quote(stamped) + " -o " + Quote(again) + " c=3");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_EQ(program_.size() + 267, ReadWholeFile(again).size());
  EXPECT_EQ("&c=3", Merged(again));
  r = RunMaker("show " + Quote(again));
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_NE(std::string::npos, r.output.find("\"c=3\"")) << r.output;
  EXPECT_EQ(std::string::npos, r.output.find("a=1")) << r.output;

  // The longest text the block holds, and in place when asked.
  std::string longest(258, 'k');
  longest[1] = '=';
  r = RunMaker("stamp --in-place " + Quote(stamped) + " " + longest);
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_EQ(program_.size() + 267, ReadWholeFile(stamped).size());
  EXPECT_EQ("&" + longest, Merged(stamped));
}

TEST_F(MakerTest, EmbedIsReadBySetupAndKeepsTheParameterBlockLast) {
  std::string stamped = scratch_.File("Stamped.exe");
  ASSERT_EQ(0, RunMaker("stamp " + Quote(setup_) + " -o " + Quote(stamped) + " x=1").code);
  std::string bundled = scratch_.File("Bundled.exe");
  Result r = RunMaker("embed " + Quote(stamped) + " -o " + Quote(bundled) + " --updater " + Quote(updater_) +
                      " Update.exe_uncompressed=" + Quote(updater_) + " " + Quote(notes_));
  ASSERT_EQ(0, r.code) << r.output;

  // The cabinet holds the updater as NewUpdate.exe, for the platform's reader.
  std::string cabinet = Extract(bundled, "Update.exe");
  ASSERT_EQ("MSCF", cabinet.substr(0, 4));
  std::string cab_file = scratch_.File("Update.cab");
  ASSERT_TRUE(WriteWholeFile(cab_file, cabinet));
  auto files = UnpackCabinet(cab_file, scratch_.File("unpacked"));
  ASSERT_EQ(1u, files.size());
  EXPECT_TRUE(files["NewUpdate.exe"] == program_ + "updater");
  EXPECT_TRUE(Extract(bundled, "Update.exe_uncompressed") == program_ + "updater");
  EXPECT_EQ("release notes", Extract(bundled, "notes.txt"));
  EXPECT_EQ("&x=1", Merged(bundled));

  r = RunMaker("show " + Quote(bundled));
  ASSERT_EQ(0, r.code) << r.output;
  for (const char* expected : {"\"x=1\"", "folder Pellomar", "Update.exe ", "(cabinet)", "Update.exe_uncompressed",
                               "notes.txt  13 bytes"})
    EXPECT_NE(std::string::npos, r.output.find(expected)) << expected << "\n" << r.output;

  // Stamping after embedding replaces the block and keeps the package.
  std::string restamped = scratch_.File("Restamped.exe");
  ASSERT_EQ(0, RunMaker("stamp " + Quote(bundled) + " -o " + Quote(restamped) + " y=2").code);
  EXPECT_EQ("&y=2", Merged(restamped));
  EXPECT_EQ("release notes", Extract(restamped, "notes.txt"));
}

TEST_F(MakerTest, EmbedAgainOnlyWhenAskedAndInOtherFolders) {
  std::string bundled = scratch_.File("Bundled.exe");
  ASSERT_EQ(0, RunMaker("embed " + Quote(setup_) + " -o " + Quote(bundled) + " " + Quote(notes_)).code);
  std::string before = ReadWholeFile(bundled);

  std::string twice = scratch_.File("Twice.exe");
  Result r = RunMaker("embed " + Quote(bundled) + " -o " + Quote(twice) + " " + Quote(updater_));
  EXPECT_NE(0, r.code);
  EXPECT_NE(std::string::npos, r.output.find("already carries a package")) << r.output;
  EXPECT_FALSE(FileExists(twice));

  std::string other = scratch_.File("other.txt");
  ASSERT_TRUE(WriteWholeFile(other, "second"));
  r = RunMaker("embed --replace --in-place " + Quote(bundled) + " --folder Tamsu readme=" + Quote(other));
  ASSERT_EQ(0, r.code) << r.output;
  // A folder the build's Setup.exe never opens is written, with a warning.
  EXPECT_NE(std::string::npos, r.output.find("opens only the package folder \"" SETUP_FAMILY_NAME "\"")) << r.output;
  EXPECT_EQ("second", Extract(bundled, "readme", "Tamsu"));
  EXPECT_EQ("<no folder>", Extract(bundled, "notes.txt"));
  // The old package is gone, not stacked below the new one.
  EXPECT_LT(ReadWholeFile(bundled).size(), before.size() + 1024);
}

TEST_F(MakerTest, BadInputIsRefusedAndNothingIsWritten) {
  std::string out = scratch_.File("Out.exe");
  std::string text_file = scratch_.File("text.exe");
  ASSERT_TRUE(WriteWholeFile(text_file, "MZ but not really an image, just some text bytes here and more and more"));
  std::string bundled = scratch_.File("Bundled.exe");
  ASSERT_EQ(0, RunMaker("embed " + Quote(setup_) + " -o " + Quote(bundled) + " " + Quote(notes_)).code);
  std::string bundled_bytes = ReadWholeFile(bundled);

  // Both tools: the same exit code and message.
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  } cases[] = {
      {{"stamp", setup_, "-o", out, std::string(259, 'a')}, "at most 258"},
      {{"stamp", setup_, "-o", out, "a=1\tb=2"}, "control byte 0x09"},
      {{"stamp", setup_, setup_, "a=1"}, "no output"},
      {{"stamp", setup_, "-o", setup_, "a=1"}, "--in-place"},
      {{"stamp", "-", "--in-place", "a=1"}, "standard input cannot be changed in place"},
      {{"stamp", setup_, "-o", "-", "--in-place", "a=1"}, "not both"},
      {{"stamp", scratch_.File("missing.exe"), "-o", out, "a=1"}, "cannot open"},
      {{"stamp", notes_, "-o", out, "a=1"}, "not a PE file"},
      {{"stamp", text_file, "-o", out, "a=1"}, "not a PE file"},
      {{"embed", setup_, "-o", out, std::string(32, 'n') + "=" + notes_}, "1 to 31 characters"},
      {{"embed", setup_, "-o", out, "a/b=" + notes_}, "may not contain"},
      {{"embed", setup_, "-o", out, scratch_.File("missing.bin")}, "cannot open"},
      {{"embed", setup_, "-o", out, "--updater", notes_}, "not a PE file"},
      {{"embed", notes_, "-o", out, notes_}, "not a PE file"},
      {{"embed", setup_, "-o", out, "a=" + notes_, "A=" + notes_}, "twice"},
      {{"embed", bundled, "-o", out, notes_}, "already carries a package"},
      {{"embed", bundled, "--in-place", notes_}, "already carries a package"},
      {{"embed", setup_, "-o", out}, "at least one file"},
      {{"embed", "-", "-o", out, notes_}, "for stamp only"},
      {{"show", notes_}, "not a PE file"},
      {{"show", scratch_.File("missing.exe")}, "cannot open"},
      {{"unpack", setup_}, "unknown command"},
  };
  for (const Case& c : cases) {
    Result r = RunMaker(c.arguments);
    Result native = RunNative(c.arguments);
    EXPECT_NE(0, r.code) << c.arguments[1];
    EXPECT_EQ(r.code, native.code) << c.message;
    EXPECT_NE(std::string::npos, r.output.find(c.message)) << c.message << "\n" << r.output;
    EXPECT_NE(std::string::npos, native.output.find(c.message)) << c.message << "\n" << native.output;
    EXPECT_FALSE(FileExists(out)) << c.message;
  }
  EXPECT_TRUE(ReadWholeFile(setup_) == program_);
  EXPECT_TRUE(ReadWholeFile(bundled) == bundled_bytes);
  EXPECT_TRUE(ReadWholeFile(notes_) == "release notes");
}

// Signed inputs: the signing tool's own check must hold after every change
// the maker makes to a signed file, and the header checksum must be the one
// the platform computes.
class SignedMakerTest : public MakerTest {
 protected:
  std::string Signed(const std::string& input, const std::string& name) {
    std::string out = scratch_.File(name), log;
    EXPECT_TRUE(SignWithTestCertificate("signer", input, out, &log)) << log;
    return out;
  }
  void ExpectSignatureHolds(const std::string& file) {
    std::string report;
    EXPECT_EQ(0, VerifyWithTestAuthority(file, &report)) << file << "\n" << report;
    DWORD stored = 0, computed = 0;
    ASSERT_EQ(static_cast<DWORD>(CHECKSUM_SUCCESS), MapFileAndCheckSumA(file.c_str(), &stored, &computed));
    EXPECT_EQ(computed, stored) << file;
    EXPECT_EQ(0u, ReadWholeFile(file).size() % 8) << file;
    // The check Setup.exe makes before a start.
    Result own = RunMaker("verify " + Quote(file));
    EXPECT_EQ(0, own.code) << own.output;
  }
  // What the strict check asks: nothing but fewer than 8 zeros after the
  // signature data.
  void ExpectOnlyPaddingAfterSignature(const std::string& file) {
    std::string bytes = ReadWholeFile(file);
    CertificateTable table;
    ASSERT_TRUE(FindCertificateTable(reinterpret_cast<const unsigned char*>(bytes.data()),
                                     static_cast<uint32_t>(bytes.size()), &table));
    EXPECT_LT(bytes.size() - table.signatureEnd, 8u) << file;
    EXPECT_EQ(std::string(bytes.size() - table.signatureEnd, '\0'), bytes.substr(table.signatureEnd)) << file;
  }
  std::string Show(const std::string& file) {
    Result r = RunMaker("show " + Quote(file));
    EXPECT_EQ(0, r.code) << r.output;
    return r.output;
  }
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(SignedMakerTest, StampAfterSigningGoesIntoTheSignatureKeepsItAndReplacesItsBlock) {
  std::string signed_setup = Signed(setup_, "Signed.exe");
  EXPECT_TRUE(Has(Show(setup_), "no signature"));
  std::string once = scratch_.File("Once.exe");
  Result r = RunMaker("stamp " + Quote(signed_setup) + " -o " + Quote(once) + " \"a=1&b=2\"");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r.output, "in the signature")) << r.output;
  ExpectSignatureHolds(once);
  ExpectOnlyPaddingAfterSignature(once);
  EXPECT_EQ("&a=1&b=2", Merged(once));
  size_t once_size = ReadWholeFile(once).size();
  EXPECT_LE(once_size, ReadWholeFile(signed_setup).size() + 267 + 64);

  // Again, in place: the attribute is replaced, not stacked.
  r = RunMaker("stamp --in-place " + Quote(once) + " c=3");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r.output, "replaced")) << r.output;
  ExpectSignatureHolds(once);
  ExpectOnlyPaddingAfterSignature(once);
  EXPECT_EQ(once_size, ReadWholeFile(once).size());
  EXPECT_EQ("&c=3", Merged(once));
  std::string shown = Show(once);
  EXPECT_TRUE(Has(shown, "signature: certificate table at")) << shown;
  EXPECT_TRUE(Has(shown, "\"c=3\" [in the signature: its signer's unsigned attribute]")) << shown;
  EXPECT_FALSE(Has(shown, "a=1")) << shown;

  // An attribute of the type Setup cannot read (its value no OCTET STRING)
  // is replaced as well: never a second one beside it that Setup skips.
  std::string malformed = scratch_.File("Malformed.exe");
  std::string bytes = ReadWholeFile(once);
  std::string type(reinterpret_cast<const char*>(kParameterAttributeType), kParameterAttributeTypeSize);
  size_t value = bytes.find(type) + type.size() + 4;  // past the type and the SET's header
  ASSERT_EQ(std::string("\x04\x82\x01\x0b", 4), bytes.substr(value, 4));
  bytes[value] = 0x0c;
  ASSERT_TRUE(WriteWholeFile(malformed, bytes));
  EXPECT_EQ("<absent>", Merged(malformed));
  ASSERT_EQ(0, RunMaker("stamp --in-place " + Quote(malformed) + " m=1").code);
  ExpectSignatureHolds(malformed);
  EXPECT_EQ("&m=1", Merged(malformed));
  bytes = ReadWholeFile(malformed);
  EXPECT_EQ(bytes.find(type), bytes.rfind(type)) << "two parameter attributes";

  // A file the maker stamped until now, after the signature data, still
  // merges; stamping it again moves the block into the signature.
  std::string old_way = scratch_.File("OldWay.exe");
  bytes = ReadWholeFile(signed_setup);
  CertificateTable table;
  ASSERT_TRUE(FindCertificateTable(reinterpret_cast<const unsigned char*>(bytes.data()),
                                   static_cast<uint32_t>(bytes.size()), &table));
  PlaceInCertificateTable(&bytes, table, static_cast<uint32_t>(bytes.size()), block_layout::ParameterBlock("old=1"));
  ASSERT_TRUE(WriteWholeFile(old_way, bytes));
  ExpectSignatureHolds(old_way);
  EXPECT_EQ("&old=1", Merged(old_way));
  EXPECT_TRUE(Has(Show(old_way), "\"old=1\" [after the signature data: stamped after signing]"));
  ASSERT_EQ(0, RunMaker("stamp --in-place " + Quote(old_way) + " new=2").code);
  ExpectOnlyPaddingAfterSignature(old_way);
  EXPECT_EQ("&new=2", Merged(old_way));

  // Blocks stamped before signing are covered and stay readable under one
  // stamped after it.
  std::string before = scratch_.File("Before.exe");
  ASSERT_EQ(0, RunMaker("stamp " + Quote(setup_) + " -o " + Quote(before) + " early=1").code);
  std::string both = Signed(before, "Both.exe");
  EXPECT_EQ("&early=1", Merged(both));
  ASSERT_EQ(0, RunMaker("stamp --in-place " + Quote(both) + " late=2").code);
  ExpectSignatureHolds(both);
  EXPECT_EQ("&late=2", Merged(both));
  shown = Show(both);
  EXPECT_TRUE(Has(shown, "\"late=2\" [in the signature")) << shown;
  EXPECT_TRUE(Has(shown, "\"early=1\" [signed] (not at the end: Setup does not read it)")) << shown;
}

TEST_F(SignedMakerTest, EmbedThenSignIsCoveredAndEmbeddingIntoASignedFileIsRefused) {
  std::string bundled = scratch_.File("Bundled.exe");
  ASSERT_EQ(0, RunMaker("embed " + Quote(setup_) + " -o " + Quote(bundled) + " " + Quote(notes_)).code);
  std::string signed_bundle = Signed(bundled, "SignedBundle.exe");
  ASSERT_EQ(0, RunMaker("stamp --in-place " + Quote(signed_bundle) + " x=1").code);
  ExpectSignatureHolds(signed_bundle);
  EXPECT_EQ("release notes", Extract(signed_bundle, "notes.txt"));
  EXPECT_EQ("&x=1", Merged(signed_bundle));
  std::string shown = Show(signed_bundle);
  EXPECT_TRUE(Has(shown, "\"x=1\" [in the signature")) << shown;
  EXPECT_TRUE(Has(shown, "compound file of") && Has(shown, "bytes [signed]")) << shown;
  EXPECT_TRUE(Has(shown, "notes.txt  13 bytes")) << shown;

  // A package added now would break the signature: refused, nothing written.
  std::string signed_bytes = ReadWholeFile(signed_bundle);
  std::string out = scratch_.File("Out.exe");
  for (const std::string& arguments : {"embed " + Quote(signed_bundle) + " -o " + Quote(out) + " " + Quote(notes_),
                                       "embed --replace --in-place " + Quote(signed_bundle) + " " + Quote(notes_)}) {
    Result r = RunMaker(arguments);
    EXPECT_NE(0, r.code) << arguments;
    EXPECT_TRUE(Has(r.output, "is signed") && Has(r.output, "Embed first, then sign") &&
                Has(r.output, "--drop-signature"))
        << r.output;
  }
  EXPECT_FALSE(FileExists(out));
  EXPECT_TRUE(ReadWholeFile(signed_bundle) == signed_bytes);

  // Unless the signature goes first: the parameters stamped after signing
  // stay last, the header is sound, and nothing of the table is left.
  std::string other = scratch_.File("other.txt");
  ASSERT_TRUE(WriteWholeFile(other, "second"));
  Result r = RunMaker("embed --drop-signature --replace " + Quote(signed_bundle) + " -o " + Quote(out) +
                      " readme=" + Quote(other));
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_EQ("second", Extract(out, "readme"));
  EXPECT_EQ("&x=1", Merged(out));
  shown = Show(out);
  EXPECT_TRUE(Has(shown, "no signature") && !Has(shown, "[signed]")) << shown;
  DWORD stored = 0, computed = 0;
  ASSERT_EQ(static_cast<DWORD>(CHECKSUM_SUCCESS), MapFileAndCheckSumA(out.c_str(), &stored, &computed));
  EXPECT_EQ(computed, stored);
  EXPECT_LT(ReadWholeFile(out).size(), ReadWholeFile(bundled).size() + 1024) << "the table was kept";

  // A signature that no longer ends the file (bytes appended after signing)
  // cannot be kept: stamping is refused unless it is dropped.
  std::string broken = scratch_.File("Broken.exe");
  ASSERT_TRUE(WriteWholeFile(broken, ReadWholeFile(Signed(setup_, "Plain.exe")) + "appended"));
  r = RunMaker("stamp " + Quote(broken) + " -o " + Quote(out + "2") + " y=1");
  EXPECT_NE(0, r.code);
  EXPECT_TRUE(Has(r.output, "is signed, but")) << r.output;
  EXPECT_FALSE(FileExists(out + "2"));
  r = RunMaker("stamp --drop-signature " + Quote(broken) + " -o " + Quote(out + "2") + " y=1");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_EQ("&y=1", Merged(out + "2"));
  EXPECT_TRUE(Has(Show(broken), "signature: damaged, of no definite length, or not at the end of the file"));
}

// The lines of show that list the package's folders and streams.
std::string PackageLines(const std::string& shown) {
  std::string lines;
  size_t at = 0;
  while (at < shown.size()) {
    size_t end = shown.find('\n', at);
    if (end == std::string::npos) end = shown.size();
    std::string line = shown.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, 4, "    ") == 0) lines += line + "\n";
    at = end + 1;
  }
  return lines;
}

// The native tool writes what maker.exe writes; where the compound-file
// writers lay a package out differently, Setup's own reader gets the same
// streams from both, and each tool lists the other's package as its own.
TEST_F(SignedMakerTest, NativeToolWritesTheSameFiles) {
  std::string signed_setup = Signed(setup_, "Signed.exe");
  struct Case {
    std::vector<std::string> arguments;  // OUT stands for the output
    bool same_bytes;
  } cases[] = {
      {{"stamp", setup_, "-o", "OUT", "a=1&b=2"}, true},
      {{"stamp", signed_setup, "-o", "OUT", "Partner=acme&Campaign=winter"}, true},
      {{"stamp", "--drop-signature", signed_setup, "-o", "OUT", "x=1"}, true},
      {{"embed", setup_, "-o", "OUT", "--updater", updater_, "Update.exe_uncompressed=" + updater_, notes_}, false},
  };
  int n = 0;
  for (Case& c : cases) {
    std::string windows = scratch_.File("windows" + std::to_string(n) + ".exe");
    std::string native = scratch_.File("native" + std::to_string(n++) + ".exe");
    std::vector<std::string> a = c.arguments, b = c.arguments;
    for (size_t i = 0; i < a.size(); ++i)
      if (a[i] == "OUT") a[i] = windows, b[i] = native;
    Result r = RunMaker(a);
    ASSERT_EQ(0, r.code) << r.output;
    r = RunNative(b);
    ASSERT_EQ(0, r.code) << r.output;
    std::string wbytes = ReadWholeFile(windows), nbytes = ReadWholeFile(native);
    if (c.same_bytes) {
      EXPECT_TRUE(wbytes == nbytes) << a[0] << " " << a[1] << ": the tools wrote different bytes";
      continue;
    }
    // The image before the package is the same but for its checksum, which
    // covers the package too.
    const unsigned char* data = reinterpret_cast<const unsigned char*>(wbytes.data());
    SetupBlocks wb = FindSetupBlocks(data, wbytes.size());
    PeHeaderFields fields;
    ASSERT_TRUE(wb.hasPackage && FindPeHeaderFields(data, wbytes.size(), &fields));
    wbytes.replace(fields.checksumAt, 4, 4, '\0');
    nbytes.replace(fields.checksumAt, 4, 4, '\0');
    EXPECT_TRUE(wbytes.compare(0, wb.packageStart, nbytes, 0, wb.packageStart) == 0) << "the image differs";
    for (const char* stream : {"Update.exe", "Update.exe_uncompressed", "notes.txt"})
      EXPECT_TRUE(Extract(native, stream) == Extract(windows, stream)) << stream;
    std::string listed = PackageLines(Show(windows));
    EXPECT_NE(std::string::npos, listed.find("notes.txt  13 bytes")) << listed;
    EXPECT_EQ(listed, PackageLines(Show(native)));
    EXPECT_EQ(listed, PackageLines(RunNative({"show", windows}).output));
    EXPECT_EQ(listed, PackageLines(RunNative({"show", native}).output));
  }
  // In a pipe: standard input to standard output, twice, as maker.exe in two steps.
  std::string piped = scratch_.File("piped.exe"), twice = scratch_.File("twice.exe");
  ASSERT_EQ(0, RunMaker({"stamp", signed_setup, "-o", twice, "Partner=one"}).code);
  ASSERT_EQ(0, RunMaker({"stamp", "--in-place", twice, "Partner=two"}).code);
  std::string output;
  ASSERT_EQ(0, RunOnHost({"/bin/bash", "-c", "$0 stamp - -o - Partner=one <$1 | $0 stamp - -o - Partner=two >$2",
                          SETUP_NATIVE_MAKER, UnixPath(signed_setup), UnixPath(piped)},
                         &output))
      << output;
  EXPECT_TRUE(ReadWholeFile(piped) == ReadWholeFile(twice));
  ExpectSignatureHolds(piped);
  EXPECT_EQ("&Partner=two", Merged(piped));
}

TEST(StoredCabinet, ThePlatformReaderUnpacksEveryEntry) {
  ScratchFolder scratch;
  std::string big(100000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
  std::vector<CabinetEntry> entries = {
      {"NewUpdate.exe", big, 0x5b87, 0x6000}, {"empty.txt", "", 0x5b87, 0x6000}, {"three.txt", "abc", 0x5b87, 0x6000}};
  std::string cabinet, error;
  ASSERT_TRUE(BuildStoredCabinet(entries, &cabinet, &error)) << error;
  std::string path = scratch.File("three.cab");
  ASSERT_TRUE(WriteWholeFile(path, cabinet));
  auto files = UnpackCabinet(path, scratch.File("out"));
  ASSERT_EQ(3u, files.size());
  EXPECT_TRUE(files["NewUpdate.exe"] == big);
  EXPECT_EQ("", files["empty.txt"]);
  EXPECT_EQ("abc", files["three.txt"]);

  EXPECT_FALSE(BuildStoredCabinet({}, &cabinet, &error));
  EXPECT_FALSE(BuildStoredCabinet({{std::string(256, 'n'), "x", 0, 0}}, &cabinet, &error));
  EXPECT_FALSE(BuildStoredCabinet({{"", "x", 0, 0}}, &cabinet, &error));
}

}  // namespace

namespace {

// The copies sign-variants.sh made of the demo updater, and the thumbprints
// of the certificates that signed them.
std::string SignedFolder() { return ProgramFolder() + "\\..\\..\\signed\\"; }
std::string Signed(const std::string& name) { return SignedFolder() + name + ".exe"; }
std::string ThumbprintOf(const std::string& name) { return ReadWholeFile(SignedFolder() + name + ".sha256"); }

}  // namespace

// maker.exe applies the program's own check; the native tool (OpenSSL,
// the test authority as its root) must agree with it, and with the signing
// tool's check on what that one judges: the signature and the chain.
TEST(MakerVerify, PassesOnlyWhatSetupWouldStartAndSaysWhy) {
  std::string signer = ThumbprintOf("signer"), authority = ReadWholeFile(SignedFolder() + "ca.pin");
  ASSERT_EQ(64u, signer.size());
  ASSERT_EQ(64u, authority.size());
  enum { kNotAsked = -1, kHolds = 0, kFails = 1 };
  struct Case {
    std::string file;
    std::vector<std::string> options;
    int code;
    std::string says;
    int signing_tool;
  } cases[] = {
      {"signer", {}, 0, "trusted", kHolds},
      {"signer", {"--thumbprint", ThumbprintOf("other"), "--thumbprint", signer}, 0, signer, kNotAsked},
      {"signer", {"--thumbprint", ThumbprintOf("other")}, 1, "thumbprint is not listed", kNotAsked},
      {"signer", {"--publisher", "Other Maker"}, 1, "expected \"Other Maker\"", kNotAsked},
      {"other", {}, 1, "signed by another publisher", kHolds},
      {"other", {"--publisher", "Other Maker"}, 0, "signed by \"Other Maker\"", kNotAsked},
      {"twonames", {}, 1, "(not exactly one common name)", kHolds},
      {"fullwidth", {}, 1, "signed by another publisher", kHolds},
      {"unsigned", {}, 1, "(verdict 0x800b0100)", kFails},
      {"flipped", {}, 1, "the platform refuses the signature", kFails},
      {"untrusted", {}, 1, "does not end in a trusted root", kFails},
      {"selfsigned", {}, 1, "does not end in a trusted root", kFails},
      {"nousage", {}, 1, "not for code signing", kHolds},
      // An intermediate limited to server authentication limits its signer too.
      {"webonly", {}, 1, "chain does not end in a trusted root, or is not for code signing", kNotAsked},
      {"unpinned", {}, 1, "no certificate of the chain carries a pinned key", kNotAsked},
      {"unpinned", {"--pin", ReadWholeFile(SignedFolder() + "unpinned.pin")}, 0, "trusted", kNotAsked},
      // The authority's key alone: pins hold over the chain, not on the signer only.
      {"signer", {"--pin", authority}, 0, "trusted", kNotAsked},
      // Expired since signing, no timestamp (timestamped: below, natively).
      {"expired", {}, 1, "a certificate has expired or is not yet valid", kFails},
      {"missing", {}, 1, "cannot open", kNotAsked},
      {"signer", {"--thumbprint", signer.substr(1)}, 2, "not a SHA-256 thumbprint", kNotAsked},
      {"signer", {"--publisher"}, 2, "needs a value", kNotAsked},
  };
  for (const Case& c : cases) {
    std::string where = c.file + " " + (c.options.empty() ? "" : c.options[0]);
    std::vector<std::string> arguments = {"verify", Signed(c.file)};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    // Wine builds a chain without limiting it by an intermediate's usage
    // (Windows does): there only the native tool is asked.
    if (c.file != "webonly") {
      Result r = RunMaker(arguments);
      EXPECT_EQ(c.code, r.code) << where << ":\n" << r.output;
      EXPECT_NE(std::string::npos, r.output.find(c.says)) << where << ":\n" << r.output;
    }
    // The native tool gets what maker.exe has from the prefix and its build:
    // the roots the prefix trusts and the test authority's pin.
    if (std::find(c.options.begin(), c.options.end(), "--pin") == c.options.end())
      arguments.insert(arguments.begin() + 2, {"--pin", authority});
    arguments.insert(arguments.begin() + 2,
                     {"--ca", SETUP_TEST_CERTS "/ca.pem", "--ca", SETUP_TEST_CERTS "/other-ca.pem"});
    Result native = RunNative(arguments);
    EXPECT_EQ(c.code, native.code) << where << " (native):\n" << native.output;
    EXPECT_NE(std::string::npos, native.output.find(c.says)) << where << " (native):\n" << native.output;
    if (c.signing_tool != kNotAsked) {
      std::string report;
      EXPECT_EQ(c.signing_tool, VerifyWithTestAuthority(Signed(c.file), &report) == 0 ? kHolds : kFails)
          << where << ":\n" << report;
    }
  }
  // Without --ca the native tool trusts the system's roots, not the test authority.
  Result native = RunNative({"verify", Signed("signer")});
  EXPECT_EQ(1, native.code);
  EXPECT_NE(std::string::npos, native.output.find("does not end in a trusted root")) << native.output;
  Result r = RunMaker({"verify", Signed("signer"), "--ca", "ca.pem"});
  EXPECT_EQ(2, r.code) << r.output;
  EXPECT_NE(std::string::npos, r.output.find("machine's trusted roots")) << r.output;
}

TEST(MakerVerify, ShowNamesTheSignerOrNone) {
  Result r = RunMaker("show " + Quote(Signed("signer")));
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_NE(std::string::npos, r.output.find("signed by \"Brannock\", SHA-256 thumbprint " + ThumbprintOf("signer")))
      << r.output;
  EXPECT_NE(std::string::npos, r.output.find("the platform accepts it")) << r.output;
  r = RunMaker("show " + Quote(Signed("untrusted")));
  EXPECT_NE(std::string::npos, r.output.find("does not end in a trusted root")) << r.output;
  r = RunMaker("show " + Quote(Signed("unsigned")));
  EXPECT_NE(std::string::npos, r.output.find("signer: none found, platform verdict 0x800b0100")) << r.output;
  // The native tool names the time a timestamp vouches for, and why a
  // certificate expired since fails without one.
  std::string seconds;
  ASSERT_EQ(0, RunOnHost({"cat", SETUP_TEST_CERTS "/expired.time"}, &seconds));
  time_t when = static_cast<time_t>(atoll(seconds.c_str()));
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", gmtime(&when));
  // Wine's trust provider judges the chain now whatever the timestamp says:
  // the native check and the signing tool's stand for Windows here.
  std::string report;
  EXPECT_EQ(0, VerifyWithTestAuthority(Signed("expired-timestamped"), &report)) << report;
  r = RunNative({"show", "--ca", SETUP_TEST_CERTS "/ca.pem", Signed("expired-timestamped")});
  EXPECT_NE(std::string::npos,
            r.output.find(std::string("signing time ") + text + ", timestamped by \"Tamsu Test Timestamps\""))
      << r.output;
  EXPECT_NE(std::string::npos, r.output.find("the platform accepts it")) << r.output;
  r = RunNative({"verify", "--ca", SETUP_TEST_CERTS "/ca.pem", Signed("expired")});
  EXPECT_NE(std::string::npos, r.output.find("no timestamp")) << r.output;
  EXPECT_NE(std::string::npos, r.output.find("a certificate has expired")) << r.output;
}
