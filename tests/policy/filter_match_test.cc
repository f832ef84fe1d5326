// Evaluation of filter rules: every value kind and condition code against the element set's
// lists, the pattern tests, number readings in any locale, and the search order of Match.
#include "qvacom/policy/filter_match.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <string>
#include <vector>

#include "qvacom/policy/filter_rules.h"
#include "qvacom/settings/element_set.h"
#include "tests/settings/list_fixture.h"

namespace qva {
namespace {

using testing::ErrorDescription;
using testing::Make;
using testing::SettingsXml;

// The process runs under a locale whose decimal separator is a comma while this is alive.
struct CommaLocale {
  CommaLocale() : old(std::setlocale(LC_ALL, nullptr)), active(std::setlocale(LC_ALL, "de_DE.utf8") != nullptr) {}
  ~CommaLocale() { std::setlocale(LC_ALL, old.c_str()); }
  const std::string old;
  const bool active;
};

// Lists for codes 8 and 9, one per list type the kinds consult.
constexpr char kLists[] = R"(<ElementSet>
  <Element Name="Nets" Type="7">
    <Item Value="192.168.1.10 - 192.168.1.20"/>
    <Item Value="10.0.0.0 - 10.255.255.255"/>
  </Element>
  <Element Name="W" Type="8"><Item Value="bad*"/><Item Value="*never"/><Item Value="exactword"/></Element>
  <Element Name="W" Type="1"><Item Value="bad*"/></Element>
  <Element Name="W" Type="0"><Item Value="bad*"/></Element>
  <Element Name="W" Type="3"><Item Value="bad*"/></Element>
  <Element Name="W" Type="5"><Item Value="bad*"/></Element>
  <Element Name="H" Type="4"><Item Value="*.example.com"/><Item Value="exact.org"/></Element>
  <Element Name="H" Type="9"><Item Value="*.example.com"/></Element>
  <Element Name="Ports" Type="2"><Item Value="80"/><Item Value="44*"/></Element>
</ElementSet>)";

class FilterMatchTest : public testing::SettingsFileTest {
 protected:
  void SetUp() override {
    wrapper_ = Open(SettingsXml(std::string(kLists) + "<FilterRules><TrafficRule Operator=\"0\"/></FilterRules>"));
    set_ = Make<CQVAElementSet>();
    ASSERT_EQ(set_->Init(wrapper_.get()), S_OK) << ErrorDescription();
    rules_ = Make<CQVAFilterRules>();
    ASSERT_EQ(rules_->Init(qvaFilterRuleTraffic, wrapper_.get(), set_.get()), S_OK);
  }

  com::ComPtr<IQVAFilterRule> AddRule(LONG kind, LONG code, const std::string& operand, const std::string& name = "r") {
    com::ComPtr<IQVAFilterRule> rule;
    EXPECT_EQ(rules_->Add(com::Bstr(name).get(), 0, rule.put()), S_OK);
    SetRule(rule.get(), kind, code, operand);
    return rule;
  }
  static void SetRule(IQVAFilterRule* rule, LONG kind, LONG code, const std::string& operand) {
    EXPECT_EQ(rule->put_RuleType(kind), S_OK);
    EXPECT_EQ(rule->put_ConditionType(code), S_OK);
    EXPECT_EQ(rule->put_sValue(com::Bstr(operand).get()), S_OK);
  }
  // Match's result and the name of the rule it handed out ("" for none).
  std::pair<HRESULT, std::string> Match(LONG kind, const std::string& value) {
    com::ComPtr<IQVAFilterRule> found;
    const HRESULT hr = rules_->Match(kind, com::Bstr(value).get(), found.put());
    com::Bstr name;
    if (found) found->get_Name(name.put());
    return {hr, name.utf8()};
  }

