#include "app/drive_dialog.h"

#include <commdlg.h>

#include "app/install_folder.h"
#include "app/setup_dialog.h"
#include "base/byte_count.h"
#include "base/diagnostic_log.h"
#include "base/registry.h"
#include "base/text.h"
#include "base/ui_language.h"
#include "resources/resource_ids.h"

static const UINT kFillMessage = WM_APP;  // posted by the donor dialog once
static const UINT_PTR kDonorTimer = 1;
static const int kDonorAbort = 3;  // IDABORT ends a classic file dialog from outside
static const DWORD kDonorWaitMs = 10000;
static const int kEntryCap = 200;  // entry texts keep at most 199 characters

// What the drive list and the donor thread share. Counted, because the donor
// dialog may start after the drive dialog has given up on it and gone.
struct DonorLink {
  volatile LONG references;
  volatile LONG abandoned;
  HWND list;
  HWND dialog;
  HWND volatile donor_dialog;
  HWND volatile donor_list;
};

static void ReleaseLink(DonorLink* link) {
  if (InterlockedDecrement(&link->references) == 0) delete link;
}

// Kept on the donor dialog itself, so that a donor of an earlier drive
// dialog that is still closing never meets this one's.
static const char kLinkProperty[] = "DriveListLink";
static const char kBusyProperty[] = "DriveListBusy";

static UINT_PTR CALLBACK DonorHook(HWND donor, UINT message, WPARAM, LPARAM lparam) {
  if (!GetPropA(donor, kBusyProperty)) {
    // The donor never shows and has no taskbar button. Changing a style
    // sends messages that come back here, hence the guard.
    SetPropA(donor, kBusyProperty, donor);
    LONG_PTR style = GetWindowLongPtrA(donor, GWL_STYLE);
    if (style & WS_VISIBLE) SetWindowLongPtrA(donor, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_VISIBLE));
    LONG_PTR extended = GetWindowLongPtrA(donor, GWL_EXSTYLE);
    if (!(extended & WS_EX_TOOLWINDOW)) SetWindowLongPtrA(donor, GWL_EXSTYLE, extended | WS_EX_TOOLWINDOW);
    RemovePropA(donor, kBusyProperty);
  }
  DonorLink* link = static_cast<DonorLink*>(GetPropA(donor, kLinkProperty));
  switch (message) {
    case WM_INITDIALOG: {
      link = reinterpret_cast<DonorLink*>(reinterpret_cast<OPENFILENAMEA*>(lparam)->lCustData);
      SetPropA(donor, kLinkProperty, link);
      InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&link->donor_list),
                                 GetDlgItem(donor, IDC_DRIVE_LIST));
      InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&link->donor_dialog), donor);
      // The drive dialog may have stopped waiting and gone already.
      if (InterlockedCompareExchange(&link->abandoned, 0, 0)) {
        PostMessageA(donor, WM_COMMAND, kDonorAbort, 0);
      } else {
        SetTimer(donor, kDonorTimer, 100, nullptr);
      }
      break;
    }
    case WM_ACTIVATE:
      if (link && !InterlockedCompareExchange(&link->abandoned, 0, 0)) SetForegroundWindow(link->dialog);
      break;
    case WM_TIMER:
      KillTimer(donor, kDonorTimer);
      if (link && !InterlockedCompareExchange(&link->abandoned, 0, 0)) PostMessageA(link->list, kFillMessage, 0, 0);
      break;
    case WM_DESTROY:
      RemovePropA(donor, kLinkProperty);
      break;
  }
  return 0;
}

static DWORD WINAPI DonorThread(void* parameter) {
  DonorLink* link = static_cast<DonorLink*>(parameter);
  char file[MAX_PATH] = "";
  OPENFILENAMEA request;
  ZeroMemory(&request, sizeof request);
  // The old request size and a hook without OFN_EXPLORER give the classic
  // dialog, whose drive list is control 1137.
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  request.lpstrFile = file;
  request.nMaxFile = sizeof file;
  request.Flags = OFN_ENABLEHOOK;
  request.lpfnHook = DonorHook;
  request.lCustData = reinterpret_cast<LPARAM>(link);
  GetOpenFileNameA(&request);
  ReleaseLink(link);
  return 0;
}

