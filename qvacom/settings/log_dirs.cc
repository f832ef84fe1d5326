#include "qvacom/settings/log_dirs.h"

namespace qva {

QVA_RECORD_PROPERTY(CQVALogDir, Name, BSTR, name);
QVA_RECORD_PROPERTY(CQVALogDir, LastFirewallDate, DATE, firewall_date);
QVA_RECORD_PROPERTY(CQVALogDir, LastProxyDate, DATE, proxy_date);
QVA_RECORD_PROPERTY(CQVALogDir, LastBlockDate, DATE, block_date);
QVA_RECORD_PROPERTY(CQVALogDir, LastFirewallFileSize, LONGLONG, firewall_size);
QVA_RECORD_PROPERTY(CQVALogDir, LastProxyFileSize, LONGLONG, proxy_size);
QVA_RECORD_PROPERTY(CQVALogDir, LastBlockFileSize, LONGLONG, block_size);
QVA_RECORD_PROPERTY(CQVALogDir, LastFirewallFilePage, LONG, firewall_page);
QVA_RECORD_PROPERTY(CQVALogDir, LastProxyFilePage, LONG, proxy_page);
QVA_RECORD_PROPERTY(CQVALogDir, LastBlockFilePage, LONG, block_page);

HRESULT CQVALogDir::Init(IUnknown* pDocument) {
  wrapper_ = com::ComPtr<IUnknown>(pDocument);
  return S_OK;
}

HRESULT CQVALogDir::Save() {
  return settings::SaveItemNode(wrapper_.get(), LogDirsTraits::kSection, LogDirsTraits::kSaveKey,
                                LogDirsTraits::kProgress, record_, "QVA.LogDir.1");
}

namespace {

auto Named(BSTR name) {
  return [name](const LogDirRecord& r) { return settings::SameBstr(r.name.get(), name); };
}

}  // namespace

HRESULT CQVALogDirs::Init(IUnknown* pDocument) { return list_.Bind(pDocument); }

HRESULT CQVALogDirs::Save() { return list_.Store(); }

HRESULT CQVALogDirs::Add(BSTR Name, IQVALogDir** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  LogDirRecord r;
  ASSIGN_OR_RETURN(r.name, settings::CopyBstr(Name));
  ASSIGN_OR_RETURN(com::ComPtr<CQVALogDir> item, list_.Append(std::move(r)));
  *pVal = item.Detach();
  return S_OK;
}

HRESULT CQVALogDirs::Remove(VARIANT Index) {
  ASSIGN_OR_RETURN(com::Bstr name, settings::NameArgument(Index, LogDirsTraits::kSource));
  LogDirRecord probe;
  probe.name = name;
  return list_.Erase(Named(name.get()), probe, true);
}

HRESULT CQVALogDirs::get__NewEnum(IUnknown** pVal) { return list_.items().NewEnum(pVal); }

HRESULT CQVALogDirs::get_Count(LONG* pVal) { return list_.items().Count(pVal); }

HRESULT CQVALogDirs::Index(VARIANT v, IQVALogDir** pVal) { return list_.At(v, pVal); }

HRESULT CQVALogDirs::Exists(BSTR Name, VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = 0;
  if (!list_.Find(Named(Name))) return S_FALSE;
  *pVal = 1;
  return S_OK;
}

HRESULT CQVALogDirs::LoadXML(IUnknown* pDocument) { return list_.Import(pDocument); }

HRESULT CQVALogDirs::SaveXML(IUnknown* pDocument) { return list_.Export(pDocument); }

}  // namespace qva
