// One filter rule: a plain record of the kind of value it tests (RuleType), the comparison
// (ConditionType), the operand (sValue) and the fields kept with it, stored in the settings
// document as one "FilterRule" element:
//
//   <FilterRule Num="0" Filter="Private network traffic" Condition="" Type="2" ConditionType="8"
//               Priority="0" Value="PrivateAddresses" nValue="0" dbValue="0"/>
//
// Strings are held as UTF-8 and converted at every property. Each property reads or writes its
// field; nothing is checked. A rule made by Add starts with empty texts and zeros.
//
// The rule keeps its condition compiled for evaluation (qvacom/policy/filter_match.h): made on
// the first Match after RuleType, ConditionType or sValue last changed.
//
// Single-threaded apartment object: no locks.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/com/dispatch.h"
#include "platform/com/result.h"
#include "qvacom/policy/filter_match.h"
#include "qvacom/settings/dom.h"
#include "qvacom_idl.h"

namespace qva {

struct FilterRuleRecord {
  std::string name;       // "Filter"
  std::string condition;  // "Condition": kept, never evaluated
  std::string value;      // "Value": the operand
  LONG rule_type = 0;     // "Type": the kind of value tested
  LONG condition_type = 0;
  LONG priority = 0;
  LONG num = 0;  // the key Save finds the rule's element by
  LONG n_value = 0;
  double db_value = 0;
  LONG code_num = 0;  // not stored; derived by a load (filter::CodeNumOf)
};

class CQVAFilterRule : public com::Dispatch<IQVAFilterRule> {
 public:
  QVA_DECL_IQVAFilterRule;

  const FilterRuleRecord& record() const { return r_; }
  // Replaces every field.
  void Assign(FilterRuleRecord r);
  void SetNum(LONG num) { r_.num = num; }
  // The condition as Match evaluates it.
  const filter::Condition& condition() {
    if (!condition_) condition_ = filter::Compile(r_.rule_type, r_.condition_type, r_.value);
    return *condition_;
  }

 private:
  FilterRuleRecord r_;
  std::optional<filter::Condition> condition_;  // empty whenever kind, code or operand changed
};

namespace filter {

// The nine attributes of a "FilterRule" element, in the order they are written.
inline constexpr std::string_view kRuleAttributes[] = {"Num",      "Filter", "Condition", "Type",   "ConditionType",
                                                       "Priority", "Value",  "nValue",    "dbValue"};

// Reads the nine attributes of `node` into `r` (integers as atoi, "dbValue" as atof, in the "C"
// conventions); CodeNum is left alone. A node without one of them is E_POINTER, with the
// attribute's name in `*missing` ("" when the node is no element).
HRESULT ReadRule(IXMLDOMNode* node, FilterRuleRecord* r, std::string_view* missing);
// Sets the nine attributes on `element`: integers as decimal text, "dbValue" as the platform's
// variant-to-text conversion writes a double ("C" conventions, 15 significant digits).
HRESULT WriteRule(IXMLDOMNode* element, const FilterRuleRecord& r);

}  // namespace filter

}  // namespace qva
