#include "install/process_start.h"

#include <windows.h>

#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "install/publisher_check.h"

bool ComposeCommandLine(wchar_t* out, size_t cap, const wchar_t* program, const wchar_t* arguments) {
  if (cap) out[0] = 0;
  bool ok = AppendPath(out, cap, L"\"") && AppendPath(out, cap, program) && AppendPath(out, cap, L"\" ") &&
            AppendPath(out, cap, arguments);
  if (!ok && cap) out[0] = 0;
  return ok;
}

bool StartProcess(const wchar_t* program, const wchar_t* arguments, const wchar_t* folder) {
  // Room for the quoted program path and the whole argument text.
  wchar_t command[2 * MAX_PATH + 8 + 600];
  char log[2 * (2 * MAX_PATH + 8 + 600)];  // the command line, two bytes a character at most
  if (!ComposeCommandLine(command, sizeof command / sizeof command[0], program, arguments)) {
    LogPrint("Command line does not fit %d characters\n", static_cast<int>(sizeof command / sizeof command[0]));
    return false;
  }
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr, folder,
                      &startup, &process)) {
    if (LogIsOn()) LogTextOf(command, log, sizeof log);
    LogWithError("CreateProcess %s failed", log);
    return false;
  }
  if (LogIsOn()) {
    LogTextOf(command, log, sizeof log);
    LogPrint("Started %s\n", log);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

StartOutcome StartCheckedProcess(const wchar_t* program, const wchar_t* arguments, const wchar_t* folder) {
  char log[2 * MAX_PATH];
  if (LogIsOn()) LogTextOf(program, log, sizeof log);
  // Readers only, so the file cannot change between the check and the start.
  HANDLE file = CreateFileW(program, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LogWithError("Open %s failed", log);
    return kNotStarted;
  }
  if (!UpdaterCheckIsOff()) {
    SignerReport report;
    TrustFailure failure = CheckPublisher(file, program, UpdaterPolicy(), &report);
    if (failure != kTrusted) {
      LogRefusal(log, failure, report);
      CloseHandle(file);
      // Never left for a later run to start.
      if (!DeleteFileW(program)) LogWithError("DeleteFile %s failed", log);
      return kNotTrusted;
    }
  }
  bool started = StartProcess(program, arguments, folder);
  CloseHandle(file);
  return started ? kStarted : kNotStarted;
}
