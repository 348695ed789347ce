#pragma once
#include <windows.h>

#include "transport/download_method.h"
#include "transport/transport_library.h"

class HostConnection;

// Slots of the WinInet entry table, in lookup order.
enum WinInetEntry {
  kInternetOpenA,
  kInternetOpenUrlA,
  kInternetReadFile,
  kInternetCloseHandle,
  kHttpSendRequestA,
  kInternetErrorDlg,
  kInternetQueryOptionA,
  kInternetSetOptionA,
  kHttpOpenRequestA,
  kInternetConnectA,
  kInternetCrackUrlA,
  kHttpQueryInfoA,
  kWinInetEntryCount
};

// The process-wide record of WININET.DLL.
TransportLibrary& WinInetLibrary();

// Fetches through the platform's Internet client library, loaded on the first
// GetFile. One session and one server connection per object, kept for all of
// its downloads and closed by its destruction.
class CWinInetMethod : public DownloadMethod {
 public:
  explicit CWinInetMethod(HostConnection& connection);
  ~CWinInetMethod() override;
  CWinInetMethod(const CWinInetMethod&) = delete;
  CWinInetMethod& operator=(const CWinInetMethod&) = delete;

  bool GetFile(const char* path, const char* local_file) override;

  // Loads the library and opens the session and connection when not open yet.
  bool OpenSession();
  // Sets one credential option on the request when text is present and not empty.
  void SetCredentialOption(void* request, DWORD option, const ByteString& text);
  // Sends the request. While the connection test runs the send is bounded to
  // 20 s on a thread of its own; a time-out closes the request and sets it
  // to null, with the last error ERROR_INTERNET_TIMEOUT. A send that does not
  // end within 2 s of the close is left to finish on its thread.
  bool SendWithTimeout(void*& request);
  // The answer's status code; false (with its diagnostic line) when the
  // library cannot tell it.
  bool QueryStatus(void* request, DWORD* status);
  // True when the response status is 407.
  bool ProxyAuthRequired(void* request);
  // Sends the request and learns the answer's status. A proxy's 407, seen
  // through a failed send or as the answer, shows the credentials dialog once
  // and sends again. False when no answer is at hand.
  bool SendAnsweringProxy(void*& request, DWORD* status);
  // The answer's Content-Length when it has one; false for a value that is
  // not a plain decimal number within 64 bits.
  bool ReadContentLength(void* request, bool* has_length, unsigned long long* length);
  // Over TLS, after the send: true when the answer came over a secure
  // session (no redirect left TLS); otherwise false, as a secure failure.
  bool StillSecure(void* request);
  // Shows the platform's credentials dialog; true when the user supplied
  // proxy credentials, which are then stored in the connection.
  bool AskProxyCredentials(void* request);

  void* Session() const { return session_; }
  void* Connection() const { return connection_; }

 private:
  void* session_;
  void* connection_;
  HostConnection& host_;
};
