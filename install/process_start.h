#pragma once
#include <stddef.h>

// The one place that starts programs: the updater, checked or not. Paths and
// arguments are wide: the install folder and the setup's own path (for
// "/Bulk=") may be named in any script.

// Composes the quoted program path, a space and the arguments into out
// (cap characters). False when it does not fit (it is never cut).
bool ComposeCommandLine(wchar_t* out, size_t cap, const wchar_t* program, const wchar_t* arguments);
// Creates the process in folder, not waited for. False when the command line
// does not fit or the process cannot be created.
bool StartProcess(const wchar_t* program, const wchar_t* arguments, const wchar_t* folder);

enum StartOutcome { kStarted, kNotStarted, kNotTrusted };
// Opens program so that nobody can write or delete it, checks its publisher
// (unless this build turned the check off) and starts it while it stays
// open. A program that fails the check is deleted and the log says why.
StartOutcome StartCheckedProcess(const wchar_t* program, const wchar_t* arguments, const wchar_t* folder);
