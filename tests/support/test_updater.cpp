// Stands in for the updater in tests: appends its command line and current
// folder to the file named by SETUP_TEST_UPDATER_LOG, one line each. When
// SETUP_TEST_UPDATER_ARGS names a file, also writes there the arguments as
// the platform's parser splits them, one per line (UTF-8).
#include <windows.h>
#include <shellapi.h>

static void WriteArguments() {
  WCHAR path[MAX_PATH];
  if (!GetEnvironmentVariableW(L"SETUP_TEST_UPDATER_ARGS", path, MAX_PATH)) return;
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 0; args && i < count; ++i) {
    char line[2048];
    int n = WideCharToMultiByte(CP_UTF8, 0, args[i], -1, line, sizeof line - 2, nullptr, nullptr);
    if (n <= 0) continue;
    line[n - 1] = '\n';
    DWORD written;
    WriteFile(file, line, n, &written, nullptr);
  }
  LocalFree(args);
  CloseHandle(file);
}

int main() {
  WriteArguments();
  char log[MAX_PATH];
  if (!GetEnvironmentVariableA("SETUP_TEST_UPDATER_LOG", log, sizeof log)) return 1;
  HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  char folder[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof folder, folder);
  const char* line = GetCommandLineA();
  DWORD n;
  WriteFile(file, line, lstrlenA(line), &n, nullptr);
  WriteFile(file, "\r\n", 2, &n, nullptr);
  WriteFile(file, folder, lstrlenA(folder), &n, nullptr);
  WriteFile(file, "\r\n", 2, &n, nullptr);
  CloseHandle(file);
  return 0;
}
