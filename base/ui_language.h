#pragma once
#include <windows.h>

#include "base/ui_text.h"

// The language of the user's interface: the platform's preferred UI languages
// in order, then the user's default, then English; the first one the program
// carries texts for. Its texts are unpacked once and kept for the process.
// The calls below load on first use.
void LoadUiLanguage();
// At start, before any window: loads the language and, for one written right
// to left, has every window the process makes mirrored.
void UseUiLanguage();
// The chosen language is written right to left: its windows are mirrored.
bool UiRightToLeft();
// A text of the chosen language as packed (marks unfilled); never null.
const wchar_t* UiPattern(UiText id);

// A text of the chosen language with its names and values filled in. Room for
// any text with a full path as its value; a value too long for it is left
// out, so the words still show.
enum { kUiLineCap = 400 };
class UiLine {
 public:
  explicit UiLine(UiText id, const wchar_t* value1 = nullptr, const wchar_t* value2 = nullptr,
                  const wchar_t* value3 = nullptr);
  UiLine(const UiLine&) = delete;
  UiLine& operator=(const UiLine&) = delete;
  const wchar_t* Text() const { return text_; }

 private:
  wchar_t text_[kUiLineCap];
};

// Gives a window that shows texts of the chosen language its reading order:
// right to left for a language written so (names and numbers in it then
// stand where its readers expect them).
void SetUiReading(HWND window);
// Shows a text of the chosen language as a window's (or a dialog item's)
// text, in its reading order.
void SetUiText(HWND window, UiText id);
void SetDlgItemUiText(HWND dialog, int item, UiText id);
