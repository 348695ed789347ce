#include "transport/proxy_login_dialog.h"

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

INT_PTR CALLBACK ProxyLoginProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
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

// Writes the in-memory template into a fixed word buffer; every put checks
// the room left, so a template that would not fit is refused, not cut.
class TemplateWriter {
 public:
  TemplateWriter(WORD* words, size_t capacity) : words_(words), capacity_(capacity), used_(0), full_(false) {}
  void Word(WORD w) {
    if (used_ >= capacity_) {
      full_ = true;
      return;
    }
    words_[used_++] = w;
  }
  void Dword(DWORD d) {
    Word(LOWORD(d));
    Word(HIWORD(d));
  }
  void Text(const char* text) {  // ASCII texts only: widened byte by byte
    for (const char* p = text; *p; ++p) Word(static_cast<unsigned char>(*p));
    Word(0);
  }
  void AlignDword() {
    if (used_ % 2) Word(0);
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD class_atom, const char* text) {
    AlignDword();
    Dword(style);
    Dword(0);  // no extended style
    Word(static_cast<WORD>(x));
    Word(static_cast<WORD>(y));
    Word(static_cast<WORD>(cx));
    Word(static_cast<WORD>(cy));
    Word(id);
    Word(0xFFFF);
    Word(class_atom);
    Text(text);
    Word(0);  // no creation data
  }
  bool Full() const { return full_; }

 private:
  WORD* words_;
  size_t capacity_;
  size_t used_;
  bool full_;
};

const WORD kButtonAtom = 0x0080;
const WORD kEditAtom = 0x0081;
const WORD kStaticAtom = 0x0082;

}  // namespace

bool ShowProxyLoginDialog(ByteString* user, ByteString* password, HWND owner) {
  g_user_target = user;
  g_password_target = password;

  // DWORD storage keeps the template DWORD-aligned as the platform requires.
  DWORD storage[256];
  TemplateWriter t(reinterpret_cast<WORD*>(storage), (sizeof storage) / (sizeof(WORD)));
  t.Dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
  t.Dword(0);  // no extended style
  t.Word(6);   // controls
  t.Word(0);
  t.Word(0);
  t.Word(186);
  t.Word(69);
  t.Word(0);  // no menu
  t.Word(0);  // default class
  t.Text("Enter Proxy/Firewall Access Details");
  t.Word(8);
  t.Text("MS Sans Serif");
  const DWORD child = WS_CHILD | WS_VISIBLE;
  t.Item(child | WS_TABSTOP | BS_DEFPUSHBUTTON, 7, 48, 50, 14, IDOK, kButtonAtom, "OK");
  t.Item(child | WS_TABSTOP | BS_PUSHBUTTON, 129, 48, 50, 14, IDCANCEL, kButtonAtom, "Cancel");
  t.Item(child | WS_GROUP | SS_RIGHT, 7, 11, 37, 8, 0xFFFF, kStaticAtom, "Name:");
  t.Item(child | WS_GROUP | SS_RIGHT, 7, 31, 37, 8, 0xFFFF, kStaticAtom, "Password:");
  t.Item(child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 46, 7, 133, 14, kProxyUserEdit, kEditAtom, "");
  t.Item(child | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, 46, 28, 133, 14, kProxyPasswordEdit,
         kEditAtom, "");
  if (t.Full()) return false;

  INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(storage),
                                           owner, ProxyLoginProc, 0);
  return result == 1;
}

bool HostConnection::PromptProxyCredentials() { return ShowProxyLoginDialog(&proxy_user, &proxy_password, owner); }
