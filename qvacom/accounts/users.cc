#include "qvacom/accounts/users.h"

#include <array>

#include "platform/com/text.h"
#include "qvacom/settings/dom.h"
#include "qvacom/settings/list_item.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"

namespace qva {

namespace {

using Id = AccountFieldId;

constexpr std::string_view kSource = "QVA.User.1";

}  // namespace

// ---- CQVAUser ----

#define QVA_USER_PROPERTY(Type, Prop)                                                                 \
  HRESULT CQVAUser::get_##Prop(Type* pVal) { return ::qva::settings::GetValue(user_.Prop, pVal); }    \
  HRESULT CQVAUser::put_##Prop(Type newVal) { return AfterPut(::qva::settings::PutValue(user_.Prop, newVal), &user_.Prop, &user_.Name); } \
  static_assert(true, "")

QVA_USER_PROPERTY(BSTR, Name);
QVA_USER_PROPERTY(BSTR, FullName);
QVA_USER_PROPERTY(BSTR, Dep);
QVA_USER_PROPERTY(BSTR, Domain);
QVA_USER_PROPERTY(BSTR, Remarks);
QVA_USER_PROPERTY(BSTR, RDN);
QVA_USER_PROPERTY(BSTR, AdsPath);
QVA_USER_PROPERTY(LONG, UserType);
QVA_USER_PROPERTY(VARIANT_BOOL, LimitIP);
QVA_USER_PROPERTY(VARIANT_BOOL, AutoResume);
QVA_USER_PROPERTY(LONG, ResumeTime);
QVA_USER_PROPERTY(BSTR, CurIP);

#undef QVA_USER_PROPERTY

HRESULT CQVAUser::get_LastTime(DATE* pVal) { return Load(user_.LastTime, pVal); }
HRESULT CQVAUser::put_LastTime(DATE newVal) {
  Store(user_.LastTime, newVal);
  return S_OK;
}

HRESULT CQVAUser::get_nRef(LONG* pVal) {
  if (!pVal) return E_POINTER;
  IQVAUser* self = this;
  self->AddRef();
  *pVal = static_cast<LONG>(self->Release());
  return S_OK;
}

HRESULT CQVAUser::Init(IUnknown* pDB) {
  db_ = com::ComPtr<IUnknown>(pDB);
  return S_OK;
}

HRESULT CQVAUser::Save(VARIANT_BOOL bAdd) {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), kSource));
  com::Bstr delimiter;
  RETURN_IF_FAILED(db->get_Delimiter(delimiter.put()));
  const std::string last_time = StatementDateTime(user_.LastTime.value, delimiter.utf8());
  const AccountStatementValues a = StatementValues(account_);
  const UserFields& u = user_;
  const std::string name = QuotedText(u.Name), full_name = QuotedText(u.FullName), dep = QuotedText(u.Dep),
                    domain = QuotedText(u.Domain), rdn = QuotedText(u.RDN), ads_path = QuotedText(u.AdsPath),
                    remarks = QuotedText(u.Remarks), cur_ip = QuotedText(u.CurIP);
  std::string text;
  if (bAdd) {
    text = sql::Format(kUserStatements.insert, name.c_str(), full_name.c_str(), dep.c_str(), domain.c_str(),
                       rdn.c_str(), ads_path.c_str(), remarks.c_str(), a.Enable, a.EnableDate.c_str(), a.Auth,
                       int{u.UserType}, last_time.c_str(), a.Dirty, int{u.LimitIP}, int{u.AutoResume},
                       int{u.ResumeTime}, cur_ip.c_str(), a.LimitType, a.BytesResetDate.c_str(),
                       a.TimeResetDate.c_str(), a.TimeLimit, a.TimeLeft, a.TimeQuotaPeriod, a.BytesLimit, a.BytesLeft,
                       a.BytesQuotaPeriod, a.AllTimeLimit, a.AllTimeLeft, a.AllTimeFrom.c_str(), a.AllBytesLimit,
                       a.AllBytesLeft, a.AllBytesFrom.c_str(), a.DateLimit.c_str(), a.CheckFee, a.FeeLimit, a.FeeLeft,
                       a.FeeStop, a.FeeOption, a.FeeByOutBytes, a.FeeByAllBytes, a.FeeByTime);
  } else {
    text = sql::Format(kUserStatements.update, name.c_str(), full_name.c_str(), dep.c_str(), domain.c_str(),
                       rdn.c_str(), ads_path.c_str(), remarks.c_str(), a.Enable, a.EnableDate.c_str(), a.Auth,
                       int{u.UserType}, last_time.c_str(), a.Dirty, int{u.LimitIP}, int{u.AutoResume},
                       int{u.ResumeTime}, cur_ip.c_str(), a.LimitType, a.BytesResetDate.c_str(),
                       a.TimeResetDate.c_str(), a.TimeLimit, a.TimeLeft, a.TimeQuotaPeriod, a.BytesLimit, a.BytesLeft,
                       a.BytesQuotaPeriod, a.AllTimeLimit, a.AllTimeLeft, a.AllTimeFrom.c_str(), a.AllBytesLimit,
                       a.AllBytesLeft, a.AllBytesFrom.c_str(), a.DateLimit.c_str(), a.CheckFee, a.FeeLimit, a.FeeLeft,
                       a.FeeStop, a.FeeOption, a.FeeByOutBytes, a.FeeByAllBytes, a.FeeByTime, name.c_str());
  }
  return db->Execute(com::Bstr(text).get());
}

