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

// A scheme: a letter, then letters, digits, "+", "-" or ".". An error page
// that merely holds a link somewhere is not taken for a download area.
static bool IsScheme(const char* start, const char* end) {
  if (start == end) return false;
  for (const char* p = start; p < end; ++p) {
    char c = *p;
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!letter && (p == start || !other)) return false;
  }
  return true;
}

bool SplitUrl(const char* url, ByteString* host, ByteString* path) {
  const char* scheme_end = url ? strstr(url, "://") : nullptr;
  if (!scheme_end || !IsScheme(url, scheme_end)) return false;
  const char* host_start = scheme_end + 3;
  const char* slash = strchr(host_start, '/');
  const char* host_end = slash ? slash : host_start + strlen(host_start);
  if (host_end == host_start) return false;
  for (const char* p = host_start; p < host_end; ++p) {
    if (*p == ' ' || IsControlByte(static_cast<unsigned char>(*p))) return false;
  }
  for (const char* p = host_end; *p; ++p) {
    if (IsControlByte(static_cast<unsigned char>(*p))) return false;
  }
  if (!slash) {
    host->Assign(host_start);
    path->Assign("");
  } else {
    host->Assign(host_start, static_cast<size_t>(slash - host_start));
    path->Assign(slash + 1);
  }
  return true;
}
