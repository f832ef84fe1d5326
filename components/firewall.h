// The firewall adapter and its proxy in their least form. The adapter makes a proxy for any of
// the five edition codes; the proxy knows its edition but can reach no firewall: the editions are
// Windows firewall servers, which this platform has none of, so Connect fails and the array
// starts without a firewall link (it logs "Can not connect to Firewall server.").
#pragma once

#include "components/interfaces.h"
#include "platform/com/object.h"

namespace vodrik {

// IDispatch of the component objects: no type information and no late-bound members.
template <class I>
class NoDispatch : public com::Implements<I> {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_INVALIDARG;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
    if (out) *out = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
    if (ids)
      for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
};

class CVodrikFirewallProxy : public NoDispatch<IVodrikFirewallProxy> {
 public:
  explicit CVodrikFirewallProxy(LONG edition) : edition_(edition) {}

  HRESULT STDMETHODCALLTYPE Reserved1() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved2() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_UNEXPECTED; }
  // Always HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), with error information naming the edition.
  HRESULT STDMETHODCALLTYPE Connect(BSTR server, BSTR admin, BSTR domain, BSTR password, BSTR policy) override;

  LONG edition() const { return edition_; }

 private:
  LONG edition_;
};

class CVodrikFirewallAdapter : public NoDispatch<IVodrikFirewallAdapter> {
 public:
  // E_INVALIDARG for a code outside 0 .. 4, E_POINTER for a null `proxy`.
  HRESULT STDMETHODCALLTYPE CreateProxy(LONG edition, IVodrikFirewallProxy** proxy) override;
};

}  // namespace vodrik
