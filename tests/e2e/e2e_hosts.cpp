// Linked only into the end-to-end variant of Setup.exe: the host table names
// the loopback addresses the test driver chose, given as
// SETUP_E2E_ADDRESSES="<first>,<second>", as both its names and its
// addresses, so that no name is ever looked up. SETUP_E2E_SITE_SCHEME=https
// makes the site's requests go over TLS. Without them the program
// ends at once and never reaches an address of the shipped table.
#include <windows.h>

#include <string.h>

#include "transport/host_connection.h"

namespace {

char g_first[64];
char g_second[64];
const char* g_addresses[4];

}  // namespace

extern "C" void SetupStart();

// The variant's entry point: the table first, then the program as shipped.
extern "C" void SetupTestStart() {
  char text[sizeof g_first + sizeof g_second];
  DWORD n = GetEnvironmentVariableA("SETUP_E2E_ADDRESSES", text, sizeof text);
  char* comma = (n > 0 && n < sizeof text) ? strchr(text, ',') : nullptr;
  if (!comma || comma - text >= static_cast<int>(sizeof g_first) || strncmp(text, "127.", 4) != 0 ||
      strncmp(comma + 1, "127.", 4) != 0 || strlen(comma + 1) >= sizeof g_second) {
    ExitProcess(97);
  }
  *comma = '\0';
  strcpy(g_first, text);
  strcpy(g_second, comma + 1);
  g_addresses[0] = g_addresses[1] = g_first;
  g_addresses[2] = g_addresses[3] = g_second;
  SetKnownHostsForTesting(g_addresses, g_addresses);
  // SETUP_E2E_SITE_SCHEME=https: the site's requests go over TLS.
  char scheme[8];
  n = GetEnvironmentVariableA("SETUP_E2E_SITE_SCHEME", scheme, sizeof scheme);
  if (n == 5 && strcmp(scheme, "https") == 0) SetSiteSchemeForTesting("https");
  SetupStart();
}
