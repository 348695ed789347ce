#include "site/file_fetcher.h"

#include <setupapi.h>
#include <string.h>

#include <new>

#include "base/cancel_flag.h"
#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "base/text.h"
#include "install/publisher_check.h"
#include "package/embedded_package.h"
#include "site/cabinet_names.h"
#include "site/file_text.h"
#include "site/product_query.h"
#include "transport/host_connection.h"

// Both relative to the current directory, which the install sequence has
// made the installation folder.
static const char kArrivalFile[] = "http_tmp1.tmp";
static const char kCabinetFile[] = "http_tmp2.tmp";
static const char kUncompressedSuffix[] = "_uncompressed";

typedef BOOL(WINAPI* IterateCabinetFunction)(PCSTR, DWORD, PSP_FILE_CALLBACK_A, PVOID);

CabinetUnpacking::~CabinetUnpacking() {
  while (written_) {
    Written* next = written_->next;
    delete written_;
    written_ = next;
  }
}

bool CabinetUnpacking::Remember(const char* path, DWORD size) {
  Written* entry = new (std::nothrow) Written;
  if (!entry) return false;
  entry->size = size;
  entry->path.Assign(path);
  if (!entry->path.IsPresent()) {
    delete entry;
    return false;
  }
  entry->next = written_;
  written_ = entry;
  return true;
}

bool CabinetUnpacking::AllWhole() const {
  for (const Written* entry = written_; entry; entry = entry->next) {
    DWORD size = FileSizeOf(entry->path.Text());
    if (size == entry->size) continue;
    LogPrint("Cabinet entry %s: %u of %u bytes\n", entry->path.Text(), static_cast<unsigned>(size),
             static_cast<unsigned>(entry->size));
    ULARGE_INTEGER free_bytes;
    DWORD missing = entry->size - size;
    if (size < entry->size && GetDiskFreeSpaceExA(folder_, &free_bytes, nullptr, nullptr) &&
        free_bytes.QuadPart < missing)
      NoteDiskFull(missing);
    return false;
  }
  return true;
}

void CabinetUnpacking::RemoveWritten() {
  for (Written* entry = written_; entry; entry = entry->next) {
    if (DeleteFileA(entry->path.Text())) LogPrint("Removed %s\n", entry->path.Text());
  }
}

static const char* QueryHost(ProductQuery* query) { return query ? query->Host() : ""; }
static const char* QueryPath(ProductQuery* query) { return query ? query->Path() : ""; }
static const char* QueryScheme(ProductQuery* query) { return query ? query->Scheme() : "http"; }
static unsigned short QueryPort(ProductQuery* query) { return query ? query->Port() : 0; }

FileFetcher::FileFetcher(HWND owner, ProductQuery* query, EmbeddedPackage* package)
    : HostClient(QueryHost(query), owner, QueryPath(query), QueryScheme(query), QueryPort(query)), folder_(nullptr) {
  if (package && query && package->IsOpen()) folder_ = package->OpenFolder(query->Name());
}

FileFetcher::~FileFetcher() { delete folder_; }

ByteString FileFetcher::GetCodes() {
  const char* codes = Connection() ? Connection()->GetCodes() : nullptr;
  return codes ? ByteString(codes) : ByteString();
}

static bool HasExpectedSize(const char* path, int expected_size) {
  if (expected_size == FileFetcher::kAnySize) return true;
  if (expected_size == FileFetcher::kNotHtml) {
    // Error pages come back as HTML; only the text before a zero byte counts.
    FileText text(path);
    // No memory to look at the text: not known to be safe, so refused.
    bool html = !text.IsPresent() || strchr(text.Text(), '<') != nullptr;
    if (html) LogPrint("GetFile: %s is an HTML page\n", path);
    return !html;
  }
  DWORD size = FileSizeOf(path);
  if (size != static_cast<DWORD>(expected_size)) {
    LogPrint("GetFile: %s has %u bytes, expected %u\n", path, static_cast<unsigned>(size),
             static_cast<unsigned>(expected_size));
    return false;
  }
  return true;
}

