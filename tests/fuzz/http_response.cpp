// The HTTP response head on any bytes: a complete head ends at the first
// blank line within the limit and reads the same without what follows it; a
// refused head stays refused whatever arrives next; nothing is filled in for
// a head that is not complete; Content-Length agrees with a reading of the
// head's lines done another way.
#include "transport/http_response.h"
#include "fuzz_input.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

// Digits between optional blanks, within 64 bits.
bool ReferenceLength(std::string text, unsigned long long* value) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return false;
  text = text.substr(begin, text.find_last_not_of(" \t") + 1 - begin);
  unsigned __int128 number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<unsigned>(c - '0');
    if (number > ~0ull) return false;
  }
  *value = static_cast<unsigned long long>(number);
  return true;
}

HttpHeadResult Parse(const std::string& bytes, HttpResponseHead* head) {
  // An exact copy: a read past the given size is caught.
  std::unique_ptr<char[]> copy(new char[bytes.size() ? bytes.size() : 1]);
  memcpy(copy.get(), bytes.data(), bytes.size());
  const HttpResponseHead untouched = {-7, true, 77, true, 777};
  *head = untouched;
  HttpHeadResult result = ParseHttpResponseHead(copy.get(), bytes.size(), head);
  if (result != kHttpHeadComplete) {
    FUZZ_CHECK(head->status == -7 && head->has_length && head->content_length == 77 && head->proxy_challenge &&
               head->header_size == 777);
  }
  return result;
}

void CheckComplete(const std::string& data, const HttpResponseHead& head) {
  size_t end = data.find("\r\n\r\n");
  FUZZ_CHECK(end != std::string::npos && head.header_size == end + 4 && head.header_size <= kHttpHeadLimit);
  std::string text = data.substr(0, head.header_size);
  FUZZ_CHECK(text.compare(0, 5, "HTTP/") == 0);
  FUZZ_CHECK(head.status >= 100 && head.status <= 999 && head.status == atoi(text.substr(9, 3).c_str()));
  for (unsigned char c : text) FUZZ_CHECK((c >= 0x20 && c != 0x7f) || c == '\t' || c == '\r' || c == '\n');

  // Header lines read another way.
  bool has_length = false, challenge = false;
  unsigned long long length = 0;
  size_t at = text.find("\r\n") + 2;
  while (at < end + 2) {
    size_t next = text.find("\r\n", at);
    std::string line = Lower(text.substr(at, next - at));
    if (line.compare(0, 15, "content-length:") == 0) {
      unsigned long long value = 0;
      FUZZ_CHECK(ReferenceLength(line.substr(15), &value));
      FUZZ_CHECK(!has_length || value == length);
      has_length = true;
      length = value;
    }
    if (line.compare(0, 19, "proxy-authenticate:") == 0) challenge = true;
    at = next + 2;
  }
  FUZZ_CHECK(head.has_length == has_length && (!has_length || head.content_length == length));
  FUZZ_CHECK(head.proxy_challenge == (head.status == 407 && challenge));

  // What follows the head does not change it; one byte less is not a head yet.
  HttpResponseHead alone;
  FUZZ_CHECK(Parse(text, &alone) == kHttpHeadComplete);
  FUZZ_CHECK(alone.status == head.status && alone.has_length == head.has_length &&
             alone.content_length == head.content_length && alone.proxy_challenge == head.proxy_challenge &&
             alone.header_size == head.header_size);
  FUZZ_CHECK(Parse(text.substr(0, text.size() - 1), &alone) == kHttpHeadIncomplete);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  unsigned flags = in.Byte();
  size_t split = in.Byte() | static_cast<size_t>(in.Byte()) << 8;
  size_t got;
  const unsigned char* raw = in.Bytes(in.Left(), &got);
  std::string bytes(reinterpret_cast<const char*>(raw), got);
  // Padding lines carry a head past the limit without a fuzzer input that long.
  if (flags & 1) {
    size_t line = bytes.find("\r\n");
    std::string pad;
    while (pad.size() < kHttpHeadLimit - 64 + (flags >> 1)) pad += "X-Pad: " + std::string(57, 'p') + "\r\n";
    bytes.insert(line == std::string::npos ? bytes.size() : line + 2, pad);
  }

  unsigned long long value = 12345, reference = 0;
  bool read = ParseContentLength(bytes.data(), bytes.size() < 40 ? bytes.size() : 40, &value);
  FUZZ_CHECK(read == ReferenceLength(bytes.substr(0, 40), &reference));
  FUZZ_CHECK(read ? value == reference : value == 12345);

  HttpResponseHead head;
  HttpHeadResult result = Parse(bytes, &head);
  if (result == kHttpHeadComplete) CheckComplete(bytes, head);
  if (result == kHttpHeadIncomplete) {
    FUZZ_CHECK(bytes.size() < kHttpHeadLimit && bytes.find("\r\n\r\n") == std::string::npos);
    // Each part the head arrives in reads as not ended yet.
    FUZZ_CHECK(Parse(bytes.substr(0, split % (bytes.size() + 1)), &head) == kHttpHeadIncomplete);
  }
  if (result == kHttpHeadInvalid) {
    // Nothing that arrives later makes it a head.
    FUZZ_CHECK(Parse(bytes + "\r\n\r\n", &head) == kHttpHeadInvalid);
    FUZZ_CHECK(Parse(bytes + "\n\r\n", &head) == kHttpHeadInvalid);
  }
  return 0;
}
