// The groups of computers: CQVAGroup, one row of the table Groups, and CQVAGroups, their
// collection. Computers name their group in their Group field; the computers collection's
// HaveComputersInGroup and RemoveFromGroup work on that name, and removing a group leaves its
// computers alone.
//
// A group is keyed by Name, compared exactly (names keep their letter case on load). An
// empty Remarks column loads as the name. AdsType and AdsPath are written by the INSERT only: a
// Save(false) leaves the stored ones. DisplayName lives in memory only. Changes live in memory
// until Save.
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

// The group's own fields, beside the shared account block and the member defaults.
struct GroupFields {
  com::Bstr Name, AdsPath, Remarks, DisplayName;
  LONG AdsType = 0;
};

class CQVAGroup : public AccountDefaultMembers<IQVAGroup>, public ListedItem {
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

  // INSERT (bAdd non-zero) or UPDATE by the Name held now. Returns the database object's result
  // for the statement, with its error information; E_FAIL when bound to no database.
  HRESULT STDMETHODCALLTYPE Save(VARIANT_BOOL bAdd) override;
  // Deletes every row of the group's Name; the database object's result.
  HRESULT STDMETHODCALLTYPE Clear() override;
  // Keeps the database object (with a reference) for Save and Clear; null unbinds.
  HRESULT STDMETHODCALLTYPE Init(IUnknown* pDB) override;

  // ---- for the collection ----
  const com::Bstr& name() const { return group_.Name; }
  const GroupFields& group() const { return group_; }
  bool LoadRow(CRecordset& rs, RowLoad how);
  static bool RowKey(CRecordset& rs, std::string* key);
  HRESULT ReadElement(IXMLDOMNode* element);
  HRESULT WriteElement(IXMLDOMNode* element) const;

 private:
  com::ComPtr<IUnknown> db_;
  GroupFields group_;
};

struct GroupsTraits {
  using Item = CQVAGroup;
  static constexpr std::string_view kSource = "QVA.Groups.1";
  static constexpr const EntityStatements& kStatements = kGroupStatements;
  static constexpr std::string_view kSection = "Groups";
  static constexpr std::string_view kElement = "Group";
  static constexpr HRESULT kAbsent = S_OK;
};

class CQVAGroups : public com::Dispatch<IQVAGroups> {
 public:
  // Item: exact UTF-8 bytes of the name; Remove and Exists: exact BSTR comparison. Exists gives
  // 1 or 0 and S_OK either way.
  QVA_DECL_IQVAGroups;

  const Collection<GroupsTraits>& groups() const { return groups_; }

 private:
  Collection<GroupsTraits> groups_;
};

}  // namespace qva
