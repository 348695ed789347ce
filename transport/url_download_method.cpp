#include "transport/url_download_method.h"

#include <windows.h>

#include "transport/host_connection.h"

namespace {

const char* const kEntryNames[] = {"URLDownloadToFileA"};
TransportLibrary g_library = {kEntryNames, 1, nullptr, {}, 0};

typedef HRESULT(WINAPI* URLDownloadToFileFn)(void*, const char*, const char*, DWORD, void*);

const char kUnit[] = "URLDownLoadMethod";

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
  if (download(nullptr, url, local_file, 0, nullptr) < 0) {
    LogTransportStep("URLDownloadToFile", kUnit, 43);
    return false;
  }
  return true;
}
