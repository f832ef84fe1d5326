#include "qvacom/accounts/groups.h"

#include "qvacom/settings/dom.h"
#include "qvacom/settings/list_item.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"

namespace qva {

namespace {

using Id = AccountFieldId;

constexpr std::string_view kSource = "QVA.Group.1";

}  // namespace

// ---- CQVAGroup ----

#define QVA_GROUP_PROPERTY(Type, Prop)                                                                  \
  HRESULT CQVAGroup::get_##Prop(Type* pVal) { return ::qva::settings::GetValue(group_.Prop, pVal); }    \
  HRESULT CQVAGroup::put_##Prop(Type newVal) { return AfterPut(::qva::settings::PutValue(group_.Prop, newVal), &group_.Prop, &group_.Name); } \
  static_assert(true, "")

QVA_GROUP_PROPERTY(BSTR, Name);
QVA_GROUP_PROPERTY(LONG, AdsType);
QVA_GROUP_PROPERTY(BSTR, AdsPath);
QVA_GROUP_PROPERTY(BSTR, Remarks);
QVA_GROUP_PROPERTY(BSTR, DisplayName);

#undef QVA_GROUP_PROPERTY

HRESULT CQVAGroup::Init(IUnknown* pDB) {
  db_ = com::ComPtr<IUnknown>(pDB);
  return S_OK;
}

HRESULT CQVAGroup::Save(VARIANT_BOOL bAdd) {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), kSource));
  const AccountStatementValues a = StatementValues(account_);
  const DefaultStatementValues d = StatementValues(defaults_);
  const std::string name = QuotedText(group_.Name), remarks = QuotedText(group_.Remarks);
  std::string text;
  if (bAdd) {
    const std::string ads_path = QuotedText(group_.AdsPath);
    text = sql::Format(kGroupStatements.insert, name.c_str(), int{group_.AdsType}, ads_path.c_str(), remarks.c_str(),
                       a.Enable, a.EnableDate.c_str(), a.Auth, a.Dirty, a.LimitType, a.BytesResetDate.c_str(),
                       a.TimeResetDate.c_str(), a.TimeLimit, a.TimeLeft, a.TimeQuotaPeriod, a.BytesLimit, a.BytesLeft,
                       a.BytesQuotaPeriod, a.AllTimeLimit, a.AllTimeLeft, a.AllTimeFrom.c_str(), a.AllBytesLimit,
                       a.AllBytesLeft, a.AllBytesFrom.c_str(), a.DateLimit.c_str(), d.LimitTypeDefault,
                       d.TimeLimitDefault, d.TimeQuotaPeriodDefault, d.BytesLimitDefault, d.BytesQuotaPeriodDefault,
                       d.AllTimeLimitDefault, d.AllTimeFromDefault.c_str(), d.AllBytesLimitDefault,
                       d.AllBytesFromDefault.c_str(), d.DateLimitDefault.c_str(), a.CheckFee, a.FeeLimit, a.FeeLeft,
                       a.FeeStop, a.FeeOption, a.FeeByOutBytes, a.FeeByAllBytes, a.FeeByTime);
  } else {
    text = sql::Format(kGroupStatements.update, name.c_str(), remarks.c_str(), a.Enable, a.EnableDate.c_str(), a.Auth,
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

HRESULT CQVAGroup::Clear() {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), kSource));
  return db->Execute(com::Bstr(sql::Format(kGroupStatements.remove, QuotedText(group_.Name).c_str())).get());
}

// Columns in the order the product has always read them: Name, Remarks, Enable and EnableDate
// (Init only), AdsPath, AdsType, the shared block up to AllBytesFrom, the member defaults, then
// the fee fields and DateLimit. DisplayName is not stored and stays as it is.
bool CQVAGroup::LoadRow(CRecordset& rs, RowLoad how) {
  bool all = true;
  const std::string name = RowText(rs, "Name", &all);
  group_.Name = com::Bstr(name);
  const std::string remarks = RowText(rs, "Remarks", &all);
  group_.Remarks = com::Bstr(remarks.empty() ? name : remarks);
  if (how == RowLoad::kInit) all &= LoadFields(rs, account_, AccountFieldRange(Id::Enable, Id::EnableDate));
  group_.AdsPath = com::Bstr(RowText(rs, "AdsPath", &all));
  all &= rs.GetLong("AdsType", &group_.AdsType);
  all &= LoadFields(rs, account_, AccountFieldRange(Id::Auth, Id::AllBytesFrom));
  all &= LoadFields(rs, defaults_);
  all &= LoadFields(rs, account_, AccountFieldRange(Id::CheckFee, Id::StatusChange));
  return all;
}

bool CQVAGroup::RowKey(CRecordset& rs, std::string* key) { return rs.GetString("Name", key); }

// Attributes in the order WriteElement writes them, taken as written (no Remarks default).
HRESULT CQVAGroup::ReadElement(IXMLDOMNode* element) {
  if (!element) return E_POINTER;
  RETURN_IF_FAILED(ReadTextAttribute(element, "Name", &group_.Name));
  ASSIGN_OR_RETURN(const std::string ads_type, AttributeText(element, "AdsType"));
  group_.AdsType = LongOfText(ads_type);
  RETURN_IF_FAILED(ReadTextAttribute(element, "AdsPath", &group_.AdsPath));
  RETURN_IF_FAILED(ReadTextAttribute(element, "Remarks", &group_.Remarks));
  RETURN_IF_FAILED(ReadAttributes(element, account_));
  return ReadAttributes(element, defaults_);
}

HRESULT CQVAGroup::WriteElement(IXMLDOMNode* element) const {
  RETURN_IF_FAILED(dom::SetAttribute(element, "Name", group_.Name.get()));
  RETURN_IF_FAILED(SetNumberAttribute(element, "AdsType", group_.AdsType));
  RETURN_IF_FAILED(dom::SetAttribute(element, "AdsPath", group_.AdsPath.get()));
  RETURN_IF_FAILED(dom::SetAttribute(element, "Remarks", group_.Remarks.get()));
  RETURN_IF_FAILED(WriteAttributes(element, account_));
  return WriteAttributes(element, defaults_);
}

// ---- CQVAGroups ----

HRESULT CQVAGroups::Init(IUnknown* pDB) { return groups_.Init(pDB); }
HRESULT CQVAGroups::Add(BSTR Name, IQVAGroup** pVal) { return groups_.Add(Name, pVal); }
HRESULT CQVAGroups::get_Count(LONG* pVal) { return groups_.Count(pVal); }
HRESULT CQVAGroups::Item(VARIANT v, IQVAGroup** pVal) { return groups_.Lookup(v, pVal); }
HRESULT CQVAGroups::get__NewEnum(IUnknown** pVal) { return groups_.NewEnum(pVal); }
HRESULT CQVAGroups::Exists(BSTR Name, VARIANT_BOOL* pVal) { return groups_.Exists(Name, pVal); }
HRESULT CQVAGroups::Remove(VARIANT v) { return groups_.Remove(v); }
HRESULT CQVAGroups::Index(VARIANT v, IQVAGroup** pVal) { return groups_.Index(v, pVal); }
HRESULT CQVAGroups::Reload() { return groups_.Reload(); }
HRESULT CQVAGroups::LoadXML(IUnknown* pDocument) { return groups_.LoadXML(pDocument); }
HRESULT CQVAGroups::SaveXML(IUnknown* pDocument) { return groups_.SaveXML(pDocument); }

}  // namespace qva
