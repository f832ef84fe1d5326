#include "platform/com/typeinfo.h"

#include <memory>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/oleauto.h"

namespace com {
namespace {

constexpr int kDispatchSlots = 7;  // IUnknown and IDispatch come first in every vtable

// A FUNCDESC with the storage it points into, freed as one by ReleaseFuncDesc.
struct FuncDescBlock {
  FUNCDESC desc{};
  std::vector<ELEMDESC> params;
  std::vector<TYPEDESC> pointees;  // reserved up front: params point into it
};

INVOKEKIND InvokeKindOf(MemberKind k) {
  switch (k) {
    case MemberKind::kPropGet:
      return INVOKE_PROPERTYGET;
    case MemberKind::kPropPut:
      return INVOKE_PROPERTYPUT;
    default:
      return INVOKE_FUNC;
  }
}

class CTypeInfo : public Implements<ITypeInfo> {
 public:
  explicit CTypeInfo(const InterfaceInfo& info) : info_(info) {}

  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** out) override {
    if (!out) return E_INVALIDARG;
    auto* attr = new (std::nothrow) TYPEATTR{};
    if (!attr) return E_OUTOFMEMORY;
    attr->guid = *info_.iid;
    attr->memidConstructor = MEMBERID_NIL;
    attr->memidDestructor = MEMBERID_NIL;
    attr->cbSizeInstance = sizeof(void*);
    attr->typekind = TKIND_DISPATCH;
    attr->cFuncs = static_cast<WORD>(info_.members.size());
    attr->cbSizeVft = static_cast<WORD>((kDispatchSlots + info_.members.size()) * sizeof(void*));
    attr->cbAlignment = alignof(void*);
    attr->wTypeFlags = TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    attr->wMajorVerNum = 1;
    attr->tdescAlias.vt = VT_EMPTY;
    *out = attr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (index >= info_.members.size()) return TYPE_E_ELEMENTNOTFOUND;
    const MemberInfo& m = info_.members[index];
    auto block = std::make_unique<FuncDescBlock>();
    block->pointees.reserve(m.params.size());
    FUNCDESC& fd = block->desc;
    fd.memid = m.dispid;
    fd.funckind = FUNC_DISPATCH;
    fd.invkind = InvokeKindOf(m.kind);
    fd.callconv = CC_STDCALL;
    fd.oVft = static_cast<SHORT>((kDispatchSlots + index) * sizeof(void*));
    fd.elemdescFunc.tdesc.vt = VT_VOID;
    for (const ParamInfo& p : m.params) {
      const VARTYPE base = static_cast<VARTYPE>(p.vt & ~VT_BYREF);
      if (p.flags & kParamRetval) {
        fd.elemdescFunc.tdesc.vt = base;  // a dispatch function returns its retval
        continue;
      }
      ELEMDESC e{};
      if (p.flags & kParamOut) {
        block->pointees.push_back(TYPEDESC{});
        block->pointees.back().vt = base;
        e.tdesc.lptdesc = &block->pointees.back();
        e.tdesc.vt = VT_PTR;
      } else {
        e.tdesc.vt = base;
      }
      e.paramdesc.wParamFlags = static_cast<USHORT>(((p.flags & kParamIn) ? PARAMFLAG_FIN : 0) |
                                                    ((p.flags & kParamOut) ? PARAMFLAG_FOUT : 0) |
                                                    ((p.flags & kParamOptional) ? PARAMFLAG_FOPT : 0));
      if (p.flags & kParamOptional) ++fd.cParamsOpt;
      block->params.push_back(e);
    }
    fd.cParams = static_cast<SHORT>(block->params.size());
    fd.lprgelemdescParam = block->params.empty() ? nullptr : block->params.data();
    *out = &block.release()->desc;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) override {
    if (!names || !count) return E_INVALIDARG;
    *count = 0;
    const MemberInfo* m = Find(memid);
    if (!m) return TYPE_E_ELEMENTNOTFOUND;
    auto add = [&](std::string_view name) {
      if (*count < max) names[(*count)++] = AllocBstr(name);
    };
    add(m->name);
    for (const ParamInfo& p : m->params)
      if (!(p.flags & kParamRetval) && m->kind != MemberKind::kPropPut) add(p.name);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    return DispatchGetIDsOfNames(info_, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(PVOID instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* arg_err) override {
    if (!instance) return E_INVALIDARG;
    return DispatchInvoke(info_, static_cast<IUnknown*>(instance), memid, flags, params, result, excep, arg_err);
  }
  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* help_context,
                                             BSTR* help_file) override {
    std::string_view text;
    if (memid == MEMBERID_NIL) {
      text = info_.name;
    } else if (const MemberInfo* m = Find(memid)) {
      text = m->name;
    } else {
      return TYPE_E_ELEMENTNOTFOUND;
    }
    if (name) *name = AllocBstr(text);
    if (doc) *doc = nullptr;
    if (help_context) *help_context = 0;
    if (help_file) *help_file = nullptr;
    return S_OK;
  }
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* desc) override {
    // desc is the first member of its block (standard layout), so the cast finds the block.
    delete reinterpret_cast<FuncDescBlock*>(desc);
  }
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) override {}

  // What a dispatch interface of our own has none of: variables, implemented types, modules.
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, VARDESC** out) override {
    if (out) *out = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT, HREFTYPE*) override { return TYPE_E_ELEMENTNOTFOUND; }
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT, INT*) override { return TYPE_E_ELEMENTNOTFOUND; }
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE, ITypeInfo** out) override {
    if (out) *out = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override {
    return TYPE_E_BADMODULEKIND;
  }
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID* out) override {
    if (out) *out = nullptr;
    return TYPE_E_BADMODULEKIND;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, PVOID* out) override {
    if (out) *out = nullptr;
    return TYPE_E_WRONGTYPEKIND;
  }
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR* out) override {
    if (out) *out = nullptr;
    return S_OK;
  }
  // Binding helpers and the containing library are not offered: the description lives in the
  // library's code, not in a type library file. Callers get a clean "no interface" answer.
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** out) override {
    if (out) *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** out, UINT* index) override {
    if (out) *out = nullptr;
    if (index) *index = 0;
    return E_NOINTERFACE;
  }

 private:
  const MemberInfo* Find(MEMBERID memid) const {
    for (const MemberInfo& m : info_.members)
      if (m.dispid == memid) return &m;
    return nullptr;
  }
  const InterfaceInfo& info_;
};

}  // namespace

HRESULT DispatchGetTypeInfo(const InterfaceInfo& info, UINT index, ITypeInfo** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  auto made = CreateObject<CTypeInfo>(info);
  if (!made) return made.error();
  *out = made->Detach();
  return S_OK;
}

}  // namespace com
