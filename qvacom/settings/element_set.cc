#include "qvacom/settings/element_set.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <string>

#include "platform/com/errorinfo.h"
#include "platform/com/object.h"

namespace qva {

namespace element_set_internal {

HRESULT Raise(HRESULT hr, std::string_view source, std::string_view description) {
  com::ComPtr<IErrorInfo> below;
  if (GetErrorInfo(0, below.put()) == S_OK && below) {
    SetErrorInfo(0, below.get());
    return hr;
  }
  return com::ReportError(hr, source, description);
}

LONG ReadType(std::u16string_view text) {
  size_t pos = 0;
  while (pos < text.size() && (text[pos] == u' ' || (text[pos] >= u'\t' && text[pos] <= u'\r'))) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) negative = text[pos++] == u'-';
  int64_t value = 0;
  for (; pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9'; ++pos)
    value = std::min<int64_t>(value * 10 + (text[pos] - u'0'), int64_t{INT32_MAX} + 1);
  if (negative) value = -value;
  return static_cast<LONG>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

com::Expected<Found> FindChild(IXMLDOMNode* parent, const std::function<com::Expected<bool>(IXMLDOMNode*)>& match) {
  ASSIGN_OR_RETURN(std::vector<dom::Node> children, dom::Children(parent));
  dom::Node before;
  for (dom::Node& child : children) {
    if (dom::IsElement(child.get())) {
      ASSIGN_OR_RETURN(bool matches, match(child.get()));
      if (matches) return Found{std::move(child), std::move(before)};
    }
    before = std::move(child);
  }
  return Found{};
}

com::Expected<Found> FindList(IXMLDOMNode* section, std::u16string_view name, LONG type) {
  return FindChild(section, [&](IXMLDOMNode* child) -> com::Expected<bool> {
    if (dom::Name(child) != "Element") return false;
    ASSIGN_OR_RETURN(std::optional<com::Bstr> child_name, dom::Attribute(child, "Name"));
    ASSIGN_OR_RETURN(std::optional<com::Bstr> child_type, dom::Attribute(child, "Type"));
    return child_name && child_type && child_name->view() == name && ReadType(child_type->view()) == type;
  });
}

com::Expected<dom::Node> AppendList(IXMLDOMDocument* document, IXMLDOMNode* section, std::string_view indent, BSTR name,
                                    LONG type) {
  ASSIGN_OR_RETURN(dom::Node element, dom::AppendElement(document, section, indent, "Element"));
  RETURN_IF_FAILED(dom::SetAttribute(element.get(), "Name", name));
  RETURN_IF_FAILED(dom::SetAttribute(element.get(), "Type", std::to_string(type)));
  return element;
}

HRESULT RemoveIndented(IXMLDOMNode* parent, const Found& found) {
  RETURN_IF_FAILED(dom::Remove(parent, found.node.get()));
  DOMNodeType kind{};
  com::Bstr text;
  if (!found.before || FAILED(found.before->get_nodeType(&kind)) || kind != NODE_TEXT ||
      FAILED(found.before->get_text(text.put())))
    return S_OK;
  const std::u16string_view t = text.view();
  if (std::all_of(t.begin(), t.end(), [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }))
    RETURN_IF_FAILED(dom::Remove(parent, found.before.get()));
  return S_OK;
}

HRESULT SaveFile(IUnknown* wrapper) {
  com::ComPtr<IQVAXMLDoc> doc;
  if (!wrapper || FAILED(wrapper->QueryInterface(IID_IQVAXMLDoc, doc.put_void())))
    return com::ReportError(E_POINTER, "QVA.XMLDoc.1", "no settings document to save");
  return doc->Save();
}

bool CopyArg(BSTR from, com::Bstr* to) {
  *to = from ? com::Bstr::Attach(SysAllocStringLen(from, SysStringLen(from))) : com::Bstr();
  return !from || to->get();
}

}  // namespace element_set_internal

namespace {

using namespace element_set_internal;  // NOLINT: this file's own helpers

constexpr std::string_view kSource = "QVA.ElementSet.1";

struct ListKey {
  com::Bstr name;
  LONG type = 0;
};

ListKey KeyOf(IQVAElements* list) {
  ListKey key;
  list->get_Name(key.name.put());
  list->get_Type(&key.type);
  return key;
}

std::string Describe(BSTR name, LONG type) {
  return "\"" + com::BstrToUtf8(name) + "\" of type " + std::to_string(type);
}

}  // namespace

HRESULT CQVAElementSet::OwnSection(dom::Document* document, dom::Node* section) {
  auto doc = dom::DocumentOfWrapper(document_.get());
  if (!doc) return Raise(E_FAIL, kSource, "the element set is not bound to an open settings document");
  auto found = dom::Section(doc->get(), "ElementSet");
  if (!found) return Raise(E_FAIL, kSource, "the settings document has no top-level element");
  if (!*found) return com::ReportError(E_FAIL, kSource, "the settings document has no \"ElementSet\"");
  *document = std::move(doc.value());
  *section = std::move(found.value());
  return S_OK;
}

HRESULT CQVAElementSet::ReadSection(IXMLDOMNode* section) {
  auto children = dom::ChildElements(section);
  if (!children) return Raise(children.error(), kSource, "cannot read \"ElementSet\"");
  for (const dom::Node& child : *children) {
    auto name = dom::Attribute(child.get(), "Name");
    auto type = dom::Attribute(child.get(), "Type");
    if (!name || !type) return Raise(name ? type.error() : name.error(), kSource, "cannot read an \"Element\"");
    if (!*name || !*type)
      return com::ReportError(E_POINTER, kSource, "an \"Element\" lacks its \"Name\" or \"Type\" attribute");
    auto made = com::CreateObject<CQVAElements>();
    if (!made) return com::ReportError(made.error(), kSource, "cannot make a list");
    com::ComPtr<IQVAElements> list(made->get());
    const LONG list_type = ReadType((*type)->view());
    RETURN_IF_FAILED(list->put_Name((*name)->get()));
    RETURN_IF_FAILED(list->put_Type(list_type));
    RETURN_IF_FAILED(list->Init(list_type, child.get(), document_.get()));
    lists_.items().push_back(std::move(list));
  }
  return S_OK;
}

HRESULT CQVAElementSet::Init(IUnknown* pDocument) {
  com::ClearError();
  document_ = com::ComPtr<IUnknown>(pDocument);
  lists_.items().clear();
  dom::Document document;
  dom::Node section;
  RETURN_IF_FAILED(OwnSection(&document, &section));
  return ReadSection(section.get());
}

HRESULT CQVAElementSet::Add(BSTR Name, LONG Type, IQVAElements** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  com::ClearError();
  dom::Document document;
  dom::Node section;
  RETURN_IF_FAILED(OwnSection(&document, &section));
  auto made = com::CreateObject<CQVAElements>();
  if (!made) return com::ReportError(made.error(), kSource, "cannot make a list");
  com::ComPtr<IQVAElements> list(made->get());
  RETURN_IF_FAILED(list->put_Name(Name));
  RETURN_IF_FAILED(list->put_Type(Type));
  auto node = AppendList(document.get(), section.get(), dom::kIndent2, Name, Type);
  if (!node) return Raise(node.error(), kSource, "cannot add the list " + Describe(Name, Type) + " to the document");
  RETURN_IF_FAILED(list->Init(Type, node->get(), document_.get()));
  lists_.items().push_back(list);
  return lists_.Hand(list, pVal);
}

HRESULT CQVAElementSet::get_Count(LONG* pVal) { return lists_.Count(pVal); }

HRESULT CQVAElementSet::get__NewEnum(IUnknown** pVal) { return lists_.NewEnum(pVal); }

HRESULT CQVAElementSet::Index(VARIANT v, IQVAElements** pVal) {
  const HRESULT hr = lists_.Index(v, pVal);
  if (FAILED(hr)) return com::ReportError(hr, kSource, "no list at that position");
  return hr;
}

HRESULT CQVAElementSet::Item(BSTR Name, LONG Type, IQVAElements** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  // Name and type are compared apart: one text made of both would let the list "x1" of type 2
  // answer for "x" of type 12.
  for (const com::ComPtr<IQVAElements>& list : lists_.items()) {
    const ListKey key = KeyOf(list.get());
    if (key.type == Type && key.name.view() == com::BstrView(Name)) return lists_.Hand(list, pVal);
  }
  return com::ReportError(E_FAIL, kSource, "there is no list " + Describe(Name, Type));
}

HRESULT CQVAElementSet::Save() {
  com::ClearError();
  dom::Document document;
  dom::Node section;
  RETURN_IF_FAILED(OwnSection(&document, &section));
  for (const com::ComPtr<IQVAElements>& list : lists_.items()) {
    const ListKey key = KeyOf(list.get());
    auto node = FindList(section.get(), key.name.view(), key.type);
    if (!node) return Raise(node.error(), kSource, "cannot read \"ElementSet\"");
    if (!node->node) {
      auto added = AppendList(document.get(), section.get(), dom::kIndent2, key.name.get(), key.type);
      if (!added) return Raise(added.error(), kSource, "cannot add the list " + Describe(key.name.get(), key.type));
    }
    RETURN_IF_FAILED(list->Save());
  }
  return S_OK;
}

HRESULT CQVAElementSet::Remove(BSTR Name, LONG Type) {
  com::ClearError();
  dom::Document document;
  dom::Node section;
  RETURN_IF_FAILED(OwnSection(&document, &section));
  auto& lists = lists_.items();
  auto held = std::find_if(lists.begin(), lists.end(), [&](const com::ComPtr<IQVAElements>& list) {
    const ListKey key = KeyOf(list.get());
    return key.type == Type && key.name.view() == com::BstrView(Name);
  });
  auto node = FindList(section.get(), com::BstrView(Name), Type);
  if (!node) return Raise(node.error(), kSource, "cannot read \"ElementSet\"");
  if (held == lists.end() && !node->node)
    return com::ReportError(E_FAIL, kSource, "there is no list " + Describe(Name, Type));

  if (held != lists.end()) lists.erase(held);
  if (node->node) {
    const HRESULT hr = RemoveIndented(section.get(), *node);
    if (FAILED(hr)) return Raise(hr, kSource, "cannot remove the list " + Describe(Name, Type));
  }
  return SaveFile(document_.get());
}

HRESULT CQVAElementSet::Exists(BSTR Name, LONG Type, VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = VARIANT_FALSE;
  const std::u16string wanted = com::ToLower(com::BstrView(Name));
  for (const com::ComPtr<IQVAElements>& list : lists_.items()) {
    const ListKey key = KeyOf(list.get());
    if (key.type == Type && com::ToLower(key.name.view()) == wanted) {
      *pVal = VARIANT_TRUE;
      break;
    }
  }
  return S_OK;
}

HRESULT CQVAElementSet::LoadXML(IUnknown* pDocument) {
  com::ClearError();
  // The import is checked before anything of the own document is cleared.
  auto source = dom::AsDocument(pDocument);
  if (!source) return Raise(E_POINTER, kSource, "the import source is not a DOM document");
  auto source_section = dom::Section(source->get(), "ElementSet");
  if (!source_section || !*source_section)
    return com::ReportError(E_FAIL, kSource, "the import source has no \"ElementSet\"");
  dom::Document document;
  dom::Node section;
  RETURN_IF_FAILED(OwnSection(&document, &section));

  lists_.items().clear();
  const HRESULT hr = dom::RemoveChildren(section.get());
  if (FAILED(hr)) return Raise(hr, kSource, "cannot clear \"ElementSet\"");
  return ReadSection(source_section->get());
}

HRESULT CQVAElementSet::SaveXML(IUnknown* pDocument) {
  com::ClearError();
  auto target = dom::AsDocument(pDocument);
  if (!target) return Raise(E_POINTER, kSource, "the export target is not a DOM document");
  auto root = dom::Root(target->get());
  if (!root) return Raise(root.error(), kSource, "the export target has no top-level element");
  auto section = dom::AppendElement(target->get(), root->get(), dom::kIndent1, "ElementSet");
  if (!section) return Raise(section.error(), kSource, "cannot add \"ElementSet\" to the export");
  for (const com::ComPtr<IQVAElements>& list : lists_.items()) {
    const ListKey key = KeyOf(list.get());
    auto node = AppendList(target->get(), section->get(), dom::kIndent2, key.name.get(), key.type);
    if (!node) return Raise(node.error(), kSource, "cannot add the list " + Describe(key.name.get(), key.type));
    RETURN_IF_FAILED(list->SaveXML(node->get(), pDocument));
  }
  return S_OK;
}

}  // namespace qva
