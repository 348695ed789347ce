#pragma once
#include "base/byte_string.h"

class HostConnection;

// One HTTP transport. GetFile fetches the connection's URL for path (relative
// to its base path, query text included) into local_file. True only for a 2xx
// answer stored whole (its Content-Length reached when it has one); a failure
// once the transport has taken local_file leaves no file there. Reports to
// the connection's progress sink when it has one; Cancel ends the transfer
// within a fraction of a second, as a failure.
class DownloadMethod {
 public:
  explicit DownloadMethod(const char* kind) : kind_(kind) {}
  virtual bool GetFile(const char* path, const char* local_file) = 0;
  virtual ~DownloadMethod() {}
  const char* Kind() const { return kind_.Text(); }

 private:
  ByteString kind_;
};
