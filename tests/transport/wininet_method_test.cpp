// The WinInet transport against the loopback test server.
#include <winsock2.h>  // the test server needs it before windows.h

#include "transport/wininet_method.h"

#include <gtest/gtest.h>
#include <wininet.h>

#include <memory>
#include <string>
#include <vector>

#include "base/cancel_flag.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "tests/transport/log_capture.h"
#include "tests/transport/tls_table.h"
#include "transport/host_connection.h"
#include "transport/proxy_credentials.h"

using testing_support::FileExists;
using testing_support::HttpReply;
using testing_support::HttpTestServer;
using testing_support::LogCapture;
using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;
using testing_support::TestAddress;
using testing_support::WriteWholeFile;

namespace {

std::string SystemLibraryPath(const char* name) {
  char folder[MAX_PATH];
  GetSystemDirectoryA(folder, sizeof folder);
  return std::string(folder) + "\\" + name;
}

bool AnyRequestContains(HttpTestServer& server, const std::string& piece) {
  for (const std::string& request : server.Requests())
    if (request.find(piece) != std::string::npos) return true;
  return false;
}

// Stand-ins for three library entries, for the credentials dialog path: a
// send that fails, a 407 status after such a send, and a dialog that puts
// the typed proxy credentials on the request with the library's own option
// call, as the platform's dialog does. Wine's library answers a 407 through
// a successful send; the failed send stands for other platforms.
struct DialogScript {
  int sends_to_fail = 1;
  int sends = 0;
  DWORD answer = ERROR_INTERNET_FORCE_RETRY;
  std::string user, password;
  HWND owner_seen = nullptr;
  DWORD error_seen = 0, flags_seen = 0;
  int dialogs = 0;
};
DialogScript g_script;
FARPROC g_real_send = nullptr;
FARPROC g_real_set_option = nullptr;
FARPROC g_real_query = nullptr;
bool g_last_send_failed = false;

typedef BOOL(WINAPI* SendFn)(HINTERNET, LPCSTR, DWORD, LPVOID, DWORD);
typedef BOOL(WINAPI* SetOptionFn)(HINTERNET, DWORD, LPVOID, DWORD);
typedef BOOL(WINAPI* QueryFn)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
typedef BOOL(WINAPI* InternetReadFileFn)(HINTERNET, LPVOID, DWORD, LPDWORD);
typedef BOOL(WINAPI* InternetCloseFn)(HINTERNET);

BOOL WINAPI ScriptedSend(HINTERNET request, LPCSTR headers, DWORD length, LPVOID optional, DWORD optional_length) {
  g_last_send_failed = ++g_script.sends <= g_script.sends_to_fail;
  if (g_last_send_failed) {
    SetLastError(ERROR_INTERNET_INCORRECT_PASSWORD);
    return FALSE;
  }
  SendFn send = reinterpret_cast<SendFn>(reinterpret_cast<void*>(g_real_send));
  return send(request, headers, length, optional, optional_length);
}

BOOL WINAPI Status407(HINTERNET request, DWORD query, LPVOID buffer, LPDWORD length, LPDWORD index) {
  QueryFn real = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(g_real_query));
  if (!g_last_send_failed) return real(request, query, buffer, length, index);
  if (query != (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER) || *length != sizeof(DWORD)) return FALSE;
  *static_cast<DWORD*>(buffer) = 407;
  return TRUE;
}

DWORD WINAPI ScriptedDialog(HWND owner, HINTERNET request, DWORD error, DWORD flags, LPVOID*) {
  ++g_script.dialogs;
  g_script.owner_seen = owner;
  g_script.error_seen = error;
  g_script.flags_seen = flags;
  if (g_script.answer == ERROR_INTERNET_FORCE_RETRY) {
    SetOptionFn set = reinterpret_cast<SetOptionFn>(reinterpret_cast<void*>(g_real_set_option));
    set(request, INTERNET_OPTION_PROXY_USERNAME, &g_script.user[0], static_cast<DWORD>(g_script.user.size()));
    set(request, INTERNET_OPTION_PROXY_PASSWORD, &g_script.password[0],
        static_cast<DWORD>(g_script.password.size()));
  }
  return g_script.answer;
}

