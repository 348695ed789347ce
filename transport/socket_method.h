#pragma once
#include "transport/download_method.h"
#include "transport/transport_library.h"

class HostConnection;

// Speaks HTTP/1.0 itself over a TCP connection to port 80 of the site host,
// through the socket library loaded on the first GetFile.
class CSocketMethod : public DownloadMethod {
 public:
  explicit CSocketMethod(HostConnection& connection);
  ~CSocketMethod() override;
  CSocketMethod(const CSocketMethod&) = delete;
  CSocketMethod& operator=(const CSocketMethod&) = delete;

  bool GetFile(const char* path, const char* local_file) override;

  // One complete attempt: connect, send, store the body.
  bool TryGetFile(const char* path, const char* local_file);
  // IPv4 address in network order; all ones when nothing resolves.
  unsigned long ResolveHostAddress(const char* host_text);

 private:
  HostConnection& host_;
};

// The process-wide record of the socket library ("ws2_32.dll", else
// "Wsock32.dll").
TransportLibrary& SocketLibrary();
