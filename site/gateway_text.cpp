#include "site/gateway_text.h"

#include <string.h>

#include "base/text.h"

bool ComposeQuerySuffix(char* out, size_t cap, uint32_t fingerprint, const char* beta, const char* stored_params) {
  bool ok = FormatText(out, cap, "&Bios=%x", static_cast<unsigned>(fingerprint)) >= 0;
  if (ok && beta && beta[0]) ok = AppendFormat(out, cap, "&Beta=%s", beta);
  if (ok && stored_params) ok = AppendText(out, cap, stored_params);
  if (!ok && cap) out[0] = 0;
  return ok;
}

bool ComposeGatewayRequest(char* out, size_t cap, const char* name, const char* auth_key, const char* suffix,
                           const char* product_params) {
  bool ok = FormatText(out, cap, "gateway_new.php?Product=%s", name) >= 0;
  if (ok && auth_key && auth_key[0]) ok = AppendFormat(out, cap, "&AuthKey=%s", auth_key);
  if (ok && suffix) ok = AppendText(out, cap, suffix);
  if (ok && product_params) ok = AppendText(out, cap, product_params);
  if (!ok && cap) out[0] = 0;
  return ok;
}

// The next field at *cursor (runs of commas skipped), or false when none is left.
static bool NextField(const char** cursor, const char** start, size_t* length) {
  const char* p = *cursor;
  while (*p == ',') ++p;
  if (!*p) return false;
  const char* end = strchr(p, ',');
  if (!end) end = p + strlen(p);
  *start = p;
  *length = static_cast<size_t>(end - p);
  *cursor = end;
  return true;
}

GatewayAnswer::GatewayAnswer(const char* text) {
  const char* cursor = text ? text : "";
  ByteString* fields[] = {&url, &second, &third};
  for (ByteString* field : fields) {
    const char* start;
    size_t length;
    if (!NextField(&cursor, &start, &length)) break;
    field->Assign(start, length);
  }
}

static bool IsControlByte(unsigned char c) { return c < 0x20 || c == 0x7f; }

// "http" or "https" in any letter case; true for https.
static bool ReadScheme(const char* start, const char* end, bool* secure) {
  static const char kHttps[] = "https";
  size_t n = static_cast<size_t>(end - start);
  if (n != 4 && n != 5) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = start[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kHttps[i]) return false;
  }
  *secure = n == 5;
  return true;
}

bool SplitUrl(const char* url, AreaUrl* out) {
  const char* scheme_end = url ? strstr(url, "://") : nullptr;
  bool secure = false;
  if (!scheme_end || !ReadScheme(url, scheme_end, &secure)) return false;
  const char* host_start = scheme_end + 3;
  const char* slash = strchr(host_start, '/');
  const char* host_end = slash ? slash : host_start + strlen(host_start);
  for (const char* p = host_start; p < host_end; ++p) {
    if (*p == ' ' || IsControlByte(static_cast<unsigned char>(*p))) return false;
  }
  for (const char* p = host_end; *p; ++p) {
    if (IsControlByte(static_cast<unsigned char>(*p))) return false;
  }
  // A port: the digits after the host's last ":".
  const char* name_end = host_end;
  unsigned port = 0;
  for (const char* p = host_start; p < host_end; ++p) {
    if (*p == ':') name_end = p;
  }
  if (name_end != host_end) {
    if (name_end + 1 == host_end || host_end - name_end > 6) return false;
    for (const char* p = name_end + 1; p < host_end; ++p) {
      if (*p < '0' || *p > '9') return false;
      port = port * 10 + static_cast<unsigned>(*p - '0');
    }
    if (port == 0 || port > 65535) return false;
  }
  if (name_end == host_start) return false;
  out->scheme.Assign(secure ? "https" : "http");
  out->host.Assign(host_start, static_cast<size_t>(name_end - host_start));
  out->port = static_cast<unsigned short>(port);
  out->path.Assign(slash ? slash + 1 : "");
  return true;
}
