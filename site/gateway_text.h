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

// Splits "scheme://host/path" into host and path (without its leading "/").
// False, both left untouched, when the text does not begin with a scheme
// and "://", names no host, or holds a space in the host or a control byte
// in host or path: such a text would break the request line that names it,
// so no download area is taken from it.
bool SplitUrl(const char* url, ByteString* host, ByteString* path);
