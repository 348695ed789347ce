#pragma once
#include <windows.h>

#include "install/byte_string.h"
#include "transport/download_method.h"

// The per-host connection record: where a server is, its credentials, the
// three transports and the one found to work. Owned by a HostClient.
class HostConnection {
 public:
  enum { kTransportCount = 3 };

  // Scheme "http"; the base path made to begin and end with "/"; transports
  // created in the order WinInet, Socket, URL download.
  HostConnection(const char* host, HWND owner, const char* base_path);
  ~HostConnection();
  HostConnection(const HostConnection&) = delete;
  HostConnection& operator=(const HostConnection&) = delete;

  // Runs the connection test on the first call, then downloads path (spaces
  // escaped, "Rand=" appended) with the chosen transport.
  bool Download(const char* path, const char* local_file);
  bool EnsureConnected();
  bool FindWorkingTransport();

  // Text helpers; each returns its text in the scratch text, valid until the
  // next helper call on this connection. An over-long result is refused:
  // the helpers then answer absent (a null pointer).
  const char* FullPath(const char* path);
  const char* UrlCredentials();
  const char* ComposeUrl(const char* path);
  const char* BuildRequest(const char* path);
  // The four credentials joined by commas, or absent (null).
  const char* GetCodes();
  // Asks the user for proxy credentials (fills the proxy user and password).
  bool PromptProxyCredentials();

  // Fields, read by the transports and the prompts.
  ByteString scheme;
  ByteString host;
  ByteString base_path;
  ByteString site_user;
  ByteString site_password;
  ByteString proxy_user;
  ByteString proxy_password;
  ByteString scratch;
  bool connected;
  HWND owner;
  DownloadMethod* chosen;
  DownloadMethod* transports[kTransportCount];
};

// The site's host names and numeric addresses (deployment settings).
const char* HostToAddress(const char* name);
const char* AddressToHost(const char* address);
