// The maker's tool on Windows: structured storage for the package and the
// very check Setup.exe makes before it starts an updater.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <stdio.h>
#include <string.h>

#include "install/publisher_check.h"
#include "package/embedded_package.h"
#include "tools/maker/maker_platform.h"

namespace {

std::wstring Wide(const std::string& text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], n);
  out.resize(n - 1);
  return out;
}

class Releaser {
 public:
  explicit Releaser(IUnknown* object) : object_(object) {}
  ~Releaser() {
    if (object_) object_->Release();
  }

 private:
  IUnknown* object_;
};

bool ReadScratch(const std::string& path, std::string* bytes) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char chunk[1 << 16];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes->append(chunk, n);
  bool ok = !ferror(file);
  fclose(file);
  return ok;
}

bool WriteCompoundFile(const std::string& scratch, const std::string& folder, const std::vector<PackageStream>& streams,
                       std::string* error) {
  const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
  IStorage* root = nullptr;
  if (FAILED(StgCreateDocfile(Wide(scratch).c_str(), mode, 0, &root))) {
    *error = "cannot create the compound file \"" + scratch + "\"";
    return false;
  }
  Releaser rootRelease(root);
  IStorage* child = nullptr;
  if (FAILED(root->CreateStorage(Wide(folder).c_str(), mode, 0, 0, &child))) {
    *error = "cannot create folder \"" + folder + "\" in the package";
    return false;
  }
  Releaser childRelease(child);
  for (const PackageStream& source : streams) {
    IStream* stream = nullptr;
    HRESULT hr = child->CreateStream(Wide(source.name).c_str(), mode, 0, 0, &stream);
    if (FAILED(hr)) {
      *error = "cannot create stream \"" + source.name + "\" in the package";
      return false;
    }
    Releaser streamRelease(stream);
    size_t done = 0;
    while (SUCCEEDED(hr) && done < source.bytes.size()) {
      ULONG chunk = source.bytes.size() - done > (1u << 24) ? (1u << 24) : static_cast<ULONG>(source.bytes.size() - done);
      ULONG n = 0;
      hr = stream->Write(source.bytes.data() + done, chunk, &n);
      if (SUCCEEDED(hr) && n != chunk) hr = E_FAIL;
      done += n;
    }
    if (FAILED(hr)) {
      *error = "cannot write stream \"" + source.name + "\" into the package";
      return false;
    }
  }
  if (FAILED(child->Commit(STGC_DEFAULT)) || FAILED(root->Commit(STGC_DEFAULT))) {
    *error = "cannot complete the package";
    return false;
  }
  return true;
}

}  // namespace

bool BuildCompoundFile(const std::string& folder, const std::vector<PackageStream>& streams, std::string* bytes,
                       std::string* error) {
  // The writer needs a file: a scratch one in the temporary folder.
  char folderPath[MAX_PATH], scratch[MAX_PATH];
  DWORD n = GetTempPathA(sizeof folderPath, folderPath);
  if (n == 0 || n >= sizeof folderPath || !GetTempFileNameA(folderPath, "mkr", 0, scratch)) {
    *error = "cannot make a scratch file for the package";
    return false;
  }
  bool ok = WriteCompoundFile(scratch, folder, streams, error);
  if (ok && !ReadScratch(scratch, bytes)) {
    *error = "cannot read the package back from \"" + std::string(scratch) + "\"";
    ok = false;
  }
  DeleteFileA(scratch);
  return ok;
}

