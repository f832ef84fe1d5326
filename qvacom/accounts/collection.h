// The behaviour every database-backed collection shares (users, departments, and in time groups,
// computers, fees, limit-IP ranges and the named sets): an ordered list of items loaded from one
// table, looked up by name or position, added in memory, removed from the table at once, refreshed
// from the table, and exchanged whole with an XML document.
//
// A collection class holds one Collection<Traits> and answers its own interface's members from it
// (the interfaces differ in dispids, order and extra members, so each class forwards):
//
//   struct Traits {
//     using Item = CQVAUser;                          // a CollectionItem (below)
//     static constexpr std::string_view kSource;      // ProgID named in error information
//     static constexpr const EntityStatements& kStatements;  // select (Init), reload (Reload):
//                                                     // statements or bare table names
//     static constexpr std::string_view kSection;     // "Users": the element under the document element
//     static constexpr std::string_view kElement;     // "User": one per item
//     static constexpr HRESULT kAbsent;               // Exists' result when no item matches
//   };
//
// Matching rules, kept as clients have always seen them: Item compares the UTF-8 texts of the
// names byte for byte; Remove and Exists compare the BSTRs with the platform comparison under the
// user's default locale, no flags (exact, case-sensitive). The first match in array order wins;
// names need not be unique. Enumerators are snapshots.
//
// Departures from the old behaviour, each for a fault it had: a VARIANT argument of another type
// is coerced (Item and Remove to a string, Index to a number) rather than read as it stands; a
// position outside 0 .. Count-1 is E_INVALIDARG; the database object is held with a reference;
// items' Save and Clear report a statement the database refused, so Remove keeps an item whose
// row was not deleted; and LoadXML runs in one transaction, so a document that cannot be stored
// whole changes neither the table nor the collection.
//
// Used on its apartment thread only; no locks.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "msxml_idl.h"
#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/object.h"
#include "platform/com/variant.h"
#include "qvacom/accounts/account_block.h"
#include "qvacom/accounts/name_index.h"
#include "qvacom/accounts/statements.h"
#include "qvacom/frame/item_list.h"
#include "qvacom/settings/dom.h"
#include "qvacom/settings/list_xml.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"
#include "qvacom_idl.h"

namespace qva {

// How an item takes a row: everything (Init), or everything a refresh may change (Reload; the
// accounts keep Enable and EnableDate as they are held).
enum class RowLoad { kInit, kReload };

// The database object an item was bound to by its Init, for its Save and Clear; E_FAIL (with
// error information naming `source`) when it has none.
inline com::Expected<com::ComPtr<IQVADataBase>> BoundDatabase(IUnknown* db, std::string_view source) {
  com::ComPtr<IQVADataBase> out;
  if (!db || FAILED(db->QueryInterface(IID_IQVADataBase, out.put_void())))
    return com::Fail{com::ReportError(E_FAIL, source, "not bound to a database object")};
  return out;
}

// The text of `column` in the current row (NULL reads as empty text); clears *all when the
// column cannot be read.
inline std::string RowText(CRecordset& rs, const char* column, bool* all) {
  std::string text;
  *all &= rs.GetString(column, &text);
  return text;
}

// Attribute `name` of `element` as a BSTR; a missing attribute reads as empty text.
inline HRESULT ReadTextAttribute(IXMLDOMNode* element, std::string_view name, com::Bstr* out) {
  ASSIGN_OR_RETURN(const std::string text, AttributeText(element, name));
  *out = com::Bstr(text);
  return S_OK;
}

// A text value as it stands between a statement's quotes ('%s'). Most texts hold no quote and
// are taken as converted, without the escaped copy.
inline std::string QuotedText(const com::Bstr& text) {
  std::string utf8 = text.utf8();
  if (utf8.find('\'') == std::string::npos) return utf8;
  return sql::Escape(utf8);
}

// An item class of a collection: a class of com::CreateObject whose automation interface has
// Init(IUnknown*), Save(VARIANT_BOOL) and Clear() (Save and Clear return the database's result),
// plus the C++ side the collection drives. It derives from ListedItem and tells its index when
// its name changes (name_index.h).
template <class T>
concept CollectionItem = std::derived_from<T, ListedItem> && requires(T& item, const T& held, CRecordset& rs,
                                                                      IXMLDOMNode* node, IUnknown* db,
                                                                      std::string* key, RowLoad how) {
  // The name Item, Remove and Exists compare.
  { held.name() } -> std::same_as<const com::Bstr&>;
  // Sets the fields from the current row; false when a column could not be read.
  { item.LoadRow(rs, how) } -> std::same_as<bool>;
  // The key of the current row as Reload matches it against the held items' names (UTF-8).
  { T::RowKey(rs, key) } -> std::same_as<bool>;
  // The item's fields as the attributes of its element, and back.
  { item.ReadElement(node) } -> std::same_as<HRESULT>;
  { held.WriteElement(node) } -> std::same_as<HRESULT>;
  { item.put_Name(BSTR{}) } -> std::same_as<HRESULT>;
  { item.Init(db) } -> std::same_as<HRESULT>;
  { item.Save(VARIANT_BOOL{}) } -> std::same_as<HRESULT>;
  { item.Clear() } -> std::same_as<HRESULT>;
};

template <class Traits>
class Collection {
 public:
  using Item = typename Traits::Item;
  static_assert(CollectionItem<Item>);

