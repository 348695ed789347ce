#include <gtest/gtest.h>

#include <string>

#include "install/launch_parameters.h"
#include "install/product.h"
#include "tests/package/block_layout.h"
#include "tests/support/test_support.h"

using namespace testing_support;
using block_layout::ParameterBlock;

namespace {

const char kFamily[] = SETUP_FAMILY_KEY;
const char kProduct[] = SETUP_PRODUCT_KEY;

std::string Stored(const char* key) {
  std::string bytes = ReadMachineValueBytes(key, "WWWParams");
  if (bytes == "<absent>") return bytes;
  return bytes.c_str();
}

void Store(const char* key, const std::string& text) {
  HKEY k;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, key, &k));
  RegSetValueExA(k, "WWWParams", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(k);
}

class LaunchParameters : public ::testing::Test {
 protected:
  void SetUp() override { DeleteMachineKey(kFamily); }
  void TearDown() override { DeleteMachineKey(kFamily); }

  // A copy of a real executable with tail appended; merged as if it ran.
  void MergeFrom(const std::string& tail) {
    std::string exe = scratch_.File("Setup.exe");
    char own[MAX_PATH];
    GetModuleFileNameA(nullptr, own, sizeof own);
    ASSERT_TRUE(WriteWholeFile(exe, ReadWholeFile(own) + tail));
    MergeLaunchParametersFrom(testing_support::WidePath(exe).c_str());
  }

  ScratchFolder scratch_;
};

TEST_F(LaunchParameters, StoredParametersJoinFamilyThenProduct) {
  EXPECT_STREQ("", StoredWebParameters().Text());
  EXPECT_TRUE(StoredWebParameters().IsPresent());
  Store(kProduct, "&p=2");
  EXPECT_STREQ("&p=2", StoredWebParameters().Text());
  Store(kFamily, "&f=1");
  EXPECT_STREQ("&f=1&p=2", StoredWebParameters().Text());
}

TEST_F(LaunchParameters, TrailerEntriesReplaceStoredOnes) {
  Store(kFamily, "&b=9&c=3");
  MergeFrom(ParameterBlock("a=1&b=2"));
  EXPECT_EQ("&a=1&b=2&c=3", Stored(kFamily));
  // Running again merges the same entries to the same result.
  MergeFrom(ParameterBlock("a=1&b=2"));
  EXPECT_EQ("&a=1&b=2&c=3", Stored(kFamily));
}

TEST_F(LaunchParameters, ProductEntriesCopiedIntoTheFamilyValueOnly) {
  Store(kFamily, "&x=1");
  Store(kProduct, "&x=2&y=3");
  MergeFrom(ParameterBlock(""));
  EXPECT_EQ("&x=1&y=3", Stored(kFamily));
  EXPECT_EQ("&x=2&y=3", Stored(kProduct));
}

TEST_F(LaunchParameters, EmptyTrailerStillWritesTheValue) {
  MergeFrom(ParameterBlock(""));
  EXPECT_EQ("", Stored(kFamily));
  MergeFrom(ParameterBlock("&&a=1&"));
  EXPECT_EQ("&a=1", Stored(kFamily));
}

TEST_F(LaunchParameters, NoMarkerOrNoFileChangesNothing) {
  Store(kFamily, "&keep=1");
  MergeFrom("");
  MergeFrom(std::string(260, 'a') + "cookies");
  EXPECT_EQ("&keep=1", Stored(kFamily));
  MergeLaunchParametersFrom(testing_support::WidePath(scratch_.File("missing.exe")).c_str());
  // Shorter than a block, though it ends in the marker.
  std::string tiny = scratch_.File("tiny.exe");
  ASSERT_TRUE(WriteWholeFile(tiny, "a=1Cookies"));
  MergeLaunchParametersFrom(testing_support::WidePath(tiny).c_str());
  EXPECT_EQ("&keep=1", Stored(kFamily));
  // The test program itself carries no block.
  MergeLaunchParameters();
  EXPECT_EQ("&keep=1", Stored(kFamily));

  DeleteMachineKey(kFamily);
  MergeFrom("");
  EXPECT_EQ("<absent>", Stored(kFamily));
}

TEST_F(LaunchParameters, OnlyTheLastBlockIsRead) {
  // A parameter block not at the very end (a package block after it) is not
  // a launch trailer.
  std::string tail = ParameterBlock("a=1") + "compound" + "Bulk" + std::string(4, '\0') + "Suffix";
  MergeFrom(tail);
  EXPECT_EQ("<absent>", Stored(kFamily));
  MergeFrom("Bulk" + std::string(4, '\0') + "Suffix" + ParameterBlock("z=26"));
  EXPECT_EQ("&z=26", Stored(kFamily));
}

}  // namespace
