// The shared account block: the reset operations, the statement values, the load from a table
// row, the XML attributes and the automation members, with every date case run in UTC and in a
// zone with summer time.
#include "qvacom/accounts/account_block.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <variant>

#include "msxml_idl.h"
#include "platform/com/bstr.h"
#include "platform/com/date.h"
#include "platform/com/variant.h"
#include "platform/msxml/msxml.h"
#include "qvacom/accounts/account_members.h"
#include "qvacom/accounts/statements.h"
#include "qvacom/settings/dom.h"
#include "qvacom/storage/database.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"
#include "qvacom_idl.h"
#include "tests/support/temp_dir.h"

// The shared members fit each of the four account interfaces.
template class qva::AccountMembers<IQVAUser>;
template class qva::AccountMembers<IQVAComputer>;
template class qva::AccountMembers<IQVADep>;
template class qva::AccountMembers<IQVAGroup>;
template class qva::AccountDefaultMembers<IQVADep>;
template class qva::AccountDefaultMembers<IQVAGroup>;

namespace {

using com::Bstr;
using com::ComPtr;
using com::Variant;
using qva::AccountBlock;
using qva::AccountDefaults;
using qva::AccountFieldId;
using qva::DateStatus;
using qva::DateWithStatus;

DATE At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) { return *com::CivilToDate({y, mo, d, h, mi, s}); }
DateWithStatus Valid(DATE d) { return {d, DateStatus::kValid}; }
std::string Text(DATE d) { return qva::sql::FormatDate(d, qva::sql::kDateTimeFormat); }

// A field's value as a double, whatever its kind (a date gives its DATE).
template <class Block>
double ValueOf(const Block& block, const qva::FieldOf<Block>& field) {
  return std::visit(
      [&](auto member) {
        const auto& v = block.*member;
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(v)>, DateWithStatus>)
          return v.value;
        else
          return static_cast<double>(v);
      },
      field.member);
}
const qva::AccountField& FieldNamed(std::string_view property) {
  for (const qva::AccountField& f : qva::kAccountFields)
    if (property == f.property) return f;
  throw std::invalid_argument(std::string(property));
}