HRESULT CQVAUser::Clear() {
  ASSIGN_OR_RETURN(const com::ComPtr<IQVADataBase> db, BoundDatabase(db_.get(), kSource));
  return db->Execute(com::Bstr(sql::Format(kUserStatements.remove, QuotedText(user_.Name).c_str())).get());
}

// Columns in the order the product has always read them; Enable and EnableDate only at Init.
bool CQVAUser::LoadRow(CRecordset& rs, RowLoad how) {
  bool all = true;
  const std::string name = com::ToLower(RowText(rs, "Name", &all));
  user_.Name = com::Bstr(name);
  user_.FullName = com::Bstr(RowText(rs, "FullName", &all));
  user_.Dep = com::Bstr(RowText(rs, "Dep", &all));
  user_.Domain = com::Bstr(RowText(rs, "Domain", &all));
  user_.RDN = com::Bstr(RowText(rs, "RDN", &all));
  user_.AdsPath = com::Bstr(RowText(rs, "AdsPath", &all));
  const std::string remarks = RowText(rs, "Remarks", &all);
  user_.Remarks = com::Bstr(remarks.empty() ? name : remarks);
  all &= LoadFields(rs, account_, AccountFieldRange(how == RowLoad::kInit ? Id::Enable : Id::Auth, Id::Auth));
  all &= rs.GetLong("UserType", &user_.UserType);
  all &= rs.GetDate("LastTime", &user_.LastTime);
  LONG flag = 0;
  all &= rs.GetLong("LimitIP", &flag);
  user_.LimitIP = static_cast<VARIANT_BOOL>(flag);
  all &= LoadFields(rs, account_, AccountFieldRange(Id::Dirty, Id::Dirty));
  flag = 0;
  all &= rs.GetLong("AutoResume", &flag);
  user_.AutoResume = static_cast<VARIANT_BOOL>(flag);
  all &= rs.GetLong("ResumeTime", &user_.ResumeTime);
  user_.CurIP = com::Bstr(RowText(rs, "CurIP", &all));
  all &= LoadFields(rs, account_, AccountFieldRange(Id::LimitType, Id::StatusChange));
  return all;
}

bool CQVAUser::RowKey(CRecordset& rs, std::string* key) {
  std::string name;
  if (!rs.GetString("Name", &name)) return false;
  *key = com::ToLower(name);
  return true;
}

namespace {

// The user's own attributes, read beside the account block's in one walk over the element: the
// texts, in the order of kTextMembers, then the others.
constexpr std::string_view kUserAttributes[] = {
    "Name",  "FullName", "Dep",      "Domain",  "RDN",        "AdsPath",    "Remarks",
    "CurIP", "UserType", "LastTime", "LimitIP", "AutoResume", "ResumeTime",
};
constexpr com::Bstr UserFields::*kTextMembers[] = {
    &UserFields::Name, &UserFields::FullName, &UserFields::Dep,     &UserFields::Domain,
    &UserFields::RDN,  &UserFields::AdsPath,  &UserFields::Remarks, &UserFields::CurIP,
};
constexpr size_t kUserAttributeCount = std::size(kUserAttributes);

}  // namespace

// Names and remarks are taken as written (no lower-casing, no Remarks default); a missing
// attribute reads as empty text.
HRESULT CQVAUser::ReadElement(IXMLDOMNode* element) {
  if (!element) return E_POINTER;
  std::array<bool, kUserAttributeCount> present{};
  const auto set = [&](size_t at, std::string_view text) {
    if (at < std::size(kTextMembers)) {
      user_.*kTextMembers[at] = com::Bstr(text);
      return;
    }
    const std::string_view name = kUserAttributes[at];
    if (name == "UserType") {
      user_.UserType = LongOfText(text);
    } else if (name == "LastTime") {
      user_.LastTime = DateOfAttributeText(text, kXmlDateTimeParse);
    } else if (name == "LimitIP") {
      user_.LimitIP = static_cast<VARIANT_BOOL>(LongOfText(text));
    } else if (name == "AutoResume") {
      user_.AutoResume = static_cast<VARIANT_BOOL>(LongOfText(text));
    } else {
      user_.ResumeTime = LongOfText(text);
    }
  };
  RETURN_IF_FAILED(ReadElementAttributes(
      element, kUserAttributes,
      [&](size_t at, std::string_view text) {
        present[at] = true;
        set(at, text);
      },
      account_));
  for (size_t at = 0; at < kUserAttributeCount; ++at)
    if (!present[at]) set(at, {});
  return S_OK;
}

