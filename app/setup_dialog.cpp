#include "app/setup_dialog.h"

#include <objbase.h>

#include "base/cancel_flag.h"
#include "base/diagnostic_log.h"
#include "base/text.h"
#include "base/ui_language.h"
#include "resources/resource_ids.h"

// Requests of the worker, sent to the dialog so that the window's thread does
// the window work.
enum {
  kShowStatus = WM_APP + 1,  // lparam: text
  kShowError = WM_APP + 2,   // lparam: text
  kClearError = WM_APP + 3,
  kEnableInstall = WM_APP + 4,
};

static const int kInstallButton = 1;
static const int kCancelCommand = 2;

SetupDialog::SetupDialog(HINSTANCE instance, EmbeddedPackage* package)
    : window_(nullptr),
      picture_(instance, IDB_PICTURE),
      font_(nullptr),
      package_(package),
      worker_(nullptr),
      worker_id_(0),
      icon_(LoadIconA(instance, MAKEINTRESOURCEA(IDI_SETUP))),
      instance_(instance),
      procedure_(nullptr),
      context_(nullptr),
      status_line_(nullptr),
      error_line_(nullptr),
      target_(nullptr),
      erasing_(false),
      dpi_(96),
      line_font_(nullptr) {}

SetupDialog::~SetupDialog() {
  if (window_) DestroyWindow(window_);
  if (font_) DeleteObject(font_);
  if (line_font_) DeleteObject(line_font_);
  // The package stays open: a worker may still read it until the process ends.
}

void SetupDialog::SetWorker(WorkerProcedure procedure, void* context) {
  procedure_ = procedure;
  context_ = context;
}

HWND SetupDialog::Create() {
  // A Unicode window: its texts may be in any script.
  return CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_SETUP), nullptr, DialogProc,
                            reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK SetupDialog::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  SetupDialog* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<SetupDialog*>(lparam);
    SetWindowLongPtrA(window, DWLP_USER, lparam);
    self->window_ = window;
    self->target_ = window;
  } else {
    self = reinterpret_cast<SetupDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self) return FALSE;
  }
  return self->Handle(message, wparam, lparam);
}

// Answers a message whose result goes through DWLP_MSGRESULT.
static INT_PTR Answer(HWND window, LRESULT result) {
  SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR SetupDialog::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      Initialise();
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == kInstallButton) {
        StartWorker();
        return TRUE;
      }
      if (LOWORD(wparam) == kCancelCommand) {
        Cancel();
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      Cancel();
      return TRUE;
    case WM_DESTROY:
      window_ = nullptr;
      return FALSE;
    case WM_ERASEBKGND: {
      if (erasing_) return FALSE;
      erasing_ = true;
      LRESULT erased = DefDlgProcA(window_, WM_ERASEBKGND, wparam, lparam);
      erasing_ = false;
      // A mirrored window keeps the picture the right way round.
      if (UiRightToLeft()) SetLayout(reinterpret_cast<HDC>(wparam), LAYOUT_RTL | LAYOUT_BITMAPORIENTATIONPRESERVED);
      picture_.Draw(reinterpret_cast<HDC>(wparam), MulDiv(3, dpi_, 96), MulDiv(3, dpi_, 96), dpi_);
      return Answer(window_, erased);
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wparam);
      HWND control = reinterpret_cast<HWND>(lparam);
      if (control == status_line_) return FALSE;
      if (control == error_line_) SetTextColor(dc, RGB(255, 0, 0));
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    }
    case WM_QUERYNEWPALETTE:
      if (!IsWindowVisible(window_)) return Answer(window_, FALSE);
      RealiseFixedPalette(false);
      return Answer(window_, TRUE);
    case WM_PALETTECHANGED:
      if (reinterpret_cast<HWND>(wparam) != window_) RealiseFixedPalette(true);
      return Answer(window_, 0);
    case kShowStatus:
      ShowStatus(reinterpret_cast<const wchar_t*>(lparam));
      return TRUE;
    case kShowError:
      ShowError(reinterpret_cast<const wchar_t*>(lparam));
      return TRUE;
    case kClearError:
      SetWindowTextW(error_line_, L"");
      ShowError(L"");
      return TRUE;
    case kEnableInstall:
      EnableWindow(GetDlgItem(window_, kInstallButton), TRUE);
      return TRUE;
    case WM_DPICHANGED:
      ChangeDpi(HIWORD(wparam), reinterpret_cast<const RECT*>(lparam));
      return TRUE;
  }
  return FALSE;
}

