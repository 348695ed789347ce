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

TEST(CabinetEntryNames, SuperscriptDigitsNameDevicesToo) {
  // 0xB9, 0xB2, 0xB3: the ANSI code page's superscript one, two and three.
  for (const char* device : {"COM\xB9.txt", "LPT\xB3", "com\xB2 .log", "sub\\Lpt\xB9"}) {
    EXPECT_FALSE(IsContainedEntryName(device)) << device;
  }
  // Other high bytes in that place, or a superscript elsewhere, name files.
  for (const char* file : {"COM\xBC", "LPT\xB0.txt", "COM\xB9\xB9", "\xB9" "COM", "CO\xB9"}) {
    EXPECT_TRUE(IsContainedEntryName(file)) << file;
  }
}

}  // namespace
