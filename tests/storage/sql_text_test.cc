#include "qvacom/storage/sql_text.h"

#include <gtest/gtest.h>
#include <locale.h>

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
