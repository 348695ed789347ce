// Cabinet entry names that would not land as files in the target folder.
#include <gtest/gtest.h>

#include "site/cabinet_names.h"

namespace {

TEST(CabinetEntryNames, DevicesAreNotFilesInTheFolder) {
  for (const char* device : {"NUL", "con", "Aux.txt", "PRN ", "com1", "LPT9.log", "sub\\nul", "CON .x", "conin$",
                             "CONOUT$", "clock$"}) {
    EXPECT_FALSE(IsContainedEntryName(device)) << device;
  }
  for (const char* file : {"CONFIG.SYS", "console.txt", "NULL", "COM", "COM0", "COM10", "LPT", "aux_data\\x",
                           "x.con", "sub\\prnt.txt", "nul_"}) {
    EXPECT_TRUE(IsContainedEntryName(file)) << file;
  }
}

}  // namespace
