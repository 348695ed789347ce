#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "package/embedded_package.h"
#include "tests/package/package_files.h"
#include "tests/support/test_support.h"

using namespace package_files;
using namespace testing_support;

namespace {

// Past the 4096-byte cutoff, so the big stream lives in regular sectors and
// the small ones in the mini stream.
std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(seed >> 16);
  }
  return bytes;
}

class EmbeddedPackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = OwnImage();
    ASSERT_GT(image_.size(), 1000u);
    cabinet_ = Pattern(300000, 1);
    plain_ = Pattern(1000, 2);
    compound_ = MakeCompoundFile(scratch_.File("build.cf"), "Pellomar",
                                 {{"Update.exe", cabinet_}, {"Update.exe_uncompressed", plain_}, {"Empty", ""}});
    ASSERT_FALSE(compound_.empty());
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    std::string path = scratch_.File(name);
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }

  ScratchFolder scratch_;
  std::string image_, cabinet_, plain_, compound_;
};

TEST_F(EmbeddedPackageTest, ExtractsFromPackageAloneAndStacked) {
  std::string alone = image_;
  AppendPackage(alone, compound_);
  std::string stacked = alone;
  AppendOther(stacked, "unrelated block");
  AppendParameters(stacked, "a=1&b=2");
  for (const std::string& bytes : {alone, stacked}) {
    std::string exe = Write("setup.exe", bytes);
    EmbeddedPackage package(testing_support::WidePath(exe).c_str());
    ASSERT_TRUE(package.IsOpen());
    std::unique_ptr<PackageFolder> folder(package.OpenFolder("Pellomar"));
    ASSERT_TRUE(folder);
    std::string out = scratch_.File("http_tmp1.tmp");
    ASSERT_TRUE(folder->ExtractFile("Update.exe", out.c_str()));
    EXPECT_TRUE(ReadWholeFile(out) == cabinet_);
    // An existing destination is replaced, not appended to or left longer.
    ASSERT_TRUE(folder->ExtractFile("Update.exe_uncompressed", out.c_str()));
    EXPECT_TRUE(ReadWholeFile(out) == plain_);
    // A stream of size 0 gives an empty file.
    ASSERT_TRUE(folder->ExtractFile("Empty", out.c_str()));
    EXPECT_TRUE(FileExists(out));
    EXPECT_EQ(0u, ReadWholeFile(out).size());
  }
}

TEST_F(EmbeddedPackageTest, MissingFoldersAndStreams) {
  std::string bytes = image_;
  AppendPackage(bytes, compound_);
  std::string exe = Write("setup.exe", bytes);
  EmbeddedPackage package(testing_support::WidePath(exe).c_str());
  ASSERT_TRUE(package.IsOpen());
  EXPECT_EQ(nullptr, package.OpenFolder("Tamsu"));
  EXPECT_EQ(nullptr, package.OpenFolder(nullptr));
  // A folder name over the format's 31 characters matches nothing.
  EXPECT_EQ(nullptr, package.OpenFolder(std::string(200, 'P').c_str()));
  std::unique_ptr<PackageFolder> folder(package.OpenFolder("Pellomar"));
  ASSERT_TRUE(folder);
  std::string out = scratch_.File("http_tmp1.tmp");
  EXPECT_FALSE(folder->ExtractFile("NewUpdate.exe", out.c_str()));
  EXPECT_FALSE(folder->ExtractFile(std::string(300, 'U').c_str(), out.c_str()));
  EXPECT_FALSE(FileExists(out));
  // A destination that cannot be created: false, nothing written anywhere.
  std::string nowhere = scratch_.File("no-such-folder\\http_tmp1.tmp");
  EXPECT_FALSE(folder->ExtractFile("Update.exe", nowhere.c_str()));
  EXPECT_FALSE(FileExists(nowhere));
}

