// The URL-moniker transport against the loopback test server.
#include <winsock2.h>  // the test server needs it before windows.h

#include "transport/url_download_method.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "tests/transport/log_capture.h"
#include "tests/transport/tls_table.h"
#include "transport/host_connection.h"

using testing_support::FileExists;
using testing_support::HttpReply;
using testing_support::HttpTestServer;
using testing_support::LogCapture;
using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;
using testing_support::TestAddress;
using testing_support::WriteWholeFile;

namespace {

std::unique_ptr<HostConnection> Connection(const std::string& address) {
  return std::unique_ptr<HostConnection>(
      new HostConnection(address.c_str(), nullptr, "/d/"));
}

// Points the URL-moniker record at an entry its library does not have, for
// the life of the object.
class MissingEntry {
 public:
  MissingEntry() : saved_(UrlMonikerLibrary().entry_names) { UrlMonikerLibrary().entry_names = kNames; }
  ~MissingEntry() { UrlMonikerLibrary().entry_names = saved_; }

 private:
  static const char kNames[];
  const char* saved_;
};
const char MissingEntry::kNames[] = "URLDownloadToFileNowhere";

TEST(UrlDownloadMethod, DownloadsTheComposedUrlIntoTheFile) {
  HttpTestServer server(21, 1);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/d/a.txt", "alpha beta");
  auto connection = Connection(server.Address());
  CURLDownLoadMethod method(*connection);
  EXPECT_STREQ("URLDownLoad", method.Kind());
  ScratchFolder folder;
  std::string file = folder.File("a.txt");
  ASSERT_TRUE(method.GetFile("a.txt?Rand=12", file.c_str()));
  EXPECT_EQ("alpha beta", ReadWholeFile(file));
  ASSERT_FALSE(server.Targets().empty());
  EXPECT_EQ("/d/a.txt?Rand=12", server.Targets()[0]);
  EXPECT_TRUE(IsTransportLibraryLoaded(UrlMonikerLibrary()));
}

// The platform stores whatever comes and reports success; the answer's
// status and length decide, and a refused answer leaves no file, nor any
// file of the attempt beside it.
TEST(UrlDownloadMethod, OnlyAWhole200AnswerIsStored) {
  HttpTestServer server(21, 5);
  ASSERT_TRUE(server.Ok());
  const std::string challenge = "Proxy-Authenticate: Basic realm=\"x\"\r\n";
  std::string filler;
  for (int i = 0; i < 20; ++i) filler += "X-Filler-" + std::to_string(i) + ": " + std::string(500, 'f') + "\r\n";
  struct Case {
    const char* name;
    HttpReply reply;
    const char* log;  // the line the failure prints; null for a success
    std::string stored;
  } cases[] = {
      {"404", HttpReply::Status(404, "Not Found", "missing page"), "Http Status 404\r\n", ""},
      {"500", HttpReply::Status(500, "Internal Server Error", "broken"), "Http Status 500\r\n", ""},
      {"407", HttpReply::Status(407, "Proxy Authentication Required", "no", challenge), "Http Status 407\r\n", ""},
      {"206", HttpReply::Status(206, "Partial Content", "part", "Content-Range: bytes 0-3/10\r\n"),
       "Http Status 206\r\n", ""},
      {"203", HttpReply::Status(203, "Non-Authoritative Information", "other"), "Http Status 203\r\n", ""},
      {"head over the parser's limit, body cut",
       HttpReply::Canned("HTTP/1.0 200 OK\r\n" + filler + "Content-Length: 10\r\n\r\nabc"),
       "Response head,URLDownLoadMethod 44, 0xd\r\n", ""},
      {"body cut before its length", HttpReply::Canned("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc"),
       "Content-Length 10, received 3,URLDownLoadMethod\r\n", ""},
      {"no length, read to the close", HttpReply::Canned("HTTP/1.0 200 OK\r\n\r\nto the end"), nullptr,
       "to the end"},
      {"challenge text in a page", HttpReply::Status(200, "OK", challenge), nullptr, challenge},
  };
  auto connection = Connection(server.Address());
  CURLDownLoadMethod method(*connection);
  ScratchFolder folder;
  std::string file = folder.File("answer.txt");
  int number = 0;
  for (Case& c : cases) {
    LogCapture log;
    ASSERT_TRUE(WriteWholeFile(file, "older content"));
    server.QueueReply(c.reply);
    // A path of its own each time, so that no cache can answer.
    std::string path = "a.txt?Rand=" + std::to_string(++number);
    EXPECT_EQ(c.log == nullptr, method.GetFile(path.c_str(), file.c_str())) << c.name;
    if (c.log) {
      EXPECT_TRUE(log.Contains(c.log)) << c.name << ": " << log.Text();
      EXPECT_FALSE(FileExists(file)) << c.name;
    } else {
      EXPECT_EQ(c.stored, ReadWholeFile(file)) << c.name;
    }
  }
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(folder.File("dl*").c_str(), &found);
  EXPECT_EQ(INVALID_HANDLE_VALUE, search) << found.cFileName;
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

TEST(UrlDownloadMethod, FailuresPrintTheirStep) {
  ScratchFolder folder;
  std::string file = folder.File("a.txt");
  {
    // Nothing listens on this address.
    LogCapture log;
    auto connection = Connection(TestAddress(21, 9));
    CURLDownLoadMethod method(*connection);
    ASSERT_TRUE(WriteWholeFile(file, "older content"));
    EXPECT_FALSE(method.GetFile("a.txt", file.c_str()));
    EXPECT_TRUE(log.Contains("URLDownloadToFile,URLDownLoadMethod 43, 0x")) << log.Text();
    EXPECT_FALSE(FileExists(file));
  }
  {
    // A URL over its buffer is refused before anything is sent.
    HttpTestServer server(21, 2);
    ASSERT_TRUE(server.Ok());
    LogCapture log;
    auto connection = Connection(server.Address());
    CURLDownLoadMethod method(*connection);
    std::string path(250, 'x');
    EXPECT_FALSE(method.GetFile(path.c_str(), file.c_str()));
    EXPECT_TRUE(log.Contains("URLDownloadToFile,URLDownLoadMethod 43, 0x7a\r\n")) << log.Text();
    EXPECT_EQ(0, server.ConnectionCount());
  }
}

TEST(UrlDownloadMethod, ALibraryWithoutTheEntryIsReleasedAndTriedAgainEachTime) {
  HttpTestServer server(21, 3);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/d/a.txt", "alpha");
  auto connection = Connection(server.Address());
  ScratchFolder folder;
  std::string file = folder.File("a.txt");
  CURLDownLoadMethod method(*connection);
  {
    MissingEntry missing;
    LogCapture log;
    EXPECT_FALSE(method.GetFile("a.txt", file.c_str()));
    EXPECT_FALSE(IsTransportLibraryLoaded(UrlMonikerLibrary()));
    EXPECT_FALSE(method.GetFile("a.txt", file.c_str()));
    EXPECT_FALSE(IsTransportLibraryLoaded(UrlMonikerLibrary()));
    // Each call loaded the library anew (its version line) and failed.
    EXPECT_EQ(2, log.Count("urlmon.dll")) << log.Text();
    EXPECT_EQ(2, log.Count("IsOK,URLDownLoadMethod 41, 0x")) << log.Text();
    EXPECT_EQ(0, server.ConnectionCount());
  }
  // With the entry found again, the same object downloads.
  EXPECT_TRUE(method.GetFile("a.txt", file.c_str()));
  EXPECT_EQ("alpha", ReadWholeFile(file));
}

TEST(UrlDownloadMethod, TheLastTransportReleasesTheLibraryAndTheNextGetFileLoadsItAgain) {
  HttpTestServer server(21, 4);
  ASSERT_TRUE(server.Ok());
  server.ServeFile("/d/a.txt", "alpha");
  auto connection = Connection(server.Address());
  ScratchFolder folder;
  std::string file = folder.File("a.txt");
  ASSERT_FALSE(IsTransportLibraryLoaded(UrlMonikerLibrary()));
  std::unique_ptr<DownloadMethod> first(new CURLDownLoadMethod(*connection));
  std::unique_ptr<DownloadMethod> second(new CURLDownLoadMethod(*connection));
  ASSERT_TRUE(first->GetFile("a.txt", file.c_str()));
  first.reset();
  EXPECT_TRUE(IsTransportLibraryLoaded(UrlMonikerLibrary()));
  second.reset();
  EXPECT_FALSE(IsTransportLibraryLoaded(UrlMonikerLibrary()));
  EXPECT_EQ(0, UrlMonikerLibrary().live);

  LogCapture log;
  std::unique_ptr<DownloadMethod> third(new CURLDownLoadMethod(*connection));
  EXPECT_FALSE(IsTransportLibraryLoaded(UrlMonikerLibrary()));
  ASSERT_TRUE(third->GetFile("a.txt", file.c_str()));
  EXPECT_TRUE(IsTransportLibraryLoaded(UrlMonikerLibrary()));
  EXPECT_EQ(1, log.Count("urlmon.dll")) << log.Text();
}

// The platform's service follows a redirect before it tells of it, so an
// https URL is refused before anything is sent, a good one and one that
// would redirect to plain http alike.
TEST(UrlDownloadMethod, HttpsIsRefusedBeforeAnyRequest) {
  using namespace testing_support;
  const char kRefused[] = "URL download refuses https://127.";
  const TlsCase cases[] = {
      {"good", kGoodCertificate, "a.txt", kRefused, HostConnection::kNotAttempted},
      {"redirect to http", kGoodCertificate, "to-http.txt", kRefused, HostConnection::kNotAttempted},
  };
  RunTlsTable<CURLDownLoadMethod>(141, cases, sizeof cases / sizeof cases[0]);
}

}  // namespace
