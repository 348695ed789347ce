#include "site/host_client.h"

#include <new>

#include "base/diagnostic_log.h"
#include "transport/host_connection.h"
#include "transport/standard_transports.h"

HostClient::HostClient(const char* host, HWND owner, const char* base_path, const char* scheme,
                       unsigned short port)
    : connection_(new (std::nothrow) HostConnection(host, owner, base_path, scheme, port)) {
  if (connection_)
    AdoptStandardTransports(*connection_);
  else
    LogPrint("HostClient: no memory to connect to %s\n", host);
}

HostClient::~HostClient() { delete connection_; }

bool HostClient::Download(const char* path, const char* local_file, TransferProgress* progress) {
  return connection_ && connection_->Download(path, local_file, progress);
}

bool HostClient::SecureConnectionFailed() const { return connection_ && connection_->SecureConnectionFailed(); }
