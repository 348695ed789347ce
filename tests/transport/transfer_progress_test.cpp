// What each transport reports while a slow download runs, and how soon it
// gives up once the user cancels, in a download and in a contact.
#include <winsock2.h>  // the test server needs it before windows.h

#include <gtest/gtest.h>
#include <stdio.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/cancel_flag.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "transport/host_connection.h"
#include "transport/socket_method.h"
#include "transport/url_download_method.h"
#include "transport/wininet_method.h"

using testing_support::FileExists;
using testing_support::HttpReply;
using testing_support::HttpTestServer;
using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;

namespace {

struct RecordingSink : TransferProgress {
  void Report(uint64_t done, uint64_t total) override { reports.emplace_back(done, total); }
  std::vector<std::pair<uint64_t, uint64_t>> reports;
};

// Sets the cancel flag after delay_ms and notes when; clears it again at the end.
class CancelLater {
 public:
  explicit CancelLater(DWORD delay_ms)
      : thread_([this, delay_ms] {
          Sleep(delay_ms);
          at_ = GetTickCount();
          SetCancelRequested(true);
        }) {}
  ~CancelLater() {
    thread_.join();
    SetCancelRequested(false);
  }
  // Milliseconds from the cancel to now.
  DWORD Since() { return GetTickCount() - at_.load(); }

 private:
  std::atomic<DWORD> at_{0};
  std::thread thread_;
};

int FilesIn(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return -1;
  int count = 0;
  do count += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  while (FindNextFileA(search, &found));
  FindClose(search);
  return count;
}

enum Kind { kWinInet, kSocket, kUrlMoniker };
const char* const kKindNames[] = {"WinInet", "Socket", "URLDownLoad"};

DownloadMethod* MakeTransport(Kind kind, HostConnection& connection) {
  if (kind == kWinInet) return new CWinInetMethod(connection);
  if (kind == kSocket) return new CSocketMethod(connection);
  return new CURLDownLoadMethod(connection);
}

class TransferProgressTest : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    server_.reset(new HttpTestServer(22, 1 + GetParam()));
    ASSERT_TRUE(server_->Ok());
    connection_.reset(new HostConnection(server_->Address().c_str(), nullptr, "/d/"));
    connection_->connected = true;
    transport_.reset(MakeTransport(GetParam(), *connection_));
    ASSERT_STREQ(kKindNames[GetParam()], transport_->Kind());
  }
  // 3 MiB in 24 pieces, one every 125 ms.
  std::string ServeSlowly(bool with_length) {
    std::string body(3 * 1024 * 1024, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = HttpReply::PatternByte(i);
    std::vector<std::string> chunks = {
        "HTTP/1.1 200 OK\r\n" +
        (with_length ? "Content-Length: " + std::to_string(body.size()) + "\r\n" : std::string()) +
        "Connection: close\r\n\r\n"};
    for (size_t at = 0; at < body.size(); at += body.size() / 24) chunks.push_back(body.substr(at, body.size() / 24));
    server_->ServePath("/d/slow.bin", HttpReply::Chunks(chunks, 125));
    return body;
  }
  bool Get() { return transport_->GetFile("slow.bin?Rand=3", File().c_str()); }
  std::string File() { return folder_.File("slow.bin"); }

  ScratchFolder folder_;
  std::unique_ptr<HttpTestServer> server_;
  std::unique_ptr<HostConnection> connection_;
  std::unique_ptr<DownloadMethod> transport_;
};

TEST_P(TransferProgressTest, ReportsRisingCountsWithTheAnnouncedTotal) {
  for (bool with_length : {true, false}) {
    SCOPED_TRACE(with_length ? "with Content-Length" : "without Content-Length");
    std::string body = ServeSlowly(with_length);
    RecordingSink sink;
    connection_->progress = &sink;
    ASSERT_TRUE(Get());
    connection_->progress = nullptr;
    EXPECT_TRUE(ReadWholeFile(File()) == body);
    ASSERT_FALSE(sink.reports.empty());
    int rises = 0;
    for (size_t i = 0; i < sink.reports.size(); ++i) {
      EXPECT_EQ(with_length ? body.size() : 0u, sink.reports[i].second) << i;
      if (i == 0) continue;
      EXPECT_GE(sink.reports[i].first, sink.reports[i - 1].first) << i;
      rises += sink.reports[i].first > sink.reports[i - 1].first;
    }
    // The pieces arrive an eighth of a second apart: the counts follow them.
    EXPECT_GE(rises, 10);
    EXPECT_EQ(body.size(), sink.reports.back().first);
  }
  // Without a sink the transfer is the same.
  std::string body = ServeSlowly(true);
  ASSERT_TRUE(Get());
  EXPECT_TRUE(ReadWholeFile(File()) == body);
}

TEST_P(TransferProgressTest, CancelEndsADownloadWithinASecondAndLeavesNoFile) {
  ServeSlowly(true);
  RecordingSink sink;
  connection_->progress = &sink;
  DWORD latency = 0;
  {
    CancelLater cancel(1000);
    EXPECT_FALSE(Get());
    latency = cancel.Since();
  }
  connection_->progress = nullptr;
  printf("%s download cancel latency: %u ms\n", transport_->Kind(), static_cast<unsigned>(latency));
  EXPECT_LT(latency, 1000u);
  EXPECT_FALSE(FileExists(File()));
  // It had begun: the cancel came in the middle.
  ASSERT_FALSE(sink.reports.empty());
  EXPECT_LT(sink.reports.back().first, 3u * 1024 * 1024);

  // The next download, not cancelled, runs whole.
  std::string body = ServeSlowly(false);
  ASSERT_TRUE(Get());
  EXPECT_TRUE(ReadWholeFile(File()) == body);
}

// Every wait of a transfer ends within a second of Cancel: a silent server
// during the connection test, a silent answer after it (the gateway query),
// a body that stops halfway (a download).
TEST_P(TransferProgressTest, CancelEndsEveryWaitWithinASecond) {
  HttpReply halfway = HttpReply::Canned("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nthe first part");
  halfway.hold_open = true;
  struct Phase {
    const char* name;
    bool connected;
    HttpReply reply;
  } phases[] = {
      {"contact", false, HttpReply::NeverAnswer()},
      {"answer", true, HttpReply::NeverAnswer()},
      {"body", true, halfway},
  };
  int connections = 0;
  for (Phase& phase : phases) {
    server_->QueueReply(phase.reply);
    connection_->connected = phase.connected;
    DWORD latency = 0;
    {
      CancelLater cancel(1000);
      EXPECT_FALSE(Get()) << phase.name;
      latency = cancel.Since();
    }
    printf("%s %s cancel latency: %u ms\n", transport_->Kind(), phase.name, static_cast<unsigned>(latency));
    EXPECT_LT(latency, 1000u) << phase.name;
    EXPECT_EQ(++connections, server_->ConnectionCount()) << phase.name;
    EXPECT_FALSE(FileExists(File())) << phase.name;
  }
  // Threads left inside a call end with the server, and delete the files of
  // their attempts.
  server_.reset();
  int left = -1;
  for (int i = 0; i < 50 && (left = FilesIn(folder_.Path())) != 0; ++i) Sleep(100);
  EXPECT_EQ(0, left);
}

INSTANTIATE_TEST_SUITE_P(Transports, TransferProgressTest, ::testing::Values(kWinInet, kSocket, kUrlMoniker),
                         [](const ::testing::TestParamInfo<Kind>& info) { return std::string(kKindNames[info.param]); });

}  // namespace
