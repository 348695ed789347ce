#pragma once
#include "transport/download_method.h"
#include "transport/transport_library.h"

class HostConnection;

// Hands the whole transfer to the platform's URL download service, loaded on
// the first GetFile; the platform writes the local file.
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
