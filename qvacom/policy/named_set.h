// The nine named sets: small tables of named values that administrators keep and that the service
// and the consoles refer to by name (applications, categories, destination addresses, file types,
// ports, protocols, rules, signatures, threats). Every entry is a Name, one value text (threats:
// Threat and Level) and Remarks, all stored as given: the library never splits or interprets a
// value. Names need not be unique.
//
// One implementation serves all nine: NamedSetEntry<Traits> is an entry, NamedSet<Traits> its
// collection, and a traits struct per set names the interfaces, the row of kNamedSets (table,
// value columns, statements) and the XML names. The collections are the template instances
// themselves (CQVAApplications = NamedSet<ApplicationsTraits>); the entries are the instances
// plus their value properties, whose names differ per interface (get_App, get_Port, ...).
//
// Behaviour beyond the shared collection pattern (collection.h):
//   - Init loads the set's SELECT, which orders by Name: the list is in the database's name order.
//   - Exists answers 1 or 0 and S_OK either way.
//   - RemoveAll clears every entry's rows, in list order, and drops the entries whose delete
//     succeeded. Always S_OK: a delete the database refuses does not stop it, and that entry
//     stays listed, as its rows stay in the table (Remove keeps such an entry too).
//   - Entry Save(false) updates the row of the entry's current Name: an entry renamed since it
//     was stored updates nothing. To rename a stored entry, Clear it before the new Name is put,
//     then Save(true).
//   - Entry Clear deletes every row of the entry's Name.
//   - SaveXML ends the set element with the text "\n\t" after its entries, also when there are
//     none (the shared pattern writes no such text), so the closing tag stands on its own line.
//   - There is no Reload: the array refreshes a set by calling Init again.
//
// Save and Clear return the database object's result (with its error information) rather than
// S_OK whatever happened, so Remove keeps an entry whose row was not deleted and LoadXML rolls
// back a document the table cannot take whole. Used on its apartment thread only; no locks.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "msxml_idl.h"
#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "qvacom/accounts/collection.h"
#include "qvacom/accounts/statements.h"
#include "qvacom/policy/statements.h"
#include "qvacom_idl.h"

