#include "app/install_folder.h"

#include <string.h>

#include "install/product.h"
#include "base/text.h"

static const char kFolderName[] = "\\" SETUP_FAMILY_NAME;

char UpperLetter(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

static bool IsLetter(char c) {
  char u = UpperLetter(c);
  return u >= 'A' && u <= 'Z';
}

void DefaultInstallFolder(const char* program_files, char* folder, size_t cap) {
  if (!program_files) program_files = "";
  // Room for the trailing backslash that OK appends.
  if (strlen(program_files) + sizeof kFolderName + 1 <= cap) {
    FormatText(folder, cap, "%s%s", program_files, kFolderName);
  } else if (IsLetter(program_files[0])) {
    FormatText(folder, cap, "%c:%s", program_files[0], kFolderName);
  } else {
    CopyText(folder, cap, kFolderName);
  }
}

bool FinishInstallFolder(char* folder, size_t cap, char letter) {
  char drive = UpperLetter(letter);
  // Only an absolute path on the chosen drive is kept: "C" or
  // "C:Program Files" would make a relative or drive-relative folder.
  bool on_drive = drive == UpperLetter(folder[0]) && folder[0] && folder[1] == ':' && folder[2] == '\\';
  if (!on_drive) {
    char root[16];
    FormatText(root, sizeof root, "%c:%s", drive, kFolderName);
    if (!CopyText(folder, cap, root)) return false;
  }
  if (AppendText(folder, cap, "\\")) return true;
  // Only a folder that already fills cap gets here; its root form fits.
  char root[16];
  FormatText(root, sizeof root, "%c:%s\\", drive, kFolderName);
  return CopyText(folder, cap, root);
}
