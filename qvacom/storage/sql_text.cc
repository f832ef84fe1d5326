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
  char buf[8];
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      out.push_back(format[i]);
      continue;
    }
    switch (format[++i]) {
      case 'Y':
        std::snprintf(buf, sizeof buf, "%04d", c.year);
        break;
      case 'y':
        std::snprintf(buf, sizeof buf, "%02d", c.year % 100);
        break;
      case 'm':
        std::snprintf(buf, sizeof buf, "%02d", c.month);
        break;
      case 'd':
        std::snprintf(buf, sizeof buf, "%02d", c.day);
        break;
      case 'H':
        std::snprintf(buf, sizeof buf, "%02d", c.hour);
        break;
      case 'M':
        std::snprintf(buf, sizeof buf, "%02d", c.minute);
        break;
      case 'S':
        std::snprintf(buf, sizeof buf, "%02d", c.second);
        break;
      case '%':
        std::snprintf(buf, sizeof buf, "%%");
        break;
      default:
        std::snprintf(buf, sizeof buf, "%%%c", format[i]);
        break;
    }
    out += buf;
  }
  return out;
}

}  // namespace qva::sql
