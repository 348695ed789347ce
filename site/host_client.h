#pragma once
#include <windows.h>

class HostConnection;
class TransferProgress;

// Base of the site connection and the file fetcher: owns one connection to
// one server, with its own connection test and chosen transport.
class HostClient {
 public:
  // scheme "http" or "https"; port 0 for the scheme's own.
  HostClient(const char* host, HWND owner, const char* base_path, const char* scheme = "http",
             unsigned short port = 0);
  virtual ~HostClient();
  HostClient(const HostClient&) = delete;
  HostClient& operator=(const HostClient&) = delete;

  // Fetches path (relative to the base path) into local_file. False when the
  // connection could not be made (out of memory) or the download failed.
  // progress, when given, hears the transfer (not the connection test).
  bool Download(const char* path, const char* local_file, TransferProgress* progress = nullptr);
  // True when the last Download failed for the secure connection alone.
  bool SecureConnectionFailed() const;
  // Null only when memory ran out at construction.
  HostConnection* Connection() const { return connection_; }

 private:
  HostConnection* connection_;
};