  com::ComPtr<CQVAXMLDoc> wrapper_;
  com::ComPtr<CQVAElementSet> set_;
  com::ComPtr<CQVAFilterRules> rules_;
};

struct Case {
  LONG kind;
  LONG code;
  const char* operand;
  const char* value;
  bool holds;
};

constexpr Case kCases[] = {
    // Kind 1, star pattern: a prefix and a star hold anywhere; a leading star never; else equality.
    {1, 2, "abc*", "xxabcyy", true},
    {1, 2, "abc*def", "abc", true},
    {1, 2, "abc*", "ab", false},
    {1, 2, "*abc", "abc", false},
    {1, 2, "*abc", "*abc", false},
    {1, 2, "Abc", "Abc", true},
    {1, 2, "Abc", "abc", false},
    {1, 2, "Abc", "Abcd", false},
    {1, 3, "*abc", "anything", true},
    {1, 3, "Abc", "Abc", false},
    {1, 3, "abc*", "zzz", true},
    {1, 4, "1", "2", false},
    {1, 5, "3", "2", false},
    {1, 6, "bc", "abcd", true},
    {1, 6, "", "x", true},
    {1, 6, "BC", "abcd", false},
    {1, 7, "bc", "abcd", false},
    {1, 7, "zz", "abcd", true},
    {1, 8, "W", "a badge", true},
    {1, 8, "W", "exactword", true},
    {1, 8, "W", "xnever", false},
    {1, 8, "W", "nice", false},
    {1, 9, "W", "nice", true},
    {1, 9, "W", "a badge", false},
    {1, 10, "W", "W", false},
    {1, 1, "x", "x", false},
    {1, 11, "x", "x", false},
    // Kind 2: dot-star pattern, address order, substring, address ranges.
    {2, 2, "192.168.*", "10.192.168.1", true},
    {2, 2, "192.168.*", "192.169.0.1", false},
    {2, 2, ".*", "1.2.3.4", true},
    {2, 2, "1.2.3.4", "1.2.3.4", true},
    {2, 2, "1.2.3.4", "1.2.3.40", false},
    {2, 3, "1.2.3.4", "1.2.3.40", true},
    {2, 4, "192.168.1.9", "192.168.1.10", true},
    {2, 4, "192.168.1.10", "192.168.1.10", false},
    {2, 4, "9.0.0.0", "10.0.0.0", true},
    {2, 5, "192.168.1.11", "192.168.1.10", true},
    {2, 5, "192.168.1.10", "192.168.1.11", false},
    // No address: no order in either direction, for the value and for the operand.
    {2, 4, "1.2.3.4", "9.9.9", false},
    {2, 5, "1.2.3.4", "0.0.0.0.1", false},
    {2, 5, "1.2.3.4", " 1.2.3.3", false},
    {2, 5, "1.2.3.4", "1.2.3.-3", false},
    {2, 4, "1.2.3.4", "1.2.3.256", false},
    {2, 4, "junk", "1.2.3.4", false},
    {2, 5, "junk", "1.2.3.4", false},
    {2, 6, "168", "192.168.1.1", true},
    {2, 7, "168", "192.168.1.1", false},
    {2, 8, "Nets", "192.168.1.10", true},
    {2, 8, "Nets", "192.168.1.20", true},
    {2, 8, "Nets", "192.168.1.21", false},
    {2, 8, "Nets", "192.168.1.9", false},
    {2, 8, "Nets", "10.1.2.3", true},
    {2, 8, "Nets", "192.168.1", false},
    {2, 8, "Nets", "192.168.1.15x", false},
    {2, 9, "Nets", "192.168.1.21", true},
    {2, 9, "Nets", "10.0.0.1", false},
    {2, 9, "Nets", "no address", true},
    // Kind 3, star-dot pattern.
    {3, 2, "*.example.com", "www.example.com", true},
    {3, 2, "*.example.com", "example.com", true},
    {3, 2, "*.example.com", "example.org", false},
    {3, 2, "example.com", "www.example.com", false},
    {3, 2, "example.com", "example.com", true},
    {3, 2, "*.", "anything", true},
    {3, 3, "*.example.com", "www.example.com", false},
    {3, 4, "a", "b", false},
    {3, 8, "H", "a.example.com", true},
    {3, 8, "H", "exact.org", true},
    {3, 8, "H", "sub.exact.org", false},
    {3, 9, "H", "sub.exact.org", true},
    // Kind 5, integers as atoi reads them; codes 6 and 7 never.
    {5, 2, "80", "80", true},
    {5, 2, "80", " +80xyz", true},
    {5, 2, "080", "80", true},
    {5, 3, "80", "81", true},
    {5, 3, "80", "80", false},
    {5, 4, "8", "80", true},
    {5, 4, "80", "8", false},
    {5, 5, "8", "80", false},
    {5, 5, "80", "8", true},
    {5, 4, "-1", "abc", true},
    {5, 4, "2147483647", "99999999999", false},
    {5, 5, "-2147483648", "-99999999999", false},
    {5, 6, "8", "80", false},
    {5, 7, "8", "80", false},
    {5, 8, "Ports", "80", true},
    {5, 8, "Ports", "443", true},
    {5, 8, "Ports", "8080", false},
    {5, 9, "Ports", "8080", true},
    // The other text kinds and their lists.
    {6, 2, "ab*", "xaby", true},
    {6, 8, "W", "xbadx", true},
    {7, 8, "W", "xbadx", true},
    {9, 6, ".exe", "setup.exe", true},
    {9, 8, "W", "xbadx", true},
    {15, 8, "W", "xbadx", true},
    {15, 9, "W", "good", true},
    {17, 2, "*.example.com", "a.example.com", true},
    {17, 8, "H", "a.example.com", true},
    {17, 8, "H", "exact.org", false},
    // Decimal kinds: code 4 only, as doubles read by atof.
    {10, 4, "1.5", "1.50001", true},
    {10, 4, "1.5", "1.5", false},
    {10, 4, "1.5", "2e0", true},
    {10, 4, "1.5", " 3abc", true},
    {13, 4, "0x10", "17", true},
    {14, 4, "-inf", "0", true},
    {14, 4, "2", "", false},
    {10, 5, "9", "1", false},
    {10, 2, "1", "1", false},
    {10, 3, "1", "2", false},
    {10, 6, "1", "1", false},
    {10, 8, "W", "1", false},
    // Kind 12: code 4 only, as integers.
    {12, 4, "104857600", "104857601", true},
    {12, 4, "100", "100", false},
    {12, 4, "9", "10", true},
    {12, 5, "100", "1", false},
    {12, 2, "1", "1", false},
    // Kinds outside the table never hold.
    {0, 2, "x", "x", false},
    {4, 6, "", "x", false},
    {8, 3, "y", "x", false},
    {11, 2, "x", "x", false},
    {16, 2, "x", "x", false},
    {18, 2, "x", "x", false},
    {-1, 2, "x", "x", false},
    {1000, 6, "", "x", false},
};

TEST_F(FilterMatchTest, EveryKindAndCodeAsTheTablesSay) {
  // One rule, rewritten through its properties case by case: the compiled operand follows.
  com::ComPtr<IQVAFilterRule> rule = AddRule(1, 2, "");
  for (const Case& c : kCases) {
    SetRule(rule.get(), c.kind, c.code, c.operand);
    const auto [hr, name] = Match(c.kind, c.value);
    EXPECT_EQ(hr, c.holds ? S_OK : S_FALSE) << "kind " << c.kind << " code " << c.code << " operand \"" << c.operand
                                            << "\" value \"" << c.value << "\": " << ErrorDescription();
    EXPECT_EQ(name, c.holds ? "r" : "");
  }
}

TEST_F(FilterMatchTest, NumbersReadTheSameUnderADecimalCommaLocale) {
  const CommaLocale comma;
  if (!comma.active) GTEST_SKIP() << "no decimal-comma locale on this machine";
  AddRule(10, 4, "1.5");
  EXPECT_EQ(Match(10, "1.6").first, S_OK);
  EXPECT_EQ(Match(10, "1.4").first, S_FALSE);
  EXPECT_EQ(filter::ReadDouble("2.75"), 2.75);
}

TEST_F(FilterMatchTest, ARuleOfAnotherKindIsNeverTested) {
  AddRule(1, 6, "abc");
  EXPECT_EQ(Match(6, "abc").first, S_FALSE);
  EXPECT_EQ(Match(1, "abc").first, S_OK);
}

TEST_F(FilterMatchTest, TheFirstRuleThatHoldsInCollectionOrderIsHandedOut) {
  AddRule(1, 6, "zzz", "no");
  AddRule(1, 6, "b", "first");
  AddRule(1, 6, "a", "second");
  EXPECT_EQ(Match(1, "abc"), std::make_pair(S_OK, std::string("first")));
}

TEST_F(FilterMatchTest, AMissingListStopsTheSearchWithTheElementSetsFailure) {
  AddRule(2, 8, "Nets", "other kind");     // kind 2: never looked up for kind 1
  AddRule(1, 8, "NoSuchList", "missing");  // fails
  AddRule(1, 6, "a", "would hold");
  const auto [hr, name] = Match(1, "abc");
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_EQ(name, "");
  EXPECT_NE(ErrorDescription(), "");
}

TEST_F(FilterMatchTest, AListOfAnotherTypeIsNotFound) {
  AddRule(6, 8, "H");  // kind 6 reads lists of type 1; "H" has types 4 and 9 only
  EXPECT_EQ(Match(6, "x").first, E_FAIL);
}

TEST_F(FilterMatchTest, ChangesToTheListsBetweenCallsAreSeen) {
  AddRule(2, 8, "Nets", "nets");
  AddRule(3, 8, "H", "hosts");
  EXPECT_EQ(Match(2, "172.16.0.1").first, S_FALSE);
  EXPECT_EQ(Match(3, "intranet").first, S_FALSE);

  com::ComPtr<IQVAElements> nets, hosts;
  ASSERT_EQ(set_->Item(com::Bstr("Nets").get(), 7, nets.put()), S_OK);
  ASSERT_EQ(set_->Item(com::Bstr("H").get(), 4, hosts.put()), S_OK);
  com::ComPtr<IQVAElement> range, host;
  ASSERT_EQ(nets->Add(com::Bstr("172.16.0.0 - 172.16.0.9").get(), range.put()), S_OK);
  // Add derives no numbers (a load does); the range is set by hand as a loader would.
  range->put_dbValue1(172016000.0);
  range->put_dbValue2(172016000.009);
  ASSERT_EQ(hosts->Add(com::Bstr("intranet").get(), host.put()), S_OK);
  EXPECT_EQ(Match(2, "172.16.0.1").first, S_OK);
  EXPECT_EQ(Match(3, "intranet").first, S_OK);

  ASSERT_EQ(host->put_Value(com::Bstr("extranet").get()), S_OK);
  EXPECT_EQ(Match(3, "intranet").first, S_FALSE);
}

TEST_F(FilterMatchTest, ARuleWithoutAnElementSetFailsOnlyWhenItNeedsAList) {
  auto rules = Make<CQVAFilterRules>();
  ASSERT_EQ(rules->Init(qvaFilterRuleTraffic, wrapper_.get(), nullptr), S_OK);
  com::ComPtr<IQVAFilterRule> plain, listed, found;
  ASSERT_EQ(rules->Add(com::Bstr("plain").get(), 0, plain.put()), S_OK);
  SetRule(plain.get(), 1, 6, "a");
  EXPECT_EQ(rules->Match(1, com::Bstr("abc").get(), found.put()), S_OK);
  ASSERT_EQ(rules->Add(com::Bstr("listed").get(), 0, listed.put()), S_OK);
  SetRule(listed.get(), 3, 8, "H");
  EXPECT_EQ(rules->Match(3, com::Bstr("abc").get(), found.put()), E_FAIL);
  EXPECT_FALSE(found);
}

// Scripts reach the rules late-bound, by member name.
HRESULT CallByName(IDispatch* object, const char16_t* name, std::vector<com::Variant> args, WORD flags,
                   com::Variant* out) {
  std::u16string wide(name);
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  RETURN_IF_FAILED(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
  std::reverse(args.begin(), args.end());  // DISPPARAMS holds the arguments last first
  DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  return object->Invoke(id, IID_NULL, 0, flags, &params, out->put(), nullptr, nullptr);
}

TEST_F(FilterMatchTest, ScriptsMatchLateBound) {
  AddRule(3, 2, "*.example.com", "hosts");
  com::Variant found;
  ASSERT_EQ(CallByName(rules_.get(), u"Match", {com::Variant::I4(3), com::Variant::Str("www.example.com")},
                       DISPATCH_METHOD, &found),
            S_OK);
  ASSERT_EQ(found.vt, VT_DISPATCH);
  com::Variant name;
  ASSERT_EQ(CallByName(found.pdispVal, u"Name", {}, DISPATCH_PROPERTYGET, &name), S_OK);
  EXPECT_EQ(com::BstrToUtf8(name.bstrVal), "hosts");

  // No rule holds: the dispatch layer reports success with a null rule.
  com::Variant none;
  EXPECT_TRUE(SUCCEEDED(CallByName(rules_.get(), u"Match", {com::Variant::I4(3), com::Variant::Str("example.org")},
                                   DISPATCH_METHOD, &none)));
  EXPECT_TRUE(none.vt == VT_EMPTY || (none.vt == VT_DISPATCH && !none.pdispVal)) << none.vt;
  com::Variant exists;
  ASSERT_EQ(CallByName(rules_.get(), u"Exists",
                       {com::Variant::Str("hosts"), com::Variant::Str(""), com::Variant::Str("*.example.com")},
                       DISPATCH_METHOD, &exists),
            S_OK);
  EXPECT_EQ(exists.vt, VT_BOOL);
  EXPECT_EQ(exists.boolVal, 1);
}

TEST(FilterPatternTest, NonAsciiTextIsComparedAsUtf8Bytes) {
  EXPECT_TRUE(filter::StarPattern("grüße aus köln", "köln*"));
  EXPECT_FALSE(filter::StarPattern("GRÜSSE", "grüße"));
  EXPECT_TRUE(filter::StarDotPattern("straße.example.de", "*.example.de"));
  std::string out;
  filter::ToUtf8(u"a\u00e9\u4e2d\U0001F600", &out);
  EXPECT_EQ(out, "a\u00e9\u4e2d\U0001F600");
  filter::ToUtf8(std::u16string(u"x") + char16_t(0xD800) + u"y" + char16_t(0xDC00), &out);
  EXPECT_EQ(out, "x\uFFFDy\uFFFD");
}

TEST(FilterCodeNumTest, ElfHashOfTheOperandModulo2000) {
  struct {
    LONG type, code;
    const char* value;
    LONG code_num;
  } cases[] = {
      {1, 2, "", 65},
      {1, 2, "abc", 499 * 1024 + 65},
      // Long enough for the hash's top bits to fold back.
      {2, 8, "The quick brown fox jumps over the lazy dog", 1463 * 1024 + 8 * 32 + 2},
      {2, 8, "PrivateAddresses", 1395 * 1024 + 8 * 32 + 2},
      // Only the low five bits of kind and code count.
      {33, 34, "", 2 * 32 + 1},
      {-1, -1, "", 31 * 32 + 31},
  };
  for (const auto& c : cases) EXPECT_EQ(filter::CodeNumOf(c.type, c.code, c.value), c.code_num) << c.value;
}

}  // namespace
}  // namespace qva