TEST_F(EmbeddedPackageTest, NotOpenWithoutAValidPackage) {
  std::string plain = Write("plain.exe", image_);
  EXPECT_FALSE(EmbeddedPackage(testing_support::WidePath(plain).c_str()).IsOpen());

  std::string junk = image_;
  AppendPackage(junk, std::string(4096, 'j'));
  std::string junk_exe = Write("junk.exe", junk);
  EXPECT_FALSE(EmbeddedPackage(testing_support::WidePath(junk_exe).c_str()).IsOpen());

  // Markers are compared with case.
  std::string lower = image_;
  AppendPackage(lower, compound_);
  lower.replace(lower.size() - 14, 4, "bulk");
  std::string lower_exe = Write("lower.exe", lower);
  EXPECT_FALSE(EmbeddedPackage(testing_support::WidePath(lower_exe).c_str()).IsOpen());

  // Only a parameter block: stepped over to the bare image.
  std::string only_params = image_;
  AppendParameters(only_params, "a=1");
  std::string params_exe = Write("params.exe", only_params);
  EXPECT_FALSE(EmbeddedPackage(testing_support::WidePath(params_exe).c_str()).IsOpen());

  EXPECT_FALSE(EmbeddedPackage(testing_support::WidePath(scratch_.File("missing.exe")).c_str()).IsOpen());
  std::string empty = Write("empty.exe", "");
  EXPECT_FALSE(EmbeddedPackage(testing_support::WidePath(empty).c_str()).IsOpen());
}

TEST_F(EmbeddedPackageTest, CutPackageFailsTheExtraction) {
  // Cut inside the big stream's last sectors; the header and the directory
  // before them stay, so the folder opens and the copy comes up short.
  size_t at = compound_.find(cabinet_.substr(cabinet_.size() - 4096, 512));
  ASSERT_NE(std::string::npos, at);
  std::string bytes = image_;
  AppendPackage(bytes, compound_.substr(0, at));
  std::string exe = Write("cut.exe", bytes);
  EmbeddedPackage package(testing_support::WidePath(exe).c_str());
  ASSERT_TRUE(package.IsOpen());
  std::unique_ptr<PackageFolder> folder(package.OpenFolder("Pellomar"));
  ASSERT_TRUE(folder);
  std::string out = scratch_.File("http_tmp1.tmp");
  EXPECT_FALSE(folder->ExtractFile("Update.exe", out.c_str()));
  // What arrived stays for the caller to overwrite or delete.
  EXPECT_TRUE(FileExists(out));
  EXPECT_LT(ReadWholeFile(out).size(), cabinet_.size());
}

class ByteSourceTest : public EmbeddedPackageTest {};

TEST_F(ByteSourceTest, ReadsStayInsideThePackage) {
  std::string bytes = image_;
  AppendPackage(bytes, compound_);
  AppendParameters(bytes, "a=1");
  std::string exe = Write("setup.exe", bytes);
  PackageByteSource source(testing_support::WidePath(exe).c_str());
  ASSERT_TRUE(source.Found());
  EXPECT_EQ(image_.size(), source.Start());
  EXPECT_EQ(compound_.size(), source.Size());

  char buffer[64];
  ULONG read = 12345;
  ULARGE_INTEGER at;
  at.QuadPart = 0;
  ASSERT_EQ(S_OK, source.ReadAt(at, buffer, 8, &read));
  EXPECT_EQ(8u, read);
  EXPECT_EQ(compound_.substr(0, 8), std::string(buffer, 8));

  // Across the end: a shorter read, reported; the "Bulk" marker never shows.
  memset(buffer, '#', sizeof buffer);
  at.QuadPart = compound_.size() - 5;
  ASSERT_EQ(S_OK, source.ReadAt(at, buffer, sizeof buffer, &read));
  EXPECT_EQ(5u, read);
  EXPECT_EQ(compound_.substr(compound_.size() - 5), std::string(buffer, 5));
  EXPECT_EQ('#', buffer[5]);

  at.QuadPart = compound_.size();
  read = 7;
  EXPECT_EQ(S_OK, source.ReadAt(at, buffer, 4, &read));
  EXPECT_EQ(0u, read);
  at.QuadPart = 0xffffffffull;
  EXPECT_EQ(S_OK, source.ReadAt(at, buffer, 4, &read));
  EXPECT_EQ(0u, read);
  // High offsets do not wrap round to the start.
  at.QuadPart = (1ull << 32) + 0;
  read = 7;
  EXPECT_EQ(S_OK, source.ReadAt(at, buffer, 4, &read));
  EXPECT_EQ(0u, read);
  // No out-count given: none written, the read still happens.
  at.QuadPart = 0;
  EXPECT_EQ(S_OK, source.ReadAt(at, buffer, 4, nullptr));
  EXPECT_EQ(compound_.substr(0, 4), std::string(buffer, 4));

  ULARGE_INTEGER size;
  size.QuadPart = 1;
  EXPECT_EQ(E_NOTIMPL, source.WriteAt(at, buffer, 1, &read));
  EXPECT_EQ(E_NOTIMPL, source.Flush());
  EXPECT_EQ(E_NOTIMPL, source.SetSize(size));
  EXPECT_EQ(E_NOTIMPL, source.LockRegion(at, size, 0));
  EXPECT_EQ(E_NOTIMPL, source.UnlockRegion(at, size, 0));
}

