#pragma once
#include <windows.h>

#include "base/byte_string.h"
#include "install/install_sequence.h"
#include "site/host_client.h"

// One run of the cabinet reader: where entries go, which one it may take
// (all, or only the target's), which files it was told to write (so that a
// failed run can remove them) and whether it failed.
class CabinetUnpacking {
 public:
  // only: the one entry's target path, or null for every entry.
  CabinetUnpacking(const char* folder, const char* only)
      : folder_(folder), only_(only), written_(nullptr), failed_(false) {}
  ~CabinetUnpacking();
  CabinetUnpacking(const CabinetUnpacking&) = delete;
  CabinetUnpacking& operator=(const CabinetUnpacking&) = delete;

  const char* Folder() const { return folder_; }
  const char* Only() const { return only_; }
  bool Failed() const { return failed_; }
  void SetFailed() { failed_ = true; }
  // Notes a file the reader is about to write and the size the cabinet
  // declares for it; false when memory ran out.
  bool Remember(const char* path, DWORD size);
  // Whether every remembered file has its declared size, whatever the
  // reader reported. One that came out short where the disk has no room
  // for the rest notes a full disk.
  bool AllWhole() const;
  // Deletes every remembered file.
  void RemoveWritten();

 private:
  struct Written {
    ByteString path;
    DWORD size;
    Written* next;
  };
  const char* folder_;
  const char* only_;
  Written* written_;
  bool failed_;
};

class EmbeddedPackage;
class PackageFolder;
class ProductQuery;

// Brings named files of the product into place: from the package folder
// named after the query when it holds them, else from the download area the
// gateway named, over a connection of its own.
class FileFetcher : public HostClient, public UpdaterFetcher {
 public:
  // Checks GetFile applies to the fetched file.
  enum { kAnySize = -2, kNotHtml = -1 };

  FileFetcher(HWND owner, ProductQuery* query, EmbeddedPackage* package);
  ~FileFetcher() override;

  // Fetches name into target. expected_size: the exact size the file must
  // have, kNotHtml (no "<" in its text) or kAnySize. A target of exactly
  // "Update.exe" lands as "NewUpdate.exe" (the running updater may hold
  // the old one). False when cancelled before, during or after. progress,
  // when given, hears how far the extraction or download has come.
  bool GetFile(const char* name, const char* target, int expected_size, TransferProgress* progress = nullptr);
  // Fetches the cabinet of name and unpacks it into target's folder: whole
  // when the updater's publisher signed it, else only the entry of target's
  // name. When that fails, fetches name + "_uncompressed" straight to
  // target, refused when it is an HTML page.
  bool GetCompressedFile(const char* name, const char* target, TransferProgress* progress = nullptr) override;
  // The connection's codes text, absent until a proxy asked for credentials.
  ByteString GetCodes() override;
  bool SecureConnectionFailed() const override { return HostClient::SecureConnectionFailed(); }

  // The cabinet reader's notification handler; context is a CabinetUnpacking.
  static UINT CALLBACK CabinetCallback(PVOID context, UINT notification, UINT_PTR first, UINT_PTR second);

 private:
  PackageFolder* folder_;
};

// Tests name another library in the system directory as the cabinet reader
// (one that is missing, say); null restores "setupapi.DLL".
void SetCabinetReaderForTesting(const char* library);
