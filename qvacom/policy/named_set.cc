#include "qvacom/policy/named_set.h"

#include "qvacom/settings/dom.h"
#include "qvacom/settings/list_item.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"

namespace qva {

// ---- NamedSetEntry ----

template <class Traits>
HRESULT NamedSetEntry<Traits>::get_Name(BSTR* pVal) {
  return settings::GetValue(name_, pVal);
}

template <class Traits>
HRESULT NamedSetEntry<Traits>::put_Name(BSTR newVal) {
  RETURN_IF_FAILED(settings::PutValue(name_, newVal));
  NameChanged();
  return S_OK;
}

template <class Traits>
HRESULT NamedSetEntry<Traits>::get_Remarks(BSTR* pVal) {
  return settings::GetValue(remarks_, pVal);
}

template <class Traits>
HRESULT NamedSetEntry<Traits>::put_Remarks(BSTR newVal) {
  return settings::PutValue(remarks_, newVal);
}

template <class Traits>
HRESULT NamedSetEntry<Traits>::GetValue(size_t at, BSTR* pVal) const {
  return settings::GetValue(values_[at], pVal);
}

template <class Traits>
HRESULT NamedSetEntry<Traits>::PutValue(size_t at, BSTR newVal) {
  return settings::PutValue(values_[at], newVal);
}

template <class Traits>
HRESULT NamedSetEntry<Traits>::Init(IUnknown* pDB) {
  db_ = com::ComPtr<IUnknown>(pDB);
  return S_OK;
}

template <class Traits>
HRESULT NamedSetEntry<Traits>::Save(VARIANT_BOOL Add) {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), Traits::kEntrySource));
  const std::string name = QuotedText(name_), value = QuotedText(values_[0]), remarks = QuotedText(remarks_);
  std::string statement;
  if constexpr (kValueCount == 2) {
    const std::string level = QuotedText(values_[1]);
    statement = Add ? sql::Format(Traits::kSet.insert, name.c_str(), value.c_str(), level.c_str(), remarks.c_str())
                    : sql::Format(Traits::kSet.update, name.c_str(), value.c_str(), level.c_str(), remarks.c_str(),
                                  name.c_str());
  } else {
    statement = Add ? sql::Format(Traits::kSet.insert, name.c_str(), value.c_str(), remarks.c_str())
                    : sql::Format(Traits::kSet.update, name.c_str(), value.c_str(), remarks.c_str(), name.c_str());
  }
  return db->Execute(com::Bstr(statement).get());
}

template <class Traits>
HRESULT NamedSetEntry<Traits>::Clear() {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), Traits::kEntrySource));
  return db->Execute(com::Bstr(sql::Format(Traits::kSet.remove, QuotedText(name_).c_str())).get());
}

template <class Traits>
bool NamedSetEntry<Traits>::LoadRow(CRecordset& rs, RowLoad) {
  bool all = true;
  name_ = com::Bstr(RowText(rs, "Name", &all));
  for (size_t at = 0; at < kValueCount; ++at) values_[at] = com::Bstr(RowText(rs, kValueColumns[at], &all));
  remarks_ = com::Bstr(RowText(rs, "Remarks", &all));
  return all;
}

template <class Traits>
bool NamedSetEntry<Traits>::RowKey(CRecordset& rs, std::string* key) {
  return rs.GetString("Name", key);
}

template <class Traits>
HRESULT NamedSetEntry<Traits>::ReadElement(IXMLDOMNode* element) {
  if (!element) return E_POINTER;
  RETURN_IF_FAILED(ReadTextAttribute(element, "Name", &name_));
  for (size_t at = 0; at < kValueCount; ++at)
    RETURN_IF_FAILED(ReadTextAttribute(element, kValueColumns[at], &values_[at]));
  return ReadTextAttribute(element, "Remarks", &remarks_);
}

template <class Traits>
HRESULT NamedSetEntry<Traits>::WriteElement(IXMLDOMNode* element) const {
  RETURN_IF_FAILED(dom::SetAttribute(element, "Name", name_.get()));
  for (size_t at = 0; at < kValueCount; ++at)
    RETURN_IF_FAILED(dom::SetAttribute(element, kValueColumns[at], values_[at].get()));
  return dom::SetAttribute(element, "Remarks", remarks_.get());
}

// ---- NamedSet ----

template <class Traits>
HRESULT NamedSet<Traits>::Add(BSTR Name, Entry** pVal) {
  return entries_.Add(Name, pVal);
}

template <class Traits>
HRESULT NamedSet<Traits>::Item(VARIANT v, Entry** pVal) {
  return entries_.Lookup(v, pVal);
}

template <class Traits>
HRESULT NamedSet<Traits>::Remove(VARIANT v) {
  return entries_.Remove(v);
}

template <class Traits>
HRESULT NamedSet<Traits>::get__NewEnum(IUnknown** pVal) {
  return entries_.NewEnum(pVal);
}

template <class Traits>
HRESULT NamedSet<Traits>::get_Count(LONG* pVal) {
  return entries_.Count(pVal);
}

template <class Traits>
HRESULT NamedSet<Traits>::Init(IUnknown* pDB) {
  return entries_.Init(pDB);
}

template <class Traits>
HRESULT NamedSet<Traits>::RemoveAll() {
  // Erase clears each entry once and drops it only when its rows are gone; an entry whose delete
  // fails stays listed, as Remove keeps it, and the next one is tried.
  size_t at = 0;
  while (at < entries_.items().size())
    if (FAILED(entries_.Erase(at))) ++at;
  return S_OK;
}

template <class Traits>
HRESULT NamedSet<Traits>::Exists(BSTR Name, VARIANT_BOOL* pVal) {
  return entries_.Exists(Name, pVal);
}

template <class Traits>
HRESULT NamedSet<Traits>::Index(VARIANT v, Entry** pVal) {
  return entries_.Index(v, pVal);
}

template <class Traits>
HRESULT NamedSet<Traits>::LoadXML(IUnknown* pDocument) {
  return entries_.LoadXML(pDocument);
}

template <class Traits>
HRESULT NamedSet<Traits>::SaveXML(IUnknown* pDocument) {
  return entries_.SaveXML(pDocument);
}

template class NamedSetEntry<ApplicationsTraits>;
template class NamedSetEntry<CategoriesTraits>;
template class NamedSetEntry<DestaddrsTraits>;
template class NamedSetEntry<FiletypesTraits>;
template class NamedSetEntry<PortsTraits>;
template class NamedSetEntry<ProtocolsTraits>;
template class NamedSetEntry<RulesTraits>;
template class NamedSetEntry<SignaturesTraits>;
template class NamedSetEntry<ThreatsTraits>;

template class NamedSet<ApplicationsTraits>;
template class NamedSet<CategoriesTraits>;
template class NamedSet<DestaddrsTraits>;
template class NamedSet<FiletypesTraits>;
template class NamedSet<PortsTraits>;
template class NamedSet<ProtocolsTraits>;
template class NamedSet<RulesTraits>;
template class NamedSet<SignaturesTraits>;
template class NamedSet<ThreatsTraits>;

}  // namespace qva
