#include "transport/proxy_login_dialog.h"

#include "base/ui_language.h"
#include "transport/host_connection.h"

namespace {

// Where the open prompt stores its answers; one prompt at a time.
ByteString* g_user_target = nullptr;
ByteString* g_password_target = nullptr;

// The fields hold at most 999 characters; a longer text is stored cut, as
// the edit hands it over.
enum { kFieldBufferSize = 1000 };

void StoreField(HWND dialog, int id, ByteString* target) {
  char text[kFieldBufferSize];
  text[0] = 0;
  GetDlgItemTextA(dialog, id, text, sizeof text);
  text[sizeof text - 1] = 0;
  if (target) target->Assign(text);
}

// The texts in the user's language, set in the order the template makes the
// controls (the labels have no identifier to be found by): a label, the edit
// it names, the other label, its edit, then the buttons.
void SetTexts(HWND dialog) {
  static const UiText kTexts[] = {kUiProxyName, kUiProxyPassword, kUiOk, kUiCancel};
  SetUiText(dialog, kUiProxyTitle);
  HWND control = GetWindow(dialog, GW_CHILD);
  for (int i = 0; i < 4; ++i) {
    SetUiText(control, kTexts[i]);
    control = GetWindow(control, GW_HWNDNEXT);
    if (i < 2) control = GetWindow(control, GW_HWNDNEXT);  // past the label's edit
  }
}

INT_PTR CALLBACK ProxyLoginProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  // Not handled after the texts: the dialog sets no initial focus.
  if (message == WM_INITDIALOG) SetTexts(dialog);
  if (message != WM_COMMAND) return FALSE;
  switch (LOWORD(wparam)) {
    case IDOK:
      StoreField(dialog, kProxyUserEdit, g_user_target);
      StoreField(dialog, kProxyPasswordEdit, g_password_target);
      EndDialog(dialog, 1);
      return TRUE;
    case IDCANCEL:
      EndDialog(dialog, 0);
      return TRUE;
  }
  return FALSE;
}

// The in-memory dialog template, built by the compiler: no code runs for it,
// and a template that outgrew its array would not compile. It is built twice:
// once to count its words, then into an array of exactly that size.
// The template must start on a DWORD: the count beside the words aligns it
// (an alignas weaker than that is an error for clang).
template <size_t N>
struct TemplateWords {
  WORD words[N];
  size_t used;
};
static_assert(alignof(TemplateWords<1>) >= alignof(DWORD), "a dialog template starts on a DWORD");

template <size_t N>
constexpr void Word(TemplateWords<N>& t, WORD w) {
  t.words[t.used++] = w;
}
template <size_t N>
constexpr void Dword(TemplateWords<N>& t, DWORD d) {
  Word(t, static_cast<WORD>(d & 0xFFFF));
  Word(t, static_cast<WORD>(d >> 16));
}
template <size_t N>
constexpr void Text(TemplateWords<N>& t, const char* text) {  // ASCII, widened
  for (const char* p = text; *p; ++p) Word(t, static_cast<unsigned char>(*p));
  Word(t, 0);
}
template <size_t N>
constexpr void Item(TemplateWords<N>& t, DWORD style, WORD x, WORD y, WORD cx, WORD cy, WORD id, WORD class_atom,
                    const char* text) {
  if (t.used % 2) Word(t, 0);  // each item starts on a DWORD
  Dword(t, style);
  Dword(t, 0);  // no extended style
  Word(t, x);
  Word(t, y);
  Word(t, cx);
  Word(t, cy);
  Word(t, id);
  Word(t, 0xFFFF);
  Word(t, class_atom);
  Text(t, text);
  Word(t, 0);  // no creation data
}

const WORD kButtonAtom = 0x0080;
const WORD kEditAtom = 0x0081;
const WORD kStaticAtom = 0x0082;

// Wide enough for every language's title beside the close box, and every
// label beside its field.
const WORD kDialogWidth = 200;
const WORD kLabelWidth = 60;
const WORD kEditX = 7 + kLabelWidth + 3;
const WORD kEditWidth = kDialogWidth - 7 - kEditX;

template <size_t N>
constexpr TemplateWords<N> BuildTemplate() {
  TemplateWords<N> t{};
  Dword(t, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
  Dword(t, 0);  // no extended style
  Word(t, 6);   // controls
  Word(t, 0);
  Word(t, 0);
  Word(t, kDialogWidth);
  Word(t, 69);
  Word(t, 0);  // no menu
  Word(t, 0);  // default class
  Text(t, "");  // every text is set when the dialog opens
  Word(t, 8);
  Text(t, "MS Sans Serif");
  // Each label comes right before the edit it names, so the tab order is the
  // reading order and a screen reader names each field by its own label.
  const DWORD child = WS_CHILD | WS_VISIBLE;
  const DWORD edit = child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
  Item(t, child | WS_GROUP | SS_RIGHT, 7, 11, kLabelWidth, 8, 0xFFFF, kStaticAtom, "");
  Item(t, edit, kEditX, 7, kEditWidth, 14, kProxyUserEdit, kEditAtom, "");
  Item(t, child | WS_GROUP | SS_RIGHT, 7, 31, kLabelWidth, 8, 0xFFFF, kStaticAtom, "");
  Item(t, edit | ES_PASSWORD, kEditX, 28, kEditWidth, 14, kProxyPasswordEdit, kEditAtom, "");
  Item(t, child | WS_TABSTOP | BS_DEFPUSHBUTTON, 7, 48, 50, 14, IDOK, kButtonAtom, "");
  Item(t, child | WS_TABSTOP | BS_PUSHBUTTON, kDialogWidth - 57, 48, 50, 14, IDCANCEL, kButtonAtom, "");
  return t;
}

constexpr TemplateWords<BuildTemplate<200>().used> kTemplate = BuildTemplate<BuildTemplate<200>().used>();

}  // namespace

bool ShowProxyLoginDialog(ByteString* user, ByteString* password, HWND owner) {
  g_user_target = user;
  g_password_target = password;

  // A Unicode dialog, so its texts may be in any script.
  INT_PTR result = DialogBoxIndirectParamW(
      GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(kTemplate.words), owner, ProxyLoginProc, 0);
  return result == 1;
}

bool HostConnection::PromptProxyCredentials() { return ShowProxyLoginDialog(&proxy_user, &proxy_password, owner); }
