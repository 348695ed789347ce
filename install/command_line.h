#pragma once
#include <stddef.h>

// Appends value to the text in out so that the platform's command-line
// parser reads it back unchanged as (the rest of) one argument: quoted when
// it is empty or holds a blank or a quote, with quotes and the backslashes
// before them escaped. False, out unchanged, when it does not fit in cap.
bool AppendArgumentValue(char* out, size_t cap, const char* value);
