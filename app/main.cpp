#include <windows.h>

#include "app/command_line.h"
#include "app/setup_dialog.h"
#include "app/setup_host.h"
#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "base/text.h"
#include "base/ui_language.h"
#include "install/product.h"
#include "install/install_sequence.h"
#include "package/embedded_package.h"
#include "transport/proxy_credentials.h"

// System libraries come from the system folder only, never from the folder
// the setup was downloaded to. Looked up, as older systems lack it.
static void LoadSystemLibrariesSafely() {
  typedef BOOL(WINAPI * SetDirectories)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  SetDirectories set = kernel ? reinterpret_cast<SetDirectories>(
                                    reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
                              : nullptr;
  if (!set || !set(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */)) SetDllDirectoryA("");
}

// The executable's own package, or none when it carries no valid one.
static EmbeddedPackage* OpenOwnPackage() {
  wchar_t path[MAX_PATH];
  if (!OwnPath(path, MAX_PATH)) return nullptr;
  EmbeddedPackage* package = new EmbeddedPackage(path);
  if (package && !package->IsOpen()) {
    delete package;
    package = nullptr;
  }
  return package;
}

// "/log": the diagnostic log goes to "<product> Setup.log" in the user's
// temporary folder ("... Setup (2).log" and on when that exists), for
// support. The program runs elevated, so the file is always made new: never
// an existing file, never through a link planted at the name.
static void OpenSupportLog() {
  // Wide: the temporary folder may lie in a profile named in any script.
  wchar_t path[MAX_PATH];
  DWORD folder = GetTempPathW(MAX_PATH, path);
  if (folder == 0 || folder >= MAX_PATH) return;
  for (int i = 1; i < 100; ++i) {
    char name[64];
    wchar_t wide[64];
    path[folder] = 0;
    // A name that does not fit the path leaves the log closed.
    if (FormatText(name, sizeof name, i == 1 ? "%s Setup.log" : "%s Setup (%d).log", SETUP_PRODUCT_NAME, i) < 0 ||
        !MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 64) || !AppendPath(path, MAX_PATH, wide))
      return;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      LogSetSink(file);
      LogModuleVersion(nullptr);
      return;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return;
  }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
  LoadSystemLibrariesSafely();
  if (HasSwitch(arguments, "/log")) OpenSupportLog();
  // The user's language before any window: a language written right to left
  // mirrors every window the program makes.
  UseUiLanguage();
  SetupDialog dialog(instance, OpenOwnPackage());
  SetupHost host(instance, dialog);
  InstallSequence sequence(host);
  dialog.SetWorker(RunInstallSequence, &sequence);

  HWND window = dialog.Create();
  if (!window) return 0;
  ShowWindow(window, SW_SHOWNORMAL);
  // The work starts without a click.
  PostMessageA(window, WM_COMMAND, 1, 0);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageA(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  // A worker that still runs ends with the process. It may still be using
  // the window's objects above, so the process ends here, before their
  // destructors run. Proxy credentials the user typed leave no copy behind.
  ForgetHeldProxyCredentials();
  ExitProcess(0);
}

// The process starts here, not in the C runtime: the program has no global
// constructors, thread-local data or floating-point state for it to set up
// (the build refuses a program that has).
extern "C" void SetupStart() {
  STARTUPINFOA startup;
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
  ExitProcess(WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(ArgumentsAfterProgramName(GetCommandLineA())),
                      show));
}
