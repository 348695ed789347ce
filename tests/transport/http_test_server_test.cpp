// The test bench's HTTP server: what other tests rely on.
#include "tests/support/http_test_server.h"

#include <gtest/gtest.h>

#include <chrono>

using testing_support::HttpReply;
using testing_support::HttpTestServer;

namespace {

// Sends request to address:80 and reads until the server closes (or 5 s).
std::string Exchange(const std::string& address, const std::string& request) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in at = {};
  at.sin_family = AF_INET;
  at.sin_port = htons(80);
  at.sin_addr.s_addr = inet_addr(address.c_str());
  std::string answer;
  DWORD limit = 5000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
  if (connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0) {
    send(s, request.data(), static_cast<int>(request.size()), 0);
    char buffer[65536];
    int got;
    while ((got = recv(s, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, got);
  }
  closesocket(s);
  return answer;
}

class HttpTestServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  void TearDown() override { WSACleanup(); }
};

TEST_F(HttpTestServerTest, ServesFilesByPathAndRecordsExactRequests) {
  HttpTestServer server(1, 1);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/secure/test_pattern.txt", "qestorvilanumedra");
  const std::string request = "GET /secure/test_pattern.txt?Rand=5 HTTP/1.0\r\nX: y\r\n\r\n";
  std::string answer = Exchange(server.Address(), request);
  EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(answer.substr(answer.size() - 17), "qestorvilanumedra");
  std::string missing = Exchange(server.Address(), "GET /other HTTP/1.0\r\n\r\n");
  EXPECT_EQ(missing.substr(0, 22), "HTTP/1.1 404 Not Found");
  EXPECT_NE(missing.find("404 Not Found</body>"), std::string::npos);

  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests()[0], request);
  EXPECT_EQ(server.Targets()[1], "/other");
}

TEST_F(HttpTestServerTest, QueuedRepliesComeFirstThenScriptThenPaths) {
  HttpTestServer server(1, 2);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/f", "file");
  server.QueueReply(HttpReply::CloseWithoutData());
  server.QueueReply(HttpReply::Chunks({"HTTP/1.0 200 OK\n", "\nab"}, 100));
  EXPECT_EQ(Exchange(server.Address(), "GET /f HTTP/1.0\r\n\r\n"), "");
  EXPECT_EQ(Exchange(server.Address(), "GET /f HTTP/1.0\r\n\r\n"), "HTTP/1.0 200 OK\n\nab");
  server.SetScript(HttpReply::Canned("X"));
  EXPECT_EQ(Exchange(server.Address(), "GET /f HTTP/1.0\r\n\r\n"), "X");
  server.ClearScript();
  std::string answer = Exchange(server.Address(), "GET /f HTTP/1.0\r\n\r\n");
  EXPECT_EQ(answer.substr(answer.size() - 4), "file");
}

TEST_F(HttpTestServerTest, LargeBodyFollowsThePattern) {
  HttpTestServer server(1, 3);
  ASSERT_TRUE(server.Ok());
  const unsigned long long size = 3 * 1024 * 1024 + 7;
  server.SetScript(HttpReply::LargeBody(size));
  std::string answer = Exchange(server.Address(), "GET /big HTTP/1.0\r\n\r\n");
  size_t body = answer.find("\r\n\r\n") + 4;
  ASSERT_EQ(answer.size() - body, size);
  for (unsigned long long i = 0; i < size; i += 4093) {
    ASSERT_EQ(answer[body + i], HttpReply::PatternByte(i)) << i;
  }
  EXPECT_EQ(answer.back(), HttpReply::PatternByte(size - 1));
}

TEST_F(HttpTestServerTest, StopsPromptlyWithAConnectionNeverAnswered) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  auto start = std::chrono::steady_clock::now();
  {
    HttpTestServer server(1, 4);
    ASSERT_TRUE(server.Ok());
    server.SetScript(HttpReply::NeverAnswer());
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_port = htons(80);
    at.sin_addr.s_addr = inet_addr(server.Address().c_str());
    ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    send(s, "GET / HTTP/1.0\r\n\r\n", 18, 0);
    ASSERT_TRUE(server.WaitForConnections(1, 5000));
    start = std::chrono::steady_clock::now();
  }
  auto stop_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(stop_ms, 2000);
  char c;
  EXPECT_LE(recv(s, &c, 1, 0), 0);  // closed by the server, nothing sent
  closesocket(s);
}

}  // namespace
