#include "transport/url_download_method.h"

#include <windows.h>
#include <wininet.h>

#include <string.h>

#include <new>

#include "base/cancel_flag.h"
#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "base/text.h"
#include "transport/host_connection.h"
#include "transport/http_response.h"
#include "transport/url_download_callback.h"

namespace {

TransportLibrary g_library = {"URLDownloadToFileA", 1, nullptr, {}, 0};

typedef HRESULT(WINAPI* URLDownloadToFileFn)(void*, const char*, const char*, DWORD, IBindStatusCallback*);

const char kUnit[] = "URLDownLoadMethod";
// How long the download may go without a byte: while the
// connection test runs, and afterwards (the socket transport's limits).
const DWORD kTestLimitMs = 20000;
const DWORD kTransferLimitMs = 40000;
// How often the wait looks at the cancel flag and passes the counts on.
const DWORD kWaitSliceMs = 100;
// A download left on Cancel gets this long to end before its thread is
// left to finish alone.
const DWORD kEndGraceMs = 200;

enum { kRunning, kEnded, kLeft };

// One download on its own thread: the platform's call blocks until the
// server ends it, however long that is, so the caller only waits for it.
// The caller and the thread each hold it; the last to let go frees it.
struct DownloadJob {
  URLDownloadToFileFn download;
  UrlDownloadCallback* callback;
  HMODULE pin;  // keeps the library mapped while the thread is inside it
  HRESULT result;
  volatile LONG state;
  volatile LONG holders;
  char url[kUrlBufferSize];
  char file[MAX_PATH];  // the attempt's own file, beside the output file
};

void ReleaseJob(DownloadJob* job) {
  if (InterlockedDecrement(&job->holders) != 0) return;
  job->callback->Release();
  if (job->pin) FreeLibrary(job->pin);
  delete job;
}

DWORD WINAPI DownloadThread(void* argument) {
  DownloadJob* job = static_cast<DownloadJob*>(argument);
  // The URL download is a COM service: an apartment of the thread's own.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  job->result = job->download(nullptr, job->url, job->file, 0, static_cast<IBindStatusCallback*>(job->callback));
  if (SUCCEEDED(com)) CoUninitialize();
  // Left by its caller: what the download wrote is this thread's to delete.
  if (InterlockedExchange(&job->state, kEnded) == kLeft) DeleteFileA(job->file);
  ReleaseJob(job);
  return 0;
}

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

// The moniker names every certificate fault alike; a session it could not
// make (no common protocol, say) it reports as a plain download failure,
// which is not known to be a secure one.
HostConnection::Failure UrlDownloadFailure(HRESULT result, bool secure) {
  if (result == INET_E_INVALID_CERTIFICATE || result == INET_E_SECURITY_PROBLEM) return HostConnection::kSecureFailure;
  if (secure && result == INET_E_DOWNLOAD_FAILURE) return HostConnection::kNotAttempted;
  return HostConnection::kOtherFailure;
}

// Whether the finished download is the file: over TLS an answer from an
// https URL to its end, a whole 200 answer, its length compared; a failure
// prints its line and tells the connection its kind.
bool JudgeDownload(DownloadJob& job, HostConnection& host) {
  UrlDownloadCallback& callback = *job.callback;
  // A redirect that left TLS fails, and so does a stored answer whose final
  // URL was never read as https.
  if (host.IsSecure() && (callback.LeftTls() || (job.result >= 0 && !callback.FinalUrlSecure()))) {
    SetLastError(static_cast<DWORD>(job.result));
    LogTransportStep("Secure", kUnit, 46);
    host.failure = HostConnection::kSecureFailure;
    return false;
  }
  if (job.result < 0) {
    SetLastError(static_cast<DWORD>(job.result));
    LogTransportStep("URLDownloadToFile", kUnit, 43);
    host.failure = UrlDownloadFailure(job.result, host.IsSecure());
    return false;
  }
  // The platform stores an error page and reports success: the status
  // decides. No status at all is no HTTP answer to trust.
  DWORD status = callback.Status();
  if (!IsWholeFileStatus(static_cast<int>(status))) {
    LogPrint("Http Status %d\r\n", static_cast<int>(status));
    return false;
  }
  // The length is always compared: a head that could not be read fails.
  if (!callback.HeadRead()) {
    SetLastError(ERROR_INVALID_DATA);
    LogTransportStep("Response head", kUnit, 44);
    return false;
  }
  if (callback.HasLength() && FileSizeOf(job.file) != callback.ContentLength()) {
    LogPrint("Content-Length %u, received %u,%s\r\n", static_cast<unsigned>(callback.ContentLength()),
             static_cast<unsigned>(FileSizeOf(job.file)), kUnit);
    return false;
  }
  return true;
}

}  // namespace