// Loads the library through the transport, then puts the stand-ins in its
// entry table; the table is filled afresh at the next load.
void UseScriptedDialog(CWinInetMethod& method) {
  ASSERT_TRUE(method.OpenSession());
  TransportLibrary& library = WinInetLibrary();
  g_real_send = library.entries[kHttpSendRequestA];
  g_real_set_option = library.entries[kInternetSetOptionA];
  g_real_query = library.entries[kHttpQueryInfoA];
  g_last_send_failed = false;
  library.entries[kHttpSendRequestA] = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(ScriptedSend));
  library.entries[kHttpQueryInfoA] = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(Status407));
  library.entries[kInternetErrorDlg] = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(ScriptedDialog));
}

// A stand-in for the option query that reports the request as sent through
// a proxy, with g_proxy as the session's setting (empty for an automatic
// configuration); while g_via_proxy is false, the real answers.
std::string g_proxy;
bool g_via_proxy = false;
FARPROC g_real_query_option = nullptr;
typedef BOOL(WINAPI* QueryOptionFn)(HINTERNET, DWORD, LPVOID, LPDWORD);

BOOL WINAPI ProxyQuery(HINTERNET handle, DWORD option, LPVOID buffer, LPDWORD length) {
  if (g_via_proxy && option == INTERNET_OPTION_REQUEST_FLAGS) {
    *static_cast<DWORD*>(buffer) = INTERNET_REQFLAG_VIA_PROXY;
    return TRUE;
  }
  if (g_via_proxy && option == INTERNET_OPTION_PROXY) {
    INTERNET_PROXY_INFO* info = static_cast<INTERNET_PROXY_INFO*>(buffer);
    char* text = reinterpret_cast<char*>(info + 1);
    memcpy(text, g_proxy.c_str(), g_proxy.size() + 1);
    info->dwAccessType = INTERNET_OPEN_TYPE_PROXY;
    info->lpszProxy = reinterpret_cast<LPCTSTR>(text);
    info->lpszProxyBypass = nullptr;
    return TRUE;
  }
  return reinterpret_cast<QueryOptionFn>(reinterpret_cast<void*>(g_real_query_option))(handle, option, buffer,
                                                                                         length);
}

// Stand-ins that watch one request handle: the size query before a read
// asks for Cancel and returns only once the caller has closed the handle,
// as a call that outlives its caller's wait does.
struct WatchedRequest {
  HINTERNET handle = nullptr;
  volatile LONG reads = 0, closes = 0;
  HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE returned = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  FARPROC read = nullptr, close = nullptr;
};
WatchedRequest* g_watched = nullptr;

BOOL WINAPI AvailableAfterCaller(HINTERNET request, LPDWORD size, DWORD, DWORD_PTR) {
  g_watched->handle = request;
  SetCancelRequested(true);
  WaitForSingleObject(g_watched->closed, 10000);
  *size = 5;
  SetEvent(g_watched->returned);
  return TRUE;
}
BOOL WINAPI CountedRead(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD count) {
  if (request == g_watched->handle) InterlockedIncrement(&g_watched->reads);
  return reinterpret_cast<InternetReadFileFn>(reinterpret_cast<void*>(g_watched->read))(request, buffer, size, count);
}
BOOL WINAPI CountedClose(HINTERNET handle) {
  if (handle == g_watched->handle) {
    InterlockedIncrement(&g_watched->closes);
    SetEvent(g_watched->closed);
  }
  return reinterpret_cast<InternetCloseFn>(reinterpret_cast<void*>(g_watched->close))(handle);
}

