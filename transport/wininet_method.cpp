#include "transport/wininet_method.h"

#include <wininet.h>

#include <new>

#include "base/cancel_flag.h"
#include "base/diagnostic_log.h"
#include "transport/download_file.h"
#include "transport/host_connection.h"
#include "transport/http_response.h"

namespace {

const char* const kEntryNames[kWinInetEntryCount] = {
    "InternetOpenA",        "InternetOpenUrlA",   "InternetReadFile",     "InternetCloseHandle",
    "HttpSendRequestA",     "InternetErrorDlg",   "InternetQueryOptionA", "InternetSetOptionA",
    "HttpOpenRequestA",     "InternetConnectA",   "InternetCrackUrlA",    "HttpQueryInfoA",
};

TransportLibrary g_library = {kEntryNames, kWinInetEntryCount, nullptr, {}, 0};

typedef HINTERNET(WINAPI* InternetOpenFn)(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD);
typedef BOOL(WINAPI* InternetReadFileFn)(HINTERNET, LPVOID, DWORD, LPDWORD);
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

template <typename Fn>
Fn Entry(WinInetEntry slot) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(g_library.entries[slot]));
}

const char kUnit[] = "WinInetMethod";
const DWORD kSendLimitMs = 20000;
// How often the bounded send's wait looks at the cancel flag.
const DWORD kWaitSliceMs = 200;
// The cache is never read (every request reloads): writing it would only
// leave a copy of each download in the user's profile, and cost time.
const DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_COOKIES |
                            INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_CACHE_WRITE;
const DWORD kCredentialsDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                      FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;
// Proxy credentials are read back in buffers as long as the prompt's fields
// (999 characters): a longer name fails the read and is stored empty.
const DWORD kReadBackSize = 1000;

// Once the request handle is closed, Wine's pending send keeps waiting for
// an answer that may never come; the caller waits this much longer, then
// leaves the thread to finish on its own. Short, as a Cancel comes this way.
const DWORD kSendEndGraceMs = 200;

// What the sending thread needs and what it leaves behind. Shared by the
// caller and the thread; the last of the two to let go deletes it, so an
// abandoned thread never touches freed memory.
struct SendJob {
  HttpSendRequestFn send;
  HINTERNET request;
  HMODULE pin;  // keeps the library mapped while the thread is inside it
  DWORD error;
  volatile LONG holders;
};

void ReleaseJob(SendJob* job) {
  if (InterlockedDecrement(&job->holders) == 0) {
    if (job->pin) FreeLibrary(job->pin);
    delete job;
  }
}

DWORD WINAPI SendThread(void* argument) {
  SendJob* job = static_cast<SendJob*>(argument);
  BOOL sent = job->send(job->request, nullptr, 0, nullptr, 0);
  job->error = sent ? 0 : GetLastError();
  ReleaseJob(job);
  return sent ? 1 : 0;
}

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

TransportLibrary& WinInetLibrary() { return g_library; }

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
  if (!IsTransportLibraryLoaded(g_library) && !LoadTransportLibrary(g_library, "WININET.DLL")) return false;
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

bool CWinInetMethod::SendWithTimeout(void*& request) {
  HttpSendRequestFn send = Entry<HttpSendRequestFn>(kHttpSendRequestA);
  if (host_.connected) return send(request, nullptr, 0, nullptr, 0) != FALSE;

  SendJob* job = new (std::nothrow) SendJob;
  if (!job) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  job->send = send;
  job->request = request;
  job->error = 0;
  job->holders = 2;
  // The thread may outlive this transport and its library handle.
  job->pin = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(send), &job->pin);
  HANDLE thread = CreateThread(nullptr, 0, SendThread, job, 0, nullptr);
  if (!thread) {
    // No bounded send possible: the attempt fails.
    DWORD error = GetLastError();
    job->holders = 1;
    ReleaseJob(job);
    SetLastError(error);
    return false;
  }
  // Waited in slices so that Cancel ends it at once. A failed wait counts as
  // a time-out: the send may still be running.
  DWORD waited = 0, wait;
  while ((wait = WaitForSingleObject(thread, kWaitSliceMs)) == WAIT_TIMEOUT && !IsCancelRequested() &&
         (waited += kWaitSliceMs) < kSendLimitMs) {
  }
  if (wait != WAIT_OBJECT_0) {
    // Closing the request ends the pending send on Windows; Wine's goes on.
    Entry<InternetCloseHandleFn>(kInternetCloseHandle)(request);
    request = nullptr;
    WaitForSingleObject(thread, kSendEndGraceMs);
    CloseHandle(thread);
    ReleaseJob(job);
    SetLastError(IsCancelRequested() ? ERROR_CANCELLED : ERROR_INTERNET_TIMEOUT);
    return false;
  }
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  // The send's own error, so that the caller's diagnostic line shows it.
  DWORD error = job->error;
  ReleaseJob(job);
  SetLastError(error);
  return code != 0;
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
  LogPrint("Waypoint 0\r\n");
  DWORD status = 0;
  if (!QueryStatus(request, &status)) return false;
  LogPrint("Waypoint 1\r\n");
  if (status == HTTP_STATUS_PROXY_AUTH_REQ) return true;
  LogPrint("Http Status %d\r\n", static_cast<int>(status));
  return false;
}

