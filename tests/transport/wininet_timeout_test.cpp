// The WinInet transport's send limit during the connection test (slow: the
// limit is twenty seconds).
#include <winsock2.h>  // the test server needs it before windows.h

#include "transport/wininet_method.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

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
  HostConnection connection(server->Address().c_str(), nullptr, "/d/", HostConnection::NoTransports());
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

}  // namespace