// Every test runs in UTC and in Europe/Berlin, whose 2024-03-31 has 23 hours and 2024-10-27 25.
class AccountTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const char* old = getenv("TZ");
    had_tz_ = old != nullptr;
    saved_tz_ = old ? old : "";
    setenv("TZ", GetParam(), 1);
    tzset();
  }
  void TearDown() override {
    if (had_tz_)
      setenv("TZ", saved_tz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_tz_ = false;
  std::string saved_tz_;
};

// ---- reset operations ----

enum class Op { kReset, kResetFrom };

TEST_P(AccountTest, ResetOperations) {
  struct Case {
    const char* what;
    Op op;
    LONG limit_type, bytes_period, time_period;
    VARIANT_BOOL check_fee;
    DATE from;
    const char* bytes_reset;  // nullptr: unchanged
    const char* time_reset;
    double bytes_left, time_left, all_bytes_left, all_time_left, fee_left;
  } cases[] = {
      {"monthly bytes", Op::kResetFrom, 2, 2, 0, 0, At(2024, 2, 10, 13, 45), "2024-03-01 00:00:00", nullptr, 100, 2, 3,
       4, 5},
      {"monthly from December's first", Op::kResetFrom, 2, 2, 0, 0, At(2023, 12, 1), "2024-01-01 00:00:00", nullptr,
       100, 2, 3, 4, 5},
      {"monthly from December's last second", Op::kResetFrom, 2, 2, 0, 0, At(2023, 12, 31, 23, 59, 59),
       "2024-01-01 00:00:00", nullptr, 100, 2, 3, 4, 5},
      {"monthly from a leap February 29", Op::kResetFrom, 2, 2, 0, 0, At(2024, 2, 29, 12), "2024-03-01 00:00:00",
       nullptr, 100, 2, 3, 4, 5},
      {"monthly from February 28 of a common year", Op::kResetFrom, 2, 2, 0, 0, At(2023, 2, 28, 12),
       "2023-03-01 00:00:00", nullptr, 100, 2, 3, 4, 5},
      {"monthly over the 23-hour March 31", Op::kResetFrom, 2, 2, 0, 0, At(2024, 3, 15), "2024-04-01 00:00:00", nullptr,
       100, 2, 3, 4, 5},
      {"weekly from a Wednesday", Op::kResetFrom, 4, 0, 1, 0, At(2024, 5, 8, 10), nullptr, "2024-05-11 10:00:00", 1,
       200, 3, 4, 5},
      {"daily", Op::kResetFrom, 4, 0, 0, 0, At(2024, 5, 6, 23, 30), nullptr, "2024-05-07 23:30:00", 1, 200, 3, 4, 5},
      {"daily into the 23-hour day, at an hour it skips", Op::kResetFrom, 4, 0, 0, 0, At(2024, 3, 30, 2, 30), nullptr,
       "2024-03-31 02:30:00", 1, 200, 3, 4, 5},
      {"weekly on a Saturday, daily into the 25-hour day", Op::kResetFrom, 6, 1, 0, 0, At(2024, 10, 26, 22),
       "2024-10-26 22:00:00", "2024-10-27 22:00:00", 100, 200, 3, 4, 5},
      {"period code 3", Op::kResetFrom, 6, 3, 3, 0, At(2024, 5, 6, 12), "1899-12-30 00:00:00", "1899-12-30 00:00:00",
       100, 200, 3, 4, 5},
      {"totals only", Op::kResetFrom, 24, 2, 2, 0, At(2024, 5, 6), nullptr, nullptr, 1, 2, 300, 400, 5},
      {"fee control on", Op::kResetFrom, 0, 2, 2, -1, At(2024, 5, 6), nullptr, nullptr, 1, 2, 3, 4, 0},
      {"everything, fee control on", Op::kResetFrom, 30, 0, 2, 1, At(2024, 5, 6, 8), "2024-05-07 08:00:00",
       "2024-06-01 00:00:00", 100, 200, 300, 400, 0},
      {"Reset, nothing in force", Op::kReset, 0, 2, 2, -1, 0, nullptr, nullptr, 1, 2, 3, 4, 5},
      {"Reset, bytes and time", Op::kReset, 6, 2, 2, -1, 0, "2000-01-01 00:00:00", "2000-01-01 00:00:00", 100, 200, 3,
       4, 5},
      {"Reset, everything", Op::kReset, 30, 2, 2, 0, 0, "2000-01-01 00:00:00", "2000-01-01 00:00:00", 100, 200, 300,
       400, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AccountBlock start;
    start.Auth = 0x10001;
    start.LimitType = c.limit_type;
    start.BytesQuotaPeriod = c.bytes_period;
    start.TimeQuotaPeriod = c.time_period;
    start.CheckFee = c.check_fee;
    start.BytesLimit = 100, start.BytesLeft = 1;
    start.TimeLimit = 200, start.TimeLeft = 2;
    start.AllBytesLimit = 300, start.AllBytesLeft = 3;
    start.AllTimeLimit = 400, start.AllTimeLeft = 4;
    start.FeeLimit = 500, start.FeeLeft = 5;
    // Reset dates that are not valid: a date the operation sets becomes valid.
    start.BytesResetDate = {At(2020, 1, 1), DateStatus::kInvalid};
    start.TimeResetDate = {At(2020, 1, 2), DateStatus::kNull};

    AccountBlock block = start;
    if (c.op == Op::kReset)
      block.Reset();
    else
      block.ResetFrom(c.from);

    AccountBlock expected = start;
    expected.Auth = 0x101FF;
    expected.BytesLeft = c.bytes_left;
    expected.TimeLeft = c.time_left;
    expected.AllBytesLeft = c.all_bytes_left;
    expected.AllTimeLeft = c.all_time_left;
    expected.FeeLeft = c.fee_left;
    if (c.bytes_reset) expected.BytesResetDate = Valid(block.BytesResetDate.value);
    if (c.time_reset) expected.TimeResetDate = Valid(block.TimeResetDate.value);
    EXPECT_EQ(block, expected);
    if (c.bytes_reset) {
      EXPECT_EQ(Text(block.BytesResetDate.value), c.bytes_reset);
    }
    if (c.time_reset) {
      EXPECT_EQ(Text(block.TimeResetDate.value), c.time_reset);
    }
  }
}

TEST_P(AccountTest, NextResetDatesFollowTheirOwnPeriodOnly) {
  AccountBlock block;
  block.BytesQuotaPeriod = qva::kMonthly;
  block.TimeQuotaPeriod = qva::kWeekly;
  block.BytesResetDate = {0.0, DateStatus::kInvalid};
  block.SetBytesNextResetDate(At(2024, 10, 27, 2, 30));
  EXPECT_EQ(block.BytesResetDate, Valid(At(2024, 11, 1)));
  EXPECT_EQ(block.TimeResetDate, Valid(0.0));
  block.SetTimeNextResetDate(At(2024, 10, 27, 2, 30));  // a Sunday: the Saturday after it
  EXPECT_EQ(block.TimeResetDate, Valid(At(2024, 11, 2, 2, 30)));
  EXPECT_EQ(block.BytesResetDate, Valid(At(2024, 11, 1)));
}

// ---- statement values ----

// Switches the process to a decimal-comma locale, when the machine has one, for its lifetime.
class DecimalCommaLocale {
 public:
  DecimalCommaLocale() : previous_(setlocale(LC_ALL, nullptr)) { setlocale(LC_ALL, "de_DE.utf8"); }
  ~DecimalCommaLocale() { setlocale(LC_ALL, previous_.c_str()); }

 private:
  std::string previous_;
};

TEST_P(AccountTest, StatementValuesRoundHalfUpToTwoDecimalsWithAPoint) {
  DecimalCommaLocale comma;
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {1.234, "1.230000"},
      {2.5, "2.500000"},
      {0.125, "0.130000"},
      {0.0, "0.000000"},
      {-1.234, "-1.230000"},
      {-0.125, "-0.120000"},
      {1e12 + 0.004, "1000000000000.000000"},
  };
  for (const Case& c : cases) {
    AccountBlock block;
    block.TimeLimit = c.value;
    qva::AccountDefaults defaults;
    defaults.AllBytesLimitDefault = c.value;
    EXPECT_EQ(qva::sql::Format("%f", qva::StatementValues(block).TimeLimit), c.text) << c.value;
    EXPECT_EQ(qva::sql::Format("%f", qva::StatementValues(defaults).AllBytesLimitDefault), c.text) << c.value;
  }

  AccountBlock block;
  block.Enable = VARIANT_TRUE;
  block.Auth = 0x1FF;
  block.EnableDate = Valid(At(2024, 3, 31, 2, 30));
  block.DateLimit = {0.0, DateStatus::kNull};
  block.AllTimeFrom = {At(2024, 1, 1), DateStatus::kInvalid};
  const qva::AccountStatementValues v = qva::StatementValues(block);
  EXPECT_EQ(qva::sql::Format("%d %d '%s' '%s' '%s'", v.Enable, v.Auth, v.EnableDate.c_str(), v.DateLimit.c_str(),
                             v.AllTimeFrom.c_str()),
            "-1 511 '2024-03-31' '1899-12-30' '2024-01-01'");
  EXPECT_EQ(qva::StatementDateTime(At(2024, 5, 6, 23, 30, 15), "#"), "#2024-05-06 23:30:15#");
  EXPECT_EQ(qva::StatementDateTime(At(2024, 5, 6), "'"), "'2024-05-06 00:00:00'");
  EXPECT_EQ(qva::StatementDateTime(1e9, "#"), "#1899-12-30 00:00:00#");  // outside the calendar
}

// ---- the account date parser, as the XML readers use it ----

TEST_P(AccountTest, AttributeDates) {
  struct Case {
    const char* text;
    std::string_view format;
    const char* date;  // nullptr: invalid
  } cases[] = {
      {"2024-05-06", qva::kXmlDateParse, "2024-05-06 00:00:00"},
      {"2024-5-6", qva::kXmlDateParse, "2024-05-06 00:00:00"},
      {"2024-05-06 23:30:15", qva::kXmlDateParse, "2024-05-06 00:00:00"},  // the time is not read
      {"2024-05-06 23:30:15", qva::kXmlDateTimeParse, "2024-05-06 23:30:15"},
      {"2024-10-27 02:30:00", qva::kXmlDateTimeParse, "2024-10-27 02:30:00"},  // an hour Berlin lives twice
      {"2024-02-29", qva::kXmlDateParse, "2024-02-29 00:00:00"},
      {"2023-02-29", qva::kXmlDateParse, "2023-03-01 00:00:00"},  // the calendar rolls over
      // time_t -1 in one of the two zones each: still a date.
      {"1969-12-31 23:59:59", qva::kXmlDateTimeParse, "1969-12-31 23:59:59"},
      {"1970-01-01 00:59:59", qva::kXmlDateTimeParse, "1970-01-01 00:59:59"},
      {"not a date", qva::kXmlDateParse, nullptr},
      {"0000-01-01", qva::kXmlDateParse, nullptr},
  };
  for (const Case& c : cases) {
    const DateWithStatus d = qva::DateOfAttributeText(c.text, c.format);
    if (!c.date) {
      EXPECT_EQ(d.status, DateStatus::kInvalid) << c.text;
      continue;
    }
    EXPECT_TRUE(d.valid()) << c.text;
    EXPECT_EQ(Text(d.value), c.date) << c.text;
  }

  const DATE before = qva::LocalNow();
  const DateWithStatus now = qva::DateOfAttributeText("", qva::kXmlDateParse);
  const DATE after = qva::LocalNow();
  EXPECT_TRUE(now.valid());
  EXPECT_GE(now.value, before);
  EXPECT_LE(now.value, after);
}

// ---- XML attributes ----

// A block with a distinct value in every field, each of which survives a statement and an
// attribute unchanged (two decimals, dates at midnight).
AccountBlock Sample() {
  AccountBlock b;
  double number = 1.25;
  LONG integer = 3;
  DATE day = At(2024, 3, 29);
  for (const qva::AccountField& f : qva::kAccountFields) {
    std::visit(
        [&](auto member) {
          auto& v = b.*member;
          using T = std::remove_reference_t<decltype(v)>;
          if constexpr (std::is_same_v<T, double>)
            v = (number += 1001.5);
          else if constexpr (std::is_same_v<T, DateWithStatus>)
            v = Valid(day += 1);
          else if constexpr (std::is_same_v<T, VARIANT_BOOL>)
            v = VARIANT_TRUE;
          else
            v = ++integer;
        },
        f.member);
  }
  b.Auth = 0x1FF;
  return b;
}
AccountDefaults SampleDefaults() {
  AccountDefaults d;
  d.LimitTypeDefault = 30;
  d.TimeLimitDefault = 3600.5;
  d.TimeQuotaPeriodDefault = 1;
  d.BytesLimitDefault = 1e10;
  d.BytesQuotaPeriodDefault = 2;
  d.AllTimeLimitDefault = 0.01;
  d.AllTimeFromDefault = Valid(At(2024, 3, 31));
  d.AllBytesLimitDefault = 123456789.12;
  d.AllBytesFromDefault = Valid(At(2024, 10, 27));
  d.DateLimitDefault = Valid(At(2099, 12, 31));
  return d;
}

class XmlTest : public AccountTest {
 protected:
  void SetUp() override {
    AccountTest::SetUp();
    ASSERT_EQ(msxml::CreateDocument(document_.put()), S_OK);
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(document_->loadXML(Bstr("<Vodrik/>").get(), &ok), S_OK);
  }
  qva::dom::Node NewElement() {
    auto root = qva::dom::Root(document_.get());
    EXPECT_TRUE(root.ok());
    auto element = qva::dom::AppendElement(document_.get(), root->get(), qva::dom::kIndent1, "Group");
    EXPECT_TRUE(element.ok());
    return *element;
  }
  // An element parsed from `xml`.
  qva::dom::Node Parse(const std::string& xml) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(document_->loadXML(Bstr(xml).get(), &ok), S_OK) << xml;
    auto element = qva::dom::Section(document_.get(), "Group");
    EXPECT_TRUE(element.ok() && *element) << xml;
    return *element;
  }
  std::string AttributeOf(IXMLDOMNode* element, const char* name) {
    auto text = qva::dom::Attribute(element, name);
    EXPECT_TRUE(text.ok());
    return *text ? (*text)->utf8() : "<absent>";
  }
  qva::dom::Document document_;
};

