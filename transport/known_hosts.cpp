// The site's host names and their numeric addresses; the values come from
// the deployment settings of the build.
#include <string.h>

#include "transport/host_connection.h"

namespace {

const char* const kBuiltInNames[4] = {SETUP_HOST_1, SETUP_HOST_2, SETUP_HOST_3, SETUP_HOST_4};
const char* const kBuiltInAddresses[4] = {SETUP_ADDRESS_1, SETUP_ADDRESS_1, SETUP_ADDRESS_2, SETUP_ADDRESS_2};

const char* const* g_names = kBuiltInNames;
const char* const* g_addresses = kBuiltInAddresses;
const char* g_site_scheme = SETUP_SITE_SCHEME;

}  // namespace

void SetKnownHostsForTesting(const char* const* names, const char* const* addresses) {
  bool restore = !names || !addresses;
  g_names = restore ? kBuiltInNames : names;
  g_addresses = restore ? kBuiltInAddresses : addresses;
}

const char* KnownHostName(int index) { return index >= 0 && index < 4 ? g_names[index] : nullptr; }

const char* HostToAddress(const char* name) {
  if (!name) return name;
  for (int i = 0; i < 4; ++i) {
    if (strcmp(name, g_names[i]) == 0) return g_addresses[i];
  }
  return name;
}

const char* AddressToHost(const char* address) {
  if (!address) return address;
  for (int i = 0; i < 4; ++i) {
    if (strcmp(address, g_addresses[i]) == 0) return g_names[i];
  }
  return address;
}

const char* SiteScheme() { return g_site_scheme; }

void SetSiteSchemeForTesting(const char* scheme) { g_site_scheme = scheme ? scheme : SETUP_SITE_SCHEME; }
