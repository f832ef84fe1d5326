// The attribute texts of settings list fields: how numbers, times and days are read and written,
// whatever the process locale.
#include "qvacom/settings/list_fields.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <string>

#include "platform/com/date.h"

namespace qva::settings {
namespace {

// Runs with a locale whose decimal separator is a comma, when the machine has one.
class CommaLocale {
 public:
  CommaLocale() : old_(std::setlocale(LC_ALL, nullptr)) { std::setlocale(LC_ALL, "de_DE.utf8"); }
  ~CommaLocale() { std::setlocale(LC_ALL, old_.c_str()); }

 private:
  std::string old_;
};

TEST(ListFieldsTest, IntegersReadLikeAtoiAndClampToTheirType) {
  struct Case {
    const char* text;
    LONGLONG min, max, value;
  } cases[] = {
      {"42", INT32_MIN, INT32_MAX, 42},
      {"  -17xyz", INT32_MIN, INT32_MAX, -17},
      {"+8", INT32_MIN, INT32_MAX, 8},
      {"", INT32_MIN, INT32_MAX, 0},
      {"abc", INT32_MIN, INT32_MAX, 0},
      {"- 5", INT32_MIN, INT32_MAX, 0},
      {"5000000000", INT32_MIN, INT32_MAX, INT32_MAX},
      {"-5000000000", INT32_MIN, INT32_MAX, INT32_MIN},
      {"5000000000", INT64_MIN, INT64_MAX, 5000000000LL},
      {"-9223372036854775808", INT64_MIN, INT64_MAX, INT64_MIN},
      {"9223372036854775808", INT64_MIN, INT64_MAX, INT64_MAX},
      {"-1", INT16_MIN, INT16_MAX, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadInteger(c.text, c.min, c.max), c.value) << c.text;
}

TEST(ListFieldsTest, DecimalsUseAPointInEveryLocaleAndReadBackExactly) {
  CommaLocale comma;
  for (double value : {0.0, 0.5, 0.1, 1.0 / 3.0, -2.25, 1e-7, 123456789.125, 1e300}) {
    const std::string text = DecimalText(value);
    EXPECT_EQ(text.find(','), std::string::npos) << text;
    EXPECT_EQ(ReadDecimal(text), value) << text;
  }
  struct Case {
    const char* text;
    double value;
  } cases[] = {{"0.75", 0.75}, {" 1.5", 1.5}, {"+2", 2.0},  {"1,5", 1.0},  {"", 0.0},
               {"rate", 0.0},  {"inf", 0.0},  {"nan", 0.0}, {"1e999", 0.0}};
  for (const Case& c : cases) EXPECT_EQ(ReadDecimal(c.text), c.value) << c.text;
  EXPECT_EQ(DecimalText(0.1), "0.1");
}

TEST(ListFieldsTest, TimesOfDayKeepHoursAndMinutesOnly) {
  auto at = [](int h, int m) { return *com::CivilToDate({1899, 12, 30, h, m, 0}); };
  struct Case {
    const char* text;
    DATE value;
  } cases[] = {
      {"08:30:45", at(8, 30)},
      {"8:5", at(8, 5)},
      {" 8: 30", at(8, 30)},
      {"23:59:59", at(23, 59)},
      {"24:00:00", 0.0},
      {"08:60", 0.0},
      {"8", 0.0},
      {"", 0.0},
      {"-1:30", 0.0},
      {"08-30", 0.0},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadTimeOfDay(c.text), c.value) << c.text;
}

TEST(ListFieldsTest, DaysNeedThreeNumbersOfARealDay) {
  auto day = [](int y, int m, int d) { return *com::CivilToDate({y, m, d}); };
  struct Case {
    const char* text;
    DATE value;
  } cases[] = {
      {"2011-1-9", day(2011, 1, 9)},
      {"2010-05-07", day(2010, 5, 7)},
      {"2024-02-29", day(2024, 2, 29)},
      {"2023-02-29", 0.0},
      {"2010-13-01", 0.0},
      {"2010-5", 0.0},
      {"2010/5/7", 0.0},
      {"", 0.0},
      {"99999999999-1-1", 0.0},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadDay(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace qva::settings
