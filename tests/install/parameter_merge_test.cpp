#include <gtest/gtest.h>

#include <string>

#include "install/launch_parameters.h"
#include "install/parameter_merge.h"

namespace {

std::string Merge(const std::string& trailer, const std::string& stored, size_t cap = kMergedParametersSize) {
  std::string out(cap, '#');
  MergeParameterTexts(trailer.c_str(), stored.c_str(), &out[0], cap);
  return out.c_str();
}

std::string Block(const std::string& area259, const char* marker = "Cookies") {
  // area259: bytes for positions 0..258 when given whole, else placed to end at 258
  std::string block(260, '\0');
  block.replace(259 - area259.size(), area259.size(), area259);
  return block + marker;
}

std::string Text(const std::string& block) {
  char out[kTrailerTextSize];
  if (!TrailerParameterText(reinterpret_cast<const unsigned char*>(block.data()), out, sizeof out)) return "<none>";
  return out;
}

TEST(ParameterKey, ComparesUpToFirstEqualsWithCase) {
  EXPECT_TRUE(SameParameterKey("k=1", "k=2"));
  EXPECT_TRUE(SameParameterKey("k=", "k=x=y"));
  EXPECT_FALSE(SameParameterKey("K=1", "k=2"));
  EXPECT_FALSE(SameParameterKey("k", "k=1"));
  EXPECT_FALSE(SameParameterKey("k=1", "k"));
  EXPECT_TRUE(SameParameterKey("flag", "flag"));
  EXPECT_FALSE(SameParameterKey("flag", "flags"));
  EXPECT_FALSE(SameParameterKey("ab=1", "a=1"));
  EXPECT_TRUE(SameParameterKeyN("a=1&b", 3, "a=9", 3));
  EXPECT_FALSE(SameParameterKeyN("ab", 1, "ab", 2));
}

TEST(ParameterMerge, ExamplesAndOrder) {
  EXPECT_EQ("&a=1&b=2&c=3", Merge("a=1&b=2", "&b=9&c=3"));
  EXPECT_EQ("&a=1", Merge("&&a=1&", ""));
  EXPECT_EQ("&K=1&k=2", Merge("K=1", "&k=2"));
  // first of several equal keys wins, in the trailer and in the stored text
  EXPECT_EQ("&a=1&b=5", Merge("a=1&a=2", "&b=5&b=6&a=7"));
  // family value (first in the stored text) wins over the product value
  EXPECT_EQ("&x=1", Merge("", "&x=1&x=2"));
  // empty trailer: stored entries merged among themselves
  EXPECT_EQ("&p&q=1", Merge("", "p&&q=1&p"));
  EXPECT_EQ("", Merge("", ""));
  EXPECT_EQ("", Merge("&&&", "&"));
  // entries without "=" are replaced only by exactly the same text
  EXPECT_EQ("&flag=1&flag", Merge("flag=1", "&flag"));
  EXPECT_EQ("&flag&x", Merge("flag", "&flag&x"));
}

TEST(ParameterMerge, LimitsDropWholeEntries) {
  // 350 distinct two-letter keys: the 300 first are kept (900 characters)
  std::string many, expected;
  for (int i = 0; i < 350; ++i) {
    std::string key = {static_cast<char>('a' + i / 26), static_cast<char>('a' + i % 26)};
    many += "&" + key;
    if (i < 300) expected += "&" + key;
  }
  EXPECT_EQ(expected, Merge("", many));
  // duplicates do not count against the entry limit
  std::string dup;
  for (int i = 0; i < 400; ++i) dup += "&a";
  EXPECT_EQ("&b&a", Merge("b", dup + "&b"));

  // 999 characters fit, one more does not; the entry that does not fit and
  // all after it are dropped, never cut
  std::string big(498, 'x');
  std::string two = "a" + big + "&b" + big;  // 1 + 499 + 1 + 499 = 1000 with both
  EXPECT_EQ("&a" + big, Merge(two, "&c"));
  std::string fits = "a" + big + "&b" + std::string(497, 'x');  // exactly 999
  EXPECT_EQ(999u, Merge(fits, "").size());
  EXPECT_EQ("&ab", Merge("ab&cd", "", 4));
  EXPECT_EQ("", Merge("abc", "", 4));
  EXPECT_EQ("", Merge("a", "", 1));
}

TEST(ParameterBlock, TextEndsAt258AndNeverIncludesPosition0) {
  EXPECT_EQ("a=1&b=2", Text(Block("a=1&b=2")));
  EXPECT_EQ("<none>", Text(Block("a=1", "cookies")));
  EXPECT_EQ("<none>", Text(Block("a=1", "Cookie ")));
  // both 258 and 259 zero: empty
  EXPECT_EQ("", Text(Block("")));
  // text after an earlier zero: only the last run counts
  EXPECT_EQ("c=3", Text(Block(std::string("a=1") + '\0' + "c=3")));
  // a text over positions 0..258 loses position 0
  std::string full(259, 'y');
  full[0] = 'Q';
  EXPECT_EQ(std::string(258, 'y'), Text(Block(full)));
}

TEST(ParameterBlock, NonZeroAt259StaysInsideTheBlock) {
  std::string block = Block("a=1");  // a=1 at 256..258, zero at 259
  block[259] = 'Z';
  EXPECT_EQ("a=1", Text(block));
  // 258 zero and 259 not: the text would have to begin at 259; it is empty
  std::string other = Block(std::string("a=1") + '\0');
  other[259] = 'Z';
  EXPECT_EQ("", Text(other));
  // every byte non-zero
  std::string dense = std::string(260, 'w') + "Cookies";
  EXPECT_EQ(std::string(258, 'w'), Text(dense));
}

}  // namespace
