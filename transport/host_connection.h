#pragma once
#include <stddef.h>

#ifdef _WIN32
#include <windows.h>
#else
typedef struct HWND__* HWND;  // the text helpers also build natively
#endif

#include "base/byte_string.h"
#include "base/transfer_progress.h"
#include "transport/download_method.h"

// The per-host connection record: where a server is, its credentials, the
// three transports and the one found to work. Owned by a HostClient.
class HostConnection {
 public:
  enum { kTransportCount = 3 };

  // scheme "http" or "https" (anything else is taken as "http"); port 0
  // stands for the scheme's own. The base path made to begin and end with
  // "/". No transports: AdoptTransport appends owned ones in the order they
  // are to be tried.
  HostConnection(const char* host, HWND owner, const char* base_path, const char* scheme = "http",
                 unsigned short port = 0);
  bool AdoptTransport(DownloadMethod* transport);
  ~HostConnection();
  HostConnection(const HostConnection&) = delete;
  HostConnection& operator=(const HostConnection&) = delete;

  // Runs the connection test on the first call, then downloads path (spaces
  // escaped, "Rand=" appended) with the chosen transport, which reports the
  // transfer to sink when one is given.
  bool Download(const char* path, const char* local_file, TransferProgress* sink = nullptr);
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

  // Over TLS: the scheme is "https".
  bool IsSecure() const { return secure_; }
  // The server's port: the one named, else 443 over TLS and 80 without.
  unsigned short Port() const;
  // True when the last Download failed and every attempt that was made
  // failed for the secure connection alone (certificate, name, dates, no
  // common protocol): the user is told so rather than "can't contact".
  bool SecureConnectionFailed() const { return secure_failed_; }

  // How a transport's GetFile failed, as it sets it before returning false;
  // the connection resets it to kOtherFailure before every call.
  enum Failure {
    kOtherFailure,
    kSecureFailure,   // the TLS session could not be made or was left
    kNotAttempted,    // the transport cannot serve this URL, or cannot tell why it failed
  };
  Failure failure;

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
  // Progress of the download in hand: the sink given to Download while its
  // transfer runs, else none (null).
  TransferProgress* progress;
  unsigned short port;  // as the URL named it; 0 when it named none

 private:
  void Init(const char* host_text, HWND owner_window, const char* base, const char* scheme_text,
            unsigned short port_number);
  // One GetFile of transport, its failure kind counted into the tallies.
  bool Attempt(DownloadMethod* transport, const char* path, const char* local_file, int* secure, int* other);

  bool secure_;
  bool secure_failed_;
};

// True for a WinInet error code that means the TLS session failed: the
// certificate (authority, name, dates, revocation, usage), the protocol
// (no common version or cipher), or a redirect that leaves TLS.
bool IsSecureConnectionError(unsigned long code);

// Buffer sizes of the connection's texts (terminating zero included). The
// credential buffers hold a 999-character proxy name and password, the most
// the proxy prompt takes; the others refuse a longer text.
enum {
  kUrlBufferSize = 260,          // URL, full path, encoded download path
  kUrlCredentialsBufferSize = 100,
  kCodesBufferSize = 100,
  kCredentialPairBufferSize = 2000,
  kBase64BufferSize = 2700,
  kHeaderLineBufferSize = 2800,
  kRequestBufferSize = 4096,
};

// Standard Base64 (RFC 4648) of count bytes with a terminating zero. False,
// with out holding the empty text, when the result does not fit in cap.
bool Base64Encode(const unsigned char* bytes, int count, char* out, size_t cap);
// "<header>: Basic <base64 of user:password>\r\n". An absent text stands for
// the empty one. Absent when the line would exceed its buffer.
ByteString BasicAuthLine(const char* user, const char* password, const char* header);

// The site's host names and numeric addresses (deployment settings).
const char* HostToAddress(const char* name);
const char* AddressToHost(const char* address);
// Host name of table entry index (0 to 3), or null outside the table.
const char* KnownHostName(int index);
// Tests point the table at their own loopback addresses; null restores the
// built-in table. The texts must outlive their use.
void SetKnownHostsForTesting(const char* const* names, const char* const* addresses);

// The scheme of the site's own requests, "http" or "https" (a deployment
// setting beside the host table). Tests set another; null restores it.
const char* SiteScheme();
void SetSiteSchemeForTesting(const char* scheme);

// "Rand=" and a number: a fold of the UTC time on first use, then every
// second number after it. The counter is shared by the whole process.
ByteString RandomParameter();
// The eight fields of the UTC time: year, month, day of week, day, hour,
// minute, second, milliseconds.
typedef void (*RandomClock)(unsigned short fields[8]);
// Tests fix the clock and start the counter afresh; null restores the
// system clock.
void SetRandomClockForTesting(RandomClock clock);
unsigned FoldTimeFields(const unsigned short fields[8]);
