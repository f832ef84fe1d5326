// libvodrikcontrol.so: the in-process server of the control component.
#include "components/control.h"

#include "components/inproc_server.h"
#include "platform/com/module.h"

namespace vodrik {

HRESULT CVodrikControl::GetTypeInfoCount(UINT* count) {
  if (!count) return E_INVALIDARG;
  *count = 0;
  return S_OK;
}

HRESULT CVodrikControl::GetTypeInfo(UINT, LCID, ITypeInfo** out) {
  if (out) *out = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT CVodrikControl::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) {
  if (ids)
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT CVodrikControl::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
  return DISP_E_MEMBERNOTFOUND;
}

HRESULT CVodrikControl::SetArray(IUnknown* array) {
  array_ = array;
  return S_OK;
}

}  // namespace vodrik

VODRIK_INPROC_SERVER(vodrik::CVodrikControl, vodrik::kControlClsid, "Vodrik Control Class")
