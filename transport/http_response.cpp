#include "transport/http_response.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Case-insensitive comparison of a header name with a lower-case name.
bool NameIs(const char* name, size_t size, const char* lower) {
  for (size_t i = 0; i < size; ++i, ++lower) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!*lower || c != *lower) return false;
  }
  return *lower == 0;
}

// "HTTP/d.d ddd", then nothing or a space and any reason.
bool ParseStatusLine(const char* line, size_t size, int* status) {
  if (size < 12) return false;
  if (!IsDigit(line[5]) || line[6] != '.' || !IsDigit(line[7]) || line[8] != ' ') return false;
  if (!IsDigit(line[9]) || !IsDigit(line[10]) || !IsDigit(line[11]) || line[9] == '0') return false;
  if (size > 12 && line[12] != ' ') return false;
  *status = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
  return true;
}

}  // namespace

bool ParseContentLength(const char* text, size_t size, unsigned long long* value) {
  size_t begin = 0, end = size;
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  if (begin == end) return false;
  unsigned long long number = 0;
  for (size_t i = begin; i < end; ++i) {
    if (!IsDigit(text[i])) return false;
    unsigned digit = static_cast<unsigned>(text[i] - '0');
    // Compared, not divided: the 32-bit build has no 64-bit division of its own.
    const unsigned long long kTenth = ~0ull / 10;
    if (number > kTenth || (number == kTenth && digit > ~0ull % 10)) return false;
    number = number * 10 + digit;
  }
  *value = number;
  return true;
}

HttpHeadResult ParseHttpResponseHead(const char* data, size_t size, HttpResponseHead* head) {
  size_t avail = size < kHttpHeadLimit ? size : static_cast<size_t>(kHttpHeadLimit);
  static const char kPrefix[] = "HTTP/";
  for (size_t i = 0; i < 5 && i < avail; ++i)
    if (data[i] != kPrefix[i]) return kHttpHeadInvalid;

  HttpResponseHead found = {0, false, 0, false, 0};
  bool status_seen = false;
  bool any_header = false;
  bool last_was_length = false;
  bool challenge_seen = false;
  size_t line_start = 0;
  for (size_t i = 0; i < avail; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c != '\r') {
      if (c < 0x20 && c != '\t') return kHttpHeadInvalid;  // LF, zero and other controls
      if (c == 0x7f) return kHttpHeadInvalid;
      continue;
    }
    if (i + 1 >= avail) break;  // its LF has not arrived (or lies past the limit)
    if (data[i + 1] != '\n') return kHttpHeadInvalid;
    const char* line = data + line_start;
    size_t length = i - line_start;
    ++i;
    line_start = i + 1;

    if (!status_seen) {
      if (!ParseStatusLine(line, length, &found.status)) return kHttpHeadInvalid;
      status_seen = true;
      continue;
    }
    if (length == 0) {
      found.header_size = line_start;
      found.proxy_challenge = found.status == 407 && challenge_seen;
      *head = found;
      return kHttpHeadComplete;
    }
    if (IsBlank(line[0])) {
      if (!any_header || last_was_length) return kHttpHeadInvalid;
      continue;
    }
    size_t colon = 0;
    // Control bytes are already refused; a blank before the colon would let
    // "Content-Length :" pass unseen.
    while (colon < length && line[colon] != ':' && !IsBlank(line[colon])) ++colon;
    if (colon == 0 || colon == length || line[colon] != ':') return kHttpHeadInvalid;
    any_header = true;
    last_was_length = NameIs(line, colon, "content-length");
    if (last_was_length) {
      unsigned long long value = 0;
      if (!ParseContentLength(line + colon + 1, length - colon - 1, &value)) return kHttpHeadInvalid;
      if (found.has_length && value != found.content_length) return kHttpHeadInvalid;
      found.has_length = true;
      found.content_length = value;
    } else if (NameIs(line, colon, "proxy-authenticate")) {
      challenge_seen = true;
    }
  }
  return size >= kHttpHeadLimit ? kHttpHeadInvalid : kHttpHeadIncomplete;
}
