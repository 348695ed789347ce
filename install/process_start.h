#pragma once
#include <stddef.h>

// The one place that starts programs: the updater, checked or not.

// Composes the quoted program path, a space and the arguments into out.
// False when it does not fit (it is never cut).
bool ComposeCommandLine(char* out, size_t cap, const char* program, const char* arguments);
// Creates the process in folder, not waited for. False when the command line
// does not fit or the process cannot be created.
bool StartProcess(const char* program, const char* arguments, const char* folder);

enum StartOutcome { kStarted, kNotStarted, kNotTrusted };
// Opens program so that nobody can write or delete it, checks its publisher
// (unless this build turned the check off) and starts it while it stays
// open. A program that fails the check is deleted and the log says why.
StartOutcome StartCheckedProcess(const char* program, const char* arguments, const char* folder);
