#include "qvacom/storage/sql_text.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

using namespace qva::sql;

TEST(SqlTextTest, QuotesAreDoubledSoNoValueEndsItsLiteral) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"O'Brien", "O''Brien"}, {"", ""}, {"'", "''"}, {"x'; DROP TABLE Users; --", "x''; DROP TABLE Users; --"},
               {"名字'", "名字''"}};
  for (const Case& c : cases) EXPECT_EQ(Escape(c.in), c.out) << c.in;
  EXPECT_EQ(Format("Delete FROM Users WHERE Name = '%s'", Escape("O'Brien").c_str()),
            "Delete FROM Users WHERE Name = 'O''Brien'");
}

TEST(SqlTextTest, FormatHasNoLengthLimitAndAlwaysUsesAPoint) {
  const std::string big(10000, 'a');
  EXPECT_EQ(Format("'%s'", big.c_str()).size(), 10002u);
  const char* previous = setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  const bool comma_locale = setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  EXPECT_EQ(Format("%f", 1.5), "1.500000");
  setlocale(LC_NUMERIC, saved.c_str());
  if (!comma_locale) GTEST_SKIP() << "no de_DE.UTF-8 locale here; the point was checked in the C locale only";
}

// Every conversion the statements use is written byte for byte as printf writes it in the "C"
// locale; anything else (widths, precisions, other conversions, values %f cannot show as digits)
// goes to printf itself.
TEST(SqlTextTest, FormatWritesWhatPrintfWrites) {
  const double kTie = 1.0 / 128;  // 0.0078125: exactly halfway between two sixth decimals
  const double doubles[] = {0.0,
                            -0.0,
                            1.5,
                            -1.5e3,
                            3600.5,
                            0.125,
                            kTie,
                            3 * kTie,
                            1e-7,
                            0.0000005,
                            1e300,
                            -1e22,
                            9.007199254740993e15,
                            123456789.987654321,
                            HUGE_VAL,
                            -HUGE_VAL,
                            NAN,
                            0.1,
                            1.23,
                            -1e-9,
                            0x1p50 / 1e6,
                            0x1p49 / 1e6,
                            1125899906.842623,
                            0.000001};
  const int ints[] = {0, -1, 7, INT_MIN, INT_MAX};
  char expected[512];
  for (const double d : doubles) {
    std::snprintf(expected, sizeof expected, "x=%f;'%s',%d%%", d, "O''Brien", 42);
    EXPECT_EQ(Format("x=%f;'%s',%d%%", d, "O''Brien", 42), expected) << d;
    std::snprintf(expected, sizeof expected, "%.2f|%5d|%g", d, 3, d);
    EXPECT_EQ(Format("%.2f|%5d|%g", d, 3, d), expected) << d;
  }
  for (const int i : ints) {
    std::snprintf(expected, sizeof expected, "Id=%d%s", i, "");
    EXPECT_EQ(Format("Id=%d%s", i, ""), expected) << i;
  }
  const char* const texts[] = {"", "100%", nullptr};  // a null text is printf's "(null)"
  for (const char* t : texts) {
    std::snprintf(expected, sizeof expected, "[%s]", t);
    EXPECT_EQ(Format("[%s]", t), expected);
  }
}

TEST(SqlTextTest, RoundsHalfUpToTwoDecimals) {
  struct Case {
    double in, out;
  } cases[] = {{1.234, 1.23}, {2.5, 2.5}, {0.125, 0.13}, {-0.125, -0.12}, {0.0, 0.0}, {99.999, 100.0}};
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(Round2(c.in), c.out) << c.in;
  EXPECT_EQ(Format("%f", Round2(1.234)), "1.230000");
}

TEST(SqlTextTest, DateTexts) {
  const DATE d = 40761.0 + (13 * 3600 + 5 * 60 + 9) / 86400.0;  // 2011-08-06 13:05:09
  EXPECT_EQ(FormatDate(d, kDateFormat), "2011-08-06");
  EXPECT_EQ(FormatDate(d, kDateTimeFormat), "2011-08-06 13:05:09");
  EXPECT_EQ(FormatDate(d, "%y-%m-%d %%"), "11-08-06 %");
  EXPECT_EQ(FormatDate(-1.25, kDateTimeFormat), "1899-12-29 06:00:00");
  EXPECT_EQ(FormatDate(1e9, kDateFormat), "");
}

}  // namespace
