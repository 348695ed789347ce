#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <ostream>
#include <utility>
#include <vector>

#include <memory>
#include <string>

#include "package/appended_blocks.h"
#include "package/signer_attribute.h"
#include "tests/package/block_layout.h"
#include "tests/support/certificate_table.h"
#include "tools/maker/signed_image.h"

using namespace block_layout;

namespace {

struct Found {
  bool found;
  uint32_t start;
  uint32_t length;
};

Found Walk(const std::string& file) {
  SetupBlocks blocks = FindSetupBlocks(reinterpret_cast<const unsigned char*>(file.data()),
                                       static_cast<uint32_t>(file.size()));
  return {blocks.hasPackage, blocks.packageStart, blocks.packageLength};
}

const std::string kImage = "MZ" + std::string(300, 'x');

TEST(AppendedBlocks, NothingAppendedOrEmpty) {
  EXPECT_FALSE(Walk(kImage).found);
  EXPECT_FALSE(Walk("").found);
  EXPECT_FALSE(Walk("Suffix").found);
  EXPECT_FALSE(Walk("Cookies").found);
}

TEST(AppendedBlocks, FindsPackageAloneAndThroughStackedBlocks) {
  std::string file = kImage;
  AppendPackage(file, "COMPOUND");
  Found f = Walk(file);
  ASSERT_TRUE(f.found);
  EXPECT_EQ(kImage.size(), f.start);
  EXPECT_EQ(8u, f.length);

  // package, then an unrelated block, then a parameter block whose last four
  // text bytes look like nothing sensible as an offset
  AppendOther(file, "other data");
  AppendParameters(file, "a=1&b=2&zzzz");
  f = Walk(file);
  ASSERT_TRUE(f.found);
  EXPECT_EQ(kImage.size(), f.start);
  EXPECT_EQ(8u, f.length);

  // the walk sees each block in turn
  const unsigned char* data = reinterpret_cast<const unsigned char*>(file.data());
  AppendedBlock last = BlockEndingAt(data, static_cast<uint32_t>(file.size()));
  EXPECT_EQ(kParameterBlock, last.kind);
  EXPECT_EQ(file.size() - 267, last.start);
  AppendedBlock other = BlockEndingAt(data, last.start);
  EXPECT_EQ(kOtherBlock, other.kind);
  AppendedBlock package = BlockEndingAt(data, other.start);
  EXPECT_EQ(kPackageBlock, package.kind);
}

TEST(AppendedBlocks, EmptyCompoundFileIsAPackageOfLengthZero) {
  std::string file = kImage;
  AppendPackage(file, "");
  Found f = Walk(file);
  ASSERT_TRUE(f.found);
  EXPECT_EQ(0u, f.length);
}

TEST(AppendedBlocks, MarkersAreCaseSensitive) {
  std::string file = kImage;
  AppendPackage(file, "COMPOUND");
  std::string lower = file;
  lower.replace(lower.size() - 6, 6, "suffix");
  EXPECT_FALSE(Walk(lower).found);
  std::string bulk = file;
  bulk.replace(bulk.size() - 14, 4, "BULK");
  // Without "Bulk" it is an ordinary block: skipped to the image, no package.
  EXPECT_FALSE(Walk(bulk).found);
  std::string cookies = file;
  AppendParameters(cookies, "a=1");
  cookies.replace(cookies.size() - 7, 7, "cookies");
  EXPECT_FALSE(Walk(cookies).found);
}

TEST(AppendedBlocks, OffsetsThatDoNotMoveBackwardsEndTheWalk) {
  // An other-block offset pointing at or past its own ending.
  for (uint32_t bad : {0xffffffffu, 0u}) {
    std::string file = kImage;
    AppendPackage(file, "COMPOUND");
    uint32_t end = static_cast<uint32_t>(file.size()) + 10;
    uint32_t offset = bad == 0 ? end - 9 : bad;  // end - 9: inside its own marker
    file += Offset(offset) + "Suffix";
    EXPECT_FALSE(Walk(file).found) << offset;
  }
  // An other block of zero body bytes is fine and steps to the package.
  std::string file = kImage;
  AppendPackage(file, "COMPOUND");
  AppendOther(file, "");
  EXPECT_TRUE(Walk(file).found);

  // A package offset beyond its "Bulk" marker.
  std::string beyond = kImage + "COMPOUND" + "Bulk" + Offset(5000) + "Suffix";
  EXPECT_FALSE(Walk(beyond).found);
  // A package that starts exactly at the marker is empty but valid.
  std::string exact = kImage + "Bulk" + Offset(static_cast<uint32_t>(kImage.size())) + "Suffix";
  EXPECT_TRUE(Walk(exact).found);
}

TEST(AppendedBlocks, ShortFilesNeverReadBeforeTheirStart) {
  // A parameter marker with less than a whole block before it.
  std::string small = std::string(100, '\0') + "Cookies";
  EXPECT_FALSE(Walk(small).found);
  // Markers whose offset or "Bulk" would sit before position 0.
  EXPECT_FALSE(Walk("xxSuffix").found);
  EXPECT_FALSE(Walk(Offset(0) + "Suffix").found);
  EXPECT_TRUE(Walk(std::string("Bulk") + Offset(0) + "Suffix").found);
  // Exactly one parameter block and nothing else.
  std::string only;
  AppendParameters(only, "a=1");
  EXPECT_FALSE(Walk(only).found);
}

TEST(AppendedBlocks, LongChainsOfBlocksEnd) {
  std::string file = kImage;
  AppendPackage(file, "P");
  for (int i = 0; i < 200; ++i) AppendOther(file, "b");
  for (int i = 0; i < 20; ++i) AppendParameters(file, "x=1");
  Found f = Walk(file);
  ASSERT_TRUE(f.found);
  EXPECT_EQ(kImage.size(), f.start);
  EXPECT_EQ(1u, f.length);
}

// What Setup takes from a file, read from a buffer of exactly its size so
// that the sanitizer sees any read past the end.
struct Taken {
  std::string parameters;  // "<none>" when no parameter block is taken
  bool package;
  uint32_t packageStart, packageLength;
  bool ignored;
  bool unread;
  bool operator==(const Taken& o) const {
    return parameters == o.parameters && package == o.package && packageStart == o.packageStart &&
           packageLength == o.packageLength && ignored == o.ignored && unread == o.unread;
  }
};

std::ostream& operator<<(std::ostream& out, const Taken& t) {
  return out << "{" << t.parameters << ", package " << t.package << " at " << t.packageStart << "+" << t.packageLength
             << ", ignored " << t.ignored << ", unread " << t.unread << "}";
}

Taken Take(const std::string& file) {
  std::unique_ptr<unsigned char[]> exact(new unsigned char[file.size()]);
  memcpy(exact.get(), file.data(), file.size());
  SetupBlocks b = FindSetupBlocks(exact.get(), static_cast<uint32_t>(file.size()));
  Taken t = {"<none>", b.hasPackage, b.packageStart, b.packageLength, b.packageIgnored, b.tableUnread};
  if (b.hasParameters) {
    EXPECT_LE(b.parameters + 267, file.size());
    t.parameters = file.substr(b.parameters + 259 - 7, 7);  // the text's last 7 characters
  }
  if (b.hasPackage) {
    EXPECT_LE(static_cast<uint64_t>(b.packageStart) + b.packageLength + 14, file.size());
  }
  return t;
}

// The table of a signed layout, as the maker edits it.
CertificateTable TableOf(const std::string& file) {
  CertificateTable table = {0, 0};
  EXPECT_TRUE(FindCertificateTable(reinterpret_cast<const unsigned char*>(file.data()),
                                   static_cast<uint32_t>(file.size()), &table));
  return table;
}

// The maker's stamp on a signed file: into the signature.
void StampAfterSigning(std::string& file, const std::string& text) {
  bool replaced = false;
  std::string error;
  EXPECT_TRUE(StampInSignature(&file, TableOf(file), ParameterBlock(text), &replaced, &error)) << error;
}

// The maker's stamp until now: after the signature data, replacing one
// stamped there before.
void StampTheOldWay(std::string& file, const std::string& text) {
  uint32_t start = 0;
  CertificateTable table = TableOf(file);
  bool stamped = StampedParameterBlock(file, &start) && start >= table.signatureEnd;
  PlaceInCertificateTable(&file, table, stamped ? start : static_cast<uint32_t>(file.size()), ParameterBlock(text));
}

// A package block placed inside the table, after the signature data.
void PackageInTable(std::string& file, const std::string& compound) {
  std::string block = compound + "Bulk" + Offset(0) + "Suffix";
  uint32_t at = PlaceInCertificateTable(&file, TableOf(file), static_cast<uint32_t>(file.size()), block);
  Put32(file, file.size() - 10, at);
}

// The same behind a signature of indefinite length: put there directly, as
// the maker refuses such a table.
void PackageAndParametersAfterIndefiniteSignature(std::string& file) {
  uint32_t at = static_cast<uint32_t>(file.size());
  file += std::string("EVIL") + "Bulk" + Offset(at) + "Suffix" + ParameterBlock("evil=1");
  file.append((8 - file.size() % 8) % 8, '\0');
}

const std::string kCompound = "COMPOUND-FILE";  // 13 bytes: the signing tool pads after it

// One step of making a layout, in the order the maker and the signing tool
// would take them.
enum Step {
  kEmbed,
  kStamp,
  kSign,
  kSignIndefinite,
  kStampAfterSigning,
  kStampOldWay,
  kPackageInTable,
  kAfterIndefinite
};

TEST(SignedLayouts, SetupTakesCoveredBlocksAndParametersStampedAfterSigning) {
  for (bool wide : {false, true}) {
    const std::string image = PeImage(wide, 1001);
    const uint32_t package = static_cast<uint32_t>(image.size());
    struct Case {
      const char* name;
      std::vector<std::pair<Step, const char*>> steps;
      Taken expected;
    } cases[] = {
        {"unsigned", {{kEmbed, ""}, {kStamp, "param=1"}}, {"param=1", true, package, 13, false, false}},
        {"embed then sign", {{kEmbed, ""}, {kSign, ""}}, {"<none>", true, package, 13, false, false}},
        {"stamp, embed, sign", {{kEmbed, ""}, {kStamp, "before1"}, {kSign, ""}},
         {"before1", true, package, 13, false, false}},
        {"sign then stamp", {{kSign, ""}, {kStampAfterSigning, "after=1"}}, {"after=1", false, 0, 0, false, false}},
        {"sign then stamp the old way", {{kSign, ""}, {kStampOldWay, "after=1"}}, {"after=1", false, 0, 0, false, false}},
        {"embed, sign, stamp twice",
         {{kEmbed, ""}, {kSign, ""}, {kStampAfterSigning, "first=1"}, {kStampAfterSigning, "second2"}},
         {"second2", true, package, 13, false, false}},
        {"the old way, then the new: the old one goes",
         {{kSign, ""}, {kStampOldWay, "first=1"}, {kStampAfterSigning, "second2"}},
         {"second2", false, 0, 0, false, false}},
        {"the new way, then the old: the last one counts",
         {{kSign, ""}, {kStampAfterSigning, "first=1"}, {kStampOldWay, "second2"}},
         {"second2", false, 0, 0, false, false}},
        {"stamped before and after signing",
         {{kStamp, "before1"}, {kSign, ""}, {kStampAfterSigning, "after=2"}},
         {"after=2", false, 0, 0, false, false}},
        {"package inside the table", {{kSign, ""}, {kPackageInTable, ""}}, {"<none>", false, 0, 0, true, false}},
        {"package inside the table over a covered one",
         {{kEmbed, ""}, {kSign, ""}, {kPackageInTable, ""}, {kStampOldWay, "after=3"}},
         {"after=3", true, package, 13, true, false}},
        // Bytes after the table: the table no longer ends the file, and
        // nothing at or after its start is taken.
        {"appended after signing", {{kSign, ""}, {kEmbed, ""}}, {"<none>", false, 0, 0, false, true}},
        {"package and parameters behind a signature of indefinite length",
         {{kSignIndefinite, ""}, {kAfterIndefinite, ""}},
         {"<none>", false, 0, 0, false, true}},
        {"covered blocks before a signature of indefinite length",
         {{kEmbed, ""}, {kStamp, "before1"}, {kSignIndefinite, ""}, {kAfterIndefinite, ""}},
         {"before1", true, package, 13, false, true}},
    };
    for (const Case& c : cases) {
      std::string file = image;
      for (const auto& step : c.steps) {
        switch (step.first) {
          case kEmbed: AppendPackage(file, kCompound); break;
          case kStamp: AppendParameters(file, step.second); break;
          case kSign: Sign(file, wide); break;
          case kSignIndefinite: Sign(file, wide, Indefinite(SignatureData(300))); break;
          case kStampAfterSigning: StampAfterSigning(file, step.second); break;
          case kStampOldWay: StampTheOldWay(file, step.second); break;
          case kPackageInTable: PackageInTable(file, "EVIL"); break;
          case kAfterIndefinite: PackageAndParametersAfterIndefiniteSignature(file); break;
        }
      }
      EXPECT_EQ(c.expected, Take(file)) << c.name << (wide ? " (PE32+)" : " (PE32)");
    }
  }
}

TEST(SignedLayouts, StampingInTheSignatureReplacesLeavesOnlyPaddingAndDropsCleanly) {
  // The signature's outer length in each of its forms (short, one and two
  // bytes), with and without unsigned attributes of its own.
  for (bool wide : {false, true}) {
    for (size_t digest : {20u, 100u, 300u}) {
      for (bool countersigned : {false, true}) {
        const std::string signature = SignatureData(digest, countersigned ? CountersignatureAttribute() : "");
        std::string original = PeImage(wide, 999);
        AppendPackage(original, kCompound);
        AppendParameters(original, "before1");
        std::string file = original;
        Sign(file, wide, signature);
        const uint32_t start = TableOf(file).start;
        StampTheOldWay(file, "old=1");
        size_t stamped_size = 0;
        for (const char* text : {"a=1", "b=22", "c=333"}) {
          StampAfterSigning(file, text);
          CertificateTable table = TableOf(file);
          const unsigned char* data = reinterpret_cast<const unsigned char*>(file.data());
          uint32_t length = static_cast<uint32_t>(file.size()) - start;
          // Length field and directory agree, aligned, and nothing but
          // fewer than 8 zeros follows the signature data.
          EXPECT_EQ(start, table.start);
          EXPECT_EQ(0u, length % 8);
          EXPECT_EQ(Offset(length), file.substr(start, 4));
          EXPECT_EQ(Offset(length), file.substr(SecurityEntryAt(wide) + 4, 4));
          EXPECT_LT(file.size() - table.signatureEnd, 8u);
          EXPECT_EQ(std::string(file.size() - table.signatureEnd, '\0'), file.substr(table.signatureEnd));
          // The signer's own parts stay as they were, its countersignature
          // included; the block replaces the one before (same size).
          EXPECT_NE(std::string::npos, file.find(std::string(digest, 'S'), start));
          EXPECT_EQ(countersigned, file.find(std::string(40, 'T'), start) != std::string::npos);
          uint32_t block = 0;
          ASSERT_TRUE(FindSignedParameterBlock(data, start + 8, table.signatureEnd, &block));
          EXPECT_EQ(std::string(text), Take(file).parameters.substr(7 - strlen(text)));
          if (stamped_size) {
            EXPECT_EQ(stamped_size, file.size());
          }
          stamped_size = file.size();
        }
        PeHeaderFields fields;
        ASSERT_TRUE(FindPeHeaderFields(reinterpret_cast<const unsigned char*>(file.data()),
                                       static_cast<uint32_t>(file.size()), &fields));
        // Dropping the signature gives back the unsigned file, the alignment
        // zeros the signing tool put after its last block included.
        DropSignature(&file);
        EXPECT_EQ(original.size(), file.size());
        Put32(file, fields.checksumAt, 0);
        EXPECT_TRUE(original == file);
        EXPECT_EQ((Taken{"before1", true, static_cast<uint32_t>(PeImage(wide, 999).size()), 13, false, false}),
                  Take(file));
      }
    }
  }
}

TEST(SignedLayouts, HostileHeadersAndTablesNeverReadOutOfRange) {
  std::string signed_file = PeImage(true, 1003);
  AppendPackage(signed_file, kCompound);
  Sign(signed_file, true);
  StampAfterSigning(signed_file, "after=1");
  PackageInTable(signed_file, "EVIL");
  StampTheOldWay(signed_file, "after=2");
  ASSERT_EQ("after=2", Take(signed_file).parameters);

  const uint32_t entry = SecurityEntryAt(true);
  const uint32_t table = TableOf(signed_file).start;
  const uint32_t size = static_cast<uint32_t>(signed_file.size());
  struct Lie {
    const char* name;
    uint32_t at;
    uint32_t value;
  } lies[] = {
      {"header offset past the end", 0x3c, 0xfffffff0u},
      {"header offset at the end", 0x3c, size - 4},
      {"optional header too small", kPeAt + 20, 0x80},
      {"four directories only", OptionalAt() + 108, 4},
      {"unknown optional header", OptionalAt(), 0x10c},
      {"table past the end", entry, 0xfffffff8u},
      {"table size wraps", entry + 4, 0xfffffff8u},
      {"table one byte short of the end", entry + 4, size - table - 1},
      {"table too small for its header", entry, size - 9},
      {"DER length beyond the table", table + 10, 0x00ffffffu},
      {"DER length of five bytes", table + 8, 0x00008530u},
      {"DER length of no bytes", table + 8, 0x00008030u},
      {"not DER", table + 8, 0},
  };
  for (const Lie& lie : lies) {
    std::string file = signed_file;
    Put32(file, lie.at, lie.value);
    Taken t = Take(file);
    // Unsigned reading or none: never the package inside the table.
    EXPECT_FALSE(t.package && t.packageStart >= table) << lie.name << " " << t;
    // A table that does not read gives nothing from inside it.
    EXPECT_FALSE(t.unread && t.parameters != "<none>") << lie.name << " " << t;
  }

  // Every prefix, and every header and table byte set to each of a few
  // values: the sanitizer catches any read out of range.
  for (uint32_t cut = 0; cut <= size; ++cut) Take(signed_file.substr(0, cut));
  std::vector<uint32_t> positions;
  for (uint32_t i = 0; i < OptionalAt() + 240; ++i) positions.push_back(i);
  for (uint32_t i = table; i < table + 16; ++i) positions.push_back(i);
  for (uint32_t at : positions) {
    for (unsigned char value : {0x00, 0x7f, 0x80, 0x84, 0xff}) {
      std::string file = signed_file;
      file[at] = static_cast<char>(value);
      Take(file);
    }
  }
}

}  // namespace
