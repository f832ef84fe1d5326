#include "qvacom/frame/calendar.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>

#include "platform/com/date.h"
#include "qvacom/frame/address.h"
#include "qvacom/storage/sql_text.h"

namespace {

DATE At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return *com::CivilToDate({y, mo, d, h, mi, s});
}
std::string Text(DATE d) { return qva::sql::FormatDate(d, qva::sql::kDateTimeFormat); }

// Every date case runs in UTC and in a zone with summer time (a POSIX rule: no tz database needed).
class CalendarTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const char* old = getenv("TZ");
    saved_ = old ? old : "";
    had_ = old != nullptr;
    setenv("TZ", GetParam(), 1);
    tzset();
  }
  void TearDown() override {
    if (had_)
      setenv("TZ", saved_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  std::string saved_;
  bool had_ = false;
};

TEST_P(CalendarTest, NextPeriodDates) {
  struct Case {
    DATE from;
    LONG period;
    const char* next;
  } cases[] = {
      {At(2024, 5, 6, 23, 30), qva::kDaily, "2024-05-07 23:30:00"},
      {At(2023, 12, 31, 12), qva::kDaily, "2024-01-01 12:00:00"},
      {At(2024, 3, 30, 22), qva::kDaily, "2024-03-31 22:00:00"},      // the next day has 23 hours in Berlin
      {At(2024, 5, 8, 10), qva::kWeekly, "2024-05-11 10:00:00"},      // a Wednesday: that week's Saturday
      {At(2024, 5, 5, 10), qva::kWeekly, "2024-05-11 10:00:00"},      // a Sunday: six days later
      {At(2024, 5, 11, 10), qva::kWeekly, "2024-05-11 10:00:00"},     // a Saturday: itself
      {At(2023, 12, 1), qva::kMonthly, "2024-01-01 00:00:00"},
      {At(2023, 12, 31, 23, 59, 59), qva::kMonthly, "2024-01-01 00:00:00"},
      {At(2024, 2, 10, 13, 45), qva::kMonthly, "2024-03-01 00:00:00"},
      {At(2024, 2, 29), qva::kMonthly, "2024-03-01 00:00:00"},
      {At(2024, 3, 15), qva::kMonthly, "2024-04-01 00:00:00"},        // March 31 has 23 hours in Berlin
      {At(2024, 5, 6), 3, "1899-12-30 00:00:00"},                       // no such period
      {At(2024, 5, 6), -1, "1899-12-30 00:00:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(Text(qva::NextPeriodDate(c.from, c.period)), c.next) << Text(c.from);
}

TEST_P(CalendarTest, AccountDateParser) {
  struct Case {
    const char* text;
    const char* format;
    const char* date;
  } cases[] = {
      {"2024-05-06", "%Y-%M-%D", "2024-05-06 00:00:00"},
      {"2024-05-06 23:30:15", "%Y-%M-%D %h:%m:%s", "2024-05-06 23:30:15"},
      {"20240506", "%Y%M%D", "2024-05-06 00:00:00"},     // a digit beyond the width starts the next field
      {"24/5/6", "%y-%M-%D", "2024-05-06 00:00:00"},     // any separator, short fields
      {"", "%h:%m", "1901-02-01 00:00:00"},              // fields not in the format keep their start
      {"2024-13-01", "%Y-%M-%D", "2025-01-01 00:00:00"}, // the calendar rolls over
      {"2024-02-30", "%Y-%M-%D", "2024-03-01 00:00:00"},
      {"2024-05-06", "%Y-%Q-%D", "2024-02-05 00:00:00"}, // %Q reads nothing; %D reads "05"
  };
  for (const Case& c : cases) {
    const qva::DateWithStatus d = qva::ParseAccountDate(c.text, c.format);
    EXPECT_TRUE(d.valid()) << c.text;
    EXPECT_EQ(Text(d.value), c.date) << c.text;
  }
  // A time skipped by the change to summer time moves on by the hour skipped, as mktime moves it.
  const bool berlin = std::string_view(GetParam()).starts_with("CET");
  EXPECT_EQ(Text(qva::ParseAccountDate("2024-03-31 02:30:00", "%Y-%M-%D %h:%m:%s").value),
            berlin ? "2024-03-31 03:30:00" : "2024-03-31 02:30:00");
  EXPECT_EQ(Text(qva::ParseAccountDate("2024-10-27 02:30:00", "%Y-%M-%D %h:%m:%s").value), "2024-10-27 02:30:00");
  // A field with no digits reads 0: year 0 is outside the calendar.
  EXPECT_EQ(qva::ParseAccountDate("", "%Y-%M-%D").status, qva::DateStatus::kInvalid);
  EXPECT_EQ(qva::ParseAccountDate("abc", "%Y").status, qva::DateStatus::kInvalid);
}

INSTANTIATE_TEST_SUITE_P(Zones, CalendarTest, ::testing::Values("UTC0", "CET-1CEST,M3.5.0,M10.5.0/3"));

TEST(AddressNumberTest, OnlyFourNumbersFrom0To255AreAddresses) {
  EXPECT_DOUBLE_EQ(*qva::AddressNumber("192.168.1.20"), 192168001.02);
  EXPECT_DOUBLE_EQ(*qva::AddressNumber("0.0.0.0"), 0.0);
  EXPECT_DOUBLE_EQ(*qva::AddressNumber("255.255.255.255"), 255255255.255);
  EXPECT_LT(*qva::AddressNumber("10.0.0.9"), *qva::AddressNumber("10.0.0.10"));
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.-4", " 1.2.3.4", "1.2.3.4 ", "1..2.3",
                          "a.b.c.d", "0001.2.3.4", "1.2.3.4x"})
    EXPECT_FALSE(qva::AddressNumber(bad).has_value()) << bad;
}

}  // namespace
