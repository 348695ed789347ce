#include "base/ui_language.h"

#include <string.h>

#include "base/unpack.h"

namespace {

// Every language's texts, unpacked once: the language ids (four hex digits
// each), an empty text, then each language's texts in the order of the ids.
// g_first is the index of the chosen language's first text. Set once; a
// second loader that lost the race keeps its own copy, which is as good.
wchar_t* volatile g_texts = nullptr;
size_t g_length = 0;
size_t g_first = 0;
bool g_right_to_left = false;

// The most the texts may unpack to: well above the ten kilobytes they take,
// far below what a damaged size could ask for.
const DWORD kMaxPackSize = 65536;

// The texts, unpacked and widened; null when damaged.
wchar_t* UnpackTexts(size_t* length) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), "TEXTS");
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const BYTE* resource = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  DWORD size = found ? SizeofResource(module, found) : 0;
  DWORD declared = 0;
  BYTE* packed = UnpackBlock(resource, size, 1, kMaxPackSize, &declared);
  if (!packed) return nullptr;
  const char* utf8 = reinterpret_cast<const char*>(packed);
  int wide = MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(declared), nullptr, 0);
  wchar_t* texts = wide > 0 ? new wchar_t[wide] : nullptr;
  if (texts && MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(declared), texts, wide) == wide) {
    *length = static_cast<size_t>(wide);
  } else {
    delete[] texts;
    texts = nullptr;
  }
  delete[] packed;
  return texts;
}

// Four hex digits, as the preferred languages and the pack's ids come.
LANGID ParseLanguage(const wchar_t* text) {
  LANGID id = 0;
  for (int i = 0; i < 4; ++i) {
    wchar_t c = text[i];
    int digit = c >= L'0' && c <= L'9' ? c - L'0' : (c | 0x20) >= L'a' && (c | 0x20) <= L'f' ? (c | 0x20) - L'a' + 10 : -1;
    if (digit < 0) return 0;
    id = static_cast<LANGID>(id << 4 | digit);
  }
  return text[4] ? 0 : id;
}

// Where the pack holds texts for a language the user reads: its own form
// first (Simplified Chinese is carried for its country alone), then the
// language as such. Sets the chosen language; false when none is carried.
bool TryLanguage(const wchar_t* texts, size_t length, size_t languages, LANGID id) {
  const LANGID forms[] = {id, static_cast<LANGID>(PRIMARYLANGID(id))};
  for (LANGID wanted : forms) {
    for (size_t i = 0; i < languages; ++i) {
      if (ParseLanguage(PackText(texts, length, static_cast<int>(i))) != wanted) continue;
      g_first = languages + 1 + i * kUiTextCount;
      g_right_to_left = PRIMARYLANGID(id) == LANG_ARABIC;
      return true;
    }
  }
  return false;
}

// Picks the language; false when the pack carries none of the user's, nor
// English.
bool ChooseLanguage(const wchar_t* texts, size_t length, size_t languages) {
  // Looked up: older systems have only the user's default.
  typedef BOOL(WINAPI * PreferredLanguages)(DWORD, ULONG*, wchar_t*, ULONG*);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  PreferredLanguages preferred = kernel ? reinterpret_cast<PreferredLanguages>(reinterpret_cast<void*>(
                                              GetProcAddress(kernel, "GetUserPreferredUILanguages")))
                                        : nullptr;
  // A list longer than the buffer is not read; the user's default follows.
  wchar_t list[128];
  ULONG count = 0, size = sizeof list / sizeof list[0];
  if (preferred && preferred(0x4 /* MUI_LANGUAGE_ID */, &count, list, &size) && size <= sizeof list / sizeof list[0]) {
    list[sizeof list / sizeof list[0] - 1] = 0;
    for (const wchar_t* p = list; *p; p += wcslen(p) + 1) {
      LANGID id = ParseLanguage(p);
      if (id && TryLanguage(texts, length, languages, id)) return true;
    }
  }
  return TryLanguage(texts, length, languages, GetUserDefaultUILanguage()) ||
         TryLanguage(texts, length, languages, MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL));
}

}  // namespace

void LoadUiLanguage() {
  if (g_texts) return;
  size_t length = 0;
  wchar_t* texts = UnpackTexts(&length);
  if (!texts) return;
  size_t languages = 0;
  while (const wchar_t* id = PackText(texts, length, static_cast<int>(languages))) {
    if (!*id) break;
    ++languages;
  }
  // Every language's last text must be there.
  if (!PackText(texts, length, static_cast<int>(languages + languages * kUiTextCount)) ||
      !ChooseLanguage(texts, length, languages)) {
    delete[] texts;
    return;
  }
  g_length = length;
  if (InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&g_texts), texts, nullptr)) delete[] texts;
}

void UseUiLanguage() {
  LoadUiLanguage();
  if (g_right_to_left) SetProcessDefaultLayout(LAYOUT_RTL);
}

bool UiRightToLeft() {
  LoadUiLanguage();
  return g_right_to_left;
}

const wchar_t* UiPattern(UiText id) {
  LoadUiLanguage();
  const wchar_t* text = g_texts ? PackText(g_texts, g_length, static_cast<int>(g_first + id)) : nullptr;
  return text ? text : L"";
}

UiLine::UiLine(UiText id, const wchar_t* value1, const wchar_t* value2, const wchar_t* value3) {
  const wchar_t* values[kUiValueCount] = {value1, value2, value3};
  const wchar_t* pattern = UiPattern(id);
  if (!FillUiText(text_, kUiLineCap, pattern, values, kUiValueCount)) FillUiText(text_, kUiLineCap, pattern, nullptr, 0);
}

void SetUiReading(HWND window) {
  if (!UiRightToLeft()) return;
  LONG_PTR extended = GetWindowLongPtrA(window, GWL_EXSTYLE);
  SetWindowLongPtrA(window, GWL_EXSTYLE, extended | WS_EX_RTLREADING);
}

void SetUiText(HWND window, UiText id) {
  SetUiReading(window);
  SetWindowTextW(window, UiLine(id).Text());
}

void SetDlgItemUiText(HWND dialog, int item, UiText id) { SetUiText(GetDlgItem(dialog, item), id); }
