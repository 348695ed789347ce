#include <winsock2.h>

#include "transport/socket_method.h"

#include <string.h>

#include "base/cancel_flag.h"
#include "base/diagnostic_log.h"
#include "transport/download_file.h"
#include "transport/host_connection.h"
#include "transport/http_response.h"

namespace {

// Slots of the socket library's entry table, in lookup order. The library
// counts as loaded only with all of them, used or not.
enum SocketEntry {
  kWSAStartup,
  kWSACleanup,
  kWSAGetLastError,
  kSocket,
  kHtons,
  kInetAddr,
  kConnect,
  kSend,
  kRecv,
  kCloseSocket,
  kGetHostByName,
  kRecvFrom,
  kSendTo,
  kInetNtoa,
  kSetSockOpt,
  kSelect,
  kIoctlSocket,
  kGetSockOpt,
  kSocketEntryCount
};

const char kEntryNames[] =
    "WSAStartup\0WSACleanup\0WSAGetLastError\0socket\0htons\0inet_addr\0connect\0send\0recv\0closesocket\0"
    "gethostbyname\0recvfrom\0sendto\0inet_ntoa\0setsockopt\0select\0ioctlsocket\0getsockopt";

TransportLibrary g_library;

typedef int(WSAAPI* WSAStartupFn)(WORD, LPWSADATA);
typedef int(WSAAPI* WSACleanupFn)();
typedef int(WSAAPI* WSAGetLastErrorFn)();
typedef SOCKET(WSAAPI* SocketFn)(int, int, int);
typedef u_short(WSAAPI* HtonsFn)(u_short);
typedef unsigned long(WSAAPI* InetAddrFn)(const char*);
typedef int(WSAAPI* ConnectFn)(SOCKET, const struct sockaddr*, int);
typedef int(WSAAPI* SendFn)(SOCKET, const char*, int, int);
typedef int(WSAAPI* RecvFn)(SOCKET, char*, int, int);
typedef int(WSAAPI* CloseSocketFn)(SOCKET);
typedef struct hostent*(WSAAPI* GetHostByNameFn)(const char*);
typedef int(WSAAPI* SelectFn)(int, fd_set*, fd_set*, fd_set*, const struct timeval*);
typedef int(WSAAPI* IoctlSocketFn)(SOCKET, long, u_long*);
typedef int(WSAAPI* GetSockOptFn)(SOCKET, int, int, char*, int*);

template <typename Fn>
Fn Entry(SocketEntry slot) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(g_library.entries[slot]));
}

const char kUnit[] = "SocketMethod";
const int kWouldBlock = 10035;
const DWORD kConnectLimitMs = 20000;
const DWORD kTransferLimitMs = 40000;
// How often a wait looks at the cancel flag.
const long kWaitSliceMs = 200;
enum { kReceiveSize = 4096 };

int SocketError() { return Entry<WSAGetLastErrorFn>(kWSAGetLastError)(); }

void LogStep(const char* step, int line) {
  if (!LogIsOn()) return;
  // Both codes are read before the print can change either.
  DWORD platform_error = GetLastError();
  int socket_error = SocketError();
  SetLastError(platform_error);
  LogSocketStep(step, kUnit, line, socket_error);
}

bool LoadSocketLibrary() {
  if (IsTransportLibraryLoaded(g_library)) return true;
  NameEntries(g_library, kEntryNames, kSocketEntryCount);
  return LoadTransportLibrary(g_library, "ws2_32.dll") || LoadTransportLibrary(g_library, "Wsock32.dll");
}

