#include <gtest/gtest.h>

#include <stdint.h>

#include <string>

#include "package/appended_blocks.h"
#include "tests/package/block_layout.h"

using namespace block_layout;

namespace {

struct Found {
  bool found;
  uint32_t start;
  uint32_t length;
};

Found Walk(const std::string& file) {
  Found f = {false, 0, 0};
  f.found = FindPackageRange(reinterpret_cast<const unsigned char*>(file.data()),
                             static_cast<uint32_t>(file.size()), &f.start, &f.length);
  return f;
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

}  // namespace
