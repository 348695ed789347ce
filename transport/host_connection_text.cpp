// The platform-free half of the connection record: construction without
// transports, and the text helpers the transports build their requests with.
#include <string.h>

#include "base/text.h"
#include "transport/host_connection.h"

void HostConnection::Init(const char* host_text, HWND owner_window, const char* base, const char* scheme_text,
                          unsigned short port_number) {
  // Only "https" asks for TLS; callers refuse other schemes before they
  // build a connection.
  secure_ = scheme_text && strcmp(scheme_text, "https") == 0;
  secure_failed_ = false;
  failure = kOtherFailure;
  scheme.Assign(secure_ ? "https" : "http");
  port = port_number;
  host.Assign(host_text);
  owner = owner_window;
  const char* b = base ? base : "";
  const char* lead = b[0] == '/' ? "" : "/";
  size_t n = strlen(b);
  const char* tail = (n > 0 && b[n - 1] == '/') || (n == 0 && lead[0]) ? "" : "/";
  ByteString led;
  led.AssignJoined(lead, b);
  base_path.AssignJoined(led.Text(), tail);
  site_user.Assign("");
  site_password.Assign("");
  connected = false;
  chosen = nullptr;
  progress = nullptr;
  for (int i = 0; i < kTransportCount; ++i) transports[i] = nullptr;
}

HostConnection::HostConnection(const char* host_text, HWND owner_window, const char* base, const char* scheme_text,
                               unsigned short port_number) {
  Init(host_text, owner_window, base, scheme_text, port_number);
}

unsigned short HostConnection::Port() const { return port ? port : secure_ ? 443 : 80; }

bool IsSecureConnectionError(unsigned long code) {
  static const unsigned long kCodes[] = {
      12037,  // certificate dates
      12038,  // certificate name
      12040,  // redirect from https to http
      12044,  // the server asks for a client certificate
      12045,  // untrusted authority
      12055,  // several certificate errors
      12056,  // no revocation information
      12057,  // revocation check failed
      12157,  // secure channel: no common protocol or cipher
      12169,  // invalid certificate
      12170,  // revoked certificate
  };
  for (unsigned long c : kCodes) {
    if (c == code) return true;
  }
  return false;
}

bool HostConnection::AdoptTransport(DownloadMethod* transport) {
  for (int i = 0; i < kTransportCount; ++i) {
    if (!transports[i]) {
      transports[i] = transport;
      return true;
    }
  }
  delete transport;  // the list is full: nothing else owns it
  return false;
}

HostConnection::~HostConnection() {
  for (int i = 0; i < kTransportCount; ++i) {
    delete transports[i];
    transports[i] = nullptr;
  }
}

// Every helper builds its text in a local buffer and stores it in the scratch
// text only when it fit; an over-long text is refused (null), never cut.
static const char* Keep(ByteString& scratch, const char* text) {
  scratch.Assign(text);
  return scratch.IsPresent() ? scratch.Text() : nullptr;
}

const char* HostConnection::FullPath(const char* path) {
  char text[kUrlBufferSize];
  if (FormatText(text, sizeof text, "%s%s", base_path.Text(), path) < 0) return nullptr;
  return Keep(scratch, text);
}

const char* HostConnection::UrlCredentials() {
  if (site_user.IsEmpty()) return "";
  char text[kUrlCredentialsBufferSize];
  if (FormatText(text, sizeof text, "%s:%s@", site_user.Text(), site_password.Text()) < 0) return nullptr;
  return Keep(scratch, text);
}

// ":<port>" when the URL named one, else nothing.
static void PortText(unsigned short port, char (&out)[8]) {
  out[0] = 0;
  if (port) FormatText(out, sizeof out, ":%u", static_cast<unsigned>(port));
}

const char* HostConnection::ComposeUrl(const char* path) {
  char credentials[kUrlCredentialsBufferSize];
  const char* c = UrlCredentials();
  if (!c || !CopyText(credentials, sizeof credentials, c)) return nullptr;
  char port_text[8];
  PortText(port, port_text);
  char text[kUrlBufferSize];
  if (FormatText(text, sizeof text, "%s://%s%s%s%s%s", scheme.Text(), credentials, host.Text(), port_text,
                 base_path.Text(), path) < 0)
    return nullptr;
  return Keep(scratch, text);
}

const char* HostConnection::BuildRequest(const char* path) {
  char port_text[8];
  PortText(port, port_text);
  char text[kRequestBufferSize];
  if (FormatText(text, sizeof text, "GET http://%s%s%s%s HTTP/1.0\r\n", host.Text(), port_text, base_path.Text(),
                 path) < 0)
    return nullptr;
  // An empty user name counts as present: the line is sent all the same.
  if (site_user.IsPresent()) {
    ByteString line = BasicAuthLine(site_user.Text(), site_password.Text(), "Authorization");
    if (!line.IsPresent() || !AppendText(text, sizeof text, line.Text())) return nullptr;
  }
  if (proxy_user.IsPresent()) {
    ByteString line = BasicAuthLine(proxy_user.Text(), proxy_password.Text(), "Proxy-Authorization");
    if (!line.IsPresent() || !AppendText(text, sizeof text, line.Text())) return nullptr;
  }
  if (!AppendText(text, sizeof text, "\r\n")) return nullptr;
  return Keep(scratch, text);
}

const char* HostConnection::GetCodes() {
  char text[kCodesBufferSize];
  // Longer than the buffer: absent, rather than a cut credential.
  if (FormatText(text, sizeof text, "%s,%s,%s,%s", site_user.Text(), site_password.Text(), proxy_user.Text(),
                 proxy_password.Text()) < 0)
    return nullptr;
  if (strlen(text) < 4) return nullptr;
  return Keep(scratch, text);
}

bool Base64Encode(const unsigned char* bytes, int count, char* out, size_t cap) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (cap == 0) return false;
  out[0] = 0;
  if (count <= 0) return true;
  size_t n = static_cast<size_t>(count);
  size_t needed = (n + 2) / 3 * 4 + 1;
  if (needed > cap) return false;
  size_t o = 0;
  for (size_t i = 0; i < n; i += 3) {
    unsigned v = static_cast<unsigned>(bytes[i]) << 16;
    if (i + 1 < n) v |= static_cast<unsigned>(bytes[i + 1]) << 8;
    if (i + 2 < n) v |= bytes[i + 2];
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
    out[o++] = i + 2 < n ? kAlphabet[v & 63] : '=';
  }
  out[o] = 0;
  return true;
}

ByteString BasicAuthLine(const char* user, const char* password, const char* header) {
  ByteString line;
  char pair[kCredentialPairBufferSize];
  int length = FormatText(pair, sizeof pair, "%s:%s", user, password);
  if (length < 0) return line;
  char encoded[kBase64BufferSize];
  if (!Base64Encode(reinterpret_cast<const unsigned char*>(pair), length, encoded, sizeof encoded)) return line;
  char text[kHeaderLineBufferSize];
  if (FormatText(text, sizeof text, "%s: Basic %s\r\n", header, encoded) < 0) return line;
  line.Assign(text);
  return line;
}
