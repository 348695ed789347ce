#include "tools/demo_updater/setup_windows.h"

#include "install/product.h"

namespace {

struct Search {
  DWORD pid;
  const char* title;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  Search* s = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (s->pid && owner != s->pid) return TRUE;
  if (!IsWindowVisible(window)) return TRUE;
  char title[128];
  // A title longer than the buffer is cut and then cannot match.
  if (GetWindowTextA(window, title, sizeof title) <= 0) return TRUE;
  if (lstrcmpA(title, s->title) != 0) return TRUE;
  s->found = window;
  return FALSE;
}

}  // namespace

HWND FindProcessWindow(DWORD pid, const char* title) {
  Search s = {pid, title, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND FindSetupWindow(DWORD pid) { return FindProcessWindow(pid, SETUP_PRODUCT_NAME " Setup"); }

HWND FindDriveDialog(DWORD pid) { return FindProcessWindow(pid, "Select Installation Drive"); }

void ControlText(HWND dialog, int id, char* out, int cap) {
  if (cap <= 0) return;
  out[0] = '\0';
  HWND control = GetDlgItem(dialog, id);
  if (!control) return;
  // WM_GETTEXT copies at most cap - 1 characters and terminates.
  SendMessageTimeoutA(control, WM_GETTEXT, cap, reinterpret_cast<LPARAM>(out), SMTO_ABORTIFHUNG, 5000, nullptr);
  out[cap - 1] = '\0';
}

bool AnswerDriveDialog(HWND dialog, DWORD wait_ms, DriveDialogView* view) {
  HWND ok = GetDlgItem(dialog, IDOK);
  DWORD start = GetTickCount();
  while (!ok || !IsWindowEnabled(ok)) {
    if (GetTickCount() - start > wait_ms || !IsWindow(dialog)) return false;
    Sleep(100);
    if (!ok) ok = GetDlgItem(dialog, IDOK);
  }
  if (view) {
    view->drive[0] = '\0';
    HWND list = GetDlgItem(dialog, kDriveList);
    DWORD_PTR selected = CB_ERR;
    if (list && SendMessageTimeoutA(list, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &selected) &&
        static_cast<LRESULT>(selected) != CB_ERR) {
      DWORD_PTR length = 0;
      SendMessageTimeoutA(list, CB_GETLBTEXTLEN, selected, 0, SMTO_ABORTIFHUNG, 5000, &length);
      // CB_GETLBTEXT has no size argument: only read an entry that fits.
      if (static_cast<LRESULT>(length) >= 0 && length < sizeof view->drive)
        SendMessageTimeoutA(list, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(view->drive),
                            SMTO_ABORTIFHUNG, 5000, nullptr);
    }
    ControlText(dialog, kDriveFreeSpace, view->free_space, sizeof view->free_space);
  }
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  return true;
}

void PressCancel(HWND window) { PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0); }
