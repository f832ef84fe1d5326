#include "qvacom/policy/filter_rules.h"

#include <algorithm>
#include <map>
#include <string>
#include <utility>

#include "platform/com/errorinfo.h"
#include "platform/com/object.h"
#include "qvacom/settings/list_xml.h"

namespace qva {

namespace filter {

void SortByPriority(std::vector<com::ComPtr<CQVAFilterRule>>* rules) {
  std::reverse(rules->begin(), rules->end());
  std::stable_sort(rules->begin(), rules->end(),
                   [](const auto& a, const auto& b) { return a->record().priority > b->record().priority; });
}

}  // namespace filter

namespace {

constexpr std::string_view kSource = "QVAFilterRules";
constexpr std::string_view kSetSource = "QVAFilterRuleSet";
constexpr std::string_view kRulesTop = "FilterRules";
constexpr std::string_view kDefaultsTop = "FilterRules_Default";

std::string Utf8(BSTR text) {
  std::string out;
  filter::ToUtf8(com::BstrView(text), &out);
  return out;
}

// Same object? (COM identity: the IUnknown of each.)
bool SameObject(IUnknown* a, IUnknown* b) {
  com::ComPtr<IUnknown> ua, ub;
  if (FAILED(a->QueryInterface(IID_IUnknown, ua.put_void())) || FAILED(b->QueryInterface(IID_IUnknown, ub.put_void())))
    return false;
  return ua.get() == ub.get();
}

// Does the element hold the attribute `name` with exactly the text `want`?
com::Expected<bool> AttributeIs(IXMLDOMNode* node, std::string_view name, BSTR want) {
  ASSIGN_OR_RETURN(std::optional<com::Bstr> text, dom::Attribute(node, name));
  return text && text->view() == com::BstrView(want);
}

// Removes `node` from `parent`, and `before` (the node just before it) when that is whitespace-only
// text: the element's indentation in a document built in memory.
HRESULT RemoveIndented(IXMLDOMNode* parent, IXMLDOMNode* node, IXMLDOMNode* before) {
  RETURN_IF_FAILED(dom::Remove(parent, node));
  DOMNodeType kind{};
  com::Bstr text;
  if (!before || FAILED(before->get_nodeType(&kind)) || kind != NODE_TEXT || FAILED(before->get_text(text.put())))
    return S_OK;
  const std::u16string_view t = text.view();
  if (std::all_of(t.begin(), t.end(), [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }))
    return dom::Remove(parent, before);
  return S_OK;
}

}  // namespace

// ---- CQVAFilterRules ----

com::Expected<dom::Node> CQVAFilterRules::Section(IXMLDOMDocument* document, std::string_view top) const {
  ASSIGN_OR_RETURN(dom::Node rules, dom::Section(document, top));
  if (!rules) return dom::Node();
  return dom::Select(rules.get(), filter::kSectionNames[type_]);
}

com::Expected<dom::Document> CQVAFilterRules::OwnDocument() const {
  if (!document_)
    return com::Fail{com::ReportError(E_POINTER, kSource, "the rules are not bound to a settings document")};
  auto document = dom::DocumentOfWrapper(document_.get());
  if (!document)
    return com::Fail{com::ReportError(document.error(), kSource, "the settings document cannot be reached")};
  return document;
}

com::Expected<std::vector<com::ComPtr<CQVAFilterRule>>> CQVAFilterRules::ReadSection(IXMLDOMNode* section,
                                                                                     LONG* op) const {
  if (op) {
    ASSIGN_OR_RETURN(std::optional<com::Bstr> text, dom::Attribute(section, "Operator"));
    *op = text ? filter::ReadInt(text->utf8()) : 0;
  }
  auto children = dom::ChildElements(section);
  if (!children) return com::Fail{com::ReportError(children.error(), kSource, "cannot read the rules' section")};
  std::vector<com::ComPtr<CQVAFilterRule>> rules;
  rules.reserve(children->size());
  for (const dom::Node& child : *children) {
    FilterRuleRecord r;
    std::string_view missing;
    const HRESULT hr = filter::ReadRule(child.get(), &r, &missing);
    if (hr == E_POINTER) {
      return com::Fail{com::ReportError(E_POINTER, kSource,
                                        "a rule of <" + std::string(filter::kSectionNames[type_]) +
                                            "> lacks the attribute \"" + std::string(missing) + "\"")};
    }
    if (FAILED(hr)) return com::Fail{com::ReportError(hr, kSource, "cannot read a rule")};
    auto rule = com::CreateObject<CQVAFilterRule>();
    if (!rule) return com::Fail{com::ReportError(rule.error(), kSource, "cannot make a rule")};
    (*rule)->Assign(std::move(r));
    rules.push_back(std::move(*rule));
  }
  return rules;
}

HRESULT CQVAFilterRules::Clear(bool keep_section) {
  rules_.items().clear();
  if (!keep_section) {
    ASSIGN_OR_RETURN(dom::Document document, OwnDocument());
    ASSIGN_OR_RETURN(dom::Node section, Section(document.get(), kRulesTop));
    if (section) RETURN_IF_FAILED(dom::RemoveChildren(section.get()));
  }
  return settings::SaveSettingsFile(document_.get(), kSource);
}

HRESULT CQVAFilterRules::Init(QvaFilterRuleTypes FilterRuleType, IUnknown* pDocument, IQVAElementSet* pElementSet) {
  if (FilterRuleType < 0 || FilterRuleType >= filter::kRuleTypes)
    return com::ReportError(E_INVALIDARG, kSource, "there is no rule type " + std::to_string(FilterRuleType));
  type_ = FilterRuleType;
  document_ = com::ComPtr<IUnknown>(pDocument);
  element_set_ = com::ComPtr<IQVAElementSet>(pElementSet);
  rules_.items().clear();
  // A document without this collection's section leaves it empty: Init does not fail for it.
  if (auto document = dom::DocumentOfWrapper(pDocument)) LoadXML(document->get());
  com::ClearError();
  return S_OK;
}

HRESULT CQVAFilterRules::LoadXML(IUnknown* pDocument) {
  com::ClearError();
  auto source = dom::AsDocument(pDocument);
  if (!source) return com::ReportError(source.error(), kSource, "the import source is not a DOM document");
  ASSIGN_OR_RETURN(dom::Document own, OwnDocument());
  auto section = Section(source->get(), kRulesTop);
  if (!section) return com::ReportError(section.error(), kSource, "cannot read the import source");
  if (!*section) {
    return com::ReportError(
        E_FAIL, kSource,
        "the document has no <" + std::string(kRulesTop) + "><" + std::string(filter::kSectionNames[type_]) + ">");
  }
  LONG op = 0;
  ASSIGN_OR_RETURN(std::vector<com::ComPtr<CQVAFilterRule>> loaded, ReadSection(section->get(), &op));
  for (const com::ComPtr<CQVAFilterRule>& rule : loaded) {
    FilterRuleRecord r = rule->record();
    r.code_num = filter::CodeNumOf(r.rule_type, r.condition_type, r.value);
    rule->Assign(std::move(r));
  }
  // Loading the own document (Init) must not empty the section it reads from.
  const HRESULT hr = Clear(SameObject(source->get(), own.get()));
  rules_.items() = std::move(loaded);
  operator_ = static_cast<QvaFilterRuleOperator>(op);
  if (type_ == filter::kWarnRules) filter::SortByPriority(&rules_.items());
  return hr;
}

HRESULT CQVAFilterRules::Save() {
  com::ClearError();
  if (type_ == filter::kWarnRules) filter::SortByPriority(&rules_.items());
  ASSIGN_OR_RETURN(dom::Document document, OwnDocument());
  auto found = Section(document.get(), kRulesTop);
  if (!found) return com::ReportError(found.error(), kSource, "cannot read the settings document");
  const dom::Node section = std::move(*found);
  if (!section) {
    return com::ReportError(E_FAIL, kSource,
                            "the settings document has no <" + std::string(kRulesTop) + "><" +
                                std::string(filter::kSectionNames[type_]) + ">");
  }

  // The elements by Num, in document order within one Num; checked before anything is written.
  ASSIGN_OR_RETURN(std::vector<dom::Node> elements, dom::ChildElements(section.get()));
  std::multimap<LONG, size_t> by_num;
  for (size_t i = 0; i < elements.size(); ++i) {
    for (std::string_view key : {"Num", "Filter", "Condition", "Value"}) {
      ASSIGN_OR_RETURN(std::optional<com::Bstr> text, dom::Attribute(elements[i].get(), key));
      if (!text) {
        return com::ReportError(E_POINTER, kSource,
                                "a rule element of <" + std::string(filter::kSectionNames[type_]) +
                                    "> lacks the attribute \"" + std::string(key) + "\"");
      }
      if (key == "Num") by_num.emplace(filter::ReadInt(text->utf8()), i);
    }
  }

  RETURN_IF_FAILED(dom::SetAttribute(section.get(), "Operator", std::to_string(operator_)));
  std::vector<const CQVAFilterRule*> aside;
  for (const com::ComPtr<CQVAFilterRule>& rule : rules_.items()) {
    // Each element is claimed by one rule: a second rule with the same Num gets its own element
    // instead of overwriting the first one's.
    const auto at = by_num.find(rule->record().num);
    if (at == by_num.end()) {
      aside.push_back(rule.get());
      continue;
    }
    RETURN_IF_FAILED(filter::WriteRule(elements[at->second].get(), rule->record()));
    by_num.erase(at);
  }
  for (size_t i = 0; i < aside.size(); ++i) {
    ASSIGN_OR_RETURN(dom::Node added, dom::AppendElement(document.get(), section.get(), "", "FilterRule"));
    RETURN_IF_FAILED(filter::WriteRule(added.get(), aside[i]->record()));
    RETURN_IF_FAILED(
        dom::AppendText(document.get(), section.get(), i + 1 == aside.size() ? dom::kIndent1 : dom::kIndent2));
  }
  return settings::SaveSettingsFile(document_.get(), kSource);
}

HRESULT CQVAFilterRules::get_Count(LONG* pVal) { return rules_.Count(pVal); }

HRESULT CQVAFilterRules::Index(VARIANT v, IQVAFilterRule** pVal) {
  if (!pVal) return E_POINTER;
  CQVAFilterRule* rule = nullptr;
  const HRESULT hr = rules_.Index(v, &rule);
  *pVal = rule;
  if (FAILED(hr)) return com::ReportError(hr, kSource, "no rule at that position");
  return hr;
}

HRESULT CQVAFilterRules::get__NewEnum(IUnknown** pVal) { return rules_.NewEnum(pVal); }

HRESULT CQVAFilterRules::Add(BSTR Name, LONG Priority, IQVAFilterRule** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  auto rule = com::CreateObject<CQVAFilterRule>();
  if (!rule) return com::ReportError(E_FAIL, kSource, "cannot make a rule");
  FilterRuleRecord r;
  r.name = Utf8(Name);
  r.priority = Priority;
  // The smallest number no rule uses: one of 0 .. Count-1, or Count when those are all taken.
  auto& rules = rules_.items();
  std::vector<bool> used(rules.size(), false);
  for (const auto& held : rules) {
    const LONG n = held->record().num;
    if (n >= 0 && static_cast<size_t>(n) < used.size()) used[n] = true;
  }
  r.num = static_cast<LONG>(std::find(used.begin(), used.end(), false) - used.begin());
  (*rule)->Assign(std::move(r));
  rules.push_back(*rule);
  *pVal = rule->get();
  (*pVal)->AddRef();
  return S_OK;
}

HRESULT CQVAFilterRules::Exists(BSTR Name, BSTR Condition, BSTR Value, VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  const std::string name = Utf8(Name), condition = Utf8(Condition), value = Utf8(Value);
  *pVal = std::any_of(rules_.items().begin(), rules_.items().end(),
                      [&](const auto& rule) {
                        const FilterRuleRecord& r = rule->record();
                        return r.name == name && r.condition == condition && r.value == value;
                      })
              ? 1
              : 0;
  return S_OK;
}

HRESULT CQVAFilterRules::Remove(BSTR Name, BSTR Condition, BSTR Value) {
  com::ClearError();
  ASSIGN_OR_RETURN(dom::Document document, OwnDocument());
  const std::string name = Utf8(Name), condition = Utf8(Condition), value = Utf8(Value);
  auto& rules = rules_.items();
  const auto held = std::find_if(rules.begin(), rules.end(), [&](const auto& rule) {
    const FilterRuleRecord& r = rule->record();
    return r.name == name && r.condition == condition && r.value == value;
  });
  if (held != rules.end()) rules.erase(held);

  ASSIGN_OR_RETURN(dom::Node section, Section(document.get(), kRulesTop));
  if (section) {
    ASSIGN_OR_RETURN(std::vector<dom::Node> children, dom::Children(section.get()));
    for (size_t i = 0; i < children.size(); ++i) {
      IXMLDOMNode* element = children[i].get();
      if (!dom::IsElement(element)) continue;
      ASSIGN_OR_RETURN(bool filter_is, AttributeIs(element, "Filter", Name));
      ASSIGN_OR_RETURN(bool condition_is, AttributeIs(element, "Condition", Condition));
      ASSIGN_OR_RETURN(bool value_is, AttributeIs(element, "Value", Value));
      if (filter_is && condition_is && value_is) {
        RETURN_IF_FAILED(RemoveIndented(section.get(), element, i > 0 ? children[i - 1].get() : nullptr));
        break;
      }
    }
  }
  return settings::SaveSettingsFile(document_.get(), kSource);
}

HRESULT CQVAFilterRules::Item(BSTR Name, BSTR Condition, BSTR Value, IQVAFilterRule** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  // One joined key without separators, as the rules have always been found: "ab" + "c" finds the
  // rule named "a" with condition "bc".
  const std::string key = Utf8(Name) + Utf8(Condition) + Utf8(Value);
  for (const com::ComPtr<CQVAFilterRule>& rule : rules_.items()) {
    const FilterRuleRecord& r = rule->record();
    const std::string_view k = key;
    if (k.size() == r.name.size() + r.condition.size() + r.value.size() && k.starts_with(r.name) &&
        k.substr(r.name.size()).starts_with(r.condition) && k.ends_with(r.value)) {
      *pVal = rule.get();
      (*pVal)->AddRef();
      return S_OK;
    }
  }
  return com::ReportError(E_FAIL, kSource, "there is no such rule");
}

HRESULT CQVAFilterRules::Default() {
  com::ClearError();
  ASSIGN_OR_RETURN(dom::Document document, OwnDocument());
  auto section = Section(document.get(), kDefaultsTop);
  if (!section) return com::ReportError(section.error(), kSource, "cannot read the settings document");
  // Checked before the rules are cleared: with no factory rules to restore, the rules stay.
  if (!*section) {
    return com::ReportError(E_FAIL, kSource,
                            "the settings document has no <" + std::string(kDefaultsTop) + "><" +
                                std::string(filter::kSectionNames[type_]) + ">");
  }
  ASSIGN_OR_RETURN(std::vector<com::ComPtr<CQVAFilterRule>> defaults, ReadSection(section->get(), nullptr));
  const HRESULT hr = Clear(false);
  rules_.items() = std::move(defaults);
  return hr;
}

HRESULT CQVAFilterRules::MatchWith(LONG type, BSTR value, filter::Subject& subject, filter::ListLookups& lists,
                                   IQVAFilterRule** out) {
  subject.Reset(value);
  lists.Reset(element_set_.get());
  const auto& rules = rules_.items();
  for (size_t i = 0; i < rules.size(); ++i) {
    CQVAFilterRule* rule = rules[i].get();
    if (rule->record().rule_type != type) continue;
    // Held for the test: a list look-up calls out of this object.
    const com::ComPtr<CQVAFilterRule> hold(rule);
    bool holds = false;
    RETURN_IF_FAILED(filter::Holds(rule->condition(), subject, lists, &holds));
    if (holds) {
      *out = rule;
      rule->AddRef();
      return S_OK;
    }
  }
  return S_FALSE;
}

HRESULT CQVAFilterRules::Match(LONG Type, BSTR Value, IQVAFilterRule** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  if (matching_) {
    filter::Subject subject;
    filter::ListLookups lists;
    return MatchWith(Type, Value, subject, lists, pVal);
  }
  matching_ = true;
  const HRESULT hr = MatchWith(Type, Value, subject_, lists_, pVal);
  matching_ = false;
  return hr;
}

HRESULT CQVAFilterRules::ContainElements(LONG, BSTR Elements, VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  const std::string name = Utf8(Elements);
  const bool found = std::any_of(rules_.items().begin(), rules_.items().end(), [&](const auto& rule) {
    const FilterRuleRecord& r = rule->record();
    return (r.condition_type == filter::kInList || r.condition_type == filter::kNotInList ||
            r.condition_type == filter::kNamesList) &&
           r.value == name;
  });
  *pVal = found ? 1 : 0;
  return found ? S_OK : S_FALSE;
}

HRESULT CQVAFilterRules::get_Operator(QvaFilterRuleOperator* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = operator_;
  return S_OK;
}

HRESULT CQVAFilterRules::put_Operator(QvaFilterRuleOperator newVal) {
  operator_ = newVal;
  return S_OK;
}

HRESULT CQVAFilterRules::ItemByCodeNum(LONG CodeNum, IQVAFilterRule** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  for (const com::ComPtr<CQVAFilterRule>& rule : rules_.items()) {
    if (rule->record().code_num == CodeNum) {
      *pVal = rule.get();
      (*pVal)->AddRef();
      return S_OK;
    }
  }
  return S_FALSE;
}

HRESULT CQVAFilterRules::SaveXML(IUnknown* pDocument) {
  com::ClearError();
  auto target = dom::AsDocument(pDocument);
  if (!target) return com::ReportError(target.error(), kSource, "the export target is not a DOM document");
  auto top = dom::Section(target->get(), kRulesTop);
  if (!top) return com::ReportError(top.error(), kSource, "cannot read the export target");
  if (!*top) return com::ReportError(E_FAIL, kSource, "the export target has no <" + std::string(kRulesTop) + ">");
  IXMLDOMDocument* doc = target->get();
  ASSIGN_OR_RETURN(dom::Node section, dom::AppendElement(doc, top->get(), dom::kIndent2, filter::kSectionNames[type_]));
  RETURN_IF_FAILED(dom::SetAttribute(section.get(), "Operator", std::to_string(operator_)));
  for (const com::ComPtr<CQVAFilterRule>& rule : rules_.items()) {
    ASSIGN_OR_RETURN(dom::Node element, dom::AppendElement(doc, section.get(), dom::kIndent3, "FilterRule"));
    RETURN_IF_FAILED(filter::WriteRule(element.get(), rule->record()));
  }
  return dom::AppendText(doc, section.get(), dom::kIndent1);
}

// ---- CQVAFilterRuleSet ----

HRESULT CQVAFilterRuleSet::FinalConstruct() {
  for (com::ComPtr<CQVAFilterRules>& c : collections_) {
    auto made = com::CreateObject<CQVAFilterRules>();
    if (!made) return made.error();
    c = std::move(*made);
  }
  return S_OK;
}

HRESULT CQVAFilterRuleSet::Hand(LONG type, IQVAFilterRules** out) const {
  if (!out) return E_POINTER;
  *out = collections_[type].get();
  (*out)->AddRef();
  return S_OK;
}

HRESULT CQVAFilterRuleSet::GetFilterRules(QvaFilterRuleTypes FilterRuleTypes, IQVAFilterRules** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  if (FilterRuleTypes != qvaFilterRuleDefault)
    return com::ReportError(E_FAIL, kSetSource, "GetFilterRules hands out the default rules only");
  return Hand(qvaFilterRuleDefault, pVal);
}

HRESULT CQVAFilterRuleSet::Init(IUnknown* pDocument, IQVAElementSet* pElementSet) {
  for (LONG type = 0; type < filter::kRuleTypes; ++type) {
    auto made = com::CreateObject<CQVAFilterRules>();
    if (!made) return com::ReportError(made.error(), kSetSource, "cannot make a rule collection");
    (*made)->Init(static_cast<QvaFilterRuleTypes>(type), pDocument, pElementSet);
    collections_[type] = std::move(*made);
  }
  com::ClearError();
  return S_OK;
}

HRESULT CQVAFilterRuleSet::get_DefaultRules(IQVAFilterRules** pVal) { return Hand(0, pVal); }
HRESULT CQVAFilterRuleSet::get_TrafficRules(IQVAFilterRules** pVal) { return Hand(1, pVal); }
HRESULT CQVAFilterRuleSet::get_UrltraceRules(IQVAFilterRules** pVal) { return Hand(2, pVal); }
HRESULT CQVAFilterRuleSet::get_FileRules(IQVAFilterRules** pVal) { return Hand(3, pVal); }
HRESULT CQVAFilterRuleSet::get_BlockRules(IQVAFilterRules** pVal) { return Hand(4, pVal); }
HRESULT CQVAFilterRuleSet::get_RealDefaultRules(IQVAFilterRules** pVal) { return Hand(5, pVal); }
HRESULT CQVAFilterRuleSet::get_RealTrafficRules(IQVAFilterRules** pVal) { return Hand(6, pVal); }
HRESULT CQVAFilterRuleSet::get_RealUrltraceRules(IQVAFilterRules** pVal) { return Hand(7, pVal); }
HRESULT CQVAFilterRuleSet::get_RealFileRules(IQVAFilterRules** pVal) { return Hand(8, pVal); }
HRESULT CQVAFilterRuleSet::get_RealBlockRules(IQVAFilterRules** pVal) { return Hand(9, pVal); }
HRESULT CQVAFilterRuleSet::get_WarnRules(IQVAFilterRules** pVal) { return Hand(10, pVal); }
HRESULT CQVAFilterRuleSet::get_QueryRules(IQVAFilterRules** pVal) { return Hand(11, pVal); }
HRESULT CQVAFilterRuleSet::get_MalwareRules(IQVAFilterRules** pVal) { return Hand(12, pVal); }
HRESULT CQVAFilterRuleSet::get_RealMalwareRules(IQVAFilterRules** pVal) { return Hand(13, pVal); }
HRESULT CQVAFilterRuleSet::get_NISRules(IQVAFilterRules** pVal) { return Hand(14, pVal); }
HRESULT CQVAFilterRuleSet::get_RealNISRules(IQVAFilterRules** pVal) { return Hand(15, pVal); }

HRESULT CQVAFilterRuleSet::ContainElements(LONG Type, BSTR Elements, VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = 0;
  for (LONG type : filter::kMemberOrder) {
    VARIANT_BOOL found = 0;
    collections_[type]->ContainElements(Type, Elements, &found);
    if (found == 1) {
      *pVal = 1;
      return S_OK;
    }
  }
  return S_FALSE;
}

HRESULT CQVAFilterRuleSet::LoadXML(IUnknown* pDocument) {
  // A collection whose section the import lacks keeps its rules; the others load all the same.
  for (LONG type : filter::kMemberOrder) collections_[type]->LoadXML(pDocument);
  com::ClearError();
  return S_OK;
}

HRESULT CQVAFilterRuleSet::SaveXML(IUnknown* pDocument) {
  com::ClearError();
  auto target = dom::AsDocument(pDocument);
  if (!target) return com::ReportError(target.error(), kSetSource, "the export target is not a DOM document");
  auto root = dom::Root(target->get());
  if (!root) return com::ReportError(root.error(), kSetSource, "the export target has no top-level element");
  auto top = dom::AppendElement(target->get(), root->get(), dom::kIndent1, kRulesTop);
  if (!top) return com::ReportError(top.error(), kSetSource, "cannot add <FilterRules> to the export");
  for (LONG type : filter::kMemberOrder) RETURN_IF_FAILED(collections_[type]->SaveXML(pDocument));
  return S_OK;
}

HRESULT CQVAFilterRuleSet::Save() {
  // Every collection is saved; the first failure is returned, so a file that was not written
  // never reads as saved.
  HRESULT first = S_OK;
  for (LONG type : filter::kMemberOrder) {
    const HRESULT hr = collections_[type]->Save();
    if (FAILED(hr) && SUCCEEDED(first)) first = hr;
  }
  return first;
}

}  // namespace qva
