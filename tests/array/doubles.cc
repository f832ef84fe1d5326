#include "tests/array/doubles.h"

#include "components/firewall.h"
#include "components/interfaces.h"
#include "platform/com/bstr.h"
#include "platform/com/module.h"
#include "platform/com/object.h"

namespace vodrik::testing {
namespace {

class DoubleControl : public NoDispatch<IVodrikControl> {
 public:
  HRESULT STDMETHODCALLTYPE Reserved1() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved2() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE SetArray(IUnknown* array) override {
    TheDoubleLog().arrays.push_back(array);
    return E_FAIL;  // the array ignores the result
  }
};

class DoubleProxy : public NoDispatch<IVodrikFirewallProxy> {
 public:
  HRESULT STDMETHODCALLTYPE Reserved1() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved2() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Connect(BSTR server, BSTR admin, BSTR domain, BSTR password, BSTR policy) override {
    TheDoubleLog().connects.push_back({com::BstrToUtf8(server), com::BstrToUtf8(admin), com::BstrToUtf8(domain),
                                       com::BstrToUtf8(password), com::BstrToUtf8(policy)});
    return TheDoubleLog().connect_result;
  }
};

class DoubleAdapter : public NoDispatch<IVodrikFirewallAdapter> {
 public:
  HRESULT STDMETHODCALLTYPE CreateProxy(LONG edition, IVodrikFirewallProxy** proxy) override {
    TheDoubleLog().editions.push_back(edition);
    *proxy = nullptr;
    if (TheDoubleLog().null_proxy) return S_OK;
    auto made = com::CreateObject<DoubleProxy>();
    if (!made) return made.error();
    *proxy = made->Detach();
    return S_OK;
  }
};

template <class T>
HRESULT MakeFactory(REFIID riid, void** ppv) {
  return com::MakeClassObject<com::ClassFactory<T>>(riid, ppv);
}

}  // namespace

DoubleLog& TheDoubleLog() {
  static DoubleLog log;
  return log;
}

}  // namespace vodrik::testing

namespace com {
Module& ThisModule() {
  static Module module;
  return module;
}
}  // namespace com

// Class objects are made afresh on every request: the doubles keep no state in them.
COMAPI HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid == vodrik::kControlClsid) return vodrik::testing::MakeFactory<vodrik::testing::DoubleControl>(riid, ppv);
  if (rclsid == vodrik::kFirewallAdapterClsid)
    return vodrik::testing::MakeFactory<vodrik::testing::DoubleAdapter>(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

COMAPI HRESULT DllCanUnloadNow() { return S_FALSE; }
