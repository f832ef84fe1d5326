// A console's view of the real-time root: it fills every view and reads it back newest first,
// once writing through the typed interfaces and reading late-bound (names through GetIDsOfNames,
// for-each through DISPID_NEWENUM), once the other way round. Each record property gets a value
// of its own, so a property that shares a field with another, or a dispid that reaches the wrong
// field, shows up as a wrong value.
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/object.h"
#include "qvacom/realtime/realtime_root.h"
#include "tests/realtime/realtime_test_util.h"

namespace qva {
namespace {

using com::Bstr;
using com::ComPtr;
using com::Variant;
using testing::AsDispatch;
using testing::Call;
using testing::Get;
using testing::IdOf;

enum class Kind { kText, kDate, kLong };

// One record property: its name and dispid as the interface tables give them, and its typed
// accessors (those of its kind).
template <class I>
struct Prop {
  const char* name;
  DISPID dispid;
  Kind kind;
  HRESULT (*put_text)(I*, BSTR) = nullptr;
  HRESULT (*get_text)(I*, BSTR*) = nullptr;
  HRESULT (*put_date)(I*, DATE) = nullptr;
  HRESULT (*get_date)(I*, DATE*) = nullptr;
  HRESULT (*put_long)(I*, LONG) = nullptr;
  HRESULT (*get_long)(I*, LONG*) = nullptr;

