// The status line's progress text and how often it may change.
#include "install/progress_text.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <wchar.h>

#include <string>

namespace {

// The English texts, with their values marked as the packs mark them.
const wchar_t kKnown[] = L"Downloading Update ... \x11% (\x12 of \x13)";
const wchar_t kUnknown[] = L"Downloading Update ... \x11";

std::string Narrow(const wchar_t* text) { return std::string(text, text + wcslen(text)); }

std::string Text(uint64_t done, uint64_t total) {
  wchar_t out[kProgressTextCap];
  EXPECT_TRUE(FormatProgressText(out, kProgressTextCap, done, total, kKnown, kUnknown)) << done << " of " << total;
  return Narrow(out);
}

TEST(ProgressText, KnownAndUnknownSizes) {
  const uint64_t gb = 1024ULL * 1024 * 1024;
  const struct {
    uint64_t done, total;
    const char* text;
  } cases[] = {
      // No size known: the bytes so far, in the drive dialog's units.
      {0, 0, "Downloading Update ... 0bytes"},
      {1536, 0, "Downloading Update ... 1.50kb"},
      {3 * 1024 * 1024 + 512 * 1024, 0, "Downloading Update ... 3.50Mb"},
      // Known: whole percent rounded down, then both counts.
      {0, 1000, "Downloading Update ... 0% (0bytes of 1000bytes)"},
      {999, 1000, "Downloading Update ... 99% (999bytes of 1000bytes)"},
      {1000, 1000, "Downloading Update ... 100% (1000bytes of 1000bytes)"},
      {734003, 1992294, "Downloading Update ... 36% (716.79kb of 1.89Mb)"},
      // A server that sends more than it announced never shows above 100%.
      {1005, 1000, "Downloading Update ... 100% (1005bytes of 1000bytes)"},
      // Sizes past 32 bits keep their percent exact enough.
      {5 * gb / 2, 5 * gb, "Downloading Update ... 50% (2.50Gb of 5.00Gb)"},
      {1024 * gb - 1, 1024 * gb, "Downloading Update ... 99% (1023.99Gb of 1024.00Gb)"},
      // Counts beyond the signed range read as the largest, never negative.
      {1ULL << 63, UINT64_MAX, "Downloading Update ... 50% (8388607.99Tb of 8388607.99Tb)"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, Text(c.done, c.total)) << c.done << " of " << c.total;

  // The longest text fits the cap; a buffer too small is refused, never cut.
  wchar_t small[30];
  EXPECT_FALSE(FormatProgressText(small, 30, 999, 1000, kKnown, kUnknown));
  EXPECT_STREQ(L"", small);

  // Another language's words around the same numbers (a value left out or
  // named twice: UiText.PackedTextsAreFoundAndFilledIn).
  wchar_t other[kProgressTextCap];
  ASSERT_TRUE(FormatProgressText(other, kProgressTextCap, 999, 1000, L"Update indiriliyor... %\x11 (\x12 / \x13)",
                                 kUnknown));
  EXPECT_STREQ(L"Update indiriliyor... %99 (999bytes / 1000bytes)", other);
}

TEST(ProgressText, ChangesAtMostEveryIntervalAndOnlyWhenTheTextDoes) {
  ProgressText progress(kKnown, kUnknown);
  EXPECT_FALSE(progress.Shown());
  ASSERT_TRUE(progress.Update(100, 1000, 5000));
  EXPECT_EQ("Downloading Update ... 10% (100bytes of 1000bytes)", Narrow(progress.Text()));
  EXPECT_TRUE(progress.Shown());
  // Too soon, whatever changed.
  EXPECT_FALSE(progress.Update(500, 1000, 5000 + ProgressText::kProgressIntervalMs - 1));
  EXPECT_EQ("Downloading Update ... 10% (100bytes of 1000bytes)", Narrow(progress.Text()));
  // Time enough, but the same text.
  EXPECT_FALSE(progress.Update(100, 1000, 9000));
  ASSERT_TRUE(progress.Update(500, 1000, 9000));
  EXPECT_EQ("Downloading Update ... 50% (500bytes of 1000bytes)", Narrow(progress.Text()));

  // The tick count wraps after 49 days.
  ProgressText wrapping(kKnown, kUnknown);
  ASSERT_TRUE(wrapping.Update(1, 0, 0xFFFFFFF0u));
  EXPECT_FALSE(wrapping.Update(2, 0, 0x00000010u));  // 32 ms later
  EXPECT_TRUE(wrapping.Update(2, 0, 0x00000070u));   // 128 ms later
}

}  // namespace
