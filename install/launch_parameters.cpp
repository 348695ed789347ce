#include "install/launch_parameters.h"

#include <windows.h>

#include "base/diagnostic_log.h"
#include "install/parameter_merge.h"
#include "install/product.h"
#include "base/registry.h"

ByteString StoredWebParameters() {
  ByteString family = RegGetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "WWWParams", nullptr);
  ByteString product = RegGetString(HKEY_LOCAL_MACHINE, SETUP_PRODUCT_KEY, "WWWParams", nullptr);
  ByteString joined;
  joined.AssignJoined(family.Text(), product.Text());
  return joined;
}

// The last kParameterBlockSize bytes of the file; false when it is shorter or
// cannot be read.
static bool ReadLastBlock(const char* path, unsigned char* block, DWORD size) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD read = 0;
  bool ok = SetFilePointer(file, -static_cast<LONG>(size), nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
            ReadFile(file, block, size, &read, nullptr) && read == size;
  CloseHandle(file);
  return ok;
}

void MergeLaunchParametersFrom(const char* path) {
  unsigned char block[267];
  if (!ReadLastBlock(path, block, sizeof block)) return;
  char trailer[kTrailerTextSize];
  if (!TrailerParameterText(block, trailer, sizeof trailer)) return;
  ByteString stored = StoredWebParameters();
  char merged[kMergedParametersSize];
  MergeParameterTexts(trailer, stored.Text(), merged, sizeof merged);
  LogPrint("MergeLaunchParameters %s\r\n", merged);
  RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "WWWParams", merged);
}

void MergeLaunchParameters() {
  char path[MAX_PATH];
  // A path that does not fit is not read at all rather than read cut.
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  MergeLaunchParametersFrom(path);
}
