// The file fetcher against loopback servers: size checks, target names,
// the package, cancel, and cabinets made by gcab.
#include <winsock2.h>

#include "site/file_fetcher.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <setupapi.h>

#include "base/cancel_flag.h"
#include "base/file_utils.h"
#include "install/product.h"
#include "package/embedded_package.h"
#include "site/product_query.h"
#include "site/site_connection.h"
#include "tests/site/fetcher_test_support.h"
#include "tests/support/test_support.h"

using fetcher_testing::Cabinet;
using fetcher_testing::LoopbackSite;
using testing_support::FileExists;
using testing_support::HttpReply;
using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;
using testing_support::WriteWholeFile;

namespace {

class FileFetcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int next_index = 1;
    loopback_.reset(new LoopbackSite(50, next_index++));
    ASSERT_TRUE(loopback_->Ok());
    testing_support::DeleteMachineKey(SETUP_FAMILY_KEY);
    SetCancelRequested(false);
    GetCurrentDirectoryA(sizeof cwd_, cwd_);
    install_ = folder_.File("Pellomar");
    CreateDirectoryA(install_.c_str(), nullptr);
    SetCurrentDirectoryA(install_.c_str());
  }
  void TearDown() override {
    fetcher_.reset();
    site_.reset();
    SetCurrentDirectoryA(cwd_);
    SetCancelRequested(false);
  }

  // The fetcher on the area the gateway named; package may be null.
  FileFetcher& Fetcher(EmbeddedPackage* package = nullptr) {
    site_.reset(new SiteConnection(nullptr, loopback_->site.Address().c_str()));
    ProductQuery* query = site_->FindOrCreateQuery(SETUP_FAMILY_NAME);
    EXPECT_NE(query, nullptr);
    fetcher_.reset(new FileFetcher(nullptr, query, package));
    return *fetcher_;
  }
  LoopbackSite& Loopback() { return *loopback_; }
  std::string Installed(const std::string& name) const { return install_ + "\\" + name; }

  ScratchFolder folder_;
  std::string install_;
  std::unique_ptr<LoopbackSite> loopback_;
  std::unique_ptr<SiteConnection> site_;
  std::unique_ptr<FileFetcher> fetcher_;
  char cwd_[MAX_PATH];
};

TEST_F(FileFetcherTest, ExactSizeMustMatch) {
  Loopback().AreaUp();
  Loopback().ServeArea("ten.bin", "0123456789");
  FileFetcher& fetcher = Fetcher();
  EXPECT_FALSE(fetcher.GetFile("ten.bin", "a.bin", 9));
  EXPECT_FALSE(FileExists(Installed("a.bin")));
  // A file that failed its check is not kept, not even where it arrived.
  EXPECT_FALSE(FileExists(Installed("http_tmp1.tmp")));
  EXPECT_FALSE(fetcher.GetFile("ten.bin", "a.bin", 11));
  EXPECT_FALSE(FileExists(Installed("a.bin")));

  EXPECT_TRUE(fetcher.GetFile("ten.bin", "a.bin", 10));
  EXPECT_EQ(ReadWholeFile(Installed("a.bin")), "0123456789");
  EXPECT_FALSE(FileExists(Installed("http_tmp1.tmp")));

  Loopback().ServeArea("empty.bin", "");
  EXPECT_TRUE(fetcher.GetFile("empty.bin", "e.bin", 0));
  EXPECT_EQ(ReadWholeFile(Installed("e.bin")), "");
  EXPECT_FALSE(fetcher.GetFile("ten.bin", "e.bin", 0));
}

