#include "transport/wininet_method.h"

#include <wininet.h>

#include <string.h>

#include <new>

#include "base/cancel_flag.h"
#include "base/diagnostic_log.h"
#include "base/text.h"
#include "transport/abandonable_call.h"
#include "transport/download_file.h"
#include "transport/host_connection.h"
#include "transport/http_response.h"
#include "transport/proxy_credentials.h"

namespace {

// In the order of WinInetEntry.
const char kEntryNames[] =
    "InternetOpenA\0InternetOpenUrlA\0InternetReadFile\0InternetCloseHandle\0HttpSendRequestA\0"
    "InternetErrorDlg\0InternetQueryOptionA\0InternetSetOptionA\0HttpOpenRequestA\0InternetConnectA\0"
    "InternetCrackUrlA\0HttpQueryInfoA\0InternetQueryDataAvailable";

TransportLibrary g_library;

typedef HINTERNET(WINAPI* InternetOpenFn)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD);
typedef BOOL(WINAPI* InternetReadFileFn)(HINTERNET, LPVOID, DWORD, LPDWORD);
typedef BOOL(WINAPI* InternetQueryDataAvailableFn)(HINTERNET, LPDWORD, DWORD, DWORD_PTR);
typedef BOOL(WINAPI* InternetCloseHandleFn)(HINTERNET);
typedef BOOL(WINAPI* HttpSendRequestFn)(HINTERNET, LPCSTR, DWORD, LPVOID, DWORD);
typedef DWORD(WINAPI* InternetErrorDlgFn)(HWND, HINTERNET, DWORD, DWORD, LPVOID*);
typedef BOOL(WINAPI* InternetQueryOptionFn)(HINTERNET, DWORD, LPVOID, LPDWORD);
typedef BOOL(WINAPI* InternetSetOptionFn)(HINTERNET, DWORD, LPVOID, DWORD);
typedef HINTERNET(WINAPI* HttpOpenRequestFn)(HINTERNET, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR*, DWORD,
                                             DWORD_PTR);
typedef HINTERNET(WINAPI* InternetConnectFn)(HINTERNET, LPCSTR, INTERNET_PORT, LPCSTR, LPCSTR, DWORD, DWORD,
                                             DWORD_PTR);
typedef BOOL(WINAPI* HttpQueryInfoFn)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
typedef BOOL(WINAPI* InternetCrackUrlFn)(LPCSTR, DWORD, DWORD, LPURL_COMPONENTSA);

template <typename Fn>
Fn Entry(WinInetEntry slot) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(g_library.entries[slot]));
}

const char kUnit[] = "WinInetMethod";
// How long a send may wait for its answer: while the connection test runs,
// and afterwards (the socket transport's limit on a silent server).
const DWORD kTestSendLimitMs = 20000;
// How long one read may wait for its bytes.
const DWORD kTransferLimitMs = 40000;
// The cache is never read (every request reloads): writing it would only
// leave a copy of each download in the user's profile, and cost time.
const DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_COOKIES |
                            INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_CACHE_WRITE;
const DWORD kCredentialsDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                      FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;
// Proxy credentials are read back in buffers as long as the prompt's fields
// (999 characters): a longer name fails the read and is stored empty.
const DWORD kReadBackSize = 1000;
// Redirects followed over TLS before the download fails.
const int kRedirectLimit = 3;

// The request's blocking library calls, each run on a thread of the
// request's own (see AbandonableCall). A call left after its limit or a
// Cancel closes the request handle; the thread then makes no further call
// on it, whose value the library may already have given to another request.
class WinInetJob final : public AbandonableCall {
 public:
  // Taken when the job is made: the thread may outlive the transport, whose
  // release clears the library's entry table.
  WinInetJob()
      : send(Entry<HttpSendRequestFn>(kHttpSendRequestA)),
        read(Entry<InternetReadFileFn>(kInternetReadFile)),
        available(Entry<InternetQueryDataAvailableFn>(kInternetQueryDataAvailable)),
        close(Entry<InternetCloseHandleFn>(kInternetCloseHandle)) {}
  const HttpSendRequestFn send;
  const InternetReadFileFn read;
  const InternetQueryDataAvailableFn available;
  const InternetCloseHandleFn close;
  HINTERNET request;
  bool reading;
  BOOL result;
  DWORD error;
  DWORD count;
  char buffer[4096];

