#include "qvacom/accounts/directory_accounts.h"

#include "qvacom/accounts/deps.h"
#include "qvacom/accounts/groups.h"
#include "qvacom/settings/dom.h"
#include "qvacom/settings/list_item.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"

namespace qva {

namespace {

using Id = AccountFieldId;

}  // namespace

#define QVA_DIRECTORY_PROPERTY(Type, Prop)                                      \
  template <class Kind>                                                         \
  HRESULT DirectoryAccount<Kind>::get_##Prop(Type* pVal) {                      \
    return ::qva::settings::GetValue(fields_.Prop, pVal);                       \
  }                                                                             \
  template <class Kind>                                                         \
  HRESULT DirectoryAccount<Kind>::put_##Prop(Type newVal) {                     \
    return AfterPut(::qva::settings::PutValue(fields_.Prop, newVal), &fields_.Prop, &fields_.Name); \
  }                                                                             \
  static_assert(true, "")

QVA_DIRECTORY_PROPERTY(BSTR, Name);
QVA_DIRECTORY_PROPERTY(LONG, AdsType);
QVA_DIRECTORY_PROPERTY(BSTR, AdsPath);
QVA_DIRECTORY_PROPERTY(BSTR, Remarks);
QVA_DIRECTORY_PROPERTY(BSTR, DisplayName);

#undef QVA_DIRECTORY_PROPERTY

template <class Kind>
HRESULT DirectoryAccount<Kind>::Init(IUnknown* pDB) {
  db_ = com::ComPtr<IUnknown>(pDB);
  return S_OK;
}

template <class Kind>
HRESULT DirectoryAccount<Kind>::Save(VARIANT_BOOL bAdd) {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), Kind::kItemSource));
  const AccountStatementValues a = StatementValues(this->account_);
  const DefaultStatementValues d = StatementValues(this->defaults_);
  const std::string name = QuotedText(fields_.Name), remarks = QuotedText(fields_.Remarks);
  std::string text;
  if (bAdd) {
    const std::string ads_path = QuotedText(fields_.AdsPath);
    text = sql::Format(Kind::kStatements.insert, name.c_str(), int{fields_.AdsType}, ads_path.c_str(), remarks.c_str(),
                       a.Enable, a.EnableDate.c_str(), a.Auth, a.Dirty, a.LimitType, a.BytesResetDate.c_str(),
                       a.TimeResetDate.c_str(), a.TimeLimit, a.TimeLeft, a.TimeQuotaPeriod, a.BytesLimit, a.BytesLeft,
                       a.BytesQuotaPeriod, a.AllTimeLimit, a.AllTimeLeft, a.AllTimeFrom.c_str(), a.AllBytesLimit,
                       a.AllBytesLeft, a.AllBytesFrom.c_str(), a.DateLimit.c_str(), d.LimitTypeDefault,
                       d.TimeLimitDefault, d.TimeQuotaPeriodDefault, d.BytesLimitDefault, d.BytesQuotaPeriodDefault,
                       d.AllTimeLimitDefault, d.AllTimeFromDefault.c_str(), d.AllBytesLimitDefault,
                       d.AllBytesFromDefault.c_str(), d.DateLimitDefault.c_str(), a.CheckFee, a.FeeLimit, a.FeeLeft,
                       a.FeeStop, a.FeeOption, a.FeeByOutBytes, a.FeeByAllBytes, a.FeeByTime);
  } else {
    text = sql::Format(Kind::kStatements.update, name.c_str(), remarks.c_str(), a.Enable, a.EnableDate.c_str(), a.Auth,
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

template <class Kind>
HRESULT DirectoryAccount<Kind>::Clear() {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), Kind::kItemSource));
  return db->Execute(com::Bstr(sql::Format(Kind::kStatements.remove, QuotedText(fields_.Name).c_str())).get());
}

// Name, AdsType, AdsPath, Remarks, the shared block (Enable and EnableDate only at Init), then
// the member defaults. DisplayName is not stored and stays as it is.
template <class Kind>
bool DirectoryAccount<Kind>::LoadRow(CRecordset& rs, RowLoad how) {
  bool all = true;
  const std::string name = RowText(rs, "Name", &all);
  fields_.Name = com::Bstr(name);
  all &= rs.GetLong("AdsType", &fields_.AdsType);
  fields_.AdsPath = com::Bstr(RowText(rs, "AdsPath", &all));
  const std::string remarks = RowText(rs, "Remarks", &all);
  fields_.Remarks = com::Bstr(remarks.empty() ? name : remarks);
  all &= LoadFields(rs, this->account_, AccountFieldRange(how == RowLoad::kInit ? Id::Enable : Id::Auth, Id::StatusChange));
  all &= LoadFields(rs, this->defaults_);
  return all;
}

template <class Kind>
bool DirectoryAccount<Kind>::RowKey(CRecordset& rs, std::string* key) { return rs.GetString("Name", key); }

// Attributes in the load order, taken as written (no Remarks default).
template <class Kind>
HRESULT DirectoryAccount<Kind>::ReadElement(IXMLDOMNode* element) {
  if (!element) return E_POINTER;
  RETURN_IF_FAILED(ReadTextAttribute(element, "Name", &fields_.Name));
  ASSIGN_OR_RETURN(const std::string ads_type, AttributeText(element, "AdsType"));
  fields_.AdsType = LongOfText(ads_type);
  RETURN_IF_FAILED(ReadTextAttribute(element, "AdsPath", &fields_.AdsPath));
  RETURN_IF_FAILED(ReadTextAttribute(element, "Remarks", &fields_.Remarks));
  RETURN_IF_FAILED(ReadAttributes(element, this->account_));
  return ReadAttributes(element, this->defaults_);
}

template <class Kind>
HRESULT DirectoryAccount<Kind>::WriteElement(IXMLDOMNode* element) const {
  RETURN_IF_FAILED(dom::SetAttribute(element, "Name", fields_.Name.get()));
  RETURN_IF_FAILED(SetNumberAttribute(element, "AdsType", fields_.AdsType));
  RETURN_IF_FAILED(dom::SetAttribute(element, "AdsPath", fields_.AdsPath.get()));
  RETURN_IF_FAILED(dom::SetAttribute(element, "Remarks", fields_.Remarks.get()));
  RETURN_IF_FAILED(WriteAttributes(element, this->account_));
  return WriteAttributes(element, this->defaults_);
}

template class DirectoryAccount<DepKind>;
template class DirectoryAccount<GroupKind>;

}  // namespace qva