// Waits until s can be read or, connecting, until its connect has ended, in
// short slices so that Cancel ends the wait at once; limit_ms INFINITE waits
// as long as the platform does. False on a time-out, a Cancel or a failed
// connect, with the cause as the last error.
bool WaitForSocket(SOCKET s, bool connecting, DWORD limit_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    fd_set ready, failed;
    ready.fd_count = 1;
    ready.fd_array[0] = s;
    failed = ready;
    struct timeval slice = {0, kWaitSliceMs * 1000};
    // A refused connect shows only in the exception set.
    int count = Entry<SelectFn>(kSelect)(0, connecting ? nullptr : &ready, connecting ? &ready : nullptr,
                                         connecting ? &failed : nullptr, &slice);
    if (count < 0) return false;
    if (count > 0) {
      if (!connecting || failed.fd_count == 0) return true;
      int error = 0, size = sizeof error;
      Entry<GetSockOptFn>(kGetSockOpt)(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
      SetLastError(static_cast<DWORD>(error));
      return false;
    }
    if (IsCancelRequested()) {
      SetLastError(ERROR_CANCELLED);
      return false;
    }
    if (limit_ms != INFINITE && GetTickCount() - start >= limit_ms) {
      SetLastError(WSAETIMEDOUT);
      return false;
    }
  }
}

// One receive on the non-blocking socket: waits while nothing has arrived,
// up to the transfer limit. Below 0 on a failure, a time-out or a Cancel.
int Receive(SOCKET s, char* buffer, int size) {
  for (;;) {
    // A fast server never lets the wait run: the flag is read here too.
    if (IsCancelRequested()) {
      SetLastError(ERROR_CANCELLED);
      return -1;
    }
    int received = Entry<RecvFn>(kRecv)(s, buffer, size, 0);
    if (received >= 0 || SocketError() != kWouldBlock) return received;
    if (!WaitForSocket(s, false, kTransferLimitMs)) return -1;
  }
}

// Closes the attempt's socket on every way out.
class SocketCloser {
 public:
  explicit SocketCloser(SOCKET s) : socket_(s) {}
  ~SocketCloser() { Entry<CloseSocketFn>(kCloseSocket)(socket_); }
  SocketCloser(const SocketCloser&) = delete;
  SocketCloser& operator=(const SocketCloser&) = delete;

 private:
  SOCKET socket_;
};

}  // namespace

TransportLibrary& SocketLibrary() { return NameEntries(g_library, kEntryNames, kSocketEntryCount); }

CSocketMethod::CSocketMethod(HostConnection& connection) : DownloadMethod("Socket"), host_(connection) {
  AddTransportObject(g_library);
}

CSocketMethod::~CSocketMethod() {
  if (RemoveTransportObject(g_library) && IsTransportLibraryLoaded(g_library)) {
    Entry<WSACleanupFn>(kWSACleanup)();
    ReleaseTransportLibrary(g_library);
  }
}

bool CSocketMethod::GetFile(const char* path, const char* local_file) {
  // This transport speaks plain HTTP only: an https URL is never sent over
  // it, neither as it stands nor rewritten to http.
  if (host_.IsSecure()) {
    LogPrint("Socket transport refuses %s://%s,%s\n", host_.scheme.Text(), host_.host.Text(), kUnit);
    host_.failure = HostConnection::kNotAttempted;
    return false;
  }
  if (!LoadSocketLibrary()) return false;
  WSADATA data;
  if (Entry<WSAStartupFn>(kWSAStartup)(MAKEWORD(1, 1), &data) != 0) return false;
  if (host_.proxy_user.IsPresent()) return TryGetFile(path, local_file);
  if (TryGetFile(path, local_file)) return true;
  // A second attempt only when the prompt of the first produced a name.
  if (!host_.proxy_user.IsPresent()) return false;
  return TryGetFile(path, local_file);
}

unsigned long CSocketMethod::ResolveHostAddress(const char* host_text) {
  const char* text = host_text ? host_text : "";
  const char* scheme_end = strstr(text, "://");
  if (scheme_end) text = scheme_end + 3;
  InetAddrFn inet_addr_fn = Entry<InetAddrFn>(kInetAddr);
  unsigned long address = inet_addr_fn(text);
  if (address != INADDR_NONE) return address;
  struct hostent* entry = Entry<GetHostByNameFn>(kGetHostByName)(text);
  if (entry && entry->h_length == 4 && entry->h_addr_list && entry->h_addr_list[0]) {
    memcpy(&address, entry->h_addr_list[0], 4);
    return address;
  }
  return inet_addr_fn(HostToAddress(text));
}

