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
    connection_.reset(new HostConnection(host.c_str(), nullptr, "/d/"));
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
  // scheme, which is skipped for the address; the request names it as it
  // stands, a path this server does not have (its 404 fails the call).
  connection_->proxy_user.Assign("");
  connection_->proxy_password.Assign("pw");
  connection_->connected = true;
  connection_->host.Assign(("http://" + server.Address()).c_str());
  EXPECT_FALSE(Get("a.txt"));
  ASSERT_EQ(2u, server.Requests().size());
  EXPECT_EQ("GET http://http://" + server.Address() +
                "/d/a.txt HTTP/1.0\r\n"
                "Authorization: Basic Og==\r\n"
                "Proxy-Authorization: Basic OnB3\r\n"
                "\r\n",
            server.Requests()[1]);
}

// Only a sound 2xx answer read to its end is a download; every other answer
// fails and leaves no file, even where an older one stood.
TEST_F(SocketMethodTest, OnlyAWhole200AnswerIsStored) {
  HttpTestServer server(1, 11);
  ASSERT_TRUE(server.Ok());
  Connect(server.Address());
  const std::string challenge = "Proxy-Authenticate: Basic realm=\"x\"\r\n";
  const std::string big_head = "HTTP/1.0 200 OK\r\nX-Filler: " + std::string(9000, 'f') + "\r\n\r\nbody";
  struct Case {
    const char* name;
    HttpReply reply;
    const char* log;  // the line the failure prints; null for a success
    std::string stored;
  } cases[] = {
      {"404", HttpReply::Status(404, "Not Found", "missing page"), "Http Status 404\r\n", ""},
      {"500", HttpReply::Status(500, "Internal Server Error", "broken"), "Http Status 500\r\n", ""},
      {"407 without a challenge", HttpReply::Status(407, "Proxy Authentication Required", "no"),
       "Http Status 407\r\n", ""},
      {"closed without a byte", HttpReply::CloseWithoutData(), "header,SocketMethod 167, 0x", ""},
      {"body cut before its length", HttpReply::Canned("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc"),
       "length,SocketMethod 172, 0x", ""},
      {"LF-only line ends", HttpReply::Canned("HTTP/1.0 200 OK\nA: b\n\nbody"), "header,SocketMethod 167, 0x", ""},
      {"head over its limit", HttpReply::Canned(big_head), "header,SocketMethod 167, 0x", ""},
      {"no length, read to the close", HttpReply::Canned("HTTP/1.0 200 OK\r\n\r\nto the end"), nullptr,
       "to the end"},
      {"head split over receives",
       HttpReply::Chunks({"HTTP/1.0 200 OK\r\nContent-Le", "ngth: 4\r\n", "\r\nbody"}, 300), nullptr, "body"},
      {"bytes past the length",
       HttpReply::Canned("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef"), nullptr, "abc"},
      {"206", HttpReply::Status(206, "Partial Content", "part", "Content-Range: bytes 0-3/10\r\n"),
       "Http Status 206\r\n", ""},
      {"203", HttpReply::Status(203, "Non-Authoritative Information", "other"), "Http Status 203\r\n", ""},
      {"challenge text in a page", HttpReply::Canned("HTTP/1.0 200 OK\r\n\r\n" + challenge), nullptr, challenge},
      {"challenge line on a 200", HttpReply::Status(200, "OK", "fine", challenge), nullptr, "fine"},
  };
  ProxyPromptDriver driver(ProxyPromptDriver::kCancel);
  int connections = 0;
  for (Case& c : cases) {
    LogCapture log;
    ASSERT_TRUE(WriteWholeFile(File(), "older content"));
    server.QueueReply(c.reply);
    EXPECT_EQ(c.log == nullptr, Get()) << c.name;
    if (c.log) {
      EXPECT_EQ(1, log.Count(c.log)) << c.name << ": " << log.Text();
      EXPECT_FALSE(FileExists(File())) << c.name;
    } else {
      EXPECT_EQ(c.stored, ReadWholeFile(File())) << c.name;
    }
    EXPECT_EQ(++connections, server.ConnectionCount()) << c.name;
  }
  EXPECT_EQ(0, driver.Seen());
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

// This transport has no TLS: an https URL is refused before any connection,
// never sent as plain http to the same host.
TEST_F(SocketMethodTest, AnHttpsUrlIsRefusedWithoutConnecting) {
  HttpTestServer server(1, 16);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/d/a.txt", "plain");
  connection_.reset(new HostConnection(server.Address().c_str(), nullptr, "/d/",
                                       "https"));
  method_.reset(new CSocketMethod(*connection_));
  LogCapture log;
  EXPECT_FALSE(Get());
  EXPECT_TRUE(log.Contains("Socket transport refuses https://" + server.Address() + ",SocketMethod\r\n"))
      << log.Text();
  EXPECT_EQ(HostConnection::kNotAttempted, connection_->failure);
  EXPECT_FALSE(FileExists(File()));
  EXPECT_EQ(0, server.ConnectionCount());
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
        "title=Enter Proxy/Firewall Access Details size=200x69 font=MS Sans Serif\n"
        // Each label right before the field it names; the dialog turns an
        // edit's border into a client edge.
        "Static id=65535 text=Name: at=7,11 size=60x8 style=20002\n"
        "Edit id=1001 text= at=70,7 size=123x14 style=10080\n"
        "Static id=65535 text=Password: at=7,31 size=60x8 style=20002\n"
        "Edit id=1002 text= at=70,28 size=123x14 style=100a0\n"
        "Button id=1 text=OK at=7,48 size=50x14 style=10001\n"
        "Button id=2 text=Cancel at=143,48 size=50x14 style=10000\n",
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

TEST_F(SocketMethodTest, ProxyPromptCancelEndsTheCallAndARefusedSecondAttemptFails) {
  HttpTestServer server(1, 18);
  ASSERT_TRUE(server.Ok());
  server.SetScript(HttpReply::Status(407, "Proxy Authentication Required", "denied",
                                     "proxy-authenticate: Basic realm=\"p\"\r\n"));
  Connect(server.Address());
  ASSERT_TRUE(WriteWholeFile(File(), "old"));
  {
    ProxyPromptDriver driver(ProxyPromptDriver::kCancel);
    EXPECT_FALSE(Get());
    EXPECT_EQ(1, driver.Seen());
  }
  EXPECT_FALSE(connection_->proxy_user.IsPresent());
  EXPECT_EQ(1, server.ConnectionCount());
  EXPECT_FALSE(FileExists(File()));

  // OK: one more attempt with the typed credentials; the proxy refuses them
  // too, and its page is not taken for the file. No third attempt.
  {
    LogCapture log;
    ProxyPromptDriver driver(ProxyPromptDriver::kOk, "", "");
    EXPECT_FALSE(Get());
    EXPECT_EQ(1, driver.Seen());
    EXPECT_EQ(1, log.Count("Http Status 407\r\n")) << log.Text();
  }
  EXPECT_TRUE(connection_->proxy_user.IsPresent());
  EXPECT_FALSE(FileExists(File()));
  EXPECT_EQ(3, server.ConnectionCount());
  EXPECT_NE(std::string::npos, server.Requests()[2].find("Proxy-Authorization: Basic Og==\r\n"));
}

}  // namespace
