#include "qvacom/accounts/computers.h"

#include "qvacom/settings/dom.h"
#include "qvacom/settings/list_item.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"

namespace qva {

namespace {

using Id = AccountFieldId;

constexpr std::string_view kSource = "QVA.Computer.1";

}  // namespace

// ---- CQVAComputer ----

#define QVA_COMPUTER_PROPERTY(Type, Prop)                                                                     \
  HRESULT CQVAComputer::get_##Prop(Type* pVal) { return ::qva::settings::GetValue(computer_.Prop, pVal); }    \
  HRESULT CQVAComputer::put_##Prop(Type newVal) { return AfterPut(::qva::settings::PutValue(computer_.Prop, newVal), &computer_.Prop, &computer_.IP); } \
  static_assert(true, "")

QVA_COMPUTER_PROPERTY(BSTR, Name);
QVA_COMPUTER_PROPERTY(BSTR, IP);
QVA_COMPUTER_PROPERTY(BSTR, Group);
QVA_COMPUTER_PROPERTY(BSTR, Remarks);
QVA_COMPUTER_PROPERTY(BSTR, CurUser);

#undef QVA_COMPUTER_PROPERTY

HRESULT CQVAComputer::get_LastTime(DATE* pVal) { return Load(computer_.LastTime, pVal); }
HRESULT CQVAComputer::put_LastTime(DATE newVal) {
  Store(computer_.LastTime, newVal);
  return S_OK;
}

HRESULT CQVAComputer::Init(IUnknown* pDB) {
  db_ = com::ComPtr<IUnknown>(pDB);
  return S_OK;
}

HRESULT CQVAComputer::Save(VARIANT_BOOL bAdd) {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), kSource));
  com::Bstr delimiter;
  RETURN_IF_FAILED(db->get_Delimiter(delimiter.put()));
  const std::string last_time = StatementDateTime(computer_.LastTime.value, delimiter.utf8());
  const AccountStatementValues a = StatementValues(account_);
  const ComputerFields& c = computer_;
  const std::string name = QuotedText(c.Name), ip = QuotedText(c.IP), group = QuotedText(c.Group),
                    remarks = QuotedText(c.Remarks), cur_user = QuotedText(c.CurUser);
  std::string text;
  if (bAdd) {
    text =
        sql::Format(kComputerStatements.insert, name.c_str(), ip.c_str(), group.c_str(), remarks.c_str(), a.Enable,
                    a.EnableDate.c_str(), a.Auth, last_time.c_str(), cur_user.c_str(), a.Dirty, a.LimitType,
                    a.BytesResetDate.c_str(), a.TimeResetDate.c_str(), a.TimeLimit, a.TimeLeft, a.TimeQuotaPeriod,
                    a.BytesLimit, a.BytesLeft, a.BytesQuotaPeriod, a.AllTimeLimit, a.AllTimeLeft, a.AllTimeFrom.c_str(),
                    a.AllBytesLimit, a.AllBytesLeft, a.AllBytesFrom.c_str(), a.DateLimit.c_str(), a.CheckFee,
                    a.FeeLimit, a.FeeLeft, a.FeeStop, a.FeeOption, a.FeeByOutBytes, a.FeeByAllBytes, a.FeeByTime);
  } else {
    text = sql::Format(kComputerStatements.update, name.c_str(), ip.c_str(), group.c_str(), remarks.c_str(), a.Enable,
                       a.EnableDate.c_str(), a.Auth, last_time.c_str(), cur_user.c_str(), a.Dirty, a.LimitType,
                       a.BytesResetDate.c_str(), a.TimeResetDate.c_str(), a.TimeLimit, a.TimeLeft, a.TimeQuotaPeriod,
                       a.BytesLimit, a.BytesLeft, a.BytesQuotaPeriod, a.AllTimeLimit, a.AllTimeLeft,
                       a.AllTimeFrom.c_str(), a.AllBytesLimit, a.AllBytesLeft, a.AllBytesFrom.c_str(),
                       a.DateLimit.c_str(), a.CheckFee, a.FeeLimit, a.FeeLeft, a.FeeStop, a.FeeOption, a.FeeByOutBytes,
                       a.FeeByAllBytes, a.FeeByTime, ip.c_str());
  }
  return db->Execute(com::Bstr(text).get());
}

HRESULT CQVAComputer::Clear() {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), kSource));
  return db->Execute(com::Bstr(sql::Format(kComputerStatements.remove, QuotedText(computer_.IP).c_str())).get());
}

// Columns in the order the product has always read them; Enable and EnableDate only at Init.
bool CQVAComputer::LoadRow(CRecordset& rs, RowLoad how) {
  bool all = true;
  const std::string name = RowText(rs, "Name", &all);
  computer_.Name = com::Bstr(name);
  computer_.IP = com::Bstr(RowText(rs, "IP", &all));
  computer_.Group = com::Bstr(RowText(rs, "Group", &all));
  const std::string remarks = RowText(rs, "Remarks", &all);
  computer_.Remarks = com::Bstr(remarks.empty() ? name : remarks);
  all &= LoadFields(rs, account_, AccountFieldRange(how == RowLoad::kInit ? Id::Enable : Id::Auth, Id::Auth));
  all &= rs.GetDate("LastTime", &computer_.LastTime);
  computer_.CurUser = com::Bstr(RowText(rs, "CurUser", &all));
  all &= LoadFields(rs, account_, AccountFieldRange(Id::Dirty, Id::StatusChange));
  return all;
}

