#pragma once
#include <windows.h>

// The install folder is the administrators' before anything lands in it.

// An install folder outside the program-files folders: its volume must keep
// access lists, and an existing folder that is not the administrators'
// alone gets Administrators as owner and the locked list, passed on to
// everything it holds. False, with a log line saying why, when the volume
// keeps no lists, the folder is a link, or any of it cannot be made theirs.
bool SecureInstallFolder(const char* folder);

// What the folder itself, a folder in it and a file in it are given:
// Administrators as owner; the locked list, protected on the folder and
// inherited below it. Null when it cannot be made; the caller frees it
// with LocalFree.
enum SecuredKind { kSecuredFolder, kHeldFolder, kHeldFile };
PSECURITY_DESCRIPTOR NewSecuredDescriptor(SecuredKind kind);
