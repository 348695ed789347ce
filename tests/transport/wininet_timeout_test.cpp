// The time limits of the WinInet and URL download transports (slow: twenty
// and forty seconds).
#include <winsock2.h>  // the test server needs it before windows.h

#include "transport/wininet_method.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "tests/transport/log_capture.h"
#include "transport/host_connection.h"
#include "transport/url_download_method.h"

using testing_support::FileExists;
using testing_support::HttpReply;
using testing_support::HttpTestServer;
using testing_support::LogCapture;
using testing_support::ScratchFolder;

namespace {

int ThreadsOfThisProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  CloseHandle(snapshot);
  return count;
}

// A fault on another thread (such as a send returning into an unloaded
// library) is noted and that thread ended, so that the test can tell.
volatile LONG g_faults = 0;
LONG WINAPI NoteFault(EXCEPTION_POINTERS*) {
  InterlockedIncrement(&g_faults);
  ExitThread(1);
}

TEST(WinInetSendLimit, ANeverAnsweringServerEndsTheSendAfterTwentySeconds) {
  ScratchFolder folder;
  LPTOP_LEVEL_EXCEPTION_FILTER previous_filter = SetUnhandledExceptionFilter(NoteFault);
  std::unique_ptr<HttpTestServer> server(new HttpTestServer(20, 7));
  ASSERT_TRUE(server->Ok());
  server->SetScript(HttpReply::NeverAnswer());
  LogCapture log;
  HostConnection connection(server->Address().c_str(), nullptr, "/d/");
  std::unique_ptr<CWinInetMethod> method(new CWinInetMethod(connection));
  std::string file = folder.File("silent.txt");
  const int threads_before = ThreadsOfThisProcess();
  DWORD start = GetTickCount();
  EXPECT_FALSE(method->GetFile("a.txt", file.c_str()));
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 19500u);
  EXPECT_LT(elapsed, 26000u);
  EXPECT_EQ(1, server->ConnectionCount());
  EXPECT_FALSE(FileExists(file));  // a failed download leaves no file
  // The request handle is gone after the time-out, so the status query fails
  // before the send's line reports the time-out.
  std::string text = log.Text();
  size_t query = text.find("HttpQueryInfo,WinInetMethod 106, 0x");
  size_t send = text.find("SendRequest,WinInetMethod 192, 0x2ee2\r\n");
  ASSERT_NE(std::string::npos, query) << text;
  ASSERT_NE(std::string::npos, send) << text;
  EXPECT_LT(query, send);

  // Wine's send outlives the closed request. With the transport gone and its
  // library released, the server's close lets that send return into library
  // code the sending thread still holds, and the thread ends.
  method.reset();
  EXPECT_FALSE(IsTransportLibraryLoaded(WinInetLibrary()));
  server.reset();
  int threads = ThreadsOfThisProcess();
  for (int i = 0; i < 50 && threads > threads_before; ++i) {
    Sleep(100);
    threads = ThreadsOfThisProcess();
  }
  EXPECT_LE(threads, threads_before);
  EXPECT_EQ(0, g_faults);
  SetUnhandledExceptionFilter(previous_filter);
}

// A silent answer or a body that stops halfway ends each transport's wait
// after its limit, while a body that keeps coming a byte at a time is stored
// however long it takes in all; the rows run side by side.
TEST(TransferLimits, EveryWaitEndsAfterItsLimit) {
  HttpReply halfway = HttpReply::Canned("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nthe first part");
  halfway.hold_open = true;
  // 48 bytes a second apart: longer than the limit in all, never silent for long.
  std::vector<std::string> trickle = {"HTTP/1.1 200 OK\r\nContent-Length: 48\r\n\r\n"};
  trickle.resize(49, "x");
  HttpReply slow = HttpReply::Chunks(trickle, 1000);
  struct Row {
    const char* name;
    bool url_download;
    bool connected;
    HttpReply reply;
    DWORD limit_ms;
    const char* line;
    DWORD elapsed = 0;
    bool result = true;
  } rows[] = {
      {"WinInet answer", false, true, HttpReply::NeverAnswer(), 40000, "SendRequest,WinInetMethod 192, 0x2ee2\r\n"},
      {"WinInet body", false, true, halfway, 40000, "InternetReadFile,WinInetMethod 199, 0x2ee2\r\n"},
      {"URL contact", true, false, HttpReply::NeverAnswer(), 20000, "Time-out,URLDownLoadMethod 45, 0x2ee2\r\n"},
      {"URL body", true, true, halfway, 40000, "Time-out,URLDownLoadMethod 45, 0x2ee2\r\n"},
      // Wine's URL download tells nothing of such a body (no progress, no
      // growth of its file) before it ends: only WinInet's row can pass here.
      {"WinInet trickle", false, true, slow, 0, nullptr},
  };
  ScratchFolder folder;
  LogCapture log;
  std::vector<std::unique_ptr<HttpTestServer>> servers;
  std::vector<std::unique_ptr<HostConnection>> connections;
  std::vector<std::unique_ptr<DownloadMethod>> methods;
  for (Row& row : rows) {
    servers.emplace_back(new HttpTestServer(20, 11 + static_cast<int>(servers.size())));
    ASSERT_TRUE(servers.back()->Ok());
    servers.back()->SetScript(row.reply);
    connections.emplace_back(
        new HostConnection(servers.back()->Address().c_str(), nullptr, "/d/"));
    connections.back()->connected = row.connected;
    if (row.url_download)
      methods.emplace_back(new CURLDownLoadMethod(*connections.back()));
    else
      methods.emplace_back(new CWinInetMethod(*connections.back()));
  }
  // The libraries are loaded before the rows share them.
  ASSERT_TRUE(static_cast<CWinInetMethod*>(methods[0].get())->OpenSession());
  ASSERT_TRUE(LoadTransportLibrary(UrlMonikerLibrary(), "URLMON.DLL"));
  // A body's wait counts from the server's last bytes: in a prefix that has
  // just been made, Wine's URL download may take ten seconds to connect.
  std::vector<std::thread> threads;
  for (size_t i = 0; i < methods.size(); ++i) {
    threads.emplace_back([&, i] {
      DWORD start = GetTickCount();
      rows[i].result = methods[i]->GetFile("a.txt", folder.File(std::to_string(i)).c_str());
      DWORD sent = servers[i]->LastSendTick();
      rows[i].elapsed = GetTickCount() - (sent ? sent : start);
    });
  }
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < methods.size(); ++i) {
    const Row& row = rows[i];
    if (!row.line) {
      // Stored whole.
      EXPECT_TRUE(row.result) << row.name << ": " << log.Text();
      EXPECT_EQ(std::string(48, 'x'), testing_support::ReadWholeFile(folder.File(std::to_string(i)))) << row.name;
      continue;
    }
    EXPECT_FALSE(row.result) << row.name;
    EXPECT_GE(row.elapsed, row.limit_ms - 500) << row.name;
    EXPECT_LT(row.elapsed, row.limit_ms + 6000) << row.name;
    EXPECT_FALSE(FileExists(folder.File(std::to_string(i)))) << row.name;
    EXPECT_TRUE(log.Contains(row.line)) << row.name << ": " << log.Text();
  }
}

}  // namespace
