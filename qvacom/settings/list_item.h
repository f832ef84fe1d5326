// The plain item classes of the settings lists: an automation object around one record of
// fields, each property a get/put pair on one field.
//
//   struct DomainRecord { com::Bstr name, netbios_name; };
//   class CQVADomain : public RecordItem<IQVADomain, DomainRecord> { public: QVA_DECL_IQVADomain; };
//   QVA_RECORD_PROPERTY(CQVADomain, Name, BSTR, name)        // in the .cc file
//
// Strings are copied in and out (a null string stays null); other values are stored as given.
#pragma once

#include "platform/com/bstr.h"
#include "platform/com/dispatch.h"
#include "qvacom/settings/list_fields.h"

namespace qva::settings {

template <class I, class R>
class RecordItem : public com::Dispatch<I> {
 public:
  using Record = R;
  R& record() { return record_; }
  const R& record() const { return record_; }

 protected:
  R record_{};
};

inline HRESULT GetValue(const com::Bstr& field, BSTR* out) {
  if (!out) return E_POINTER;
  auto copy = CopyBstr(field.get());
  if (!copy) return copy.error();
  *out = copy->Detach();
  return S_OK;
}
inline HRESULT PutValue(com::Bstr& field, BSTR value) {
  ASSIGN_OR_RETURN(field, CopyBstr(value));
  return S_OK;
}
template <class T>
HRESULT GetValue(const T& field, T* out) {
  if (!out) return E_POINTER;
  *out = field;
  return S_OK;
}
template <class T>
HRESULT PutValue(T& field, T value) {
  field = value;
  return S_OK;
}

}  // namespace qva::settings

// Defines get_Prop and put_Prop of `Class` over the record field `member`; `Type` is the
// property's automation type as the interface declares it.
#define QVA_RECORD_PROPERTY(Class, Prop, Type, member)                                                 \
  HRESULT Class::get_##Prop(Type* pVal) { return ::qva::settings::GetValue(record_.member, pVal); }    \
  HRESULT Class::put_##Prop(Type newVal) { return ::qva::settings::PutValue(record_.member, newVal); } \
  static_assert(true, "")