class WinInetMethodTest : public ::testing::Test {
 protected:
  // No test meets credentials held from another.
  void SetUp() override { ForgetHeldProxyCredentials(); }
  // A connection to address with base path "/d/" and no transports of its
  // own: each test builds the transports it looks at. Connected means after
  // the connection test, when sends are not bounded.
  std::unique_ptr<HostConnection> Connection(const std::string& address, bool connected = false,
                                             HWND owner = nullptr) {
    std::unique_ptr<HostConnection> connection(
        new HostConnection(address.c_str(), owner, "/d/"));
    connection->connected = connected;
    return connection;
  }
  ScratchFolder folder_;
};

TEST_F(WinInetMethodTest, OneSessionServesTwoDownloadsAndAnErrorPageIsNoFile) {
  HttpTestServer server(20, 1);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/d/a.txt", "alpha");
  server.ServePath("/d/gone.txt", HttpReply::Status(404, "Not Found", "no such file"));
  LogCapture log;
  auto connection = Connection(server.Address());
  CWinInetMethod method(*connection);
  EXPECT_STREQ("WinInet", method.Kind());

  // The first send runs on the bounded sending thread (connection test), the
  // second directly.
  std::string first = folder_.File("first.txt"), second = folder_.File("second.txt");
  ASSERT_TRUE(method.GetFile("a.txt?x=1", first.c_str()));
  void* session = method.Session();
  void* server_connection = method.Connection();
  EXPECT_NE(nullptr, session);
  EXPECT_NE(nullptr, server_connection);
  connection->connected = true;
  ASSERT_TRUE(WriteWholeFile(second, "older and longer content"));
  EXPECT_FALSE(method.GetFile("gone.txt", second.c_str()));
  EXPECT_EQ(session, method.Session());
  EXPECT_EQ(server_connection, method.Connection());

  EXPECT_EQ("alpha", ReadWholeFile(first));
  EXPECT_FALSE(FileExists(second));  // neither the page nor the old content
  ASSERT_EQ(2u, server.Targets().size());
  EXPECT_EQ("/d/a.txt?x=1", server.Targets()[0]);
  EXPECT_EQ("/d/gone.txt", server.Targets()[1]);
  const std::string request = server.Requests()[0];
  EXPECT_EQ(0u, request.find("GET /d/a.txt?x=1 HTTP/1.1\r\n")) << request;
  EXPECT_NE(std::string::npos, request.find("User-Agent: Quorvale Connection\r\n")) << request;
  EXPECT_NE(std::string::npos, request.find("no-cache")) << request;
  EXPECT_EQ(std::string::npos, request.find("Authorization")) << request;

  // Loaded once, from the system directory, and each download announced.
  EXPECT_EQ(1, log.Count(SystemLibraryPath("wininet.dll"))) << log.Text();
  EXPECT_TRUE(log.Contains("CWinInetMethod::GetFile /d/, a.txt?x=1\r\n")) << log.Text();
  EXPECT_TRUE(log.Contains("CWinInetMethod::GetFile /d/, gone.txt\r\n")) << log.Text();
  EXPECT_TRUE(log.Contains("Http Status 404\r\n")) << log.Text();
}

