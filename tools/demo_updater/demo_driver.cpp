// The demo's driver: starts the setup program, answers its drive dialog as a
// user would (OK on the proposed drive) and reports what happened.
//   demo_driver.exe [--pause <marker>] [--timeout <s>] <program> [arguments]
// --pause: when the dialog is ready, create "<marker>.ready" and wait (at
// most 20 s) for "<marker>.done" before pressing OK, so that the caller can
// take a screenshot of the dialog over the setup window; likewise
// "<marker>-error.ready" and "<marker>-error.done" before an error shown by
// the setup is answered with Cancel.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "tools/demo_updater/setup_windows.h"

namespace {

// Skips one (possibly quoted) token of a command line and the spaces after it.
const char* SkipToken(const char* p) {
  while (*p == ' ') ++p;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != ' ') ++p;
  }
  while (*p == ' ') ++p;
  return p;
}

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

void Touch(const char* path) {
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
}

// With a marker: lets the windows paint, signals "<marker><suffix>.ready"
// and waits at most 20 s for "<marker><suffix>.done". The caller has
// checked that the names fit.
void PauseForCaller(const char* marker, const char* suffix) {
  if (!marker) return;
  char ready[MAX_PATH], done[MAX_PATH];
  snprintf(ready, sizeof ready, "%s%s.ready", marker, suffix);
  snprintf(done, sizeof done, "%s%s.done", marker, suffix);
  Sleep(700);
  Touch(ready);
  for (int n = 0; n < 200 && !FileExists(done); ++n) Sleep(100);
}

int Usage() {
  fprintf(stderr, "usage: demo_driver.exe [--pause <marker>] [--timeout <s>] <program> [arguments]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* marker = nullptr;
  int timeout_s = 180;
  int i = 1;
  for (; i < argc; ++i) {
    if (strcmp(argv[i], "--pause") == 0 && i + 1 < argc) {
      marker = argv[++i];
    } else if (strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
      timeout_s = atoi(argv[++i]);
    } else {
      break;
    }
  }
  if (i >= argc || timeout_s <= 0) return Usage();

  // The program and its arguments as they stand in our own command line.
  const char* rest = GetCommandLineA();
  for (int t = 0; t < i; ++t) rest = SkipToken(rest);
  char command[2048];
  if (strlen(rest) >= sizeof command) {
    fprintf(stderr, "command line too long\n");
    return 2;
  }
  strcpy(command, rest);

  if (marker && strlen(marker) + 12 >= MAX_PATH) {
    fprintf(stderr, "marker path too long\n");
    return 2;
  }

  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    printf("driver: cannot start %s (error %lu)\n", command, GetLastError());
    return 3;
  }
  printf("driver: started %s\n", command);
  fflush(stdout);

  bool answered = false;
  bool cancelled = false;
  DWORD start = GetTickCount();
  DWORD error_since = 0;
  for (;;) {
    if (WaitForSingleObject(pi.hProcess, 100) == WAIT_OBJECT_0) break;
    if (GetTickCount() - start > static_cast<DWORD>(timeout_s) * 1000) {
      printf("driver: setup still running after %d s; ending it\n", timeout_s);
      TerminateProcess(pi.hProcess, 1);
      WaitForSingleObject(pi.hProcess, 5000);
      return 4;
    }
    // An error leaves the window open for the user: report it, then close
    // the window as the user would.
    HWND main_window = cancelled ? nullptr : FindSetupWindow(pi.dwProcessId);
    char error[200] = "";
    if (main_window) ControlText(main_window, kSetupErrorLine, error, sizeof error);
    // The names the user sees, once: they come from the build's branding.
    static bool named = false;
    if (main_window && !named) {
      char title[100] = "", thanks[300] = "";
      GetWindowTextA(main_window, title, sizeof title);
      ControlText(main_window, kSetupThanks, thanks, sizeof thanks);
      for (char* c = thanks; *c; ++c)
        if (*c == '\r' || *c == '\n') *c = ' ';
      printf("driver: window \"%s\" says \"%s\"\n", title, thanks);
      named = true;
    }
    if (!error[0]) {
      error_since = 0;
    } else if (!error_since) {
      error_since = GetTickCount();
    } else if (GetTickCount() - error_since > 2000) {
      printf("driver: setup shows the error \"%s\"; pressing Cancel\n", error);
      fflush(stdout);
      PauseForCaller(marker, "-error");
      PressCancel(main_window);
      cancelled = true;
    }
    if (answered) continue;
    HWND dialog = FindDriveDialog(pi.dwProcessId);
    if (!dialog) continue;
    HWND ok = GetDlgItem(dialog, IDOK);
    DWORD waited = GetTickCount();
    while (ok && !IsWindowEnabled(ok) && GetTickCount() - waited < 15000) Sleep(100);
    PauseForCaller(marker, "");
    DriveDialogView view;
    char heading[200] = "";
    ControlText(dialog, kDriveHeading, heading, sizeof heading);
    printf("driver: drive dialog heading \"%s\"\n", heading);
    if (AnswerDriveDialog(dialog, 15000, &view)) {
      printf("driver: drive dialog shown: drive \"%s\", \"%s\"; pressed OK\n", view.drive, view.free_space);
      answered = true;
    } else {
      printf("driver: drive dialog shown but OK stayed disabled; pressing Cancel\n");
      PressCancel(dialog);
      answered = true;
    }
    fflush(stdout);
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  if (!answered && !cancelled) printf("driver: no drive dialog (installation folder already known)\n");
  printf("driver: setup ended with exit code %lu\n", code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 0;
}
