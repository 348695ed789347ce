#pragma once
// The transports release their system library when the last object of their
// kind goes away. The URL download library leaves a window behind that would
// then call into unloaded code, so tests that create and destroy connections
// keep one for the whole run, as the program keeps its own until it ends.
#include "transport/host_connection.h"
#include "transport/standard_transports.h"

inline void KeepTransportLibrariesLoaded() {
  static HostConnection* const kept = new HostConnection("127.0.0.1", nullptr, "/");
  static bool adopted = (AdoptStandardTransports(*kept), true);
  (void)adopted;
}
