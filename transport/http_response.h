#pragma once
#include <stddef.h>

// The head of an HTTP response as the transports judge it: status line,
// header end, Content-Length and a proxy's credentials challenge. A pure
// function of its input bytes; no platform calls.

// A head that has not ended within this many bytes is refused.
enum { kHttpHeadLimit = 8192 };

enum HttpHeadResult {
  kHttpHeadIncomplete,  // no header end yet and fewer than kHttpHeadLimit bytes seen
  kHttpHeadComplete,    // the head ended and is sound; *head is filled
  kHttpHeadInvalid,     // not a head we accept, or no end within kHttpHeadLimit
};

struct HttpResponseHead {
  int status;                         // 100 to 999
  bool has_length;                    // a Content-Length line was present
  unsigned long long content_length;  // its value when present
  bool proxy_challenge;               // status 407 with a Proxy-Authenticate line
  size_t header_size;                 // bytes up to and including the blank line
};

// Reads the head at the start of data (size bytes; the body may follow).
// Rules, strict because a wrong reading would store a wrong file:
// - lines end with CR LF; a bare CR or LF, a zero byte or another control
//   byte (tab aside) anywhere in the head makes it invalid, so a head with
//   LF-only line ends is refused as soon as its first line end arrives;
// - status line "HTTP/d.d ddd", then a space and a reason, which may be
//   missing; the code has three digits, the first not 0;
// - header lines "name: value" (no blank in the name), names matched
//   case-insensitively; a folded line continues the previous one and is
//   ignored, except after Content-Length (its value would be ambiguous);
// - Content-Length holds decimal digits only (no sign, no list) within 64
//   bits; repeated lines must agree.
// Bytes that cannot begin "HTTP/" are invalid at once. *head is written only
// for a complete head.
HttpHeadResult ParseHttpResponseHead(const char* data, size_t size, HttpResponseHead* head);

// A Content-Length value of size bytes: digits only, surrounding spaces and
// tabs allowed, within 64 bits. False for anything else (value untouched).
bool ParseContentLength(const char* text, size_t size, unsigned long long* value);

// Only a whole 200 answer is the file: a 206 is a part, and no other 2xx
// carries the resource as asked.
inline bool IsWholeFileStatus(int status) { return status == 200; }
