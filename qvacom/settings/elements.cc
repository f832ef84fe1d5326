// The list of values (CQVAElements), its values (CQVAElement) and the range texts.
#include <algorithm>
#include <string>

#include "platform/com/errorinfo.h"
#include "qvacom/frame/address.h"
#include "qvacom/settings/element_set.h"

namespace qva {
namespace {

using namespace element_set_internal;  // NOLINT: this file's own helpers

constexpr std::string_view kSource = "QVA.Elements.1";

// Reads a bounded text the way the C library's scanf reads its formats, without its
// unboundedness: nothing is ever read past the end of the text.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }
  bool Literal(char c) {
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  // Blanks, then one or two decimal digits.
  std::optional<int> TwoDigits() {
    SkipBlanks();
    int value = 0, digits = 0;
    while (digits < 2 && pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      value = value * 10 + (text_[pos_++] - '0');
      ++digits;
    }
    if (digits == 0) return std::nullopt;
    return value;
  }
  // Blanks, then a run of other characters (empty at the end of the text).
  std::string_view Word() {
    SkipBlanks();
    const size_t start = pos_;
    while (pos_ < text_.size() && !IsBlank(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }
  // A dash with any blanks around it.
  bool Dash() {
    SkipBlanks();
    if (!Literal('-')) return false;
    SkipBlanks();
    return true;
  }

 private:
  static bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

  std::string_view text_;
  size_t pos_ = 0;
};

std::optional<double> ClockTime(Scanner& s) {
  const std::optional<int> hour = s.TwoDigits();
  if (!hour || !s.Literal(':')) return std::nullopt;
  const std::optional<int> minute = s.TwoDigits();
  if (!minute) return std::nullopt;
  return *hour + *minute * 0.01;
}

}  // namespace

std::optional<std::pair<double, double>> TimeRange(std::string_view text) {
  Scanner s(text);
  const std::optional<double> start = ClockTime(s);
  if (!start || !s.Dash()) return std::nullopt;
  const std::optional<double> end = ClockTime(s);
  if (!end) return std::nullopt;
  return std::pair(*start, *end);
}

std::optional<std::pair<double, double>> AddressRange(std::string_view text) {
  Scanner s(text);
  // The first word ends at a blank, so "a.b.c.d-e.f.g.h" is one word and no range.
  const std::optional<double> start = AddressNumber(s.Word());
  if (!start || !s.Dash()) return std::nullopt;
  const std::optional<double> end = AddressNumber(s.Word());
  if (!end) return std::nullopt;
  return std::pair(*start, *end);
}

// ---- CQVAElement ----

HRESULT CQVAElement::get_Value(BSTR* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = value_.Copy();
  if (!*pVal && value_.get()) return com::ReportError(E_OUTOFMEMORY, "QVA.Element.1", "out of memory");
  return S_OK;
}

HRESULT CQVAElement::put_Value(BSTR newVal) {
  com::Bstr copy;
  if (!CopyArg(newVal, &copy)) return com::ReportError(E_OUTOFMEMORY, "QVA.Element.1", "out of memory");
  value_ = std::move(copy);
  return S_OK;
}

HRESULT CQVAElement::get_dbValue1(DOUBLE* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = value1_;
  return S_OK;
}

HRESULT CQVAElement::put_dbValue1(DOUBLE newVal) {
  value1_ = newVal;
  return S_OK;
}

HRESULT CQVAElement::get_dbValue2(DOUBLE* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = value2_;
  return S_OK;
}

HRESULT CQVAElement::put_dbValue2(DOUBLE newVal) {
  value2_ = newVal;
  return S_OK;
}

// ---- CQVAElements ----

namespace {

com::Expected<com::ComPtr<IQVAElement>> NewElement(BSTR value) {
  auto made = com::CreateObject<CQVAElement>();
  if (!made) return com::Fail{made.error()};
  com::ComPtr<IQVAElement> element(made->get());
  RETURN_IF_FAILED(element->put_Value(value));
  return element;
}

com::Bstr ValueOf(IQVAElement* element) {
  com::Bstr value;
  element->get_Value(value.put());
  return value;
}

}  // namespace

HRESULT CQVAElements::LoadItems(IXMLDOMNode* node) {
  ASSIGN_OR_RETURN(std::vector<dom::Node> children, dom::ChildElements(node));
  for (const dom::Node& child : children) {
    ASSIGN_OR_RETURN(std::optional<com::Bstr> value, dom::Attribute(child.get(), "Value"));
    if (!value) {
      return Raise(E_POINTER, kSource,
                   "an item of the list \"" + name_.utf8() + "\" (type " + std::to_string(type_) +
                       ") has no \"Value\" attribute");
    }
    ASSIGN_OR_RETURN(com::ComPtr<IQVAElement> element, NewElement(value->get()));
    std::optional<std::pair<double, double>> range;
    if (type_ == kTimeRangeList) range = TimeRange(value->utf8());
    if (type_ == kAddressRangeList) range = AddressRange(value->utf8());
    if (range) {
      element->put_dbValue1(range->first);
      element->put_dbValue2(range->second);
    }
    items_.items().push_back(std::move(element));
  }
  return S_OK;
}

com::Expected<dom::Node> CQVAElements::OwnNode(dom::Document* document) {
  auto doc = dom::DocumentOfWrapper(document_.get());
  if (!doc) return com::Fail{Raise(E_FAIL, kSource, "the list is not bound to a settings document")};
  *document = std::move(doc.value());
  auto section = dom::Section(document->get(), "ElementSet");
  if (!section) return com::Fail{Raise(section.error(), kSource, "the settings document has no top-level element")};
  if (!*section) return dom::Node();
  ASSIGN_OR_RETURN(Found found, FindList(section->get(), name_.view(), type_));
  return found.node;
}

HRESULT CQVAElements::Init(LONG Type, IUnknown* pDocNode, IUnknown* pDocument) {
  com::ClearError();
  type_ = Type;
  document_ = com::ComPtr<IUnknown>(pDocument);
  items_.items().clear();
  auto node = dom::AsNode(pDocNode);
  if (!node) return Raise(node.error(), kSource, "the list's node is not a DOM node");
  return LoadItems(node->get());
}

HRESULT CQVAElements::Add(BSTR Name, IQVAElement** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  com::ClearError();
  auto element = NewElement(Name);
  if (!element) return Raise(element.error(), kSource, "cannot make the item");
  items_.items().push_back(element.value());
  return items_.Hand(element.value(), pVal);
}

HRESULT CQVAElements::get_Count(LONG* pVal) { return items_.Count(pVal); }

HRESULT CQVAElements::get__NewEnum(IUnknown** pVal) { return items_.NewEnum(pVal); }

HRESULT CQVAElements::Index(VARIANT v, IQVAElement** pVal) {
  const HRESULT hr = items_.Index(v, pVal);
  if (FAILED(hr)) return com::ReportError(hr, kSource, "no item at that position");
  return hr;
}

HRESULT CQVAElements::get_Name(BSTR* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = name_.Copy();
  if (!*pVal && name_.get()) return com::ReportError(E_OUTOFMEMORY, kSource, "out of memory");
  return S_OK;
}

HRESULT CQVAElements::put_Name(BSTR newVal) {
  com::Bstr copy;
  if (!CopyArg(newVal, &copy)) return com::ReportError(E_OUTOFMEMORY, kSource, "out of memory");
  name_ = std::move(copy);
  return S_OK;
}

HRESULT CQVAElements::get_Type(LONG* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = type_;
  return S_OK;
}

HRESULT CQVAElements::put_Type(LONG newVal) {
  type_ = newVal;
  return S_OK;
}

HRESULT CQVAElements::Remove(BSTR Name) {
  com::ClearError();
  const std::u16string_view value = com::BstrView(Name);
  dom::Document document;
  ASSIGN_OR_RETURN(dom::Node own, OwnNode(&document));

  auto& items = items_.items();
  auto held = std::find_if(items.begin(), items.end(),
                           [&](const com::ComPtr<IQVAElement>& e) { return ValueOf(e.get()).view() == value; });
  Found item;
  if (own) {
    ASSIGN_OR_RETURN(item, FindChild(own.get(), [&](IXMLDOMNode* child) -> com::Expected<bool> {
                       ASSIGN_OR_RETURN(std::optional<com::Bstr> text, dom::Attribute(child, "Value"));
                       return text && text->view() == value;
                     }));
  }
  if (held == items.end() && !item.node)
    return Raise(E_FAIL, kSource, "the list \"" + name_.utf8() + "\" holds no item \"" + com::BstrToUtf8(Name) + "\"");

  if (held != items.end()) items.erase(held);
  if (item.node) {
    const HRESULT hr = RemoveIndented(own.get(), item);
    if (FAILED(hr)) return Raise(hr, kSource, "cannot remove the item from the document");
  }
  return SaveFile(document_.get());
}

HRESULT CQVAElements::Exists(BSTR Name, VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = VARIANT_FALSE;
  for (const com::ComPtr<IQVAElement>& e : items_.items()) {
    if (VarBstrCmp(ValueOf(e.get()).get(), Name, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ) {
      *pVal = VARIANT_TRUE;
      break;
    }
  }
  return S_OK;
}

HRESULT CQVAElements::Save() {
  com::ClearError();
  dom::Document document;
  ASSIGN_OR_RETURN(dom::Node own, OwnNode(&document));
  if (!own) {
    return Raise(E_FAIL, kSource,
                 "the list \"" + name_.utf8() + "\" (type " + std::to_string(type_) +
                     ") has no \"Element\" in the document; the element set's Save makes it");
  }
  for (const com::ComPtr<IQVAElement>& e : items_.items()) {
    const com::Bstr value = ValueOf(e.get());
    ASSIGN_OR_RETURN(std::vector<dom::Node> children, dom::ChildElements(own.get()));
    bool present = false;
    for (const dom::Node& child : children) {
      ASSIGN_OR_RETURN(std::optional<com::Bstr> text, dom::Attribute(child.get(), "Value"));
      present = text && *text == value;
      if (present) break;
    }
    if (present) continue;
    auto added = dom::AppendElement(document.get(), own.get(), dom::kIndent3, "Item");
    if (!added) return Raise(added.error(), kSource, "cannot add an item to the document");
    const HRESULT hr = dom::SetAttribute(added->get(), "Value", value.get());
    if (FAILED(hr)) return Raise(hr, kSource, "cannot write an item's value");
  }
  return S_OK;
}

HRESULT CQVAElements::LoadXML(IUnknown* pDocNode, IUnknown*) {
  com::ClearError();
  auto source = dom::AsNode(pDocNode);
  if (!source) return Raise(source.error(), kSource, "the list's node is not a DOM node");
  dom::Document document;
  ASSIGN_OR_RETURN(dom::Node own, OwnNode(&document));
  items_.items().clear();
  if (own) {
    const HRESULT hr = dom::RemoveChildren(own.get());
    if (FAILED(hr)) return Raise(hr, kSource, "cannot clear the list's items in the document");
  }
  return LoadItems(source->get());
}

HRESULT CQVAElements::SaveXML(IUnknown* pDocNode, IUnknown* pDocument) {
  com::ClearError();
  auto node = dom::AsNode(pDocNode);
  if (!node) return Raise(node.error(), kSource, "the list's node is not a DOM node");
  auto document = dom::AsDocument(pDocument);
  if (!document) return Raise(document.error(), kSource, "the export target is not a DOM document");
  for (const com::ComPtr<IQVAElement>& e : items_.items()) {
    auto added = dom::AppendElement(document->get(), node->get(), dom::kIndent3, "Item");
    if (!added) return Raise(added.error(), kSource, "cannot add an item to the export");
    const HRESULT hr = dom::SetAttribute(added->get(), "Value", ValueOf(e.get()).get());
    if (FAILED(hr)) return Raise(hr, kSource, "cannot write an item's value");
  }
  return S_OK;
}

}  // namespace qva
