// Cabinet entry names and unpacking paths. An accepted name is checked
// against the platform's list of device names and "..", and the rule must
// not depend on case, on which separator is used or on the folder an entry
// sits in; a path that does not fit is refused, never cut.
#include <algorithm>

#include "site/cabinet_names.h"
#include "fuzz_input.h"

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  return text;
}

bool IsDeviceName(const std::string& component) {
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
  // The part before the first dot, spaces at its end dropped.
  std::string stem = Upper(component.substr(0, component.find('.')));
  stem.erase(stem.find_last_not_of(' ') + 1);
  for (const char* name : kNames) {
    if (stem == name) return true;
  }
  // COM1..COM9 and LPT1..LPT9, and the ANSI superscripts one, two and three.
  static const char kDigits[] = "123456789\xB9\xB2\xB3";
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         strchr(kDigits, stem[3]) != nullptr && stem[3] != 0;
}

bool IsParent(const std::string& component) {
  return component.find_first_not_of(". ") == std::string::npos && std::count(component.begin(), component.end(), '.') >= 2;
}

bool ExpectedContained(const std::string& name) {
  if (name.empty() || name[0] == '\\' || name[0] == '/' || name.find(':') != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    size_t end = name.find_first_of("\\/", start);
    std::string component = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (IsParent(component) || IsDeviceName(component)) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

std::string Swapped(std::string text) {
  for (char& c : text) c = c == '\\' ? '/' : c == '/' ? '\\' : c;
  return text;
}

void CheckName(const std::string& name) {
  bool contained = IsContainedEntryName(name.c_str());
  FUZZ_CHECK(contained == ExpectedContained(name));
  FUZZ_CHECK(IsContainedEntryName(Upper(name).c_str()) == contained);
  FUZZ_CHECK(IsContainedEntryName(Swapped(name).c_str()) == contained);
  // Inside a plain folder a relative entry keeps its verdict.
  if (!name.empty() && name[0] != '\\' && name[0] != '/') FUZZ_CHECK(IsContainedEntryName(("sub\\" + name).c_str()) == contained);
  FUZZ_CHECK(!IsContainedEntryName(("..\\" + name).c_str()));
  FUZZ_CHECK(!IsContainedEntryName(("\\" + name).c_str()));
}

void CheckPaths(size_t cap, const std::string& target, const std::string& folder, const std::string& name) {
  FuzzBuffer out(cap);
  bool ok = CabinetTargetFolder(target.c_str(), out.get(), cap);
  size_t last = target.rfind('\\');
  std::string expected = last == std::string::npos || last == 0 ? "." : target.substr(0, last);
  FUZZ_CHECK(ok == (expected.size() < cap));
  if (cap) FUZZ_CHECK(out.Terminated() && out.Text() == (ok ? expected : ""));

  FuzzBuffer path(cap);
  ok = ComposeEntryTarget(path.get(), cap, folder.c_str(), name.c_str());
  expected = folder + "\\" + name;
  FUZZ_CHECK(ok == (expected.size() < cap));
  if (cap) FUZZ_CHECK(path.Terminated() && path.Text() == (ok ? expected : ""));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  size_t cap = in.Byte() + 1u;
  std::string name = in.Text();
  std::string target = in.Text();
  CheckName(name);
  FUZZ_CHECK(!IsContainedEntryName(nullptr));
  CheckPaths(cap, target, target, name);
  return 0;
}
