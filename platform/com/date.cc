// SystemTimeToVariantTime and VariantTimeToSystemTime, with OLE's calendar rules.
//
// A DATE counts days from 1899-12-30 00:00; its fraction is the time of day. Before that day the
// whole part goes backwards but the fraction still counts forwards from midnight: -1.25 is
// 1899-12-29 06:00, not 1899-12-28 18:00, and for values in (-1, 1) x and -x are the same moment.
// All arithmetic is on civil days (std::chrono calendar types); no time_t, no time zone is
// involved, since DATE values are local calendar values.
#include <chrono>
#include <cmath>
#include <cstdint>

#include "platform/com/oleauto.h"
#include "platform/com/oleauto_internal.h"

namespace {

using com::internal::kDateEpochDays;
namespace chr = std::chrono;

constexpr int kSecondsPerDay = 86400;

// OLE reads years 0 to 99 as two-digit years with the sliding window of current Windows versions:
// 00-49 are 2000-2049, 50-99 are 1950-1999.
int ExpandTwoDigitYear(int year) {
  if (year >= 100) return year;
  return year < 50 ? 2000 + year : 1900 + year;
}

}  // namespace

INT SystemTimeToVariantTime(const SYSTEMTIME* lpSystemTime, DOUBLE* pvtime) {
  if (!lpSystemTime || !pvtime) return 0;
  const SYSTEMTIME& st = *lpSystemTime;
  // Fields OLE refuses outright. Day 0 and month 0 are not refused: they roll back to the last
  // day of the previous month and to December of the previous year. Milliseconds are ignored.
  if (st.wMonth > 12 || st.wDay > 31 || st.wYear > 9999) return 0;

  const int year = ExpandTwoDigitYear(st.wYear);
  const chr::year_month first_of_month = chr::year{year} / chr::January + chr::months{st.wMonth - 1};
  // Hours, minutes and seconds past their ranges roll forward, as OLE's date builder does.
  const int64_t total_seconds = int64_t{st.wHour} * 3600 + int64_t{st.wMinute} * 60 + int64_t{st.wSecond};
  const int64_t days = chr::sys_days{first_of_month / 1}.time_since_epoch().count() + (st.wDay - 1) +
                       total_seconds / kSecondsPerDay - kDateEpochDays;
  if (days < com::internal::kDateMin || days > com::internal::kDateMax) return 0;

  const double fraction = static_cast<double>(total_seconds % kSecondsPerDay) / kSecondsPerDay;
  const auto serial = static_cast<double>(days);
  *pvtime = days >= 0 ? serial + fraction : serial - fraction;
  return 1;
}

INT VariantTimeToSystemTime(DOUBLE vtime, SYSTEMTIME* lpSystemTime) {
  if (!lpSystemTime || !com::internal::IsDateInRange(vtime)) return 0;  // NaN is out of range too
  const double whole = std::trunc(vtime);
  const double seconds_exact = std::fabs(vtime - whole) * kSecondsPerDay;
  // Rounded to the nearest second, halves upwards; 23:59:59.5 and later become the next day.
  auto seconds = static_cast<int64_t>(std::floor(seconds_exact));
  if (seconds_exact - static_cast<double>(seconds) >= 0.5) ++seconds;
  int64_t day = kDateEpochDays + static_cast<int64_t>(whole);
  if (seconds >= kSecondsPerDay) {
    seconds -= kSecondsPerDay;
    ++day;  // the next calendar day, whichever side of the epoch `whole` is on
  }
  const chr::sys_days civil{chr::days{day}};
  const chr::year_month_day ymd{civil};
  const int year = static_cast<int>(ymd.year());
  if (year > 9999) return 0;  // 9999-12-31 23:59:59.5 rounds past the last valid day

  SYSTEMTIME& st = *lpSystemTime;
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(static_cast<unsigned>(ymd.month()));
  st.wDay = static_cast<WORD>(static_cast<unsigned>(ymd.day()));
  st.wDayOfWeek = static_cast<WORD>(chr::weekday{civil}.c_encoding());
  st.wHour = static_cast<WORD>(seconds / 3600);
  st.wMinute = static_cast<WORD>(seconds / 60 % 60);
  st.wSecond = static_cast<WORD>(seconds % 60);
  st.wMilliseconds = 0;
  return 1;
}
