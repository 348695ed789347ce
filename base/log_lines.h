#pragma once
#include <stddef.h>

// The diagnostic log's line rules: carriage returns are dropped, a line feed
// ends a line that is written with CR LF, a tail without a line feed is
// written as it stands. Each line is handed to write in one call.
typedef void (*LogWriteFn)(void* context, const char* data, size_t length);

enum { kLogLineBufferSize = 2000 };

void LogWriteLines(const char* text, LogWriteFn write, void* context);
