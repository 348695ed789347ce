#include "base/ui_text.h"

#include "install/product.h"

#define SETUP_WIDE_(text) L##text
#define SETUP_WIDE(text) SETUP_WIDE_(text)

const wchar_t* PackText(const wchar_t* pack, size_t length, int n) {
  size_t at = 0;
  for (; n > 0 && at < length; ++at) {
    if (!pack[at]) --n;
  }
  // The text found must end inside the pack.
  for (size_t end = at; end < length; ++end) {
    if (!pack[end]) return n == 0 ? pack + at : nullptr;
  }
  return nullptr;
}

bool FillUiText(wchar_t* out, size_t cap, const wchar_t* pattern, const wchar_t* const* values, int count) {
  static const wchar_t* const kNames[] = {SETUP_WIDE(SETUP_PRODUCT_NAME), SETUP_WIDE(SETUP_FAMILY_NAME),
                                          SETUP_WIDE(SETUP_MAKER_NAME)};
  if (!cap) return false;
  size_t used = 0;
  for (const wchar_t* p = pattern; *p; ++p) {
    const wchar_t* insert = nullptr;
    wchar_t single[2] = {*p, 0};
    if (*p >= kUiProductMark && *p <= kUiMakerMark) {
      insert = kNames[*p - kUiProductMark];
    } else if (*p >= kUiValueMark && *p < kUiValueMark + kUiValueCount) {
      int index = *p - kUiValueMark;
      insert = index < count && values[index] ? values[index] : L"";
    } else {
      insert = single;
    }
    for (; *insert; ++insert) {
      if (used + 1 >= cap) {
        out[0] = 0;
        return false;
      }
      out[used++] = *insert;
    }
  }
  out[used] = 0;
  return true;
}
