// The gateway's answer on any text: the fields are the first three runs
// between commas, and a download area is taken only from a URL whose parts
// cannot break the request line that names it.
#include <ctype.h>

#include "site/gateway_text.h"
#include "fuzz_input.h"

namespace {

std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> fields;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(',', at);
    if (end == std::string::npos) end = text.size();
    if (end > at) fields.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return fields;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

bool IsHttpScheme(std::string scheme) {
  for (char& c : scheme) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return scheme == "http" || scheme == "https";
}

void CheckSplit(const std::string& url) {
  AreaUrl area;
  area.host.Assign("untouched");
  area.path.Assign("untouched");
  bool ok = SplitUrl(url.c_str(), &area);
  size_t mark = url.find("://");
  bool expected = mark != std::string::npos && IsHttpScheme(url.substr(0, mark));
  std::string rest = expected ? url.substr(mark + 3) : "";
  size_t slash = rest.find('/');
  std::string want_host = rest.substr(0, slash);
  std::string want_path = slash == std::string::npos ? "" : rest.substr(slash + 1);
  unsigned long want_port = 0;
  size_t colon = want_host.rfind(':');
  if (colon != std::string::npos) {
    std::string digits = want_host.substr(colon + 1);
    want_host.resize(colon);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
      expected = false;
    } else {
      want_port = strtoul(digits.c_str(), nullptr, 10);
      if (want_port == 0 || want_port > 65535) expected = false;
    }
  }
  if (want_host.empty()) expected = false;
  for (unsigned char c : want_host) {
    if (c == ' ' || IsControl(c)) expected = false;
  }
  for (unsigned char c : want_path) {
    if (IsControl(c)) expected = false;
  }
  FUZZ_CHECK(ok == expected);
  if (ok) {
    FUZZ_CHECK(area.host.Text() == want_host && area.path.Text() == want_path && area.port == want_port);
  } else {
    FUZZ_CHECK(strcmp(area.host.Text(), "untouched") == 0 && strcmp(area.path.Text(), "untouched") == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  std::string text = in.Text();
  GatewayAnswer answer(text.c_str());
  std::vector<std::string> fields = Fields(text);
  const ByteString* got[] = {&answer.url, &answer.second, &answer.third};
  for (size_t i = 0; i < 3; ++i) {
    FUZZ_CHECK(got[i]->IsPresent() == (i < fields.size()));
    if (i < fields.size()) FUZZ_CHECK(got[i]->Text() == fields[i]);
  }
  CheckSplit(answer.url.Text());
  CheckSplit(text);
  return 0;
}
