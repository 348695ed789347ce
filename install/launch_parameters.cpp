#include "install/launch_parameters.h"

#include <windows.h>

#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "install/parameter_merge.h"
#include "install/product.h"
#include "package/appended_blocks.h"
#include "base/registry.h"

ByteString StoredWebParameters() {
  ByteString family = RegGetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "WWWParams", nullptr);
  ByteString product = RegGetString(HKEY_LOCAL_MACHINE, SETUP_PRODUCT_KEY, "WWWParams", nullptr);
  ByteString joined;
  joined.AssignJoined(family.Text(), product.Text());
  return joined;
}

void MergeLaunchParametersFrom(const wchar_t* path) {
  MappedFile file(path, true, 0);
  const unsigned char* data = static_cast<const unsigned char*>(file.View());
  if (!data) return;
  // Last in an unsigned file; in a signed one, stamped after signing inside
  // its certificate table, or before the table.
  SetupBlocks blocks = FindSetupBlocks(data, file.Size());
  char trailer[kTrailerTextSize];
  if (!blocks.hasParameters || !TrailerParameterText(data + blocks.parameters, trailer, sizeof trailer)) return;
  ByteString stored = StoredWebParameters();
  char merged[kMergedParametersSize];
  MergeParameterTexts(trailer, stored.Text(), merged, sizeof merged);
  LogPrint("MergeLaunchParameters %s\n", merged);
  RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "WWWParams", merged);
}

void MergeLaunchParameters() {
  wchar_t path[MAX_PATH];
  // A path that does not fit is not read at all rather than read cut.
  if (OwnPath(path, MAX_PATH)) MergeLaunchParametersFrom(path);
}