bool CWinInetMethod::AskProxyCredentials(void* request) {
  LogPrint("Waypoint 2\r\n");
  DWORD answer = Entry<InternetErrorDlgFn>(kInternetErrorDlg)(host_.owner, request, HTTP_STATUS_PROXY_AUTH_REQ,
                                                               kCredentialsDialogFlags, nullptr);
  LogPrint("Waypoint 3\r\n");
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
  return true;
}

bool CWinInetMethod::GetFile(const char* path, const char* local_file) {
  if (!OpenSession()) return false;
  LogPrint("CWinInetMethod::GetFile %s, %s\n", host_.base_path.Text(), path);

  const char* full_path = host_.FullPath(path);
  HINTERNET request = nullptr;
  if (!full_path) {
    // Over-long: refused rather than sent cut.
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    LogTransportStep("HttpOpenRequest", kUnit, 182);
    return false;
  }
  // Over TLS the platform judges the certificate; no flag waives a fault.
  DWORD flags = kRequestFlags | (host_.IsSecure() ? INTERNET_FLAG_SECURE : 0);
  request = Entry<HttpOpenRequestFn>(kHttpOpenRequestA)(connection_, "GET", full_path, nullptr, nullptr, nullptr,
                                                        flags, 0);
  if (!request) {
    LogTransportStep("HttpOpenRequest", kUnit, 182);
    return false;
  }
  RequestScope request_scope(request);
  // Any failure from here on deletes the file.
  DownloadFile output(local_file);
  if (!output.IsOpen()) {
    LogTransportStep("CNewFile", kUnit, 184);
    return false;
  }

  SetCredentialOption(request, INTERNET_OPTION_PROXY_USERNAME, host_.proxy_user);
  SetCredentialOption(request, INTERNET_OPTION_PROXY_PASSWORD, host_.proxy_password);
  SetCredentialOption(request, INTERNET_OPTION_USERNAME, host_.site_user);
  SetCredentialOption(request, INTERNET_OPTION_PASSWORD, host_.site_password);

  DWORD status = 0;
  if (!SendAnsweringProxy(request, &status)) return false;
  if (host_.IsSecure() && !StillSecure(request)) return false;
  // An error page is not the file, whatever the library made of it.
  if (!IsSuccessStatus(static_cast<int>(status))) {
    LogPrint("Http Status %d\r\n", static_cast<int>(status));
    return false;
  }
  unsigned long long expected = 0;
  bool has_length = false;
  if (!ReadContentLength(request, &has_length, &expected)) return false;

  InternetReadFileFn read = Entry<InternetReadFileFn>(kInternetReadFile);
  TransferProgress* progress = host_.progress;
  char buffer[4096];
  unsigned long long total = 0;
  while (!has_length || total < expected) {
    if (IsCancelRequested()) {
      LogPrint("Cancelled,%s\r\n", kUnit);
      return false;
    }
    DWORD count = 0;
    if (!read(request, buffer, sizeof buffer, &count)) {
      LogTransportStep("InternetReadFile", kUnit, 199);
      return false;
    }
    if (count == 0) break;
    // Bytes past the announced length are not part of the file.
    if (has_length && count > expected - total) count = static_cast<DWORD>(expected - total);
    if (!output.Write(buffer, count)) {
      LogTransportStep("Write", kUnit, 203);
      return false;
    }
    total += count;
    if (progress) progress->Report(total, expected);
  }
  if (has_length && total != expected) {
    LogPrint("Content-Length %u, received %u,%s\r\n", static_cast<unsigned>(expected), static_cast<unsigned>(total),
             kUnit);
    return false;
  }
  return output.Keep();
}

bool CWinInetMethod::SendAnsweringProxy(void*& request, DWORD* status) {
  bool asked = false;
  if (!SendWithTimeout(request)) {
    DWORD send_error = GetLastError();
    if (IsSecureConnectionError(send_error)) host_.failure = HostConnection::kSecureFailure;
    if (!ProxyAuthRequired(request) || !AskProxyCredentials(request)) {
      // The line names the send's error, not that of the status query.
      SetLastError(send_error);
      LogTransportStep("SendRequest", kUnit, 192);
      return false;
    }
    asked = true;
    if (!SendWithTimeout(request)) {
      LogTransportStep("2nd SendRequest", kUnit, 191);
      return false;
    }
  }
  if (!QueryStatus(request, status)) return false;
  // A proxy's challenge normally arrives as the answer of a successful send.
  // The dialog is shown once per download; a declined one leaves the 407.
  if (*status != HTTP_STATUS_PROXY_AUTH_REQ || asked || !AskProxyCredentials(request)) return true;
  if (!SendWithTimeout(request)) {
    LogTransportStep("2nd SendRequest", kUnit, 191);
    return false;
  }
  return QueryStatus(request, status);
}

bool CWinInetMethod::StillSecure(void* request) {
  // The library follows redirects by itself; one to an http URL would hand
  // over the file in the clear. The answer must have come over TLS.
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
