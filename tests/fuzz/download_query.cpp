// The download service's judgement of a link's parameters and of
// If-None-Match, on any text: what it takes holds only listed keys, each
// once, with plain values, within the block's 258 characters (checked here
// by splitting the text another way), and a header naming the tag in any
// of its forms matches.
#include <ctype.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tools/maker/download_rules.h"
#include "fuzz_input.h"

namespace {

bool Plain(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.'; }

void CheckTaken(const std::string& query, const std::vector<std::string>& keys) {
  FUZZ_CHECK(!query.empty() && query.size() <= 258);
  std::istringstream entries(query + "&");
  std::string entry;
  std::vector<std::string> seen;
  size_t count = 0;
  while (std::getline(entries, entry, '&')) {
    ++count;
    std::string key = entry.substr(0, entry.find('='));
    FUZZ_CHECK(key.size() + 1 < entry.size());
    for (char c : entry.substr(key.size() + 1)) FUZZ_CHECK(Plain(c));
    FUZZ_CHECK(std::find(keys.begin(), keys.end(), key) != keys.end());
    FUZZ_CHECK(std::find(seen.begin(), seen.end(), key) == seen.end());
    seen.push_back(key);
  }
  FUZZ_CHECK(count == static_cast<size_t>(std::count(query.begin(), query.end(), '&')) + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  std::vector<std::string> keys;
  for (int n = in.Byte() % 4; n > 0; --n) keys.push_back(in.Text());
  std::string query = in.Text();
  if (JudgeQuery(query, keys).empty()) CheckTaken(query, keys);

  std::string tag = std::string("\"") + in.Text() + "\"";
  std::string header = in.Text();
  NoneMatchHolds(header.c_str(), tag);
  if (tag.find_first_of(", \t") == std::string::npos) {
    for (const std::string& form : {tag, "W/" + tag, header + ", " + tag, tag + " ,x", std::string("*")})
      FUZZ_CHECK(NoneMatchHolds(form.c_str(), tag));
  }
  return 0;
}
