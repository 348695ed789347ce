// The socket transport against the loopback test server.
#include <winsock2.h>

#include "transport/socket_method.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "tests/transport/log_capture.h"
#include "tests/transport/proxy_prompt_driver.h"
#include "transport/host_connection.h"

using testing_support::FileExists;
using testing_support::HttpReply;
using testing_support::HttpTestServer;
using testing_support::LogCapture;
using testing_support::ProxyPromptDriver;
using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;
using testing_support::TestAddress;
using testing_support::WriteWholeFile;

namespace {

class SocketMethodTest : public ::testing::Test {
 protected:
  void Connect(const std::string& host, bool connected = true) {
    connection_.reset(new HostConnection(host.c_str(), nullptr, "/d/", HostConnection::NoTransports()));
    connection_->connected = connected;
    method_.reset(new CSocketMethod(*connection_));
  }
  std::string File() { return folder_.File("out.bin"); }
  bool Get(const char* path = "a.txt?Rand=7") { return method_->GetFile(path, File().c_str()); }

  ScratchFolder folder_;
  std::unique_ptr<HostConnection> connection_;
  std::unique_ptr<CSocketMethod> method_;
};

TEST_F(SocketMethodTest, SendsExactlyTheRequestTextAndStoresTheBody) {
  HttpTestServer server(1, 10);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/d/a.txt", "alpha\r\n\r\nbeta");
  Connect(server.Address(), false);
  EXPECT_STREQ("Socket", method_->Kind());
  ASSERT_TRUE(WriteWholeFile(File(), "older and longer content"));
  EXPECT_TRUE(Get());
  EXPECT_EQ("alpha\r\n\r\nbeta", ReadWholeFile(File()));
  ASSERT_EQ(1u, server.Requests().size());
  EXPECT_EQ("GET http://" + server.Address() +
                "/d/a.txt?Rand=7 HTTP/1.0\r\n"
                "Authorization: Basic Og==\r\n"
                "\r\n",
            server.Requests()[0]);

  // An empty proxy name counts: its line goes out too. The host may carry a
  // scheme, which is skipped.
  connection_->proxy_user.Assign("");
  connection_->proxy_password.Assign("pw");
  connection_->connected = true;
  connection_->host.Assign(("http://" + server.Address()).c_str());
  EXPECT_TRUE(Get("a.txt"));
  ASSERT_EQ(2u, server.Requests().size());
  EXPECT_EQ("GET http://http://" + server.Address() +
                "/d/a.txt HTTP/1.0\r\n"
                "Authorization: Basic Og==\r\n"
                "Proxy-Authorization: Basic OnB3\r\n"
                "\r\n",
            server.Requests()[1]);
}

TEST_F(SocketMethodTest, StoresWhateverFollowsTheHeaderWhateverTheStatus) {
  HttpTestServer server(1, 11);
  ASSERT_TRUE(server.Ok());
  Connect(server.Address());
  server.QueueReply(HttpReply::Status(404, "Not Found", "missing page"));
  EXPECT_TRUE(Get());
  EXPECT_EQ("missing page", ReadWholeFile(File()));

  // Closed without a byte: success with an empty file.
  ASSERT_TRUE(WriteWholeFile(File(), "old"));
  server.QueueReply(HttpReply::CloseWithoutData());
  EXPECT_TRUE(Get());
  EXPECT_TRUE(FileExists(File()));
  EXPECT_EQ("", ReadWholeFile(File()));

  // A zero byte hides a later "Proxy-Authenticate": stored, no prompt.
  ProxyPromptDriver driver(ProxyPromptDriver::kCancel);
  const std::string zero_body("ab\0Proxy-Authenticate: Basic\r\n", 30);
  server.QueueReply(HttpReply::Canned("HTTP/1.0 200 OK\r\n\r\n" + zero_body));
  EXPECT_TRUE(Get());
  EXPECT_EQ(zero_body, ReadWholeFile(File()));

  // With a proxy name already held the request is not recognised at all.
  connection_->proxy_user.Assign("u");
  server.QueueReply(HttpReply::Status(407, "Proxy Authentication Required", "denied",
                                      "Proxy-Authenticate: Basic realm=\"x\"\r\n"));
  EXPECT_TRUE(Get());
  EXPECT_EQ("denied", ReadWholeFile(File()));
  EXPECT_EQ(0, driver.Seen());
  EXPECT_EQ(4, server.ConnectionCount());
}

TEST_F(SocketMethodTest, HeaderEndMustBeInTheFirstChunkWithCarriageReturns) {
  HttpTestServer server(1, 12);
  ASSERT_TRUE(server.Ok());
  Connect(server.Address());
  LogCapture log;
  server.QueueReply(HttpReply::Chunks({"HTTP/1.0 200 OK\r\nA: b\r\n", "\r\nbody"}, 300));
  EXPECT_FALSE(Get());
  EXPECT_TRUE(FileExists(File()));
  EXPECT_EQ("", ReadWholeFile(File()));
  server.QueueReply(HttpReply::Canned("HTTP/1.0 200 OK\nA: b\n\nbody"));
  EXPECT_FALSE(Get());
  EXPECT_EQ(2, log.Count("header,SocketMethod 167, 0x"));
}

TEST_F(SocketMethodTest, LargeBodyArrivesWhole) {
  HttpTestServer server(1, 13);
  ASSERT_TRUE(server.Ok());
  const unsigned long long size = 8ull * 1024 * 1024 + 3;
  server.SetScript(HttpReply::LargeBody(size));
  Connect(server.Address());
  ASSERT_TRUE(Get());
  std::string body = ReadWholeFile(File());
  ASSERT_EQ(size, body.size());
  for (unsigned long long i = 0; i < size; i += 997) ASSERT_EQ(HttpReply::PatternByte(i), body[i]) << i;
  EXPECT_EQ(HttpReply::PatternByte(size - 1), body.back());
}

TEST_F(SocketMethodTest, RefusesWhatCannotBeStoredOrSentWhole) {
  HttpTestServer server(1, 14);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/d/a.txt", "alpha");
  Connect(server.Address());
  LogCapture log;
  // No folder for the output file: the attempt fails after the request.
  EXPECT_FALSE(method_->GetFile("a.txt", folder_.File("no\\such\\folder.bin").c_str()));
  EXPECT_EQ(1, log.Count("CNewFile,SocketMethod"));
  // The connection may sit in the listener's queue until the server's thread
  // takes it, after the transport has already given up.
  EXPECT_TRUE(server.WaitForConnections(1, 5000));
  // A request over its buffer is not sent at all: no second connection even
  // after the server had time to take one.
  connection_->proxy_user.Assign(std::string(1000, 'u').c_str());
  connection_->proxy_password.Assign(std::string(1000, 'p').c_str());
  EXPECT_FALSE(Get("a.txt"));
  EXPECT_EQ(1, log.Count("request,SocketMethod"));
  EXPECT_FALSE(server.WaitForConnections(2, 300));
  EXPECT_EQ(1, server.ConnectionCount());
}

TEST_F(SocketMethodTest, RefusedConnectionsAreReported) {
  // Nothing listens on this address.
  Connect(TestAddress(1, 15));
  LogCapture log;
  EXPECT_FALSE(Get());
  EXPECT_EQ(1, log.Count("connect,SocketMethod 122, 0x"));
  // Both codes, the socket library's last: 0x274d is "connection refused".
  EXPECT_EQ(1, log.Count(", 0x274d\r\n"));
  EXPECT_FALSE(FileExists(File()));

  // While the test runs the connect is bounded, and a refusal does not wait
  // for the bound.
  connection_->connected = false;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Get());
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(ms, 5000);
  EXPECT_EQ(1, log.Count("connect2,SocketMethod 128, 0x") + log.Count("select,SocketMethod 132, 0x"));
}

