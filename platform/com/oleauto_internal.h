// Pieces shared by the OLE Automation sources of the runtime library; not installed, not exported.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/com/types.h"

namespace com::internal {

// The DATE range OLE accepts: 1 January 100 to 31 December 9999, as day serials.
inline constexpr double kDateMin = -657434.0;
inline constexpr double kDateMax = 2958465.0;

// A number is a valid DATE when its day part lies in [kDateMin, kDateMax]; OLE's test is the
// open interval (kDateMin - 1, kDateMax + 1), which also admits the times of the last day.
constexpr bool IsDateInRange(double d) { return d > kDateMin - 1.0 && d < kDateMax + 1.0; }

// Day 0 of DATE, as a count of days since the civil epoch of std::chrono (1970-01-01).
inline constexpr std::int64_t kDateEpochDays =
    std::chrono::sys_days{std::chrono::year{1899} / std::chrono::December / 30}.time_since_epoch().count();

// True for the VARTYPEs VariantClear and VariantCopy accept (with or without VT_BYREF).
bool IsValidVariantType(VARTYPE vt);

}  // namespace com::internal
