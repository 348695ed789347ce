#include "tests/support/test_support.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>

namespace testing_support {

std::string TestAddress(int a, int b) {
  const char* octet = getenv("SETUP_TEST_OCTET");
  int o = octet ? atoi(octet) : 77;
  if (o < 1 || o > 254) o = 77;
  return "127." + std::to_string(o) + "." + std::to_string(a) + "." + std::to_string(b);
}

static void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      std::string full = path + "\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(full.c_str());
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

ScratchFolder::ScratchFolder() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  static unsigned counter = 0;
  for (;;) {
    path_ = std::string(temp) + "setup-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
    if (CreateDirectoryA(path_.c_str(), nullptr)) break;
  }
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

void DeleteMachineKey(const char* path) { RegDeleteTreeA(HKEY_LOCAL_MACHINE, path); RegDeleteKeyA(HKEY_LOCAL_MACHINE, path); }

std::string ReadMachineValueBytes(const char* key, const char* value) {
  HKEY k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return "<absent>";
  char buffer[4096];
  DWORD size = sizeof buffer;
  LONG status = RegQueryValueExA(k, value, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(k);
  if (status != ERROR_SUCCESS) return "<absent>";
  return std::string(buffer, size);
}

std::string ReadWholeFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string bytes;
  char buffer[65536];
  DWORD n;
  while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n) bytes.append(buffer, n);
  CloseHandle(file);
  return bytes;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  CloseHandle(file);
  return ok && n == bytes.size();
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring WidePath(const std::string& utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(n > 0 ? n - 1 : 0);
  return wide;
}

std::string ProgramFolder() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string s = path;
  return s.substr(0, s.find_last_of('\\'));
}

namespace {

int RunWithHandles(const std::string& command_line, DWORD timeout_ms, HANDLE out) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (out) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  }
  PROCESS_INFORMATION process;
  std::string line = command_line;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, out != nullptr, 0, nullptr, nullptr, &startup, &process))
    return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, timeout_ms) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

}  // namespace

int RunAndWait(const std::string& command_line, DWORD timeout_ms) {
  return RunWithHandles(command_line, timeout_ms, nullptr);
}

int RunCapturingOutput(const std::string& command_line, std::string* output, DWORD timeout_ms) {
  // The output goes to a file: a pipe could be held open by Wine's helper
  // processes long after the program ended.
  char folder[MAX_PATH];
  char temp[MAX_PATH];
  DWORD n = GetTempPathA(sizeof folder, folder);
  if (n == 0 || n >= sizeof folder || !GetTempFileNameA(folder, "run", 0, temp)) return -1;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileA(temp, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0,
                           nullptr);
  int code = out == INVALID_HANDLE_VALUE ? -1 : RunWithHandles(command_line, timeout_ms, out);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (output) *output = ReadWholeFile(temp);
  DeleteFileA(temp);
  return code;
}

std::string DescribeAccessList(PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE, defaulted = FALSE;
  PACL list = nullptr;
  if (!GetSecurityDescriptorControl(descriptor, &control, &revision) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted))
    return "<unreadable>";
  std::string text = (control & SE_DACL_PROTECTED) ? "P" : "-";
  for (DWORD i = 0; present && list && i < list->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* entry = nullptr;
    if (!GetAce(list, i, reinterpret_cast<void**>(&entry))) return text + " <bad entry>";
    char* sid = nullptr;
    ConvertSidToStringSidA(&entry->SidStart, &sid);
    char line[160];
    snprintf(line, sizeof line, " %s%s:%lx:%x", entry->Header.AceType == ACCESS_ALLOWED_ACE_TYPE ? "" : "deny ",
             sid ? sid : "?", static_cast<unsigned long>(entry->Mask), entry->Header.AceFlags);
    text += line;
    LocalFree(sid);
  }
  return text;
}

std::string FolderAccessList(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS)
    return "<unreadable>";
  std::string text = DescribeAccessList(descriptor);
  LocalFree(descriptor);
  return text;
}

