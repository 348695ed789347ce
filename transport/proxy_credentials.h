#pragma once
#include "base/byte_string.h"

// The proxy credentials the user last gave in this process, held for the
// one proxy they were given for: a later request through that same proxy
// uses them instead of asking again, and no other proxy ever sees them.
// Worker thread only.
struct ProxyCredentials {
  ByteString proxy;
  ByteString user;
  ByteString password;
};

// Holds user and password for proxy, replacing what was held. An empty
// proxy (not known) holds nothing.
void HoldProxyCredentials(const char* proxy, const char* user, const char* password);
// What is held for proxy, or none (null); an empty proxy matches nothing.
const ProxyCredentials* HeldProxyCredentials(const char* proxy);
// Overwrites the held texts and forgets them: when the program ends, so
// that no copy stays in memory, and before each test.
void ForgetHeldProxyCredentials();
