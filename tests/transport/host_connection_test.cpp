// The connection test and the downloads of a connection, driven with
// scripted transports that record what they were asked.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/cancel_flag.h"
#include "tests/support/test_support.h"
#include "tests/transport/log_capture.h"
#include "transport/host_connection.h"
#include "transport/standard_transports.h"

namespace {

struct Call {
  std::string kind;
  std::string path;
  std::string host;
  std::string file;
  TransferProgress* progress;  // the connection's sink during the call
};

// Writes the next scripted body into the local file; an empty script entry
// stands for a failed transfer, "<cancel>" for one the user cancelled.
class ScriptedTransport : public DownloadMethod {
 public:
  ScriptedTransport(const char* kind, HostConnection& connection, std::vector<Call>& calls,
                    std::vector<std::string> bodies)
      : DownloadMethod(kind), connection_(connection), calls_(calls), bodies_(std::move(bodies)) {}
  bool GetFile(const char* path, const char* local_file) override {
    calls_.push_back({Kind(), path, connection_.host.Text(), local_file, connection_.progress});
    std::string body = bodies_.empty() ? std::string() : bodies_.front();
    if (!bodies_.empty()) bodies_.erase(bodies_.begin());
    if (body == "<cancel>") SetCancelRequested(true);
    if (body.empty() || body == "<cancel>") return false;
    return testing_support::WriteWholeFile(local_file, body == "<empty>" ? "" : body);
  }

