// Stands in for the updater in tests: appends its command line and current
// folder to the file named by SETUP_TEST_UPDATER_LOG, one line each.
#include <windows.h>

int main() {
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
