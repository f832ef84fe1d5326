#include "qvacom/accounts/limit_ips.h"

#include <cstdio>

#include "qvacom/accounts/account_block.h"
#include "qvacom/settings/dom.h"
#include "qvacom/settings/list_item.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"

namespace qva {

namespace {

constexpr std::string_view kSource = "QVA.LimitIP.1";

}  // namespace

double LimitIPNumber(std::string_view address) {
  const std::string text(address);  // sscanf needs the terminator
  int a = 0, b = 0, c = 0, d = 0;
  if (std::sscanf(text.c_str(), "%d.%d.%d.%d", &a, &b, &c, &d) != 4) return 0;
  return a * 1000000.0 + b * 1000.0 + c + d * 0.001;
}

// ---- CQVALimitIP ----

HRESULT CQVALimitIP::get_Name(BSTR* pVal) { return settings::GetValue(name_, pVal); }
HRESULT CQVALimitIP::put_Name(BSTR newVal) { return AfterPut(settings::PutValue(name_, newVal), &name_, &name_); }
HRESULT CQVALimitIP::get_StartIP(BSTR* pVal) { return settings::GetValue(start_ip_, pVal); }
HRESULT CQVALimitIP::put_StartIP(BSTR newVal) { return settings::PutValue(start_ip_, newVal); }
HRESULT CQVALimitIP::get_EndIP(BSTR* pVal) { return settings::GetValue(end_ip_, pVal); }
HRESULT CQVALimitIP::put_EndIP(BSTR newVal) { return settings::PutValue(end_ip_, newVal); }
HRESULT CQVALimitIP::get_dbStartIP(double* pVal) { return settings::GetValue(db_start_ip_, pVal); }
HRESULT CQVALimitIP::put_dbStartIP(double newVal) { return settings::PutValue(db_start_ip_, newVal); }
HRESULT CQVALimitIP::get_dbEndIP(double* pVal) { return settings::GetValue(db_end_ip_, pVal); }
HRESULT CQVALimitIP::put_dbEndIP(double newVal) { return settings::PutValue(db_end_ip_, newVal); }

HRESULT CQVALimitIP::Init(IUnknown* pDB) {
  db_ = com::ComPtr<IUnknown>(pDB);
  return S_OK;
}

HRESULT CQVALimitIP::Save(VARIANT_BOOL bAdd) {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), kSource));
  if (!bAdd) return S_OK;
  return db->Execute(com::Bstr(sql::Format(kLimitIPStatements.insert, QuotedText(name_).c_str(),
                                           QuotedText(start_ip_).c_str(), QuotedText(end_ip_).c_str()))
                         .get());
}

HRESULT CQVALimitIP::Clear() {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), kSource));
  return db->Execute(com::Bstr(sql::Format(kLimitIPStatements.remove, QuotedText(name_).c_str(),
                                           QuotedText(start_ip_).c_str(), QuotedText(end_ip_).c_str()))
                         .get());
}

bool CQVALimitIP::LoadRow(CRecordset& rs, RowLoad) {
  bool all = true;
  name_ = com::Bstr(RowText(rs, "Name", &all));
  const std::string start = RowText(rs, "StartIP", &all);
  start_ip_ = com::Bstr(start);
  db_start_ip_ = LimitIPNumber(start);
  const std::string end = RowText(rs, "EndIP", &all);
  end_ip_ = com::Bstr(end);
  db_end_ip_ = LimitIPNumber(end);
  return all;
}

bool CQVALimitIP::RowKey(CRecordset& rs, std::string* key) { return rs.GetString("Name", key); }

HRESULT CQVALimitIP::ReadElement(IXMLDOMNode* element) {
  if (!element) return E_POINTER;
  RETURN_IF_FAILED(ReadTextAttribute(element, "Name", &name_));
  RETURN_IF_FAILED(ReadTextAttribute(element, "StartIP", &start_ip_));
  RETURN_IF_FAILED(ReadTextAttribute(element, "EndIP", &end_ip_));
  db_start_ip_ = LimitIPNumber(start_ip_.utf8());
  db_end_ip_ = LimitIPNumber(end_ip_.utf8());
  return S_OK;
}

HRESULT CQVALimitIP::WriteElement(IXMLDOMNode* element) const {
  RETURN_IF_FAILED(dom::SetAttribute(element, "Name", name_.get()));
  RETURN_IF_FAILED(dom::SetAttribute(element, "StartIP", start_ip_.get()));
  return dom::SetAttribute(element, "EndIP", end_ip_.get());
}

// ---- CQVALimitIPs ----

HRESULT CQVALimitIPs::Init(IUnknown* pDB) { return ranges_.Init(pDB); }
HRESULT CQVALimitIPs::Add(BSTR Name, IQVALimitIP** pVal) { return ranges_.Add(Name, pVal); }
HRESULT CQVALimitIPs::get_Count(LONG* pVal) { return ranges_.Count(pVal); }
HRESULT CQVALimitIPs::get__NewEnum(IUnknown** pVal) { return ranges_.NewEnum(pVal); }
HRESULT CQVALimitIPs::Index(VARIANT v, IQVALimitIP** pVal) { return ranges_.Index(v, pVal); }
HRESULT CQVALimitIPs::LoadXML(IUnknown* pDocument) { return ranges_.LoadXML(pDocument); }
HRESULT CQVALimitIPs::SaveXML(IUnknown* pDocument) { return ranges_.SaveXML(pDocument); }

// The first range, in list order, of exactly that name and those two address texts; or null.
CQVALimitIP* CQVALimitIPs::Range(BSTR Name, BSTR Start, BSTR End) const {
  return ranges_.NamedWhere(com::BstrToUtf8(Name), [&](const CQVALimitIP& range) {
    return settings::SameBstr(range.name().get(), Name) && settings::SameBstr(range.start_ip().get(), Start) &&
           settings::SameBstr(range.end_ip().get(), End);
  });
}

HRESULT CQVALimitIPs::Exists(BSTR Name, BSTR Start, BSTR End, VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = Range(Name, Start, End) ? 1 : 0;
  return S_OK;
}

HRESULT CQVALimitIPs::Remove(BSTR Name, BSTR Start, BSTR End) {
  CQVALimitIP* range = Range(Name, Start, End);
  if (!range) return ranges_.Error(E_FAIL, "no range of " + com::BstrToUtf8(Name) + " has those addresses");
  return ranges_.Erase(ranges_.PositionOf(range));
}

HRESULT CQVALimitIPs::RemoveAll(BSTR Name) {
  for (CQVALimitIP* range = ranges_.Named(Name); range; range = ranges_.Named(Name))
    RETURN_IF_FAILED(ranges_.Erase(ranges_.PositionOf(range)));
  return S_OK;
}

}  // namespace qva
