// The control component in its least form: it is handed the array object at start-up and keeps
// it, without a reference (the array owns the component), and does nothing else. The product's
// service logic that would drive the array from here is outside this port.
#pragma once

#include "components/interfaces.h"
#include "platform/com/object.h"

namespace vodrik {

class CVodrikControl : public com::Implements<IVodrikControl> {
 public:
  // No type information and no late-bound members: scripting clients see an empty object.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

  HRESULT STDMETHODCALLTYPE Reserved1() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved2() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved3() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved4() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_UNEXPECTED; }
  // Keeps `array` (null forgets it). Always S_OK.
  HRESULT STDMETHODCALLTYPE SetArray(IUnknown* array) override;

 private:
  // Never dereferenced by this least form; valid only while the array that owns us lives.
  IUnknown* array_ = nullptr;
};

}  // namespace vodrik