TEST_F(FileFetcherTest, NotHtmlLooksOnlyBeforeTheFirstZeroByte) {
  Loopback().AreaUp();
  Loopback().ServeArea("page.txt", "Not here: <html>");
  Loopback().ServeArea("binary.bin", std::string("MZ\x90\0<not text", 14));
  Loopback().ServeArea("plain.txt", "a > b");
  FileFetcher& fetcher = Fetcher();
  EXPECT_FALSE(fetcher.GetFile("page.txt", "page.txt", FileFetcher::kNotHtml));
  EXPECT_FALSE(FileExists(Installed("page.txt")));
  EXPECT_FALSE(FileExists(Installed("http_tmp1.tmp")));

  EXPECT_TRUE(fetcher.GetFile("binary.bin", "binary.bin", FileFetcher::kNotHtml));
  EXPECT_EQ(ReadWholeFile(Installed("binary.bin")), std::string("MZ\x90\0<not text", 14));
  EXPECT_TRUE(fetcher.GetFile("plain.txt", "plain.txt", FileFetcher::kNotHtml));
}

TEST_F(FileFetcherTest, TargetNames) {
  Loopback().AreaUp();
  Loopback().ServeArea("Update.exe", "fresh");
  Loopback().ServeArea("other.txt", "new text");
  FileFetcher& fetcher = Fetcher();

  // The running updater may hold "Update.exe": the fresh one lands beside it.
  ASSERT_TRUE(WriteWholeFile(Installed("Update.exe"), "old"));
  EXPECT_TRUE(fetcher.GetFile("Update.exe", "Update.exe", FileFetcher::kAnySize));
  EXPECT_EQ(ReadWholeFile(Installed("NewUpdate.exe")), "fresh");
  EXPECT_EQ(ReadWholeFile(Installed("Update.exe")), "old");

  // Only the exact name is turned aside.
  EXPECT_TRUE(fetcher.GetFile("Update.exe", "update.exe.bak", FileFetcher::kAnySize));
  EXPECT_EQ(ReadWholeFile(Installed("update.exe.bak")), "fresh");

  // An existing target is replaced; the arrival name renames nothing.
  ASSERT_TRUE(WriteWholeFile(Installed("other.txt"), "old text that is longer"));
  EXPECT_TRUE(fetcher.GetFile("other.txt", "other.txt", FileFetcher::kAnySize));
  EXPECT_EQ(ReadWholeFile(Installed("other.txt")), "new text");
  EXPECT_TRUE(fetcher.GetFile("other.txt", "http_tmp1.tmp", FileFetcher::kAnySize));
  EXPECT_EQ(ReadWholeFile(Installed("http_tmp1.tmp")), "new text");

  // A target in another folder (here a full path).
  std::string elsewhere = folder_.File("elsewhere.txt");
  EXPECT_TRUE(fetcher.GetFile("other.txt", elsewhere.c_str(), 8));
  EXPECT_EQ(ReadWholeFile(elsewhere), "new text");
}

TEST_F(FileFetcherTest, FailedDownloadLeavesNoArrivalFile) {
  Loopback().AreaUp();
  Loopback().ServeArea("a.txt", "a");
  FileFetcher& fetcher = Fetcher();
  ASSERT_TRUE(fetcher.GetFile("a.txt", "a.txt", FileFetcher::kAnySize));
  // Error pages come back as bodies; a server gone after the connection test
  // makes the chosen transport fail.
  Loopback().StopArea();
  ASSERT_TRUE(WriteWholeFile(Installed("http_tmp1.tmp"), "from before"));
  ASSERT_TRUE(WriteWholeFile(Installed("kept.txt"), "kept"));
  EXPECT_FALSE(fetcher.GetFile("missing.txt", "kept.txt", FileFetcher::kAnySize));
  EXPECT_FALSE(FileExists(Installed("http_tmp1.tmp")));
  EXPECT_EQ(ReadWholeFile(Installed("kept.txt")), "kept");
}

TEST_F(FileFetcherTest, NoAreaNoFile) {
  // The gateway names an area whose connection test never passes.
  FileFetcher& fetcher = Fetcher();
  EXPECT_FALSE(fetcher.GetFile("any.txt", "any.txt", FileFetcher::kAnySize));
  EXPECT_FALSE(FileExists(Installed("any.txt")));
  EXPECT_FALSE(FileExists(Installed("http_tmp1.tmp")));
  EXPECT_EQ(Loopback().AreaRequestsFor("any.txt"), 0);
  EXPECT_FALSE(fetcher.GetCodes().IsPresent());
}