TEST_P(XmlTest, WrittenAttributesReadBackEqual) {
  const AccountBlock block = Sample();
  const AccountDefaults defaults = SampleDefaults();
  qva::dom::Node element = NewElement();
  ASSERT_EQ(qva::WriteAttributes(element.get(), block), S_OK);
  ASSERT_EQ(qva::WriteAttributes(element.get(), defaults), S_OK);

  EXPECT_EQ(AttributeOf(element.get(), "Resetdate"), "2024-03-31");
  EXPECT_EQ(AttributeOf(element.get(), "Resetdate2"), "2024-04-01");
  EXPECT_EQ(AttributeOf(element.get(), "BytesResetDate"), "<absent>");
  EXPECT_EQ(AttributeOf(element.get(), "StatusChange"), "<absent>");
  EXPECT_EQ(AttributeOf(element.get(), "Enable"), "-1");
  EXPECT_EQ(AttributeOf(element.get(), "Auth"), "511");
  EXPECT_EQ(AttributeOf(element.get(), "BytesLimitDefault"), "10000000000");
  EXPECT_EQ(AttributeOf(element.get(), "TimeLimitDefault"), "3600.5");
  EXPECT_EQ(AttributeOf(element.get(), "AllTimeLimitDefault"), "0.01");

  AccountBlock read;
  AccountDefaults read_defaults;
  ASSERT_EQ(qva::ReadAttributes(element.get(), read), S_OK);
  ASSERT_EQ(qva::ReadAttributes(element.get(), read_defaults), S_OK);
  AccountBlock expected = block;
  expected.StatusChange = 0;  // not written
  EXPECT_EQ(read, expected);
  EXPECT_EQ(read_defaults, defaults);
}