  const ItemList<Item>& items() const { return items_; }
  // The database object given to Init (null before).
  IUnknown* database() const { return db_.get(); }

  HRESULT Count(LONG* out) const { return items_.Count(out); }
  HRESULT NewEnum(IUnknown** out) const { return items_.NewEnum(out); }

  // Index: the item at a 0-based position.
  template <class I>
  HRESULT Index(const VARIANT& position, I** out) const {
    if (!out) return E_POINTER;
    Item* item = nullptr;
    const HRESULT hr = items_.Index(position, &item);
    *out = item;
    if (FAILED(hr)) return Error(hr, "the position is not that of an item");
    return hr;
  }

  // Item: the first item whose name has the same UTF-8 bytes as `name`; E_FAIL when none.
  template <class I>
  HRESULT Lookup(const VARIANT& name, I** out) const {
    if (!out) return E_POINTER;
    NameKey key;
    if (V_VT(&name) != VT_BSTR || !ShortAsciiKey(V_BSTR(&name), &key)) return LookupText(name, out);
    Item* const item = index_.First(key);
    if (!item) return LookupText(name, out);  // builds the error text
    *out = item;
    item->AddRef();
    return S_OK;
  }

  // The key of a BSTR of at most NameKey::kInline ASCII characters; false for any other text. On
  // Item's path, so the length is read from the BSTR's prefix in place (the layout is fixed,
  // DESIGN.md 2) rather than through a call into the runtime library.
  static bool ShortAsciiKey(BSTR text, NameKey* key) {
    uint32_t bytes = 0;
    if (text) std::memcpy(&bytes, reinterpret_cast<const char*>(text) - sizeof bytes, sizeof bytes);
    return NameKey::FromAscii(text, bytes / sizeof(OLECHAR), key);
  }

  // Exists: 1 (not VARIANT_TRUE) and S_OK on a match; 0 and Traits::kAbsent otherwise.
  HRESULT Exists(BSTR name, VARIANT_BOOL* out) const {
    if (!out) return E_POINTER;
    *out = 0;
    if (!Named(name)) return Traits::kAbsent;
    *out = 1;
    return S_OK;
  }

  // Remove: deletes the first item of that name from the table (its Clear), then from the list.
  // When the delete fails, the item stays and the database's error information is kept.
  HRESULT Remove(const VARIANT& name) {
    if (items_.size() == 0) return Error(E_FAIL, "the collection is empty");
    ASSIGN_OR_RETURN(const com::Bstr wanted, settings::NameArgument(name, Traits::kSource));
    Item* item = Named(wanted.get());
    if (!item) return Error(E_FAIL, "no item is named " + wanted.utf8());
    return Erase(PositionOf(item));
  }

  // The first item, in list order, whose name is the same BSTR as `name` (exact comparison); or
  // null. Equal BSTRs have equal UTF-8 texts, so the index narrows the search to one name.
  Item* Named(BSTR name) const {
    return index_.FirstWhere(com::BstrToUtf8(name),
                             [&](const Item& item) { return settings::SameBstr(item.name().get(), name); });
  }

  // The first item named `name` (UTF-8 bytes) in list order that `pred` accepts; or null.
  template <class Pred>
  Item* NamedWhere(std::string_view name, Pred pred) const {
    return index_.FirstWhere(name, pred);
  }

  // The position of a listed item.
  size_t PositionOf(const Item* item) const {
    const auto& all = items_.items();
    return static_cast<size_t>(std::find_if(all.begin(), all.end(), [&](const auto& p) { return p.get() == item; }) -
                               all.begin());
  }

  // Deletes the item at `at` from the table and, when that succeeds, from the list (later items
  // move up). E_FAIL when the delete fails.
  HRESULT Erase(size_t at) {
    auto& all = items_.items();
    if (FAILED(all[at]->Clear())) return E_FAIL;
    index_.Remove(all[at].get());
    all.erase(all.begin() + static_cast<std::ptrdiff_t>(at));
    return S_OK;
  }

