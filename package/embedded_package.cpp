#include "package/embedded_package.h"

#include <string.h>

#include <new>

#include "base/cancel_flag.h"
#include "base/diagnostic_log.h"
#include "package/appended_blocks.h"

static const wchar_t kUnnamed[] = L"Unnamed";
static const ULONG kCopyChunk = 64 * 1024;

PackageByteSource::PackageByteSource(const wchar_t* path) : file_(path, true, 0), start_(0), found_(false) {
  memset(&description_, 0, sizeof description_);
  description_.pwcsName = const_cast<wchar_t*>(kUnnamed);
  BY_HANDLE_FILE_INFORMATION info;
  if (file_.File() != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file_.File(), &info)) {
    description_.mtime = info.ftLastWriteTime;
    description_.ctime = info.ftCreationTime;
    description_.atime = info.ftLastAccessTime;
  }
  // An empty file has no view; it carries nothing either.
  if (!file_.View()) return;
  SetupBlocks blocks = FindSetupBlocks(static_cast<const unsigned char*>(file_.View()), file_.Size());
  if (blocks.hasPackage) {
    start_ = blocks.packageStart;
    description_.cbSize.QuadPart = blocks.packageLength;
    found_ = true;
  }
  // The signature does not cover it, so anyone could have put it there.
  if (blocks.packageIgnored) LogPrint("Package after the signature ignored\n");
  if (blocks.tableUnread) LogPrint("Signature of unknown length: its table ignored\n");
  LogPrint("Package found %d at %u size %u\n", found_ ? 1 : 0, start_, Size());
}

HRESULT STDMETHODCALLTYPE PackageByteSource::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(ILockBytes))) {
    *object = static_cast<ILockBytes*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// Lifetime belongs to the EmbeddedPackage, not to the reader's counts.
ULONG STDMETHODCALLTYPE PackageByteSource::AddRef() { return 0; }
ULONG STDMETHODCALLTYPE PackageByteSource::Release() { return 0; }

HRESULT STDMETHODCALLTYPE PackageByteSource::ReadAt(ULARGE_INTEGER offset, void* buffer, ULONG count, ULONG* read) {
  if (!found_) return E_NOTIMPL;
  // Reads stop at the end of the package: a shorter read, reported.
  DWORD size = Size();
  DWORD at = offset.LowPart;
  ULONG available = at < size ? size - at : 0;
  if (offset.HighPart != 0) available = 0;
  ULONG n = count < available ? count : available;
  if (n > 0) memcpy(buffer, static_cast<const unsigned char*>(file_.View()) + start_ + at, n);
  if (read) *read = n;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE PackageByteSource::WriteAt(ULARGE_INTEGER, const void*, ULONG, ULONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE PackageByteSource::Flush() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE PackageByteSource::SetSize(ULARGE_INTEGER) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE PackageByteSource::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE PackageByteSource::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE PackageByteSource::Stat(STATSTG* description, DWORD flags) {
  *description = description_;
  description->pwcsName = nullptr;
  if (flags & STATFLAG_NONAME) return S_OK;
  // The caller frees the name it asked for, so it gets its own copy.
  void* name = CoTaskMemAlloc(sizeof kUnnamed);
  if (!name) return STG_E_INSUFFICIENTMEMORY;
  memcpy(name, kUnnamed, sizeof kUnnamed);
  description->pwcsName = static_cast<wchar_t*>(name);
  return S_OK;
}

// A compound-file name has at most 31 characters; a name that does not fit
// the buffer cannot match anything and is refused rather than cut.
static bool WideName(const char* name, wchar_t* out, int cap) {
  int n = MultiByteToWideChar(CP_ACP, 0, name, -1, out, cap);
  return n > 0;
}

PackageFolder::~PackageFolder() {
  if (storage_) storage_->Release();
}

bool PackageFolder::ExtractFile(const char* stream, const char* destination, TransferProgress* progress) {
  wchar_t name[64];
  if (!stream || !WideName(stream, name, 64)) return false;
  IStream* source = nullptr;
  HRESULT hr = storage_->OpenStream(name, nullptr, STGM_SHARE_EXCLUSIVE, 0, &source);
  if (FAILED(hr) || !source) {
    if (source) source->Release();
    LogPrint("ExtractFile %s: no stream 0x%x\n", stream, static_cast<unsigned>(hr));
    return false;
  }
  STATSTG description;
  memset(&description, 0, sizeof description);
  if (FAILED(source->Stat(&description, STATFLAG_NONAME))) {
    source->Release();
    return false;
  }
  DWORD size = description.cbSize.LowPart;
  // Copied through a small buffer rather than into a mapping of the whole
  // destination: a writable view as large as the stream doubles the working
  // set and is several times slower to fill where page faults are costly.
  FileHandle target;
  target.CreateForWriting(destination);
  DWORD copied = 0;
  bool ok = target.IsOpen();
  unsigned char* buffer = nullptr;
  if (ok && size > 0) {
    buffer = new (std::nothrow) unsigned char[kCopyChunk];
    ok = buffer != nullptr;
  }
  bool cancelled = false;
  while (ok && copied < size) {
    // One chunk copies in far less than the quarter second a Cancel may wait.
    cancelled = IsCancelRequested();
    if (cancelled) break;
    ULONG wanted = size - copied < kCopyChunk ? size - copied : kCopyChunk;
    ULONG got = 0;
    HRESULT result = source->Read(buffer, wanted, &got);
    ok = SUCCEEDED(result) && got > 0 && got <= wanted && WriteAll(target.Handle(), buffer, got);
    copied += got;
    if (ok && progress) progress->Report(copied, size);
  }
  delete[] buffer;
  source->Release();
  LogPrint("ExtractFile %s %u of %u\n", stream, static_cast<unsigned>(copied), static_cast<unsigned>(size));
  if (cancelled) {
    target.Close();
    DeleteFileA(destination);
    return false;
  }
  return ok && copied == size;
}

EmbeddedPackage::EmbeddedPackage(const wchar_t* path) : root_(nullptr), source_(path) {
  if (!source_.Found()) return;
  IStorage* root = nullptr;
  HRESULT hr = StgOpenStorageOnILockBytes(&source_, nullptr, STGM_SHARE_EXCLUSIVE, nullptr, 0, &root);
  if (SUCCEEDED(hr) && root) {
    root_ = root;
  } else if (root) {
    root->Release();
  }
  LogPrint("Package open 0x%x\n", static_cast<unsigned>(hr));
}

EmbeddedPackage::~EmbeddedPackage() {
  if (root_) root_->Release();
}

PackageFolder* EmbeddedPackage::OpenFolder(const char* name) {
  if (!root_) return nullptr;
  wchar_t wide[64];
  const wchar_t* folderName = nullptr;
  // An absent name passes no name; the reader refuses it.
  if (name) {
    if (!WideName(name, wide, 64)) return nullptr;
    folderName = wide;
  }
  IStorage* child = nullptr;
  HRESULT hr = root_->OpenStorage(folderName, nullptr, STGM_SHARE_EXCLUSIVE, nullptr, 0, &child);
  if (FAILED(hr) || !child) {
    if (child) child->Release();
    return nullptr;
  }
  PackageFolder* folder = new (std::nothrow) PackageFolder(child);
  if (!folder) child->Release();
  return folder;
}