TEST_F(ByteSourceTest, DescriptionAndInterfaces) {
  std::string bytes = image_;
  AppendPackage(bytes, compound_);
  std::string exe = Write("setup.exe", bytes);
  PackageByteSource source(testing_support::WidePath(exe).c_str());
  ASSERT_TRUE(source.Found());

  STATSTG named;
  ASSERT_EQ(S_OK, source.Stat(&named, STATFLAG_DEFAULT));
  ASSERT_NE(nullptr, named.pwcsName);
  EXPECT_EQ(std::wstring(L"Unnamed"), named.pwcsName);
  EXPECT_EQ(compound_.size(), named.cbSize.QuadPart);
  EXPECT_EQ(0u, named.type);
  EXPECT_EQ(0u, named.grfMode);
  WIN32_FILE_ATTRIBUTE_DATA info;
  ASSERT_TRUE(GetFileAttributesExA(exe.c_str(), GetFileExInfoStandard, &info));
  EXPECT_EQ(0, CompareFileTime(&info.ftLastWriteTime, &named.mtime));
  EXPECT_EQ(0, CompareFileTime(&info.ftCreationTime, &named.ctime));
  // Each caller frees its own copy.
  STATSTG again;
  ASSERT_EQ(S_OK, source.Stat(&again, STATFLAG_DEFAULT));
  EXPECT_NE(named.pwcsName, again.pwcsName);
  CoTaskMemFree(named.pwcsName);
  CoTaskMemFree(again.pwcsName);
  STATSTG nameless;
  ASSERT_EQ(S_OK, source.Stat(&nameless, STATFLAG_NONAME));
  EXPECT_EQ(nullptr, nameless.pwcsName);
  EXPECT_EQ(compound_.size(), nameless.cbSize.QuadPart);

  void* object = nullptr;
  EXPECT_EQ(S_OK, source.QueryInterface(IID_ILockBytes, &object));
  EXPECT_EQ(static_cast<ILockBytes*>(&source), object);
  EXPECT_EQ(S_OK, source.QueryInterface(IID_IUnknown, &object));
  EXPECT_EQ(static_cast<ILockBytes*>(&source), object);
  EXPECT_EQ(E_NOINTERFACE, source.QueryInterface(IID_IStream, &object));
  EXPECT_EQ(nullptr, object);
  EXPECT_EQ(0u, source.AddRef());
  EXPECT_EQ(0u, source.Release());
}

TEST_F(ByteSourceTest, NoPackageRefusesReads) {
  std::string exe = Write("plain.exe", image_);
  PackageByteSource source(testing_support::WidePath(exe).c_str());
  EXPECT_FALSE(source.Found());
  char buffer[4];
  ULONG read = 99;
  ULARGE_INTEGER at;
  at.QuadPart = 0;
  EXPECT_EQ(E_NOTIMPL, source.ReadAt(at, buffer, 4, &read));
}

}  // namespace
