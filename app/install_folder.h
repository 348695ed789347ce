#pragma once
#include <stddef.h>

// The folder rules of the drive dialog, free of the platform.

// The folder offered first: the program-files folder followed by
// "\<family>" ("\<family>" when there is none). A program-files folder so
// long that the finished folder would not fit a path is replaced by the root
// of its drive, so the choice never yields a cut path. cap: at least 16.
void DefaultInstallFolder(const char* program_files, char* folder, size_t cap);
// OK with drive letter: the folder stays when it begins with the letter, a
// colon and a backslash, else becomes "X:\<family>"; then a backslash ends it. False (folder
// empty) only when cap cannot hold even the root form.
bool FinishInstallFolder(char* folder, size_t cap, char letter);
// Upper-case form of an ASCII letter; anything else is returned unchanged.
char UpperLetter(char c);
