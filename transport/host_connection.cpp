// The connection test and the downloads of one connection.
#include "transport/host_connection.h"

#include <string.h>

#include "base/cancel_flag.h"
#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "base/text.h"

namespace {

const char kTestPattern[] = "qestorvilanumedra";
const DWORD kTestPatternLength = sizeof kTestPattern - 1;
// One byte more than the pattern's longest allowed neighbour, so that a file
// with a line ending (18 bytes) or more is seen as too long.
const DWORD kTestReadLimit = 19;

// Reads the start of the test file with a handle of its own, closed at once,
// so that a later attempt can rewrite the file.
bool HoldsTestPattern(const char* file_name) {
  HANDLE file = CreateFileA(file_name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char bytes[kTestReadLimit];
  DWORD total = 0;
  while (total < kTestReadLimit) {
    DWORD n = 0;
    if (!ReadFile(file, bytes + total, kTestReadLimit - total, &n, nullptr) || n == 0) break;
    total += n;
  }
  CloseHandle(file);
  return total == kTestPatternLength && memcmp(bytes, kTestPattern, kTestPatternLength) == 0;
}

}  // namespace

bool HostConnection::Attempt(DownloadMethod* transport, const char* path, const char* local_file, int* secure,
                             int* other) {
  failure = kOtherFailure;
  if (transport->GetFile(path, local_file)) return true;
  if (failure == kSecureFailure) ++*secure;
  if (failure == kOtherFailure) ++*other;
  return false;
}

bool HostConnection::FindWorkingTransport() {
  bool found = false;
  int secure = 0, other = 0;
  for (int i = 0; i < kTransportCount && !found; ++i) {
    DownloadMethod* transport = transports[i];
    if (!transport) continue;
    TemporaryFile test_file;
    host.Assign(AddressToHost(host.Text()));
    // After Cancel no further attempt starts: the caller's download fails now.
    for (int attempt = 0; attempt < 2 && !found && !IsCancelRequested(); ++attempt) {
      // "test_pattern.txt?" and "Rand=" with at most ten digits always fit.
      char path[64];
      ByteString random = RandomParameter();
      FormatText(path, sizeof path, "test_pattern.txt?%s", random.Text());
      found = test_file.Name()[0] && Attempt(transport, path, test_file.Name(), &secure, &other);
      // A wrong test file came over a sound session: not a secure failure.
      if (found && !HoldsTestPattern(test_file.Name())) {
        found = false;
        ++other;
      }
      if (found) {
        chosen = transport;
        connected = true;
      } else {
        host.Assign(AddressToHost(host.Text()));
      }
    }
  }
  secure_failed_ = !found && secure > 0 && other == 0;
  return found;
}

bool HostConnection::EnsureConnected() { return connected || FindWorkingTransport(); }

bool HostConnection::Download(const char* path, const char* local_file, TransferProgress* sink) {
  secure_failed_ = false;
  if (!EnsureConnected() || !chosen) return false;
  // The encoded path with its "Rand=" parameter must fit the path buffer; a
  // longer one is refused rather than sent cut.
  char encoded[kUrlBufferSize];
  encoded[0] = 0;
  bool fits = true;
  bool has_query = false;
  for (const char* p = path; *p && fits; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    // A line break or other control byte would end the request line early
    // and let the rest pass for headers: such a path is never sent.
    if (c < 0x20 || c == 0x7f) {
      LogPrint("Download path has control byte 0x%x,HostConnection\n", c);
      return false;
    }
    char one[2] = {*p, 0};
    if (*p == '?') has_query = true;
    fits = AppendText(encoded, sizeof encoded, *p == ' ' ? "%20" : one);
  }
  ByteString random = RandomParameter();
  fits = fits && AppendText(encoded, sizeof encoded, has_query ? "&" : "?") &&
         AppendText(encoded, sizeof encoded, random.Text());
  if (!fits) {
    LogPrint("Download path too long,HostConnection %d characters\n", static_cast<int>(strlen(path)));
    return false;
  }
  // The transports report this transfer only, never the connection test.
  progress = sink;
  int secure = 0, other = 0;
  bool fetched = Attempt(chosen, encoded, local_file, &secure, &other);
  progress = nullptr;
  secure_failed_ = secure > 0;
  return fetched;
}
