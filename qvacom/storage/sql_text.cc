#include "qvacom/storage/sql_text.h"

#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/com/date.h"

namespace qva::sql {

std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (;;) {
    const size_t quote = text.find('\'');
    if (quote == std::string_view::npos) break;
    out.append(text.substr(0, quote + 1));
    out.push_back('\'');
    text.remove_prefix(quote + 1);
  }
  out.append(text);
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

// %f of `value` when value * 10^6 comes out a whole number m below 2^50 in magnitude, as it does
// for amounts of a few decimals: the exact product is then within 1/16 of m (half an ulp), so m
// is what printf rounds it to, and its digits with a point before the last six are the text.
// False for any other value, left to the general conversion.
bool AppendWholeMillionths(std::string* out, double value) {
  const double scaled = value * 1e6;
  if (!(std::fabs(scaled) < 0x1p50) || scaled != std::trunc(scaled)) return false;
  char digits[24];
  char* const first = digits + 7;  // room for the zeros of a value below 1
  const auto r = std::to_chars(first, digits + sizeof digits, static_cast<int64_t>(std::fabs(scaled)));
  char* start = first;
  while (r.ptr - start < 7) *--start = '0';
  if (std::signbit(value)) out->push_back('-');
  out->append(start, r.ptr - 6);
  out->push_back('.');
  out->append(r.ptr - 6, r.ptr);
  return true;
}

// Appends `format` filled from `args` when it uses only the conversions every statement of ours
// uses (%s with a text, %d, %f with a finite value, %%), each written exactly as printf writes
// it in the "C" locale; false, with *out partly written, at the first anything else (flags,
// widths, precisions, length modifiers, other conversions, a null text, an infinite or NaN
// value), for printf itself to do. Statements are formatted per row of a bulk write, so the
// usual case avoids printf's locale switch and its two passes.
bool AppendPlain(std::string* out, const char* format, va_list args) {
  for (const char* p = format;;) {
    const char* percent = std::strchr(p, '%');
    if (!percent) {
      out->append(p);
      return true;
    }
    out->append(p, static_cast<size_t>(percent - p));
    char number[400];  // %f of the largest double: 309 digits, a point and 6 decimals
    switch (percent[1]) {
      case '%':
        out->push_back('%');
        break;
      case 's': {
        const char* text = va_arg(args, const char*);
        if (!text) return false;
        out->append(text);
        break;
      }
      case 'd': {
        const auto r = std::to_chars(number, number + sizeof number, va_arg(args, int));
        out->append(number, r.ptr);
        break;
      }
      case 'f': {
        const double value = va_arg(args, double);
        if (!std::isfinite(value)) return false;
        if (AppendWholeMillionths(out, value)) break;
        const auto r = std::to_chars(number, number + sizeof number, value, std::chars_format::fixed, 6);
        if (r.ec != std::errc()) return false;
        out->append(number, r.ptr);
        break;
      }
      default:
        return false;
    }
    p = percent + 2;
  }
}

std::string FormatByPrintf(const char* format, va_list args) {
  CLocaleScope c_locale;
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n));
    std::vsnprintf(out.data(), out.size() + 1, format, again);
  }
  va_end(again);
  return out;
}

// A calendar field as "%02d" (width 2) or "%04d" (width 4) writes it.
void AppendDigits(std::string* out, int value, int width) {
  char digits[16];
  if (value < 0) {  // the sign counts in the width; no field of a calendar date is negative
    std::snprintf(digits, sizeof digits, "%0*d", width, value);
    out->append(digits);
    return;
  }
  const auto r = std::to_chars(digits, digits + sizeof digits, value);
  const auto n = static_cast<int>(r.ptr - digits);
  if (n < width) out->append(static_cast<size_t>(width - n), '0');
  out->append(digits, r.ptr);
}

}  // namespace

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list fallback;
  va_copy(fallback, args);
  std::string out;
  out.reserve(std::strlen(format) * 2);
  if (!AppendPlain(&out, format, args)) out = FormatByPrintf(format, fallback);
  va_end(fallback);
  va_end(args);
  return out;
}

double Round2(double value) { return std::floor(value * 100.0 + 0.5) / 100.0; }

std::string FormatDate(DATE date, std::string_view format) {
  auto civil = com::DateToCivil(date);
  if (!civil) return {};
  const com::CivilDateTime& c = *civil;
  // No reserve: a date alone ("2024-05-06") stays within the string's own buffer, and a date
  // with its time grows it once.
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
    AppendDigits(&out, value, conversion == 'Y' ? 4 : 2);
  }
  return out;
}

}  // namespace qva::sql