 private:
  void Work() override {
    count = 0;
    // A read waits until its buffer is full: it asks only for what has come,
    // so a body that trickles in keeps the wait alive. Nothing more to come
    // (or no answer) asks for the whole buffer, which tells the end or the error.
    DWORD size = 0;
    if (reading && (!available(request, &size, 0, 0) || size == 0 || size > sizeof buffer)) size = sizeof buffer;
    if (Left()) return;
    result = reading ? read(request, buffer, size, &count) : send(request, nullptr, 0, nullptr, 0);
    error = result ? 0 : GetLastError();
  }
  // Closing the request ends the pending call on Windows; Wine's goes on.
  void Leaving() override { close(request); }
};

}  // namespace

// Runs the send and the reads of one request, bounded: a wait ends on
// Cancel and after its limit, whatever the library does.
class WinInetCalls {
 public:
  explicit WinInetCalls(HINTERNET& request) : request_(request), job_(nullptr) {}
  ~WinInetCalls() {
    if (job_) job_->Release();
  }
  WinInetCalls(const WinInetCalls&) = delete;
  WinInetCalls& operator=(const WinInetCalls&) = delete;

  // The send or one read of up to 4096 bytes, as many as have come (into
  // Buffer(), Count() long).
  // False when the call failed, with its own error, or was left after the
  // limit (ERROR_INTERNET_TIMEOUT) or a Cancel (ERROR_CANCELLED); a left
  // call has closed the request and set it to null.
  bool Send(DWORD limit_ms) { return Call(false, limit_ms); }
  bool Read() { return Call(true, kTransferLimitMs); }
  const char* Buffer() const { return job_->buffer; }
  DWORD Count() const { return job_->count; }

 private:
  bool Call(bool reading, DWORD limit_ms) {
    if (!request_) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    if (!job_) {
      job_ = new (std::nothrow) WinInetJob();
      // The thread may outlive this transport and its library handle.
      if (!job_ || !job_->Start(g_library.entries[kHttpSendRequestA])) {
        // No bounded call possible: the download fails.
        if (job_) job_->Release();
        job_ = nullptr;
        return false;
      }
    }
    job_->reading = reading;
    job_->request = request_;
    if (!job_->Run(limit_ms)) {
      request_ = nullptr;
      return false;
    }
    // The call's own error, so that the caller's diagnostic line shows it.
    SetLastError(job_->error);
    return job_->result != FALSE;
  }

  HINTERNET& request_;
  WinInetJob* job_;
};

namespace {

// Closes the request handle and the output file on every way out of GetFile.
class RequestScope {
 public:
  explicit RequestScope(HINTERNET& request) : request_(request) {}
  ~RequestScope() {
    if (request_) Entry<InternetCloseHandleFn>(kInternetCloseHandle)(request_);
    request_ = nullptr;
  }
  RequestScope(const RequestScope&) = delete;
  RequestScope& operator=(const RequestScope&) = delete;

 private:
  HINTERNET& request_;
};

}  // namespace

TransportLibrary& WinInetLibrary() { return NameEntries(g_library, kEntryNames, kWinInetEntryCount); }

CWinInetMethod::CWinInetMethod(HostConnection& connection)
    : DownloadMethod("WinInet"), session_(nullptr), connection_(nullptr), host_(connection) {
  AddTransportObject(g_library);
}

CWinInetMethod::~CWinInetMethod() {
  // Closing the session also ends its connection handle.
  if (session_ && IsTransportLibraryLoaded(g_library)) Entry<InternetCloseHandleFn>(kInternetCloseHandle)(session_);
  session_ = nullptr;
  connection_ = nullptr;
  if (RemoveTransportObject(g_library)) ReleaseTransportLibrary(g_library);
}

bool CWinInetMethod::OpenSession() {
  if (!IsTransportLibraryLoaded(g_library) && !LoadTransportLibrary(WinInetLibrary(), "WININET.DLL")) return false;
  if (!session_) {
    session_ = Entry<InternetOpenFn>(kInternetOpenA)("Quorvale Connection", INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                                     nullptr, 0);
    if (!session_) {
      LogTransportStep("InternetOpen", kUnit, 62);
      return false;
    }
  }
  if (!connection_) {
    connection_ = Entry<InternetConnectFn>(kInternetConnectA)(session_, host_.host.Text(), host_.Port(), nullptr,
                                                              nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection_) {
      LogTransportStep("InternetConnect", kUnit, 67);
      return false;
    }
  }
  return true;
}

void CWinInetMethod::SetCredentialOption(void* request, DWORD option, const ByteString& text) {
  if (!text.IsPresent() || text.IsEmpty()) return;
  Entry<InternetSetOptionFn>(kInternetSetOptionA)(request, option, const_cast<char*>(text.Text()),
                                                  static_cast<DWORD>(text.Length()));
}