 private:
  HostConnection& connection_;
  std::vector<Call>& calls_;
  std::vector<std::string> bodies_;
};

const char kPattern[] = "qestorvilanumedra";

// A clock whose fold has ten digits, so path lengths are known.
void TenDigitClock(unsigned short fields[8]) {
  const unsigned short values[8] = {2026, 12, 1, 7, 12, 34, 56, 789};
  for (int i = 0; i < 8; ++i) fields[i] = values[i];
}

class HostConnectionTest : public ::testing::Test {
 protected:
  void Make(const char* host, std::vector<std::string> a, std::vector<std::string> b,
            std::vector<std::string> c) {
    connection_.reset(new HostConnection(host, nullptr, "secure"));
    ASSERT_TRUE(connection_->AdoptTransport(new ScriptedTransport("WinInet", *connection_, calls_, a)));
    ASSERT_TRUE(connection_->AdoptTransport(new ScriptedTransport("Socket", *connection_, calls_, b)));
    ASSERT_TRUE(connection_->AdoptTransport(new ScriptedTransport("URLDownLoad", *connection_, calls_, c)));
  }
  static unsigned RandOf(const std::string& path) {
    size_t at = path.find("Rand=");
    return at == std::string::npos ? 0 : strtoul(path.c_str() + at + 5, nullptr, 10);
  }
  std::vector<Call> calls_;
  std::unique_ptr<HostConnection> connection_;
};

TEST_F(HostConnectionTest, ProductConnectionTriesWinInetThenSocketThenUrlDownload) {
  HostConnection connection("127.0.0.9", nullptr, "x");
  AdoptStandardTransports(connection);
  ASSERT_TRUE(connection.transports[0] && connection.transports[1] && connection.transports[2]);
  EXPECT_STREQ("WinInet", connection.transports[0]->Kind());
  EXPECT_STREQ("Socket", connection.transports[1]->Kind());
  EXPECT_STREQ("URLDownLoad", connection.transports[2]->Kind());
}

TEST_F(HostConnectionTest, WrongTestFilesFailAndEachTransportIsAskedTwiceInOrder) {
  Make("127.0.0.9", {std::string(kPattern) + "\r\n", std::string(kPattern) + "\n"},
       {"QESTORVILANUMEDRA", "qestorvilanumedr"}, {"<empty>", ""});
  EXPECT_FALSE(connection_->FindWorkingTransport());
  EXPECT_FALSE(connection_->connected);
  EXPECT_EQ(nullptr, connection_->chosen);
  ASSERT_EQ(6u, calls_.size());
  const char* order[6] = {"WinInet", "WinInet", "Socket", "Socket", "URLDownLoad", "URLDownLoad"};
  for (size_t i = 0; i < calls_.size(); ++i) {
    EXPECT_EQ(order[i], calls_[i].kind) << i;
    EXPECT_EQ(0u, calls_[i].path.find("test_pattern.txt?Rand=")) << calls_[i].path;
    if (i > 0) EXPECT_EQ(RandOf(calls_[i - 1].path) + 2, RandOf(calls_[i].path));
  }
  // The test files are gone whatever the outcome.
  for (const Call& call : calls_) EXPECT_FALSE(testing_support::FileExists(call.file)) << call.file;
}

TEST_F(HostConnectionTest, SecondAttemptOfTheFirstTransportWinsAndOthersAreNotAsked) {
  Make("127.0.0.9", {"", kPattern}, {kPattern}, {kPattern});
  EXPECT_TRUE(connection_->EnsureConnected());
  EXPECT_TRUE(connection_->connected);
  EXPECT_EQ(connection_->transports[0], connection_->chosen);
  ASSERT_EQ(2u, calls_.size());
  EXPECT_EQ("WinInet", calls_[1].kind);
  EXPECT_FALSE(testing_support::FileExists(calls_[1].file));
  // Connected: no second test.
  EXPECT_TRUE(connection_->EnsureConnected());
  EXPECT_EQ(2u, calls_.size());
}

TEST_F(HostConnectionTest, SecondKnownAddressRunsAgainstTheFamilyHostName) {
  const char* names[4] = {"maker.test", "www.maker.test", "family.test", "www.family.test"};
  const char* addresses[4] = {"127.9.2.1", "127.9.2.1", "127.9.2.2", "127.9.2.2"};
  SetKnownHostsForTesting(names, addresses);
  Make("127.9.2.2", {""}, {"", kPattern, "body"}, {});
  EXPECT_TRUE(connection_->Download("a.txt", testing_support::ScratchFolder().File("a").c_str()));
  SetKnownHostsForTesting(nullptr, nullptr);
  ASSERT_EQ(5u, calls_.size());
  for (const Call& call : calls_) EXPECT_EQ("family.test", call.host) << call.kind << " " << call.path;
  EXPECT_EQ("Socket", calls_[4].kind);
}

TEST_F(HostConnectionTest, DownloadsEscapeSpacesAndAppendRand) {
  Make("127.0.0.9", {kPattern, "1", "2", "3", "4"}, {}, {});
  testing_support::ScratchFolder folder;
  EXPECT_TRUE(connection_->Download("my file.txt", folder.File("f").c_str()));
  EXPECT_TRUE(connection_->Download("a.php?x=1", folder.File("f").c_str()));
  EXPECT_TRUE(connection_->Download("dir/ a b ?q=1 2", folder.File("f").c_str()));
  ASSERT_EQ(4u, calls_.size());
  unsigned first = RandOf(calls_[1].path);
  EXPECT_EQ("my%20file.txt?Rand=" + std::to_string(first), calls_[1].path);
  EXPECT_EQ("a.php?x=1&Rand=" + std::to_string(first + 2), calls_[2].path);
  EXPECT_EQ("dir/%20a%20b%20?q=1%202&Rand=" + std::to_string(first + 4), calls_[3].path);
  EXPECT_EQ("3", testing_support::ReadWholeFile(folder.File("f")));
}

TEST_F(HostConnectionTest, OverlongEncodedPathIsRefusedNotCut) {
  Make("127.0.0.9", {kPattern, "ok", "ok"}, {}, {});
  testing_support::ScratchFolder folder;
  testing_support::LogCapture log;
  // 259 characters is the most: "?Rand=" and the number included.
  ASSERT_TRUE(connection_->EnsureConnected());
  SetRandomClockForTesting(TenDigitClock);
  std::string path(259 - 16, 'a');
  EXPECT_TRUE(connection_->Download(path.c_str(), folder.File("f").c_str()));
  ASSERT_EQ(2u, calls_.size());
  ASSERT_EQ(259u, calls_[1].path.size()) << calls_[1].path;
  // Each space grows by two: this one no longer fits.
  std::string spaced = " " + std::string(259 - 16, 'a');
  EXPECT_FALSE(connection_->Download(spaced.c_str(), folder.File("f").c_str()));
  EXPECT_EQ(2u, calls_.size());
  EXPECT_TRUE(log.Contains("Download path too long"));
  SetRandomClockForTesting(nullptr);
}

TEST_F(HostConnectionTest, PathWithALineBreakOrControlByteIsNeverSent) {
  Make("127.0.0.9", {kPattern, "ok"}, {}, {});
  testing_support::ScratchFolder folder;
  testing_support::LogCapture log;
  ASSERT_TRUE(connection_->EnsureConnected());
  EXPECT_FALSE(connection_->Download("a.php?x=1\r\nX-Injected: 1", folder.File("f").c_str()));
  EXPECT_FALSE(connection_->Download("a\tb", folder.File("f").c_str()));
  EXPECT_FALSE(connection_->Download("a\x7f", folder.File("f").c_str()));
  EXPECT_EQ(1u, calls_.size());  // the connection test only
  EXPECT_TRUE(log.Contains("control byte 0xd"));
  // Bytes above 0x7f (a name in another code page) still go as they are.
  EXPECT_TRUE(connection_->Download("caf\xe9.txt", folder.File("f").c_str()));
  ASSERT_EQ(2u, calls_.size());
  EXPECT_EQ(0u, calls_[1].path.find("caf\xe9.txt?Rand="));
}

TEST_F(HostConnectionTest, UnconnectedDownloadRetestsAndChosenTransportIsKept) {
  Make("127.0.0.9", {"", "", "", kPattern, ""}, {}, {});
  testing_support::ScratchFolder folder;
  EXPECT_FALSE(connection_->Download("a", folder.File("f").c_str()));
  EXPECT_EQ(6u, calls_.size());  // the whole test, nothing downloaded
  EXPECT_FALSE(connection_->Download("a", folder.File("f").c_str()));
  // Second round: WinInet passes on its second attempt, then the download fails
  // and no other transport is tried for it.
  EXPECT_TRUE(connection_->connected);
  EXPECT_EQ(6u + 3u, calls_.size());
  EXPECT_EQ("WinInet", calls_.back().kind);
  EXPECT_EQ(0u, calls_.back().path.find("a?Rand="));
}

TEST_F(HostConnectionTest, OnlyTheWatchedTransferReportsAndCancelEndsTheTestAtOnce) {
  struct Sink : TransferProgress {
    void Report(uint64_t, uint64_t) override {}
  } sink;
  testing_support::ScratchFolder folder;
  // The test file is fetched without the sink; the download itself with it,
  // and the connection forgets it afterwards.
  Make("127.0.0.9", {"", kPattern, "body"}, {}, {});
  EXPECT_TRUE(connection_->Download("a", folder.File("f").c_str(), &sink));
  ASSERT_EQ(3u, calls_.size());
  EXPECT_EQ(nullptr, calls_[0].progress);
  EXPECT_EQ(nullptr, calls_[1].progress);
  EXPECT_EQ(&sink, calls_[2].progress);
  EXPECT_EQ(nullptr, connection_->progress);

  // Cancelled during the first attempt: no other attempt or transport is
  // asked, and a later test starts nothing.
  calls_.clear();
  Make("127.0.0.9", {"<cancel>", kPattern}, {kPattern}, {kPattern});
  EXPECT_FALSE(connection_->Download("a", folder.File("f").c_str(), &sink));
  EXPECT_EQ(1u, calls_.size());
  EXPECT_FALSE(connection_->connected);
  EXPECT_FALSE(connection_->EnsureConnected());
  EXPECT_EQ(1u, calls_.size());
  SetCancelRequested(false);
  EXPECT_TRUE(connection_->EnsureConnected());
  EXPECT_EQ("WinInet", calls_.back().kind);
}

}  // namespace
