#pragma once
#include <stddef.h>
#include <stdint.h>

// The install sequence's folder rules, free of the platform.

// Makes a non-empty folder end with a backslash: the sequence takes the last
// character off for the working folder, so a stored "X:\<family>" would
// otherwise lose its last letter. False (folder unchanged) when it does not fit.
bool EndWithBackslash(char* folder, size_t cap);
// Whether path lies below folder: folder's text, letters compared without
// case, then a backslash and more. A drive root or an empty folder holds
// nothing here, and a path with ".." is never inside, so an answer of true
// always means a real sub-folder.
bool IsInsideFolder(const char* path, const char* folder);
// Whether an existing folder's security descriptor (self-relative, as the
// platform hands it out) leaves it to the administrators: owned by
// Administrators or SYSTEM, with an access list in which no allowing entry
// for any other account grants writing, adding, deleting, or changing the
// list or the owner. No list, or a descriptor that does not read, is not.
bool IsAdministratorsFolder(const unsigned char* descriptor, size_t size);

// What becomes of an install folder outside the program-files folders,
// from its volume's flags (the platform's; 0 when they cannot be read), its
// descriptor (null for a folder made just now with the locked list) and
// whether it holds anything (or could not be listed). A volume without
// persistent access lists is refused: nothing there could keep others out.
// Another account's folder is taken over only while empty: whatever it
// holds would be the administrators' after it, beside the updater.
enum FolderVerdict { kFolderRefused, kFolderLeft, kFolderToLock, kFolderNotEmpty };
const uint32_t kPersistentAccessLists = 0x8;
FolderVerdict JudgeInstallFolder(uint32_t volume_flags, const unsigned char* descriptor, size_t size, bool holds);
