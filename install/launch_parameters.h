#pragma once
#include "base/byte_string.h"

// Merges the web parameters of the parameter block at the end of the running
// executable into the family's stored "WWWParams".
void MergeLaunchParameters();
// The same for the executable at path (tests stamp copies).
void MergeLaunchParametersFrom(const wchar_t* path);
// The family's "WWWParams" followed directly by the product's.
ByteString StoredWebParameters();
// Entries are the same when equal up to and including their first "=", or
// wholly equal when neither has one; case counts.
bool SameParameterKey(const char* a, const char* b);
