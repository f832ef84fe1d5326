#include "platform/com/dispatch.h"

#include <vector>

#include "platform/com/oleauto.h"
#include "platform/com/variant.h"

namespace com {
namespace {

const MemberInfo* FindMember(const InterfaceInfo& info, DISPID id, MemberKind kind) {
  for (const MemberInfo& m : info.members)
    if (m.dispid == id && m.kind == kind) return &m;
  return nullptr;
}

// The member an Invoke means. A scripting client asks for DISPATCH_METHOD | DISPATCH_PROPERTYGET
// when it cannot tell which one it calls; a method wins then, as in OLE.
const MemberInfo* Resolve(const InterfaceInfo& info, DISPID id, WORD flags) {
  if (id == DISPID_NEWENUM) {
    // A for-each asks for -4 whatever dispid the interface gave its _NewEnum.
    for (const MemberInfo& m : info.members)
      if (m.name == "_NewEnum" && m.kind != MemberKind::kPropPut) return &m;
  }
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return FindMember(info, id, MemberKind::kPropPut);
  const MemberInfo* m = nullptr;
  if (flags & DISPATCH_METHOD) m = FindMember(info, id, MemberKind::kMethod);
  if (!m && (flags & DISPATCH_PROPERTYGET)) m = FindMember(info, id, MemberKind::kPropGet);
  if (!m && (flags & DISPATCH_PROPERTYGET)) m = FindMember(info, id, MemberKind::kMethod);
  return m;
}

// Turns one argument into the parameter's type. `to` starts empty; `from` is the caller's.
HRESULT Coerce(const ParamInfo& p, const VARIANT& from, VARIANT* to) {
  if (p.flags & kParamOut) {
    // [out] parameters arrive by reference, of exactly the parameter's type.
    if (from.vt != p.vt) return DISP_E_TYPEMISMATCH;
    *to = from;  // a borrowed pointer: `to` is never cleared for out parameters
    return S_OK;
  }
  const VARIANT* src = &from;
  if (src->vt == (VT_BYREF | VT_VARIANT)) src = src->pvarVal;
  if (p.vt == VT_VARIANT) return VariantCopyInd(to, src);
  HRESULT hr = VariantChangeType(to, src, 0, p.vt);
  if (FAILED(hr)) return hr;
  if (p.iid && to->punkVal) {
    IUnknown* typed = nullptr;
    hr = to->punkVal->QueryInterface(*p.iid, reinterpret_cast<void**>(&typed));
    VariantClear(to);
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    to->vt = VT_UNKNOWN;
    to->punkVal = typed;
  }
  return S_OK;
}

// The argument an omitted optional parameter stands for: its default value coerced to the
// parameter's type, or for a VARIANT without default the "missing" marker OLE passes.
HRESULT Omitted(const ParamInfo& p, VARIANT* to) {
  if (p.default_value.empty()) {
    if (p.vt != VT_VARIANT) return DISP_E_PARAMNOTOPTIONAL;
    to->vt = VT_ERROR;
    to->scode = DISP_E_PARAMNOTFOUND;
    return S_OK;
  }
  std::string_view text = p.default_value;
  Variant value;
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    value = Variant::Str(text.substr(1, text.size() - 2));
  } else {
    value = Variant::Str(text);
    if (FAILED(value.ChangeType(VT_R8))) return DISP_E_PARAMNOTOPTIONAL;
  }
  return Coerce(p, value, to);
}

void FillException(HRESULT hr, EXCEPINFO* excep) {
  *excep = EXCEPINFO{};
  excep->scode = hr;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    info->GetSource(&excep->bstrSource);
    info->GetDescription(&excep->bstrDescription);
    info->GetHelpFile(&excep->bstrHelpFile);
    info->GetHelpContext(&excep->dwHelpContext);
    info->Release();
  }
}

}  // namespace

