// The response-head parser the transports judge every answer by.
#include "transport/http_response.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct HeadCase {
  const char* name;
  std::string bytes;
  HttpHeadResult result;
  int status;
  long long length;  // -1: no Content-Length
  bool challenge;
};

std::string Describe(HttpHeadResult result) {
  return result == kHttpHeadComplete ? "complete" : result == kHttpHeadIncomplete ? "incomplete" : "invalid";
}

const long long kNone = -1;

TEST(HttpResponseHead, ReadsStatusLengthAndChallenge) {
  const HeadCase cases[] = {
      {"plain 200", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", kHttpHeadComplete, 200, 5, false},
      {"no length", "HTTP/1.0 200 OK\r\nServer: x\r\n\r\n", kHttpHeadComplete, 200, kNone, false},
      {"no reason", "HTTP/1.1 204\r\n\r\n", kHttpHeadComplete, 204, kNone, false},
      {"empty reason", "HTTP/1.1 404 \r\n\r\n", kHttpHeadComplete, 404, kNone, false},
      {"lower-case length", "HTTP/1.1 200 OK\r\ncontent-length:7\r\n\r\n", kHttpHeadComplete, 200, 7, false},
      {"blanks around length", "HTTP/1.1 200 OK\r\nContent-Length: \t 12 \t\r\n\r\n", kHttpHeadComplete, 200, 12,
       false},
      {"zero length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", kHttpHeadComplete, 200, 0, false},
      {"repeated equal lengths", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\ncontent-length: 3\r\n\r\n",
       kHttpHeadComplete, 200, 3, false},
      {"challenge", "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"p\"\r\n\r\n",
       kHttpHeadComplete, 407, kNone, true},
      {"challenge in other case", "HTTP/1.1 407 X\r\npROXY-aUTHENTICATE: Basic\r\n\r\n", kHttpHeadComplete, 407,
       kNone, true},
      {"407 without challenge", "HTTP/1.1 407 X\r\nWWW-Authenticate: Basic\r\n\r\n", kHttpHeadComplete, 407, kNone,
       false},
      {"challenge name in a value", "HTTP/1.1 407 X\r\nX-Note: Proxy-Authenticate: Basic\r\n\r\n",
       kHttpHeadComplete, 407, kNone, false},
      {"longer name", "HTTP/1.1 407 X\r\nProxy-Authenticate-Info: a\r\n\r\n", kHttpHeadComplete, 407, kNone, false},
      {"challenge line on a 200", "HTTP/1.1 200 OK\r\nProxy-Authenticate: Basic\r\n\r\n", kHttpHeadComplete, 200,
       kNone, false},
      {"challenge text in the body", "HTTP/1.1 407 X\r\n\r\nProxy-Authenticate: Basic\r\n\r\n", kHttpHeadComplete,
       407, kNone, false},
      {"folded line", "HTTP/1.1 200 OK\r\nX-A: 1\r\n 2\r\nContent-Length: 1\r\n\r\n", kHttpHeadComplete, 200, 1,
       false},
      {"zero byte in the body", std::string("HTTP/1.1 200 OK\r\n\r\n\0x", 21), kHttpHeadComplete, 200, kNone,
       false},

      {"nothing yet", "", kHttpHeadIncomplete, 0, kNone, false},
      {"status line cut", "HTTP/1.1 20", kHttpHeadIncomplete, 0, kNone, false},
      {"before its LF", "HTTP/1.1 200 OK\r", kHttpHeadIncomplete, 0, kNone, false},
      {"headers cut", "HTTP/1.1 200 OK\r\nContent-Len", kHttpHeadIncomplete, 0, kNone, false},
      {"blank line cut", "HTTP/1.1 200 OK\r\nA: b\r\n\r", kHttpHeadIncomplete, 0, kNone, false},

      {"not HTTP, short", "<htm", kHttpHeadInvalid, 0, kNone, false},
      {"lower-case protocol", "http/1.1 200 OK\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"LF-only line ends", "HTTP/1.0 200 OK\nA: b\n\nbody", kHttpHeadInvalid, 0, kNone, false},
      {"bare CR", "HTTP/1.0 200 OK\rA: b\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"LF inside a header", "HTTP/1.0 200 OK\r\nA: b\nContent-Length: 1\r\n\r\n", kHttpHeadInvalid, 0, kNone,
       false},
      {"zero byte in the head", std::string("HTTP/1.0 200 OK\r\nA: \0\r\n\r\n", 24), kHttpHeadInvalid, 0, kNone,
       false},
      {"two-digit status", "HTTP/1.1 20 OK\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"four-digit status", "HTTP/1.1 2000 OK\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"status from 0", "HTTP/1.1 099 OK\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"double space", "HTTP/1.1  200 OK\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"odd version", "HTTP/11 200 OK\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"signed length", "HTTP/1.1 200 OK\r\nContent-Length: +5\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"empty length", "HTTP/1.1 200 OK\r\nContent-Length: \r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"garbage length", "HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"hex length", "HTTP/1.1 200 OK\r\nContent-Length: 0x10\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"length list", "HTTP/1.1 200 OK\r\nContent-Length: 5, 5\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"length over 64 bits", "HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551616\r\n\r\n", kHttpHeadInvalid,
       0, kNone, false},
      {"huge length", "HTTP/1.1 200 OK\r\nContent-Length: 999999999999999999999999999999\r\n\r\n",
       kHttpHeadInvalid, 0, kNone, false},
      {"lengths that differ", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n",
       kHttpHeadInvalid, 0, kNone, false},
      {"folded length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n 6\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"folded first line", "HTTP/1.1 200 OK\r\n A: b\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"line without colon", "HTTP/1.1 200 OK\r\nNo colon here\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"space before colon", "HTTP/1.1 200 OK\r\nContent-Length : 5\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
      {"empty name", "HTTP/1.1 200 OK\r\n: 5\r\n\r\n", kHttpHeadInvalid, 0, kNone, false},
  };
  for (const HeadCase& c : cases) {
    HttpResponseHead head = {-7, true, 99, true, 99};
    HttpHeadResult result = ParseHttpResponseHead(c.bytes.data(), c.bytes.size(), &head);
    EXPECT_EQ(Describe(c.result), Describe(result)) << c.name;
    if (c.result != kHttpHeadComplete) {
      EXPECT_EQ(-7, head.status) << c.name << ": written though not complete";
      continue;
    }
    EXPECT_EQ(c.status, head.status) << c.name;
    EXPECT_EQ(c.length != kNone, head.has_length) << c.name;
    if (c.length != kNone) {
      EXPECT_EQ(static_cast<unsigned long long>(c.length), head.content_length) << c.name;
    }
    EXPECT_EQ(c.challenge, head.proxy_challenge) << c.name;
    EXPECT_EQ(c.bytes.find("\r\n\r\n") + 4, head.header_size) << c.name;
  }
}

// Every cut of a sound response before its header end waits for more; every
// one after it reads the same head, so receives may split it anywhere.
TEST(HttpResponseHead, AnySplitOfTheBytesGivesTheSameHead) {
  const std::string response =
      "HTTP/1.0 407 Proxy Authentication Required\r\nContent-Length: 4\r\n"
      "Proxy-Authenticate: Basic realm=\"p\"\r\n\r\nbody";
  const size_t end = response.find("\r\n\r\n") + 4;
  for (size_t cut = 0; cut <= response.size(); ++cut) {
    // A copy of exactly cut bytes, so that reading past it is caught.
    std::string part = response.substr(0, cut);
    HttpResponseHead head = {};
    HttpHeadResult result = ParseHttpResponseHead(part.data(), part.size(), &head);
    if (cut < end) {
      ASSERT_EQ(kHttpHeadIncomplete, result) << cut;
      continue;
    }
    ASSERT_EQ(kHttpHeadComplete, result) << cut;
    EXPECT_EQ(407, head.status);
    EXPECT_TRUE(head.proxy_challenge);
    EXPECT_EQ(4u, head.content_length);
    EXPECT_EQ(end, head.header_size);
  }
}

TEST(HttpResponseHead, TheHeadMustEndWithinItsLimit) {
  const std::string start = "HTTP/1.1 200 OK\r\nX-Filler: ";
  // Filler so that the blank line's LF is byte number `end` of the head.
  auto head_ending_at = [&](size_t end) { return start + std::string(end - start.size() - 4, 'f') + "\r\n\r\n"; };
  HttpResponseHead head = {};

  std::string at_limit = head_ending_at(kHttpHeadLimit) + "body";
  ASSERT_EQ(kHttpHeadComplete, ParseHttpResponseHead(at_limit.data(), at_limit.size(), &head));
  EXPECT_EQ(static_cast<size_t>(kHttpHeadLimit), head.header_size);

  std::string past_limit = head_ending_at(kHttpHeadLimit + 1) + "body";
  EXPECT_EQ(kHttpHeadInvalid, ParseHttpResponseHead(past_limit.data(), past_limit.size(), &head));
  // Short of the limit it may still end; at the limit it never will.
  EXPECT_EQ(kHttpHeadIncomplete, ParseHttpResponseHead(past_limit.data(), kHttpHeadLimit - 1, &head));
  EXPECT_EQ(kHttpHeadInvalid, ParseHttpResponseHead(past_limit.data(), kHttpHeadLimit, &head));
}

TEST(HttpResponseHead, ContentLengthValues) {
  struct {
    const char* text;
    bool ok;
    unsigned long long value;
  } cases[] = {
      {"0", true, 0},          {" 42\t", true, 42},  {"18446744073709551615", true, ~0ull},
      {"18446744073709551616", false, 0}, {"", false, 0}, {"  ", false, 0}, {"-0", false, 0},
      {"4 2", false, 0},       {"42;", false, 0},
  };
  for (const auto& c : cases) {
    unsigned long long value = 77;
    std::string text = c.text;
    EXPECT_EQ(c.ok, ParseContentLength(text.data(), text.size(), &value)) << c.text;
    EXPECT_EQ(c.ok ? c.value : 77ull, value) << c.text;
  }
}

}  // namespace
