// The drive dialog's folder for any program-files value and drive: the
// default fits with room for the final backslash, and the chosen folder is
// an absolute path on the chosen drive ending in a backslash.
#include "app/install_folder.h"
#include "install/product.h"
#include "fuzz_input.h"

namespace {

bool OnDrive(const std::string& folder, char drive) {
  return folder.size() >= 3 && UpperLetter(folder[0]) == drive && folder[1] == ':' && folder[2] == '\\';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  unsigned flags = in.Byte();
  char letter = static_cast<char>((flags & 32 ? 'a' : 'A') + in.Byte() % 26);
  char drive = UpperLetter(letter);
  size_t cap = flags & 1 ? 260 : 16 + in.Byte();
  const char* program_files = flags & 2 ? nullptr : in.Text();
  std::string value = program_files ? program_files : "";

  FuzzBuffer folder(cap);
  DefaultInstallFolder(program_files, folder.get(), cap);
  FUZZ_CHECK(folder.Terminated());
  std::string offered = folder.Text();
  FUZZ_CHECK(offered.size() + 1 < cap);
  const std::string name = "\\" SETUP_FAMILY_NAME;
  FUZZ_CHECK(offered.size() >= name.size() && offered.compare(offered.size() - name.size(), name.size(), name) == 0);
  if (value.size() + name.size() + 2 <= cap) FUZZ_CHECK(offered == value + name);

  std::string root = std::string(1, drive) + ":" + name + "\\";
  FUZZ_CHECK(FinishInstallFolder(folder.get(), cap, letter));
  FUZZ_CHECK(folder.Terminated());
  FUZZ_CHECK(folder.Text() == (OnDrive(offered, drive) ? offered + "\\" : root));

  // Any text in a buffer of any size: an absolute folder on the drive, or
  // refused (empty) when even the root form does not fit.
  size_t any_cap = 1 + in.Byte() % 64;
  const char* text = in.Text();
  if (strlen(text) >= any_cap) return 0;
  FuzzBuffer any(any_cap);
  strcpy(any.get(), text);
  bool ok = FinishInstallFolder(any.get(), any_cap, letter);
  FUZZ_CHECK(ok == (root.size() < any_cap || (OnDrive(text, drive) && strlen(text) + 1 < any_cap)));
  FUZZ_CHECK(any.Terminated());
  if (!ok) {
    FUZZ_CHECK(any.Text().empty());
    return 0;
  }
  FUZZ_CHECK(any.Text() == (OnDrive(text, drive) && strlen(text) + 1 < any_cap ? std::string(text) + "\\" : root));
  return 0;
}