// Numbers written to attributes have the text setAttribute gives their VARIANT: the element of
// our own DOM takes the text without one, and must not differ from the platform conversion.
TEST_P(XmlTest, NumbersAreWrittenAsTheVariantConversionWritesThem) {
  const double reals[] = {0,
                          -0.0,
                          1,
                          -1,
                          0.1,
                          -0.1,
                          3600.5,
                          1e21,
                          -1e21,
                          1e-7,
                          1.5e-7,
                          1e15,
                          1e16,
                          1.0 / 3,
                          1e300,
                          1e-300,
                          4.9e-324,
                          1.7976931348623157e308,
                          123456789.12,
                          1234567890123456.0};
  const LONG longs[] = {0, 1, -1, 511, std::numeric_limits<LONG>::max(), std::numeric_limits<LONG>::min()};
  qva::dom::Node element = NewElement();
  const auto expect_as_variant = [&](const char* name, const com::Variant& value) {
    com::Variant text = value;
    ASSERT_EQ(text.ChangeType(VT_BSTR), S_OK);
    EXPECT_EQ(AttributeOf(element.get(), name), com::BstrToUtf8(text.bstrVal)) << name;
  };
  for (size_t i = 0; i < std::size(reals); ++i) {
    const std::string name = "R" + std::to_string(i);
    ASSERT_EQ(qva::SetNumberAttribute(element.get(), name, reals[i]), S_OK);
    expect_as_variant(name.c_str(), com::Variant::R8(reals[i]));
  }
  for (size_t i = 0; i < std::size(longs); ++i) {
    const std::string name = "L" + std::to_string(i);
    ASSERT_EQ(qva::SetNumberAttribute(element.get(), name, longs[i]), S_OK);
    expect_as_variant(name.c_str(), com::Variant::I4(longs[i]));
  }
}

