#include "platform/com/errorinfo.h"

#include "platform/com/bstr.h"
#include "platform/com/object.h"

namespace com {
namespace {

class CErrorInfo : public Implements<IErrorInfo, ICreateErrorInfo> {
 public:
  HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
    if (!guid) return E_INVALIDARG;
    *guid = guid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return CopyOut(source_, out); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return CopyOut(description_, out); }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return CopyOut(help_file_, out); }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* out) override {
    if (!out) return E_INVALIDARG;
    *out = help_context_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override {
    guid_ = guid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR s) override { return Assign(source_, s); }
  HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR s) override { return Assign(description_, s); }
  HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR s) override { return Assign(help_file_, s); }
  HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD c) override {
    help_context_ = c;
    return S_OK;
  }

 private:
  static HRESULT CopyOut(const Bstr& from, BSTR* out) {
    if (!out) return E_INVALIDARG;
    *out = from.Copy();
    return (*out || !from.get()) ? S_OK : E_OUTOFMEMORY;
  }
  static HRESULT Assign(Bstr& to, LPOLESTR s) {
    to = s ? Bstr(s) : Bstr();
    return (s && !to.get()) ? E_OUTOFMEMORY : S_OK;
  }

  GUID guid_ = GUID_NULL;
  Bstr source_, description_, help_file_;
  DWORD help_context_ = 0;
};

// The thread's current error object; released when the thread ends.
thread_local ComPtr<IErrorInfo> t_error;

}  // namespace

HRESULT ReportError(HRESULT hr, std::string_view source, std::string_view description, const IID& iid) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.put()))) return hr;
  create->SetGUID(iid);
  create->SetSource(const_cast<LPOLESTR>(Utf8ToUtf16(source).c_str()));
  create->SetDescription(const_cast<LPOLESTR>(Utf8ToUtf16(description).c_str()));
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.get());
  return hr;
}

void ClearError() { t_error = nullptr; }

}  // namespace com

COMAPI HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  *pperrinfo = nullptr;
  auto obj = com::CreateObject<com::CErrorInfo>();
  if (!obj) return obj.error();
  return (*obj)->QueryInterface(IID_ICreateErrorInfo, reinterpret_cast<void**>(pperrinfo));
}

COMAPI HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  com::t_error = com::ComPtr<IErrorInfo>(perrinfo);
  return S_OK;
}

COMAPI HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (dwReserved != 0 || !pperrinfo) return E_INVALIDARG;
  *pperrinfo = com::t_error.Detach();
  return *pperrinfo ? S_OK : S_FALSE;
}
