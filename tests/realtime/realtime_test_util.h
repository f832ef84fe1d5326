// What the real-time tests share: reading an enumerator out as records, and calling members
// late-bound by name as a scripting console does (GetIDsOfNames, then Invoke).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/variant.h"
#include "qvacom_idl.h"

namespace qva::testing {

// Every item an enumerator (a _NewEnum result) still has, in order. Each item must be a
// VT_UNKNOWN answering the record interface I.
template <class I>
std::vector<com::ComPtr<I>> Drain(IUnknown* enumerator) {
  std::vector<com::ComPtr<I>> out;
  com::ComPtr<IEnumVARIANT> e;
  EXPECT_EQ(enumerator->QueryInterface(IID_IEnumVARIANT, e.put_void()), S_OK);
  if (!e) return out;
  for (;;) {
    com::Variant item;
    ULONG fetched = 0;
    const HRESULT hr = e->Next(1, item.put(), &fetched);
    if (hr != S_OK) {
      EXPECT_EQ(hr, S_FALSE);
      EXPECT_EQ(fetched, 0u);
      return out;
    }
    EXPECT_EQ(item.vt, VT_UNKNOWN);
    com::ComPtr<I> record;
    EXPECT_EQ(item.punkVal->QueryInterface(I::iid, record.put_void()), S_OK);
    out.push_back(record);
  }
}

// The records of a view as they are now, newest first.
template <class I, class View>
std::vector<com::ComPtr<I>> Records(View* view) {
  com::ComPtr<IUnknown> e;
  EXPECT_EQ(view->get__NewEnum(e.put()), S_OK);
  if (!e) return {};
  return Drain<I>(e.get());
}

template <class I>
std::string NameOf(I* record) {
  com::Bstr name;
  EXPECT_EQ(record->get_Name(name.put()), S_OK);
  return name.utf8();
}

template <class I>
std::vector<std::string> Names(const std::vector<com::ComPtr<I>>& records) {
  std::vector<std::string> names;
  for (const com::ComPtr<I>& r : records) names.push_back(NameOf(r.get()));
  return names;
}

// The same object? (COM identity: the IUnknown of each.)
inline bool SameObject(IUnknown* a, IUnknown* b) {
  com::ComPtr<IUnknown> ia, ib;
  if (a->QueryInterface(IID_IUnknown, ia.put_void()) != S_OK) return false;
  if (b->QueryInterface(IID_IUnknown, ib.put_void()) != S_OK) return false;
  return ia == ib;
}

// Late binding: the dispid of a member name, as the interface's own table resolves it.
inline DISPID IdOf(IDispatch* object, const std::string& name) {
  const std::u16string wide = com::Utf8ToUtf16(name);
  LPOLESTR names[] = {const_cast<LPOLESTR>(wide.c_str())};
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << name;
  return id;
}

// Invokes `id`; `args` in the caller's order (they are passed right to left as OLE wants).
inline HRESULT InvokeId(IDispatch* object, DISPID id, WORD flags, std::vector<com::Variant> args,
                        com::Variant* result) {
  std::vector<com::Variant> reversed(args.rbegin(), args.rend());
  DISPID put_id = DISPID_PROPERTYPUT;
  const bool put = flags & DISPATCH_PROPERTYPUT;
  DISPPARAMS params{reinterpret_cast<VARIANT*>(reversed.data()), put ? &put_id : nullptr,
                    static_cast<UINT>(reversed.size()), put ? 1u : 0u};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result ? result->put() : nullptr, nullptr,
                        nullptr);
}

inline com::Variant Get(IDispatch* object, const std::string& name) {
  com::Variant result;
  EXPECT_EQ(InvokeId(object, IdOf(object, name), DISPATCH_PROPERTYGET, {}, &result), S_OK) << name;
  return result;
}

inline void Put(IDispatch* object, const std::string& name, com::Variant value) {
  std::vector<com::Variant> args;
  args.push_back(std::move(value));
  EXPECT_EQ(InvokeId(object, IdOf(object, name), DISPATCH_PROPERTYPUT, std::move(args), nullptr), S_OK) << name;
}

inline com::Variant Call(IDispatch* object, const std::string& name, std::vector<com::Variant> args = {}) {
  com::Variant result;
  EXPECT_EQ(InvokeId(object, IdOf(object, name), DISPATCH_METHOD, std::move(args), &result), S_OK) << name;
  return result;
}

// The IDispatch of an object a late-bound call handed back (VT_DISPATCH or VT_UNKNOWN).
inline com::ComPtr<IDispatch> AsDispatch(const VARIANT& v) {
  com::ComPtr<IDispatch> d;
  if ((v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) && v.punkVal)
    EXPECT_EQ(v.punkVal->QueryInterface(IID_IDispatch, d.put_void()), S_OK);
  else
    ADD_FAILURE() << "not an object: vt " << v.vt;
  return d;
}

}  // namespace qva::testing