DriveList::DriveList()
    : list_(nullptr),
      previous_(nullptr),
      filled_(false),
      donor_list_(nullptr),
      donor_dialog_(nullptr),
      dialog_(nullptr),
      link_(nullptr),
      donor_thread_(nullptr),
      borrowed_(false),
      drive_mask_(GetLogicalDrives) {}

DriveList::~DriveList() {
  if (link_) {
    InterlockedExchange(&link_->abandoned, 1);
    HWND donor = static_cast<HWND>(
        InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&link_->donor_dialog), nullptr, nullptr));
    // Bounded: a donor that hangs must not hold the worker.
    DWORD_PTR ignored;
    if (donor) SendMessageTimeoutA(donor, WM_COMMAND, kDonorAbort, 0, SMTO_NORMAL, 5000, &ignored);
    ReleaseLink(link_);
  }
  if (donor_thread_) CloseHandle(donor_thread_);
}

void DriveList::AttachAndFill(HWND list, HWND dialog) {
  list_ = list;
  dialog_ = dialog;
  SetWindowLongPtrA(list, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  previous_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListProc)));

  link_ = new DonorLink;
  if (link_) {
    link_->references = 2;  // ours and the donor thread's
    link_->abandoned = 0;
    link_->list = list;
    link_->dialog = dialog;
    link_->donor_dialog = nullptr;
    link_->donor_list = nullptr;
    DWORD id;
    donor_thread_ = CreateThread(nullptr, 0, DonorThread, link_, 0, &id);
    if (!donor_thread_) link_->references = 1;
  }
  if (!donor_thread_) {
    FillFromSystem();
    return;
  }

  DWORD start = GetTickCount();
  while (!filled_) {
    DWORD waited = GetTickCount() - start;
    if (waited >= kDonorWaitMs) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kDonorWaitMs - waited, QS_ALLINPUT);
    MSG message;
    while (!filled_ && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // Not ours to take: leave it for the loop that owns it.
        PostQuitMessage(static_cast<int>(message.wParam));
        start = GetTickCount() - kDonorWaitMs;
        break;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  if (!filled_) {
    LogPrint("Drive list donor late\n");
    FillFromSystem();
  }
}

