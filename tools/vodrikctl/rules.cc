// The filter rules: sixteen collections in the settings document, one per rule type. A rule has
// no unique name; within its collection it is known by its Num, which Add makes unique.
//
// Remove finds a rule by name, condition and operand and deletes the first rule (and document
// element) of that triple, so a rule whose triple another rule of the collection shares cannot
// be removed by its Num without risking the other one: such a remove is refused.
#include <sysexits.h>

#include "tools/vodrikctl/commands.h"
#include "tools/vodrikctl/output.h"

namespace vodrikctl {
namespace {

struct RuleType {
  const char* word;
  const char* property;  // of the rule set
};

const RuleType kRuleTypes[] = {
    {"default", "DefaultRules"},
    {"traffic", "TrafficRules"},
    {"urltrace", "UrltraceRules"},
    {"file", "FileRules"},
    {"block", "BlockRules"},
    {"real-default", "RealDefaultRules"},
    {"real-traffic", "RealTrafficRules"},
    {"real-urltrace", "RealUrltraceRules"},
    {"real-file", "RealFileRules"},
    {"real-block", "RealBlockRules"},
    {"warn", "WarnRules"},
    {"query", "QueryRules"},
    {"malware", "MalwareRules"},
    {"real-malware", "RealMalwareRules"},
    {"nis", "NISRules"},
    {"real-nis", "RealNISRules"},
};

const Cells kColumns = {"Num", "Name", "RuleType", "ConditionType", "sValue", "Condition", "Priority"};

struct Triple {
  std::string name, condition, value;
  bool operator==(const Triple&) const = default;
};

Triple TripleOf(IDispatch* rule) {
  return {Text(Get(rule, "Name")), Text(Get(rule, "Condition")), Text(Get(rule, "sValue"))};
}

LONG ParseNumber(const std::string& text, const char* what) {
  size_t used = 0;
  long long value = 0;
  try {
    value = std::stoll(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || text.empty() || value < INT32_MIN || value > INT32_MAX)
    throw UsageError{std::string(what) + " must be a whole number, not " + text};
  return static_cast<LONG>(value);
}

Object RuleByNum(IDispatch* rules, const std::string& num_text) {
  const LONG num = ParseNumber(num_text, "NUM");
  for (Object& rule : Items(rules)) {
    const com::Variant value = Get(rule.get(), "Num");
    if (value.vt == VT_I4 && value.lVal == num) return std::move(rule);
  }
  throw Refusal{kExitNoSuchItem, "no rule with Num " + num_text};
}

size_t SharingTriple(IDispatch* rules, const Triple& triple) {
  size_t count = 0;
  for (const Object& rule : Items(rules))
    if (TripleOf(rule.get()) == triple) ++count;
  return count;
}

void RemoveTriple(IDispatch* rules, const Triple& triple) {
  std::vector<com::Variant> args;
  args.push_back(com::Variant::Str(triple.name));
  args.push_back(com::Variant::Str(triple.condition));
  args.push_back(com::Variant::Str(triple.value));
  Call(rules, "Remove", std::move(args));
}

const std::string& Argument(const Invocation& invocation, const char* action, const char* what) {
  if (invocation.words.size() != 3) throw UsageError{std::string(action) + " takes one " + what};
  return invocation.words[2];
}

}  // namespace

int RunRules(IDispatch* array, const Invocation& invocation) {
  if (invocation.words.size() < 2) throw UsageError{"rules needs a TYPE and an action"};
  const RuleType* type = nullptr;
  for (const RuleType& t : kRuleTypes)
    if (invocation.words[0] == t.word) type = &t;
  if (!type) throw UsageError{"unknown rule TYPE " + invocation.words[0]};
  const std::string& action = invocation.words[1];
  if (action != "add" && (!invocation.assignments.empty() || !invocation.priority.empty()))
    throw UsageError{"--set and --priority belong to add"};

  Object rule_set;
  try {
    rule_set = GetObject(array, "FilterRuleSet");
  } catch (const Failure& failure) {
    throw Refusal{EX_UNAVAILABLE, "the filter rules are not available from this array (" + failure.description + ")"};
  }
  Object rules = GetObject(rule_set.get(), type->property);

  if (action == "list") {
    if (invocation.words.size() != 2) throw UsageError{"list takes no arguments"};
    std::vector<std::vector<Property>> records;
    for (const Object& rule : Items(rules.get()))
      records.push_back(invocation.json ? ReadProperties(rule.get()) : ReadProperties(rule.get(), kColumns));
    PrintRecords(stdout, records, kColumns, invocation.json);
    return 0;
  }
  if (action == "show") {
    PrintRecord(stdout, ReadProperties(RuleByNum(rules.get(), Argument(invocation, "show", "NUM")).get()),
                invocation.json);
    return 0;
  }
  if (action == "add") {
    const std::string& name = Argument(invocation, "add", "NAME");
    const LONG priority = invocation.priority.empty() ? 0 : ParseNumber(invocation.priority, "--priority");
    std::vector<std::pair<std::string, std::string>> assignments;
    for (const std::string& text : invocation.assignments) {
      assignments.push_back(SplitAssignment(text));
      if (assignments.back().first == "Name" || assignments.back().first == "Num")
        throw UsageError{"the Name of a new rule is its NAME argument, and Add gives it its Num"};
    }
    std::vector<com::Variant> args;
    args.push_back(com::Variant::Str(name));
    args.push_back(com::Variant::I4(priority));
    Object rule = CallForObject(rules.get(), "Add", std::move(args));
    try {
      for (const auto& [property, value] : assignments) PutText(rule.get(), property, value);
      Call(rule_set.get(), "Save");
    } catch (...) {
      // Take the new rule out of memory again, unless another rule shares its triple (Remove
      // would take that one's document element).
      try {
        const Triple triple = TripleOf(rule.get());
        if (SharingTriple(rules.get(), triple) == 1) RemoveTriple(rules.get(), triple);
      } catch (const Failure&) {
      }
      throw;
    }
    return 0;
  }
  if (action == "remove") {
    Object rule = RuleByNum(rules.get(), Argument(invocation, "remove", "NUM"));
    const Triple triple = TripleOf(rule.get());
    if (SharingTriple(rules.get(), triple) > 1)
      throw Refusal{kExitBadData,
                    "another rule of this type has the same name, condition and operand; the object "
                    "model cannot tell them apart to remove one"};
    RemoveTriple(rules.get(), triple);
    Call(rule_set.get(), "Save");
    return 0;
  }
  throw UsageError{"unknown action " + action + ": list, show, add or remove"};
}

}  // namespace vodrikctl
