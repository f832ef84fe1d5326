#include "qvacom/accounts/deps.h"

#include "qvacom/settings/dom.h"
#include "qvacom/settings/list_item.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"

namespace qva {

namespace {

using Id = AccountFieldId;

constexpr std::string_view kSource = "QVA.Dep.1";

}  // namespace

// ---- CQVADep ----

#define QVA_DEP_PROPERTY(Type, Prop)                                                                \
  HRESULT CQVADep::get_##Prop(Type* pVal) { return ::qva::settings::GetValue(dep_.Prop, pVal); }    \
  HRESULT CQVADep::put_##Prop(Type newVal) { return AfterPut(::qva::settings::PutValue(dep_.Prop, newVal), &dep_.Prop, &dep_.Name); } \
  static_assert(true, "")

QVA_DEP_PROPERTY(BSTR, Name);
QVA_DEP_PROPERTY(LONG, AdsType);
QVA_DEP_PROPERTY(BSTR, AdsPath);
QVA_DEP_PROPERTY(BSTR, Remarks);
QVA_DEP_PROPERTY(BSTR, DisplayName);

#undef QVA_DEP_PROPERTY

HRESULT CQVADep::Init(IUnknown* pDB) {
  db_ = com::ComPtr<IUnknown>(pDB);
  return S_OK;
}

HRESULT CQVADep::Save(VARIANT_BOOL bAdd) {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), kSource));
  const AccountStatementValues a = StatementValues(account_);
  const DefaultStatementValues d = StatementValues(defaults_);
  const std::string name = QuotedText(dep_.Name), remarks = QuotedText(dep_.Remarks);
  std::string text;
  if (bAdd) {
    const std::string ads_path = QuotedText(dep_.AdsPath);
    text = sql::Format(kDepStatements.insert, name.c_str(), int{dep_.AdsType}, ads_path.c_str(), remarks.c_str(),
                       a.Enable, a.EnableDate.c_str(), a.Auth, a.Dirty, a.LimitType, a.BytesResetDate.c_str(),
                       a.TimeResetDate.c_str(), a.TimeLimit, a.TimeLeft, a.TimeQuotaPeriod, a.BytesLimit, a.BytesLeft,
                       a.BytesQuotaPeriod, a.AllTimeLimit, a.AllTimeLeft, a.AllTimeFrom.c_str(), a.AllBytesLimit,
                       a.AllBytesLeft, a.AllBytesFrom.c_str(), a.DateLimit.c_str(), d.LimitTypeDefault,
                       d.TimeLimitDefault, d.TimeQuotaPeriodDefault, d.BytesLimitDefault, d.BytesQuotaPeriodDefault,
                       d.AllTimeLimitDefault, d.AllTimeFromDefault.c_str(), d.AllBytesLimitDefault,
                       d.AllBytesFromDefault.c_str(), d.DateLimitDefault.c_str(), a.CheckFee, a.FeeLimit, a.FeeLeft,
                       a.FeeStop, a.FeeOption, a.FeeByOutBytes, a.FeeByAllBytes, a.FeeByTime);
  } else {
    text = sql::Format(kDepStatements.update, name.c_str(), remarks.c_str(), a.Enable, a.EnableDate.c_str(), a.Auth,
                       a.Dirty, a.LimitType, a.BytesResetDate.c_str(), a.TimeResetDate.c_str(), a.TimeLimit, a.TimeLeft,
                       a.TimeQuotaPeriod, a.BytesLimit, a.BytesLeft, a.BytesQuotaPeriod, a.AllTimeLimit, a.AllTimeLeft,
                       a.AllTimeFrom.c_str(), a.AllBytesLimit, a.AllBytesLeft, a.AllBytesFrom.c_str(),
                       a.DateLimit.c_str(), d.LimitTypeDefault, d.TimeLimitDefault, d.TimeQuotaPeriodDefault,
                       d.BytesLimitDefault, d.BytesQuotaPeriodDefault, d.AllTimeLimitDefault,
                       d.AllTimeFromDefault.c_str(), d.AllBytesLimitDefault, d.AllBytesFromDefault.c_str(),
                       d.DateLimitDefault.c_str(), a.CheckFee, a.FeeLimit, a.FeeLeft, a.FeeStop, a.FeeOption,
                       a.FeeByOutBytes, a.FeeByAllBytes, a.FeeByTime, name.c_str());
  }
  return db->Execute(com::Bstr(text).get());
}