bool FileFetcher::GetFile(const char* name, const char* target, int expected_size, TransferProgress* progress) {
  if (IsCancelRequested()) return false;
  LogPrint("GetFile %s to %s (%d)\n", name, target, expected_size);

  // A package that holds the file spares the network, the connection test included.
  bool from_package = folder_ && folder_->ExtractFile(name, kArrivalFile, progress);
  // A cancelled extraction does not go on to the web.
  if (!from_package && (IsCancelRequested() || !Download(name, kArrivalFile, progress))) {
    DeleteFileA(kArrivalFile);
    return false;
  }
  // A file that failed its check is never left behind for a later run.
  if (!HasExpectedSize(kArrivalFile, expected_size) || IsCancelRequested()) {
    DeleteFileA(kArrivalFile);
    return false;
  }
  if (strcmp(target, kArrivalFile) != 0) {
    // The updater may be running from "Update.exe"; it takes "NewUpdate.exe" over itself.
    if (strcmp(target, "Update.exe") == 0) target = "NewUpdate.exe";
    LogPrint("before DeleteFile\n");
    DeleteFileA(target);
    LogPrint("After DeleteFile\n");
    if (!MoveFileExA(kArrivalFile, target, MOVEFILE_COPY_ALLOWED)) {
      LogWithError("MoveFile %s to %s failed", kArrivalFile, target);
      DeleteFileA(kArrivalFile);
      return false;
    }
    Sleep(100);
    LogPrint("After Sleep\n");
  }
  return !IsCancelRequested();
}

static const char* cabinet_reader_name = "setupapi.DLL";

void SetCabinetReaderForTesting(const char* library) { cabinet_reader_name = library ? library : "setupapi.DLL"; }

// Whether the arrived cabinet, open as file, is signed by the updater's
// publisher. Only such a cabinet may bring companion files: the updater
// starts elevated and loads libraries from its own folder.
static bool SignedByPublisher(HANDLE file) {
  if (UpdaterCheckIsOff()) return true;
  SignerReport report;
  TrustFailure failure = CheckPublisher(file, kCabinetFile, UpdaterPolicy(), &report);
  if (failure == kTrusted) return true;
  LogRefusal(kCabinetFile, failure, report);
  return false;
}

// Unpacks the arrived cabinet into folder, whole or only target's entry; it
// counts only when target is among what it wrote. On failure removes what it
// wrote.
static bool UnpackCabinet(IterateCabinetFunction iterate, const char* folder, const char* target) {
  // Open for readers only from the check to the end of the unpacking, so the
  // cabinet checked is the cabinet unpacked.
  HANDLE file = CreateFileA(kCabinetFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LogWithError("Open %s failed", kCabinetFile);
    return false;
  }
  CabinetUnpacking unpacking(folder, SignedByPublisher(file) ? nullptr : target);
  // An older file at target must not pass for one the cabinet brought.
  DeleteFileA(target);
  LogPrint("Before pSetupIterateCabinet '%s'\n", kCabinetFile);
  BOOL ok = iterate(kCabinetFile, 0, FileFetcher::CabinetCallback, &unpacking);
  LogPrint("After pSetupIterateCabinet\n");
  CloseHandle(file);
  bool whole = unpacking.AllWhole();
  if (ok && whole && !unpacking.Failed() && IsFilePath(target)) return true;
  if (ok && whole && !unpacking.Failed()) LogPrint("Cabinet holds no %s\n", target);
  // A cut cabinet can leave a partial file behind that a later run would
  // take for a pending updater.
  unpacking.RemoveWritten();
  return false;
}

