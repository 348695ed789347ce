#pragma once
#include <stddef.h>
#include <stdint.h>

#include "base/byte_string.h"

// Texts of the gateway query, free of platform calls. Every builder writes
// into a caller's buffer of cap bytes and refuses a text that does not fit
// (false, out left empty): a query is never sent cut short.

// "&Bios=<hex>", then "&Beta=<beta>" when beta is not empty, then the stored
// parameters unchanged.
bool ComposeQuerySuffix(char* out, size_t cap, uint32_t fingerprint, const char* beta, const char* stored_params);

// "gateway_new.php?Product=<name>[&AuthKey=<key>]<suffix><product params>".
bool ComposeGatewayRequest(char* out, size_t cap, const char* name, const char* auth_key, const char* suffix,
                           const char* product_params);

// The gateway's one-line answer: the download area's URL and two more
// fields. Runs of commas count as one separator and leading commas are
// skipped; nothing is trimmed; fields past the third are ignored.
struct GatewayAnswer {
  explicit GatewayAnswer(const char* text);
  ByteString url;
  ByteString second;
  ByteString third;
};

// A download area's URL in its parts.
struct AreaUrl {
  AreaUrl() : port(0) {}
  ByteString scheme;    // "http" or "https", lower case
  ByteString host;      // without the port
  unsigned short port;  // as named; 0 when the URL names none
  ByteString path;      // without its leading "/"
};

// Splits "scheme://host[:port]/path". False, out left untouched, when the
// scheme is not http or https (any letter case; another would be fetched
// as something it is not), the text names no host, the port is not a
// number from 1 to 65535, or a space in the host or a control byte in host
// or path would break the request line that names it: no download area is
// taken from such a text.
bool SplitUrl(const char* url, AreaUrl* out);
