// Match of 1,000,000 values against one collection of 200 rules, through the automation objects
// (rules loaded from a settings file, lists from its element set), against a hand-written loop
// doing the same tests on plain structs with the operands parsed in advance and the values
// already in UTF-8. Both run in the same program; the ratio is what matters.
//
// The rules, 50 per value kind:
//   kind 1 (text), code 2:        "pNN*"            star patterns
//   kind 3 (host), code 2:        "*.dNN.example"   star-dot patterns
//   kind 2 (address), codes 8, 5: 25 rules "in the list Nets" (100 ranges), 25 "below 1.0.0.N"
//   kind 5 (integer), codes 2, 4: 25 "equals 1000+N", 25 "above 70000+N"
// The values cycle through the four kinds; about one in ten holds for some rule, the rest are
// tested against every rule of their kind, which is the expensive case. A second pair of
// benchmarks has a single list rule, where fetching the list is the whole cost of a call.
#include <benchmark/benchmark.h>

#include <array>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/object.h"
#include "qvacom/policy/filter_rules.h"
#include "qvacom/settings/element_set.h"
#include "qvacom/settings/xml_doc.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRulesPerKind = 50;
constexpr int kRanges = 100;
constexpr size_t kValues = 1'000'000;

struct RuleDef {
  int kind, code;
  std::string operand;
};

// The 200 rules, or (single_list) one rule naming the list.
std::vector<RuleDef> RuleDefs(bool single_list) {
  if (single_list) return {{2, 8, "Nets"}};
  std::vector<RuleDef> defs;
  for (int i = 0; i < kRulesPerKind; ++i) {
    defs.push_back({1, 2, "p" + std::to_string(i) + "*"});
    defs.push_back({3, 2, "*.d" + std::to_string(i) + ".example"});
    if (i % 2 == 0) {
      defs.push_back({2, 8, "Nets"});
    } else {
      defs.push_back({2, 5, "1.0.0." + std::to_string(i)});
    }
    defs.push_back({5, i % 2 == 0 ? 2 : 4, std::to_string(i % 2 == 0 ? 1000 + i : 70000 + i)});
  }
  return defs;
}

// Range i is 10.i.0.0 - 10.i.0.255.
std::string RangeText(int i) { return "10." + std::to_string(i) + ".0.0 - 10." + std::to_string(i) + ".0.255"; }

struct Value {
  int kind;
  std::string text;
};

std::vector<Value> Values(bool single_list) {
  std::mt19937 rng(20261210);
  auto below = [&](int n) { return static_cast<int>(rng() % n); };
  std::vector<Value> values;
  values.reserve(kValues);
  for (size_t i = 0; i < kValues; ++i) {
    const bool hit = below(10) == 0;
    const int kind = single_list ? 2 : std::array{1, 2, 3, 5}[i % 4];
    std::string text;
    switch (kind) {
      case 1:
        text = "http://www.site" + std::to_string(below(100000)) + ".example/path/" +
               (hit ? "p" + std::to_string(below(kRulesPerKind)) : "q" + std::to_string(below(1000))) + "/index.html";
        break;
      case 2:
        text = hit ? "10." + std::to_string(below(kRanges)) + ".0." + std::to_string(below(256))
                   : std::to_string(11 + below(200)) + "." + std::to_string(below(256)) + "." +
                         std::to_string(below(256)) + "." + std::to_string(below(256));
        break;
      case 3:
        text = "host" + std::to_string(below(1000)) + ".d" +
               std::to_string(hit ? below(kRulesPerKind) : kRulesPerKind + below(1000)) + ".example";
        break;
      default:
        text = std::to_string(hit ? 1000 + 2 * below(kRulesPerKind / 2) : 2000 + below(60000));
        break;
    }
    values.push_back({kind, std::move(text)});
  }
  return values;
}

// ---- through the objects ----

struct Objects {
  qva::testing::TempDir dir;
  com::ComPtr<qva::CQVAXMLDoc> wrapper;
  com::ComPtr<qva::CQVAElementSet> set;
  com::ComPtr<qva::CQVAFilterRules> rules;
  std::vector<std::pair<int, com::Bstr>> values;

  explicit Objects(bool single_list) {
    std::string xml = "<Vodrik Version=\"Enterprise 3.8\"><ElementSet><Element Name=\"Nets\" Type=\"7\">";
    for (int i = 0; i < kRanges; ++i) xml += "<Item Value=\"" + RangeText(i) + "\"/>";
    xml += "</Element></ElementSet><FilterRules><TrafficRule Operator=\"0\">";
    int num = 0;
    for (const RuleDef& r : RuleDefs(single_list)) {
      xml += "<FilterRule Num=\"" + std::to_string(num++) + "\" Filter=\"r\" Condition=\"\" Type=\"" +
             std::to_string(r.kind) + "\" ConditionType=\"" + std::to_string(r.code) + "\" Priority=\"0\" Value=\"" +
             r.operand + "\" nValue=\"0\" dbValue=\"0\"/>";
    }
    xml += "</TrafficRule></FilterRules></Vodrik>";
    const fs::path file = dir.path() / "vodrik_e.xml";
    std::ofstream(file) << xml;

    wrapper = std::move(com::CreateObject<qva::CQVAXMLDoc>().value());
    set = std::move(com::CreateObject<qva::CQVAElementSet>().value());
    rules = std::move(com::CreateObject<qva::CQVAFilterRules>().value());
    const com::Bstr name(file.string());
    if (wrapper->Open(name.get()) != S_OK || set->Init(wrapper.get()) != S_OK ||
        rules->Init(qvaFilterRuleTraffic, wrapper.get(), set.get()) != S_OK)
      std::abort();
    for (Value& v : Values(single_list)) values.emplace_back(v.kind, com::Bstr(v.text));
  }
};

