#pragma once
// Helpers shared by the Windows tests.
#include <windows.h>

#include <string>

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

}  // namespace testing_support
