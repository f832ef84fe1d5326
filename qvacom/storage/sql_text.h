// Conventions of every statement the library builds: printf-style texts of any length with "C"
// number conventions, text values that cannot end their quotes, two-decimal rounding and the
// date texts.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/types.h"

namespace qva::sql {

// The text to place between single quotes ('%s'): every single quote is doubled, so a name like
// O'Brien is stored and found as written and no value can change the statement around it.
std::string Escape(std::string_view text);

// printf into a string, whatever the length; %f and %g use a point whatever the process locale.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Half up to two decimals: floor(value * 100 + 0.5) / 100.
double Round2(double value);

// A DATE as text with the conversions %Y %y %m %d %H %M %S and %%; other characters are copied.
// A DATE outside years 100 to 9999 gives an empty text.
std::string FormatDate(DATE date, std::string_view format);

inline constexpr std::string_view kDateFormat = "%Y-%m-%d";
inline constexpr std::string_view kDateTimeFormat = "%Y-%m-%d %H:%M:%S";

}  // namespace qva::sql