TEST_F(WinInetMethodTest, CredentialsAreSetOnlyWhenNotEmptyAndChallengesAreNoFiles) {
  // A 407 with a Basic proxy challenge at "p", a 401 with a Basic site
  // challenge at "s".
  auto serve_challenges = [](HttpTestServer& server) {
    server.ServePath("/d/p", HttpReply::Status(407, "Proxy Authentication Required", "proxy says no",
                                               "Proxy-Authenticate: Basic realm=\"gate\"\r\n"));
    server.ServePath("/d/s", HttpReply::Status(401, "Unauthorized", "site says no",
                                               "WWW-Authenticate: Basic realm=\"site\"\r\n"));
  };
  std::string file = folder_.File("answer.txt");
  // The 407 reaches the credentials dialog, which the user declines; the
  // challenge pages are never stored.
  auto fetch_both = [&](CWinInetMethod& method) {
    g_script = DialogScript();
    g_script.sends_to_fail = 0;
    g_script.answer = ERROR_CANCELLED;
    UseScriptedDialog(method);
    EXPECT_FALSE(method.GetFile("p", file.c_str()));
    EXPECT_FALSE(FileExists(file));
    EXPECT_EQ(1, g_script.dialogs);
    // The dialog gets an error code, never the status: no error after a send
    // that succeeded, so that it finds the challenge itself.
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), g_script.error_seen);
    EXPECT_FALSE(method.GetFile("s", file.c_str()));
    EXPECT_FALSE(FileExists(file));
    EXPECT_EQ(1, g_script.dialogs);
  };
  {
    // Empty proxy and site credentials: no request carries a credential.
    HttpTestServer server(20, 2);
    ASSERT_TRUE(server.Ok());
    serve_challenges(server);
    auto connection = Connection(server.Address(), true);
    connection->proxy_user.Assign("");
    connection->proxy_password.Assign("");
    CWinInetMethod method(*connection);
    fetch_both(method);
    EXPECT_EQ(2u, server.Requests().size());
    EXPECT_FALSE(AnyRequestContains(server, "Authorization"));
  }
  {
    // The same challenges with credentials present: the library answers them
    // with what was set on the request.
    HttpTestServer server(20, 3);
    ASSERT_TRUE(server.Ok());
    serve_challenges(server);
    auto connection = Connection(server.Address(), true);
    connection->proxy_user.Assign("u");
    connection->proxy_password.Assign("p");
    connection->site_user.Assign("s");
    connection->site_password.Assign("t");
    CWinInetMethod method(*connection);
    fetch_both(method);
    EXPECT_TRUE(AnyRequestContains(server, "Proxy-Authorization: Basic dTpw\r\n"));  // u:p
    EXPECT_TRUE(AnyRequestContains(server, "\r\nAuthorization: Basic czp0\r\n"));     // s:t
  }
}

// Only a sound 200 answer read to its announced end is a download.
TEST_F(WinInetMethodTest, OnlyAWhole200AnswerIsStored) {
  HttpTestServer server(20, 7);
  ASSERT_TRUE(server.Ok());
  const std::string challenge = "Proxy-Authenticate: Basic realm=\"x\"\r\n";
  struct Case {
    const char* name;
    HttpReply reply;
    const char* log;  // the line the failure prints; null for a success
    std::string stored;
  } cases[] = {
      {"500", HttpReply::Status(500, "Internal Server Error", "broken"), "Http Status 500\r\n", ""},
      {"206", HttpReply::Status(206, "Partial Content", "part", "Content-Range: bytes 0-3/10\r\n"),
       "Http Status 206\r\n", ""},
      {"203", HttpReply::Status(203, "Non-Authoritative Information", "other"), "Http Status 203\r\n", ""},
      {"body cut before its length", HttpReply::Canned("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc"),
       "Content-Length 10, received 3,WinInetMethod\r\n", ""},
      {"garbage length", HttpReply::Canned("HTTP/1.0 200 OK\r\nContent-Length: 3x\r\n\r\nabc"),
       "Content-Length,WinInetMethod 197, 0xd\r\n", ""},
      {"no length, read to the close", HttpReply::Canned("HTTP/1.0 200 OK\r\n\r\nto the end"), nullptr,
       "to the end"},
      {"challenge text in a page", HttpReply::Canned("HTTP/1.0 200 OK\r\n\r\n" + challenge), nullptr, challenge},
      {"bytes past the length", HttpReply::Canned("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef"), nullptr,
       "abc"},
      {"empty by its length", HttpReply::Canned("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"), nullptr, ""},
  };
  auto connection = Connection(server.Address(), true);
  CWinInetMethod method(*connection);
  g_script = DialogScript();
  g_script.sends_to_fail = 0;
  UseScriptedDialog(method);
  std::string file = folder_.File("answer.txt");
  for (Case& c : cases) {
    LogCapture log;
    ASSERT_TRUE(WriteWholeFile(file, "older content"));
    server.QueueReply(c.reply);
    EXPECT_EQ(c.log == nullptr, method.GetFile("a.txt", file.c_str())) << c.name;
    if (c.log) {
      EXPECT_TRUE(log.Contains(c.log)) << c.name << ": " << log.Text();
      EXPECT_FALSE(FileExists(file)) << c.name;
    } else {
      EXPECT_EQ(c.stored, ReadWholeFile(file)) << c.name;
    }
  }
  EXPECT_EQ(0, g_script.dialogs);
}

