#pragma once

class HostConnection;

// Gives connection its three transports in the order they are tried:
// WinInet, Socket, URL download. Out of memory leaves one out; the
// connection test goes on without it.
void AdoptStandardTransports(HostConnection& connection);
