#pragma once
#include <windows.h>
#include <objidl.h>

#include "base/file_utils.h"
#include "base/transfer_progress.h"

// The package's byte range [start, start + size) of the mapped executable,
// presented to the structured-storage reader. Not reference-counted: it lives
// exactly as long as its EmbeddedPackage, which outlives every storage on it.
class PackageByteSource : public ILockBytes {
 public:
  explicit PackageByteSource(const wchar_t* path);
  virtual ~PackageByteSource() {}
  PackageByteSource(const PackageByteSource&) = delete;
  PackageByteSource& operator=(const PackageByteSource&) = delete;

  bool Found() const { return found_; }
  DWORD Start() const { return start_; }
  DWORD Size() const { return description_.cbSize.LowPart; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE ReadAt(ULARGE_INTEGER offset, void* buffer, ULONG count, ULONG* read) override;
  HRESULT STDMETHODCALLTYPE WriteAt(ULARGE_INTEGER offset, const void* buffer, ULONG count,
                                    ULONG* written) override;
  HRESULT STDMETHODCALLTYPE Flush() override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override;
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* description, DWORD flags) override;

 private:
  MappedFile file_;
  STATSTG description_;
  DWORD start_;
  bool found_;
};

// One folder (child storage) of the package.
class PackageFolder {
 public:
  explicit PackageFolder(IStorage* storage) : storage_(storage) {}
  virtual ~PackageFolder();
  PackageFolder(const PackageFolder&) = delete;
  PackageFolder& operator=(const PackageFolder&) = delete;

  // Copies the whole stream into destination (created anew); true when every
  // byte arrived. A missing stream creates no file. progress, when given,
  // hears each chunk against the stream's size. Cancel stops the copy and
  // deletes the partial file.
  bool ExtractFile(const char* stream, const char* destination, TransferProgress* progress = nullptr);

 private:
  IStorage* storage_;
};

// The compound file appended to the executable at path, opened read-only.
class EmbeddedPackage {
 public:
  explicit EmbeddedPackage(const wchar_t* path);
  virtual ~EmbeddedPackage();
  EmbeddedPackage(const EmbeddedPackage&) = delete;
  EmbeddedPackage& operator=(const EmbeddedPackage&) = delete;

  bool IsOpen() const { return root_ != nullptr; }
  // The child storage of that name, or null. The caller owns the result.
  PackageFolder* OpenFolder(const char* name);

 private:
  IStorage* root_;
  PackageByteSource source_;
};
