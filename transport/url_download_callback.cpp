#include "transport/url_download_callback.h"

#include <wininet.h>

#include "base/cancel_flag.h"
#include "transport/http_response.h"

UrlDownloadCallback::UrlDownloadCallback(bool secure)
    : references_(1),
      left_(0),
      last_bytes_(static_cast<LONG>(GetTickCount())),
      counts_(0),
      secure_(secure),
      status_(0),
      head_read_(false),
      has_length_(false),
      content_length_(0),
      binding_(nullptr),
      left_tls_(false),
      final_url_secure_(false) {}

ULONGLONG UrlDownloadCallback::Counts() {
  return static_cast<ULONGLONG>(InterlockedCompareExchange64(&counts_, 0, 0));
}

void UrlDownloadCallback::NoteBytes() { InterlockedExchange(&last_bytes_, static_cast<LONG>(GetTickCount())); }

bool UrlDownloadCallback::KeepGoing() {
  return !IsCancelRequested() && !left_;
}

// True when text, narrow or wide (size bytes, as a URL option of the
// platform may come either way), begins with "https://" in any letter case.
static bool IsHttpsUrlText(const void* text, unsigned long size) {
  static const char kPrefix[] = "https://";
  const unsigned char* bytes = static_cast<const unsigned char*>(text);
  // A wide text has a zero high byte after each ASCII letter.
  bool wide = size >= 2 && bytes[0] && !bytes[1];
  unsigned long step = wide ? 2 : 1;
  for (unsigned long i = 0; kPrefix[i]; ++i) {
    if (i * step >= size) return false;
    unsigned char c = bytes[i * step];
    if (wide && bytes[i * step + 1]) return false;
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (c != static_cast<unsigned char>(kPrefix[i])) return false;
  }
  return true;
}

bool UrlDownloadCallback::CheckBindingUrl() {
  IWinInetHttpInfo* info = nullptr;
  if (!binding_ || FAILED(binding_->QueryInterface(__uuidof(IWinInetHttpInfo), reinterpret_cast<void**>(&info))) || !info)
    return true;
  // Room for the longest URL this program composes, wide.
  WCHAR url[2 * 260];
  DWORD size = sizeof url - sizeof(WCHAR);
  bool read = info->QueryOption(INTERNET_OPTION_URL, url, &size) == S_OK && size < sizeof url;
  info->Release();
  // A URL that cannot be read now decides nothing; the caller wants one
  // read since the last redirect, else the download is not known secure.
  if (!read) return true;
  final_url_secure_ = IsHttpsUrlText(url, size);
  if (!final_url_secure_) left_tls_ = true;
  return final_url_secure_;
}

void UrlDownloadCallback::ReleaseBinding() {
  if (binding_) binding_->Release();
  binding_ = nullptr;
}

HRESULT STDMETHODCALLTYPE UrlDownloadCallback::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IBindStatusCallback))) {
    *object = static_cast<IBindStatusCallback*>(this);
  } else if (IsEqualIID(iid, __uuidof(IHttpNegotiate))) {
    *object = static_cast<IHttpNegotiate*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE UrlDownloadCallback::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG STDMETHODCALLTYPE UrlDownloadCallback::Release() {
  LONG left = InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE UrlDownloadCallback::OnStartBinding(DWORD, IBinding* binding) {
  // Kept for the final URL of a download over TLS.
  if (secure_ && binding) {
    ReleaseBinding();
    binding_ = binding;
    binding_->AddRef();
  }
  return S_OK;
}
HRESULT STDMETHODCALLTYPE UrlDownloadCallback::GetPriority(LONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE UrlDownloadCallback::OnLowResource(DWORD) { return S_OK; }
HRESULT STDMETHODCALLTYPE UrlDownloadCallback::OnProgress(ULONG progress, ULONG progress_max, ULONG status_code,
                                                          LPCWSTR status_text) {
  // Answering E_ABORT ends the download; its thread deletes what it left.
  if (!KeepGoing()) return E_ABORT;
  if (secure_) {
    // A redirect names its target; one that leaves TLS ends the download
    // before it is followed. The first data and the end are checked against
    // the binding's present URL.
    if (status_code == BINDSTATUS_REDIRECTING) {
      // The new URL is to be confirmed again once it answers.
      final_url_secure_ = false;
      // Only the scheme is compared: the first eight characters are enough.
      unsigned long n = 0;
      while (status_text && n < 8 && status_text[n]) ++n;
      if (!IsHttpsUrlText(status_text, n * sizeof(WCHAR))) {
        left_tls_ = true;
        return E_ABORT;
      }
    }
    if ((status_code == BINDSTATUS_BEGINDOWNLOADDATA || status_code == BINDSTATUS_ENDDOWNLOADDATA) &&
        !CheckBindingUrl())
      return E_ABORT;
  }
  // Only the data notifications count bytes; the others carry other numbers.
  // Only bytes count as life: the platform repeats other notifications
  // (a retried request, say) while the server sends nothing.
  if (status_code >= BINDSTATUS_BEGINDOWNLOADDATA && status_code <= BINDSTATUS_ENDDOWNLOADDATA) {
    LONGLONG counts = static_cast<LONGLONG>((static_cast<ULONGLONG>(progress_max) << 32) | progress);
    if (InterlockedExchange64(&counts_, counts) != counts) NoteBytes();
  }
  return S_OK;
}
HRESULT STDMETHODCALLTYPE UrlDownloadCallback::OnStopBinding(HRESULT, LPCWSTR) {
  ReleaseBinding();
  return S_OK;
}
// The platform's defaults stand.
HRESULT STDMETHODCALLTYPE UrlDownloadCallback::GetBindInfo(DWORD*, BINDINFO*) { return S_OK; }
HRESULT STDMETHODCALLTYPE UrlDownloadCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) { return S_OK; }
HRESULT STDMETHODCALLTYPE UrlDownloadCallback::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }

HRESULT STDMETHODCALLTYPE UrlDownloadCallback::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                                    LPWSTR* additional_headers) {
  if (additional_headers) *additional_headers = nullptr;
  return KeepGoing() ? S_OK : E_ABORT;
}

HRESULT STDMETHODCALLTYPE UrlDownloadCallback::OnResponse(DWORD code, LPCWSTR response_headers, LPCWSTR,
                                                          LPWSTR* additional_request_headers) {
  if (additional_request_headers) *additional_request_headers = nullptr;
  // A redirect's answer comes before the final one: the last one counts.
  status_ = code;
  head_read_ = false;
  if (secure_) CheckBindingUrl();
  has_length_ = false;
  // The head as the server sent it, in narrow text for the parser; a
  // character beyond ASCII cannot be part of a length and becomes '?'.
  // A head longer than the parser takes stays unread, and the download
  // fails: its length could not be compared.
  char head[kHttpHeadLimit];
  size_t size = 0;
  for (const WCHAR* p = response_headers; p && *p && size < sizeof head; ++p)
    head[size++] = *p < 0x80 ? static_cast<char>(*p) : '?';
  HttpResponseHead parsed;
  if (ParseHttpResponseHead(head, size, &parsed) == kHttpHeadComplete) {
    head_read_ = true;
    has_length_ = parsed.has_length;
    content_length_ = parsed.content_length;
  }
  NoteBytes();
  return KeepGoing() ? S_OK : E_ABORT;
}