bool CQVAComputer::RowKey(CRecordset& rs, std::string* key) { return rs.GetString("IP", key); }

// Attributes in the order WriteElement writes them, taken as written (no Remarks default).
HRESULT CQVAComputer::ReadElement(IXMLDOMNode* element) {
  if (!element) return E_POINTER;
  RETURN_IF_FAILED(ReadTextAttribute(element, "Name", &computer_.Name));
  RETURN_IF_FAILED(ReadTextAttribute(element, "IP", &computer_.IP));
  RETURN_IF_FAILED(ReadTextAttribute(element, "Group", &computer_.Group));
  RETURN_IF_FAILED(ReadTextAttribute(element, "Remarks", &computer_.Remarks));
  ASSIGN_OR_RETURN(const std::string last_time, AttributeText(element, "LastTime"));
  computer_.LastTime = DateOfAttributeText(last_time, kXmlDateTimeParse);
  RETURN_IF_FAILED(ReadTextAttribute(element, "CurUser", &computer_.CurUser));
  return ReadAttributes(element, account_);
}

HRESULT CQVAComputer::WriteElement(IXMLDOMNode* element) const {
  RETURN_IF_FAILED(dom::SetAttribute(element, "Name", computer_.Name.get()));
  RETURN_IF_FAILED(dom::SetAttribute(element, "IP", computer_.IP.get()));
  RETURN_IF_FAILED(dom::SetAttribute(element, "Group", computer_.Group.get()));
  RETURN_IF_FAILED(dom::SetAttribute(element, "Remarks", computer_.Remarks.get()));
  RETURN_IF_FAILED(SetDateAttribute(element, "LastTime", computer_.LastTime.value, sql::kDateTimeFormat));
  RETURN_IF_FAILED(dom::SetAttribute(element, "CurUser", computer_.CurUser.get()));
  return WriteAttributes(element, account_);
}

// ---- CQVAComputers ----

// Not Collection::Add, which sets the new item's Name: a computer is added by its IP.
HRESULT CQVAComputers::Add(BSTR IP, IQVAComputer** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  ASSIGN_OR_RETURN(com::ComPtr<CQVAComputer> computer, computers_.NewItem());
  RETURN_IF_FAILED(computer->put_IP(IP));
  return computers_.Append(std::move(computer), pVal);
}

HRESULT CQVAComputers::get_Count(LONG* pVal) { return computers_.Count(pVal); }
HRESULT CQVAComputers::Init(IUnknown* pDB) { return computers_.Init(pDB); }
HRESULT CQVAComputers::get__NewEnum(IUnknown** pVal) { return computers_.NewEnum(pVal); }
HRESULT CQVAComputers::Item(VARIANT v, IQVAComputer** pVal) { return computers_.Lookup(v, pVal); }
HRESULT CQVAComputers::Exists(BSTR IP, VARIANT_BOOL* pVal) { return computers_.Exists(IP, pVal); }
HRESULT CQVAComputers::Remove(VARIANT v) { return computers_.Remove(v); }
HRESULT CQVAComputers::Index(VARIANT v, IQVAComputer** pVal) { return computers_.Index(v, pVal); }
HRESULT CQVAComputers::Reload() { return computers_.Reload(); }
HRESULT CQVAComputers::LoadXML(IUnknown* pDocument) { return computers_.LoadXML(pDocument); }
HRESULT CQVAComputers::SaveXML(IUnknown* pDocument) { return computers_.SaveXML(pDocument); }

HRESULT CQVAComputers::ItemByName(BSTR Name, IQVAComputer** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  const std::optional<size_t> at =
      computers_.Find([&](const CQVAComputer& c) { return settings::SameBstr(c.computer().Name.get(), Name); });
  if (!at) return S_FALSE;
  *pVal = computers_.items().items()[*at].get();
  (*pVal)->AddRef();
  return S_OK;
}

HRESULT CQVAComputers::HaveComputersInGroup(BSTR Name, VARIANT_BOOL* Have) {
  if (!Have) return E_POINTER;
  const auto in_group = [&](const CQVAComputer& c) { return settings::SameBstr(c.computer().Group.get(), Name); };
  *Have = computers_.Find(in_group) ? 1 : 0;
  return S_OK;
}

HRESULT CQVAComputers::RemoveFromGroup(BSTR Name) {
  auto& all = computers_.items().items();
  for (size_t i = 0; i < all.size();) {
    if (!settings::SameBstr(all[i]->computer().Group.get(), Name)) {
      ++i;
      continue;
    }
    if (FAILED(computers_.Erase(i))) return E_FAIL;
  }
  return S_OK;
}

}  // namespace qva