TEST_F(FileFetcherTest, CancelBeforeTouchesNothing) {
  Loopback().AreaUp();
  Loopback().ServeArea("a.txt", "a");
  FileFetcher& fetcher = Fetcher();
  ASSERT_TRUE(WriteWholeFile(Installed("a.txt"), "old"));
  int before = Loopback().Area().ConnectionCount();
  SetCancelRequested(true);
  EXPECT_FALSE(fetcher.GetFile("a.txt", "a.txt", FileFetcher::kAnySize));
  EXPECT_FALSE(fetcher.GetCompressedFile("a.txt", "a.txt"));
  EXPECT_EQ(Loopback().Area().ConnectionCount(), before);
  EXPECT_EQ(ReadWholeFile(Installed("a.txt")), "old");
}

TEST_F(FileFetcherTest, CancelDuringDownloadDeletesTheFile) {
  Loopback().AreaUp();
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n";
  Loopback().Area().ServePath("/pub/slow.bin", HttpReply::Chunks({head + "01234", "56789"}, 1500));
  FileFetcher& fetcher = Fetcher();
  ASSERT_TRUE(WriteWholeFile(Installed("slow.bin"), "old"));
  std::thread canceller([this] {
    for (int i = 0; i < 1000 && Loopback().AreaRequestsFor("slow.bin") == 0; ++i) Sleep(10);
    SetCancelRequested(true);
  });
  bool fetched = fetcher.GetFile("slow.bin", "slow.bin", FileFetcher::kAnySize);
  canceller.join();
  EXPECT_FALSE(fetched);
  EXPECT_EQ(Loopback().AreaRequestsFor("slow.bin"), 1);
  EXPECT_FALSE(FileExists(Installed("http_tmp1.tmp")));
  EXPECT_EQ(ReadWholeFile(Installed("slow.bin")), "old");
}

class PackageFetchTest : public FileFetcherTest {
 protected:
  std::unique_ptr<EmbeddedPackage> Package(const std::map<std::string, std::string>& streams,
                                           const std::string& folder = SETUP_FAMILY_NAME) {
    std::string path = folder_.File("Setup.exe");
    EXPECT_TRUE(fetcher_testing::WritePackageExecutable(path, folder, streams));
    std::unique_ptr<EmbeddedPackage> package(new EmbeddedPackage(path.c_str()));
    EXPECT_TRUE(package->IsOpen());
    return package;
  }
};

TEST_F(PackageFetchTest, PackageHitUsesNoNetworkEvenWithNoWorkingTransport) {
  // The area stays down: no transport could pass its connection test.
  auto package = Package({{"Update.exe", Cabinet("one_stored.cab")}, {"notes.txt", "packaged"}});
  FileFetcher& fetcher = Fetcher(package.get());
  int site_requests = Loopback().site.ConnectionCount();

  EXPECT_TRUE(fetcher.GetFile("notes.txt", "notes.txt", 8));
  EXPECT_EQ(ReadWholeFile(Installed("notes.txt")), "packaged");
  EXPECT_TRUE(fetcher.GetCompressedFile("Update.exe", Installed("NewUpdate.exe").c_str()));
  EXPECT_EQ(ReadWholeFile(Installed("NewUpdate.exe")), "updater from a stored cabinet");
  EXPECT_FALSE(FileExists(Installed("http_tmp2.tmp")));

  EXPECT_EQ(Loopback().Area().ConnectionCount(), 0);
  EXPECT_EQ(Loopback().site.ConnectionCount(), site_requests);
  // The size check applies to packaged files as well.
  EXPECT_FALSE(fetcher.GetFile("notes.txt", "notes2.txt", 7));
  EXPECT_EQ(Loopback().Area().ConnectionCount(), 0);
}