LRESULT CALLBACK DriveList::ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam) {
  DriveList* self = reinterpret_cast<DriveList*>(GetWindowLongPtrA(list, GWLP_USERDATA));
  if (!self) return DefWindowProcA(list, message, wparam, lparam);
  switch (message) {
    case WM_DRAWITEM:
      if (self->borrowed_ && self->donor_list_) {
        SendMessageA(self->donor_list_, WM_DRAWITEM, wparam, lparam);
      } else {
        self->DrawEntry(reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
      }
      return 0;
    case kFillMessage:
      // A donor that comes after the wait ended finds the list filled.
      if (!self->filled_) self->FillFromDonor();
      return 0;
    case WM_NCDESTROY: {
      WNDPROC previous = self->previous_;
      SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
      SetWindowLongPtrA(list, GWLP_USERDATA, 0);
      self->list_ = nullptr;
      return CallWindowProcA(previous, list, message, wparam, lparam);
    }
  }
  return CallWindowProcA(self->previous_, list, message, wparam, lparam);
}

static bool IsDriveLetter(char c) {
  char u = UpperLetter(c);
  return u >= 'A' && u <= 'Z';
}

void DriveList::FillFromDonor() {
  donor_dialog_ = static_cast<HWND>(
      InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&link_->donor_dialog), nullptr, nullptr));
  donor_list_ = static_cast<HWND>(
      InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&link_->donor_list), nullptr, nullptr));
  if (!donor_list_) {
    LogPrint("Drive list donor has no list\n");
    FillFromSystem();
    return;
  }

  // How many drives to expect. Only drives: without DDL_EXCLUSIVE the files
  // of the current folder would count too.
  char pattern[MAX_PATH] = "";
  DlgDirListComboBoxA(dialog_, pattern, GetDlgCtrlID(list_), 0, DDL_DRIVES | DDL_EXCLUSIVE);
  LRESULT expected = SendMessageA(list_, CB_GETCOUNT, 0, 0);
  SendMessageA(list_, CB_RESETCONTENT, 0, 0);

  // Out of sight and without size, should the donor ever show.
  RECT frame;
  if (GetWindowRect(donor_list_, &frame)) {
    MoveWindow(donor_list_, frame.left - 300 - frame.right, frame.top - 300 - frame.bottom, 0, 0, FALSE);
  }

  LRESULT count = SendMessageA(donor_list_, CB_GETCOUNT, 0, 0);
  for (int sleeps = 0; count != CB_ERR && count < expected && sleeps < 10; ++sleeps) {
    Sleep(500);
    if (sleeps < 9) count = SendMessageA(donor_list_, CB_GETCOUNT, 0, 0);
  }

  bool usable = count > 0;
  for (LRESULT i = 0; usable && i < count; ++i) {
    LRESULT length = SendMessageA(donor_list_, CB_GETLBTEXTLEN, i, 0);
    // CB_GETLBTEXT has no size: the buffer must hold the whole text.
    char* text = length >= 0 ? new char[length + 1] : nullptr;
    if (!text || SendMessageA(donor_list_, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text)) == CB_ERR) {
      usable = false;
    } else {
      text[length] = 0;
      // Only the letter matters; the rest is cut to what an entry holds.
      if (length >= kEntryCap) text[kEntryCap - 1] = 0;
      usable = IsDriveLetter(text[0]);
      if (!usable) LogPrint("Drive list entry %d unusable: %s\n", static_cast<int>(i), text);
      if (usable) {
        LRESULT added = SendMessageA(list_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        LRESULT data = SendMessageA(donor_list_, CB_GETITEMDATA, i, 0);
        if (added >= 0) SendMessageA(list_, CB_SETITEMDATA, added, data);
      }
    }
    delete[] text;
  }
  if (!usable) {
    // Entries the dialog cannot read a drive from: use the system's own.
    SendMessageA(list_, CB_RESETCONTENT, 0, 0);
    FillFromSystem();
    return;
  }
  LogPrint("Drive list borrowed, %d entries\n", static_cast<int>(count));
  borrowed_ = true;
  filled_ = true;
}