void MatchObjects(benchmark::State& state, bool single_list) {
  Objects o(single_list);
  LONG count = 0;
  o.rules->get_Count(&count);
  if (count != static_cast<LONG>(RuleDefs(single_list).size())) state.SkipWithError("the rules did not load");
  size_t held = 0;
  for (auto _ : state) {
    for (const auto& [kind, value] : o.values) {
      IQVAFilterRule* rule = nullptr;
      const HRESULT hr = o.rules->Match(kind, value.get(), &rule);
      if (hr == S_OK) {
        ++held;
        rule->Release();
      } else if (hr != S_FALSE) {
        state.SkipWithError("Match failed");
        return;
      }
    }
  }
  benchmark::DoNotOptimize(held);
  state.counters["held"] = static_cast<double>(held) / state.iterations();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * o.values.size()));
}

// ---- the hand-written loop ----

std::optional<double> Address(std::string_view text) {
  double parts[4];
  const char* p = text.data();
  const char* end = p + text.size();
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && (p == end || *p++ != '.')) return std::nullopt;
    int n = 0;
    const auto [next, ec] = std::from_chars(p, end, n);
    if (ec != std::errc() || next == p || next - p > 3 || n > 255 || *p == '-' || *p == '+') return std::nullopt;
    parts[i] = n;
    p = next;
  }
  if (p != end) return std::nullopt;
  return parts[0] * 1000000 + parts[1] * 1000 + parts[2] + parts[3] * 0.001;
}

struct PlainRule {
  int kind, code;
  std::string part;  // the pattern's part, or the operand
  bool prefix;       // star pattern with a non-empty prefix / star-dot with a rest
  double number;
  long integer;
};

struct Plain {
  std::vector<PlainRule> rules;
  std::vector<std::pair<double, double>> ranges;
  std::vector<Value> values;

  explicit Plain(bool single_list) : values(Values(single_list)) {
    for (int i = 0; i < kRanges; ++i) ranges.emplace_back(10000000.0 + i * 1000.0, 10000000.0 + i * 1000.0 + 0.255);
    for (const RuleDef& s : RuleDefs(single_list)) {
      PlainRule r{s.kind, s.code, s.operand, false, 0, 0};
      if (s.kind == 1 && s.operand.find('*') != std::string::npos) {
        r.part = s.operand.substr(0, s.operand.find('*'));
        r.prefix = true;
      } else if (s.kind == 3 && s.operand.find("*.") != std::string::npos) {
        r.part = s.operand.substr(s.operand.find("*.") + 2);
        r.prefix = true;
      } else if (s.kind == 2 && s.code == 5) {
        r.number = *Address(s.operand);
      } else if (s.kind == 5) {
        r.integer = std::strtol(s.operand.c_str(), nullptr, 10);
      }
      rules.push_back(std::move(r));
    }
  }

  // The index of the first rule that holds, or -1.
  int First(const Value& v) const {
    std::optional<double> address;
    bool address_read = false;
    long integer = 0;
    bool integer_read = false;
    for (size_t i = 0; i < rules.size(); ++i) {
      const PlainRule& r = rules[i];
      if (r.kind != v.kind) continue;
      bool holds = false;
      switch (r.kind) {
        case 1:
        case 3:
          holds = r.prefix ? v.text.find(r.part) != std::string::npos : v.text == r.part;
          break;
        case 2:
          if (!address_read) {
            address = Address(v.text);
            address_read = true;
          }
          if (address && r.code == 8) {
            for (const auto& [low, high] : ranges)
              if (low <= *address && *address <= high) {
                holds = true;
                break;
              }
          } else if (address && r.code == 5) {
            holds = *address < r.number;
          }
          break;
        case 5:
          if (!integer_read) {
            integer = std::strtol(v.text.c_str(), nullptr, 10);
            integer_read = true;
          }
          holds = r.code == 2 ? integer == r.integer : integer > r.integer;
          break;
      }
      if (holds) return static_cast<int>(i);
    }
    return -1;
  }
};

void MatchPlain(benchmark::State& state, bool single_list) {
  Plain plain(single_list);
  size_t held = 0;
  for (auto _ : state) {
    for (const Value& v : plain.values) held += plain.First(v) >= 0;
  }
  benchmark::DoNotOptimize(held);
  state.counters["held"] = static_cast<double>(held) / state.iterations();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * plain.values.size()));
}

void BM_Match200RulesObjects(benchmark::State& state) { MatchObjects(state, false); }
void BM_Match200RulesPlainLoop(benchmark::State& state) { MatchPlain(state, false); }
void BM_MatchOneListRuleObjects(benchmark::State& state) { MatchObjects(state, true); }
void BM_MatchOneListRulePlainLoop(benchmark::State& state) { MatchPlain(state, true); }

BENCHMARK(BM_Match200RulesObjects)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Match200RulesPlainLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MatchOneListRuleObjects)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MatchOneListRulePlainLoop)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
