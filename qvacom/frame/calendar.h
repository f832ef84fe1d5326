// Dates shared by the accounts, the settings and the report tasks: a DATE with its status, the
// start of the next quota period, and the account date parser of stored texts.
// DATE values are local calendar values; every step is calendar arithmetic, never a count of
// seconds, so days with 23 or 25 hours change nothing.
#pragma once

#include <string_view>

#include "platform/com/types.h"

namespace qva {

enum class DateStatus { kValid, kInvalid, kNull };

struct DateWithStatus {
  DATE value = 0.0;
  DateStatus status = DateStatus::kValid;
  bool valid() const { return status == DateStatus::kValid; }
  friend bool operator==(const DateWithStatus&, const DateWithStatus&) = default;
};

// Quota period codes.
enum PeriodCode : LONG { kDaily = 0, kWeekly = 1, kMonthly = 2 };

// The start of the period after `from`: daily, the next day at the same time; weekly, the
// Saturday of from's week (Sunday starts a week; a Saturday gives itself) at the same time;
// monthly, the first day of the next month at 00:00:00. Any other code, or a date outside the
// calendar, gives DATE 0.0.
DATE NextPeriodDate(DATE from, LONG period);

// The account date parser. Fields start at 1901-02-01 00:00:00; `format` is walked one character
// at a time: "%Y" reads a 4-digit year, "%y" a 2-digit year plus 2000, "%M" month, "%D" day,
// "%h" hour, "%m" minute, "%s" second (2 digits each); other letters read nothing and other
// characters match nothing. A field takes up to its width of consecutive digits and swallows
// the one non-digit that follows them. Out-of-range fields roll over as the C library's local
// calendar does (month 13 is January of the next year). With `to_utc`, the local time-zone bias
// is applied. A time the calendar cannot hold is an invalid date.
DateWithStatus ParseAccountDate(std::string_view text, std::string_view format, bool to_utc = false);

// The current local date and time.
DATE LocalNow();

}  // namespace qva