HRESULT CQVADep::Clear() {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), kSource));
  return db->Execute(com::Bstr(sql::Format(kDepStatements.remove, QuotedText(dep_.Name).c_str())).get());
}

// Name, AdsType, AdsPath, Remarks, the shared block (Enable and EnableDate only at Init), then
// the member defaults. DisplayName is not stored and stays as it is.
bool CQVADep::LoadRow(CRecordset& rs, RowLoad how) {
  bool all = true;
  const std::string name = RowText(rs, "Name", &all);
  dep_.Name = com::Bstr(name);
  all &= rs.GetLong("AdsType", &dep_.AdsType);
  dep_.AdsPath = com::Bstr(RowText(rs, "AdsPath", &all));
  const std::string remarks = RowText(rs, "Remarks", &all);
  dep_.Remarks = com::Bstr(remarks.empty() ? name : remarks);
  all &= LoadFields(rs, account_, AccountFieldRange(how == RowLoad::kInit ? Id::Enable : Id::Auth, Id::StatusChange));
  all &= LoadFields(rs, defaults_);
  return all;
}

bool CQVADep::RowKey(CRecordset& rs, std::string* key) { return rs.GetString("Name", key); }

// Attributes in the load order, taken as written (no Remarks default).
HRESULT CQVADep::ReadElement(IXMLDOMNode* element) {
  if (!element) return E_POINTER;
  RETURN_IF_FAILED(ReadTextAttribute(element, "Name", &dep_.Name));
  ASSIGN_OR_RETURN(const std::string ads_type, AttributeText(element, "AdsType"));
  dep_.AdsType = LongOfText(ads_type);
  RETURN_IF_FAILED(ReadTextAttribute(element, "AdsPath", &dep_.AdsPath));
  RETURN_IF_FAILED(ReadTextAttribute(element, "Remarks", &dep_.Remarks));
  RETURN_IF_FAILED(ReadAttributes(element, account_));
  return ReadAttributes(element, defaults_);
}

HRESULT CQVADep::WriteElement(IXMLDOMNode* element) const {
  RETURN_IF_FAILED(dom::SetAttribute(element, "Name", dep_.Name.get()));
  RETURN_IF_FAILED(SetNumberAttribute(element, "AdsType", dep_.AdsType));
  RETURN_IF_FAILED(dom::SetAttribute(element, "AdsPath", dep_.AdsPath.get()));
  RETURN_IF_FAILED(dom::SetAttribute(element, "Remarks", dep_.Remarks.get()));
  RETURN_IF_FAILED(WriteAttributes(element, account_));
  return WriteAttributes(element, defaults_);
}

// ---- CQVADeps ----

HRESULT CQVADeps::Init(IUnknown* pDB) { return deps_.Init(pDB); }
HRESULT CQVADeps::Add(BSTR Name, IQVADep** pVal) { return deps_.Add(Name, pVal); }
HRESULT CQVADeps::get_Count(LONG* pVal) { return deps_.Count(pVal); }
HRESULT CQVADeps::Item(VARIANT v, IQVADep** pVal) { return deps_.Lookup(v, pVal); }
HRESULT CQVADeps::get__NewEnum(IUnknown** pVal) { return deps_.NewEnum(pVal); }
HRESULT CQVADeps::Exists(BSTR Name, VARIANT_BOOL* pVal) { return deps_.Exists(Name, pVal); }
HRESULT CQVADeps::Remove(VARIANT v) { return deps_.Remove(v); }
HRESULT CQVADeps::Index(VARIANT v, IQVADep** pVal) { return deps_.Index(v, pVal); }
HRESULT CQVADeps::Reload() { return deps_.Reload(); }
HRESULT CQVADeps::LoadXML(IUnknown* pDocument) { return deps_.LoadXML(pDocument); }
HRESULT CQVADeps::SaveXML(IUnknown* pDocument) { return deps_.SaveXML(pDocument); }

}  // namespace qva
