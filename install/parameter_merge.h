#pragma once
#include <stddef.h>

// Size of the merged text buffer; at most this many kept entries.
const size_t kMergedParametersSize = 1000;
const size_t kMaxKeptParameters = 300;
// The parameter text ends at position 258 of the 267-byte block.
const size_t kTrailerTextSize = 259;

// The parameter text of a 267-byte parameter block into out (kTrailerTextSize
// bytes or more). False, out empty, when the block does not end in "Cookies".
bool TrailerParameterText(const unsigned char* block, char* out, size_t cap);

// SameParameterKey over entries that end at their length (or a zero byte).
bool SameParameterKeyN(const char* a, size_t aLength, const char* b, size_t bLength);

// Keeps the entries of first, then of second, whose key is not kept yet, and
// joins them each after an "&". Once an entry would pass kMaxKeptParameters
// or not fit in cap, it and every later entry are dropped whole, so the
// result is never cut inside an entry. cap must be at least 1.
void MergeParameterTexts(const char* first, const char* second, char* out, size_t cap);