TEST_P(XmlTest, AttributeTextsReadByTheStandardConversions) {
  constexpr double kMax = std::numeric_limits<LONG>::max();
  constexpr double kMin = std::numeric_limits<LONG>::min();
  struct Case {
    const char* attribute;
    const char* text;
    double value;
  } cases[] = {
      {"TimeLimit", "12.5", 12.5},
      {"TimeLimit", " 12.5kg", 12.5},
      {"TimeLimit", "+2.5e3", 2500},
      {"TimeLimit", "-.5", -0.5},
      {"TimeLimit", "abc", 0},
      {"TimeLimit", "nan", 0},
      {"TimeLimit", "inf", 0},
      {"TimeLimit", "1e999", 0},
      {"TimeLimit", "1,5", 1},
      {"Auth", "12abc", 12},
      {"Auth", " -7", -7},
      {"Auth", "+5", 5},
      {"Auth", "3.9", 3},
      {"Auth", "x1", 0},
      {"Auth", "99999999999", kMax},
      {"Auth", "-2147483648", kMin},
      {"Auth", "-99999999999", kMin},
      {"Enable", "-1", -1},
      {"CheckFee", "1", 1},
      {"EnableDate", "2024-5-6", At(2024, 5, 6)},
  };
  for (const Case& c : cases) {
    qva::dom::Node element = Parse(std::string("<Vodrik><Group ") + c.attribute + "=\"" + c.text + "\"/></Vodrik>");
    AccountBlock block;
    ASSERT_EQ(qva::ReadAttributes(element.get(), block), S_OK);
    EXPECT_EQ(ValueOf(block, FieldNamed(c.attribute)), c.value) << c.attribute << "=" << c.text;
  }

  // Missing and empty dates are the current time; a text the parser refuses is an invalid date.
  qva::dom::Node element = Parse("<Vodrik><Group EnableDate=\"\" DateLimit=\"garbage\"/></Vodrik>");
  AccountBlock block;
  block.TimeLimit = 9;
  const DATE before = qva::LocalNow();
  ASSERT_EQ(qva::ReadAttributes(element.get(), block), S_OK);
  const DATE after = qva::LocalNow();
  for (const DateWithStatus* d : {&block.EnableDate, &block.AllTimeFrom, &block.BytesResetDate}) {
    EXPECT_TRUE(d->valid());
    EXPECT_GE(d->value, before);
    EXPECT_LE(d->value, after);
  }
  EXPECT_EQ(block.DateLimit.status, DateStatus::kInvalid);
  EXPECT_EQ(block.TimeLimit, 0);  // a missing number reads as 0

  EXPECT_EQ(qva::ReadAttributes(nullptr, block), E_POINTER);
}

// ---- loading from a table row ----

class LoadTest : public AccountTest {
 protected:
  void SetUp() override {
    AccountTest::SetUp();
    file_ = dir_.path() / "Vodrik_e.ntf";
    std::filesystem::copy_file(std::filesystem::path(QVA_TEMPLATE_DIR) / "Vodrik.ntt", file_);
    auto made = com::CreateObject<qva::CQVADataBase>();
    ASSERT_TRUE(made.ok());
    db_ = *made;
    ASSERT_EQ(db_->OpenAccess(Bstr(file_.string()).get()), S_OK);
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(db_->get_Connection(unknown.put()), S_OK);
    ASSERT_EQ(unknown.As(&connection_), S_OK);
  }
  void Run(const std::string& statement) { ASSERT_EQ(db_->Execute(Bstr(statement).get()), S_OK) << statement; }

