// The language files: every language has every text with English's
// placeholders; and how a packed text is found and filled in.
#include "base/ui_text.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "install/product.h"

namespace {

typedef std::map<std::string, std::set<std::string>> Placeholders;  // key: placeholders of its text

// key = "text" lines, as the packer reads them; a malformed line fails here.
Placeholders ReadLanguage(const std::string& path) {
  static const std::regex kLine("^([a-z_]+) = \"((?:[^\"\\\\]|\\\\.)*)\"$");
  static const std::regex kMark("\\{([a-z0-9]+)\\}");
  Placeholders found;
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.find_first_not_of(" ") == std::string::npos || line[line.find_first_not_of(" ")] == '#') continue;
    std::smatch m;
    if (!std::regex_match(line, m, kLine)) {
      ADD_FAILURE() << path << ":" << number << ": not key = \"text\"";
      continue;
    }
    EXPECT_EQ(0u, found.count(m[1])) << path << ": " << m[1] << " given twice";
    std::set<std::string>& marks = found[m[1]];
    std::string text = m[2];
    for (std::sregex_iterator i(text.begin(), text.end(), kMark), end; i != end; ++i) marks.insert((*i)[1]);
  }
  return found;
}

TEST(LanguageFiles, EveryLanguageHasEveryTextWithEnglishPlaceholders) {
  Placeholders english = ReadLanguage(SETUP_TEXTS_DIR "/en.txt");
  // The program's keys are made from en.txt.
  EXPECT_EQ(static_cast<size_t>(kUiTextCount), english.size());
  const std::set<std::string> known = {"product", "family", "maker", "1", "2", "3"};
  for (const auto& text : english) {
    for (const auto& mark : text.second) EXPECT_EQ(1u, known.count(mark)) << "en: {" << mark << "}";
  }
  std::set<std::string> languages;
  DIR* folder = opendir(SETUP_TEXTS_DIR);
  ASSERT_NE(nullptr, folder);
  while (dirent* entry = readdir(folder)) {
    std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0) languages.insert(name.substr(0, name.size() - 4));
  }
  closedir(folder);
  const std::set<std::string> carried = {"en", "de", "fr", "es", "it", "pt", "nl", "pl", "ru", "tr", "ja", "zh", "ar"};
  EXPECT_EQ(carried, languages);
  for (const std::string& language : languages) {
    Placeholders texts = ReadLanguage(SETUP_TEXTS_DIR "/" + language + ".txt");
    for (const auto& text : english) {
      auto found = texts.find(text.first);
      if (found == texts.end()) {
        ADD_FAILURE() << language << " lacks " << text.first;
      } else {
        EXPECT_EQ(text.second, found->second) << language << ": placeholders of " << text.first;
      }
    }
    for (const auto& text : texts) EXPECT_EQ(1u, english.count(text.first)) << language << ": unknown " << text.first;
  }
}

#define WIDE_(text) L##text
#define WIDE(text) WIDE_(text)

TEST(UiText, PackedTextsAreFoundAndFilledIn) {
  const wchar_t pack[] = L"one\0\x01 by \x03\0\x11 of \x12\0";
  const size_t length = sizeof pack / sizeof pack[0] - 1;  // the literal's own zero is not the pack's
  EXPECT_STREQ(L"one", PackText(pack, length, 0));
  EXPECT_STREQ(L"\x11 of \x12", PackText(pack, length, 2));
  EXPECT_EQ(nullptr, PackText(pack, length, 3));
  // A last text without its zero is not handed out.
  EXPECT_EQ(nullptr, PackText(pack, length - 1, 2));

  const wchar_t* values[] = {L"37", nullptr, L"C:\\Pellomar"};
  const struct {
    const wchar_t* pattern;
    int count;
    const wchar_t* filled;
  } cases[] = {
      {L"\x01 Setup", 0, WIDE(SETUP_PRODUCT_NAME) L" Setup"},
      {L"\x02/\x03 \x01", 0, WIDE(SETUP_FAMILY_NAME) L"/" WIDE(SETUP_MAKER_NAME) L" " WIDE(SETUP_PRODUCT_NAME)},
      // A value twice, a null value and one not given read as written / empty.
      {L"\x11% \x11 [\x12] \x13", 3, L"37% 37 [] C:\\Pellomar"},
      {L"\x13!", 2, L"!"},
      {L"", 3, L""},
  };
  for (const auto& c : cases) {
    wchar_t out[64];
    EXPECT_TRUE(FillUiText(out, 64, c.pattern, values, c.count));
    EXPECT_STREQ(c.filled, out);
  }
  // A text that does not fit is refused whole; exactly fitting is kept.
  wchar_t small[6] = L"xxxxx";
  EXPECT_FALSE(FillUiText(small, 6, L"\x13", values, 3));
  EXPECT_STREQ(L"", small);
  EXPECT_TRUE(FillUiText(small, 6, L"ab\x11!", values, 1));
  EXPECT_STREQ(L"ab37!", small);
  EXPECT_FALSE(FillUiText(small, 0, L"", values, 0));
}

}  // namespace