TEST_F(WinInetMethodTest, ALongBodyIsStoredWhole) {
  HttpTestServer server(20, 4);
  ASSERT_TRUE(server.Ok());
  const unsigned long long size = 3 * 1024 * 1024 + 123;  // not a multiple of the read size
  server.ServePath("/d/big", HttpReply::LargeBody(size));
  auto connection = Connection(server.Address(), true);
  CWinInetMethod method(*connection);
  std::string file = folder_.File("big.bin");
  ASSERT_TRUE(method.GetFile("big", file.c_str()));
  std::string stored = ReadWholeFile(file);
  ASSERT_EQ(size, stored.size());
  for (unsigned long long i = 0; i < size; i += 4093)
    ASSERT_EQ(HttpReply::PatternByte(i), stored[i]) << "byte " << i;
  EXPECT_EQ(HttpReply::PatternByte(size - 1), stored[size - 1]);
}

TEST_F(WinInetMethodTest, FailuresPrintTheirStepAndLeaveTheOutputFileAsTheyFoundIt) {
  HttpTestServer server(20, 5);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/d/a.txt", "alpha");
  auto connection = Connection(server.Address(), true);
  CWinInetMethod method(*connection);
  {
    // A path that does not fit the URL buffer is refused, not sent cut.
    LogCapture log;
    std::string file = folder_.File("long.txt");
    std::string path(300, 'x');
    EXPECT_FALSE(method.GetFile(path.c_str(), file.c_str()));
    EXPECT_FALSE(FileExists(file));
    EXPECT_TRUE(log.Contains("HttpOpenRequest,WinInetMethod 182, 0x7a\r\n")) << log.Text();
  }
  {
    LogCapture log;
    std::string file = folder_.File("no such folder\\a.txt");
    EXPECT_FALSE(method.GetFile("a.txt", file.c_str()));
    EXPECT_TRUE(log.Contains("CNewFile,WinInetMethod 184, 0x3\r\n")) << log.Text();
  }
  EXPECT_EQ(0, server.ConnectionCount());
  // The same object still works afterwards.
  std::string file = folder_.File("after.txt");
  EXPECT_TRUE(method.GetFile("a.txt", file.c_str()));
  EXPECT_EQ("alpha", ReadWholeFile(file));
}

TEST_F(WinInetMethodTest, NothingListeningFailsTheSendDuringTheConnectionTest) {
  // No server on this address: the bounded send fails at once with the
  // library's own error, well inside the limit.
  LogCapture log;
  auto connection = Connection(TestAddress(20, 9));
  CWinInetMethod method(*connection);
  std::string file = folder_.File("refused.txt");
  DWORD start = GetTickCount();
  EXPECT_FALSE(method.GetFile("a.txt", file.c_str()));
  EXPECT_LT(GetTickCount() - start, 15000u);
  EXPECT_FALSE(FileExists(file));
  // The status is looked at, and the line still names the send's own error
  // (ERROR_INTERNET_CANNOT_CONNECT), not that of the status query.
  EXPECT_TRUE(log.Contains("Waypoint 0\r\n")) << log.Text();
  EXPECT_TRUE(log.Contains("SendRequest,WinInetMethod 192, 0x2efd\r\n")) << log.Text();
}

