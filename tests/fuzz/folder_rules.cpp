// The install sequence's folder rules on any texts: a backslash is added
// only when it fits, and a path counts as inside a folder only when it
// names a real sub-folder of it, whatever the case of its letters; and the
// folder decision on any descriptor bytes, empty or not.
#include "install/folder_rules.h"
#include "fuzz_input.h"

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  return text;
}

void CheckBackslash(const char* text, size_t cap) {
  if (strlen(text) >= cap) return;
  FuzzBuffer folder(cap);
  strcpy(folder.get(), text);
  std::string before = folder.Text();
  bool ok = EndWithBackslash(folder.get(), cap);
  bool ends = before.empty() || before.back() == '\\';
  FUZZ_CHECK(ok == (ends || before.size() + 1 < cap));
  FUZZ_CHECK(folder.Terminated());
  FUZZ_CHECK(folder.Text() == (ends || !ok ? before : before + "\\"));
}

void CheckInside(const std::string& path, const std::string& folder) {
  bool inside = IsInsideFolder(path.c_str(), folder.c_str());
  FUZZ_CHECK(IsInsideFolder(Upper(path).c_str(), folder.c_str()) == inside);
  FUZZ_CHECK(IsInsideFolder(path.c_str(), (folder + "\\").c_str()) == inside);
  if (!inside) return;
  std::string base = folder.substr(0, folder.find_last_not_of('\\') + 1);
  FUZZ_CHECK(base.size() > 2 && Upper(path.substr(0, base.size())) == Upper(base) && path[base.size()] == '\\');
  // Something below the folder is named: not only separators, dots and
  // spaces, which the platform reads as the folder itself.
  std::string rest = path.substr(base.size());
  FUZZ_CHECK(rest.find_first_not_of("\\. ") != std::string::npos && path.find("..") == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The whole input as a folder's security descriptor, whose entries any
  // owner of the folder may have written: read within its bounds only.
  bool theirs = IsAdministratorsFolder(data, size);
  FUZZ_CHECK(!theirs || size >= 20);
  // Another account's folder is never taken over while it holds anything.
  for (bool holds : {false, true}) {
    FolderVerdict verdict = JudgeInstallFolder(kPersistentAccessLists, data, size, holds);
    FUZZ_CHECK(verdict == (theirs ? kFolderLeft : holds ? kFolderNotEmpty : kFolderToLock));
  }
  FuzzInput in(data, size);
  size_t cap = 1 + in.Byte();
  std::string path = in.Text();
  std::string folder = in.Text();
  CheckBackslash(path.c_str(), cap);
  CheckInside(path, folder);
  // The path itself below its own first component, as the sequence asks.
  CheckInside(path, path.substr(0, path.find('\\', 3)));
  return 0;
}