  // Add: a new item of that name, bound to the database, appended; nothing is written.
  template <class I>
  HRESULT Add(BSTR name, I** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ASSIGN_OR_RETURN(com::ComPtr<Item> item, NewItem());
    RETURN_IF_FAILED(item->put_Name(name));
    return Append(std::move(item), out);
  }

  // Lists a new item (made by the collection's class, bound to its database) at the end and hands
  // it out; for collections whose Add sets another field than Name.
  template <class I>
  HRESULT Append(com::ComPtr<Item> item, I** out) {
    index_.Append(item.get());
    items_.items().push_back(std::move(item));
    *out = items_.items().back().get();
    (*out)->AddRef();
    return S_OK;
  }

  // A new item bound to the collection's database, not listed yet.
  com::Expected<com::ComPtr<Item>> NewItem() const {
    auto item = com::CreateObject<Item>();
    if (!item) return com::Fail{Error(E_FAIL, "an item cannot be made")};
    RETURN_IF_FAILED((*item)->Init(db_.get()));
    return item;
  }

  // Init: binds to `db` and loads every row of Traits::kStatements.select, in the statement's
  // order. The items held before are released (nothing is deleted). When the table cannot be
  // read the collection is left empty.
  HRESULT Init(IUnknown* db) {
    static_assert(Traits::kStatements.select != nullptr, "the entity has no load statement");
    if (!db) return Error(E_POINTER, "no database object was given");
    db_ = com::ComPtr<IUnknown>(db);
    index_.Clear();
    items_.items().clear();
    std::vector<com::ComPtr<Item>> loaded;
    const HRESULT hr = Walk(Traits::kStatements.select, [&](CRecordset& rs) -> HRESULT {
      ASSIGN_OR_RETURN(com::ComPtr<Item> item, NewItem());
      item->LoadRow(rs, RowLoad::kInit);
      loaded.push_back(std::move(item));
      return S_OK;
    });
    if (FAILED(hr)) return hr;
    index_.Rebuild(loaded);
    items_.items() = std::move(loaded);
    return S_OK;
  }

  // Reload: refreshes the held items from Traits::kStatements.reload. Each row goes to the first
  // item whose name is the row's key; rows of no item are skipped, items of no row stay.
  HRESULT Reload() {
    static_assert(Traits::kStatements.reload != nullptr, "the entity has no reload statement");
    if (!db_) return Error(E_FAIL, "the collection is not bound to a database");
    return Walk(Traits::kStatements.reload, [&](CRecordset& rs) -> HRESULT {
      std::string key;
      if (!Item::RowKey(rs, &key)) return S_OK;
      Item* item = index_.First(key);
      if (!item) return S_OK;
      item->LoadRow(rs, RowLoad::kReload);
      index_.Renamed(item);  // a row may spell the name otherwise than the item held it
      return S_OK;
    });
  }

  // LoadXML: replaces the whole set, in the table and in memory, by the elements of the section
  // Traits::kSection of `document` (an IXMLDOMDocument). Nodes of the section that are not
  // elements are skipped; a missing attribute reads as empty text. Every held item's row is
  // deleted and every new item inserted inside one transaction: when any of it fails, the
  // transaction is rolled back, the items held stay, and the failure is returned.
  HRESULT LoadXML(IUnknown* document) {
    if (!document) return Error(E_POINTER, "no document was given");
    auto source = dom::AsDocument(document);
    if (!source) return Error(E_POINTER, "the object given is not a DOM document");
    if (!db_) return Error(E_FAIL, "the collection is not bound to a database");
    auto section = dom::Section(source->get(), Traits::kSection);
    if (!section || !*section)
      return Error(E_FAIL, "the document has no " + std::string(Traits::kSection) + " element");
    ASSIGN_OR_RETURN(const std::vector<dom::Node> elements, dom::ChildElements(section->get()));

    std::vector<com::ComPtr<Item>> loaded;
    loaded.reserve(elements.size());
    for (const dom::Node& element : elements) {
      ASSIGN_OR_RETURN(com::ComPtr<Item> item, NewItem());
      const HRESULT hr = item->ReadElement(element.get());
      if (FAILED(hr)) return Error(hr, "an element's attributes cannot be read");
      loaded.push_back(std::move(item));
    }

    ASSIGN_OR_RETURN(com::ComPtr<IQVADataBase> db, Database());
    if (FAILED(db->Execute(com::Bstr(std::string_view("BEGIN TRANSACTION")).get()))) return E_FAIL;
    HRESULT hr = S_OK;
    for (const com::ComPtr<Item>& item : items_.items())
      if (FAILED(hr = item->Clear())) break;
    if (SUCCEEDED(hr))
      for (const com::ComPtr<Item>& item : loaded)
        if (FAILED(hr = item->Save(VARIANT_TRUE))) break;
    if (SUCCEEDED(hr)) hr = db->Execute(com::Bstr(std::string_view("COMMIT")).get());
    if (FAILED(hr)) {
      // The rollback must not replace the error information of the statement that failed.
      com::ComPtr<IErrorInfo> why;
      GetErrorInfo(0, why.put());
      db->Execute(com::Bstr(std::string_view("ROLLBACK")).get());
      SetErrorInfo(0, why.get());
      return hr;
    }
    index_.Rebuild(loaded);
    items_.items() = std::move(loaded);
    return S_OK;
  }