TEST_F(SocketMethodTest, LibraryIsReleasedWithTheLastTransportAndLoadedAgain) {
  HttpTestServer server(1, 16);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/d/a.txt", "alpha");
  Connect(server.Address());
  TransportLibrary& library = SocketLibrary();
  std::unique_ptr<CSocketMethod> second(new CSocketMethod(*connection_));
  EXPECT_EQ(2, library.live);
  EXPECT_TRUE(Get());
  EXPECT_TRUE(IsTransportLibraryLoaded(library));
  second.reset();
  EXPECT_TRUE(IsTransportLibraryLoaded(library));
  method_.reset();
  EXPECT_EQ(0, library.live);
  EXPECT_FALSE(IsTransportLibraryLoaded(library));
  method_.reset(new CSocketMethod(*connection_));
  EXPECT_FALSE(IsTransportLibraryLoaded(library));
  EXPECT_TRUE(Get());
  EXPECT_TRUE(IsTransportLibraryLoaded(library));
  EXPECT_EQ("alpha", ReadWholeFile(File()));
}

// The proxy prompt, answered through the real dialog.
TEST_F(SocketMethodTest, ProxyPromptOkLeadsToASecondAttemptWithTheTypedCredentials) {
  HttpTestServer server(1, 17);
  ASSERT_TRUE(server.Ok());
  server.QueueReply(HttpReply::Status(407, "Proxy Authentication Required", "x",
                                      "Proxy-Authenticate: Basic realm=\"p\"\r\n"));
  server.ServeFile("/d/a.txt", "through the proxy");
  Connect(server.Address(), false);
  std::string long_name(1200, 'n');
  {
    ProxyPromptDriver driver(ProxyPromptDriver::kOk, "user", "pass");
    EXPECT_TRUE(Get("a.txt"));
    EXPECT_EQ(1, driver.Seen());
    EXPECT_EQ(
        "title=Enter Proxy/Firewall Access Details size=186x69 font=MS Sans Serif\n"
        "Button id=1 text=OK at=7,48 size=50x14 style=10001\n"
        "Button id=2 text=Cancel at=129,48 size=50x14 style=10000\n"
        "Static id=65535 text=Name: at=7,11 size=37x8 style=20002\n"
        "Static id=65535 text=Password: at=7,31 size=37x8 style=20002\n"
        // The dialog turns an edit's border into a client edge.
        "Edit id=1001 text= at=46,7 size=133x14 style=10080\n"
        "Edit id=1002 text= at=46,28 size=133x14 style=100a0\n",
        driver.Description());
  }
  EXPECT_EQ("through the proxy", ReadWholeFile(File()));
  ASSERT_EQ(2u, server.Requests().size());
  EXPECT_EQ(std::string::npos, server.Requests()[0].find("Proxy-Authorization"));
  EXPECT_NE(std::string::npos, server.Requests()[1].find("Proxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n"));
  EXPECT_STREQ(",,user,pass", connection_->GetCodes());

  // Empty answers still make a second attempt; an over-long name is cut to
  // 999 characters.
  connection_->proxy_user.Release();
  connection_->proxy_password.Release();
  server.QueueReply(HttpReply::Status(407, "Proxy Authentication Required", "x",
                                      "Proxy-Authenticate: Basic realm=\"p\"\r\n"));
  {
    ProxyPromptDriver driver(ProxyPromptDriver::kOk, long_name, "");
    EXPECT_TRUE(Get("a.txt"));
  }
  EXPECT_EQ(std::string(999, 'n'), connection_->proxy_user.Text());
  EXPECT_TRUE(connection_->proxy_password.IsPresent());
  EXPECT_EQ(4u, server.Requests().size());
}

