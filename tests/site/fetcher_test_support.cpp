#include "tests/site/fetcher_test_support.h"

#include <objbase.h>

#include "tests/support/test_support.h"

using testing_support::HttpTestServer;
using testing_support::TestAddress;

namespace fetcher_testing {

const char kTestPattern[] = "qestorvilanumedra";

std::string Cabinet(const std::string& name) {
  return testing_support::ReadWholeFile(testing_support::ProgramFolder() + "\\cabinets\\" + name);
}

static std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

static bool WriteCompoundFile(const std::string& path, const std::string& folder_name,
                              const std::map<std::string, std::string>& streams) {
  const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
  IStorage* root = nullptr;
  if (FAILED(StgCreateDocfile(Wide(path).c_str(), mode, 0, &root))) return false;
  IStorage* folder = nullptr;
  bool ok = SUCCEEDED(root->CreateStorage(Wide(folder_name).c_str(), mode, 0, 0, &folder));
  for (auto it = streams.begin(); ok && it != streams.end(); ++it) {
    IStream* stream = nullptr;
    ok = SUCCEEDED(folder->CreateStream(Wide(it->first).c_str(), mode, 0, 0, &stream));
    ULONG written = 0;
    if (ok) ok = SUCCEEDED(stream->Write(it->second.data(), static_cast<ULONG>(it->second.size()), &written)) &&
                 written == it->second.size();
    if (stream) stream->Release();
  }
  if (folder) {
    ok = ok && SUCCEEDED(folder->Commit(STGC_DEFAULT));
    folder->Release();
  }
  ok = ok && SUCCEEDED(root->Commit(STGC_DEFAULT));
  root->Release();
  return ok;
}

bool WritePackageExecutable(const std::string& path, const std::string& folder,
                            const std::map<std::string, std::string>& streams) {
  CoInitialize(nullptr);
  std::string compound_path = path + ".stg";
  bool ok = WriteCompoundFile(compound_path, folder, streams);
  std::string compound = testing_support::ReadWholeFile(compound_path);
  DeleteFileA(compound_path.c_str());
  if (!ok || compound.empty()) return false;
  std::string image =
      testing_support::ReadWholeFile(testing_support::ProgramFolder() + "\\..\\support\\test_updater.exe");
  if (image.empty()) return false;
  uint32_t start = static_cast<uint32_t>(image.size());
  std::string bytes = image + compound + "Bulk";
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((start >> (8 * i)) & 0xff));
  bytes += "Suffix";
  return testing_support::WriteWholeFile(path, bytes);
}

LoopbackSite::LoopbackSite(int a, int index) : site(a, 2 * index), area_(new HttpTestServer(a, 2 * index + 1)) {
  site.ServeFile("/secure/test_pattern.txt", kTestPattern);
  site.ServeFile("/secure/gateway_new.php", "http://" + area_->Address() + "/pub/,,");
}

void LoopbackSite::AreaUp() { area_->ServeFile("/pub/test_pattern.txt", kTestPattern); }

int LoopbackSite::AreaRequestsFor(const std::string& name) {
  int count = 0;
  if (!area_) return 0;
  for (const std::string& target : area_->Targets()) {
    if (target.substr(0, target.find('?')) == "/pub/" + name) ++count;
  }
  return count;
}

}  // namespace fetcher_testing
