#pragma once
#include <stddef.h>

// The install sequence's folder rules, free of the platform.

// Makes a non-empty folder end with a backslash: the sequence takes the last
// character off for the working folder, so a stored "X:\Pellomar" would
// otherwise lose its last letter. False (folder unchanged) when it does not fit.
bool EndWithBackslash(char* folder, size_t cap);
// Whether path lies below folder: folder's text, letters compared without
// case, then a backslash and more. A drive root or an empty folder holds
// nothing here, and a path with ".." is never inside, so an answer of true
// always means a real sub-folder.
bool IsInsideFolder(const char* path, const char* folder);
