#include "transport/url_download_method.h"

#include <windows.h>
#include <wininet.h>

#include <string.h>

#include <new>

#include "base/cancel_flag.h"
#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "base/text.h"
#include "transport/abandonable_call.h"
#include "transport/host_connection.h"
#include "transport/http_response.h"
#include "transport/url_download_callback.h"

namespace {

TransportLibrary g_library;

typedef HRESULT(WINAPI* URLDownloadToFileFn)(void*, const char*, const char*, DWORD, IBindStatusCallback*);

const char kUnit[] = "URLDownLoadMethod";
// How long the download may go without a byte: while the
// connection test runs, and afterwards (the socket transport's limits).
const DWORD kTestLimitMs = 20000;
const DWORD kTransferLimitMs = 40000;

// One download on its own thread: the platform's call blocks until the
// server ends it, however long that is, so the caller only waits for it.
class DownloadJob final : public AbandonableCall {
 public:
  // The entry is taken now: the thread may outlive the transport, whose
  // release clears the library's entry table.
  DownloadJob(UrlDownloadCallback* c, TransferProgress* sink)
      : download(reinterpret_cast<URLDownloadToFileFn>(reinterpret_cast<void*>(g_library.entries[0]))),
        callback(c),
        progress(sink),
        result(E_FAIL),
        reported(0) {
    file[0] = '\0';
  }
  // The wait counts from the last bytes; the counts pass to the sink on the
  // caller's thread, never the download's.
  DWORD Since(DWORD) override {
    ULONGLONG counts = callback->Counts();
    if (progress && counts != reported) progress->Report(counts & 0xFFFFFFFFu, counts >> 32);
    reported = counts;
    return callback->LastBytes();
  }

  const URLDownloadToFileFn download;
  UrlDownloadCallback* const callback;
  TransferProgress* const progress;
  HRESULT result;
  ULONGLONG reported;
  char url[kUrlBufferSize];
  char file[MAX_PATH];  // the attempt's own file, beside the output file

 private:
  ~DownloadJob() override { callback->Release(); }
  void Work() override {
    // The URL download is a COM service: an apartment of the thread's own.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (!Left()) result = download(nullptr, url, file, 0, static_cast<IBindStatusCallback*>(callback));
    if (SUCCEEDED(com)) CoUninitialize();
  }
  // The next notification stops the download.
  void Leaving() override { callback->Leave(); }
  // What the download wrote after its caller left is the thread's to delete.
  void EndedAlone() override { DeleteFileA(file); }
};

// A name of the attempt's own in the output file's folder (the platform
// makes it, empty, so no other attempt can take it); false when none can be had.
bool MakeAttemptFile(const char* local_file, char* name) {
  char folder[MAX_PATH];
  const char* slash = strrchr(local_file, '\\');
  const char* other = strrchr(local_file, '/');
  if (other > slash) slash = other;
  size_t length = slash ? static_cast<size_t>(slash - local_file) : 0;
  // GetTempFileNameA takes a folder of at most MAX_PATH - 14 characters.
  if (length + 14 >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (length == 0 && slash) length = 1;  // the root of the current drive
  if (length)
    memcpy(folder, local_file, length);
  else
    folder[length++] = '.';
  folder[length] = '\0';
  return GetTempFileNameA(folder, "dl", 0, name) != 0;
}

// Whether the finished download is the file: a whole 200 answer, its
// length compared; a failure prints its line.
bool JudgeDownload(DownloadJob& job) {
  UrlDownloadCallback& callback = *job.callback;
  if (job.result < 0) {
    SetLastError(static_cast<DWORD>(job.result));
    LogTransportStep("URLDownloadToFile", kUnit, 43);
    return false;
  }
  // The platform stores an error page and reports success: the status
  // decides. No status at all is no HTTP answer to trust.
  DWORD status = callback.Status();
  if (!IsWholeFileStatus(static_cast<int>(status))) {
    LogPrint("Http Status %d\n", static_cast<int>(status));
    return false;
  }
  // The length is always compared: a head that could not be read fails.
  if (!callback.HeadRead()) {
    SetLastError(ERROR_INVALID_DATA);
    LogTransportStep("Response head", kUnit, 44);
    return false;
  }
  if (callback.HasLength() && FileSizeOf(job.file) != callback.ContentLength()) {
    LogPrint("Content-Length %u, received %u,%s\n", static_cast<unsigned>(callback.ContentLength()),
             static_cast<unsigned>(FileSizeOf(job.file)), kUnit);
    return false;
  }
  return true;
}

}  // namespace

TransportLibrary& UrlMonikerLibrary() { return NameEntries(g_library, "URLDownloadToFileA", 1); }

CURLDownLoadMethod::CURLDownLoadMethod(HostConnection& connection) : DownloadMethod("URLDownLoad"), host_(connection) {
  AddTransportObject(g_library);
}

CURLDownLoadMethod::~CURLDownLoadMethod() {
  if (RemoveTransportObject(g_library)) ReleaseTransportLibrary(g_library);
}

bool CURLDownLoadMethod::GetFile(const char* path, const char* local_file) {
  // The platform's service follows a redirect by itself and tells of it only
  // once the next request is on its way: one from https to http would send
  // it in the clear. An https URL is left to WinInet.
  if (host_.IsSecure()) {
    LogPrint("URL download refuses %s://%s,%s\n", host_.scheme.Text(), host_.host.Text(), kUnit);
    host_.failure = HostConnection::kNotAttempted;
    return false;
  }
  if (!IsTransportLibraryLoaded(g_library) && !LoadTransportLibrary(UrlMonikerLibrary(), "URLMON.DLL")) {
    LogTransportStep("IsOK", kUnit, 41);
    return false;
  }
  const char* url = host_.ComposeUrl(path);
  if (!url) {
    // Over-long: refused rather than fetched from a cut URL.
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    LogTransportStep("URLDownloadToFile", kUnit, 43);
    return false;
  }
  UrlDownloadCallback* callback = new (std::nothrow) UrlDownloadCallback();
  DownloadJob* job = callback ? new (std::nothrow) DownloadJob(callback, host_.progress) : nullptr;
  if (!job) {
    if (callback) callback->Release();
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    LogTransportStep("URLDownloadToFile", kUnit, 43);
    return false;
  }
  CopyText(job->url, sizeof job->url, url);  // fits: ComposeUrl keeps to this size
  // The thread may outlive this transport and its library handle.
  if (!MakeAttemptFile(local_file, job->file) || !job->Start(g_library.entries[0])) {
    LogTransportStep("URLDownloadToFile", kUnit, 43);
    if (job->file[0]) DeleteFileA(job->file);
    job->Release();
    return false;
  }
  bool ended = job->Run(host_.connected ? kTransferLimitMs : kTestLimitMs);
  job->Since(0);
  if (!ended) LogTransportStep(GetLastError() == ERROR_CANCELLED ? "Cancelled" : "Time-out", kUnit, 45);
  bool stored = ended && JudgeDownload(*job);
  if (stored && !MoveFileExA(job->file, local_file, MOVEFILE_REPLACE_EXISTING)) {
    LogTransportStep("MoveFile", kUnit, 47);
    stored = false;
  }
  if (ended && !stored) DeleteFileA(job->file);
  if (!stored) DeleteFileA(local_file);
  job->Release();
  return stored;
}