  // SaveXML: appends "\n\t" and a new Traits::kSection element to the document element, and in
  // it "\n\t\t" and one Traits::kElement element per item, in list order; with a Traits::kCloseSection
  // that is true, a last "\n\t" in the section, so its closing tag stands on its own line. An existing section is
  // left where it is: the document is expected to be fresh.
  HRESULT SaveXML(IUnknown* document) const {
    if (!document) return Error(E_POINTER, "no document was given");
    auto target = dom::AsDocument(document);
    if (!target) return Error(E_POINTER, "the object given is not a DOM document");
    auto root = dom::Root(target->get());
    if (!root) return Error(root.error(), "the document has no document element");
    ASSIGN_OR_RETURN(dom::Node section,
                     dom::AppendElement(target->get(), root->get(), dom::kIndent1, Traits::kSection));
    for (const com::ComPtr<Item>& item : items_.items()) {
      ASSIGN_OR_RETURN(dom::Node element,
                       dom::AppendElement(target->get(), section.get(), dom::kIndent2, Traits::kElement));
      RETURN_IF_FAILED(item->WriteElement(element.get()));
    }
    if constexpr (requires { Traits::kCloseSection; }) {
      if (Traits::kCloseSection) return dom::AppendText(target->get(), section.get(), dom::kIndent1);
    }
    return S_OK;
  }

  // The position of the first item `pred` accepts.
  template <class Pred>
  std::optional<size_t> Find(Pred pred) const {
    const auto& all = items_.items();
    for (size_t i = 0; i < all.size(); ++i)
      if (pred(*all[i].get())) return i;
    return std::nullopt;
  }

  HRESULT Error(HRESULT hr, std::string_view what) const { return com::ReportError(hr, Traits::kSource, what); }

 private:
  // Item for any name the short ASCII path does not take, and the error of a name no item has.
  template <class I>
  [[gnu::noinline]] HRESULT LookupText(const VARIANT& name, I** out) const {
    *out = nullptr;
    std::string key;
    if (V_VT(&name) == VT_BSTR) {
      key = com::BstrToUtf8(V_BSTR(&name));
    } else {
      ASSIGN_OR_RETURN(const com::Bstr wanted, settings::NameArgument(name, Traits::kSource));
      key = wanted.utf8();
    }
    Item* const item = index_.First(key);
    if (!item) return Error(E_FAIL, "no item is named " + key);
    *out = item;
    item->AddRef();
    return S_OK;
  }

  com::Expected<com::ComPtr<IQVADataBase>> Database() const { return BoundDatabase(db_.get(), Traits::kSource); }

  // Opens `statement` on the database's connection and calls `row` for each row, in order.
  template <class Row>
  HRESULT Walk(const char* statement, Row row) const {
    ASSIGN_OR_RETURN(com::ComPtr<IQVADataBase> db, Database());
    com::ComPtr<IUnknown> unknown;
    com::ComPtr<_Connection> connection;
    if (FAILED(db->get_Connection(unknown.put())) || !unknown || FAILED(unknown.As(&connection)))
      return Error(E_FAIL, "the database is not open");
    CRecordset rs(connection.get());
    if (!rs.OpenStatement(nullptr, statement, CRecordset::kText) || !rs.recordset())
      return Error(E_FAIL, rs.last_error_text());
    for (;;) {
      VARIANT_BOOL eof = VARIANT_TRUE;
      if (FAILED(rs.recordset()->get_EOF(&eof))) return Error(E_FAIL, TakeComError(E_FAIL).description());
      if (eof) break;
      RETURN_IF_FAILED(row(rs));
      if (FAILED(rs.recordset()->MoveNext())) return Error(E_FAIL, TakeComError(E_FAIL).description());
      PumpMessages();
    }
    return S_OK;
  }

  ItemList<Item> items_;
  com::ComPtr<IUnknown> db_;
  // Declared after items_, so it unlists the items before they are released.
  NameIndex<Item> index_;
};

}  // namespace qva
