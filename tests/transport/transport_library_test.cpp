// Loading and releasing a transport kind's system library.
#include "transport/transport_library.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"
#include "tests/transport/log_capture.h"

using testing_support::LogCapture;
using testing_support::ProgramFolder;

namespace {

// A system library the test program does not load by itself.
const char kLibrary[] = "msimg32.dll";

std::string SystemFolder() {
  char folder[MAX_PATH];
  GetSystemDirectoryA(folder, sizeof folder);
  return folder;
}

std::string ModulePath(HMODULE module) {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(module, path, sizeof path);
  return path;
}

TEST(TransportLibrary, LoadsFromTheSystemFolderOnlyAndKeepsOnlyCompleteTables) {
  ASSERT_EQ(nullptr, GetModuleHandleA(kLibrary));
  TransportLibrary library = {"TransparentBlt\0AlphaBlend", 2, nullptr, {}, 0};

  // A copy beside the program is not taken, whatever its name.
  std::string copy = ProgramFolder() + "\\net_probe.dll";
  ASSERT_TRUE(CopyFileA((SystemFolder() + "\\" + kLibrary).c_str(), copy.c_str(), FALSE));
  EXPECT_FALSE(LoadTransportLibrary(library, "net_probe.dll"));
  EXPECT_FALSE(IsTransportLibraryLoaded(library));
  DeleteFileA(copy.c_str());

  {
    LogCapture log;
    ASSERT_TRUE(LoadTransportLibrary(library, kLibrary));
    EXPECT_EQ(1, log.Count(SystemFolder() + "\\" + kLibrary));  // its path and version
  }
  ASSERT_TRUE(IsTransportLibraryLoaded(library));
  EXPECT_EQ(0, _stricmp((SystemFolder() + "\\" + kLibrary).c_str(), ModulePath(library.handle).c_str()));
  EXPECT_EQ(GetProcAddress(library.handle, "AlphaBlend"), library.entries[1]);
  ReleaseTransportLibrary(library);
  EXPECT_FALSE(IsTransportLibraryLoaded(library));
  EXPECT_EQ(nullptr, GetModuleHandleA(kLibrary));

  // One entry missing: nothing is kept.
  TransportLibrary incomplete = {"AlphaBlend\0NoSuchEntry", 2, nullptr, {}, 0};
  EXPECT_FALSE(LoadTransportLibrary(incomplete, kLibrary));
  EXPECT_FALSE(IsTransportLibraryLoaded(incomplete));
  EXPECT_EQ(nullptr, GetModuleHandleA(kLibrary));
}

TEST(TransportLibrary, LastObjectOfAKindIsReported) {
  TransportLibrary library = {nullptr, 0, nullptr, {}, 0};
  AddTransportObject(library);
  AddTransportObject(library);
  EXPECT_FALSE(RemoveTransportObject(library));
  EXPECT_TRUE(RemoveTransportObject(library));
  // An unbalanced release still reads as the last.
  EXPECT_TRUE(RemoveTransportObject(library));
}

}  // namespace