  // Inserts a group through the group statement, filled from the statement values.
  void InsertGroup(const char* name, const AccountBlock& block, const AccountDefaults& defaults) {
    const qva::AccountStatementValues a = qva::StatementValues(block);
    const qva::DefaultStatementValues d = qva::StatementValues(defaults);
    Run(qva::sql::Format(
        qva::kGroupStatements.insert, name, 0, "", "", a.Enable, a.EnableDate.c_str(), a.Auth, a.Dirty, a.LimitType,
        a.BytesResetDate.c_str(), a.TimeResetDate.c_str(), a.TimeLimit, a.TimeLeft, a.TimeQuotaPeriod, a.BytesLimit,
        a.BytesLeft, a.BytesQuotaPeriod, a.AllTimeLimit, a.AllTimeLeft, a.AllTimeFrom.c_str(), a.AllBytesLimit,
        a.AllBytesLeft, a.AllBytesFrom.c_str(), a.DateLimit.c_str(), d.LimitTypeDefault, d.TimeLimitDefault,
        d.TimeQuotaPeriodDefault, d.BytesLimitDefault, d.BytesQuotaPeriodDefault, d.AllTimeLimitDefault,
        d.AllTimeFromDefault.c_str(), d.AllBytesLimitDefault, d.AllBytesFromDefault.c_str(), d.DateLimitDefault.c_str(),
        a.CheckFee, a.FeeLimit, a.FeeLeft, a.FeeStop, a.FeeOption, a.FeeByOutBytes, a.FeeByAllBytes, a.FeeByTime));
  }
  // Opens `statement` positioned on its first row.
  void Open(qva::CRecordset& rs, const std::string& statement) {
    ASSERT_TRUE(rs.OpenStatement(nullptr, statement, qva::CRecordset::kText)) << rs.last_error_text();
    VARIANT_BOOL eof = VARIANT_TRUE;
    ASSERT_EQ(rs.recordset()->get_EOF(&eof), S_OK);
    ASSERT_EQ(eof, VARIANT_FALSE) << statement;
  }

  qva::testing::TempDir dir_;
  std::filesystem::path file_;
  ComPtr<qva::CQVADataBase> db_;
  ComPtr<_Connection> connection_;
};

TEST_P(LoadTest, SavedRowLoadsBackRoundedToTwoDecimals) {
  AccountBlock block = Sample();
  block.TimeLimit = 1.234;
  block.TimeLeft = 0.125;
  block.EnableDate = Valid(At(2024, 3, 31, 2, 30));
  const AccountDefaults defaults = SampleDefaults();
  InsertGroup("g", block, defaults);

  qva::CRecordset rs(connection_.get());
  Open(rs, "SELECT * FROM Groups WHERE Name = 'g'");
  AccountBlock loaded;
  AccountDefaults loaded_defaults;
  EXPECT_TRUE(qva::LoadFields(rs, loaded)) << rs.last_error_text();
  EXPECT_TRUE(qva::LoadFields(rs, loaded_defaults)) << rs.last_error_text();

  AccountBlock expected = block;
  expected.TimeLimit = 1.23;
  expected.TimeLeft = 0.13;
  expected.EnableDate = Valid(At(2024, 3, 31));  // the day only
  expected.StatusChange = 0;                     // not stored
  EXPECT_EQ(loaded, expected);
  EXPECT_EQ(loaded_defaults, defaults);

  // The reload's list keeps Enable and EnableDate as they are held.
  AccountBlock held;
  held.Enable = 0;
  held.EnableDate = Valid(At(2001, 1, 1));
  held.StatusChange = VARIANT_TRUE;
  EXPECT_TRUE(qva::LoadFields(rs, held, qva::AccountFieldRange(AccountFieldId::Auth, AccountFieldId::StatusChange)));
  expected.Enable = 0;
  expected.EnableDate = Valid(At(2001, 1, 1));
  expected.StatusChange = VARIANT_TRUE;
  EXPECT_EQ(held, expected);
}

TEST_P(LoadTest, NullColumnsLoadAsZeroAndNullDates) {
  Run("INSERT INTO Groups(Name) VALUES('empty')");
  qva::CRecordset rs(connection_.get());
  Open(rs, "SELECT * FROM Groups");
  AccountBlock loaded = Sample();
  EXPECT_TRUE(qva::LoadFields(rs, loaded));
  AccountBlock expected;
  expected.StatusChange = loaded.StatusChange = 0;
  for (DateWithStatus* d : {&expected.EnableDate, &expected.BytesResetDate, &expected.TimeResetDate,
                            &expected.AllTimeFrom, &expected.AllBytesFrom, &expected.DateLimit})
    *d = {0.0, DateStatus::kNull};
  EXPECT_EQ(loaded, expected);
}

