#include "qvacom/settings/domains.h"

namespace qva {

QVA_RECORD_PROPERTY(CQVADomain, Name, BSTR, name);
QVA_RECORD_PROPERTY(CQVADomain, NetbiosName, BSTR, netbios_name);

HRESULT CQVADomains::Add(BSTR Name, IQVADomain** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  ASSIGN_OR_RETURN(com::Bstr name, settings::CopyBstr(Name));
  ASSIGN_OR_RETURN(com::ComPtr<CQVADomain> item, list_.Append({std::move(name), com::Bstr()}));
  *pVal = item.Detach();
  return S_OK;
}

HRESULT CQVADomains::Item(VARIANT v, IQVADomain** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  ASSIGN_OR_RETURN(com::Bstr name, settings::NameArgument(v, DomainsTraits::kSource));
  return list_.Lookup([&](const DomainRecord& r) { return settings::SameAnsi(r.name.get(), name.get()); }, pVal);
}

HRESULT CQVADomains::Remove(VARIANT v) {
  ASSIGN_OR_RETURN(com::Bstr name, settings::NameArgument(v, DomainsTraits::kSource));
  return list_.Erase([&](const DomainRecord& r) { return settings::SameBstr(r.name.get(), name.get()); },
                     DomainRecord{name, com::Bstr()}, true);
}

HRESULT CQVADomains::get__NewEnum(IUnknown** pVal) { return list_.items().NewEnum(pVal); }

HRESULT CQVADomains::get_Count(LONG* pVal) { return list_.items().Count(pVal); }

HRESULT CQVADomains::Init(IUnknown* pDocument) { return list_.Bind(pDocument); }

HRESULT CQVADomains::Save() { return list_.Store(); }

HRESULT CQVADomains::Exists(BSTR Name, VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = 0;
  if (!list_.Find([&](const DomainRecord& r) { return settings::SameBstr(r.name.get(), Name); })) return S_FALSE;
  *pVal = 1;
  return S_OK;
}

HRESULT CQVADomains::LoadXML(IUnknown* pDocument) { return list_.Import(pDocument); }

HRESULT CQVADomains::SaveXML(IUnknown* pDocument) { return list_.Export(pDocument); }

}  // namespace qva