void CentreInWorkArea(HWND window) {
  RECT area;
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) return;
  RECT frame;
  GetWindowRect(window, &frame);
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  int left = (area.left + area.right) / 2 - width / 2;
  if (left + width > area.right) left = area.right - width;
  if (left < area.left) left = area.left;
  int top = (area.top + area.bottom) / 2 - height / 2;
  if (top + height > area.bottom) top = area.bottom - height;
  if (top < area.top) top = area.top;
  SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Looked up: older systems lack these.
static FARPROC User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleA("user32.dll");
  return user32 ? GetProcAddress(user32, name) : nullptr;
}

UINT WindowDpi(HWND window) {
  typedef UINT(WINAPI * DpiForWindow)(HWND);
  DpiForWindow dpi_for_window =
      reinterpret_cast<DpiForWindow>(reinterpret_cast<void*>(User32Function("GetDpiForWindow")));
  UINT dpi = dpi_for_window ? dpi_for_window(window) : 0;
  if (!dpi) {
    HDC screen = GetDC(nullptr);
    dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
  }
  return dpi ? dpi : 96;
}

void SetupDialog::Initialise() {
  SetUiText(window_, kUiTitle);
  if (icon_) SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));

  status_line_ = GetDlgItem(window_, IDC_STATUS_LINE);
  error_line_ = GetDlgItem(window_, IDC_ERROR_LINE);
  SetUiText(GetDlgItem(window_, IDC_THANKS), kUiThanks);
  SetUiReading(status_line_);
  SetUiReading(error_line_);
  // The layout is in pixels of the window's DPI and is redone here when the
  // DPI changes; the dialog manager's own rescaling would undo it.
  typedef BOOL(WINAPI * DpiBehaviour)(HWND, int, int);
  DpiBehaviour behaviour =
      reinterpret_cast<DpiBehaviour>(reinterpret_cast<void*>(User32Function("SetDialogDpiChangeBehavior")));
  if (behaviour) behaviour(window_, 1 /* DDC_DISABLE_ALL */, 1);
  dpi_ = WindowDpi(window_);

  // The lines keep the height the template's font gave them.
  RECT line;
  GetWindowRect(status_line_, &line);
  Layout(line.bottom - line.top);
  CentreInWorkArea(window_);
}

