#include "tools/maker/download_rules.h"

namespace {

const size_t kMaxParameterText = 258;  // what the parameter block holds

}  // namespace

// Letters, digits, "-", "_" and ".": safe in a request line, a header and
// the parameter text Setup.exe passes on.
bool PlainText(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letter && c != '-' && c != '_' && c != '.') return false;
  }
  return true;
}

// Empty when query is a parameter text the download takes; else why not.
std::string JudgeQuery(const std::string& query, const std::vector<std::string>& keys) {
  if (query.empty())
    return "no parameters: give e.g. ?" + (keys.empty() ? std::string("key") : keys[0]) + "=name";
  if (query.size() > kMaxParameterText)
    return "the parameters take " + std::to_string(query.size()) + " characters; at most " +
           std::to_string(kMaxParameterText);
  std::vector<std::string> seen;
  for (size_t at = 0; at <= query.size();) {
    size_t end = query.find('&', at);
    if (end == std::string::npos) end = query.size();
    std::string entry = query.substr(at, end - at);
    at = end + 1;
    if (entry.empty()) return "an empty entry";
    size_t equals = entry.find('=');
    if (equals == std::string::npos) return "an entry without a value";
    std::string key = entry.substr(0, equals);
    bool known = false;
    for (const std::string& k : keys) known = known || k == key;
    if (!known) return "unknown key";
    for (const std::string& k : seen) {
      if (k == key) return "a key given twice";
    }
    seen.push_back(key);
    if (!PlainText(entry.substr(equals + 1))) return "values take letters, digits, -, _ and . only";
  }
  return std::string();
}

// If-None-Match: "*" or a list of tags; a weak tag compares by its value.
bool NoneMatchHolds(const char* header, const std::string& tag) {
  std::string list = header;
  for (size_t at = 0; at < list.size();) {
    size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    size_t first = list.find_first_not_of(" \t", at);
    size_t last = list.find_last_not_of(" \t", end - 1);
    if (first != std::string::npos && first < end && last >= first) {
      std::string item = list.substr(first, last - first + 1);
      if (item.compare(0, 2, "W/") == 0) item.erase(0, 2);
      if (item == "*" || item == tag) return true;
    }
    at = end + 1;
  }
  return false;
}

