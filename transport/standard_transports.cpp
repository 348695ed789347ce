#include "transport/standard_transports.h"

#include <new>

#include "transport/host_connection.h"
#include "transport/socket_method.h"
#include "transport/url_download_method.h"
#include "transport/wininet_method.h"

void AdoptStandardTransports(HostConnection& connection) {
  DownloadMethod* made[] = {new (std::nothrow) CWinInetMethod(connection),
                            new (std::nothrow) CSocketMethod(connection),
                            new (std::nothrow) CURLDownLoadMethod(connection)};
  for (DownloadMethod* transport : made)
    if (transport) connection.AdoptTransport(transport);
}
