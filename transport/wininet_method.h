#pragma once
#include <windows.h>

#include "transport/download_method.h"
#include "transport/transport_library.h"

class HostConnection;
class WinInetCalls;

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
  kInternetQueryDataAvailable,
  kWinInetEntryCount
};

// The process-wide record of WININET.DLL.
TransportLibrary& WinInetLibrary();
// Longest proxy settings text whose credentials are held.
enum { kProxyKeySize = 512 };

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
  // The answer's status code; false (with its diagnostic line) when the
  // library cannot tell it.
  bool QueryStatus(void* request, DWORD* status);
  // True when the response status is 407.
  bool ProxyAuthRequired(void* request);
  // Sends the request and learns the answer's status. Each send waits at
  // most 20 s while the connection test runs, 40 s afterwards, and ends on
  // Cancel; a send left so closes the request and sets it to null. A proxy's
  // 407, seen through a failed send or as the answer, is answered with the
  // credentials held for the same proxy, else in the credentials dialog
  // (once), and sent again. False when no answer is at hand.
  bool SendAnsweringProxy(WinInetCalls& calls, void*& request, DWORD* status);
  // The answer's Content-Length when it has one; false for a value that is
  // not a plain decimal number within 64 bits.
  bool ReadContentLength(void* request, bool* has_length, unsigned long long* length);
  // Shows the platform's credentials dialog for the send's error; true when
  // the user supplied proxy credentials, which are then stored in the
  // connection and held for the proxy the request went through, if known.
  bool AskProxyCredentials(void* request, DWORD send_error);
  // Puts the credentials held for the proxy this request went through on the
  // request and in the connection; false when that proxy is not known, none
  // are held for it, or the request already had them.
  bool UseHeldCredentials(void* request);
  // The session's proxy settings as text.
  bool SessionProxy(char* text, size_t cap);
  // The proxy the request went through (the key of held credentials); false
  // when it went direct or the platform does not tell which one.
  bool RequestProxy(void* request, char* text, size_t cap);
  // A GET request for full_path on server with the proxy's credentials, and
  // the site's when site; null (with its diagnostic line) when none opens.
  void* OpenRequest(void* server, const char* full_path, bool site);
  // Over TLS, after a redirect's answer: request replaced by one for its
  // https target (server then that target's connection, closed by the
  // caller). False when the target cannot be read, is not https (a secure
  // failure) or cannot be opened.
  bool FollowRedirect(void*& request, void*& server);
  // Over TLS, after the send: true when the answer came over a secure
  // session; otherwise false, as a secure failure.
  bool StillSecure(void* request);

  void* Session() const { return session_; }
  void* Connection() const { return connection_; }

 private:
  void* session_;
  void* connection_;
  HostConnection& host_;
};
