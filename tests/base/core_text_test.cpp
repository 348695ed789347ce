#include <gtest/gtest.h>

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "base/byte_string.h"
#include "base/log_lines.h"
#include "base/text.h"

TEST(ByteString, AbsentDiffersFromPresentEmpty) {
  ByteString absent;
  EXPECT_FALSE(absent.IsPresent());
  EXPECT_STREQ("", absent.Text());
  ByteString empty;
  empty.Assign(nullptr);
  EXPECT_TRUE(empty.IsPresent());
  EXPECT_EQ(0u, empty.Length());
  ByteString copy(absent);
  EXPECT_FALSE(copy.IsPresent());
  copy = empty;
  EXPECT_TRUE(copy.IsPresent());
  copy.Release();
  EXPECT_FALSE(copy.IsPresent());
}

TEST(ByteString, CopiesJoinsAndKeepsEmbeddedLength) {
  ByteString a("abc");
  ByteString b(a);
  a.Assign("x");
  EXPECT_STREQ("abc", b.Text());
  EXPECT_EQ(3u, b.Length());
  b.AssignJoined(b.Text(), "def");  // joining with its own text is safe
  EXPECT_STREQ("abcdef", b.Text());
  EXPECT_EQ(6u, b.Length());
  ByteString bytes;
  bytes.Assign("a\0b", 3);
  EXPECT_EQ(3u, bytes.Length());
  EXPECT_EQ(0, memcmp("a\0b", bytes.Text(), 4));
}

TEST(Text, CopyAndAppendRefuseInsteadOfCutting) {
  char buffer[6];
  EXPECT_TRUE(CopyText(buffer, sizeof buffer, "abcde"));
  EXPECT_STREQ("abcde", buffer);
  EXPECT_FALSE(CopyText(buffer, sizeof buffer, "abcdef"));
  EXPECT_STREQ("", buffer);
  EXPECT_TRUE(CopyText(buffer, sizeof buffer, "ab"));
  EXPECT_TRUE(AppendText(buffer, sizeof buffer, "cde"));
  EXPECT_FALSE(AppendText(buffer, sizeof buffer, "f"));
  EXPECT_STREQ("abcde", buffer);
  EXPECT_TRUE(CopyText(buffer, sizeof buffer, nullptr));
  EXPECT_STREQ("", buffer);
  // No terminator inside the buffer: neither append touches it.
  memcpy(buffer, "uvwxyz", sizeof buffer);
  EXPECT_FALSE(AppendText(buffer, sizeof buffer, ""));
  EXPECT_FALSE(AppendFormat(buffer, sizeof buffer, "%d", 1));
  EXPECT_EQ(0, memcmp(buffer, "uvwxyz", sizeof buffer));
}

TEST(Text, FormatSubsetAndBounds) {
  char buffer[64];
  EXPECT_EQ(29, FormatText(buffer, sizeof buffer, "%s|%d|%u|%x|%c|%%|%s", "ab", -42, 4000000000u, 0x53af76u, 'z',
                           static_cast<const char*>(nullptr)));
  EXPECT_STREQ("ab|-42|4000000000|53af76|z|%|", buffer);
  EXPECT_EQ(1, FormatText(buffer, sizeof buffer, "%x", 0u));
  EXPECT_STREQ("0", buffer);
  // An unknown conversion prints as it stands, a lone % at the end not at all.
  EXPECT_EQ(5, FormatText(buffer, sizeof buffer, "a%qb%%%"));
  EXPECT_STREQ("a%qb%", buffer);
  FormatText(buffer, sizeof buffer, "%d", static_cast<int>(0x80000000u));
  EXPECT_STREQ("-2147483648", buffer);
  // The long forms keep the platform's full width, whatever it is.
  char expected[64];
  snprintf(expected, sizeof expected, "%ld|%lu|%lx", LONG_MIN, ULONG_MAX, ULONG_MAX);
  FormatText(buffer, sizeof buffer, "%ld|%lu|%lx", LONG_MIN, ULONG_MAX, ULONG_MAX);
  EXPECT_STREQ(expected, buffer);
  char small[4];
  EXPECT_EQ(3, FormatText(small, sizeof small, "%s", "abc"));
  EXPECT_EQ(-1, FormatText(small, sizeof small, "%s", "abcd"));
  EXPECT_STREQ("", small);
  EXPECT_TRUE(CopyText(small, sizeof small, "a"));
  EXPECT_TRUE(AppendFormat(small, sizeof small, "%d", 12));
  EXPECT_FALSE(AppendFormat(small, sizeof small, "%d", 3));
  EXPECT_STREQ("a12", small);
}

static void Collect(void* context, const char* data, size_t length) {
  static_cast<std::string*>(context)->append("[").append(data, length).append("]");
}

TEST(LogLines, LineRulesByteForByte) {
  std::string out;
  LogWriteLines("a\r\nb\n", Collect, &out);
  EXPECT_EQ("[a\r\n][b\r\n]", out);
  out.clear();
  LogWriteLines("a\nb\n", Collect, &out);
  EXPECT_EQ("[a\r\n][b\r\n]", out);
  out.clear();
  LogWriteLines("x", Collect, &out);
  EXPECT_EQ("[x]", out);
  out.clear();
  LogWriteLines("\n", Collect, &out);
  EXPECT_EQ("[\r\n]", out);
  out.clear();
  LogWriteLines("\r", Collect, &out);
  EXPECT_EQ("", out);
  LogWriteLines("", Collect, &out);
  EXPECT_EQ("", out);
  LogWriteLines("tail\nend", Collect, &out);
  EXPECT_EQ("[tail\r\n][end]", out);
}

TEST(LogLines, CodesValueNeverWritten) {
  struct Case {
    const char* text;
    const char* lines;
  } cases[] = {
      {"CreateProcess \"U.exe\" /Setup=P /Codes=,,proxy user,s3cret /Bulk=\"C:\\S.exe\" failed\n",
       "[CreateProcess \"U.exe\" /Setup=P /Codes=***\r\n]"},
      {"/Codes=a\r\nnext /Codes=\n", "[/Codes=***\r\n][next /Codes=***\r\n]"},
      {"x /Codes=secret", "[x /Codes=***]"},
      {"/Codes", "[/Codes]"},
  };
  for (const Case& c : cases) {
    std::string out;
    LogWriteLines(c.text, Collect, &out);
    EXPECT_EQ(c.lines, out) << c.text;
  }
  // Across the line buffer's edge the mark and the mask still hold.
  std::string long_line(kLogLineBufferSize - 6, 'a');
  long_line += "/Codes=secret\n";
  std::string out;
  LogWriteLines(long_line.c_str(), Collect, &out);
  EXPECT_EQ(std::string::npos, out.find("secret"));
  EXPECT_NE(std::string::npos, out.find("***"));
}

TEST(LogLines, OverLongLineGoesOutInPiecesWithinTheBuffer) {
  std::string text(5000, 'q');
  text += "\n";
  std::string out;
  LogWriteLines(text.c_str(), Collect, &out);
  size_t q = 0;
  for (char c : out) q += c == 'q';
  EXPECT_EQ(5000u, q);
  EXPECT_EQ("\r\n]", out.substr(out.size() - 3));
}
