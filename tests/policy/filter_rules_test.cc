// The filter rule set and its collections over the settings document: loading, numbering, the
// key look-ups, Save by Num, Remove, Default, the warning rules' order, export and import.
#include "qvacom/policy/filter_rules.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <string>
#include <vector>

#include "qvacom/settings/element_set.h"
#include "tests/settings/list_fixture.h"

namespace qva {
namespace {

namespace fs = std::filesystem;
using testing::ErrorDescription;
using testing::Make;
using testing::Occurrences;
using testing::SettingsXml;

// The process runs under a locale whose decimal separator is a comma while this is alive.
struct CommaLocale {
  CommaLocale() : old(std::setlocale(LC_ALL, nullptr)), active(std::setlocale(LC_ALL, "de_DE.utf8") != nullptr) {}
  ~CommaLocale() { std::setlocale(LC_ALL, old.c_str()); }
  const std::string old;
  const bool active;
};

// A "FilterRule" element.
std::string RuleXml(int num, const std::string& name, int type, int code, const std::string& value, int priority = 0,
                    const std::string& condition = "", const std::string& db_value = "0") {
  return "<FilterRule Num=\"" + std::to_string(num) + "\" Filter=\"" + name + "\" Condition=\"" + condition +
         "\" Type=\"" + std::to_string(type) + "\" ConditionType=\"" + std::to_string(code) + "\" Priority=\"" +
         std::to_string(priority) + "\" Value=\"" + value + "\" nValue=\"7\" dbValue=\"" + db_value + "\"/>";
}

// A "FilterRules" section (or "FilterRules_Default") holding `traffic` in its TrafficRule and
// `warn` in its WarnRule; every other type empty.
std::string Rules(const std::string& traffic, const std::string& warn = "", const std::string& top = "FilterRules") {
  std::string xml = "<" + top + ">";
  for (std::string_view name : filter::kSectionNames) {
    const std::string& body = name == "TrafficRule" ? traffic : name == "WarnRule" ? warn : std::string();
    xml += "<" + std::string(name) + " Operator=\"0\">" + body + "</" + std::string(name) + ">";
  }
  return xml + "</" + top + ">";
}

struct RuleView {
  std::string name, condition, value;
  LONG type = 0, code = 0, priority = 0, num = 0, n_value = 0, code_num = 0;
  double db_value = 0;
  bool operator==(const RuleView&) const = default;
};

std::ostream& operator<<(std::ostream& os, const RuleView& r) {
  return os << "{" << r.name << "|" << r.condition << "|" << r.value << " type " << r.type << " code " << r.code
            << " prio " << r.priority << " num " << r.num << " n " << r.n_value << " db " << r.db_value << " codenum "
            << r.code_num << "}";
}

RuleView ViewOf(IQVAFilterRule* rule) {
  RuleView v;
  com::Bstr text;
  rule->get_Name(text.put());
  v.name = text.utf8();
  rule->get_Condition(text.put());
  v.condition = text.utf8();
  rule->get_sValue(text.put());
  v.value = text.utf8();
  rule->get_RuleType(&v.type);
  rule->get_ConditionType(&v.code);
  rule->get_Priority(&v.priority);
  rule->get_Num(&v.num);
  rule->get_nValue(&v.n_value);
  rule->get_CodeNum(&v.code_num);
  rule->get_dbValue(&v.db_value);
  return v;
}

std::vector<RuleView> ViewOf(IQVAFilterRules* rules) {
  std::vector<RuleView> out;
  LONG count = 0;
  EXPECT_EQ(rules->get_Count(&count), S_OK);
  for (LONG i = 0; i < count; ++i) {
    com::ComPtr<IQVAFilterRule> rule;
    EXPECT_EQ(rules->Index(com::Variant::I4(i), rule.put()), S_OK);
    if (rule) out.push_back(ViewOf(rule.get()));
  }
  return out;
}

std::vector<std::string> Names(IQVAFilterRules* rules) {
  std::vector<std::string> out;
  for (const RuleView& r : ViewOf(rules)) out.push_back(r.name);
  return out;
}

class FilterRulesTest : public testing::SettingsFileTest {
 protected:
  void SetUp() override { com::ClearError(); }