TEST_P(LoadTest, MissingColumnsAreReportedAndReadAsZero) {
  Run("INSERT INTO Groups(Name, Auth, TimeLimit) VALUES('g', 5, 2.5)");
  qva::CRecordset rs(connection_.get());
  Open(rs, "SELECT Name, TimeLimit FROM Groups");
  AccountBlock loaded = Sample();
  EXPECT_FALSE(qva::LoadFields(rs, loaded));
  EXPECT_NE(rs.last_error_code(), S_OK);
  EXPECT_EQ(loaded.TimeLimit, 2.5);
  EXPECT_EQ(loaded.Auth, 0);
  EXPECT_EQ(loaded.EnableDate.status, DateStatus::kNull);
}

// ---- the automation members ----

// A group with its own members as plain stores, to reach the shared members through the
// interface and its dispatch description.
class CTestGroup : public qva::AccountDefaultMembers<IQVAGroup> {
 public:
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override { return Text(name_, pVal); }
  HRESULT STDMETHODCALLTYPE put_Name(BSTR newVal) override { return Store(name_, newVal); }
  HRESULT STDMETHODCALLTYPE get_AdsType(LONG* pVal) override { return Load(ads_type_, pVal); }
  HRESULT STDMETHODCALLTYPE put_AdsType(LONG newVal) override {
    ads_type_ = newVal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_AdsPath(BSTR* pVal) override { return Text(ads_path_, pVal); }
  HRESULT STDMETHODCALLTYPE put_AdsPath(BSTR newVal) override { return Store(ads_path_, newVal); }
  HRESULT STDMETHODCALLTYPE get_Remarks(BSTR* pVal) override { return Text(remarks_, pVal); }
  HRESULT STDMETHODCALLTYPE put_Remarks(BSTR newVal) override { return Store(remarks_, newVal); }
  HRESULT STDMETHODCALLTYPE get_DisplayName(BSTR* pVal) override { return Text(display_name_, pVal); }
  HRESULT STDMETHODCALLTYPE put_DisplayName(BSTR newVal) override { return Store(display_name_, newVal); }
  HRESULT STDMETHODCALLTYPE Save(VARIANT_BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Clear() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Init(IUnknown* pDB) override {
    db_ = pDB;
    return S_OK;
  }

 private:
  static HRESULT Text(const Bstr& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = text.Copy();
    return S_OK;
  }
  static HRESULT Store(Bstr& text, BSTR value) {
    text = Bstr(com::BstrView(value));
    return S_OK;
  }
  Bstr name_, ads_path_, remarks_, display_name_;
  LONG ads_type_ = 0;
  IUnknown* db_ = nullptr;
};
static_assert(!std::is_abstract_v<com::Object<CTestGroup>>);

class MembersTest : public AccountTest {
 protected:
  static HRESULT Invoke(IDispatch* d, std::string_view name, WORD flags, VARIANT* arg, VARIANT* result) {
    Bstr wide(name);
    LPOLESTR names[] = {wide.get()};
    DISPID id = 0;
    const HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{arg, flags == DISPATCH_PROPERTYPUT ? &put : nullptr, arg ? 1u : 0u,
                      flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    return d->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, nullptr);
  }
  // A distinct value of the field's kind, as the property takes it.
  template <class Block>
  static Variant SampleValue(const qva::FieldOf<Block>& f) {
    switch (f.kind()) {
      case qva::FieldKind::kLong:
        return Variant::I4(7);
      case qva::FieldKind::kBool:
        return Variant::Bool(true);
      case qva::FieldKind::kDouble:
        return Variant::R8(2.5);
      case qva::FieldKind::kDate:
        return Variant::Date(At(2024, 3, 31, 2, 30));
    }
    return Variant();
  }
  template <class Block>
  static void SetSample(Block& b, const qva::FieldOf<Block>& f) {
    std::visit(
        [&](auto member) {
          auto& v = b.*member;
          using T = std::remove_reference_t<decltype(v)>;
          if constexpr (std::is_same_v<T, double>)
            v = 2.5;
          else if constexpr (std::is_same_v<T, DateWithStatus>)
            v = Valid(At(2024, 3, 31, 2, 30));
          else if constexpr (std::is_same_v<T, VARIANT_BOOL>)
            v = VARIANT_TRUE;
          else
            v = 7;
        },
        f.member);
  }
};

// Each property, put by name through IDispatch, changes its own field and nothing else, and
// reads back through its getter.
TEST_P(MembersTest, EveryPropertyStoresItsOwnField) {
  auto check = [](const auto& fields, auto block_of) {
    for (const auto& f : fields) {
      SCOPED_TRACE(f.property);
      auto made = com::CreateObject<CTestGroup>();
      ASSERT_TRUE(made.ok());
      CTestGroup* group = made->get();
      Variant value = SampleValue(f);
      ASSERT_EQ(Invoke(group, f.property, DISPATCH_PROPERTYPUT, &value, nullptr), S_OK);

      std::remove_cvref_t<decltype(block_of(*group))> fresh{};
      SetSample(fresh, f);
      EXPECT_TRUE(block_of(*group) == fresh);

      Variant got;
      ASSERT_EQ(Invoke(group, f.property, DISPATCH_PROPERTYGET, nullptr, &got), S_OK);
      EXPECT_EQ(got.vt, value.vt);
      EXPECT_EQ(ValueOf(fresh, f), f.kind() == qva::FieldKind::kDate     ? got.date
                                   : f.kind() == qva::FieldKind::kDouble ? got.dblVal
                                   : f.kind() == qva::FieldKind::kBool   ? got.boolVal
                                                                         : got.lVal);
    }
  };
  check(qva::kAccountFields, [](const CTestGroup& g) { return g.account(); });
  check(qva::kDefaultFields, [](const CTestGroup& g) { return g.defaults(); });
}

TEST_P(MembersTest, ResetMembersWorkOnTheBlock) {
  auto made = com::CreateObject<CTestGroup>();
  ASSERT_TRUE(made.ok());
  IQVAGroup* group = made->get();
  ASSERT_EQ(group->put_LimitType(qva::kLimitBytes | qva::kLimitTime), S_OK);
  ASSERT_EQ(group->put_BytesQuotaPeriod(qva::kMonthly), S_OK);
  ASSERT_EQ(group->put_TimeQuotaPeriod(qva::kDaily), S_OK);
  ASSERT_EQ(group->put_BytesLimit(10), S_OK);
  ASSERT_EQ(group->put_TimeLimit(20), S_OK);
  ASSERT_EQ(group->put_CheckFee(VARIANT_TRUE), S_OK);
  ASSERT_EQ(group->put_FeeLeft(3), S_OK);

  Variant from = Variant::Date(At(2024, 3, 30, 2, 30));
  ASSERT_EQ(Invoke(group, "ResetFrom", DISPATCH_METHOD, &from, nullptr), S_OK);
  DATE d = 0;
  double left = 0;
  LONG auth = 0;
  EXPECT_EQ(group->get_BytesResetDate(&d), S_OK);
  EXPECT_EQ(Text(d), "2024-04-01 00:00:00");
  EXPECT_EQ(group->get_TimeResetDate(&d), S_OK);
  EXPECT_EQ(Text(d), "2024-03-31 02:30:00");
  EXPECT_EQ(group->get_BytesLeft(&left), S_OK);
  EXPECT_EQ(left, 10);
  EXPECT_EQ(group->get_FeeLeft(&left), S_OK);
  EXPECT_EQ(left, 0);
  EXPECT_EQ(group->get_Auth(&auth), S_OK);
  EXPECT_EQ(auth, qva::kResetAuthBits);

  ASSERT_EQ(group->put_FeeLeft(3), S_OK);
  ASSERT_EQ(group->Reset(), S_OK);
  EXPECT_EQ(group->get_TimeResetDate(&d), S_OK);
  EXPECT_EQ(Text(d), "2000-01-01 00:00:00");
  EXPECT_EQ(group->get_FeeLeft(&left), S_OK);
  EXPECT_EQ(left, 3);

  ASSERT_EQ(group->SetBytesNextResetDate(At(2023, 12, 31, 23, 59, 59)), S_OK);
  ASSERT_EQ(group->SetTimeNextResetDate(At(2024, 10, 26, 22)), S_OK);
  EXPECT_EQ(group->get_BytesResetDate(&d), S_OK);
  EXPECT_EQ(Text(d), "2024-01-01 00:00:00");
  EXPECT_EQ(group->get_TimeResetDate(&d), S_OK);
  EXPECT_EQ(Text(d), "2024-10-27 22:00:00");

  EXPECT_EQ(group->get_TimeLimit(nullptr), E_POINTER);
  EXPECT_EQ(group->get_AllTimeFromDefault(nullptr), E_POINTER);
}

INSTANTIATE_TEST_SUITE_P(Zones, AccountTest, ::testing::Values("UTC", "Europe/Berlin"));
INSTANTIATE_TEST_SUITE_P(Zones, XmlTest, ::testing::Values("UTC", "Europe/Berlin"));
INSTANTIATE_TEST_SUITE_P(Zones, LoadTest, ::testing::Values("UTC", "Europe/Berlin"));
INSTANTIATE_TEST_SUITE_P(Zones, MembersTest, ::testing::Values("UTC", "Europe/Berlin"));

}  // namespace
