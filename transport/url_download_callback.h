#pragma once
#include <windows.h>
#include <urlmon.h>

class HostConnection;

// What one URL download tells its caller: the platform hands it the HTTP
// status and head of the answer (IHttpNegotiate::OnResponse), which the
// download call's own result does not carry (an error page is stored and
// reported as success). It passes the byte counts on to the connection's
// progress sink and stops the download once Cancel is asked. One object per
// download, made with a reference of the caller's, freed with the last
// Release; the connection it serves is at hand for the later notifications.
class UrlDownloadCallback final : public IBindStatusCallback, public IHttpNegotiate {
 public:
  explicit UrlDownloadCallback(HostConnection& connection);
  UrlDownloadCallback(const UrlDownloadCallback&) = delete;
  UrlDownloadCallback& operator=(const UrlDownloadCallback&) = delete;

  // The answer's status; 0 while none arrived.
  DWORD Status() const { return status_; }
  // The answer's Content-Length, when its head carried a sound one.
  bool HasLength() const { return has_length_; }
  unsigned long long ContentLength() const { return content_length_; }
  // Over TLS: a redirect or the final URL left https (the download was
  // stopped), and whether the final URL was read and found https at all.
  bool LeftTls() const { return left_tls_; }
  bool FinalUrlSecure() const { return final_url_secure_; }

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
  ~UrlDownloadCallback() { ReleaseBinding(); }
  // Reads the binding's present URL; false (and left_tls_ set) when it was
  // read and is not https. Only asked of a download over TLS.
  bool CheckBindingUrl();
  void ReleaseBinding();

  volatile LONG references_;
  HostConnection& host_;
  DWORD status_;
  bool has_length_;
  unsigned long long content_length_;
  IBinding* binding_;
  bool left_tls_;
  bool final_url_secure_;
};
