#pragma once
#include <windows.h>
#include <urlmon.h>

// What one URL download tells its caller: the platform hands it the HTTP
// status and head of the answer (IHttpNegotiate::OnResponse), which the
// download call's own result does not carry (an error page is stored and
// reported as success). It notes the byte counts and the time bytes last
// arrived for the waiting caller, and stops the download once Cancel
// is asked or the caller has left it. It runs on the download's own thread
// and touches nothing of the caller's, so it may outlive the caller's wait.
// One object per download, made with a reference of the caller's, freed
// with the last Release.
class UrlDownloadCallback final : public IBindStatusCallback, public IHttpNegotiate {
 public:
  UrlDownloadCallback();
  UrlDownloadCallback(const UrlDownloadCallback&) = delete;
  UrlDownloadCallback& operator=(const UrlDownloadCallback&) = delete;

  // The answer's status; 0 while none arrived.
  DWORD Status() const { return status_; }
  // Whether the last answer's head was read whole and sound; only then is
  // its length known or known to be absent.
  bool HeadRead() const { return head_read_; }
  // The answer's Content-Length, when its head carried one.
  bool HasLength() const { return has_length_; }
  unsigned long long ContentLength() const { return content_length_; }
  // Any thread: the last data notification's counts (done in the low half,
  // the expected total in the high half), 0 before the first.
  ULONGLONG Counts();
  // Any thread: GetTickCount() when bytes last arrived (an answer's head or
  // more of its body), else when the download began.
  DWORD LastBytes() const { return static_cast<DWORD>(last_bytes_); }
  // Any thread: the caller has left; the next notification stops the download.
  void Leave() { InterlockedExchange(&left_, 1); }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IBindStatusCallback
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progress_max, ULONG status_code,
                                       LPCWSTR status_text) override;
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override;
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID iid, IUnknown* object) override;

  // IHttpNegotiate
  HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved,
                                                 LPWSTR* additional_headers) override;
  HRESULT STDMETHODCALLTYPE OnResponse(DWORD code, LPCWSTR response_headers, LPCWSTR request_headers,
                                       LPWSTR* additional_request_headers) override;

 private:
  ~UrlDownloadCallback() {}
  // False once the download is to stop.
  bool KeepGoing();
  void NoteBytes();

  volatile LONG references_;
  volatile LONG left_;
  volatile LONG last_bytes_;
  volatile LONGLONG counts_;
  DWORD status_;
  bool head_read_;
  bool has_length_;
  unsigned long long content_length_;
};
