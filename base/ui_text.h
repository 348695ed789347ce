#pragma once
#include <stddef.h>

#include "ui_text_ids.h"  // the keys of resources/texts/en.txt, made by the build

// Texts as the language packs carry them: the names and the values a text
// takes stand in it as control characters (the packer writes {product} as 1,
// {1} as 0x11 and so on), which no text holds otherwise.
enum : wchar_t {
  kUiProductMark = 1,
  kUiFamilyMark = 2,
  kUiMakerMark = 3,
  kUiValueMark = 0x11,  // {1}; {2} and {3} follow
};
enum { kUiValueCount = 3 };

// The n-th text of an unpacked pack (texts one after another, each ended by
// a zero, length characters in all), or null when the pack holds fewer.
const wchar_t* PackText(const wchar_t* pack, size_t length, int n);

// pattern with its marks filled in: the names from product.h, the values from
// values[0..count) (a value not given, or null, reads as empty). False, and
// out empty, when the result does not fit cap characters: a line is shown
// whole or not at all.
bool FillUiText(wchar_t* out, size_t cap, const wchar_t* pattern, const wchar_t* const* values, int count);
