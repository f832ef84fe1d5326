#include "qvacom/policy/filter_rule.h"

#include <string>
#include <utility>

#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/oleauto.h"

namespace qva {
namespace {

constexpr std::string_view kSource = "QVAFilterRule";

HRESULT GetText(const std::string& field, BSTR* out) {
  if (!out) return E_POINTER;
  *out = com::AllocBstr(field);
  if (!*out) return com::ReportError(E_OUTOFMEMORY, kSource, "out of memory");
  return S_OK;
}

HRESULT GetNumber(LONG field, LONG* out) {
  if (!out) return E_POINTER;
  *out = field;
  return S_OK;
}

}  // namespace

void CQVAFilterRule::Assign(FilterRuleRecord r) {
  r_ = std::move(r);
  condition_.reset();
}

HRESULT CQVAFilterRule::get_Name(BSTR* pVal) { return GetText(r_.name, pVal); }

HRESULT CQVAFilterRule::put_Name(BSTR newVal) {
  filter::ToUtf8(com::BstrView(newVal), &r_.name);
  return S_OK;
}

HRESULT CQVAFilterRule::get_ConditionType(LONG* pVal) { return GetNumber(r_.condition_type, pVal); }

HRESULT CQVAFilterRule::put_ConditionType(LONG newVal) {
  r_.condition_type = newVal;
  condition_.reset();
  return S_OK;
}

HRESULT CQVAFilterRule::get_Condition(BSTR* pVal) { return GetText(r_.condition, pVal); }

HRESULT CQVAFilterRule::put_Condition(BSTR newVal) {
  filter::ToUtf8(com::BstrView(newVal), &r_.condition);
  return S_OK;
}

HRESULT CQVAFilterRule::get_RuleType(LONG* pVal) { return GetNumber(r_.rule_type, pVal); }

HRESULT CQVAFilterRule::put_RuleType(LONG newVal) {
  r_.rule_type = newVal;
  condition_.reset();
  return S_OK;
}

HRESULT CQVAFilterRule::get_sValue(BSTR* pVal) { return GetText(r_.value, pVal); }

HRESULT CQVAFilterRule::put_sValue(BSTR newVal) {
  filter::ToUtf8(com::BstrView(newVal), &r_.value);
  condition_.reset();
  return S_OK;
}

HRESULT CQVAFilterRule::get_nValue(LONG* pVal) { return GetNumber(r_.n_value, pVal); }

HRESULT CQVAFilterRule::put_nValue(LONG newVal) {
  r_.n_value = newVal;
  return S_OK;
}

HRESULT CQVAFilterRule::get_dbValue(DOUBLE* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = r_.db_value;
  return S_OK;
}

HRESULT CQVAFilterRule::put_dbValue(DOUBLE newVal) {
  r_.db_value = newVal;
  return S_OK;
}

HRESULT CQVAFilterRule::get_Priority(LONG* pVal) { return GetNumber(r_.priority, pVal); }

HRESULT CQVAFilterRule::put_Priority(LONG newVal) {
  r_.priority = newVal;
  return S_OK;
}

HRESULT CQVAFilterRule::get_Num(LONG* pVal) { return GetNumber(r_.num, pVal); }

HRESULT CQVAFilterRule::put_Num(LONG newVal) {
  r_.num = newVal;
  return S_OK;
}

HRESULT CQVAFilterRule::get_CodeNum(LONG* pVal) { return GetNumber(r_.code_num, pVal); }

HRESULT CQVAFilterRule::put_CodeNum(LONG newVal) {
  r_.code_num = newVal;
  return S_OK;
}

namespace filter {

HRESULT ReadRule(IXMLDOMNode* node, FilterRuleRecord* r, std::string_view* missing) {
  *missing = "";
  if (!dom::IsElement(node)) return E_POINTER;
  std::string texts[std::size(kRuleAttributes)];
  for (size_t i = 0; i < std::size(kRuleAttributes); ++i) {
    ASSIGN_OR_RETURN(std::optional<com::Bstr> text, dom::Attribute(node, kRuleAttributes[i]));
    if (!text) {
      *missing = kRuleAttributes[i];
      return E_POINTER;
    }
    ToUtf8(text->view(), &texts[i]);
  }
  r->num = ReadInt(texts[0]);
  r->name = std::move(texts[1]);
  r->condition = std::move(texts[2]);
  r->rule_type = ReadInt(texts[3]);
  r->condition_type = ReadInt(texts[4]);
  r->priority = ReadInt(texts[5]);
  r->value = std::move(texts[6]);
  r->n_value = ReadInt(texts[7]);
  r->db_value = ReadDouble(texts[8]);
  return S_OK;
}

HRESULT WriteRule(IXMLDOMNode* element, const FilterRuleRecord& r) {
  com::Bstr db_value;
  RETURN_IF_FAILED(VarBstrFromR8(r.db_value, LOCALE_USER_DEFAULT, 0, db_value.put()));
  const std::string numbers[] = {std::to_string(r.num), std::to_string(r.rule_type), std::to_string(r.condition_type),
                                 std::to_string(r.priority), std::to_string(r.n_value)};
  RETURN_IF_FAILED(dom::SetAttribute(element, "Num", numbers[0]));
  RETURN_IF_FAILED(dom::SetAttribute(element, "Filter", r.name));
  RETURN_IF_FAILED(dom::SetAttribute(element, "Condition", r.condition));
  RETURN_IF_FAILED(dom::SetAttribute(element, "Type", numbers[1]));
  RETURN_IF_FAILED(dom::SetAttribute(element, "ConditionType", numbers[2]));
  RETURN_IF_FAILED(dom::SetAttribute(element, "Priority", numbers[3]));
  RETURN_IF_FAILED(dom::SetAttribute(element, "Value", r.value));
  RETURN_IF_FAILED(dom::SetAttribute(element, "nValue", numbers[4]));
  return dom::SetAttribute(element, "dbValue", db_value.get());
}

}  // namespace filter

}  // namespace qva
