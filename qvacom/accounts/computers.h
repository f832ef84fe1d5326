// The client computers: CQVAComputer, one row of the table Computers, and CQVAComputers, their
// collection. A computer belongs to a group by the group's name in its Group field; the
// collection answers and deletes a group's members (HaveComputersInGroup, RemoveFromGroup).
//
// A computer is keyed by its IP text, compared exactly: Add sets the IP (the Name stays empty
// until the caller sets it), Item, Remove and Exists look the IP up, and Save(false) and Clear
// find their row by the IP held now (a computer whose IP was changed in memory updates no row).
// ItemByName searches by Name. The IP text is stored as given, not checked. An empty Remarks
// column loads as the name. Changes live in memory until Save.
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

// The computer's own fields, beside the shared account block.
struct ComputerFields {
  com::Bstr Name, IP, Group, Remarks, CurUser;
  DateWithStatus LastTime;
};

// Declares get_/put_ of one of the computer's own properties.
#define QVA_COMPUTER_PROPERTY(Type, Prop)                    \
  HRESULT STDMETHODCALLTYPE get_##Prop(Type* pVal) override; \
  HRESULT STDMETHODCALLTYPE put_##Prop(Type newVal) override

class CQVAComputer : public AccountMembers<IQVAComputer>, public ListedItem {
 public:
  QVA_COMPUTER_PROPERTY(BSTR, Name);
  QVA_COMPUTER_PROPERTY(BSTR, IP);
  QVA_COMPUTER_PROPERTY(BSTR, Group);
  QVA_COMPUTER_PROPERTY(BSTR, Remarks);
  QVA_COMPUTER_PROPERTY(DATE, LastTime);
  QVA_COMPUTER_PROPERTY(BSTR, CurUser);

  // INSERT (bAdd non-zero) or UPDATE by the IP held now. Returns the database object's result
  // for the statement, with its error information; E_FAIL when bound to no database.
  HRESULT STDMETHODCALLTYPE Save(VARIANT_BOOL bAdd) override;
  // Deletes every row of the computer's IP; the database object's result.
  HRESULT STDMETHODCALLTYPE Clear() override;
  // Keeps the database object (with a reference) for Save and Clear; null unbinds.
  HRESULT STDMETHODCALLTYPE Init(IUnknown* pDB) override;

  // ---- for the collection ----
  // The key the collection compares is the IP, not the Name.
  const com::Bstr& name() const { return computer_.IP; }
  const ComputerFields& computer() const { return computer_; }
  bool LoadRow(CRecordset& rs, RowLoad how);
  // The row's IP: a refresh gives each row to the computer of the same address, so computers
  // that share a Name are told apart.
  static bool RowKey(CRecordset& rs, std::string* key);
  HRESULT ReadElement(IXMLDOMNode* element);
  HRESULT WriteElement(IXMLDOMNode* element) const;

 private:
  com::ComPtr<IUnknown> db_;
  ComputerFields computer_;
};

#undef QVA_COMPUTER_PROPERTY

struct ComputersTraits {
  using Item = CQVAComputer;
  static constexpr std::string_view kSource = "QVA.Computers.1";
  static constexpr const EntityStatements& kStatements = kComputerStatements;
  static constexpr std::string_view kSection = "Computers";
  static constexpr std::string_view kElement = "Computer";
  static constexpr HRESULT kAbsent = S_OK;
};

class CQVAComputers : public com::Dispatch<IQVAComputers> {
 public:
  // Item: exact UTF-8 bytes of the IP; Remove and Exists: exact BSTR comparison of the IP;
  // ItemByName, HaveComputersInGroup and RemoveFromGroup: exact BSTR comparison of Name / Group.
  // Exists and HaveComputersInGroup give 1 or 0 and S_OK either way; ItemByName gives null and
  // S_FALSE when no computer has the name. RemoveFromGroup deletes every computer of the group
  // (rows and items); when a delete fails it stops there with E_FAIL, the computers removed
  // before staying removed.
  QVA_DECL_IQVAComputers;

  const Collection<ComputersTraits>& computers() const { return computers_; }

 private:
  Collection<ComputersTraits> computers_;
};

}  // namespace qva