HRESULT CQVAUser::WriteElement(IXMLDOMNode* element) const {
  RETURN_IF_FAILED(dom::SetAttribute(element, "Name", user_.Name.get()));
  RETURN_IF_FAILED(dom::SetAttribute(element, "FullName", user_.FullName.get()));
  RETURN_IF_FAILED(dom::SetAttribute(element, "Dep", user_.Dep.get()));
  RETURN_IF_FAILED(dom::SetAttribute(element, "Domain", user_.Domain.get()));
  RETURN_IF_FAILED(dom::SetAttribute(element, "RDN", user_.RDN.get()));
  RETURN_IF_FAILED(dom::SetAttribute(element, "AdsPath", user_.AdsPath.get()));
  RETURN_IF_FAILED(dom::SetAttribute(element, "Remarks", user_.Remarks.get()));
  RETURN_IF_FAILED(WriteAttributes(element, account_, AccountFieldRange(Id::Enable, Id::Auth)));
  RETURN_IF_FAILED(SetNumberAttribute(element, "UserType", user_.UserType));
  RETURN_IF_FAILED(SetDateAttribute(element, "LastTime", user_.LastTime.value, sql::kDateTimeFormat));
  RETURN_IF_FAILED(SetNumberAttribute(element, "LimitIP", LONG{user_.LimitIP}));
  RETURN_IF_FAILED(WriteAttributes(element, account_, AccountFieldRange(Id::Dirty, Id::Dirty)));
  RETURN_IF_FAILED(SetNumberAttribute(element, "AutoResume", LONG{user_.AutoResume}));
  RETURN_IF_FAILED(SetNumberAttribute(element, "ResumeTime", user_.ResumeTime));
  RETURN_IF_FAILED(dom::SetAttribute(element, "CurIP", user_.CurIP.get()));
  return WriteAttributes(element, account_, AccountFieldRange(Id::LimitType, Id::StatusChange));
}

// ---- CQVAUsers ----

HRESULT CQVAUsers::Item(VARIANT v, IQVAUser** pVal) { return users_.Lookup(v, pVal); }
HRESULT CQVAUsers::Remove(VARIANT Index) { return users_.Remove(Index); }
HRESULT CQVAUsers::get__NewEnum(IUnknown** pVal) { return users_.NewEnum(pVal); }
HRESULT CQVAUsers::get_Count(LONG* pVal) { return users_.Count(pVal); }
HRESULT CQVAUsers::Init(IUnknown* pDB) { return users_.Init(pDB); }
HRESULT CQVAUsers::Add(BSTR Name, IQVAUser** pVal) { return users_.Add(Name, pVal); }
HRESULT CQVAUsers::Exists(BSTR Name, VARIANT_BOOL* Exist) { return users_.Exists(Name, Exist); }
HRESULT CQVAUsers::Index(VARIANT v, IQVAUser** pVal) { return users_.Index(v, pVal); }
HRESULT CQVAUsers::Reload() { return users_.Reload(); }
HRESULT CQVAUsers::LoadXML(IUnknown* pDocument) { return users_.LoadXML(pDocument); }
HRESULT CQVAUsers::SaveXML(IUnknown* pDocument) { return users_.SaveXML(pDocument); }

HRESULT CQVAUsers::FindByFullname(BSTR Name, VARIANT_BOOL* Exist) {
  if (!Exist) return E_POINTER;
  *Exist = 0;
  if (!users_.Find([&](const CQVAUser& u) { return settings::SameBstr(u.user().FullName.get(), Name); }))
    return S_FALSE;
  *Exist = 1;
  return S_OK;
}

HRESULT CQVAUsers::HaveUsersInDep(BSTR Dep, VARIANT_BOOL* Have) {
  if (!Have) return E_POINTER;
  *Have = users_.Find([&](const CQVAUser& u) { return settings::SameBstr(u.user().Dep.get(), Dep); }) ? 1 : 0;
  return S_OK;
}

HRESULT CQVAUsers::RemoveFromDep(BSTR Name) {
  auto& all = users_.items().items();
  for (size_t i = 0; i < all.size();) {
    if (!settings::SameBstr(all[i]->user().Dep.get(), Name)) {
      ++i;
      continue;
    }
    if (FAILED(users_.Erase(i))) return E_FAIL;
  }
  return S_OK;
}

}  // namespace qva
