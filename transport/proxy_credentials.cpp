#include "transport/proxy_credentials.h"

#include <windows.h>

#include <string.h>

#include <new>

namespace {

// Made in place on first use and never destroyed: a global with a destructor
// would need the C runtime's exit work, which the program does without.
// Not inlined: its first-use check would be copied into each of its callers.
__attribute__((noinline)) ProxyCredentials& Held() {
  alignas(ProxyCredentials) static unsigned char storage[sizeof(ProxyCredentials)];
  static ProxyCredentials* held = nullptr;
  if (!held) held = new (storage) ProxyCredentials();
  return *held;
}

void Wipe(ByteString& text) {
  if (text.IsPresent()) SecureZeroMemory(const_cast<char*>(text.Text()), text.Length());
  text.Release();
}

}  // namespace

void HoldProxyCredentials(const char* proxy, const char* user, const char* password) {
  if (!proxy || !proxy[0]) return;
  ForgetHeldProxyCredentials();
  Held().proxy.Assign(proxy);
  Held().user.Assign(user);
  Held().password.Assign(password);
}

const ProxyCredentials* HeldProxyCredentials(const char* proxy) {
  ProxyCredentials& held = Held();
  if (!proxy || !proxy[0] || !held.user.IsPresent() || strcmp(proxy, held.proxy.Text()) != 0) return nullptr;
  return &held;
}

void ForgetHeldProxyCredentials() {
  Wipe(Held().proxy);
  Wipe(Held().user);
  Wipe(Held().password);
}