TEST_F(PackageFetchTest, PackageMissDownloads) {
  Loopback().AreaUp();
  Loopback().ServeArea("web.txt", "from the web");
  auto package = Package({{"notes.txt", "packaged"}});
  FileFetcher& fetcher = Fetcher(package.get());
  EXPECT_TRUE(fetcher.GetFile("web.txt", "web.txt", FileFetcher::kAnySize));
  EXPECT_EQ(ReadWholeFile(Installed("web.txt")), "from the web");
  EXPECT_EQ(Loopback().AreaRequestsFor("web.txt"), 1);
}

TEST_F(PackageFetchTest, PackageOfAnotherFamilyIsNotUsed) {
  Loopback().AreaUp();
  Loopback().ServeArea("notes.txt", "from the web");
  auto package = Package({{"notes.txt", "packaged"}}, "Other");
  FileFetcher& fetcher = Fetcher(package.get());
  EXPECT_TRUE(fetcher.GetFile("notes.txt", "notes.txt", FileFetcher::kAnySize));
  EXPECT_EQ(ReadWholeFile(Installed("notes.txt")), "from the web");
}

// Records each report; sets the cancel flag at report number cancel_at.
struct RecordingSink : TransferProgress {
  void Report(uint64_t done, uint64_t total) override {
    reports.emplace_back(done, total);
    if (reports.size() != cancel_at) return;
    SetCancelRequested(true);
    QueryPerformanceCounter(&cancelled);
  }
  std::vector<std::pair<uint64_t, uint64_t>> reports;
  size_t cancel_at = 0;
  LARGE_INTEGER cancelled = {};
};

TEST_F(PackageFetchTest, ExtractionReportsToTheSinkAndItsCancelNeverGoesToTheWeb) {
  Loopback().AreaUp();
  const std::string big(2 * 1024 * 1024 + 7, 'b');
  const std::string cabinet = Cabinet("one_stored.cab");
  Loopback().ServeArea("big.bin", big);
  Loopback().ServeArea("web.txt", "from the web");
  auto package = Package({{"big.bin", big}, {"Update.exe", cabinet}});
  FileFetcher& fetcher = Fetcher(package.get());
  // A file the package lacks: the connection is made and stays.
  ASSERT_TRUE(fetcher.GetFile("web.txt", "web.txt", FileFetcher::kAnySize));

  // The updater's cabinet: the sink handed to the fetch hears the stream.
  RecordingSink sink;
  EXPECT_TRUE(fetcher.GetCompressedFile("Update.exe", Installed("NewUpdate.exe").c_str(), &sink));
  ASSERT_FALSE(sink.reports.empty());
  EXPECT_EQ(cabinet.size(), sink.reports.back().first);
  EXPECT_EQ(cabinet.size(), sink.reports.back().second);
  // A big stream: every chunk, rising, against the stream's size.
  RecordingSink chunks;
  EXPECT_TRUE(fetcher.GetFile("big.bin", "big.bin", static_cast<int>(big.size()), &chunks));
  ASSERT_GE(chunks.reports.size(), 3u);
  for (size_t i = 1; i < chunks.reports.size(); ++i) {
    EXPECT_GT(chunks.reports[i].first, chunks.reports[i - 1].first);
    EXPECT_EQ(big.size(), chunks.reports[i].second);
  }
  EXPECT_EQ(big.size(), chunks.reports.back().first);

  // Cancelled in the middle of the stream: nothing is left, not even the
  // partial arrival, and the file is not fetched from the web in its place.
  RecordingSink cancelling;
  cancelling.cancel_at = 2;
  bool fetched = fetcher.GetFile("big.bin", "again.bin", FileFetcher::kAnySize, &cancelling);
  LARGE_INTEGER ended, frequency;
  QueryPerformanceCounter(&ended);
  QueryPerformanceFrequency(&frequency);
  double latency_ms = 1000.0 * (ended.QuadPart - cancelling.cancelled.QuadPart) / frequency.QuadPart;
  printf("extraction cancel latency: %.3f ms\n", latency_ms);
  EXPECT_FALSE(fetched);
  EXPECT_LT(latency_ms, 250.0);
  EXPECT_EQ(2u, cancelling.reports.size());
  EXPECT_FALSE(FileExists(Installed("again.bin")));
  EXPECT_FALSE(FileExists(Installed("http_tmp1.tmp")));
  EXPECT_EQ(Loopback().AreaRequestsFor("big.bin"), 0);
  EXPECT_EQ(Loopback().AreaRequestsFor("Update.exe"), 0);
}

