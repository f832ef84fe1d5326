// The shape every XML-backed settings list shares: an ordered list of record items bound to the
// settings document wrapper, loaded from one section under the document element (the section
// "Domains" holds one "DomainItem" per item, and so on), written back by key, and exported to or
// imported from another DOM document.
//
// A list class holds one XmlList<Traits> and answers its own interface's members from it. Traits:
//
//   using Item = CQVADomain;                      // a RecordItem; its Record is the item's fields
//   static constexpr std::string_view kSource;    // ProgID named in error information
//   static constexpr std::string_view kSection, kElement;
//   static constexpr std::span<const Field<R>> kFields;   // every attribute, in writing order
//   static constexpr std::span<const Field<R>> kSaveKey;  // finds an item's element at Save
//   static constexpr std::span<const Field<R>> kRemoveKey;  // finds the element Remove deletes
//   static constexpr bool kNewlineAfterSection;   // the export ends with "\n" after the section
//   static void Derive(R&);                       // optional: values computed after a load
//
// An item class with an `Init(IUnknown*)` member (a log folder, a report task) is given the
// wrapper whenever the list makes one, for its own `Save`.
//
// Changes stay in the in-memory document until someone saves the settings file through the
// wrapper; `Store` (the lists' Save) does so itself, `Erase` when asked.
//
// Loading is lenient about layout and strict about content: text and comment nodes between the
// items (the indentation of a document built in memory) are skipped, while an item element that
// lacks one of its attributes is E_POINTER. `Bind` keeps the items read before the faulty one;
// `Import` reads the whole foreign section first and changes nothing when any item is faulty, so
// a bad import file never empties the settings.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/errorinfo.h"
#include "platform/com/object.h"
#include "qvacom/frame/item_list.h"
#include "qvacom/settings/dom.h"
#include "qvacom/settings/list_fields.h"
#include "qvacom_idl.h"

namespace qva::settings {

// Saves the settings file through the document wrapper (its `Save`, which sets the error
// information on failure). E_POINTER when there is no wrapper.
HRESULT SaveSettingsFile(IUnknown* wrapper, std::string_view source);

// The text of a VARIANT argument that names an item: a string, or anything that converts to one.
// A value that does not convert is E_INVALIDARG (with error information).
com::Expected<com::Bstr> NameArgument(const VARIANT& v, std::string_view source);

// Is `a` equal to `b` under the user's default locale (the platform BSTR comparison, no flags)?
bool SameBstr(BSTR a, BSTR b);
// Are the two strings the same bytes once converted to the multibyte code page (UTF-8)?
bool SameAnsi(BSTR a, BSTR b);

// The section element `name` of the document held by `wrapper`; E_POINTER (with error
// information) when the document or the section is missing.
com::Expected<dom::Node> WrapperSection(IUnknown* wrapper, std::string_view name, std::string_view source,
                                        dom::Document* document = nullptr);

// A single item's own Save: finds the element of `section` that holds `r`'s `key`, sets the
// attributes of `fields` on it, and saves the settings file. An item without an element changes
// nothing in the document; the file is saved all the same.
template <class R>
HRESULT SaveItemNode(IUnknown* wrapper, std::string_view section, std::span<const Field<R>> key,
                     std::span<const Field<R>> fields, const R& r, std::string_view source) {
  ASSIGN_OR_RETURN(dom::Node parent, WrapperSection(wrapper, section, source));
  ASSIGN_OR_RETURN(dom::Node node, FindNode(parent.get(), key, r));
  if (node) RETURN_IF_FAILED(WriteRecord(node.get(), fields, r));
  return SaveSettingsFile(wrapper, source);
}

template <class Traits>
class XmlList {
 public:
  using Item = typename Traits::Item;
  using Record = typename Item::Record;

  ItemList<Item>& items() { return items_; }
  const ItemList<Item>& items() const { return items_; }
  IUnknown* wrapper() const { return wrapper_.get(); }

  // Init: keeps the wrapper and loads the items of its document's section.
  HRESULT Bind(IUnknown* wrapper) {
    if (!wrapper) return Error(E_POINTER, "no settings document was given");
    auto document = dom::DocumentOfWrapper(wrapper);
    if (!document) return Error(document.error(), "the settings document cannot be reached");
    wrapper_ = com::ComPtr<IUnknown>(wrapper);
    items_.items().clear();
    return Read(document->get(), &items_.items());
  }

  // LoadXML: replaces the items by those of the section of `document` (a DOM document) and
  // empties the own document's section, which receives the new items at the next Store.
  HRESULT Import(IUnknown* document) {
    ASSIGN_OR_RETURN(dom::Document source, dom::AsDocument(document));
    ASSIGN_OR_RETURN(dom::Node own, Section());
    std::vector<com::ComPtr<Item>> loaded;
    RETURN_IF_FAILED(Read(source.get(), &loaded));
    items_.items() = std::move(loaded);
    RETURN_IF_FAILED(dom::RemoveChildren(own.get()));
    com::ClearError();
    return S_OK;
  }

  // SaveXML: appends a new section holding every item to the document element of `document`.
  HRESULT Export(IUnknown* document) const {
    ASSIGN_OR_RETURN(dom::Document target, dom::AsDocument(document));
    ASSIGN_OR_RETURN(dom::Node root, dom::Root(target.get()));
    ASSIGN_OR_RETURN(dom::Node section, dom::AppendElement(target.get(), root.get(), dom::kIndent1, Traits::kSection));
    for (const com::ComPtr<Item>& item : items_.items()) {
      ASSIGN_OR_RETURN(dom::Node element,
                       dom::AppendElement(target.get(), section.get(), dom::kIndent2, Traits::kElement));
      RETURN_IF_FAILED(WriteRecord(element.get(), Traits::kFields, item->record()));
    }
    RETURN_IF_FAILED(dom::AppendText(target.get(), section.get(), dom::kIndent1));
    if constexpr (Traits::kNewlineAfterSection) RETURN_IF_FAILED(dom::AppendText(target.get(), root.get(), "\n"));
    com::ClearError();
    return S_OK;
  }