  // Typed put of a value of the property's kind.
  HRESULT Put(I* record, const VARIANT& v) const {
    switch (kind) {
      case Kind::kText:
        return put_text(record, v.bstrVal);
      case Kind::kDate:
        return put_date(record, v.date);
      case Kind::kLong:
        return put_long(record, v.lVal);
    }
    return E_UNEXPECTED;
  }
  // Typed get, as a VARIANT of the property's kind.
  HRESULT Get(I* record, Variant* out) const {
    switch (kind) {
      case Kind::kText: {
        BSTR b = nullptr;
        const HRESULT hr = get_text(record, &b);
        out->put()->vt = VT_BSTR;
        out->bstrVal = b;
        return hr;
      }
      case Kind::kDate: {
        DATE d = -1;
        const HRESULT hr = get_date(record, &d);
        *out = Variant::Date(d);
        return hr;
      }
      case Kind::kLong: {
        LONG n = -1;
        const HRESULT hr = get_long(record, &n);
        *out = Variant::I4(n);
        return hr;
      }
    }
    return E_UNEXPECTED;
  }
};

// clang-format off
#define TEXT_PROP(I, P, id) {#P, id, Kind::kText, \
    [](I* r, BSTR v) { return r->put_##P(v); }, [](I* r, BSTR* v) { return r->get_##P(v); }}
#define DATE_PROP(I, P, id) {#P, id, Kind::kDate, nullptr, nullptr, \
    [](I* r, DATE v) { return r->put_##P(v); }, [](I* r, DATE* v) { return r->get_##P(v); }}
#define LONG_PROP(I, P, id) {#P, id, Kind::kLong, nullptr, nullptr, nullptr, nullptr, \
    [](I* r, LONG v) { return r->put_##P(v); }, [](I* r, LONG* v) { return r->get_##P(v); }}
// clang-format on

const Prop<IQVARealTraffic> kTrafficProps[] = {
    TEXT_PROP(IQVARealTraffic, Name, 1),      TEXT_PROP(IQVARealTraffic, SourceAddr, 2),
    DATE_PROP(IQVARealTraffic, StartTime, 3), DATE_PROP(IQVARealTraffic, EndTime, 4),
    LONG_PROP(IQVARealTraffic, OutBytes, 5),  LONG_PROP(IQVARealTraffic, InBytes, 6),
};

const Prop<IQVARealUser> kUserProps[] = {
    TEXT_PROP(IQVARealUser, Name, 1),     TEXT_PROP(IQVARealUser, SourceAddr, 2),
    TEXT_PROP(IQVARealUser, DestAddr, 3), TEXT_PROP(IQVARealUser, URL, 4),
    TEXT_PROP(IQVARealUser, Protocol, 5), LONG_PROP(IQVARealUser, Port, 6),
    TEXT_PROP(IQVARealUser, App, 7),      DATE_PROP(IQVARealUser, StartTime, 8),
    DATE_PROP(IQVARealUser, EndTime, 9),  LONG_PROP(IQVARealUser, OutBytes, 10),
    LONG_PROP(IQVARealUser, InBytes, 11), LONG_PROP(IQVARealUser, TimeUsed, 12),
    LONG_PROP(IQVARealUser, Action, 13),  LONG_PROP(IQVARealUser, Priority, 14),
    LONG_PROP(IQVARealUser, RuleFit, 15), TEXT_PROP(IQVARealUser, Category, 16),
};

const Prop<IQVARealWarn> kWarnProps[] = {
    TEXT_PROP(IQVARealWarn, Name, 1),      TEXT_PROP(IQVARealWarn, SourceAddr, 2),
    TEXT_PROP(IQVARealWarn, DestAddr, 3),  TEXT_PROP(IQVARealWarn, URL, 4),
    TEXT_PROP(IQVARealWarn, FileExt, 5),   TEXT_PROP(IQVARealWarn, Protocol, 6),
    LONG_PROP(IQVARealWarn, Port, 7),      TEXT_PROP(IQVARealWarn, App, 8),
    DATE_PROP(IQVARealWarn, StartTime, 9), DATE_PROP(IQVARealWarn, EndTime, 10),
    TEXT_PROP(IQVARealWarn, Warn, 11),     LONG_PROP(IQVARealWarn, OutBytes, 12),
    LONG_PROP(IQVARealWarn, InBytes, 13),  LONG_PROP(IQVARealWarn, TimeUsed, 14),
    LONG_PROP(IQVARealWarn, Action, 15),   LONG_PROP(IQVARealWarn, Priority, 16),
    LONG_PROP(IQVARealWarn, RuleFit, 17),  TEXT_PROP(IQVARealWarn, Category, 18),
};

const Prop<IQVARealFile> kFileProps[] = {
    TEXT_PROP(IQVARealFile, Name, 1),      DATE_PROP(IQVARealFile, Time, 2),
    TEXT_PROP(IQVARealFile, Protocol, 3),  TEXT_PROP(IQVARealFile, SourceAddr, 4),
    TEXT_PROP(IQVARealFile, DestAddr, 5),  TEXT_PROP(IQVARealFile, URL, 6),
    LONG_PROP(IQVARealFile, Port, 7),      TEXT_PROP(IQVARealFile, FileExt, 8),
    TEXT_PROP(IQVARealFile, App, 9),       LONG_PROP(IQVARealFile, InBytes, 10),
    LONG_PROP(IQVARealFile, OutBytes, 11), LONG_PROP(IQVARealFile, TimeUsed, 12),
    LONG_PROP(IQVARealFile, Action, 13),   LONG_PROP(IQVARealFile, Priority, 14),
    LONG_PROP(IQVARealFile, RuleFit, 15),  TEXT_PROP(IQVARealFile, Category, 16),
};

const Prop<IQVARealBlock> kBlockProps[] = {
    TEXT_PROP(IQVARealBlock, Name, 1),     DATE_PROP(IQVARealBlock, Time, 2),
    TEXT_PROP(IQVARealBlock, Protocol, 3), TEXT_PROP(IQVARealBlock, SourceAddr, 4),
    LONG_PROP(IQVARealBlock, Port, 5),     TEXT_PROP(IQVARealBlock, DestAddr, 6),
    LONG_PROP(IQVARealBlock, Action, 7),   TEXT_PROP(IQVARealBlock, Rule, 8),
    TEXT_PROP(IQVARealBlock, sAction, 9),  LONG_PROP(IQVARealBlock, Priority, 10),
    LONG_PROP(IQVARealBlock, RuleFit, 11), TEXT_PROP(IQVARealBlock, Category, 12),
};

const Prop<IQVARealMalware> kMalwareProps[] = {
    TEXT_PROP(IQVARealMalware, Name, 1),         DATE_PROP(IQVARealMalware, Time, 2),
    LONG_PROP(IQVARealMalware, TimeUsed, 3),     TEXT_PROP(IQVARealMalware, SourceIP, 4),
    TEXT_PROP(IQVARealMalware, DestAddr, 5),     TEXT_PROP(IQVARealMalware, URL, 6),
    TEXT_PROP(IQVARealMalware, Category, 7),     TEXT_PROP(IQVARealMalware, Protocol, 8),
    TEXT_PROP(IQVARealMalware, App, 9),          LONG_PROP(IQVARealMalware, Port, 10),
    LONG_PROP(IQVARealMalware, OutBytes, 11),    LONG_PROP(IQVARealMalware, InBytes, 12),
    LONG_PROP(IQVARealMalware, AllBytes, 13),    TEXT_PROP(IQVARealMalware, ThreatName, 14),
    TEXT_PROP(IQVARealMalware, ThreatLevel, 15), TEXT_PROP(IQVARealMalware, MalwareAction, 16),
    LONG_PROP(IQVARealMalware, InspectTime, 17), LONG_PROP(IQVARealMalware, Priority, 18),
    LONG_PROP(IQVARealMalware, RuleFit, 19),     TEXT_PROP(IQVARealMalware, MalwareResult, 20),
    DATE_PROP(IQVARealMalware, Date, 21),
};

const Prop<IQVARealNIS> kNISProps[] = {
    TEXT_PROP(IQVARealNIS, Name, 1),     DATE_PROP(IQVARealNIS, Date, 2),       DATE_PROP(IQVARealNIS, Time, 3),
    TEXT_PROP(IQVARealNIS, SourceIP, 4), TEXT_PROP(IQVARealNIS, DestAddr, 5),   TEXT_PROP(IQVARealNIS, URL, 6),
    TEXT_PROP(IQVARealNIS, Category, 7), TEXT_PROP(IQVARealNIS, Protocol, 8),   TEXT_PROP(IQVARealNIS, App, 9),
    LONG_PROP(IQVARealNIS, Port, 10),    TEXT_PROP(IQVARealNIS, Signature, 11), TEXT_PROP(IQVARealNIS, NISResult, 12),
    TEXT_PROP(IQVARealNIS, NISApp, 13),  LONG_PROP(IQVARealNIS, Priority, 14),  LONG_PROP(IQVARealNIS, RuleFit, 15),
};

#undef TEXT_PROP
#undef DATE_PROP
#undef LONG_PROP

constexpr int kRecords = 3;

std::string RecordName(const std::string& prefix, int k) { return prefix + std::to_string(k); }

// The value record k holds in property i (i > 0; property 0 is Name). Distinct for every
// property of every record; record 0 holds negative numbers and a date before 1899-12-30.
Variant ValueOf(Kind kind, const char* property, int k, size_t i) {
  switch (kind) {
    case Kind::kText:
      return Variant::Str(std::string(property) + "\xC2\xB7" + std::to_string(k));  // "URL·1"
    case Kind::kDate:
      return Variant::Date(k == 0 ? -10.25 - static_cast<double>(i) : 45000.5 + k * 1000 + static_cast<double>(i));
    case Kind::kLong:
      return Variant::I4(k == 0 ? -1000003 * static_cast<LONG>(i) : k * 100000 + static_cast<LONG>(i));
  }
  return Variant();
}

// The value a freshly added record holds.
Variant InitialOf(Kind kind) {
  switch (kind) {
    case Kind::kText:
      return Variant::Str("");
    case Kind::kDate:
      return Variant::Date(0);
    case Kind::kLong:
      return Variant::I4(0);
  }
  return Variant();
}

void ExpectSame(const Variant& want, const Variant& got, const std::string& where) {
  ASSERT_EQ(got.vt, want.vt) << where;
  switch (want.vt) {
    case VT_BSTR:
      EXPECT_NE(got.bstrVal, nullptr) << where;
      EXPECT_EQ(com::BstrView(got.bstrVal), com::BstrView(want.bstrVal)) << where;
      break;
    case VT_DATE:
      EXPECT_EQ(got.date, want.date) << where;
      break;
    case VT_I4:
      EXPECT_EQ(got.lVal, want.lVal) << where;
      break;
    default:
      ADD_FAILURE() << where << ": unexpected vt " << want.vt;
  }
}

template <class ViewI, class RecordI, size_t N>
void FillAndReadBack(CQVARealTime* root, HRESULT (IQVARealTime::*getter)(ViewI**), const char* property,
                     const Prop<RecordI> (&table)[N]) {
  SCOPED_TRACE(property);
  const std::span<const Prop<RecordI>> props(table);
  ComPtr<ViewI> view;
  ASSERT_EQ((root->*getter)(view.put()), S_OK);
  ComPtr<IDispatch> late_view = AsDispatch(Get(root, property));
  ASSERT_TRUE(late_view);
  ASSERT_TRUE(testing::SameObject(view.get(), late_view.get()));

  // Typed writes, late-bound reads through for-each.
  for (int k = 0; k < kRecords; ++k) {
    ComPtr<RecordI> record;
    ASSERT_EQ(view->Add(Bstr(RecordName("typed", k)).get(), record.put()), S_OK);
    for (size_t i = 1; i < props.size(); ++i)
      ASSERT_EQ(props[i].Put(record.get(), ValueOf(props[i].kind, props[i].name, k, i)), S_OK) << props[i].name;
  }
  Variant for_each;
  ASSERT_EQ(testing::InvokeId(late_view.get(), DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &for_each),
            S_OK);
  ASSERT_EQ(for_each.vt, VT_UNKNOWN);
  auto late_records = testing::Drain<IDispatch>(for_each.punkVal);
  ASSERT_EQ(late_records.size(), static_cast<size_t>(kRecords));
  for (int j = 0; j < kRecords; ++j) {
    const int k = kRecords - 1 - j;  // newest first
    IDispatch* record = late_records[j].get();
    ExpectSame(Variant::Str(RecordName("typed", k)), Get(record, "Name"), "Name");
    for (size_t i = 0; i < props.size(); ++i) {
      EXPECT_EQ(IdOf(record, props[i].name), props[i].dispid) << props[i].name;
      if (i > 0) ExpectSame(ValueOf(props[i].kind, props[i].name, k, i), Get(record, props[i].name), props[i].name);
    }
  }
  Call(late_view.get(), "RemoveAll");
  EXPECT_EQ(Get(late_view.get(), "Count").lVal, 0);

  // Late-bound writes, typed reads. A new record holds only its name.
  for (int k = 0; k < kRecords; ++k) {
    std::vector<Variant> args;
    args.push_back(Variant::Str(RecordName("late", k)));
    ComPtr<IDispatch> record = AsDispatch(Call(late_view.get(), "Add", std::move(args)));
    ASSERT_TRUE(record);
    for (size_t i = 1; i < props.size(); ++i) {
      ExpectSame(InitialOf(props[i].kind), Get(record.get(), props[i].name), std::string("new ") + props[i].name);
      testing::Put(record.get(), props[i].name, ValueOf(props[i].kind, props[i].name, k, i));
    }
  }
  auto typed_records = testing::Records<RecordI>(view.get());
  ASSERT_EQ(typed_records.size(), static_cast<size_t>(kRecords));
  for (int j = 0; j < kRecords; ++j) {
    const int k = kRecords - 1 - j;
    for (size_t i = 0; i < props.size(); ++i) {
      Variant got;
      ASSERT_EQ(props[i].Get(typed_records[j].get(), &got), S_OK) << props[i].name;
      const Variant want = i == 0 ? Variant::Str(RecordName("late", k)) : ValueOf(props[i].kind, props[i].name, k, i);
      ExpectSame(want, got, props[i].name);
    }
  }
  ASSERT_EQ(view->Pop(), S_OK);
  EXPECT_EQ(Get(late_view.get(), "Count").lVal, kRecords - 1);
  EXPECT_EQ(testing::Names(testing::Records<RecordI>(view.get())),
            (std::vector<std::string>{RecordName("late", 2), RecordName("late", 1)}));
}

TEST(RealTimeClientTest, FillsEveryViewAndReadsItBackNewestFirst) {
  auto made = com::CreateObject<CQVARealTime>();
  ASSERT_TRUE(made.ok());
  CQVARealTime* root = made->get();
  FillAndReadBack(root, &IQVARealTime::get_RealTraffics, "RealTraffics", kTrafficProps);
  FillAndReadBack(root, &IQVARealTime::get_RealUsers, "RealUsers", kUserProps);
  FillAndReadBack(root, &IQVARealTime::get_RealWarns, "RealWarns", kWarnProps);
  FillAndReadBack(root, &IQVARealTime::get_RealFiles, "RealFiles", kFileProps);
  FillAndReadBack(root, &IQVARealTime::get_RealBlocks, "RealBlocks", kBlockProps);
  FillAndReadBack(root, &IQVARealTime::get_RealMalwares, "RealMalwares", kMalwareProps);
  FillAndReadBack(root, &IQVARealTime::get_RealNISs, "RealNISs", kNISProps);
}

// The fields the event records hold twice under related names stay apart.
TEST(RealTimeClientTest, RelatedFieldsOfOneRecordStayApart) {
  auto made = com::CreateObject<CQVARealTime>();
  ASSERT_TRUE(made.ok());
  ComPtr<IDispatch> malwares = AsDispatch(Get(made->get(), "RealMalwares"));
  ComPtr<IDispatch> niss = AsDispatch(Get(made->get(), "RealNISs"));
  ASSERT_TRUE(malwares && niss);
  std::vector<Variant> name;
  name.push_back(Variant::Str("x"));
  ComPtr<IDispatch> malware = AsDispatch(Call(malwares.get(), "Add", name));
  ComPtr<IDispatch> nis = AsDispatch(Call(niss.get(), "Add", name));
  ASSERT_TRUE(malware && nis);

  // Applied in order: each write leaves the related field as the earlier steps left it.
  const struct {
    IDispatch* record;
    const char* written;
    Variant value;
    const char* related;
    Variant related_value;
  } steps[] = {
      {malware.get(), "AllBytes", Variant::I4(7), "InBytes", Variant::I4(0)},
      {malware.get(), "AllBytes", Variant::I4(7), "OutBytes", Variant::I4(0)},
      {malware.get(), "InBytes", Variant::I4(100), "AllBytes", Variant::I4(7)},
      {malware.get(), "OutBytes", Variant::I4(5), "AllBytes", Variant::I4(7)},
      {malware.get(), "Date", Variant::Date(45000), "Time", Variant::Date(0)},
      {malware.get(), "Time", Variant::Date(1.5), "Date", Variant::Date(45000)},
      {nis.get(), "Date", Variant::Date(45001), "Time", Variant::Date(0)},
      {nis.get(), "Time", Variant::Date(0.5), "Date", Variant::Date(45001)},
  };
  for (const auto& s : steps) {
    testing::Put(s.record, s.written, s.value);
    ExpectSame(s.value, Get(s.record, s.written), s.written);
    ExpectSame(s.related_value, Get(s.record, s.related), std::string(s.related) + " after " + s.written);
  }
}

// The dispids consoles compiled against: the view members' differ between the views.
TEST(RealTimeClientTest, ViewMembersAnswerTheirDispids) {
  auto made = com::CreateObject<CQVARealTime>();
  ASSERT_TRUE(made.ok());
  const struct {
    const char* view;
    std::vector<std::pair<const char*, DISPID>> members;
  } views[] = {
      {"RealTraffics",
       {{"Add", 1}, {"ResetCurInfo", 2}, {"Find", 3}, {"_NewEnum", 4}, {"RemoveAll", 5}, {"Count", 6}, {"Pop", 7}}},
      {"RealUsers", {{"Add", 1}, {"Count", 2}, {"Pop", 3}, {"_NewEnum", 4}, {"RemoveAll", 5}}},
      {"RealWarns", {{"Add", 1}, {"Count", 2}, {"_NewEnum", 3}, {"Pop", 4}, {"RemoveAll", 5}}},
      {"RealFiles", {{"Add", 1}, {"Count", 2}, {"_NewEnum", 3}, {"Pop", 4}, {"RemoveAll", 5}}},
      {"RealBlocks", {{"Add", 1}, {"Count", 2}, {"_NewEnum", 3}, {"Pop", 4}, {"RemoveAll", 5}}},
      {"RealMalwares", {{"Add", 1}, {"Count", 2}, {"_NewEnum", 3}, {"Pop", 4}, {"RemoveAll", 5}}},
      {"RealNISs", {{"Add", 1}, {"Count", 2}, {"_NewEnum", 3}, {"Pop", 4}, {"RemoveAll", 5}}},
  };
  for (const auto& v : views) {
    ComPtr<IDispatch> view = AsDispatch(Get(made->get(), v.view));
    ASSERT_TRUE(view) << v.view;
    for (const auto& [member, dispid] : v.members)
      EXPECT_EQ(IdOf(view.get(), member), dispid) << v.view << "." << member;
  }
}

}  // namespace
}  // namespace qva
