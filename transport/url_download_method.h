#pragma once
#include <windows.h>

#include "transport/download_method.h"
#include "transport/transport_library.h"

class HostConnection;
class UrlDownloadCallback;

// Hands the whole transfer to the platform's URL download service, loaded on
// the first GetFile; plain http only (an https URL is refused unsent). The platform's call runs on a thread of its own and
// writes a file private to the attempt, moved into place once judged whole.
// The wait for it ends on Cancel, and after 20 s (connection test) or 40 s
// without a notification; the thread is then left to end alone and deletes
// its file when it does.
class CURLDownLoadMethod : public DownloadMethod {
 public:
  explicit CURLDownLoadMethod(HostConnection& connection);
  ~CURLDownLoadMethod() override;
  CURLDownLoadMethod(const CURLDownLoadMethod&) = delete;
  CURLDownLoadMethod& operator=(const CURLDownLoadMethod&) = delete;

  bool GetFile(const char* path, const char* local_file) override;

 private:
  HostConnection& host_;
};

// The process-wide record of URLMON.DLL (one entry, URLDownloadToFileA).
TransportLibrary& UrlMonikerLibrary();
