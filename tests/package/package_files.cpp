#include "tests/package/package_files.h"

#include <objbase.h>

#include "tests/support/test_support.h"

namespace package_files {

static std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string MakeCompoundFile(const std::string& scratch_path, const std::string& folder, const Streams& streams) {
  std::wstring path = Wide(scratch_path);
  IStorage* root = nullptr;
  if (FAILED(StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &root)))
    return std::string();
  IStorage* target = root;
  if (!folder.empty()) {
    target = nullptr;
    root->CreateStorage(Wide(folder).c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &target);
  }
  bool ok = target != nullptr;
  for (const auto& entry : streams) {
    if (!ok) break;
    IStream* stream = nullptr;
    ok = SUCCEEDED(target->CreateStream(Wide(entry.first).c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                        0, 0, &stream));
    if (!ok) break;
    ULONG written = 0;
    if (!entry.second.empty())
      ok = SUCCEEDED(stream->Write(entry.second.data(), static_cast<ULONG>(entry.second.size()), &written)) &&
           written == entry.second.size();
    stream->Release();
  }
  if (target && target != root) {
    target->Commit(STGC_DEFAULT);
    target->Release();
  }
  root->Commit(STGC_DEFAULT);
  root->Release();
  std::string bytes = testing_support::ReadWholeFile(scratch_path);
  DeleteFileA(scratch_path.c_str());
  return ok ? bytes : std::string();
}

std::string OwnImage() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  return testing_support::ReadWholeFile(path);
}

}  // namespace package_files