bool FileFetcher::GetCompressedFile(const char* name, const char* target, TransferProgress* progress) {
  LogPrint("Before LoadLibrary(setupapi.DLL)\n");
  HMODULE setupapi = LoadSystemLibrary(cabinet_reader_name);
  IterateCabinetFunction iterate =
      setupapi ? reinterpret_cast<IterateCabinetFunction>(
                     reinterpret_cast<void*>(GetProcAddress(setupapi, "SetupIterateCabinetA")))
               : nullptr;
  if (iterate) {
    // The cabinet is kept under the plain file name.
    bool fetched = GetFile(name, kCabinetFile, kAnySize, progress);
    bool unpacked = false;
    if (fetched) {
      char folder[MAX_PATH];
      if (CabinetTargetFolder(target, folder, sizeof folder)) {
        unpacked = UnpackCabinet(iterate, folder, target);
      } else {
        LogPrint("Folder of %s over %d characters\n", target, MAX_PATH - 1);
      }
    }
    // Also when cancelled after the cabinet arrived: it is never left behind.
    DeleteFileA(kCabinetFile);
    // The plain copy is larger still: a full disk ends the fetch here.
    if (unpacked || DiskFullNoted()) {
      FreeLibrary(setupapi);
      return unpacked;
    }
  }
  char plain[MAX_PATH];
  bool result = false;
  if (FormatText(plain, sizeof plain, "%s%s", name, kUncompressedSuffix) >= 0) {
    // The transports store a server's error page as if it were the file; an
    // HTML page must never stand in for a program.
    result = GetFile(plain, target, kNotHtml, progress);
  } else {
    // Never fetch a cut name: it could name another file.
    LogPrint("%s%s over %d characters\n", name, kUncompressedSuffix, MAX_PATH - 1);
  }
  if (setupapi) FreeLibrary(setupapi);
  return result;
}

UINT CALLBACK FileFetcher::CabinetCallback(PVOID context, UINT notification, UINT_PTR first, UINT_PTR second) {
  (void)second;
  CabinetUnpacking* unpacking = static_cast<CabinetUnpacking*>(context);
  switch (notification) {
    case SPFILENOTIFY_CABINETINFO:
      return NO_ERROR;
    case SPFILENOTIFY_FILEINCABINET: {
      FILE_IN_CABINET_INFO_A* info = reinterpret_cast<FILE_IN_CABINET_INFO_A*>(first);
      const char* entry = info->NameInCabinet ? info->NameInCabinet : "";
      // An entry must land inside the folder; one that would leave it fails
      // the whole unpacking, so nothing of a hostile cabinet is kept.
      if (!IsContainedEntryName(entry)) {
        LogPrint("Cabinet entry '%s' leaves the folder\n", entry);
        unpacking->SetFailed();
        info->Win32Error = ERROR_INVALID_NAME;
        return FILEOP_ABORT;
      }
      if (unpacking->Only() && !IsTargetEntry(entry, unpacking->Only())) {
        LogPrint("Cabinet entry '%s' skipped: cabinet not signed by the publisher\n", entry);
        return FILEOP_SKIP;
      }
      if (!ComposeEntryTarget(info->FullTargetName, sizeof info->FullTargetName, unpacking->Folder(), entry)) {
        LogPrint("Cabinet entry '%s' over %d characters in %s\n", entry,
                 static_cast<int>(sizeof info->FullTargetName - 1), unpacking->Folder());
        unpacking->SetFailed();
        info->Win32Error = ERROR_FILENAME_EXCED_RANGE;
        return FILEOP_ABORT;
      }
      if (!unpacking->Remember(info->FullTargetName, info->FileSize)) {
        unpacking->SetFailed();
        info->Win32Error = ERROR_NOT_ENOUGH_MEMORY;
        return FILEOP_ABORT;
      }
      return FILEOP_DOIT;
    }
    case SPFILENOTIFY_NEEDNEWCABINET:
      // Cabinet sets spread over several files are not supported.
      return NO_ERROR;
    case SPFILENOTIFY_FILEEXTRACTED: {
      FILEPATHS_A* paths = reinterpret_cast<FILEPATHS_A*>(first);
      if (paths && paths->Win32Error != NO_ERROR) unpacking->SetFailed();
      return NO_ERROR;
    }
    default:
      return 1;
  }
}
