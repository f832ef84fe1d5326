#include "qvacom/storage/sql_text.h"

#include <locale.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "platform/com/date.h"

namespace qva::sql {

std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out;
}

namespace {

// Switches the calling thread to the "C" locale for its lifetime.
class CLocaleScope {
 public:
  CLocaleScope() : previous_(uselocale(CLocale())) {}
  ~CLocaleScope() { uselocale(previous_); }

 private:
  static locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
  }
  locale_t previous_;
};

}  // namespace

std::string Format(const char* format, ...) {
  CLocaleScope c_locale;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n));
    std::vsnprintf(out.data(), out.size() + 1, format, again);
  }
  va_end(again);
  return out;
}

double Round2(double value) { return std::floor(value * 100.0 + 0.5) / 100.0; }

std::string FormatDate(DATE date, std::string_view format) {
  auto civil = com::DateToCivil(date);
  if (!civil) return {};
  const com::CivilDateTime& c = *civil;
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      out.push_back(format[i]);
      continue;
    }
    const char conversion = format[++i];
    int value = 0;
    switch (conversion) {
      case 'Y': value = c.year; break;
      case 'y': value = c.year % 100; break;
      case 'm': value = c.month; break;
      case 'd': value = c.day; break;
      case 'H': value = c.hour; break;
      case 'M': value = c.minute; break;
      case 'S': value = c.second; break;
      case '%':
        out.push_back('%');
        continue;
      default:  // not a conversion of ours: copied as written
        out.push_back('%');
        out.push_back(conversion);
        continue;
    }
    char digits[8];
    std::snprintf(digits, sizeof digits, conversion == 'Y' ? "%04d" : "%02d", value);
    out += digits;
  }
  return out;
}

}  // namespace qva::sql