  // Opens a settings file holding `sections` and binds a rule set (and an element set) to it.
  com::ComPtr<CQVAFilterRuleSet> Load(const std::string& sections) {
    wrapper_ = Open(SettingsXml("<ElementSet/>" + sections));
    return Bind();
  }
  // A fresh wrapper, element set and rule set over the file as it is on disk.
  com::ComPtr<CQVAFilterRuleSet> Bind() {
    wrapper_ = Reopen();
    set_ = Make<CQVAElementSet>();
    EXPECT_EQ(set_->Init(wrapper_.get()), S_OK) << ErrorDescription();
    auto rules = Make<CQVAFilterRuleSet>();
    EXPECT_EQ(rules->Init(wrapper_.get(), set_.get()), S_OK);
    return rules;
  }
  static com::ComPtr<IQVAFilterRules> Traffic(IQVAFilterRuleSet* set) {
    com::ComPtr<IQVAFilterRules> rules;
    EXPECT_EQ(set->get_TrafficRules(rules.put()), S_OK);
    return rules;
  }
  static com::ComPtr<IQVAFilterRules> Warn(IQVAFilterRuleSet* set) {
    com::ComPtr<IQVAFilterRules> rules;
    EXPECT_EQ(set->get_WarnRules(rules.put()), S_OK);
    return rules;
  }
  // The "FilterRule" elements of `section` under `top` in the file on disk.
  std::vector<RuleView> FileRules(std::string_view section, std::string_view top = "FilterRules") {
    auto wrapper = Reopen();
    auto doc = dom::DocumentOfWrapper(wrapper.get());
    std::vector<RuleView> out;
    auto parent = dom::Section(doc->get(), top);
    if (!parent.ok() || !*parent) return out;
    auto node = dom::Select(parent->get(), section);
    if (!node.ok() || !*node) return out;
    const std::vector<dom::Node> elements = dom::ChildElements(node->get()).value();
    for (const dom::Node& e : elements) {
      RuleView v;
      v.name = Attr(e, "Filter");
      v.condition = Attr(e, "Condition");
      v.value = Attr(e, "Value");
      v.num = std::stoi(Attr(e, "Num"));
      v.priority = std::stoi(Attr(e, "Priority"));
      out.push_back(v);
    }
    return out;
  }
  std::vector<std::string> FileNames(std::string_view section, std::string_view top = "FilterRules") {
    std::vector<std::string> out;
    for (const RuleView& r : FileRules(section, top)) out.push_back(r.name);
    return out;
  }
  fs::file_time_type Written() { return fs::last_write_time(File()); }
  // Marks the file as old, so that a later write shows in its time.
  void Age() { fs::last_write_time(File(), fs::file_time_type::clock::now() - std::chrono::hours(1)); }
  bool WrittenSinceAge() { return fs::file_time_type::clock::now() - Written() < std::chrono::minutes(30); }

