#include "platform/com/date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <limits>

#include "platform/com/oleauto.h"

namespace {

struct Fields {
  int year, month, day, hour, minute, second;
};

SYSTEMTIME ToSystemTime(const Fields& f, WORD ms = 0) {
  return SYSTEMTIME{
      static_cast<WORD>(f.year),   static_cast<WORD>(f.month),  0, static_cast<WORD>(f.day), static_cast<WORD>(f.hour),
      static_cast<WORD>(f.minute), static_cast<WORD>(f.second), ms};
}

TEST(DateTest, SystemTimeToVariantTime) {
  struct Case {
    Fields in;
    INT ok;
    double date;
  } cases[] = {
      {{1980, 1, 1, 0, 0, 0}, 1, 29221.0},
      {{1980, 1, 2, 0, 0, 0}, 1, 29222.0},
      {{1899, 12, 30, 0, 0, 0}, 1, 0.0},
      {{1899, 12, 30, 6, 0, 0}, 1, 0.25},
      {{1899, 12, 29, 6, 0, 0}, 1, -1.25},  // before the epoch the fraction still counts forwards
      {{1899, 12, 25, 6, 0, 0}, 1, -5.25},
      {{1899, 12, 25, 23, 59, 59}, 1, -5.0 - 86399.0 / 86400},
      {{1899, 12, 26, 0, 0, 0}, 1, -4.0},
      {{1600, 2, 29, 12, 0, 0}, 1, -109512.5},
      {{1900, 3, 1, 0, 0, 0}, 1, 61.0},
      {{2000, 2, 29, 0, 0, 0}, 1, 36585.0},
      {{100, 1, 1, 0, 0, 0}, 1, -657434.0},
      {{9999, 1, 1, 0, 0, 0}, 1, 2958101.0},
      {{9999, 12, 31, 0, 0, 0}, 1, 2958465.0},
      {{9999, 12, 31, 23, 59, 59}, 1, 2958465.0 + 86399.0 / 86400},
      // Two-digit years use OLE's window: 00-49 are 20xx, 50-99 are 19xx.
      {{0, 1, 1, 0, 0, 0}, 1, 36526.0},
      {{29, 1, 1, 0, 0, 0}, 1, 47119.0},
      {{49, 1, 1, 0, 0, 0}, 1, 54424.0},
      {{50, 1, 1, 0, 0, 0}, 1, 18264.0},
      {{99, 12, 31, 0, 0, 0}, 1, 36525.0},
      // Fields OLE normalises: day 0, month 0, a day past the month's end, hours past 23.
      {{1980, 1, 0, 0, 0, 0}, 1, 29220.0},
      {{1980, 0, 1, 0, 0, 0}, 1, 29190.0},
      {{1980, 0, 0, 0, 0, 0}, 1, 29189.0},
      {{1900, 2, 29, 0, 0, 0}, 1, 61.0},
      {{1980, 1, 1, 25, 0, 0}, 1, 29222.0 + 1.0 / 24},
      // Fields OLE refuses, and results outside years 100 to 9999.
      {{1980, 13, 1, 0, 0, 0}, 0, 0},
      {{1980, 1, 32, 0, 0, 0}, 0, 0},
      {{0xFFFF, 1, 1, 0, 0, 0}, 0, 0},
      {{10000, 1, 1, 0, 0, 0}, 0, 0},
      {{100, 1, 0, 0, 0, 0}, 0, 0},
      {{9999, 12, 31, 24, 0, 0}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.in.year << "-" << c.in.month << "-" << c.in.day << " " << c.in.hour << ":"
                                    << c.in.minute << ":" << c.in.second);
    const SYSTEMTIME st = ToSystemTime(c.in);
    double out = -99;
    ASSERT_EQ(SystemTimeToVariantTime(&st, &out), c.ok);
    if (c.ok) {
      EXPECT_NEAR(out, c.date, 1e-9);
    }
  }
}

TEST(DateTest, MillisecondsAreIgnored) {
  const SYSTEMTIME st = ToSystemTime({2024, 3, 31, 12, 0, 0}, 999);
  double out = 0;
  ASSERT_EQ(SystemTimeToVariantTime(&st, &out), 1);
  EXPECT_EQ(out, 45382.5);
}

TEST(DateTest, VariantTimeToSystemTime) {
  struct Case {
    double date;
    INT ok;
    Fields out;
    int day_of_week;
  } cases[] = {
      {29221.0, 1, {1980, 1, 1, 0, 0, 0}, 2},
      {0.0, 1, {1899, 12, 30, 0, 0, 0}, 6},
      {1.0, 1, {1899, 12, 31, 0, 0, 0}, 0},
      {-1.0, 1, {1899, 12, 29, 0, 0, 0}, 5},
      {-1.25, 1, {1899, 12, 29, 6, 0, 0}, 5},
      {-0.5, 1, {1899, 12, 30, 12, 0, 0}, 6},
      {0.25, 1, {1899, 12, 30, 6, 0, 0}, 6},
      {-0.25, 1, {1899, 12, 30, 6, 0, 0}, 6},  // x and -x are the same moment in (-1, 1)
      {-5.9999884259259, 1, {1899, 12, 25, 23, 59, 59}, 1},
      {36585.0, 1, {2000, 2, 29, 0, 0, 0}, 2},
      {61.0, 1, {1900, 3, 1, 0, 0, 0}, 4},
      {-109512.5, 1, {1600, 2, 29, 12, 0, 0}, 2},
      {29221.33333333, 1, {1980, 1, 1, 8, 0, 0}, 2},
      {29221.7508765432, 1, {1980, 1, 1, 18, 1, 16}, 2},
      {29221.9888884444, 1, {1980, 1, 1, 23, 44, 0}, 2},
      // Rounding to the nearest second, carrying into the next day.
      {1.0 + 86399.4 / 86400, 1, {1899, 12, 31, 23, 59, 59}, 0},
      {1.0 + 86399.6 / 86400, 1, {1900, 1, 1, 0, 0, 0}, 1},
      {-(1.0 + 86399.6 / 86400), 1, {1899, 12, 30, 0, 0, 0}, 6},
      {-657434.0, 1, {100, 1, 1, 0, 0, 0}, 5},
      {-657434.5, 1, {100, 1, 1, 12, 0, 0}, 5},
      {2958465.0, 1, {9999, 12, 31, 0, 0, 0}, 5},
      {2958465.99998, 1, {9999, 12, 31, 23, 59, 58}, 5},
      {2958465.999999, 0, {}, 0},  // rounds into year 10000
      {-657435.0, 0, {}, 0},
      {2958466.0, 0, {}, 0},
      {std::numeric_limits<double>::quiet_NaN(), 0, {}, 0},
      {std::numeric_limits<double>::infinity(), 0, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::setprecision(17) << c.date);
    SYSTEMTIME st{};
    ASSERT_EQ(VariantTimeToSystemTime(c.date, &st), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(st.wYear, c.out.year);
    EXPECT_EQ(st.wMonth, c.out.month);
    EXPECT_EQ(st.wDay, c.out.day);
    EXPECT_EQ(st.wHour, c.out.hour);
    EXPECT_EQ(st.wMinute, c.out.minute);
    EXPECT_EQ(st.wSecond, c.out.second);
    EXPECT_EQ(st.wMilliseconds, 0);
    EXPECT_EQ(st.wDayOfWeek, c.day_of_week);
  }
}

TEST(DateTest, DaysAndTimesRoundTrip) {
  // Whole days around the epoch and around leap days of several centuries, at several times.
  const double firsts[] = {-800, -109600, -693500 + 36600, 36500, 2958000};
  for (double first : firsts) {
    for (double day = first; day < first + 800; ++day) {
      for (int seconds : {0, 1, 43200, 86399}) {
        const double date = day >= 0 ? day + seconds / 86400.0 : day - seconds / 86400.0;
        if (date < -657434.0 || date >= 2958466.0) continue;
        SYSTEMTIME st{};
        ASSERT_EQ(VariantTimeToSystemTime(date, &st), 1) << date;
        double back = 0;
        ASSERT_EQ(SystemTimeToVariantTime(&st, &back), 1) << date;
        ASSERT_NEAR(back, date, 1e-9) << date;
      }
    }
  }
}

TEST(DateTest, CivilHelpers) {
  auto civil = com::DateToCivil(-1.25);
  ASSERT_TRUE(civil.ok());
  EXPECT_EQ(*civil, (com::CivilDateTime{1899, 12, 29, 6, 0, 0, 5}));
  EXPECT_EQ(com::DateToCivil(3e6).error(), E_INVALIDARG);

  auto date = com::CivilToDate({2024, 3, 31, 23, 0, 0});
  ASSERT_TRUE(date.ok());
  EXPECT_NEAR(*date, 45382.0 + 23.0 / 24, 1e-9);
  EXPECT_NEAR(*com::CivilToDate({2000, 2, 29, 0, 0, 0}), 36585.0, 0);

  const com::CivilDateTime refused[] = {
      {1900, 2, 29, 0, 0, 0}, {2023, 4, 31, 0, 0, 0}, {2023, 1, 0, 0, 0, 0},  {2023, 13, 1, 0, 0, 0},
      {99, 1, 1, 0, 0, 0},    {10000, 1, 1, 0, 0, 0}, {2023, 1, 1, 24, 0, 0}, {2023, 1, 1, 0, 60, 0},
  };
  for (const auto& c : refused) EXPECT_EQ(com::CivilToDate(c).error(), E_INVALIDARG) << c.year << "-" << c.month;
}

}  // namespace