void DriveList::FillFromSystem() {
  DWORD drives = drive_mask_ ? drive_mask_() : 0;
  for (int i = 0; i < 26; ++i) {
    if (!(drives & (1u << i))) continue;
    char root[4] = {static_cast<char>('A' + i), ':', '\\', 0};
    UINT type = GetDriveTypeA(root);
    char text[kEntryCap];
    FormatText(text, sizeof text, "%c:", 'a' + i);
    // Labels of fixed drives only: asking a floppy or a network drive may
    // take long.
    char label[MAX_PATH + 1];
    if (type == DRIVE_FIXED &&
        GetVolumeInformationA(root, label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0) && label[0]) {
      // A label that does not fit leaves the letter alone.
      AppendFormat(text, sizeof text, " [%s]", label);
    }
    LRESULT added = SendMessageA(list_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    if (added >= 0) SendMessageA(list_, CB_SETITEMDATA, added, type);
  }
  LogPrint("Drive list from the system\n");
  borrowed_ = false;
  filled_ = true;
}

// A small drive drawn in place of the system's icon: a box with a green
// light; blue for removable, network and optical drives.
static void DrawDriveGlyph(HDC dc, int left, int top, int size, UINT type) {
  RECT body = {left, top + size / 4, left + size, top + size - size / 4};
  HBRUSH frame = CreateSolidBrush(RGB(64, 64, 64));
  FillRect(dc, &body, frame);
  DeleteObject(frame);
  // The face lies one pixel inside the frame.
  ++body.left;
  ++body.top;
  --body.right;
  --body.bottom;
  HBRUSH face = CreateSolidBrush(type == DRIVE_FIXED ? RGB(192, 192, 192) : RGB(160, 176, 224));
  FillRect(dc, &body, face);
  DeleteObject(face);
  RECT lamp = {body.right - 3, body.bottom - 2, body.right - 1, body.bottom - 1};
  HBRUSH light = CreateSolidBrush(RGB(0, 192, 0));
  FillRect(dc, &lamp, light);
  DeleteObject(light);
}

void DriveList::DrawEntry(const DRAWITEMSTRUCT* item) {
  HDC dc = item->hDC;
  RECT area = item->rcItem;
  bool selected = (item->itemState & ODS_SELECTED) != 0;
  FillRect(dc, &area, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (item->itemID == static_cast<UINT>(-1)) return;

  char text[kEntryCap] = "";
  LRESULT length = SendMessageA(item->hwndItem, CB_GETLBTEXTLEN, item->itemID, 0);
  // Every entry was added at most 199 characters long.
  if (length >= 0 && length < kEntryCap)
    SendMessageA(item->hwndItem, CB_GETLBTEXT, item->itemID, reinterpret_cast<LPARAM>(text));

  int size = area.bottom - area.top - 2;
  if (size > 16) size = 16;
  if (size > 3) DrawDriveGlyph(dc, area.left + 2, area.top + 1, size, static_cast<UINT>(item->itemData));
  RECT words = area;
  words.left += size + 6;
  int old_mode = SetBkMode(dc, TRANSPARENT);
  COLORREF old_colour = SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  DrawTextA(dc, text, -1, &words, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  SetTextColor(dc, old_colour);
  SetBkMode(dc, old_mode);
  if (item->itemState & ODS_FOCUS) DrawFocusRect(dc, &area);
}

uint64_t FreeSpaceOf(char letter) {
  char root[4] = {letter, ':', '\\', 0};
  // Space above a quota is not the user's; the cabinet's unpacking imports
  // the same call, so every system this runs on has it.
  ULARGE_INTEGER available;
  return GetDiskFreeSpaceExA(root, &available, nullptr, nullptr) ? available.QuadPart : 0;
}

DriveDialog::DriveDialog(HINSTANCE instance, FreeSpaceFunction free_space, DriveList::DriveMaskFunction drive_mask)
    : window_(nullptr),
      enough_space_(false),
      heading_(nullptr),
      requirement_(nullptr),
      free_space_(nullptr),
      instance_(instance),
      free_space_of_(free_space ? free_space : FreeSpaceOf) {
  if (drive_mask) list_.SetDriveMask(drive_mask);
  folder_[0] = 0;
}

int DriveDialog::Run() {
  INT_PTR result =
      DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_DRIVE), nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
  if (result == -1) LogWithError("Drive dialog failed");
  return result == 1 ? 1 : 2;
}

INT_PTR CALLBACK DriveDialog::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DriveDialog* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<DriveDialog*>(lparam);
    SetWindowLongPtrA(window, DWLP_USER, lparam);
    self->window_ = window;
  } else {
    self = reinterpret_cast<DriveDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self) return FALSE;
  }
  return self->Handle(message, wparam, lparam);
}

INT_PTR DriveDialog::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      Initialise();
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wparam) == CBN_SELCHANGE && LOWORD(wparam) == IDC_DRIVE_LIST) UpdateFreeSpace();
      if (LOWORD(wparam) == IDOK) {
        Choose();
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(window_, 2);
        return TRUE;
      }
      return FALSE;
    case WM_DRAWITEM:
      SendMessageA(GetDlgItem(window_, IDC_DRIVE_LIST), WM_DRAWITEM, wparam, lparam);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lparam) == free_space_ && !enough_space_) {
        HDC dc = reinterpret_cast<HDC>(wparam);
        SetTextColor(dc, RGB(255, 0, 0));
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
      }
      return FALSE;
  }
  return FALSE;
}