std::string UnixPath(const std::string& windows_path) {
  // Wine's export; the tests run nowhere else.
  typedef char*(CDECL * UnixNameFn)(const wchar_t*);
  auto unix_name = reinterpret_cast<UnixNameFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  wchar_t wide[MAX_PATH];
  if (!unix_name || !MultiByteToWideChar(CP_ACP, 0, windows_path.c_str(), -1, wide, MAX_PATH)) return std::string();
  char* name = unix_name(wide);
  if (!name) return std::string();
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

int RunOnHost(const std::vector<std::string>& argv, std::string* output, DWORD timeout_ms) {
  // Wine starts a host program but cannot wait for it: host-run.sh reports
  // the end through a status file, written last.
  char folder[MAX_PATH];
  char base[MAX_PATH];
  DWORD n = GetTempPathA(sizeof folder, folder);
  if (n == 0 || n >= sizeof folder || !GetTempFileNameA(folder, "host", 0, base)) return -1;
  std::string status = std::string(base) + ".status";
  std::string out = std::string(base) + ".out";
  std::string line = "/bin/bash \"" SETUP_HOST_RUN "\" \"" + UnixPath(status) + "\" \"" + UnixPath(out) + "\"";
  for (const std::string& a : argv) line += " \"" + a + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  int code = -1;
  if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeout_ms; Sleep(50)) {
      if (FileExists(status)) {
        code = atoi(ReadWholeFile(status).c_str());
        break;
      }
    }
  }
  if (output) *output = ReadWholeFile(out);
  DeleteFileA(status.c_str());
  DeleteFileA(out.c_str());
  DeleteFileA(base);
  return code;
}

bool SignWithTestCertificate(const std::string& name, const std::string& in, const std::string& out,
                             std::string* output) {
  return RunOnHost({SETUP_TEST_CERTS "/sign-file.sh", name, UnixPath(in), UnixPath(out)}, output) == 0;
}

int VerifyWithTestAuthority(const std::string& file, std::string* output) {
  return RunOnHost({"osslsigncode", "verify", "-CAfile", SETUP_TEST_CERTS "/ca.pem", "-TSA-CAfile",
                    SETUP_TEST_CERTS "/ca.pem", "-in", UnixPath(file)},
                   output);
}

UINT ExpectedDpi() {
  const char* dpi = getenv("SETUP_TEST_DPI");
  return dpi && atoi(dpi) > 0 ? static_cast<UINT>(atoi(dpi)) : 96;
}

void ExpectBenchLocale() {
  const char* locale = getenv("SETUP_TEST_LOCALE");
  if (!locale) return;
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = L"";
  GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH);
  char narrow[LOCALE_NAME_MAX_LENGTH] = "";
  WideCharToMultiByte(CP_UTF8, 0, name, -1, narrow, sizeof narrow, nullptr, nullptr);
  EXPECT_STREQ(locale, narrow);
}

bool ExpectedRightToLeft() {
  const char* locale = getenv("SETUP_TEST_LOCALE");
  return locale && strncmp(locale, "ar", 2) == 0;
}

int LineHeight(HWND window) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return metrics.tmHeight;
}

std::string CutTexts(HWND window) {
  std::string cut;
  EnumChildWindows(
      window,
      [](HWND control, LPARAM data) -> BOOL {
        char name[16] = "";
        GetClassNameA(control, name, sizeof name);
        LONG style = GetWindowLongA(control, GWL_STYLE);
        DWORD type = style & SS_TYPEMASK;
        wchar_t text[1024] = L"";
        if (_stricmp(name, "Static") != 0 || !(style & WS_VISIBLE) || GetWindowTextW(control, text, 1024) <= 0 ||
            (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_LEFTNOWORDWRAP &&
             type != SS_SIMPLE))
          return TRUE;
        // The flags the static itself draws with.
        UINT flags = DT_CALCRECT | DT_EXPANDTABS | (style & SS_NOPREFIX ? DT_NOPREFIX : 0) |
                     (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT ? DT_WORDBREAK : DT_SINGLELINE) |
                     (type == SS_CENTER ? DT_CENTER : type == SS_RIGHT ? DT_RIGHT : DT_LEFT);
        RECT room;
        GetClientRect(control, &room);
        RECT need = room;
        HDC dc = GetDC(control);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
        DrawTextW(dc, text, -1, &need, flags);
        SelectObject(dc, old);
        ReleaseDC(control, dc);
        if (need.right - need.left > room.right || need.bottom - need.top > room.bottom) {
          char utf8[3072] = "";
          WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
          std::string& all = *reinterpret_cast<std::string*>(data);
          all += "[" + std::to_string(GetDlgCtrlID(control)) + " \"" + utf8 + "\" needs " +
                 std::to_string(need.right - need.left) + "x" + std::to_string(need.bottom - need.top) + " in " +
                 std::to_string(room.right) + "x" + std::to_string(room.bottom) + "]";
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&cut));
  return cut;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus;
}

void PressKey(HWND window, WPARAM key) {
  HWND target = FocusOf(window);
  if (!target) target = window;
  PostMessageA(target, WM_KEYDOWN, key, 1);
  PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

}  // namespace testing_support
