// Stands in for the real updater in the demo and the end-to-end tests: shows
// what the setup program handed it (and the stored web parameters it found)
// and writes the same to a log file.
//   SETUP_DEMO_UPDATER_LOG    log file (appended to); default
//                             "demo_updater.log" in the working folder
//   SETUP_DEMO_UPDATER_CLOSE  seconds until the window closes by itself;
//                             0 writes the log and ends without a window
#include <windows.h>
#include <shellapi.h>

#include "install/product.h"
#include "base/registry.h"
#include "base/text.h"
#include "tools/demo_updater/updater_args.h"

namespace {

// The report is at most a few lines of at most 600 characters each; a line
// that would not fit is left out by AppendText, never cut.
char g_report[4096];

void AddLine(const char* label, const char* value) {
  char line[800];
  if (FormatText(line, sizeof line, "%s%s\r\n", label, value) < 0)
    FormatText(line, sizeof line, "%s(too long)\r\n", label);
  AppendText(g_report, sizeof g_report, line);
}

// The /Codes= argument as the platform's parser reads it (the setup quotes
// it when a credential holds a blank or a quote); false when there is none.
bool ReadCodes(char* out, size_t cap) {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  bool found = false;
  for (int i = 1; args && i < count && !found; ++i) {
    if (wcsncmp(args[i], L"/Codes=", 7) != 0) continue;
    found = WideCharToMultiByte(CP_ACP, 0, args[i] + 7, -1, out, static_cast<int>(cap), nullptr, nullptr) > 0;
  }
  LocalFree(args);
  return found;
}

void BuildReport() {
  // Read wide and reported in UTF-8: the setup's path and the folder may be
  // named in any script.
  char command_line[3 * UpdaterArguments::kFieldSize];
  if (!WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, command_line, sizeof command_line, nullptr, nullptr))
    CopyText(command_line, sizeof command_line, "(too long)");
  UpdaterArguments args;
  bool ok = ParseUpdaterArguments(command_line, &args);
  wchar_t wide_folder[MAX_PATH];
  char folder[3 * MAX_PATH] = "";
  DWORD n = GetCurrentDirectoryW(MAX_PATH, wide_folder);
  if (n == 0 || n >= MAX_PATH ||
      !WideCharToMultiByte(CP_UTF8, 0, wide_folder, -1, folder, sizeof folder, nullptr, nullptr))
    CopyText(folder, sizeof folder, "(unknown)");

  g_report[0] = '\0';
  AddLine("Command line: ", command_line);
  AddLine("/Setup=", args.has_setup ? args.setup : "(missing)");
  char codes[UpdaterArguments::kFieldSize];
  AddLine("/Codes=", args.has_codes && ReadCodes(codes, sizeof codes) ? codes : "(none)");
  AddLine("/Bulk=", args.has_bulk ? args.bulk : "(none)");
  AddLine("Working folder: ", folder);
  // The setup merges its stamped parameters before it starts us: show what
  // was stored by then.
  ByteString params = RegGetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "WWWParams", "(none)");
  AddLine("WWWParams at start: ", params.Text());
  if (!ok) AddLine("Note: ", args.too_long ? "a value was too long" : "unexpected command line");
  if (args.unknown[0]) AddLine("Unexpected: ", args.unknown);
}

void WriteLog() {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("SETUP_DEMO_UPDATER_LOG", path, sizeof path);
  if (n == 0 || n >= sizeof path) CopyText(path, sizeof path, "demo_updater.log");
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, g_report, lstrlenA(g_report), &written, nullptr);
  WriteFile(file, "--\r\n", 4, &written, nullptr);
  CloseHandle(file);
}

// Seconds from SETUP_DEMO_UPDATER_CLOSE, or -1 to stay until closed.
int CloseAfterSeconds() {
  char text[16];
  DWORD n = GetEnvironmentVariableA("SETUP_DEMO_UPDATER_CLOSE", text, sizeof text);
  if (n == 0 || n >= sizeof text) return -1;
  int value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9' || value > 3600) return -1;
    value = value * 10 + (*p - '0');
  }
  return value;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE: {
      RECT r;
      GetClientRect(window, &r);
      HWND text = CreateWindowExA(0, "EDIT", g_report,
                                  WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL,
                                  10, 44, r.right - 20, r.bottom - 54, window, nullptr, nullptr, nullptr);
      SendMessageA(text, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), TRUE);
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
      SetBkMode(dc, TRANSPARENT);
      static const char kHeading[] = "Demo updater: the setup program started me with";
      TextOutA(dc, 10, 14, kHeading, sizeof kHeading - 1);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  BuildReport();
  WriteLog();
  int close_after = CloseAfterSeconds();
  if (close_after == 0) return 0;

  WNDCLASSA wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  wc.lpszClassName = "DemoUpdaterWindow";
  if (!RegisterClassA(&wc)) return 1;
  HWND window = CreateWindowExA(0, wc.lpszClassName, "Update (demo)", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                CW_USEDEFAULT, CW_USEDEFAULT, 640, 220, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show);
  UpdateWindow(window);
  if (close_after > 0) SetTimer(window, 1, static_cast<UINT>(close_after) * 1000, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
