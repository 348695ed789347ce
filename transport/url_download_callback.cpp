#include "transport/url_download_callback.h"

#include "base/cancel_flag.h"
#include "transport/http_response.h"

UrlDownloadCallback::UrlDownloadCallback()
    : references_(1),
      left_(0),
      last_bytes_(static_cast<LONG>(GetTickCount())),
      counts_(0),
      status_(0),
      head_read_(false),
      has_length_(false),
      content_length_(0) {}

ULONGLONG UrlDownloadCallback::Counts() {
  return static_cast<ULONGLONG>(InterlockedCompareExchange64(&counts_, 0, 0));
}

void UrlDownloadCallback::NoteBytes() { InterlockedExchange(&last_bytes_, static_cast<LONG>(GetTickCount())); }

bool UrlDownloadCallback::KeepGoing() {
  return !IsCancelRequested() && !left_;
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

HRESULT STDMETHODCALLTYPE UrlDownloadCallback::OnStartBinding(DWORD, IBinding*) { return S_OK; }
HRESULT STDMETHODCALLTYPE UrlDownloadCallback::GetPriority(LONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE UrlDownloadCallback::OnLowResource(DWORD) { return S_OK; }
HRESULT STDMETHODCALLTYPE UrlDownloadCallback::OnProgress(ULONG progress, ULONG progress_max, ULONG status_code,
                                                          LPCWSTR status_text) {
  // Answering E_ABORT ends the download; its thread deletes what it left.
  if (!KeepGoing()) return E_ABORT;
  // Only the data notifications count bytes; the others carry other numbers.
  // Only bytes count as life: the platform repeats other notifications
  // (a retried request, say) while the server sends nothing.
  if (status_code >= BINDSTATUS_BEGINDOWNLOADDATA && status_code <= BINDSTATUS_ENDDOWNLOADDATA) {
    LONGLONG counts = static_cast<LONGLONG>((static_cast<ULONGLONG>(progress_max) << 32) | progress);
    if (InterlockedExchange64(&counts_, counts) != counts) NoteBytes();
  }
  return S_OK;
}
HRESULT STDMETHODCALLTYPE UrlDownloadCallback::OnStopBinding(HRESULT, LPCWSTR) { return S_OK; }
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
