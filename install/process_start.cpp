#include "install/process_start.h"

#include <windows.h>

#include "base/diagnostic_log.h"
#include "base/text.h"
#include "install/publisher_check.h"

bool ComposeCommandLine(char* out, size_t cap, const char* program, const char* arguments) {
  return FormatText(out, cap, "\"%s\" %s", program, arguments) >= 0;
}

bool StartProcess(const char* program, const char* arguments, const char* folder) {
  // Room for the quoted program path and the whole argument text.
  char command[2 * MAX_PATH + 8 + 600];
  if (!ComposeCommandLine(command, sizeof command, program, arguments)) {
    LogPrint("Command line does not fit %d bytes\r\n", static_cast<int>(sizeof command));
    return false;
  }
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr, folder,
                      &startup, &process)) {
    LogWithError("CreateProcess %s failed 0x%x\r\n", command);
    return false;
  }
  LogPrint("Started %s\r\n", command);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

StartOutcome StartCheckedProcess(const char* program, const char* arguments, const char* folder) {
  // Readers only, so the file cannot change between the check and the start.
  HANDLE file = CreateFileA(program, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LogWithError("Open %s failed 0x%x\r\n", program);
    return kNotStarted;
  }
  if (!UpdaterCheckIsOff()) {
    SignerReport report;
    TrustFailure failure = CheckPublisher(file, program, UpdaterPolicy(), &report);
    if (failure != kTrusted) {
      LogRefusal(program, failure, report);
      CloseHandle(file);
      // Never left for a later run to start.
      if (!DeleteFileA(program)) LogWithError("DeleteFile %s failed 0x%x\r\n", program);
      return kNotTrusted;
    }
  }
  bool started = StartProcess(program, arguments, folder);
  CloseHandle(file);
  return started ? kStarted : kNotStarted;
}