TEST_F(SocketMethodTest, ProxyPromptCancelEndsTheCallAndOkTriesOnceMore) {
  HttpTestServer server(1, 18);
  ASSERT_TRUE(server.Ok());
  // "Proxy-Authenticate" anywhere in the first chunk counts, body included.
  server.SetScript(HttpReply::Canned("HTTP/1.0 200 OK\r\n\r\nsee Proxy-Authenticate"));
  Connect(server.Address());
  ASSERT_TRUE(WriteWholeFile(File(), "old"));
  {
    ProxyPromptDriver driver(ProxyPromptDriver::kCancel);
    EXPECT_FALSE(Get());
    EXPECT_EQ(1, driver.Seen());
  }
  EXPECT_FALSE(connection_->proxy_user.IsPresent());
  EXPECT_EQ(1, server.ConnectionCount());
  EXPECT_EQ("", ReadWholeFile(File()));

  // OK: the second attempt holds a name, so the same answer is no longer
  // taken for a proxy's request; its body is stored. No third attempt.
  {
    ProxyPromptDriver driver(ProxyPromptDriver::kOk, "", "");
    EXPECT_TRUE(Get());
    EXPECT_EQ(1, driver.Seen());
  }
  EXPECT_TRUE(connection_->proxy_user.IsPresent());
  EXPECT_EQ("see Proxy-Authenticate", ReadWholeFile(File()));
  EXPECT_EQ(3, server.ConnectionCount());
  EXPECT_NE(std::string::npos, server.Requests()[2].find("Proxy-Authorization: Basic Og==\r\n"));
}

}  // namespace
