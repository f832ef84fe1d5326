// Departments and groups of computers: the two account kinds that keep member defaults and are
// known by a name from the directory. They have the same fields, statements of the same shape,
// the same XML form and collections with the same members, so both are this one template over a
// small Kind; deps.h and groups.h give the Kinds and the class names.
//
//   struct Kind {
//     using Item = IQVADep;  using Collection = IQVADeps;   // the automation interfaces
//     static constexpr std::string_view kItemSource;         // "QVA.Dep.1"
//     static constexpr std::string_view kSource;             // "QVA.Deps.1"
//     static constexpr const EntityStatements& kStatements;  // insert, update, remove, select, reload
//     static constexpr std::string_view kSection, kElement;  // "Deps", "Dep"
//   };
//
// An account is keyed by Name, compared exactly (names keep their letter case on load). An empty
// Remarks column loads as the name. AdsType and AdsPath are written by the INSERT only: a
// Save(false) leaves the stored ones. DisplayName lives in memory only. Changes live in memory
// until Save.
#pragma once

#include <string>
#include <string_view>

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

// The account's own fields, beside the shared account block and the member defaults.
struct DirectoryFields {
  com::Bstr Name, AdsPath, Remarks, DisplayName;
  LONG AdsType = 0;
};

template <class Kind>
class DirectoryAccount : public AccountDefaultMembers<typename Kind::Item>, public ListedItem {
 public:
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Name(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_AdsType(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_AdsType(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE get_AdsPath(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_AdsPath(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_Remarks(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Remarks(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_DisplayName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_DisplayName(BSTR newVal) override;

  // INSERT (bAdd non-zero) or UPDATE by the Name held now (an account renamed in memory updates
  // no row). Returns the database object's result for the statement, with its error
  // information; E_FAIL when bound to no database.
  HRESULT STDMETHODCALLTYPE Save(VARIANT_BOOL bAdd) override;
  // Deletes every row of the account's Name; the database object's result.
  HRESULT STDMETHODCALLTYPE Clear() override;
  // Keeps the database object (with a reference) for Save and Clear; null unbinds.
  HRESULT STDMETHODCALLTYPE Init(IUnknown* pDB) override;

  // ---- for the collection ----
  const com::Bstr& name() const { return fields_.Name; }
  const DirectoryFields& fields() const { return fields_; }
  bool LoadRow(CRecordset& rs, RowLoad how);
  static bool RowKey(CRecordset& rs, std::string* key);
  HRESULT ReadElement(IXMLDOMNode* element);
  HRESULT WriteElement(IXMLDOMNode* element) const;

 private:
  com::ComPtr<IUnknown> db_;
  DirectoryFields fields_;
};

template <class Kind>
struct DirectoryTraits {
  using Item = DirectoryAccount<Kind>;
  static constexpr std::string_view kSource = Kind::kSource;
  static constexpr const EntityStatements& kStatements = Kind::kStatements;
  static constexpr std::string_view kSection = Kind::kSection;
  static constexpr std::string_view kElement = Kind::kElement;
  static constexpr HRESULT kAbsent = S_OK;
};

template <class Kind>
class DirectoryAccounts : public com::Dispatch<typename Kind::Collection> {
  using ItemI = typename Kind::Item;

 public:
  // The collection pattern as collection.h describes it; Exists gives 1 on a match, 0 otherwise,
  // and S_OK either way.
  HRESULT STDMETHODCALLTYPE Init(IUnknown* pDB) override { return accounts_.Init(pDB); }
  HRESULT STDMETHODCALLTYPE Add(BSTR Name, ItemI** pVal) override { return accounts_.Add(Name, pVal); }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) override { return accounts_.Count(pVal); }
  HRESULT STDMETHODCALLTYPE Item(VARIANT v, ItemI** pVal) override { return accounts_.Lookup(v, pVal); }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** pVal) override { return accounts_.NewEnum(pVal); }
  HRESULT STDMETHODCALLTYPE Exists(BSTR Name, VARIANT_BOOL* pVal) override { return accounts_.Exists(Name, pVal); }
  HRESULT STDMETHODCALLTYPE Remove(VARIANT v) override { return accounts_.Remove(v); }
  HRESULT STDMETHODCALLTYPE Index(VARIANT v, ItemI** pVal) override { return accounts_.Index(v, pVal); }
  HRESULT STDMETHODCALLTYPE Reload() override { return accounts_.Reload(); }
  HRESULT STDMETHODCALLTYPE LoadXML(IUnknown* pDocument) override { return accounts_.LoadXML(pDocument); }
  HRESULT STDMETHODCALLTYPE SaveXML(IUnknown* pDocument) override { return accounts_.SaveXML(pDocument); }

  const Collection<DirectoryTraits<Kind>>& accounts() const { return accounts_; }

 private:
  Collection<DirectoryTraits<Kind>> accounts_;
};

}  // namespace qva
