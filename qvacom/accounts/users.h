// The user accounts: CQVAUser, one row of the table Users, and CQVAUsers, the collection the
// array object hands out through its Users property.
//
// A user is keyed by Name. Names are held in lower case after a load from the table (so Item
// with "Alice" does not find the row stored as Alice), but as written after Add or LoadXML.
// An empty Remarks column loads as the lower-cased name. Changes live in memory until Save.
#pragma once

#include <string>

#include "msxml_idl.h"
#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "qvacom/accounts/account_members.h"
#include "qvacom/accounts/collection.h"
#include "qvacom/accounts/statements.h"
#include "qvacom_idl.h"

namespace qva {

class CRecordset;

// The user's own fields, beside the shared account block.
struct UserFields {
  com::Bstr Name, FullName, Dep, Domain, Remarks, RDN, AdsPath, CurIP;
  LONG UserType = 0;
  DateWithStatus LastTime;
  VARIANT_BOOL LimitIP = 0;
  VARIANT_BOOL AutoResume = 0;
  LONG ResumeTime = 0;
};

// Declares get_/put_ of one of the user's own properties.
#define QVA_USER_PROPERTY(Type, Prop)                        \
  HRESULT STDMETHODCALLTYPE get_##Prop(Type* pVal) override; \
  HRESULT STDMETHODCALLTYPE put_##Prop(Type newVal) override

class CQVAUser : public AccountMembers<IQVAUser>, public ListedItem {
 public:
  QVA_USER_PROPERTY(BSTR, Name);
  // The object's current reference count.
  HRESULT STDMETHODCALLTYPE get_nRef(LONG* pVal) override;
  QVA_USER_PROPERTY(BSTR, FullName);
  QVA_USER_PROPERTY(BSTR, Dep);
  QVA_USER_PROPERTY(BSTR, Domain);
  QVA_USER_PROPERTY(BSTR, Remarks);
  QVA_USER_PROPERTY(BSTR, RDN);
  QVA_USER_PROPERTY(BSTR, AdsPath);
  QVA_USER_PROPERTY(LONG, UserType);
  QVA_USER_PROPERTY(DATE, LastTime);
  QVA_USER_PROPERTY(VARIANT_BOOL, LimitIP);
  QVA_USER_PROPERTY(VARIANT_BOOL, AutoResume);
  QVA_USER_PROPERTY(LONG, ResumeTime);
  QVA_USER_PROPERTY(BSTR, CurIP);

  // INSERT (bAdd non-zero) or UPDATE by the Name held now (a user renamed in memory updates no
  // row). Returns the database object's result for the statement, with its error information;
  // E_FAIL when the user is bound to no database.
  HRESULT STDMETHODCALLTYPE Save(VARIANT_BOOL bAdd) override;
  // Deletes every row of the user's Name; the database object's result.
  HRESULT STDMETHODCALLTYPE Clear() override;
  // Keeps the database object (with a reference) for Save and Clear; null unbinds.
  HRESULT STDMETHODCALLTYPE Init(IUnknown* pDB) override;

  // ---- for the collection ----
  const com::Bstr& name() const { return user_.Name; }
  const UserFields& user() const { return user_; }
  bool LoadRow(CRecordset& rs, RowLoad how);
  static bool RowKey(CRecordset& rs, std::string* key);
  HRESULT ReadElement(IXMLDOMNode* element);
  HRESULT WriteElement(IXMLDOMNode* element) const;

 private:
  com::ComPtr<IUnknown> db_;
  UserFields user_;
};

#undef QVA_USER_PROPERTY

struct UsersTraits {
  using Item = CQVAUser;
  static constexpr std::string_view kSource = "QVA.Users.1";
  static constexpr const EntityStatements& kStatements = kUserStatements;
  static constexpr std::string_view kSection = "Users";
  static constexpr std::string_view kElement = "User";
  static constexpr HRESULT kAbsent = S_FALSE;
};

class CQVAUsers : public com::Dispatch<IQVAUsers> {
 public:
  // Item: exact UTF-8 bytes of the name; Remove, Exists, FindByFullname, HaveUsersInDep and
  // RemoveFromDep: exact BSTR comparison. Exists and FindByFullname give 1 and S_OK on a match,
  // 0 and S_FALSE otherwise; HaveUsersInDep gives 1 or 0 and always S_OK. RemoveFromDep deletes
  // every user of the department (rows and items); when a delete fails it stops there with
  // E_FAIL, the users removed before staying removed.
  QVA_DECL_IQVAUsers;

  const Collection<UsersTraits>& users() const { return users_; }

 private:
  Collection<UsersTraits> users_;
};

}  // namespace qva