TransportLibrary& UrlMonikerLibrary() { return g_library; }

CURLDownLoadMethod::CURLDownLoadMethod(HostConnection& connection) : DownloadMethod("URLDownLoad"), host_(connection) {
  AddTransportObject(g_library);
}

CURLDownLoadMethod::~CURLDownLoadMethod() {
  if (RemoveTransportObject(g_library)) ReleaseTransportLibrary(g_library);
}

bool CURLDownLoadMethod::GetFile(const char* path, const char* local_file) {
  if (!IsTransportLibraryLoaded(g_library) && !LoadTransportLibrary(g_library, "URLMON.DLL")) {
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
  DownloadJob* job = new (std::nothrow) DownloadJob();
  UrlDownloadCallback* callback = job ? new (std::nothrow) UrlDownloadCallback(host_.IsSecure()) : nullptr;
  if (!callback) {
    delete job;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    LogTransportStep("URLDownloadToFile", kUnit, 43);
    return false;
  }
  job->download = reinterpret_cast<URLDownloadToFileFn>(reinterpret_cast<void*>(g_library.entries[0]));
  job->callback = callback;
  job->state = kRunning;
  job->holders = 1;
  CopyText(job->url, sizeof job->url, url);  // fits: ComposeUrl keeps to this size
  if (!MakeAttemptFile(local_file, job->file)) {
    LogTransportStep("URLDownloadToFile", kUnit, 43);
    ReleaseJob(job);
    return false;
  }
  // The thread may outlive this transport and its library handle.
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(job->download), &job->pin);
  HANDLE thread = CreateThread(nullptr, 0, DownloadThread, job, 0, nullptr);
  if (!thread) {
    LogTransportStep("URLDownloadToFile", kUnit, 43);
    DeleteFileA(job->file);
    ReleaseJob(job);
    return false;
  }
  InterlockedIncrement(&job->holders);

  bool ended = WaitForDownload(thread, *callback);
  CloseHandle(thread);
  // Left running: the thread deletes its file when the platform lets go,
  // unless it has just ended, when that falls to us.
  if (!ended && InterlockedExchange(&job->state, kLeft) == kEnded) ended = true;
  bool stored = ended && JudgeDownload(*job, host_);
  if (stored && !MoveFileExA(job->file, local_file, MOVEFILE_REPLACE_EXISTING)) {
    LogTransportStep("MoveFile", kUnit, 47);
    stored = false;
  }
  if (ended && !stored) DeleteFileA(job->file);
  if (!stored) DeleteFileA(local_file);
  ReleaseJob(job);
  return stored;
}

bool CURLDownLoadMethod::WaitForDownload(HANDLE thread, UrlDownloadCallback& callback) {
  DWORD limit = host_.connected ? kTransferLimitMs : kTestLimitMs;
  TransferProgress* progress = host_.progress;
  ULONGLONG reported = 0;
  for (;;) {
    DWORD wait = WaitForSingleObject(thread, kWaitSliceMs);
    // The counts pass to the sink on this thread, never the download's.
    ULONGLONG counts = callback.Counts();
    if (progress && counts != reported) progress->Report(counts & 0xFFFFFFFFu, counts >> 32);
    reported = counts;
    if (wait == WAIT_OBJECT_0) return true;
    bool cancelled = IsCancelRequested();
    // A failed wait counts as a time-out: the download may still run.
    if (wait != WAIT_TIMEOUT || cancelled || GetTickCount() - callback.LastBytes() >= limit) {
      callback.Leave();
      if (WaitForSingleObject(thread, kEndGraceMs) == WAIT_OBJECT_0) return true;
      SetLastError(cancelled ? ERROR_CANCELLED : ERROR_INTERNET_TIMEOUT);
      LogTransportStep(cancelled ? "Cancelled" : "Time-out", kUnit, 45);
      return false;
    }
  }
}