TEST_F(WinInetMethodTest, TheLastTransportReleasesTheLibraryAndTheNextGetFileLoadsItAgain) {
  HttpTestServer server(20, 6);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/d/a.txt", "alpha");
  auto connection = Connection(server.Address(), true);
  std::string file = folder_.File("a.txt");
  ASSERT_FALSE(IsTransportLibraryLoaded(WinInetLibrary()));

  std::unique_ptr<DownloadMethod> first(new CWinInetMethod(*connection));
  std::unique_ptr<DownloadMethod> second(new CWinInetMethod(*connection));
  EXPECT_FALSE(IsTransportLibraryLoaded(WinInetLibrary()));  // loading waits for a GetFile
  ASSERT_TRUE(first->GetFile("a.txt", file.c_str()));
  EXPECT_TRUE(IsTransportLibraryLoaded(WinInetLibrary()));
  first.reset();
  EXPECT_TRUE(IsTransportLibraryLoaded(WinInetLibrary()));
  ASSERT_TRUE(second->GetFile("a.txt", file.c_str()));  // its own session on the kept library
  second.reset();
  EXPECT_FALSE(IsTransportLibraryLoaded(WinInetLibrary()));
  EXPECT_EQ(0, WinInetLibrary().live);

  LogCapture log;
  std::unique_ptr<DownloadMethod> third(new CWinInetMethod(*connection));
  ASSERT_TRUE(third->GetFile("a.txt", file.c_str()));
  EXPECT_TRUE(IsTransportLibraryLoaded(WinInetLibrary()));
  EXPECT_EQ(1, log.Count(SystemLibraryPath("wininet.dll"))) << log.Text();
  EXPECT_EQ("alpha", ReadWholeFile(file));
}

TEST_F(WinInetMethodTest, AProxyChallengeAnsweredInTheDialogStoresTheCredentialsAndSendsAgain) {
  HttpTestServer server(20, 8);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/d/a.txt", "alpha");
  std::string file = folder_.File("a.txt");
  HWND owner = GetDesktopWindow();
  {
    // A password longer than the name, and both longer than a hundred
    // characters: each is read back whole.
    g_script = DialogScript();
    g_script.user = std::string(150, 'u');
    g_script.password = std::string(400, 'p') + "!";
    auto connection = Connection(server.Address(), true, owner);
    CWinInetMethod method(*connection);
    UseScriptedDialog(method);
    LogCapture log;
    ASSERT_TRUE(method.GetFile("a.txt", file.c_str()));
    EXPECT_EQ("alpha", ReadWholeFile(file));
    EXPECT_EQ(2, g_script.sends);
    EXPECT_EQ(1, g_script.dialogs);
    EXPECT_EQ(owner, g_script.owner_seen);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INTERNET_INCORRECT_PASSWORD), g_script.error_seen);
    EXPECT_EQ(7u, g_script.flags_seen);
    EXPECT_EQ(g_script.user, connection->proxy_user.Text());
    EXPECT_EQ(g_script.password, connection->proxy_password.Text());
    EXPECT_EQ("CWinInetMethod::GetFile /d/, a.txt\r\nWaypoint 0\r\nWaypoint 1\r\nWaypoint 2\r\nWaypoint 3\r\n", log.Text());
  }
  {
    // Declined: no second send, nothing stored.
    ForgetHeldProxyCredentials();
    g_script = DialogScript();
    g_script.answer = ERROR_CANCELLED;
    auto connection = Connection(server.Address(), true, owner);
    CWinInetMethod method(*connection);
    UseScriptedDialog(method);
    LogCapture log;
    EXPECT_FALSE(method.GetFile("a.txt", file.c_str()));
    EXPECT_EQ(1, g_script.sends);
    EXPECT_FALSE(connection->proxy_user.IsPresent());
    EXPECT_FALSE(connection->proxy_password.IsPresent());
    EXPECT_TRUE(log.Contains("Waypoint 3\r\nSendRequest,WinInetMethod 192, 0x2eee\r\n")) << log.Text();
  }
  {
    // Answered, but the second send fails too.
    ForgetHeldProxyCredentials();
    g_script = DialogScript();
    g_script.sends_to_fail = 2;
    g_script.user = "u";
    g_script.password = "p";
    auto connection = Connection(server.Address(), true, owner);
    CWinInetMethod method(*connection);
    UseScriptedDialog(method);
    LogCapture log;
    EXPECT_FALSE(method.GetFile("a.txt", file.c_str()));
    EXPECT_EQ(2, g_script.sends);
    EXPECT_STREQ("u", connection->proxy_user.Text());
    EXPECT_TRUE(log.Contains("2nd SendRequest,WinInetMethod 191, 0x2eee\r\n")) << log.Text();
  }
  EXPECT_EQ(1, server.ConnectionCount());
}

