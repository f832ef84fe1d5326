#include "qvacom/accounts/fees.h"

#include "qvacom/accounts/account_block.h"
#include "qvacom/settings/dom.h"
#include "qvacom/settings/list_item.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"

namespace qva {

namespace {

constexpr std::string_view kSource = "QVA.Fee.1";
constexpr std::string_view kCollectionSource = "QVA.Fees.1";

// The day part of Item's key: two-digit year, month, day. Empty for a DATE outside the calendar.
std::string DayKey(DATE date) { return sql::FormatDate(date, "%y%m%d"); }

}  // namespace

// ---- CQVAFee ----

HRESULT CQVAFee::get_Name(BSTR* pVal) { return settings::GetValue(name_, pVal); }
HRESULT CQVAFee::put_Name(BSTR newVal) { return AfterPut(settings::PutValue(name_, newVal), &name_, &name_); }
HRESULT CQVAFee::get_Date(DATE* pVal) { return settings::GetValue(date_, pVal); }
HRESULT CQVAFee::put_Date(DATE newVal) { return settings::PutValue(date_, newVal); }
HRESULT CQVAFee::get_FeeAdd(double* pVal) { return settings::GetValue(fee_add_, pVal); }
HRESULT CQVAFee::put_FeeAdd(double newVal) { return settings::PutValue(fee_add_, newVal); }

HRESULT CQVAFee::Init(QvaFeeType FeeType, IUnknown* pDB) {
  if (!IsFeeType(FeeType)) return com::ReportError(E_INVALIDARG, kSource, "the fee type names no fee table");
  fee_type_ = FeeType;
  db_ = com::ComPtr<IUnknown>(pDB);
  return S_OK;
}

HRESULT CQVAFee::Save(VARIANT_BOOL Add) {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), kSource));
  com::Bstr delimiter;
  RETURN_IF_FAILED(db->get_Delimiter(delimiter.put()));
  const std::string date = StatementDateTime(date_, delimiter.utf8());
  const std::string name = QuotedText(name_);
  const EntityStatements& statements = kFeeStatements[fee_type_];
  const std::string text =
      Add ? sql::Format(statements.insert, name.c_str(), date.c_str(), fee_add_)
          : sql::Format(statements.update, name.c_str(), date.c_str(), fee_add_, name.c_str(), date.c_str());
  return db->Execute(com::Bstr(text).get());
}

HRESULT CQVAFee::Clear() {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), kSource));
  return db->Execute(com::Bstr(sql::Format(kFeeStatements[fee_type_].remove, QuotedText(name_).c_str())).get());
}

bool CQVAFee::LoadRow(CRecordset& rs, RowLoad) {
  bool all = true;
  name_ = com::Bstr(RowText(rs, "Name", &all));
  DateWithStatus date;
  all &= rs.GetDate("Date", &date);
  date_ = date.value;
  all &= rs.GetDouble("FeeAdd", &fee_add_);
  return all;
}

bool CQVAFee::RowKey(CRecordset& rs, std::string* key) { return rs.GetString("Name", key); }

HRESULT CQVAFee::ReadElement(IXMLDOMNode* element) {
  if (!element) return E_POINTER;
  RETURN_IF_FAILED(ReadTextAttribute(element, "Name", &name_));
  ASSIGN_OR_RETURN(const std::string date, AttributeText(element, "Date"));
  date_ = DateOfAttributeText(date, kXmlDateParse).value;
  ASSIGN_OR_RETURN(const std::string fee_add, AttributeText(element, "FeeAdd"));
  fee_add_ = DoubleOfText(fee_add);
  return S_OK;
}

HRESULT CQVAFee::WriteElement(IXMLDOMNode* element) const {
  RETURN_IF_FAILED(dom::SetAttribute(element, "Name", name_.get()));
  RETURN_IF_FAILED(SetDateAttribute(element, "Date", date_, sql::kDateFormat));
  return SetNumberAttribute(element, "FeeAdd", fee_add_);
}

// ---- CQVAFees ----

HRESULT CQVAFees::Init(QvaFeeType FeeType, IUnknown* pDB) {
  if (!IsFeeType(FeeType)) return com::ReportError(E_INVALIDARG, kCollectionSource, "the fee type names no fee table");
  if (fees_.index() != static_cast<size_t>(FeeType)) {
    switch (FeeType) {
      case qvaUserFee:
        fees_.emplace<qvaUserFee>();
        break;
      case qvaDepFee:
        fees_.emplace<qvaDepFee>();
        break;
      case qvaComputerFee:
        fees_.emplace<qvaComputerFee>();
        break;
      case qvaGroupFee:
        fees_.emplace<qvaGroupFee>();
        break;
    }
  }
  return std::visit([&](auto& fees) { return fees.Init(pDB); }, fees_);
}

HRESULT CQVAFees::Add(BSTR Name, IQVAFee** pVal) {
  return std::visit([&](auto& fees) { return fees.Add(Name, pVal); }, fees_);
}

HRESULT CQVAFees::get_Count(LONG* pVal) {
  return std::visit([&](const auto& fees) { return fees.Count(pVal); }, fees_);
}

HRESULT CQVAFees::get__NewEnum(IUnknown** pVal) {
  return std::visit([&](const auto& fees) { return fees.NewEnum(pVal); }, fees_);
}

HRESULT CQVAFees::Item(BSTR Name, DATE Date, IQVAFee** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  const std::string name = com::BstrToUtf8(Name);
  const std::string day = DayKey(Date);
  if (day.empty()) return com::ReportError(E_FAIL, kCollectionSource, "the date is not a calendar day");
  return std::visit(
      [&](const auto& fees) -> HRESULT {
        CQVAFee* fee = fees.NamedWhere(name, [&](const CQVAFee& f) { return DayKey(f.date()) == day; });
        if (!fee) return fees.Error(E_FAIL, "no fee of " + name + " is booked on that day");
        *pVal = fee;
        (*pVal)->AddRef();
        return S_OK;
      },
      fees_);
}

HRESULT CQVAFees::LoadXML(IUnknown* pDocument) {
  return std::visit([&](auto& fees) { return fees.LoadXML(pDocument); }, fees_);
}

HRESULT CQVAFees::SaveXML(IUnknown* pDocument) {
  return std::visit([&](const auto& fees) { return fees.SaveXML(pDocument); }, fees_);
}

}  // namespace qva
