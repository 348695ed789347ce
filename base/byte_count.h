#pragma once
#include <stddef.h>
#include <stdint.h>

// Byte counts as the drive dialog and the download progress show them:
// "1000bytes", "1.50kb", "50.51Mb". Exactly 1024 stays in the lower unit;
// counts beyond 1024 Tb stay in "Tb" (the largest 64-bit count is
// "8388607.99Tb"). A negative count, which nothing reports, reads as its
// magnitude with a minus sign. Writes into out; false (out empty) when cap is
// too small. 24 bytes always suffice.
bool FormatByteCountInto(char* out, size_t cap, int64_t count);
// The same in one process-wide buffer, overwritten by the next call.
const char* FormatByteCount(int64_t count);
