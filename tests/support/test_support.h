#pragma once
// Helpers shared by the Windows tests.
#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// A loopback address of this bench: 127.<octet>.<a>.<b>, the octet taken
// from SETUP_TEST_OCTET so that benches of other build folders do not meet.
std::string TestAddress(int a, int b);

// A fresh empty folder under %TEMP%, removed with its content on destruction.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::string& Path() const { return path_; }  // no trailing backslash
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// Removes a key of HKEY_LOCAL_MACHINE with everything below it.
void DeleteMachineKey(const char* path);
// A value of HKEY_LOCAL_MACHINE as stored (bytes), or "<absent>".
std::string ReadMachineValueBytes(const char* key, const char* value);

std::string ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// A UTF-8 path (the tests' own texts; the bench's narrow paths are ASCII)
// in the wide form the program takes.
std::wstring WidePath(const std::string& utf8);
// Folder of the running test program, no trailing backslash.
std::string ProgramFolder();
// Runs a program and waits for it; the exit code, or -1.
int RunAndWait(const std::string& command_line, DWORD timeout_ms = 60000);
// The same, with the program's output and errors together in output.
int RunCapturingOutput(const std::string& command_line, std::string* output, DWORD timeout_ms = 60000);

// An access list: "P" when protected from the parent ("-" otherwise), then
// " trustee:mask:flags" per entry, in hexadecimal ("deny " before a denying
// entry's trustee).
std::string DescribeAccessList(PSECURITY_DESCRIPTOR descriptor);
// The access list of a file or folder as the platform reads it back, or
// "<unreadable>".
std::string FolderAccessList(const std::string& path);
// The host's path of a path of the prefix (Wine's own mapping), or "".
std::string UnixPath(const std::string& windows_path);
// Runs a program of the host itself (not a Windows one) with the given
// arguments, paths among them as the host names them, and waits for it: its
// exit code, or -1 when it could not run or did not end in time. Its output
// and errors together in output.
int RunOnHost(const std::vector<std::string>& argv, std::string* output, DWORD timeout_ms = 60000);
// Signing with the build's test certificates (tests/support/make-certs.sh;
// the tests' "signing" fixture makes them): signs in into out with the
// certificate NAME ("signer": the publisher's). True when it signed.
bool SignWithTestCertificate(const std::string& name, const std::string& in, const std::string& out,
                             std::string* output);
// The signing tool's own check against the test authority: 0 when the
// signature holds, with its report in output.
int VerifyWithTestAuthority(const std::string& file, std::string* output);

// The DPI and the locale a row of the bench's window table runs with
// (SETUP_TEST_DPI, SETUP_TEST_LOCALE); 96 and no locale check otherwise.
UINT ExpectedDpi();
// Fails the test when the system's locale is not the row's.
void ExpectBenchLocale();
// Whether the row's language (SETUP_TEST_LOCALE) is written right to left.
bool ExpectedRightToLeft();
// The height of one line of window's font.
int LineHeight(HWND window);
// Every visible static text in window that, measured with its control's font
// the way the control draws it, is wider or taller than its control; empty
// when every text fits.
std::string CutTexts(HWND window);
// A key pressed as a user would: to the control that has the focus in
// window's thread, through that thread's own key handling.
void PressKey(HWND window, WPARAM key);
// The control that has the focus in window's thread.
HWND FocusOf(HWND window);

}  // namespace testing_support