void ShowPackage(const std::string& path, const std::string&, uint32_t, uint32_t) {
  // Read as Setup.exe reads it.
  PackageByteSource source(path.c_str());
  IStorage* root = nullptr;
  HRESULT hr = StgOpenStorageOnILockBytes(&source, nullptr, STGM_SHARE_EXCLUSIVE, nullptr, 0, &root);
  if (FAILED(hr) || !root) {
    printf("    not a valid compound file (0x%08lx): Setup ignores it\n", static_cast<unsigned long>(hr));
    return;
  }
  Releaser rootRelease(root);
  IEnumSTATSTG* folders = nullptr;
  if (FAILED(root->EnumElements(0, nullptr, 0, &folders))) return;
  Releaser foldersRelease(folders);
  STATSTG item;
  while (folders->Next(1, &item, nullptr) == S_OK) {
    char name[256] = "";
    WideCharToMultiByte(CP_ACP, 0, item.pwcsName, -1, name, sizeof name - 1, nullptr, nullptr);
    if (item.type == STGTY_STREAM) {
      printf("    %s  %llu bytes (outside any folder: never used)\n", name,
             static_cast<unsigned long long>(item.cbSize.QuadPart));
    } else if (item.type == STGTY_STORAGE) {
      printf("    folder %s\n", name);
      IStorage* child = nullptr;
      IEnumSTATSTG* streams = nullptr;
      if (SUCCEEDED(root->OpenStorage(item.pwcsName, nullptr, STGM_SHARE_EXCLUSIVE, nullptr, 0, &child))) {
        Releaser childRelease(child);
        if (SUCCEEDED(child->EnumElements(0, nullptr, 0, &streams))) {
          Releaser streamsRelease(streams);
          STATSTG entry;
          while (streams->Next(1, &entry, nullptr) == S_OK) {
            char entryName[256] = "";
            WideCharToMultiByte(CP_ACP, 0, entry.pwcsName, -1, entryName, sizeof entryName - 1, nullptr, nullptr);
            const char* kind = "";
            IStream* stream = nullptr;
            if (entry.type == STGTY_STREAM &&
                SUCCEEDED(child->OpenStream(entry.pwcsName, nullptr, STGM_SHARE_EXCLUSIVE, 0, &stream))) {
              char head[4] = {};
              ULONG n = 0;
              stream->Read(head, sizeof head, &n);
              if (n == 4 && memcmp(head, "MSCF", 4) == 0) kind = " (cabinet)";
              if (n >= 2 && memcmp(head, "MZ", 2) == 0) kind = " (program)";
              stream->Release();
            }
            printf("      %s  %llu bytes%s\n", entryName, static_cast<unsigned long long>(entry.cbSize.QuadPart),
                   kind);
            CoTaskMemFree(entry.pwcsName);
          }
        }
      }
    }
    CoTaskMemFree(item.pwcsName);
  }
}

size_t ElementNameLength(const std::string& name) { return Wide(name).size(); }

bool SameElementName(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

bool SamePath(const std::string& a, const std::string& b) {
  char fa[MAX_PATH], fb[MAX_PATH];
  DWORD na = GetFullPathNameA(a.c_str(), sizeof fa, fa, nullptr);
  DWORD nb = GetFullPathNameA(b.c_str(), sizeof fb, fb, nullptr);
  if (na == 0 || na >= sizeof fa || nb == 0 || nb >= sizeof fb) return a == b;
  return lstrcmpiA(fa, fb) == 0;
}

bool FileDosTime(const std::string& path, uint16_t* date, uint16_t* time) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  FILETIME local;
  WORD d = 0, t = 0;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info) ||
      !FileTimeToLocalFileTime(&info.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &d, &t))
    return false;
  *date = d;
  *time = t;
  return true;
}

bool ReplaceFileWith(const std::string& from, const std::string& to, std::string* error) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  *error = "cannot write \"" + to + "\" (error " + std::to_string(GetLastError()) + ")";
  DeleteFileA(from.c_str());
  return false;
}

void UseBinaryStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

bool TakeRootFiles(const std::vector<std::string>& files, std::string* error) {
  if (files.empty()) return true;
  *error = "--ca: this build checks against the machine's trusted roots, as Setup.exe does; add the authority there";
  return false;
}

bool InspectSigner(const std::string& path, const std::string&, SignerReport* report, std::string*,
                   std::string* error) {
  // Opened as Setup.exe opens a program before its start.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot open \"" + path + "\" (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  bool ok = InspectSignature(file, path.c_str(), report);
  CloseHandle(file);
  if (!ok) *error = "the system's trust library is missing";
  return ok;
}

const SignerPolicy& BuiltPolicy() { return UpdaterPolicy(); }

std::string Utf16Text(const uint16_t* units, size_t count) {
  // Each unit takes at most three bytes.
  std::string text(3 * count, '\0');
  int n = count ? WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const WCHAR*>(units), static_cast<int>(count),
                                      &text[0], static_cast<int>(text.size()), nullptr, nullptr)
                : 0;
  text.resize(n > 0 ? n : 0);
  return text;
}