bool CSocketMethod::TryGetFile(const char* path, const char* local_file) {
  // The request is built before anything is sent: one that does not fit its
  // buffer is refused here, never sent cut. It stays in the connection's
  // scratch text, which nothing else touches during the attempt.
  const char* request = host_.BuildRequest(path);
  if (!request) {
    LogStep("request", 140);
    return false;
  }
  int request_length = static_cast<int>(strlen(request));

  SOCKET s = Entry<SocketFn>(kSocket)(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    LogStep("socket", 114);
    return false;
  }
  SocketCloser closer(s);

  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = Entry<HtonsFn>(kHtons)(host_.Port());
  address.sin_addr.s_addr = ResolveHostAddress(host_.host.Text());
  const struct sockaddr* target = reinterpret_cast<const struct sockaddr*>(&address);

  // Non-blocking throughout, so that every wait can see Cancel. While the
  // connection test runs an unreachable host must not hold the user for the
  // platform's full connect time.
  u_long non_blocking = 1;
  Entry<IoctlSocketFn>(kIoctlSocket)(s, FIONBIO, &non_blocking);
  if (Entry<ConnectFn>(kConnect)(s, target, sizeof address) != 0) {
    bool pending = SocketError() == kWouldBlock;
    if (!pending || !WaitForSocket(s, true, host_.connected ? INFINITE : kConnectLimitMs)) {
      if (host_.connected)
        LogStep("connect", 122);
      else if (pending)
        LogStep("select", 132);
      else
        LogStep("connect2", 128);
      return false;
    }
  }

  if (Entry<SendFn>(kSend)(s, request, request_length, 0) != request_length) {
    LogStep("send", 147);
    return false;
  }

  // A file that cannot be made or written fails the attempt: a download must
  // not report success with bytes lost. Any failure from here on deletes it.
  DownloadFile out(local_file);
  if (!out.IsOpen()) {
    LogStep("CNewFile", 150);
    return false;
  }

  // The head may arrive over several receives; it must end within its limit.
  char buffer[kHttpHeadLimit];
  size_t filled = 0;
  HttpResponseHead head;
  for (;;) {
    int received = Receive(s, buffer + filled, static_cast<int>(sizeof buffer - filled));
    if (received < 0) {
      LogStep("recv", 158);
      return false;
    }
    filled += static_cast<size_t>(received);
    HttpHeadResult result = ParseHttpResponseHead(buffer, filled, &head);
    if (result == kHttpHeadComplete) break;
    if (result == kHttpHeadInvalid || received == 0) {
      LogStep("header", 167);
      return false;
    }
  }
  // Only a proxy's real challenge may ask the user for a password: text in
  // a page must never make the program hand one over.
  if (head.proxy_challenge && !host_.proxy_user.IsPresent()) {
    host_.PromptProxyCredentials();
    return false;
  }
  if (!IsWholeFileStatus(head.status)) {
    LogPrint("Http Status %d\n", head.status);
    return false;
  }

  const char* body = buffer + head.header_size;
  size_t body_size = filled - head.header_size;
  unsigned long long stored = 0;
  TransferProgress* progress = host_.progress;
  for (;;) {
    // Bytes past the announced length are not part of the file.
    if (head.has_length && body_size > head.content_length - stored)
      body_size = static_cast<size_t>(head.content_length - stored);
    if (body_size && !out.Write(body, static_cast<DWORD>(body_size))) {
      LogStep("Write", 170);
      return false;
    }
    stored += body_size;
    if (progress) progress->Report(stored, head.has_length ? head.content_length : 0);
    if (head.has_length && stored == head.content_length) return out.Keep();
    int received = Receive(s, buffer, kReceiveSize);
    if (received < 0) {
      LogStep("recv", 158);
      return false;
    }
    if (received == 0) {
      if (!head.has_length) return out.Keep();
      // Closed before the announced end: a cut file, never a success.
      LogStep("length", 172);
      return false;
    }
    body = buffer;
    body_size = static_cast<size_t>(received);
  }
}
