// The socket transport's time limits: slow by nature.
#include <winsock2.h>

#include "transport/socket_method.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "tests/transport/log_capture.h"
#include "transport/host_connection.h"

using testing_support::HttpReply;
using testing_support::HttpTestServer;
using testing_support::LogCapture;
using testing_support::ScratchFolder;
using testing_support::TestAddress;

namespace {

long long SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
}

TEST(SocketTimeLimits, SilentServerEndsTheReceiveAfterFortySeconds) {
  HttpTestServer server(1, 19);
  ASSERT_TRUE(server.Ok());
  server.SetScript(HttpReply::NeverAnswer());
  ScratchFolder folder;
  HostConnection connection(server.Address().c_str(), nullptr, "/");
  connection.connected = true;
  CSocketMethod method(connection);
  LogCapture log;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(method.GetFile("a.txt", folder.File("a").c_str()));
  long long seconds = SecondsSince(start);
  EXPECT_GE(seconds, 38);
  EXPECT_LE(seconds, 50);
  EXPECT_EQ(1, log.Count("recv,SocketMethod 158, 0x"));
}

// A listener whose queue is full leaves further connects pending, like an
// unreachable host, without any traffic off the loopback.
TEST(SocketTimeLimits, PendingConnectIsBoundedWhileTesting) {
  WSADATA data;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
  std::string address = TestAddress(1, 18);
  sockaddr_in at = {};
  at.sin_family = AF_INET;
  at.sin_port = htons(80);
  at.sin_addr.s_addr = inet_addr(address.c_str());
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at));
  ASSERT_EQ(0, listen(listener, 0));
  // Fill the queue until a connect stays pending for a second.
  std::vector<SOCKET> fillers;
  bool pending = false;
  for (int i = 0; i < 64 && !pending; ++i) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at);
    fillers.push_back(s);
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    timeval one = {1, 0};
    pending = select(0, nullptr, &writable, nullptr, &one) == 0;
  }
  if (!pending) {
    for (SOCKET s : fillers) closesocket(s);
    closesocket(listener);
    WSACleanup();
    GTEST_SKIP() << "this platform completes every loopback connect";
  }

  ScratchFolder folder;
  HostConnection connection(address.c_str(), nullptr, "/");
  CSocketMethod method(connection);
  LogCapture log;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(method.GetFile("a.txt", folder.File("a").c_str()));
  long long seconds = SecondsSince(start);
  EXPECT_GE(seconds, 19);
  EXPECT_LE(seconds, 25);
  EXPECT_EQ(1, log.Count("select,SocketMethod 132, 0x"));
  for (SOCKET s : fillers) closesocket(s);
  closesocket(listener);
  WSACleanup();
}

}  // namespace
