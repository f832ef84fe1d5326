// The filter rules of the settings document: sixteen collections, one per rule type, each held
// in its own section under "FilterRules"; "FilterRules_Default" holds the factory rules in the
// same layout.
//
//   <FilterRules>
//     <DefaultRule Operator="0"/>
//     <TrafficRule Operator="0">
//       <FilterRule Num="0" Filter="..." Condition="" Type="2" ConditionType="8" Priority="0"
//                   Value="PrivateAddresses" nValue="0" dbValue="0"/>
//     </TrafficRule>
//     ...
//   </FilterRules>
//
// `CQVAFilterRules` is one collection: its rules in evaluation order, the operator (stored and
// persisted, used by no member: its meaning lies with the callers) and the document wrapper and
// element set given to Init. `CQVAFilterRuleSet` holds the sixteen collections; members that
// visit all of them do so in the member order (kMemberOrder).
//
// Memory and document:
// - Add and the rules' puts change memory only; Save writes every rule onto the element with its
//   Num (an element is claimed by one rule only, so rules that share a Num each keep an element),
//   appends elements for the rest and writes the settings file. Save deletes nothing.
// - Remove deletes the rule and the first element with the same name, condition and operand, and
//   writes the file at once.
// - LoadXML replaces the rules by those of a section of another document, Default by those of
//   the own "FilterRules_Default". Both read the whole source first: when the source section is
//   missing (E_FAIL) or one of its elements lacks an attribute (E_POINTER) nothing changes.
//   Otherwise they empty the own section and write the file; the new rules reach the section at
//   the next Save. LoadXML of the own document (Init) keeps the section as it is.
// - Loading reads the element children of a section and passes over its indentation text.
// - The warning rules (type 10) are sorted by descending Priority after every LoadXML and
//   before every Save: reversed, then sorted stably, so rules of equal priority swap each time.
// - CodeNum is derived by LoadXML only; rules made by Add or Default keep theirs (0).
// - Save fails with E_POINTER, writing nothing, when an element of the section lacks "Num",
//   "Filter", "Condition" or "Value"; with E_FAIL when the section is missing.
//
// The rule set's Init and LoadXML visit every collection and answer S_OK whatever each answered
// (a document without some section leaves that collection as it was); its Save saves every
// collection and returns the first failure, so a file that was not written never reads as saved.
//
// Match (qvacom/policy/filter_match.h) tests the rules of the asked kind in collection order and
// hands out the first that holds: S_OK with the rule, S_FALSE with null when none holds, or the
// element set's failure when a list named by a rule tested on the way is missing. Each rule's
// operand is read once, after its kind, code or operand last changed; the value is converted to
// UTF-8 once per call; each list is fetched once per call, since the element set offers no way
// to tell whether a list changed between calls.
//
// Each collection keeps a reference on the wrapper and on the element set it was given. Objects
// live in a single-threaded apartment and take no locks.
#pragma once

#include <array>
#include <string_view>

#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "qvacom/frame/item_list.h"
#include "qvacom/policy/filter_match.h"
#include "qvacom/policy/filter_rule.h"
#include "qvacom/settings/dom.h"
#include "qvacom_idl.h"

namespace qva {

namespace filter {

inline constexpr LONG kRuleTypes = 16;
inline constexpr LONG kWarnRules = 10;

// The section element of each rule type, indexed by the type.
inline constexpr std::array<std::string_view, kRuleTypes> kSectionNames = {
    "DefaultRule",     "TrafficRule",      "UrltraceRule", "FileRule",      "BlockRule", "RealDefaultRule",
    "RealTrafficRule", "RealUrltraceRule", "RealFileRule", "RealBlockRule", "WarnRule",  "QueryRule",
    "MalwareRule",     "RealMalwareRule",  "NISRule",      "RealNISRule"};

// The order in which the rule set visits its collections.
inline constexpr std::array<LONG, kRuleTypes> kMemberOrder = {0, 1, 2, 3, 4, 12, 14, 5, 6, 7, 8, 9, 13, 15, 10, 11};

// Reverses the rules, then sorts them stably by descending Priority.
void SortByPriority(std::vector<com::ComPtr<CQVAFilterRule>>* rules);

}  // namespace filter

class CQVAFilterRules : public com::Dispatch<IQVAFilterRules> {
 public:
  QVA_DECL_IQVAFilterRules;

 private:
  // The section of this collection's type under `top` ("FilterRules" or "FilterRules_Default")
  // in `document`; a null node when either element is missing.
  com::Expected<dom::Node> Section(IXMLDOMDocument* document, std::string_view top) const;
  // The wrapper's document; E_POINTER (raised) when the collection has none.
  com::Expected<dom::Document> OwnDocument() const;
  // Reads every rule of `section` (its Operator too, when `op` is given); E_POINTER (raised) at
  // an element that lacks an attribute.
  com::Expected<std::vector<com::ComPtr<CQVAFilterRule>>> ReadSection(IXMLDOMNode* section, LONG* op) const;
  // Releases the rules, empties the own section unless `keep_section`, and writes the file.
  HRESULT Clear(bool keep_section);
  // Match with the call's scratch state.
  HRESULT MatchWith(LONG type, BSTR value, filter::Subject& subject, filter::ListLookups& lists, IQVAFilterRule** out);

  LONG type_ = 0;
  QvaFilterRuleOperator operator_ = qvaFilterRuleAnd;
  ItemList<CQVAFilterRule> rules_;
  com::ComPtr<IUnknown> document_;  // the settings document wrapper given to Init
  com::ComPtr<IQVAElementSet> element_set_;
  // Match's buffers, kept between calls; `matching_` marks them in use (a re-entrant call makes
  // its own).
  filter::Subject subject_;
  filter::ListLookups lists_;
  bool matching_ = false;
};

class CQVAFilterRuleSet : public com::Dispatch<IQVAFilterRuleSet> {
 public:
  QVA_DECL_IQVAFilterRuleSet;

  // Makes the sixteen collections, empty and unbound until Init.
  HRESULT FinalConstruct();

 private:
  HRESULT Hand(LONG type, IQVAFilterRules** out) const;

  std::array<com::ComPtr<CQVAFilterRules>, filter::kRuleTypes> collections_;
};

}  // namespace qva
