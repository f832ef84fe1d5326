#include "qvacom/frame/calendar.h"

#include <time.h>

#include <algorithm>
#include <chrono>

#include "platform/com/date.h"

namespace qva {
namespace {

namespace chr = std::chrono;

com::CivilDateTime WithDay(com::CivilDateTime c, chr::year_month_day ymd) {
  c.year = static_cast<int>(ymd.year());
  c.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  c.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  return c;
}

// The DATE of a normalised local time; -1e300 when the calendar cannot hold it (years before
// 100 are never read as two-digit years here).
DATE FromTm(const tm& t) {
  // A leap second (tm_sec 60) is the last second of its minute.
  auto d = com::CivilToDate({t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, std::min(t.tm_sec, 59)});
  return d ? *d : -1e300;
}

}  // namespace

DATE NextPeriodDate(DATE from, LONG period) {
  auto civil = com::DateToCivil(from);
  if (!civil) return 0.0;
  const chr::year_month_day ymd{chr::year(civil->year), chr::month(civil->month), chr::day(civil->day)};
  com::CivilDateTime next;
  switch (period) {
    case kDaily:
      next = WithDay(*civil, chr::sys_days(ymd) + chr::days(1));
      break;
    case kWeekly: {
      // Days to the Saturday that ends the week (Sunday is the first day).
      const unsigned weekday = chr::weekday(chr::sys_days(ymd)).c_encoding();  // 0 = Sunday
      next = WithDay(*civil, chr::sys_days(ymd) + chr::days(6 - weekday));
      break;
    }
    case kMonthly: {
      const chr::year_month first_of_next = chr::year_month(ymd.year(), ymd.month()) + chr::months(1);
      next = WithDay(com::CivilDateTime{}, first_of_next / chr::day(1));
      next.hour = next.minute = next.second = 0;
      break;
    }
    default:
      return 0.0;
  }
  auto date = com::CivilToDate(next);
  return date ? *date : 0.0;
}

namespace {

// The DATE of the local calendar time `t` when its fields are in range and that time exists in the
// local time zone (not skipped by a change to summer time); -1e300 otherwise.
DATE ExistingLocalTime(const tm& t) {
  if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour < 0 || t.tm_hour > 23 ||
      t.tm_min < 0 || t.tm_min > 59 || t.tm_sec < 0 || t.tm_sec > 59)
    return -1e300;
  // The fields read as UTC, by calendar arithmetic (timegm costs a normalisation pass); a day the
  // month does not have (31 April) is no existing time either.
  const chr::year_month_day ymd{chr::year(t.tm_year + 1900), chr::month(static_cast<unsigned>(t.tm_mon + 1)),
                                chr::day(static_cast<unsigned>(t.tm_mday))};
  if (!ymd.ok()) return -1e300;
  const time_t as_utc = static_cast<time_t>(chr::sys_days(ymd).time_since_epoch().count()) * 86400 + t.tm_hour * 3600 +
                        t.tm_min * 60 + t.tm_sec;
  const auto same = [&](const tm& local) {
    return local.tm_year == t.tm_year && local.tm_mon == t.tm_mon && local.tm_mday == t.tm_mday &&
           local.tm_hour == t.tm_hour && local.tm_min == t.tm_min && local.tm_sec == t.tm_sec;
  };
  // The offset of the time read last is tried first: dates read together mostly share it, and a
  // time that shows its own fields under that offset exists whatever the offset of any other.
  thread_local long last_offset = 0;
  tm local{};
  time_t when = as_utc - last_offset;
  if (localtime_r(&when, &local) && same(local)) return FromTm(local);
  if (!localtime_r(&as_utc, &local)) return -1e300;
  when = as_utc - local.tm_gmtoff;
  if (!localtime_r(&when, &local)) return -1e300;
  if (!same(local)) return -1e300;  // near a change of the offset: let mktime decide
  last_offset = local.tm_gmtoff;
  return FromTm(local);
}

}  // namespace

DateWithStatus ParseAccountDate(std::string_view text, std::string_view format, bool to_utc) {
  int year = 1901, month = 2, day = 1, hour = 0, minute = 0, second = 0;
  size_t pos = 0;
  auto read = [&](int width) {
    int value = 0, digits = 0;
    while (pos < text.size() && digits < width && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + (text[pos++] - '0');
      ++digits;
    }
    // The separator after the digits goes with them; a digit beyond the width starts the next field.
    if (pos < text.size() && !(text[pos] >= '0' && text[pos] <= '9')) ++pos;
    return value;
  };
  for (size_t i = 0; i + 1 < format.size(); ++i) {
    if (format[i] != '%') continue;
    switch (format[++i]) {
      case 'Y':
        year = read(4);
        break;
      case 'y':
        year = read(2) + 2000;
        break;
      case 'M':
        month = read(2);
        break;
      case 'D':
        day = read(2);
        break;
      case 'h':
        hour = read(2);
        break;
      case 'm':
        minute = read(2);
        break;
      case 's':
        second = read(2);
        break;
      default:
        break;
    }
  }
  tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  if (!to_utc) {
    // The usual case, a local time that exists as written, needs no normalisation: check that it
    // exists with localtime_r alone. (mktime would do, but glibc's mktime re-reads the time zone
    // file on every call, which dominated loading many accounts.)
    const DATE exact = ExistingLocalTime(t);
    if (exact != -1e300) return {exact, DateStatus::kValid};
  }
  // mktime fills tm_wday only when it succeeds: -1 is also a real second (1969-12-31 23:59:59
  // UTC, whatever local time that is), so the result alone cannot tell a failure.
  t.tm_wday = -1;
  time_t when = mktime(&t);
  if (t.tm_wday < 0) return {0.0, DateStatus::kInvalid};
  if (to_utc) {
    // The bias is UTC minus local time, in minutes, as Windows counts it.
    const long bias_minutes = -t.tm_gmtoff / 60;
    when -= bias_minutes * 60;
  }
  tm local{};
  if (!localtime_r(&when, &local)) return {0.0, DateStatus::kInvalid};
  const DATE d = FromTm(local);
  if (d == -1e300) return {0.0, DateStatus::kInvalid};
  return {d, DateStatus::kValid};
}

DATE LocalNow() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  const DATE d = FromTm(local);
  return d == -1e300 ? 0.0 : d;
}

}  // namespace qva