// The platform's library answers a proxy's 407 through a successful send:
// that answer takes the same dialog path.
TEST_F(WinInetMethodTest, AProxyChallengeAsTheAnswerReachesTheDialog) {
  HttpTestServer server(20, 10);
  ASSERT_TRUE(server.Ok());
  const HttpReply challenge = HttpReply::Status(407, "Proxy Authentication Required", "proxy page",
                                                "Proxy-Authenticate: Basic realm=\"gate\"\r\n");
  server.ServeFile("/d/a.txt", "alpha");
  std::string file = folder_.File("a.txt");
  {
    g_script = DialogScript();
    g_script.sends_to_fail = 0;
    g_script.user = "u";
    g_script.password = "p";
    server.QueueReply(challenge);
    auto connection = Connection(server.Address(), true);
    CWinInetMethod method(*connection);
    UseScriptedDialog(method);
    ASSERT_TRUE(method.GetFile("a.txt", file.c_str()));
    EXPECT_EQ("alpha", ReadWholeFile(file));
    EXPECT_EQ(1, g_script.dialogs);
    EXPECT_EQ(2, g_script.sends);
    EXPECT_STREQ("u", connection->proxy_user.Text());
    EXPECT_STREQ("p", connection->proxy_password.Text());
  }
  {
    // Declined: the challenge page is not the file.
    ForgetHeldProxyCredentials();
    g_script = DialogScript();
    g_script.sends_to_fail = 0;
    g_script.answer = ERROR_CANCELLED;
    server.QueueReply(challenge);
    auto connection = Connection(server.Address(), true);
    CWinInetMethod method(*connection);
    UseScriptedDialog(method);
    LogCapture log;
    ASSERT_TRUE(WriteWholeFile(file, "old"));
    EXPECT_FALSE(method.GetFile("a.txt", file.c_str()));
    EXPECT_FALSE(FileExists(file));
    EXPECT_EQ(1, g_script.dialogs);
    EXPECT_EQ(1, g_script.sends);
    EXPECT_FALSE(connection->proxy_user.IsPresent());
    EXPECT_TRUE(log.Contains("Http Status 407\r\n")) << log.Text();
  }
}

// Credentials typed for one proxy go to that proxy alone: a request through
// another, or through one the platform does not name, asks the user again.
TEST_F(WinInetMethodTest, HeldProxyCredentialsGoOnlyToTheirProxy) {
  HttpTestServer server(20, 13);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/d/a.txt", "alpha");
  std::string file = folder_.File("a.txt");
  const char kA[] = "127.0.0.1:3128";
  const char kList[] = "http=127.0.0.1:3128 https=127.0.0.1:3128";
  struct Row {
    const char* name;
    const char* proxy;
    const char* typed;  // the name typed in the dialog (password "p"), or null: declined
    int dialogs;
    const char* sent;  // the proxy name put on the request, or null: none, not fetched
  } rows[] = {
      {"typed for A", kA, "u", 1, "u"},
      {"A again: held", kA, nullptr, 0, "u"},
      {"B: asked", "127.0.0.2:3128", nullptr, 1, nullptr},
      {"a list: typed, not held", kList, "v", 1, "v"},
      {"the list again: asked", kList, nullptr, 1, nullptr},
      {"automatic: typed, not held", "", "w", 1, "w"},
      {"automatic again: asked", "", nullptr, 1, nullptr},
      {"A still held", kA, nullptr, 0, "u"},
  };
  for (const Row& row : rows) {
    g_script = DialogScript();
    g_script.answer = row.typed ? ERROR_INTERNET_FORCE_RETRY : ERROR_CANCELLED;
    g_script.user = row.typed ? row.typed : "";
    g_script.password = "p";
    g_proxy = row.proxy;
    g_via_proxy = true;
    auto connection = Connection(server.Address(), true);
    CWinInetMethod method(*connection);
    UseScriptedDialog(method);
    g_real_query_option = WinInetLibrary().entries[kInternetQueryOptionA];
    WinInetLibrary().entries[kInternetQueryOptionA] = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(ProxyQuery));
    EXPECT_EQ(row.sent != nullptr, method.GetFile("a.txt", file.c_str())) << row.name;
    EXPECT_EQ(row.dialogs, g_script.dialogs) << row.name;
    EXPECT_STREQ(row.sent, connection->proxy_user.IsPresent() ? connection->proxy_user.Text() : nullptr) << row.name;
    if (row.sent) EXPECT_STREQ("p", connection->proxy_password.Text()) << row.name;
  }
  g_via_proxy = false;
}

