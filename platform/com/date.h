// DATE <-> calendar fields, for code that must not re-derive the DATE epoch or its odd handling
// of times before 1899-12-30. Built on SystemTimeToVariantTime / VariantTimeToSystemTime, so the
// results are OLE's: times are rounded to the nearest second, years run from 100 to 9999.
#pragma once

#include "platform/com/oleauto.h"
#include "platform/com/result.h"

namespace com {

// A local calendar date and time. month 1-12, day 1-31, hour 0-23, minute and second 0-59;
// day_of_week (0 = Sunday) is filled by DateToCivil and ignored by CivilToDate.
struct CivilDateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int day_of_week = 6;
  friend bool operator==(const CivilDateTime&, const CivilDateTime&) = default;
};

// The calendar fields of a DATE; E_INVALIDARG when the DATE is outside years 100 to 9999
// (or not a number).
inline Expected<CivilDateTime> DateToCivil(DATE date) {
  SYSTEMTIME st{};
  if (!VariantTimeToSystemTime(date, &st)) return Fail{E_INVALIDARG};
  return CivilDateTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wDayOfWeek};
}

// The DATE of calendar fields. Stricter than SystemTimeToVariantTime: every field must be in its
// range and the day must exist in its month (no two-digit years, no rolling of day 0 or of
// 25:00), else E_INVALIDARG.
inline Expected<DATE> CivilToDate(const CivilDateTime& c) {
  constexpr int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (c.year % 4 == 0 && c.year % 100 != 0) || c.year % 400 == 0;
  if (c.year < 100 || c.year > 9999 || c.month < 1 || c.month > 12 || c.day < 1 ||
      c.day > kDaysInMonth[c.month - 1] - (c.month == 2 && !leap ? 1 : 0) || c.hour < 0 || c.hour > 23 ||
      c.minute < 0 || c.minute > 59 || c.second < 0 || c.second > 59) {
    return Fail{E_INVALIDARG};
  }
  const SYSTEMTIME st{
      static_cast<WORD>(c.year),   static_cast<WORD>(c.month),  0, static_cast<WORD>(c.day), static_cast<WORD>(c.hour),
      static_cast<WORD>(c.minute), static_cast<WORD>(c.second), 0};
  DATE date = 0;
  if (!SystemTimeToVariantTime(&st, &date)) return Fail{E_INVALIDARG};
  return date;
}

}  // namespace com
