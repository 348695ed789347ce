#include "transport/url_download_method.h"

#include <windows.h>

#include <new>

#include "base/diagnostic_log.h"
#include "base/file_utils.h"
#include "transport/host_connection.h"
#include "transport/http_response.h"
#include "transport/url_download_callback.h"

namespace {

const char* const kEntryNames[] = {"URLDownloadToFileA"};
TransportLibrary g_library = {kEntryNames, 1, nullptr, {}, 0};

typedef HRESULT(WINAPI* URLDownloadToFileFn)(void*, const char*, const char*, DWORD, IBindStatusCallback*);

const char kUnit[] = "URLDownLoadMethod";

// The moniker names every certificate fault alike; a session it could not
// make (no common protocol, say) it reports as a plain download failure,
// which is not known to be a secure one.
HostConnection::Failure UrlDownloadFailure(HRESULT result, bool secure) {
  if (result == INET_E_INVALID_CERTIFICATE || result == INET_E_SECURITY_PROBLEM) return HostConnection::kSecureFailure;
  if (secure && result == INET_E_DOWNLOAD_FAILURE) return HostConnection::kNotAttempted;
  return HostConnection::kOtherFailure;
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
  URLDownloadToFileFn download = reinterpret_cast<URLDownloadToFileFn>(reinterpret_cast<void*>(g_library.entries[0]));
  UrlDownloadCallback* callback = new (std::nothrow) UrlDownloadCallback(host_);
  if (!callback) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    LogTransportStep("URLDownloadToFile", kUnit, 43);
    return false;
  }
  HRESULT result = download(nullptr, url, local_file, 0, static_cast<IBindStatusCallback*>(callback));
  DWORD status = callback->Status();
  bool has_length = callback->HasLength();
  unsigned long long length = callback->ContentLength();
  // Over TLS the answer must have come from an https URL to the end: a
  // redirect that left it fails, and so does a stored answer whose final
  // URL was never read as https.
  bool left_tls = host_.IsSecure() && (callback->LeftTls() || (result >= 0 && !callback->FinalUrlSecure()));
  callback->Release();
  if (left_tls) {
    SetLastError(static_cast<DWORD>(result));
    LogTransportStep("Secure", kUnit, 45);
    host_.failure = HostConnection::kSecureFailure;
    DeleteFileA(local_file);
    return false;
  }
  if (result < 0) {
    SetLastError(static_cast<DWORD>(result));
    LogTransportStep("URLDownloadToFile", kUnit, 43);
    host_.failure = UrlDownloadFailure(result, host_.IsSecure());
    DeleteFileA(local_file);
    return false;
  }
  // The platform stores an error page and reports success: the status
  // decides. No status at all is no HTTP answer to trust.
  if (!IsSuccessStatus(static_cast<int>(status))) {
    LogPrint("Http Status %d\r\n", static_cast<int>(status));
    DeleteFileA(local_file);
    return false;
  }
  if (has_length && FileSizeOf(local_file) != length) {
    LogPrint("Content-Length %u, received %u,%s\r\n", static_cast<unsigned>(length),
             static_cast<unsigned>(FileSizeOf(local_file)), kUnit);
    DeleteFileA(local_file);
    return false;
  }
  return true;
}