HRESULT DispatchGetIDsOfNames(const InterfaceInfo& info, LPOLESTR* names, UINT count, DISPID* ids) {
  if (!names || !ids) return E_INVALIDARG;
  if (count == 0) return S_OK;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const std::u16string wanted = names[0] ? std::u16string(names[0]) : std::u16string();
  const MemberInfo* found = nullptr;
  for (const MemberInfo& m : info.members) {
    if (CompareNoCase(Utf8ToUtf16(m.name), wanted) == 0) {
      found = &m;
      break;
    }
  }
  if (!found) return DISP_E_UNKNOWNNAME;
  ids[0] = found->dispid;
  // Further names are parameter names; their ids are their positions, as OLE numbers them.
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    const std::u16string pname = names[i] ? std::u16string(names[i]) : std::u16string();
    for (size_t k = 0; k < found->params.size(); ++k)
      if (CompareNoCase(Utf8ToUtf16(found->params[k].name), pname) == 0) ids[i] = static_cast<DISPID>(k);
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT DispatchInvoke(const InterfaceInfo& info, IUnknown* self, DISPID id, WORD flags, DISPPARAMS* params,
                       VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
  DISPPARAMS none{};
  if (!params) params = &none;
  if (params->cArgs && !params->rgvarg) return E_INVALIDARG;
  if (params->cNamedArgs > params->cArgs || (params->cNamedArgs && !params->rgdispidNamedArgs)) return E_INVALIDARG;
  const MemberInfo* m = Resolve(info, id, flags);
  if (!m) return DISP_E_MEMBERNOTFOUND;

  // The parameters the caller supplies: all but the retval.
  size_t declared = m->params.size();
  if (declared && (m->params.back().flags & kParamRetval)) --declared;
  size_t required = 0;
  for (size_t i = 0; i < declared; ++i)
    if (!(m->params[i].flags & kParamOptional)) required = i + 1;

  // A put names its value DISPID_PROPERTYPUT; other named arguments are not supported.
  if (m->kind == MemberKind::kPropPut) {
    if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      if (params->cNamedArgs != 0) return DISP_E_PARAMNOTFOUND;
    }
  } else if (params->cNamedArgs != 0) {
    return DISP_E_NONAMEDARGS;
  }
  if (params->cArgs < required || params->cArgs > declared) return DISP_E_BADPARAMCOUNT;

  // Arguments arrive right to left; for a put the value is rgvarg[0] and stands last.
  std::vector<Variant> args(declared);
  for (size_t i = 0; i < declared; ++i) {
    const ParamInfo& p = m->params[i];
    size_t slot;  // index in rgvarg
    if (m->kind == MemberKind::kPropPut && i + 1 == declared) {
      slot = 0;
    } else if (i < params->cArgs - (m->kind == MemberKind::kPropPut ? 1u : 0u)) {
      slot = params->cArgs - 1 - i;
    } else {
      const HRESULT hr = Omitted(p, &args[i]);
      if (FAILED(hr)) return hr;
      continue;
    }
    const VARIANT& given = params->rgvarg[slot];
    // A caller may also pass an optional argument as "missing" explicitly.
    if ((p.flags & kParamOptional) && given.vt == VT_ERROR && given.scode == DISP_E_PARAMNOTFOUND) {
      const HRESULT hr = Omitted(p, &args[i]);
      if (FAILED(hr)) return hr;
      continue;
    }
    const HRESULT hr = Coerce(p, given, &args[i]);
    if (FAILED(hr)) {
      if (p.flags & kParamOut) VariantInit(&args[i]);
      // Out-parameter slots borrow the caller's pointer and must not be cleared.
      for (size_t k = 0; k < i; ++k)
        if (m->params[k].flags & kParamOut) VariantInit(&args[k]);
      if (arg_err) *arg_err = static_cast<UINT>(slot);
      return hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
    }
  }

  Variant out;
  const HRESULT hr = m->thunk(self, reinterpret_cast<VARIANT*>(args.data()), result ? out.put() : nullptr);
  for (size_t i = 0; i < declared; ++i)
    if (m->params[i].flags & kParamOut) VariantInit(&args[i]);
  if (FAILED(hr)) {
    if (!excep) return hr;
    FillException(hr, excep);
    return DISP_E_EXCEPTION;
  }
  if (result) {
    VariantClear(result);
    out.Detach(result);
  }
  return S_OK;
}

}  // namespace com
