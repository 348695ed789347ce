// The WinInet transport's send limit during the connection test (slow: the
// limit is twenty seconds).
#include <winsock2.h>  // the test server needs it before windows.h

#include "transport/wininet_method.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "tests/transport/log_capture.h"
#include "transport/host_connection.h"

using testing_support::FileExists;
using testing_support::HttpReply;
using testing_support::HttpTestServer;
using testing_support::LogCapture;
using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;

namespace {

TEST(WinInetSendLimit, ANeverAnsweringServerEndsTheSendAfterTwentySeconds) {
  ScratchFolder folder;
  HttpTestServer server(20, 7);
  ASSERT_TRUE(server.Ok());
  server.SetScript(HttpReply::NeverAnswer());
  LogCapture log;
  HostConnection connection(server.Address().c_str(), nullptr, "/d/", HostConnection::NoTransports());
  CWinInetMethod method(connection);
  std::string file = folder.File("silent.txt");
  DWORD start = GetTickCount();
  EXPECT_FALSE(method.GetFile("a.txt", file.c_str()));
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 19500u);
  EXPECT_LT(elapsed, 26000u);
  EXPECT_EQ(1, server.ConnectionCount());
  EXPECT_TRUE(FileExists(file));
  EXPECT_EQ("", ReadWholeFile(file));
  // The request handle is gone after the time-out, so the status query fails
  // before the send's line reports the time-out.
  std::string text = log.Text();
  size_t query = text.find("HttpQueryInfo,WinInetMethod 106, 0x");
  size_t send = text.find("SendRequest,WinInetMethod 192, 0x2ee2\r\n");
  ASSERT_NE(std::string::npos, query) << text;
  ASSERT_NE(std::string::npos, send) << text;
  EXPECT_LT(query, send);
}

}  // namespace