class CabinetFetchTest : public FileFetcherTest {
 protected:
  void SetUp() override {
    FileFetcherTest::SetUp();
    Loopback().AreaUp();
  }
  void ServeCabinet(const std::string& cabinet) {
    std::string bytes = Cabinet(cabinet);
    ASSERT_FALSE(bytes.empty()) << cabinet;
    Loopback().ServeArea("Update.exe", bytes);
  }
  bool FetchUpdater() { return Fetcher().GetCompressedFile("Update.exe", Installed("NewUpdate.exe").c_str()); }
  // Files in the install folder.
  int FileCount() {
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((install_ + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
  }
};

TEST_F(CabinetFetchTest, StoredCabinetUnpacksIntoTheTargetFolder) {
  ServeCabinet("one_stored.cab");
  ASSERT_TRUE(WriteWholeFile(Installed("NewUpdate.exe"), "an older pending updater"));
  EXPECT_TRUE(FetchUpdater());
  EXPECT_EQ(ReadWholeFile(Installed("NewUpdate.exe")), "updater from a stored cabinet");
  EXPECT_FALSE(FileExists(Installed("http_tmp2.tmp")));
  EXPECT_FALSE(FileExists(Installed("http_tmp1.tmp")));
  EXPECT_EQ(Loopback().AreaRequestsFor("Update.exe_uncompressed"), 0);
}

// Companion files come only with a cabinet the publisher signed; any other
// gives its updater entry alone.
TEST_F(CabinetFetchTest, ZippedCabinetWithThreeEntriesIsWholeOnlyWhenSigned) {
  for (bool is_signed : {false, true}) {
    SCOPED_TRACE(is_signed ? "signed" : "unsigned");
    ServeCabinet(is_signed ? "three_signed.cab" : "three_mszip.cab");
    EXPECT_TRUE(FetchUpdater());
    EXPECT_EQ(ReadWholeFile(Installed("NewUpdate.exe")), "updater from a zipped cabinet");
    EXPECT_EQ(FileExists(Installed("readme.txt")), is_signed);
    EXPECT_EQ(ReadWholeFile(Installed("data.bin")).size(), is_signed ? 100000u : 0u);
    EXPECT_EQ(FileCount(), is_signed ? 3 : 1);
  }
}

TEST_F(CabinetFetchTest, TargetWithoutFolderUnpacksIntoTheCurrentOne) {
  ServeCabinet("one_stored.cab");
  EXPECT_TRUE(Fetcher().GetCompressedFile("Update.exe", "NewUpdate.exe"));
  EXPECT_EQ(ReadWholeFile(Installed("NewUpdate.exe")), "updater from a stored cabinet");
  EXPECT_EQ(FileCount(), 1);
}

TEST_F(CabinetFetchTest, EntryLeavingTheFolderFailsTheCabinet) {
  ServeCabinet("evil.cab");
  Loopback().ServeArea("Update.exe_uncompressed", "plain updater");
  EXPECT_TRUE(FetchUpdater());
  EXPECT_FALSE(FileExists(folder_.File("evil.exe")));
  // The entry unpacked before the bad one is gone; the plain copy took its place.
  EXPECT_EQ(ReadWholeFile(Installed("NewUpdate.exe")), "plain updater");
  EXPECT_FALSE(FileExists(Installed("http_tmp2.tmp")));
  EXPECT_EQ(FileCount(), 1);
}

TEST_F(CabinetFetchTest, CabinetWithoutTheUpdaterCountsAsFailed) {
  ServeCabinet("no_updater.cab");
  // An older pending updater is not taken for what the cabinet brought.
  ASSERT_TRUE(WriteWholeFile(Installed("NewUpdate.exe"), "an older pending updater"));
  EXPECT_FALSE(FetchUpdater());
  EXPECT_EQ(Loopback().AreaRequestsFor("Update.exe_uncompressed"), 1);
  EXPECT_EQ(FileCount(), 0);

  Loopback().ServeArea("Update.exe_uncompressed", "plain updater");
  EXPECT_TRUE(FetchUpdater());
  EXPECT_EQ(ReadWholeFile(Installed("NewUpdate.exe")), "plain updater");
  EXPECT_EQ(FileCount(), 1);
}

TEST_F(CabinetFetchTest, CutCabinetLeavesNoPartialUpdater) {
  ServeCabinet("cut.cab");
  EXPECT_FALSE(FetchUpdater());
  EXPECT_EQ(Loopback().AreaRequestsFor("Update.exe_uncompressed"), 1);
  EXPECT_FALSE(FileExists(Installed("NewUpdate.exe")));
  EXPECT_EQ(FileCount(), 0);

  Loopback().ServeArea("Update.exe_uncompressed", "plain updater");
  EXPECT_TRUE(fetcher_->GetCompressedFile("Update.exe", Installed("NewUpdate.exe").c_str()));
  EXPECT_EQ(ReadWholeFile(Installed("NewUpdate.exe")), "plain updater");
  EXPECT_EQ(FileCount(), 1);
}

TEST_F(CabinetFetchTest, ErrorPagesAreNeverTakenForTheUpdater) {
  // Both the cabinet and the plain copy are missing: the server's 404 pages
  // are no files, and nothing of them is left behind.
  ASSERT_TRUE(WriteWholeFile(Installed("Update.exe"), "installed updater"));
  EXPECT_FALSE(FetchUpdater());
  EXPECT_EQ(Loopback().AreaRequestsFor("Update.exe"), 1);
  EXPECT_EQ(Loopback().AreaRequestsFor("Update.exe_uncompressed"), 1);
  EXPECT_FALSE(FileExists(Installed("NewUpdate.exe")));
  EXPECT_FALSE(FileExists(Installed("http_tmp1.tmp")));
  EXPECT_FALSE(FileExists(Installed("http_tmp2.tmp")));
  EXPECT_EQ(ReadWholeFile(Installed("Update.exe")), "installed updater");

  // A real program passes: its text ends at an early zero byte.
  Loopback().ServeArea("Update.exe_uncompressed", std::string("MZ\x90\0<>", 6));
  EXPECT_TRUE(fetcher_->GetCompressedFile("Update.exe", Installed("NewUpdate.exe").c_str()));
  EXPECT_EQ(ReadWholeFile(Installed("NewUpdate.exe")), std::string("MZ\x90\0<>", 6));
}

TEST_F(CabinetFetchTest, CabinetSetIsNotFollowed) {
  // The reader reports the first half of the file as extracted, then fails.
  ServeCabinet("set_part1.cab");
  EXPECT_FALSE(FetchUpdater());
  EXPECT_EQ(Loopback().AreaRequestsFor("part2.cab"), 0);
  EXPECT_FALSE(FileExists(Installed("NewUpdate.exe")));
  EXPECT_EQ(FileCount(), 0);
}

TEST_F(CabinetFetchTest, EntryNameTooLongForTheFolderFailsTheCabinet) {
  ServeCabinet("long_name.cab");
  Loopback().ServeArea("Update.exe_uncompressed", "plain updater");
  EXPECT_TRUE(FetchUpdater());
  EXPECT_EQ(ReadWholeFile(Installed("NewUpdate.exe")), "plain updater");
  EXPECT_EQ(FileCount(), 1);
}

TEST_F(CabinetFetchTest, MissingCabinetFallsBackToThePlainCopy) {
  Loopback().ServeArea("Update.exe_uncompressed", "plain updater");
  EXPECT_TRUE(FetchUpdater());
  EXPECT_EQ(ReadWholeFile(Installed("NewUpdate.exe")), "plain updater");
  EXPECT_EQ(Loopback().AreaRequestsFor("Update.exe"), 1);
  EXPECT_FALSE(FileExists(Installed("http_tmp1.tmp")));
  EXPECT_FALSE(FileExists(Installed("http_tmp2.tmp")));
}

TEST_F(CabinetFetchTest, WithoutTheCabinetReaderOnlyThePlainCopyIsFetched) {
  ServeCabinet("one_stored.cab");
  Loopback().ServeArea("Update.exe_uncompressed", "plain updater");
  SetCabinetReaderForTesting("no_such_cabinet_reader.dll");
  bool fetched = FetchUpdater();
  SetCabinetReaderForTesting(nullptr);
  EXPECT_TRUE(fetched);
  EXPECT_EQ(ReadWholeFile(Installed("NewUpdate.exe")), "plain updater");
  EXPECT_EQ(Loopback().AreaRequestsFor("Update.exe"), 0);
}

TEST_F(CabinetFetchTest, CancelAfterTheCabinetArrivedDeletesIt) {
  const std::string cabinet = Cabinet("one_stored.cab");
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(cabinet.size()) + "\r\nConnection: close\r\n\r\n";
  Loopback().Area().ServePath("/pub/Update.exe", HttpReply::Chunks({head + cabinet.substr(0, 20), cabinet.substr(20)},
                                                                 1500));
  Loopback().ServeArea("Update.exe_uncompressed", "plain updater");
  FileFetcher& fetcher = Fetcher();
  std::thread canceller([this] {
    for (int i = 0; i < 1000 && Loopback().AreaRequestsFor("Update.exe") == 0; ++i) Sleep(10);
    SetCancelRequested(true);
  });
  EXPECT_FALSE(fetcher.GetCompressedFile("Update.exe", Installed("NewUpdate.exe").c_str()));
  canceller.join();
  EXPECT_EQ(Loopback().AreaRequestsFor("Update.exe_uncompressed"), 0);
  EXPECT_EQ(FileCount(), 0);
}

// The reader's word is not enough: an entry counts only at the size the
// cabinet declares, as a reader on a full disk may report a cut file done.
TEST(CabinetUnpackingCheck, AnEntryOfAnotherSizeThanDeclaredIsNotWhole) {
  ScratchFolder folder;
  CabinetUnpacking unpacking(folder.Path().c_str(), nullptr);
  FILE_IN_CABINET_INFO_A info = {};
  info.NameInCabinet = "NewUpdate.exe";
  info.FileSize = 30;
  ASSERT_EQ(UINT(FILEOP_DOIT), FileFetcher::CabinetCallback(&unpacking, SPFILENOTIFY_FILEINCABINET, UINT_PTR(&info), 0));
  FILEPATHS_A paths = {info.FullTargetName, "cabinet", NO_ERROR, 0};
  ClearDiskFull();
  for (size_t size : {20u, 31u, 0u, 30u}) {
    ASSERT_TRUE(WriteWholeFile(info.FullTargetName, std::string(size, 'u')));
    FileFetcher::CabinetCallback(&unpacking, SPFILENOTIFY_FILEEXTRACTED, UINT_PTR(&paths), 0);
    EXPECT_EQ(size == 30, unpacking.AllWhole() && !unpacking.Failed()) << size;
  }
  // The disk had room for the rest: a fault of the cabinet, not of the disk.
  EXPECT_FALSE(DiskFullNoted());
}

}  // namespace