// A read left on Cancel while its first call is still in the library: that
// call returns after the caller closed the request, and nothing more is
// asked of the handle, whose value the library may have given to another.
TEST_F(WinInetMethodTest, ALeftReadMakesNoFurtherCallOnItsHandle) {
  HttpTestServer server(20, 12);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/d/a.txt", "alpha");
  auto connection = Connection(server.Address(), true);
  CWinInetMethod method(*connection);
  ASSERT_TRUE(method.OpenSession());
  WatchedRequest watched;
  g_watched = &watched;
  TransportLibrary& library = WinInetLibrary();
  watched.read = library.entries[kInternetReadFile];
  watched.close = library.entries[kInternetCloseHandle];
  library.entries[kInternetQueryDataAvailable] =
      reinterpret_cast<FARPROC>(reinterpret_cast<void*>(AvailableAfterCaller));
  library.entries[kInternetReadFile] = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(CountedRead));
  library.entries[kInternetCloseHandle] = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(CountedClose));
  LogCapture log;
  std::string file = folder_.File("a.txt");
  EXPECT_FALSE(method.GetFile("a.txt", file.c_str()));
  SetCancelRequested(false);
  EXPECT_TRUE(log.Contains("InternetReadFile,WinInetMethod 199, 0x4c7\r\n")) << log.Text();
  // The size query came back after the close; give the thread time for a
  // read it must not make.
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watched.returned, 10000));
  Sleep(300);
  EXPECT_EQ(0, watched.reads);
  EXPECT_EQ(1, watched.closes);
  EXPECT_FALSE(FileExists(file));
}

// Over TLS the platform judges the certificate: each fault fails with its
// own code, as a secure failure, and leaves no file; nothing falls back to
// plain http, and a redirect may move within TLS but never leave it.
TEST_F(WinInetMethodTest, HttpsIsFetchedOverTlsOrNotAtAll) {
  using namespace testing_support;
  const HostConnection::Failure secure = HostConnection::kSecureFailure;
  const TlsCase cases[] = {
      {"good", kGoodCertificate, "a.txt", nullptr, secure},
      {"redirect within TLS", kGoodCertificate, "to-https.txt", nullptr, secure},
      {"untrusted", kUntrustedAuthority, "a.txt", "SendRequest,WinInetMethod 192, 0x2f0d\r\n", secure},
      {"wrong name", kWrongName, "a.txt", "SendRequest,WinInetMethod 192, 0x2f06\r\n", secure},
      {"expired", kExpired, "a.txt", "SendRequest,WinInetMethod 192, 0x2f05\r\n", secure},
      {"self-signed", kSelfSigned, "a.txt", "SendRequest,WinInetMethod 192, 0x2f0d\r\n", secure},
      {"TLS 1.3 only", kTls13Only, "a.txt", "SendRequest,WinInetMethod 192, 0x2f7d\r\n", secure},
      {"redirect to http", kGoodCertificate, "to-http.txt", "Secure,WinInetMethod 194, 0x2f08\r\n", secure},
  };
  RunTlsTable<CWinInetMethod>(140, cases, sizeof cases / sizeof cases[0]);
}

}  // namespace