bool CWinInetMethod::QueryStatus(void* request, DWORD* status) {
  DWORD length = sizeof *status;
  *status = 0;
  if (!Entry<HttpQueryInfoFn>(kHttpQueryInfoA)(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, status,
                                               &length, nullptr)) {
    LogTransportStep("HttpQueryInfo", kUnit, 106);
    return false;
  }
  return true;
}

bool CWinInetMethod::ProxyAuthRequired(void* request) {
  LogPrint("Waypoint 0\n");
  DWORD status = 0;
  if (!QueryStatus(request, &status)) return false;
  LogPrint("Waypoint 1\n");
  if (status == HTTP_STATUS_PROXY_AUTH_REQ) return true;
  LogPrint("Http Status %d\n", static_cast<int>(status));
  return false;
}

bool CWinInetMethod::SessionProxy(char* text, size_t cap) {
  // The settings as the platform gives them, with their texts after them.
  union {
    INTERNET_PROXY_INFO info;
    char bytes[1024];
  } answer;
  DWORD length = sizeof answer;
  if (!Entry<InternetQueryOptionFn>(kInternetQueryOptionA)(session_, INTERNET_OPTION_PROXY, &answer, &length))
    return false;
  const char* proxy = answer.info.lpszProxy ? reinterpret_cast<const char*>(answer.info.lpszProxy) : "";
  // A text that does not fit is no key: such a proxy is asked for afresh.
  // memchr, not strnlen: msvcrt has the one, the other comes as a runtime
  // copy with a section of its own.
  const char* end = static_cast<const char*>(memchr(proxy, '\0', cap));
  if (!end) return false;
  memcpy(text, proxy, static_cast<size_t>(end - proxy) + 1);
  return true;
}

bool CWinInetMethod::RequestProxy(void* request, char* text, size_t cap) {
  // The platform tells whether this request went through a proxy; which one
  // is known only when the session's setting names a single one (not a
  // list by scheme, not an automatic configuration).
  DWORD flags = 0, size = sizeof flags;
  return Entry<InternetQueryOptionFn>(kInternetQueryOptionA)(request, INTERNET_OPTION_REQUEST_FLAGS, &flags, &size) &&
         (flags & INTERNET_REQFLAG_VIA_PROXY) && SessionProxy(text, cap) && text[0] && !strpbrk(text, " ;=");
}

bool CWinInetMethod::UseHeldCredentials(void* request) {
  char proxy[kProxyKeySize];
  const ProxyCredentials* held = RequestProxy(request, proxy, sizeof proxy) ? HeldProxyCredentials(proxy) : nullptr;
  if (!held) return false;
  // Those the request already carried were refused: only the user can help.
  if (host_.proxy_user.IsPresent() && strcmp(host_.proxy_user.Text(), held->user.Text()) == 0 &&
      strcmp(host_.proxy_password.Text(), held->password.Text()) == 0)
    return false;
  host_.proxy_user.Assign(held->user.Text());
  host_.proxy_password.Assign(held->password.Text());
  SetCredentialOption(request, INTERNET_OPTION_PROXY_USERNAME, host_.proxy_user);
  SetCredentialOption(request, INTERNET_OPTION_PROXY_PASSWORD, host_.proxy_password);
  LogPrint("Proxy credentials held\n");
  return true;
}

bool CWinInetMethod::AskProxyCredentials(void* request, DWORD send_error) {
  LogPrint("Waypoint 2\n");
  // The dialog takes the platform's error code, never the status: for 407
  // Wine answers at once and shows nothing. After a send that succeeded, no
  // error and the filter flag let the dialog find the challenge itself.
  DWORD error = send_error == ERROR_INTERNET_INCORRECT_PASSWORD ? send_error : ERROR_SUCCESS;
  DWORD answer = Entry<InternetErrorDlgFn>(kInternetErrorDlg)(host_.owner, request, error, kCredentialsDialogFlags,
                                                               nullptr);
  LogPrint("Waypoint 3\n");
  if (answer != ERROR_INTERNET_FORCE_RETRY) return false;

  InternetQueryOptionFn query = Entry<InternetQueryOptionFn>(kInternetQueryOptionA);
  char text[kReadBackSize];
  // Each read gets the full length, so a password longer than the name is
  // read whole; the last byte stays a terminator whatever the library does.
  DWORD length = sizeof text - 1;
  text[sizeof text - 1] = '\0';
  if (!query(request, INTERNET_OPTION_PROXY_USERNAME, text, &length)) text[0] = '\0';
  host_.proxy_user.Assign(text);
  length = sizeof text - 1;
  if (!query(request, INTERNET_OPTION_PROXY_PASSWORD, text, &length)) text[0] = '\0';
  host_.proxy_password.Assign(text);

  // Held for later requests through the same proxy, when it is known.
  char proxy[kProxyKeySize];
  if (RequestProxy(request, proxy, sizeof proxy))
    HoldProxyCredentials(proxy, host_.proxy_user.Text(), host_.proxy_password.Text());
  return true;
}

