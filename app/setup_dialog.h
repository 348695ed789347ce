#pragma once
#include <windows.h>

#include "app/dib_picture.h"

class EmbeddedPackage;

// The main window: picture, thank-you text, a status line and a red error
// line. Its hidden Install button's enabled state is the idle mark: disabled
// while a worker runs, enabled by the worker when it ends.
class SetupDialog {
 public:
  typedef void (*WorkerProcedure)(void* context);

  // package: the executable's embedded package or null; owned from here on
  // and kept open until the process ends.
  SetupDialog(HINSTANCE instance, EmbeddedPackage* package);
  ~SetupDialog();
  SetupDialog(const SetupDialog&) = delete;
  SetupDialog& operator=(const SetupDialog&) = delete;

  // What each Install command runs on a new worker thread.
  void SetWorker(WorkerProcedure procedure, void* context);
  // Creates the window, hidden, from its template; null on failure.
  HWND Create();
  HWND Window() const { return window_; }
  EmbeddedPackage* Package() const { return package_; }
  const DibPicture& Picture() const { return picture_; }
  HFONT Font() const { return font_; }

  // Callable from the worker: each waits until the window's thread has
  // handled it, so the lines show the text before the worker goes on.
  // Texts in the user's language (base/ui_language.h).
  void SetStatusLine(const wchar_t* text);
  // Only when the error line is empty: the first error of a run stays.
  void SetErrorLine(const wchar_t* text);
  void ClearErrorLine();
  void EnableInstallButton();
  void PostCloseCommand();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void Initialise();
  void Layout(int line_height);
  void ChangeDpi(UINT dpi, const RECT* suggested);
  void StartWorker();
  void Cancel();
  void ShowStatus(const wchar_t* text);
  void ShowError(const wchar_t* text);
  void RealiseFixedPalette(bool background);
  static DWORD WINAPI WorkerThread(void* parameter);

  HWND window_;  // none once destroyed
  DibPicture picture_;
  HFONT font_;
  EmbeddedPackage* package_;
  HANDLE worker_;
  DWORD worker_id_;
  HICON icon_;
  HINSTANCE instance_;
  WorkerProcedure procedure_;
  void* context_;
  HWND status_line_;
  HWND error_line_;
  HWND target_;  // the worker's calls go here, also after the window is gone
  bool erasing_;  // the default erase calls back into the dialog: decline then
  UINT dpi_;  // the window's, for which the layout and the fonts are made
  HFONT line_font_;  // the lines' font once remade for a new DPI, else null
};

// The window's DPI: its monitor's where the system scales per monitor, else
// the system's.
UINT WindowDpi(HWND window);

// Centres window in the desktop's work area, keeping it inside; neither
// resized nor activated.
void CentreInWorkArea(HWND window);