  // Save: every item rewrites the element that holds its key, or gets a new one; elements of no
  // item stay. Then the settings file is saved.
  HRESULT Store() {
    dom::Document document;
    ASSIGN_OR_RETURN(dom::Node section, Section(&document));
    for (const com::ComPtr<Item>& item : items_.items()) {
      ASSIGN_OR_RETURN(dom::Node node, FindNode(section.get(), Traits::kSaveKey, item->record()));
      if (!node) {
        ASSIGN_OR_RETURN(node, dom::AppendElement(document.get(), section.get(), "", Traits::kElement));
        RETURN_IF_FAILED(dom::AppendText(document.get(), section.get(), dom::kIndent1));
      }
      RETURN_IF_FAILED(WriteRecord(node.get(), Traits::kFields, item->record()));
    }
    return SaveSettingsFile(wrapper_.get(), Traits::kSource);
  }

  // Remove: releases the first item `held` accepts, deletes the first element of the section
  // that holds `probe`'s kRemoveKey, and, when `save_file`, saves the settings file. Neither
  // need exist.
  template <class Pred>
  HRESULT Erase(Pred held, const Record& probe, bool save_file) {
    if (std::optional<size_t> at = Find(held)) items_.items().erase(items_.items().begin() + *at);
    ASSIGN_OR_RETURN(dom::Node section, Section());
    ASSIGN_OR_RETURN(dom::Node node, FindNode(section.get(), Traits::kRemoveKey, probe));
    if (node) RETURN_IF_FAILED(dom::Remove(section.get(), node.get()));
    if (save_file) return SaveSettingsFile(wrapper_.get(), Traits::kSource);
    com::ClearError();
    return S_OK;
  }

  // The position of the first item `pred` accepts.
  template <class Pred>
  std::optional<size_t> Find(Pred pred) const {
    const auto& all = items_.items();
    for (size_t i = 0; i < all.size(); ++i)
      if (pred(all[i]->record())) return i;
    return std::nullopt;
  }

  // Hands out the first item `pred` accepts; E_FAIL (with error information) when none does.
  template <class Pred, class I>
  HRESULT Lookup(Pred pred, I** out) const {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::optional<size_t> at = Find(pred);
    if (!at) return Error(E_FAIL, "no such item");
    *out = items_.items()[*at].get();
    (*out)->AddRef();
    return S_OK;
  }

  // Index: the item at a 0-based position (ItemList::Index), handed out as its interface.
  template <class I>
  HRESULT At(const VARIANT& position, I** out) const {
    if (!out) return E_POINTER;
    Item* item = nullptr;
    const HRESULT hr = items_.Index(position, &item);
    *out = item;
    return hr;
  }

  // Add: a new item with fields `r`, appended; nothing is written.
  com::Expected<com::ComPtr<Item>> Append(Record r) {
    ASSIGN_OR_RETURN(com::ComPtr<Item> item, Make(std::move(r)));
    items_.items().push_back(item);
    return item;
  }

  HRESULT Error(HRESULT hr, std::string_view what) const { return com::ReportError(hr, Traits::kSource, what); }

 private:
  com::Expected<dom::Node> Section(dom::Document* document = nullptr) const {
    if (!wrapper_) return com::Fail{Error(E_POINTER, "the list is not bound to a settings document")};
    return WrapperSection(wrapper_.get(), Traits::kSection, Traits::kSource, document);
  }

  com::Expected<com::ComPtr<Item>> Make(Record r) const {
    ASSIGN_OR_RETURN(com::ComPtr<Item> item, com::CreateObject<Item>());
    item->record() = std::move(r);
    if constexpr (requires(Item & i, IUnknown * w) { i.Init(w); }) {
      if (wrapper_) RETURN_IF_FAILED(item->Init(wrapper_.get()));
    }
    return item;
  }

  // Appends an item to `out` for each element of the section of `document`.
  HRESULT Read(IXMLDOMDocument* document, std::vector<com::ComPtr<Item>>* out) const {
    ASSIGN_OR_RETURN(dom::Node section, dom::Section(document, Traits::kSection));
    if (!section) return Error(E_POINTER, "the document has no <" + std::string(Traits::kSection) + "> element");
    ASSIGN_OR_RETURN(std::vector<dom::Node> elements, dom::ChildElements(section.get()));
    for (const dom::Node& element : elements) {
      Record r{};
      std::string_view missing;
      const HRESULT hr = ReadRecord(element.get(), Traits::kFields, &r, &missing);
      if (hr == E_POINTER && !missing.empty()) {
        return Error(E_POINTER, "a <" + std::string(Traits::kElement) + "> element lacks the attribute \"" +
                                    std::string(missing) + "\"");
      }
      RETURN_IF_FAILED(hr);
      if constexpr (requires { Traits::Derive(r); }) Traits::Derive(r);
      ASSIGN_OR_RETURN(com::ComPtr<Item> item, Make(std::move(r)));
      out->push_back(std::move(item));
    }
    com::ClearError();
    return S_OK;
  }

  com::ComPtr<IUnknown> wrapper_;  // the settings document wrapper given to Bind
  ItemList<Item> items_;
};

}  // namespace qva::settings