void* CWinInetMethod::OpenRequest(void* server, const char* full_path, bool site) {
  // Over TLS the platform judges the certificate; no flag waives a fault.
  // Nor does it follow a redirect: one to http would send the request in
  // the clear before anything could refuse the answer.
  DWORD flags = kRequestFlags | (host_.IsSecure() ? INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT : 0);
  HINTERNET request = Entry<HttpOpenRequestFn>(kHttpOpenRequestA)(server, "GET", full_path, nullptr, nullptr,
                                                                  nullptr, flags, 0);
  if (!request) {
    LogTransportStep("HttpOpenRequest", kUnit, 182);
    return nullptr;
  }
  SetCredentialOption(request, INTERNET_OPTION_PROXY_USERNAME, host_.proxy_user);
  SetCredentialOption(request, INTERNET_OPTION_PROXY_PASSWORD, host_.proxy_password);
  // The site's own credentials never go to another server.
  if (site) {
    SetCredentialOption(request, INTERNET_OPTION_USERNAME, host_.site_user);
    SetCredentialOption(request, INTERNET_OPTION_PASSWORD, host_.site_password);
  }
  return request;
}

bool CWinInetMethod::FollowRedirect(void*& request, void*& server) {
  // The target must fit the program's URL buffer and name an https server.
  char url[kUrlBufferSize], host_name[kUrlBufferSize], path[kUrlBufferSize], extra[kUrlBufferSize];
  DWORD size = sizeof url - 1;
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host_name;
  parts.dwHostNameLength = sizeof host_name;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof path;
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = sizeof extra;
  if (!Entry<HttpQueryInfoFn>(kHttpQueryInfoA)(request, HTTP_QUERY_LOCATION, url, &size, nullptr) ||
      !Entry<InternetCrackUrlFn>(kInternetCrackUrlA)(url, size, 0, &parts)) {
    LogTransportStep("Redirect", kUnit, 195);
    return false;
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTPS) {
    SetLastError(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
    LogTransportStep("Secure", kUnit, 194);
    host_.failure = HostConnection::kSecureFailure;
    return false;
  }
  // Path and query joined; both fit the URL they came from.
  AppendText(path, sizeof path, extra);
  InternetCloseHandleFn close = Entry<InternetCloseHandleFn>(kInternetCloseHandle);
  close(request);
  request = nullptr;
  if (server) close(server);
  server = Entry<InternetConnectFn>(kInternetConnectA)(session_, host_name, parts.nPort, nullptr, nullptr,
                                                      INTERNET_SERVICE_HTTP, 0, 0);
  if (!server) {
    LogTransportStep("InternetConnect", kUnit, 67);
    return false;
  }
  request = OpenRequest(server, path, false);
  return request != nullptr;
}

bool CWinInetMethod::GetFile(const char* path, const char* local_file) {
  if (!OpenSession()) return false;
  LogPrint("CWinInetMethod::GetFile %s, %s\n", host_.base_path.Text(), path);

  const char* full_path = host_.FullPath(path);
  if (!full_path) {
    // Over-long: refused rather than sent cut.
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    LogTransportStep("HttpOpenRequest", kUnit, 182);
    return false;
  }
  // A redirect's server, when the answer came from another; closed last.
  HINTERNET server = nullptr;
  RequestScope server_scope(server);
  HINTERNET request = OpenRequest(connection_, full_path, true);
  if (!request) return false;
  RequestScope request_scope(request);
  // Any failure from here on deletes the file.
  DownloadFile output(local_file);
  if (!output.IsOpen()) {
    LogTransportStep("CNewFile", kUnit, 184);
    return false;
  }

  // Declared after the output file: on the way out the call thread is let go first.
  WinInetCalls calls(request);
  DWORD status = 0;
  // Over TLS this program follows a redirect itself, a few at most, and
  // only to https.
  for (int hops = 0;; ++hops) {
    if (!SendAnsweringProxy(calls, request, &status)) return false;
    if (!host_.IsSecure() || status / 100 != 3) break;
    if (hops == kRedirectLimit) {
      LogPrint("Redirects %d,%s\n", hops, kUnit);
      return false;
    }
    if (!FollowRedirect(request, server)) return false;
  }
  if (host_.IsSecure() && !StillSecure(request)) return false;
  // An error page or a part is not the file, whatever the library made of it.
  if (!IsWholeFileStatus(static_cast<int>(status))) {
    LogPrint("Http Status %d\n", static_cast<int>(status));
    return false;
  }
  unsigned long long expected = 0;
  bool has_length = false;
  if (!ReadContentLength(request, &has_length, &expected)) return false;

  TransferProgress* progress = host_.progress;
  unsigned long long total = 0;
  while (!has_length || total < expected) {
    if (IsCancelRequested()) {
      LogPrint("Cancelled,%s\n", kUnit);
      return false;
    }
    if (!calls.Read()) {
      LogTransportStep("InternetReadFile", kUnit, 199);
      return false;
    }
    DWORD count = calls.Count();
    if (count == 0) break;
    // Bytes past the announced length are not part of the file.
    if (has_length && count > expected - total) count = static_cast<DWORD>(expected - total);
    if (!output.Write(calls.Buffer(), count)) {
      LogTransportStep("Write", kUnit, 203);
      return false;
    }
    total += count;
    if (progress) progress->Report(total, expected);
  }
  if (has_length && total != expected) {
    LogPrint("Content-Length %u, received %u,%s\n", static_cast<unsigned>(expected), static_cast<unsigned>(total),
             kUnit);
    return false;
  }
  return output.Keep();
}

bool CWinInetMethod::SendAnsweringProxy(WinInetCalls& calls, void*& request, DWORD* status) {
  // A proxy's challenge, seen through a failed send or (as Wine gives it) as
  // the answer, is met at most twice: with the credentials held from another
  // connection, then in the dialog, once per download.
  bool retried = false, asked = false;
  for (;;) {
    bool sent = calls.Send(host_.connected ? kTransferLimitMs : kTestSendLimitMs);
    DWORD error = sent ? ERROR_SUCCESS : GetLastError();
    if (!sent && IsSecureConnectionError(error)) host_.failure = HostConnection::kSecureFailure;
    if (sent) {
      if (!QueryStatus(request, status)) return false;
      // Any other status, or a challenge after the dialog, is the caller's to judge.
      if (*status != HTTP_STATUS_PROXY_AUTH_REQ || asked) return true;
    } else if (asked || !ProxyAuthRequired(request)) {
      // The line names the send's error, not that of the status query.
      SetLastError(error);
      if (retried)
        LogTransportStep("2nd SendRequest", kUnit, 191);
      else
        LogTransportStep("SendRequest", kUnit, 192);
      return false;
    }
    if (!retried && UseHeldCredentials(request)) {
      retried = true;
      continue;
    }
    if (!AskProxyCredentials(request, error)) {
      if (sent) return true;
      SetLastError(error);
      LogTransportStep("SendRequest", kUnit, 192);
      return false;
    }
    retried = asked = true;
  }
}

bool CWinInetMethod::StillSecure(void* request) {
  // Whatever the library did, the answer must have come over TLS.
  DWORD flags = 0, size = sizeof flags;
  if (Entry<InternetQueryOptionFn>(kInternetQueryOptionA)(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size) &&
      (flags & SECURITY_FLAG_SECURE))
    return true;
  SetLastError(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
  LogTransportStep("Secure", kUnit, 194);
  host_.failure = HostConnection::kSecureFailure;
  return false;
}

bool CWinInetMethod::ReadContentLength(void* request, bool* has_length, unsigned long long* length) {
  // Twenty digits hold any 64-bit length; a longer value is refused.
  char text[32];
  DWORD size = sizeof text - 1;
  *has_length = false;
  if (!Entry<HttpQueryInfoFn>(kHttpQueryInfoA)(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
    if (GetLastError() == ERROR_HTTP_HEADER_NOT_FOUND) return true;
    LogTransportStep("Content-Length", kUnit, 197);
    return false;
  }
  if (size >= sizeof text || !ParseContentLength(text, size, length)) {
    SetLastError(ERROR_INVALID_DATA);
    LogTransportStep("Content-Length", kUnit, 197);
    return false;
  }
  *has_length = true;
  return true;
}
