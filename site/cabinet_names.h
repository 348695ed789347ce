#pragma once
#include <stddef.h>

// Path rules for unpacking a cabinet, free of platform calls.

// The folder of a target path: everything before its last "\"; "." when the
// path has no "\" or its only "\" is the first character. False (out empty)
// when the folder does not fit cap bytes.
bool CabinetTargetFolder(const char* target, char* out, size_t cap);

// True when an entry name stays inside the folder it is unpacked into: not
// empty, not absolute, no drive or stream colon, no ".." component (nor one
// that the platform would read as "..": dots and trailing spaces only), no
// component that names a device ("NUL", "COM1.txt", "LPT\xB3" with a
// superscript digit).
bool IsContainedEntryName(const char* name);

// folder + "\" + name into out; false (out empty) when it does not fit.
bool ComposeEntryTarget(char* out, size_t cap, const char* folder, const char* name);

// True when the entry name is the target's file name (what follows its last
// "\"), letters compared without case as the file system does.
bool IsTargetEntry(const char* entry, const char* target);