// Places the lines and the thank-you text and sizes the window for dpi_,
// and makes the thank-you text's font for it. The layout is that of 96 DPI
// scaled, but for the lines, which are one line of their font high.
void SetupDialog::Layout(int h) {
  HWND thanks = GetDlgItem(window_, IDC_THANKS);
  int x = MulDiv(10, dpi_, 96);
  int y = MulDiv(195, dpi_, 96);
  int width = MulDiv(296, dpi_, 96);
  MoveWindow(status_line_, x, y, width, h, FALSE);
  MoveWindow(error_line_, x, y + h, width, h, FALSE);
  MoveWindow(thanks, MulDiv(125, dpi_, 96), MulDiv(4, dpi_, 96), MulDiv(170, dpi_, 96), MulDiv(153, dpi_, 96),
             FALSE);

  RECT client = {0, 0, MulDiv(300, dpi_, 96), MulDiv(199, dpi_, 96) + 2 * h};
  RECT outer, now;
  GetWindowRect(window_, &outer);
  GetClientRect(window_, &now);
  SetWindowPos(window_, nullptr, 0, 0, client.right + (outer.right - outer.left) - now.right,
               client.bottom + (outer.bottom - outer.top) - now.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  // Verdana has Latin, Greek and Cyrillic; a text in another script takes
  // the shell's dialog font, whose font linking serves every script. A text
  // longer than the buffer is judged by its start.
  wchar_t text[512];
  int length = GetWindowTextW(thanks, text, 512);
  bool verdana = true;
  for (int i = 0; i < length; ++i) {
    if (text[i] > 0x4FF) verdana = false;
  }
  HFONT dialog_font = reinterpret_cast<HFONT>(SendMessageA(window_, WM_GETFONT, 0, 0));
  LOGFONTA face;
  if (verdana || !dialog_font || !GetObjectA(dialog_font, sizeof face, &face)) {
    ZeroMemory(&face, sizeof face);
    CopyText(face.lfFaceName, sizeof face.lfFaceName, "Verdana");
  }
  face.lfHeight = -MulDiv(12, dpi_, 96);
  face.lfWeight = FW_BOLD;
  HFONT font = CreateFontIndirectA(&face);
  if (font) {
    SendMessageA(thanks, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (font_) DeleteObject(font_);
    font_ = font;
  }
}

// Moved to a monitor of another scale: the suggested place, the lines' font
// and the layout for the new DPI, and everything painted again.
void SetupDialog::ChangeDpi(UINT dpi, const RECT* suggested) {
  if (!dpi || dpi == dpi_) return;
  HFONT current = reinterpret_cast<HFONT>(SendMessageA(status_line_, WM_GETFONT, 0, 0));
  LOGFONTA face;
  int h = 0;
  if (current && GetObjectA(current, sizeof face, &face)) {
    face.lfHeight = MulDiv(face.lfHeight, dpi, dpi_);
    HFONT font = CreateFontIndirectA(&face);
    if (font) {
      SendMessageA(status_line_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
      SendMessageA(error_line_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
      if (line_font_) DeleteObject(line_font_);
      line_font_ = font;
      HDC dc = GetDC(status_line_);
      HGDIOBJ old = SelectObject(dc, font);
      TEXTMETRICA metrics;
      if (GetTextMetricsA(dc, &metrics)) h = metrics.tmHeight;
      SelectObject(dc, old);
      ReleaseDC(status_line_, dc);
    }
  }
  if (!h) {
    RECT line;
    GetWindowRect(status_line_, &line);
    h = MulDiv(line.bottom - line.top, dpi, dpi_);
  }
  dpi_ = dpi;
  if (suggested) {
    SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  Layout(h);
  InvalidateRect(window_, nullptr, TRUE);
}

DWORD WINAPI SetupDialog::WorkerThread(void* parameter) {
  SetupDialog* self = static_cast<SetupDialog*>(parameter);
  // The URL download transport is a COM service: give the worker an
  // apartment of its own.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (self->procedure_) self->procedure_(self->context_);
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

void SetupDialog::StartWorker() {
  // One worker at a time: a second sequence would share the first's state.
  if (worker_ && WaitForSingleObject(worker_, 0) == WAIT_TIMEOUT) return;
  SetCancelRequested(false);
  // Working from here on, so Cancel asks the worker to stop instead of
  // ending the process while it writes.
  EnableWindow(GetDlgItem(window_, kInstallButton), FALSE);
  if (worker_) CloseHandle(worker_);
  worker_ = CreateThread(nullptr, 0, WorkerThread, this, 0, &worker_id_);
  if (!worker_) {
    LogWithError("CreateThread failed");
    EnableWindow(GetDlgItem(window_, kInstallButton), TRUE);
  }
}

void SetupDialog::Cancel() {
  if (IsWindowEnabled(GetDlgItem(window_, kInstallButton))) {
    DestroyWindow(window_);
    PostQuitMessage(0);
    return;
  }
  // The flag first: the worker's progress reports stop before this text
  // shows, so none overwrites it.
  SetCancelRequested(true);
  SetUiText(status_line_, kUiCancelling);
  UpdateWindow(status_line_);
}

void SetupDialog::ShowStatus(const wchar_t* text) {
  SetWindowTextW(status_line_, text);
  UpdateWindow(status_line_);
}

void SetupDialog::ShowError(const wchar_t* text) {
  if (GetWindowTextLengthW(error_line_) > 0) return;
  // The line is transparent: the window behind it is erased first.
  RECT area;
  GetWindowRect(error_line_, &area);
  MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&area), 2);
  InvalidateRect(window_, &area, TRUE);
  SetWindowTextW(error_line_, text);
}

void SetupDialog::RealiseFixedPalette(bool background) {
  struct {
    WORD version;
    WORD count;
    PALETTEENTRY entries[3];
  } fixed = {0x300, 3, {{255, 223, 170, 0}, {149, 130, 99, 0}, {0, 0, 128, 0}}};
  HDC dc = GetWindowDC(window_);
  if (!dc) return;
  HPALETTE palette = CreatePalette(reinterpret_cast<LOGPALETTE*>(&fixed));
  if (palette) {
    HPALETTE old = SelectPalette(dc, palette, background ? TRUE : FALSE);
    RealizePalette(dc);
    SelectPalette(dc, old, TRUE);
    DeleteObject(palette);
  }
  ReleaseDC(window_, dc);
  InvalidateRect(window_, nullptr, TRUE);
}

void SetupDialog::SetStatusLine(const wchar_t* text) {
  SendMessageA(target_, kShowStatus, 0, reinterpret_cast<LPARAM>(text ? text : L""));
}

void SetupDialog::SetErrorLine(const wchar_t* text) {
  SendMessageA(target_, kShowError, 0, reinterpret_cast<LPARAM>(text ? text : L""));
}

void SetupDialog::ClearErrorLine() { SendMessageA(target_, kClearError, 0, 0); }

void SetupDialog::EnableInstallButton() { SendMessageA(target_, kEnableInstall, 0, 0); }

void SetupDialog::PostCloseCommand() { PostMessageA(target_, WM_COMMAND, kCancelCommand, 0); }