namespace qva {

class CRecordset;

// What the nine traits share, from the set's row of kNamedSets. A traits struct adds:
//   using Interface, EntryInterface, Item;   // IQVAApplications, IQVAApplication, CQVAApplication
//   static constexpr std::string_view kSource, kEntrySource;  // error information sources
//   static constexpr std::string_view kSection, kElement;     // "Apps", "App"
template <NamedSetStatements::Index kIndex>
struct NamedSetTable {
  static constexpr const NamedSetStatements& kSet = kNamedSets[kIndex];
  // The value columns, which are also the value attributes of the XML entries.
  static constexpr size_t kValueCount = kSet.value_columns[1] ? 2 : 1;
  // The statements as the shared collection pattern reads them; the sets have no reload.
  static constexpr EntityStatements kEntityStatements{
      .table = kSet.table,
      .select = kSet.select,
      .reload = nullptr,
      .insert = kSet.insert,
      .update = kSet.update,
      .remove = kSet.remove,
  };
  static constexpr const EntityStatements& kStatements = kEntityStatements;
  static constexpr HRESULT kAbsent = S_OK;
  static constexpr bool kCloseSection = true;
};

// Members of NamedSetEntry and NamedSet are defined in named_set.cc, instantiated there for the
// nine traits below.

// One entry of a named set. Abstract: the final class adds the value properties (see
// QVA_NAMED_SET_VALUE below).
template <class Traits>
class NamedSetEntry : public com::Dispatch<typename Traits::EntryInterface>, public ListedItem {
 public:
  static constexpr size_t kValueCount = Traits::kValueCount;
  static constexpr std::array<const char*, 2> kValueColumns = Traits::kSet.value_columns;

  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override;
  // Also tells the collection holding the entry, so look-ups by name follow the rename.
  HRESULT STDMETHODCALLTYPE put_Name(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_Remarks(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Remarks(BSTR newVal) override;

  // Deletes every row of the entry's Name; the database object's result. E_FAIL when bound to no
  // database.
  HRESULT STDMETHODCALLTYPE Clear() override;
  // Add non-zero: INSERT of Name, the value(s) and Remarks. Add zero: UPDATE of the row(s) whose
  // Name is the entry's current Name. The database object's result; E_FAIL when bound to no
  // database.
  HRESULT STDMETHODCALLTYPE Save(VARIANT_BOOL Add) override;
  // Keeps the database object (with a reference) for Save and Clear; null unbinds.
  HRESULT STDMETHODCALLTYPE Init(IUnknown* pDB) override;

  // ---- for the collection ----
  const com::Bstr& name() const { return name_; }
  // Name, the value column(s) and Remarks; NULL reads as empty text.
  bool LoadRow(CRecordset& rs, RowLoad how);
  static bool RowKey(CRecordset& rs, std::string* key);
  // The attributes "Name", the value attribute(s) and "Remarks"; a missing one reads as empty.
  HRESULT ReadElement(IXMLDOMNode* element);
  // The same attributes, in that order.
  HRESULT WriteElement(IXMLDOMNode* element) const;

 protected:
  HRESULT GetValue(size_t at, BSTR* pVal) const;
  HRESULT PutValue(size_t at, BSTR newVal);

 private:
  com::ComPtr<IUnknown> db_;
  com::Bstr name_, remarks_;
  std::array<com::Bstr, kValueCount> values_;
};

// The get/put pair of the value property `Prop`, held in value `at`. The property must be named
// as the column it is stored in.
#define QVA_NAMED_SET_VALUE(Prop, at)                                                         \
  static_assert(at < kValueCount && std::string_view(#Prop) == kValueColumns[at],             \
                #Prop " is not value column " #at " of the set");                             \
  HRESULT STDMETHODCALLTYPE get_##Prop(BSTR* pVal) override { return GetValue(at, pVal); }    \
  HRESULT STDMETHODCALLTYPE put_##Prop(BSTR newVal) override { return PutValue(at, newVal); } \
  static_assert(true, "")

// A named set: the shared collection pattern with the set's statements and names, plus RemoveAll.
template <class Traits>
class NamedSet : public com::Dispatch<typename Traits::Interface> {
 public:
  using Entry = typename Traits::EntryInterface;

  HRESULT STDMETHODCALLTYPE Add(BSTR Name, Entry** pVal) override;
  HRESULT STDMETHODCALLTYPE Item(VARIANT v, Entry** pVal) override;
  HRESULT STDMETHODCALLTYPE Remove(VARIANT v) override;
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** pVal) override;
  HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE Init(IUnknown* pDB) override;
  HRESULT STDMETHODCALLTYPE RemoveAll() override;
  HRESULT STDMETHODCALLTYPE Exists(BSTR Name, VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE Index(VARIANT v, Entry** pVal) override;
  HRESULT STDMETHODCALLTYPE LoadXML(IUnknown* pDocument) override;
  HRESULT STDMETHODCALLTYPE SaveXML(IUnknown* pDocument) override;

  const Collection<Traits>& entries() const { return entries_; }

 private:
  Collection<Traits> entries_;
};

// ---- the nine sets ----

class CQVAApplication;
class CQVACategory;
class CQVADestaddr;
class CQVAFiletype;
class CQVAPort;
class CQVAProtocol;
class CQVARule;
class CQVASignature;
class CQVAThreat;

// Sources of error information: the ProgID where the class has one, else the coclass name.
struct ApplicationsTraits : NamedSetTable<NamedSetStatements::kApplications> {
  using Interface = IQVAApplications;
  using EntryInterface = IQVAApplication;
  using Item = CQVAApplication;
  static constexpr std::string_view kSource = "QVA.Applications.1", kEntrySource = "QVA.Application.1";
  static constexpr std::string_view kSection = "Apps", kElement = "App";
};
struct CategoriesTraits : NamedSetTable<NamedSetStatements::kCategories> {
  using Interface = IQVACategories;
  using EntryInterface = IQVACategory;
  using Item = CQVACategory;
  static constexpr std::string_view kSource = "QVACategories", kEntrySource = "QVACategory";
  static constexpr std::string_view kSection = "Categories", kElement = "Category";
};
struct DestaddrsTraits : NamedSetTable<NamedSetStatements::kDestAddrs> {
  using Interface = IQVADestaddrs;
  using EntryInterface = IQVADestaddr;
  using Item = CQVADestaddr;
  static constexpr std::string_view kSource = "QVA.Destaddrs.1", kEntrySource = "QVA.Destaddr.1";
  static constexpr std::string_view kSection = "DestAddrs", kElement = "DestAddr";
};
struct FiletypesTraits : NamedSetTable<NamedSetStatements::kFileTypes> {
  using Interface = IQVAFiletypes;
  using EntryInterface = IQVAFiletype;
  using Item = CQVAFiletype;
  static constexpr std::string_view kSource = "QVA.Filetypes.1", kEntrySource = "QVA.Filetype.1";
  // The set element is "Filetypes", its entries "FileType".
  static constexpr std::string_view kSection = "Filetypes", kElement = "FileType";
};
struct PortsTraits : NamedSetTable<NamedSetStatements::kPorts> {
  using Interface = IQVAPorts;
  using EntryInterface = IQVAPort;
  using Item = CQVAPort;
  static constexpr std::string_view kSource = "QVA.Ports.1", kEntrySource = "QVA.Port.1";
  static constexpr std::string_view kSection = "Ports", kElement = "Port";
};
struct ProtocolsTraits : NamedSetTable<NamedSetStatements::kProtocols> {
  using Interface = IQVAProtocols;
  using EntryInterface = IQVAProtocol;
  using Item = CQVAProtocol;
  static constexpr std::string_view kSource = "QVA.Protocols.1", kEntrySource = "QVA.Protocol.1";
  static constexpr std::string_view kSection = "Protocols", kElement = "Protocol";
};
struct RulesTraits : NamedSetTable<NamedSetStatements::kRules> {
  using Interface = IQVARules;
  using EntryInterface = IQVARule;
  using Item = CQVARule;
  static constexpr std::string_view kSource = "QVARules", kEntrySource = "QVARule";
  static constexpr std::string_view kSection = "Rules", kElement = "Rule";
};
struct SignaturesTraits : NamedSetTable<NamedSetStatements::kSignatures> {
  using Interface = IQVASignatures;
  using EntryInterface = IQVASignature;
  using Item = CQVASignature;
  static constexpr std::string_view kSource = "QVASignatures", kEntrySource = "QVASignature";
  static constexpr std::string_view kSection = "Signatures", kElement = "Signature";
};
struct ThreatsTraits : NamedSetTable<NamedSetStatements::kThreats> {
  using Interface = IQVAThreats;
  using EntryInterface = IQVAThreat;
  using Item = CQVAThreat;
  static constexpr std::string_view kSource = "QVAThreats", kEntrySource = "QVAThreat";
  static constexpr std::string_view kSection = "Threats", kElement = "Threat";
};

// The entry classes: the shared entry and the set's value property (threats: two).
class CQVAApplication : public NamedSetEntry<ApplicationsTraits> {
 public:
  QVA_NAMED_SET_VALUE(App, 0);
};
class CQVACategory : public NamedSetEntry<CategoriesTraits> {
 public:
  QVA_NAMED_SET_VALUE(Category, 0);
};
class CQVADestaddr : public NamedSetEntry<DestaddrsTraits> {
 public:
  QVA_NAMED_SET_VALUE(DestAddr, 0);
};
class CQVAFiletype : public NamedSetEntry<FiletypesTraits> {
 public:
  QVA_NAMED_SET_VALUE(FileType, 0);
};
class CQVAPort : public NamedSetEntry<PortsTraits> {
 public:
  QVA_NAMED_SET_VALUE(Port, 0);
};
class CQVAProtocol : public NamedSetEntry<ProtocolsTraits> {
 public:
  QVA_NAMED_SET_VALUE(Protocol, 0);
};
class CQVARule : public NamedSetEntry<RulesTraits> {
 public:
  QVA_NAMED_SET_VALUE(Rule, 0);
};
class CQVASignature : public NamedSetEntry<SignaturesTraits> {
 public:
  QVA_NAMED_SET_VALUE(Signature, 0);
};
class CQVAThreat : public NamedSetEntry<ThreatsTraits> {
 public:
  QVA_NAMED_SET_VALUE(Threat, 0);
  QVA_NAMED_SET_VALUE(Level, 1);
};

using CQVAApplications = NamedSet<ApplicationsTraits>;
using CQVACategories = NamedSet<CategoriesTraits>;
using CQVADestaddrs = NamedSet<DestaddrsTraits>;
using CQVAFiletypes = NamedSet<FiletypesTraits>;
using CQVAPorts = NamedSet<PortsTraits>;
using CQVAProtocols = NamedSet<ProtocolsTraits>;
using CQVARules = NamedSet<RulesTraits>;
using CQVASignatures = NamedSet<SignaturesTraits>;
using CQVAThreats = NamedSet<ThreatsTraits>;

}  // namespace qva