void DriveDialog::Initialise() {
  heading_ = GetDlgItem(window_, IDC_DRIVE_HEADING);
  requirement_ = GetDlgItem(window_, IDC_DRIVE_REQUIRED);
  free_space_ = GetDlgItem(window_, IDC_DRIVE_FREE);
  HWND list = GetDlgItem(window_, IDC_DRIVE_LIST);
  list_.AttachAndFill(list, window_);

  SetUiText(window_, kUiDriveTitle);
  SetDlgItemUiText(window_, IDOK, kUiOk);
  SetDlgItemUiText(window_, IDCANCEL, kUiCancel);
  SetDlgItemUiText(window_, IDC_DRIVE_LABEL, kUiDriveLabel);
  SetUiText(heading_, kUiDriveHeading);
  SetUiText(requirement_, kUiDriveNeeded);

  ByteString program_files =
      RegGetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "C:");
  DefaultInstallFolder(program_files.Text(), folder_, sizeof folder_);

  // CB_FINDSTRING from index 0 looks at entry 0 last.
  char letter[2] = {static_cast<char>(folder_[0] >= 'A' && folder_[0] <= 'Z' ? folder_[0] - 'A' + 'a' : folder_[0]), 0};
  LRESULT found = letter[0] ? SendMessageA(list, CB_FINDSTRING, 0, reinterpret_cast<LPARAM>(letter)) : CB_ERR;
  if (found == CB_ERR) found = SendMessageA(list, CB_GETCOUNT, 0, 0) >= 2 ? 1 : 0;
  SendMessageA(list, CB_SETCURSEL, found, 0);

  UpdateFreeSpace();
  // Focus shows from the start, not only after the first key, for those who
  // never use the mouse.
  SendMessageA(window_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  CentreInWorkArea(window_);
}

char DriveDialog::SelectedLetter() {
  HWND list = GetDlgItem(window_, IDC_DRIVE_LIST);
  LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
  if (count <= 0) return 0;
  LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
  // Nothing selected: the second entry, or the only one.
  if (index == CB_ERR) index = count >= 2 ? 1 : 0;
  LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, index, 0);
  char text[kEntryCap];
  if (length <= 0 || length >= kEntryCap) return 0;
  if (SendMessageA(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text)) == CB_ERR) return 0;
  char upper = UpperLetter(text[0]);
  return IsDriveLetter(upper) ? upper : 0;
}

void DriveDialog::UpdateFreeSpace() {
  HWND ok = GetDlgItem(window_, IDOK);
  EnableWindow(ok, FALSE);
  char letter = SelectedLetter();
  uint64_t free = letter ? free_space_of_(letter) : 0;
  enough_space_ = free >= kRequiredFreeBytes;
  // Counts past the signed range read as the largest one.
  int64_t shown = free > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(free);
  char number[32];
  FormatByteCountInto(number, sizeof number, shown);
  // The count is ASCII; the words around it are the user's language.
  wchar_t wide[32];
  for (int i = 0; (wide[i] = static_cast<unsigned char>(number[i])) != 0; ++i) {
  }
  SetWindowTextW(free_space_, UiLine(enough_space_ ? kUiDriveFree : kUiDriveFreeShort, wide).Text());
  // The static is transparent: what lay under the old text goes first.
  RECT area;
  GetWindowRect(free_space_, &area);
  MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&area), 2);
  InvalidateRect(window_, &area, TRUE);
  EnableWindow(ok, enough_space_);
}

void DriveDialog::Choose() {
  // Enter reaches here even while OK is disabled.
  if (!enough_space_) return;
  char letter = SelectedLetter();
  if (!letter) return;
  if (!FinishInstallFolder(folder_, sizeof folder_, letter)) return;
  EndDialog(window_, 1);
}