  com::ComPtr<CQVAXMLDoc> wrapper_;
  com::ComPtr<CQVAElementSet> set_;
};

const std::string kTwoRules = RuleXml(0, "a", 1, 6, "x") + RuleXml(1, "b", 1, 6, "y");

TEST_F(FilterRulesTest, LoadReadsEveryAttributeAndDerivesCodeNum) {
  auto set = Load(Rules(RuleXml(4, "Private", 2, 8, "Nets", 3, "cond", "2.5") + RuleXml(0, "e", 1, 2, "")));
  const std::vector<RuleView> want = {
      {"Private", "cond", "Nets", 2, 8, 3, 4, 7, filter::CodeNumOf(2, 8, "Nets"), 2.5},
      {"e", "", "", 1, 2, 0, 0, 7, 65, 0},
  };
  EXPECT_EQ(ViewOf(Traffic(set.get()).get()), want);
  QvaFilterRuleOperator op = qvaFilterRuleOr;
  EXPECT_EQ(Traffic(set.get())->get_Operator(&op), S_OK);
  EXPECT_EQ(op, qvaFilterRuleAnd);
}

TEST_F(FilterRulesTest, NumbersAreReadAsAtoiAndAtofReadThem) {
  auto set = Load(Rules(R"(<FilterRule Num=" 12abc" Filter="n" Condition="" Type="+2" ConditionType="x" )"
                        R"(Priority="-3" Value="v" nValue="99999999999" dbValue=" 1.25e1xyz"/>)"));
  const RuleView r = ViewOf(Traffic(set.get()).get()).at(0);
  EXPECT_EQ(r.num, 12);
  EXPECT_EQ(r.type, 2);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.priority, -3);
  EXPECT_EQ(r.n_value, 2147483647);
  EXPECT_EQ(r.db_value, 12.5);
}

TEST_F(FilterRulesTest, EachPropertyHandsOutTheCollectionOfItsSection) {
  // Every section holds one rule named after the section.
  std::string xml = "<FilterRules>";
  for (std::string_view name : filter::kSectionNames)
    xml += "<" + std::string(name) + " Operator=\"1\">" + RuleXml(0, std::string(name), 1, 2, "v") + "</" +
           std::string(name) + ">";
  auto set = Load(xml + "</FilterRules>");
  using Getter = HRESULT (IQVAFilterRuleSet::*)(IQVAFilterRules**);
  const struct {
    Getter get;
    std::string_view section;
  } properties[] = {
      {&IQVAFilterRuleSet::get_DefaultRules, "DefaultRule"},
      {&IQVAFilterRuleSet::get_TrafficRules, "TrafficRule"},
      {&IQVAFilterRuleSet::get_UrltraceRules, "UrltraceRule"},
      {&IQVAFilterRuleSet::get_FileRules, "FileRule"},
      {&IQVAFilterRuleSet::get_BlockRules, "BlockRule"},
      {&IQVAFilterRuleSet::get_RealDefaultRules, "RealDefaultRule"},
      {&IQVAFilterRuleSet::get_RealTrafficRules, "RealTrafficRule"},
      {&IQVAFilterRuleSet::get_RealUrltraceRules, "RealUrltraceRule"},
      {&IQVAFilterRuleSet::get_RealFileRules, "RealFileRule"},
      {&IQVAFilterRuleSet::get_RealBlockRules, "RealBlockRule"},
      {&IQVAFilterRuleSet::get_WarnRules, "WarnRule"},
      {&IQVAFilterRuleSet::get_QueryRules, "QueryRule"},
      {&IQVAFilterRuleSet::get_MalwareRules, "MalwareRule"},
      {&IQVAFilterRuleSet::get_RealMalwareRules, "RealMalwareRule"},
      {&IQVAFilterRuleSet::get_NISRules, "NISRule"},
      {&IQVAFilterRuleSet::get_RealNISRules, "RealNISRule"},
  };
  IQVAFilterRuleSet* iface = set.get();
  for (const auto& p : properties) {
    com::ComPtr<IQVAFilterRules> rules;
    ASSERT_EQ((iface->*p.get)(rules.put()), S_OK);
    EXPECT_EQ(Names(rules.get()), std::vector<std::string>{std::string(p.section)});
    QvaFilterRuleOperator op = qvaFilterRuleAnd;
    rules->get_Operator(&op);
    EXPECT_EQ(op, qvaFilterRuleOr) << p.section;
  }

  com::ComPtr<IQVAFilterRules> by_type, by_property;
  EXPECT_EQ(set->GetFilterRules(qvaFilterRuleDefault, by_type.put()), S_OK);
  set->get_DefaultRules(by_property.put());
  EXPECT_EQ(by_type.get(), by_property.get());
  for (LONG type : {1, 10, 15, -1, 16}) {
    com::ComPtr<IQVAFilterRules> none;
    EXPECT_EQ(set->GetFilterRules(static_cast<QvaFilterRuleTypes>(type), none.put()), E_FAIL) << type;
    EXPECT_FALSE(none);
  }
}

TEST_F(FilterRulesTest, AddTakesTheSmallestFreeNumber) {
  const struct {
    std::vector<int> nums;
    LONG want;
  } cases[] = {
      {{}, 0}, {{0, 1, 3}, 2}, {{1, 2}, 0}, {{0, 1, 2}, 3}, {{0, 0, 1}, 2}, {{5}, 0}, {{-1, 0}, 1},
  };
  for (const auto& c : cases) {
    std::string xml;
    for (int n : c.nums) xml += RuleXml(n, "r" + std::to_string(n), 1, 6, "v");
    auto set = Load(Rules(xml));
    auto rules = Traffic(set.get());
    com::ComPtr<IQVAFilterRule> added;
    ASSERT_EQ(rules->Add(com::Bstr("new").get(), 4, added.put()), S_OK);
    const RuleView v = ViewOf(added.get());
    EXPECT_EQ(v.num, c.want) << ::testing::PrintToString(c.nums);
    EXPECT_EQ(v.priority, 4);
    EXPECT_EQ(v.name, "new");
    EXPECT_EQ(Names(rules.get()).back(), "new");
  }
}

TEST_F(FilterRulesTest, ExistsAnswersOneAndItemFindsTheJoinedKey) {
  auto set = Load(Rules(RuleXml(0, "ab", 1, 6, "c", 0, "") + RuleXml(1, "x", 1, 6, "z", 0, "y")));
  auto rules = Traffic(set.get());
  const struct {
    const char *name, *condition, *value;
    VARIANT_BOOL exists;
    const char* item;  // the rule Item hands out, or null for E_FAIL
  } cases[] = {
      {"ab", "", "c", 1, "ab"},    {"a", "b", "c", 0, "ab"},  // another split of the same joined text
      {"", "", "abc", 0, "ab"},    {"x", "y", "z", 1, "x"},    {"xy", "z", "", 0, "x"},
      {"AB", "", "c", 0, nullptr}, {"ab", "", "", 0, nullptr},
  };
  for (const auto& c : cases) {
    VARIANT_BOOL exists = -7;
    EXPECT_EQ(rules->Exists(com::Bstr(c.name).get(), com::Bstr(c.condition).get(), com::Bstr(c.value).get(), &exists),
              S_OK);
    EXPECT_EQ(exists, c.exists) << c.name << "|" << c.condition << "|" << c.value;
    com::ComPtr<IQVAFilterRule> item;
    const HRESULT hr =
        rules->Item(com::Bstr(c.name).get(), com::Bstr(c.condition).get(), com::Bstr(c.value).get(), item.put());
    EXPECT_EQ(hr, c.item ? S_OK : E_FAIL);
    EXPECT_EQ(item ? ViewOf(item.get()).name : "", c.item ? c.item : "");
  }
}

TEST_F(FilterRulesTest, ItemByCodeNumFindsLoadedRulesOnly) {
  auto set = Load(Rules(RuleXml(0, "empty", 1, 2, "") + RuleXml(1, "abc", 1, 2, "abc")));
  auto rules = Traffic(set.get());
  com::ComPtr<IQVAFilterRule> added, found;
  ASSERT_EQ(rules->Add(com::Bstr("added").get(), 0, added.put()), S_OK);
  const struct {
    LONG code_num;
    HRESULT hr;
    const char* name;
  } cases[] = {{65, S_OK, "empty"}, {499 * 1024 + 65, S_OK, "abc"}, {0, S_OK, "added"}, {66, S_FALSE, ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(rules->ItemByCodeNum(c.code_num, found.put()), c.hr) << c.code_num;
    EXPECT_EQ(found ? ViewOf(found.get()).name : "", c.name);
  }
}

TEST_F(FilterRulesTest, IndexOutsideTheRulesIsInvalidArgument) {
  auto set = Load(Rules(kTwoRules));
  auto rules = Traffic(set.get());
  for (const com::Variant& position : {com::Variant::I4(-1), com::Variant::I4(2), com::Variant::Str("x")}) {
    com::ComPtr<IQVAFilterRule> rule;
    EXPECT_EQ(rules->Index(position, rule.put()), E_INVALIDARG);
    EXPECT_FALSE(rule);
  }
  com::ComPtr<IQVAFilterRule> second;
  ASSERT_EQ(rules->Index(com::Variant::Str("1"), second.put()), S_OK);
  EXPECT_EQ(ViewOf(second.get()).name, "b");
}

TEST_F(FilterRulesTest, NewEnumWalksASnapshotOfTheRulesInOrder) {
  auto set = Load(Rules(kTwoRules));
  auto rules = Traffic(set.get());
  com::ComPtr<IUnknown> unknown;
  ASSERT_EQ(rules->get__NewEnum(unknown.put()), S_OK);
  com::ComPtr<IEnumVARIANT> items;
  ASSERT_EQ(unknown.As(&items), S_OK);
  ASSERT_EQ(rules->Remove(com::Bstr("a").get(), com::Bstr("").get(), com::Bstr("x").get()), S_OK);
  std::vector<std::string> walked;
  com::Variant item;
  while (items->Next(1, item.put(), nullptr) == S_OK) {
    com::ComPtr<IQVAFilterRule> rule;
    ASSERT_EQ(item.pdispVal->QueryInterface(IID_IQVAFilterRule, rule.put_void()), S_OK);
    walked.push_back(ViewOf(rule.get()).name);
  }
  EXPECT_EQ(walked, (std::vector<std::string>{"a", "b"}));
}

TEST_F(FilterRulesTest, EditsSurviveSaveAndAFreshInit) {
  auto set = Load(Rules(kTwoRules));
  auto rules = Traffic(set.get());
  com::ComPtr<IQVAFilterRule> b, added;
  ASSERT_EQ(rules->Index(com::Variant::I4(1), b.put()), S_OK);
  b->put_sValue(com::Bstr("changed").get());
  b->put_dbValue(0.1 + 0.2);
  ASSERT_EQ(rules->Add(com::Bstr("c").get(), 2, added.put()), S_OK);
  added->put_RuleType(3);
  added->put_ConditionType(10);
  added->put_sValue(com::Bstr("list <&\"> ü").get());
  added->put_Condition(com::Bstr("free text").get());
  rules->put_Operator(qvaFilterRuleOr);
  const std::vector<RuleView> before = ViewOf(rules.get());
  ASSERT_EQ(set->Save(), S_OK) << ErrorDescription();

  // Rewritten in place by Num; the new rule appended.
  EXPECT_EQ(FileNames("TrafficRule"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(Occurrences(FileText(), "dbValue=\"0.3\""), 1u);

  auto again = Bind();
  auto reloaded = Traffic(again.get());
  std::vector<RuleView> after = ViewOf(reloaded.get());
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    // CodeNum is derived by the load; the rest is what was saved (dbValue to 15 digits).
    EXPECT_EQ(after[i].code_num, filter::CodeNumOf(before[i].type, before[i].code, before[i].value));
    after[i].code_num = before[i].code_num;
    after[i].db_value = before[i].db_value;
  }
  EXPECT_EQ(after, before);
  QvaFilterRuleOperator op = qvaFilterRuleAnd;
  reloaded->get_Operator(&op);
  EXPECT_EQ(op, qvaFilterRuleOr);
}

TEST_F(FilterRulesTest, SaveGivesRulesSharingANumAnElementEach) {
  auto set = Load(Rules(RuleXml(0, "a", 1, 6, "x") + RuleXml(0, "b", 1, 6, "y")));
  auto rules = Traffic(set.get());
  for (LONG i : {0, 1}) {
    com::ComPtr<IQVAFilterRule> rule;
    ASSERT_EQ(rules->Index(com::Variant::I4(i), rule.put()), S_OK);
    rule->put_Name(com::Bstr(i == 0 ? "a2" : "b2").get());
  }
  ASSERT_EQ(rules->Save(), S_OK);
  // Writing the second rule onto the first one's element would lose "a2".
  EXPECT_EQ(FileNames("TrafficRule"), (std::vector<std::string>{"a2", "b2"}));
  EXPECT_EQ(Names(Traffic(Bind().get()).get()), (std::vector<std::string>{"a2", "b2"}));
}

TEST_F(FilterRulesTest, SaveFailsOnADamagedElementBeforeWritingAnything) {
  auto set = Load(Rules(kTwoRules));
  // The file gains an element without "Value" behind the collection's back.
  auto doc = dom::DocumentOfWrapper(wrapper_.get()).value();
  auto section = dom::Select(dom::Section(doc.get(), "FilterRules")->get(), "TrafficRule").value();
  auto bad = dom::AppendElement(doc.get(), section.get(), "", "FilterRule").value();
  ASSERT_EQ(dom::SetAttribute(bad.get(), "Num", std::string_view("9")), S_OK);
  ASSERT_EQ(dom::SetAttribute(bad.get(), "Filter", std::string_view("f")), S_OK);
  ASSERT_EQ(dom::SetAttribute(bad.get(), "Condition", std::string_view("")), S_OK);
  auto rules = Traffic(set.get());
  com::ComPtr<IQVAFilterRule> a;
  rules->Index(com::Variant::I4(0), a.put());
  a->put_Name(com::Bstr("renamed").get());
  Age();
  EXPECT_EQ(rules->Save(), E_POINTER);
  EXPECT_FALSE(WrittenSinceAge());
  EXPECT_EQ(Attr(dom::ChildElements(section.get())->at(0), "Filter"), "a");
}

TEST_F(FilterRulesTest, SavingWarningRulesOrdersThemByDescendingPriorityAndSwapsEqualOnes) {
  auto set = Load(Rules(""));
  auto warn = Warn(set.get());
  for (auto [name, priority] : {std::pair{"first5", 5}, {"nine", 9}, {"second5", 5}}) {
    com::ComPtr<IQVAFilterRule> rule;
    ASSERT_EQ(warn->Add(com::Bstr(name).get(), priority, rule.put()), S_OK);
  }
  ASSERT_EQ(warn->Save(), S_OK);
  const std::vector<std::string> sorted = {"nine", "second5", "first5"};
  EXPECT_EQ(Names(warn.get()), sorted);
  EXPECT_EQ(FileNames("WarnRule"), sorted);
  // Every sort swaps the equal ones again: once more on load.
  EXPECT_EQ(Names(Warn(Bind().get()).get()), (std::vector<std::string>{"nine", "first5", "second5"}));
}

TEST_F(FilterRulesTest, OtherCollectionsKeepTheirOrder) {
  auto set = Load(Rules(RuleXml(0, "low", 1, 6, "x", 1) + RuleXml(1, "high", 1, 6, "y", 9)));
  auto rules = Traffic(set.get());
  ASSERT_EQ(rules->Save(), S_OK);
  EXPECT_EQ(Names(rules.get()), (std::vector<std::string>{"low", "high"}));
}

TEST_F(FilterRulesTest, RemoveDeletesRuleAndElementAndWritesTheFile) {
  auto set = Load(Rules(kTwoRules + RuleXml(2, "a", 1, 6, "x")));
  auto rules = Traffic(set.get());
  Age();
  ASSERT_EQ(rules->Remove(com::Bstr("a").get(), com::Bstr("").get(), com::Bstr("x").get()), S_OK);
  EXPECT_TRUE(WrittenSinceAge());
  EXPECT_EQ(Names(rules.get()), (std::vector<std::string>{"b", "a"}));
  const std::vector<RuleView> file = FileRules("TrafficRule");
  ASSERT_EQ(file.size(), 2u);
  EXPECT_EQ(file[0].name, "b");
  EXPECT_EQ(file[1].num, 2);

  // Nothing to remove: still S_OK, and the file is written.
  Age();
  EXPECT_EQ(rules->Remove(com::Bstr("zz").get(), com::Bstr("").get(), com::Bstr("x").get()), S_OK);
  EXPECT_TRUE(WrittenSinceAge());
  EXPECT_EQ(Names(rules.get()).size(), 2u);
}

TEST_F(FilterRulesTest, RemoveOfARuleAddedInMemoryLeavesTheDocumentAlone) {
  auto set = Load(Rules(kTwoRules));
  auto rules = Traffic(set.get());
  com::ComPtr<IQVAFilterRule> added;
  ASSERT_EQ(rules->Add(com::Bstr("new").get(), 0, added.put()), S_OK);
  ASSERT_EQ(rules->Remove(com::Bstr("new").get(), com::Bstr("").get(), com::Bstr("").get()), S_OK);
  EXPECT_EQ(Names(rules.get()), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(FileNames("TrafficRule"), (std::vector<std::string>{"a", "b"}));
}

TEST_F(FilterRulesTest, DefaultRestoresTheFactoryRulesWhichReachTheFileAtSave) {
  auto set = Load(Rules(kTwoRules) + Rules(RuleXml(0, "factory", 2, 8, "Nets"), "", "FilterRules_Default"));
  auto rules = Traffic(set.get());
  Age();
  ASSERT_EQ(rules->Default(), S_OK) << ErrorDescription();
  EXPECT_TRUE(WrittenSinceAge());
  EXPECT_EQ(Names(rules.get()), std::vector<std::string>{"factory"});
  EXPECT_EQ(ViewOf(rules.get()).at(0).code_num, 0) << "Default derives no CodeNum";
  EXPECT_TRUE(FileRules("TrafficRule").empty());
  EXPECT_EQ(FileNames("TrafficRule", "FilterRules_Default"), std::vector<std::string>{"factory"});

  ASSERT_EQ(rules->Save(), S_OK);
  EXPECT_EQ(FileNames("TrafficRule"), std::vector<std::string>{"factory"});
}

TEST_F(FilterRulesTest, DefaultWithoutFactoryRulesChangesNothing) {
  const struct {
    std::string defaults;
    HRESULT hr;
  } cases[] = {
      {"", E_FAIL},
      {"<FilterRules_Default/>", E_FAIL},
      {Rules(R"(<FilterRule Num="0" Filter="f"/>)", "", "FilterRules_Default"), E_POINTER},
  };
  for (const auto& c : cases) {
    auto set = Load(Rules(kTwoRules) + c.defaults);
    auto rules = Traffic(set.get());
    EXPECT_EQ(rules->Default(), c.hr) << c.defaults;
    EXPECT_EQ(Names(rules.get()), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(FileNames("TrafficRule"), (std::vector<std::string>{"a", "b"}));
  }
}

TEST_F(FilterRulesTest, SaveXmlThenLoadXmlRoundTrips) {
  auto set = Load(Rules(kTwoRules, RuleXml(0, "w", 12, 4, "100", 5, "c", "1.5")));
  Traffic(set.get())->put_Operator(qvaFilterRuleOr);
  dom::Document export_doc = NewDom();
  ASSERT_EQ(set->SaveXML(export_doc.get()), S_OK) << ErrorDescription();
  const std::string text = DomText(export_doc.get());
  EXPECT_NE(text.find("\n\t<FilterRules>\n\t\t<DefaultRule Operator=\"0\">\n\t</DefaultRule>\n\t\t<TrafficRule "
                      "Operator=\"1\">\n\t\t\t<FilterRule Num=\"0\" Filter=\"a\" Condition=\"\" Type=\"1\" "
                      "ConditionType=\"6\" Priority=\"0\" Value=\"x\" nValue=\"7\" dbValue=\"0\"/>"),
            std::string::npos)
      << text;
  // Member order: the malware and NIS sections come before the real-time ones.
  EXPECT_LT(text.find("<NISRule"), text.find("<RealDefaultRule"));
  EXPECT_LT(text.find("<RealNISRule"), text.find("<WarnRule"));

  // Into another settings file whose rules differ; the in-memory export is read as it is.
  auto other = Load(Rules(RuleXml(0, "old", 1, 6, "o")));
  ASSERT_EQ(other->LoadXML(export_doc.get()), S_OK);
  EXPECT_EQ(ViewOf(Traffic(other.get()).get()), ViewOf(Traffic(set.get()).get()));
  EXPECT_EQ(ViewOf(Warn(other.get()).get()), ViewOf(Warn(set.get()).get()));
  QvaFilterRuleOperator op = qvaFilterRuleAnd;
  Traffic(other.get())->get_Operator(&op);
  EXPECT_EQ(op, qvaFilterRuleOr);
  // The old rules left the file at once; the imported ones arrive with Save.
  EXPECT_TRUE(FileRules("TrafficRule").empty());
  ASSERT_EQ(other->Save(), S_OK);
  EXPECT_EQ(FileNames("TrafficRule"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(FileNames("WarnRule"), std::vector<std::string>{"w"});
}

TEST_F(FilterRulesTest, LoadXmlOfAFaultySourceChangesNothing) {
  const struct {
    std::string source;
    HRESULT hr;
  } cases[] = {
      {"<Vodrik/>", E_FAIL},
      {"<Vodrik><FilterRules/></Vodrik>", E_FAIL},
      {"<Vodrik>" + Rules(RuleXml(0, "n", 1, 6, "v") + R"(<FilterRule Num="1" Filter="f" Condition=""/>)") +
           "</Vodrik>",
       E_POINTER},
  };
  for (const auto& c : cases) {
    auto set = Load(Rules(kTwoRules));
    auto rules = Traffic(set.get());
    dom::Document source = NewDom(c.source);
    EXPECT_EQ(rules->LoadXML(source.get()), c.hr) << c.source;
    EXPECT_EQ(Names(rules.get()), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(FileNames("TrafficRule"), (std::vector<std::string>{"a", "b"}));
  }
}

TEST_F(FilterRulesTest, LoadXmlOfTheOwnDocumentKeepsItsElements) {
  auto set = Load(Rules(kTwoRules));
  auto rules = Traffic(set.get());
  com::ComPtr<IQVAFilterRule> added;
  rules->Add(com::Bstr("unsaved").get(), 0, added.put());
  auto own = dom::DocumentOfWrapper(wrapper_.get()).value();
  ASSERT_EQ(rules->LoadXML(own.get()), S_OK);
  EXPECT_EQ(Names(rules.get()), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(FileNames("TrafficRule"), (std::vector<std::string>{"a", "b"}));
}

TEST_F(FilterRulesTest, AMissingOperatorReadsAsAnd) {
  auto set = Load("<FilterRules><TrafficRule>" + kTwoRules + "</TrafficRule></FilterRules>");
  QvaFilterRuleOperator op = qvaFilterRuleOr;
  Traffic(set.get())->get_Operator(&op);
  EXPECT_EQ(op, qvaFilterRuleAnd);
  EXPECT_EQ(Names(Traffic(set.get()).get()).size(), 2u);
}

TEST_F(FilterRulesTest, AMissingSectionLeavesItsCollectionEmptyAndFailsItsSave) {
  auto set = Load("<FilterRules><DefaultRule Operator=\"0\">" + kTwoRules + "</DefaultRule></FilterRules>");
  com::ComPtr<IQVAFilterRules> defaults;
  set->get_DefaultRules(defaults.put());
  EXPECT_EQ(Names(defaults.get()).size(), 2u);
  EXPECT_TRUE(Names(Traffic(set.get()).get()).empty());
  EXPECT_EQ(Traffic(set.get())->Save(), E_FAIL);
  EXPECT_EQ(defaults->Save(), S_OK);
  EXPECT_EQ(set->Save(), E_FAIL);
}

TEST_F(FilterRulesTest, InitTakesOnlyTheSixteenRuleTypes) {
  Load(Rules(kTwoRules));
  auto rules = Make<CQVAFilterRules>();
  for (LONG type : {-1, 16, 100}) {
    EXPECT_EQ(rules->Init(static_cast<QvaFilterRuleTypes>(type), wrapper_.get(), set_.get()), E_INVALIDARG);
  }
  EXPECT_EQ(rules->Init(qvaFilterRuleTraffic, wrapper_.get(), set_.get()), S_OK);
  EXPECT_EQ(Names(rules.get()), (std::vector<std::string>{"a", "b"}));
}

TEST_F(FilterRulesTest, ContainElementsFindsRulesThatNameAList) {
  std::string xml = "<FilterRules>";
  for (std::string_view name : filter::kSectionNames) {
    std::string body;
    if (name == "TrafficRule") body = RuleXml(0, "t", 2, 2, "ByEquals") + RuleXml(1, "u", 2, 9, "ByCode9");
    if (name == "QueryRule") body = RuleXml(0, "q", 1, 10, "ByCode10");
    if (name == "MalwareRule") body = RuleXml(0, "m", 1, 8, "ByCode8");
    xml += "<" + std::string(name) + ">" + body + "</" + std::string(name) + ">";
  }
  auto set = Load(xml + "</FilterRules>");
  const struct {
    const char* list;
    VARIANT_BOOL found;
  } cases[] = {{"ByCode8", 1}, {"ByCode9", 1}, {"ByCode10", 1}, {"ByEquals", 0}, {"bycode8", 0}, {"", 0}};
  for (const auto& c : cases) {
    VARIANT_BOOL found = -7;
    EXPECT_EQ(set->ContainElements(99, com::Bstr(c.list).get(), &found), c.found ? S_OK : S_FALSE) << c.list;
    EXPECT_EQ(found, c.found) << c.list;
  }
  VARIANT_BOOL found = -7;
  EXPECT_EQ(Traffic(set.get())->ContainElements(0, com::Bstr("ByCode9").get(), &found), S_OK);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(Traffic(set.get())->ContainElements(0, com::Bstr("ByCode10").get(), &found), S_FALSE);
  EXPECT_EQ(found, 0);
}

TEST_F(FilterRulesTest, NumbersAreWrittenInTheCConventionsUnderAnyLocale) {
  const CommaLocale comma;
  if (!comma.active) GTEST_SKIP() << "no decimal-comma locale on this machine";
  auto set = Load(Rules(RuleXml(0, "a", 1, 6, "x", 0, "", "2.75")));
  auto rules = Traffic(set.get());
  com::ComPtr<IQVAFilterRule> a;
  rules->Index(com::Variant::I4(0), a.put());
  EXPECT_EQ(ViewOf(a.get()).db_value, 2.75);
  a->put_dbValue(-1234.5);
  ASSERT_EQ(rules->Save(), S_OK);
  EXPECT_EQ(Occurrences(FileText(), "dbValue=\"-1234.5\""), 1u);
}

// The template as shipped: empty rule sections, factory rules under "FilterRules_Default".
class FilterTemplateTest : public FilterRulesTest {
 protected:
  com::ComPtr<CQVAFilterRuleSet> LoadTemplate() {
    fs::copy_file(fs::path(QVA_TEMPLATE_DIR) / "vodrik_e.xmt", File());
    return Bind();
  }
};

TEST_F(FilterTemplateTest, RestoredFactoryRulesEvaluateValues) {
  auto set = LoadTemplate();
  using Getter = HRESULT (IQVAFilterRuleSet::*)(IQVAFilterRules**);
  const struct {
    Getter get;
    LONG kind;
    const char* value;
    HRESULT hr;
  } cases[] = {
      {&IQVAFilterRuleSet::get_TrafficRules, 2, "192.168.5.5", S_OK},
      {&IQVAFilterRuleSet::get_TrafficRules, 2, "172.31.255.255", S_OK},
      {&IQVAFilterRuleSet::get_TrafficRules, 2, "8.8.8.8", S_FALSE},
      {&IQVAFilterRuleSet::get_TrafficRules, 1, "192.168.5.5", S_FALSE},
      {&IQVAFilterRuleSet::get_UrltraceRules, 1, "http://host/logo.gif?x=1", S_OK},
      {&IQVAFilterRuleSet::get_UrltraceRules, 1, "http://host/page.html", S_FALSE},
      {&IQVAFilterRuleSet::get_FileRules, 9, "setup.exe", S_OK},
      {&IQVAFilterRuleSet::get_BlockRules, 3, "anything.example.com", S_FALSE},
      {&IQVAFilterRuleSet::get_WarnRules, 12, "104857601", S_OK},
      {&IQVAFilterRuleSet::get_WarnRules, 12, "104857600", S_FALSE},
  };
  IQVAFilterRuleSet* iface = set.get();
  for (const auto& c : cases) {
    com::ComPtr<IQVAFilterRules> rules;
    ASSERT_EQ((iface->*c.get)(rules.put()), S_OK);
    LONG count = 0;
    rules->get_Count(&count);
    EXPECT_EQ(count, 0) << "the shipped rule sections are empty";
    ASSERT_EQ(rules->Default(), S_OK) << ErrorDescription();
    com::ComPtr<IQVAFilterRule> found;
    EXPECT_EQ(rules->Match(c.kind, com::Bstr(c.value).get(), found.put()), c.hr) << c.value;
    EXPECT_EQ(static_cast<bool>(found), c.hr == S_OK);
    // Back to the shipped state for the next case of the same collection.
    ASSERT_EQ(rules->LoadXML(dom::DocumentOfWrapper(wrapper_.get())->get()), S_OK);
  }
}

TEST_F(FilterTemplateTest, DefaultsSavedSurviveAFreshInit) {
  auto set = LoadTemplate();
  auto rules = Traffic(set.get());
  ASSERT_EQ(rules->Default(), S_OK);
  ASSERT_EQ(set->Save(), S_OK) << ErrorDescription();
  auto again = Bind();
  EXPECT_EQ(Names(Traffic(again.get()).get()), std::vector<std::string>{"Private network traffic"});
  VARIANT_BOOL named = 0;
  EXPECT_EQ(again->ContainElements(0, com::Bstr("PrivateAddresses").get(), &named), S_OK);
  EXPECT_EQ(named, 1);
  com::ComPtr<IQVAFilterRule> found;
  EXPECT_EQ(Traffic(again.get())->Match(2, com::Bstr("10.1.1.1").get(), found.put()), S_OK);
}

}  // namespace
}  // namespace qva
