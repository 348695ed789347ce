#pragma once
// One table of https downloads per transport, against the TLS bench's fronts
// (tests/support/tls-bench.sh): TestAddress(group, kind) port 443 relays to
// the plain server at TestAddress(group, kind + 100). A plain server on the
// front's own address, port 80, serves the same file, so a client that fell
// back to http would fetch it there.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "tests/transport/log_capture.h"
#include "transport/host_connection.h"

namespace testing_support {

enum TlsFrontKind { kGoodCertificate = 1, kUntrustedAuthority, kWrongName, kExpired, kSelfSigned, kTls13Only };

struct TlsCase {
  const char* name;
  int kind;
  const char* file;  // below /d/: a.txt, to-http.txt (302 to the http URL), to-https.txt
  const char* log;   // a piece of the failure's line; null for a success
  HostConnection::Failure failure;
};

template <typename Transport>
void RunTlsTable(int group, const TlsCase* cases, size_t count) {
  const std::string body = "area bytes over TLS only";
  ScratchFolder folder;
  for (size_t i = 0; i < count; ++i) {
    const TlsCase& c = cases[i];
    const std::string front = TestAddress(group, c.kind);
    HttpTestServer backend(group, c.kind + 100), plain(group, c.kind);
    ASSERT_TRUE(backend.Ok() && plain.Ok()) << c.name;
    backend.ServeFile("/d/a.txt", body);
    backend.ServePath("/d/to-http.txt", HttpReply::Status(302, "Found", "", "Location: http://" + front + "/d/a.txt\r\n"));
    backend.ServePath("/d/to-https.txt",
                      HttpReply::Status(302, "Found", "", "Location: https://" + front + "/d/a.txt\r\n"));
    plain.ServeFile("/d/a.txt", body);

    HostConnection connection(front.c_str(), nullptr, "/d/", "https");
    Transport method(connection);
    std::string file = folder.File("out" + std::to_string(i));
    ASSERT_TRUE(WriteWholeFile(file, "older content"));
    LogCapture log;
    connection.failure = HostConnection::kOtherFailure;
    std::string path = std::string(c.file) + "?Rand=" + std::to_string(i);
    bool ok = method.GetFile(path.c_str(), file.c_str());
    EXPECT_EQ(c.log == nullptr, ok) << c.name << ": " << log.Text();
    if (c.log) {
      // A URL refused unsent leaves the file as it was; any other failure, none.
      if (c.failure == HostConnection::kNotAttempted)
        EXPECT_EQ("older content", ReadWholeFile(file)) << c.name;
      else
        EXPECT_FALSE(FileExists(file)) << c.name;
      EXPECT_TRUE(log.Contains(c.log)) << c.name << ": " << log.Text();
      EXPECT_EQ(c.failure, connection.failure) << c.name;
    } else {
      EXPECT_EQ(body, ReadWholeFile(file)) << c.name;
    }
    // Not even a redirect leads a client there: no request leaves TLS.
    EXPECT_EQ(0, plain.ConnectionCount()) << c.name;
  }
}

}  // namespace testing_support
