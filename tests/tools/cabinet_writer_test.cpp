#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tools/maker/cabinet_writer.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// gcab checks every block's checksum, which some readers skip.
TEST(StoredCabinet, AnIndependentReaderAcceptsItsSums) {
  if (std::system("gcab --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "gcab is not installed";
  char folder[] = "/tmp/cabinet-test-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(folder));
  std::string dir = folder;
  // Sizes around the 32 KiB block and the 4-byte sum words.
  std::string big(65536 + 3, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131) ^ (i >> 9));
  std::string cabinet, error;
  ASSERT_TRUE(BuildStoredCabinet({{"NewUpdate.exe", big, 0x5b87, 0x6000},
                                  {"one", "x", 0x5b87, 0x6000},
                                  {"two", "yz", 0x5b87, 0x6000}},
                                 &cabinet, &error))
      << error;
  std::ofstream(dir + "/u.cab", std::ios::binary) << cabinet;
  std::string command = "cd " + dir + " && mkdir out && gcab -x -C out u.cab >log 2>&1";
  EXPECT_EQ(0, std::system(command.c_str())) << ReadFile(dir + "/log");
  EXPECT_TRUE(ReadFile(dir + "/out/NewUpdate.exe") == big);
  EXPECT_EQ("x", ReadFile(dir + "/out/one"));
  EXPECT_EQ("yz", ReadFile(dir + "/out/two"));
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
