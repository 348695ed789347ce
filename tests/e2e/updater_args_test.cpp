// The demo updater's reading of the command line the setup program builds.
#include "tools/demo_updater/updater_args.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(UpdaterArguments, ReadsEveryShapeTheSetupBuilds) {
  UpdaterArguments a;
  ASSERT_TRUE(ParseUpdaterArguments("\"C:\\Program Files\\Pellomar\\Update.exe\" /Setup=Tamsu", &a));
  EXPECT_STREQ(a.program, "C:\\Program Files\\Pellomar\\Update.exe");
  EXPECT_STREQ(a.setup, "Tamsu");
  EXPECT_TRUE(a.has_setup);
  EXPECT_FALSE(a.has_codes);
  EXPECT_FALSE(a.has_bulk);
  EXPECT_STREQ(a.unknown, "");

  ASSERT_TRUE(ParseUpdaterArguments(
      "\"C:\\P\\Update.exe\" /Setup=Tamsu /Codes=,,proxy user,secret /Bulk=\"C:\\Downloads\\Setup.exe\"", &a));
  EXPECT_STREQ(a.setup, "Tamsu");
  EXPECT_TRUE(a.has_codes);
  EXPECT_STREQ(a.codes, ",,proxy user,secret");
  EXPECT_TRUE(a.has_bulk);
  EXPECT_STREQ(a.bulk, "C:\\Downloads\\Setup.exe");

  // Bulk without Codes, and a product name with a space.
  ASSERT_TRUE(ParseUpdaterArguments("\"U.exe\" /Setup=My Product /Bulk=\"D:\\a b\\Setup.exe\"", &a));
  EXPECT_STREQ(a.setup, "My Product");
  EXPECT_FALSE(a.has_codes);
  EXPECT_STREQ(a.bulk, "D:\\a b\\Setup.exe");
}

TEST(UpdaterArguments, ReportsWhatDoesNotBelong) {
  UpdaterArguments a;
  // No /Setup= right after the program.
  EXPECT_FALSE(ParseUpdaterArguments("\"U.exe\" /Codes=a,b,c,d", &a));
  EXPECT_FALSE(ParseUpdaterArguments("\"U.exe /Setup=Tamsu", &a));  // unclosed quote
  // Options out of order: Codes after Bulk is left over, not read as codes.
  ASSERT_TRUE(ParseUpdaterArguments("\"U.exe\" /Setup=T /Bulk=\"x\" /Codes=1,2,3,4", &a));
  EXPECT_FALSE(a.has_codes);
  EXPECT_STREQ(a.bulk, "x");
  EXPECT_STREQ(a.unknown, " /Codes=1,2,3,4");
  // An unquoted program token.
  ASSERT_TRUE(ParseUpdaterArguments("Update.exe /Setup=T", &a));
  EXPECT_STREQ(a.program, "Update.exe");
  EXPECT_STREQ(a.setup, "T");
}

TEST(UpdaterArguments, RefusesValuesLongerThanAField) {
  UpdaterArguments a;
  std::string fits(UpdaterArguments::kFieldSize - 1, 'x');
  ASSERT_TRUE(ParseUpdaterArguments(("\"U.exe\" /Setup=" + fits).c_str(), &a));
  EXPECT_EQ(std::string(a.setup), fits);
  EXPECT_FALSE(a.too_long);

  std::string over(UpdaterArguments::kFieldSize, 'x');
  EXPECT_FALSE(ParseUpdaterArguments(("\"U.exe\" /Setup=" + over).c_str(), &a));
  EXPECT_TRUE(a.too_long);
  EXPECT_STREQ(a.setup, "");  // refused, not cut
  EXPECT_FALSE(ParseUpdaterArguments(("\"U.exe\" /Setup=T /Bulk=\"" + over + "\"").c_str(), &a));
  EXPECT_TRUE(a.too_long);
  EXPECT_STREQ(a.bulk, "");
}

}  // namespace
