// IDispatch served from the interface description: the generator emits one InterfaceInfo per
// interface (member names, dispids, kinds, parameter types and a thunk that makes the typed
// vtable call), and Dispatch<I> answers GetIDsOfNames and Invoke from it. Nothing is looked up
// in the registry at run time.
#pragma once

#include <span>
#include <string_view>

#include "platform/com/object.h"
#include "platform/com/text.h"
#include "platform/com/types.h"

namespace com {

enum class MemberKind : uint8_t { kMethod, kPropGet, kPropPut };

enum ParamFlags : uint8_t {
  kParamIn = 1,
  kParamOut = 2,
  kParamRetval = 4,
  kParamOptional = 8,
};

struct ParamInfo {
  std::string_view name;
  VARTYPE vt;                 // automation type; VT_VARIANT for VARIANT; VT_BYREF added for [out]
  uint8_t flags;              // ParamFlags
  const IID* iid = nullptr;   // interface parameters: the interface the thunk expects
  // The IDL's defaultvalue as written (a number, or text in double quotes); empty when none.
  // An omitted optional parameter takes it; an omitted VARIANT without one arrives "missing".
  std::string_view default_value = {};
};

// Calls the typed member. `self` is the interface pointer, `args` the arguments in declaration
// order (without the retval), each already of its parameter's type; `result` receives the
// retval (may be null when the caller wants none).
using Thunk = HRESULT (*)(IUnknown* self, VARIANT* args, VARIANT* result);

struct MemberInfo {
  std::string_view name;
  DISPID dispid;
  MemberKind kind;
  std::span<const ParamInfo> params;  // including the retval, as declared
  Thunk thunk;
};

struct InterfaceInfo {
  std::string_view name;
  const IID* iid;
  std::span<const MemberInfo> members;  // vtable order
};

// Specialised by the generated header for every described interface.
template <class I>
const InterfaceInfo& InterfaceInfoOf();

// The shared IDispatch logic, for an interface described by `info` and implemented at `self`.
COM_CXX_API HRESULT DispatchGetIDsOfNames(const InterfaceInfo& info, LPOLESTR* names, UINT count, DISPID* ids);
COM_CXX_API HRESULT DispatchInvoke(const InterfaceInfo& info, IUnknown* self, DISPID id, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, UINT* arg_err);

// The type information of one described interface (typeinfo.h).
COM_CXX_API HRESULT DispatchGetTypeInfo(const InterfaceInfo& info, UINT index, ITypeInfo** out);

// The base of a class with one dual interface I (and optionally more interfaces): IDispatch is
// answered from I's description.
template <class I, class... More>
class Dispatch : public Implements<I, More...> {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_INVALIDARG;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    return DispatchGetTypeInfo(InterfaceInfoOf<I>(), index, out);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return DispatchGetIDsOfNames(InterfaceInfoOf<I>(), names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* arg_err) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return DispatchInvoke(InterfaceInfoOf<I>(), static_cast<I*>(this), id, flags, params, result, excep, arg_err);
  }
};

}  // namespace com
