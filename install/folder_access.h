#pragma once
#include <windows.h>

// The install folder is the administrators' before anything lands in it.

// Makes the install folder (no trailing backslash) ready. Inside the
// program-files folders (locked false) it is made when missing and
// inherits their list. Elsewhere it is made with the locked list in one
// step; when it exists by then it is judged: the administrators' alone is
// used as it is, another account's is taken over only while it holds
// nothing (checked before and after). False, with a log line saying why,
// when the volume keeps no lists, the folder is a link, holds anything
// (then it is left as it was found), or cannot be made theirs.
bool PrepareInstallFolder(const wchar_t* folder, bool locked);

// What the folder is made with or given: Administrators as owner and the
// locked list, protected from its parent's and passed on to what it will
// hold. Null when it cannot be made; the caller frees it with LocalFree.
PSECURITY_DESCRIPTOR NewSecuredDescriptor();
