// The parameter block's text and its merge with the stored parameters. The
// merged text fits its buffer, holds whole entries only, each key once, the
// first text winning; a merge of a merge is unchanged.
#include "install/launch_parameters.h"
#include "install/parameter_merge.h"
#include "package/appended_blocks.h"
#include "fuzz_input.h"

namespace {

std::vector<std::string> Entries(const std::string& text) {
  std::vector<std::string> entries;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) entries.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

// The key: up to and including the first "=", or the whole entry.
std::string Key(const std::string& entry) {
  size_t eq = entry.find('=');
  return eq == std::string::npos ? entry : entry.substr(0, eq + 1);
}

std::string Merge(const std::string& first, const std::string& second, size_t cap) {
  FuzzBuffer out(cap);
  MergeParameterTexts(first.c_str(), second.c_str(), out.get(), cap);
  FUZZ_CHECK(out.Terminated());
  return out.Text();
}

void CheckMerge(const std::string& first, const std::string& second, size_t cap) {
  std::string merged = Merge(first, second, cap);
  FUZZ_CHECK(merged.size() < cap);
  FUZZ_CHECK(merged.empty() || (merged[0] == '&' && merged.back() != '&' && merged.find("&&") == std::string::npos));

  std::vector<std::string> offered = Entries(first);
  std::vector<std::string> more = Entries(second);
  offered.insert(offered.end(), more.begin(), more.end());
  std::vector<std::string> kept = Entries(merged);
  FUZZ_CHECK(kept.size() <= kMaxKeptParameters);
  // Kept entries are the first offered entry of each key, in offered order.
  size_t next = 0;
  for (size_t i = 0; i < kept.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      FUZZ_CHECK(Key(kept[j]) != Key(kept[i]));
      FUZZ_CHECK(!SameParameterKey(kept[j].c_str(), kept[i].c_str()));
    }
    size_t first_of_key = 0;
    while (Key(offered[first_of_key]) != Key(kept[i])) ++first_of_key;
    FUZZ_CHECK(offered[first_of_key] == kept[i] && first_of_key >= next);
    next = first_of_key + 1;
  }
  // When everything fits, no key is lost.
  size_t distinct = 0;
  for (size_t i = 0; i < offered.size(); ++i) {
    size_t j = 0;
    while (Key(offered[j]) != Key(offered[i])) ++j;
    if (j == i) ++distinct;
  }
  if (first.size() + second.size() + 2 < cap && distinct <= kMaxKeptParameters) FUZZ_CHECK(kept.size() == distinct);

  FUZZ_CHECK(Merge(merged, "", cap) == merged);
  FUZZ_CHECK(Merge(merged, merged, cap) == merged);
  FUZZ_CHECK(Merge(merged, first, cap) == merged);
}

void CheckTrailer(const unsigned char* block) {
  FuzzBuffer out(kTrailerTextSize);
  bool read = TrailerParameterText(block, out.get(), kTrailerTextSize);
  FUZZ_CHECK(read == (memcmp(block + 260, "Cookies", 7) == 0));
  FUZZ_CHECK(out.Terminated());
  if (!read) {
    FUZZ_CHECK(out.get()[0] == 0);
    return;
  }
  // The run of non-zero bytes that ends at 258, never reaching position 0.
  std::string text = out.Text();
  FUZZ_CHECK(text.size() <= 258);
  size_t begin = 259 - text.size();
  FUZZ_CHECK(memcmp(block + begin, text.data(), text.size()) == 0);
  FUZZ_CHECK(begin == 1 || block[begin - 1] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  unsigned mode = in.Byte();
  size_t cap = mode & 1 ? kMergedParametersSize : 1 + in.Byte() * 4u;
  std::string first;
  if (mode & 2) {
    // The parameter block as the executable carries it, then the stored text.
    unsigned char block[kParameterBlockSize] = {};
    size_t got;
    const unsigned char* bytes = in.Bytes(sizeof block, &got);
    memcpy(block, bytes, got);
    if (mode & 4) memcpy(block + 260, "Cookies", 7);
    CheckTrailer(block);
    char text[kTrailerTextSize];
    if (TrailerParameterText(block, text, sizeof text)) first = text;
  } else {
    first = in.Text();
  }
  std::string second = in.Text();
  CheckMerge(first, second, cap);
  FUZZ_CHECK(SameParameterKey(first.c_str(), second.c_str()) == SameParameterKey(second.c_str(), first.c_str()));
  FUZZ_CHECK(SameParameterKey(first.c_str(), second.c_str()) == (Key(first) == Key(second)));
  return 0;
}
