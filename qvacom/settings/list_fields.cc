#include "qvacom/settings/list_fields.h"

#include <charconv>
#include <cmath>

#include "platform/com/date.h"

namespace qva::settings {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Reads a decimal integer as scanf's "%d" does (blanks, a sign, digits) at `*pos`; false when
// there are no digits. Values beyond the int range are clamped.
bool ScanInt(std::string_view text, size_t* pos, int* out) {
  size_t i = *pos;
  while (i < text.size() && IsBlank(text[i])) ++i;
  const size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  if (i == text.size() || text[i] < '0' || text[i] > '9') return false;
  *out = static_cast<int>(
      ReadInteger(text.substr(start), std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  *pos = i;
  return true;
}

// Reads `count` integers separated by `separator` from the start of `text`.
template <size_t N>
bool ScanInts(std::string_view text, char separator, int (&out)[N]) {
  size_t pos = 0;
  for (size_t n = 0; n < N; ++n) {
    if (n > 0) {
      if (pos >= text.size() || text[pos] != separator) return false;
      ++pos;
    }
    if (!ScanInt(text, &pos, &out[n])) return false;
  }
  return true;
}

DATE DateOr0(const com::CivilDateTime& c) {
  auto d = com::CivilToDate(c);
  return d ? *d : 0.0;
}

}  // namespace

LONGLONG ReadInteger(std::string_view text, LONGLONG min, LONGLONG max) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulated as a negative number so that the type's minimum itself is reachable.
  LONGLONG value = 0;
  bool clamped = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (value < (std::numeric_limits<LONGLONG>::min() + digit) / 10) {
      clamped = true;
      break;
    }
    value = value * 10 - digit;
  }
  if (clamped) return negative ? min : max;
  if (!negative) {
    if (value < -max) return max;
    return -value;
  }
  return value < min ? min : value;
}

double ReadDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value);
  if (ec != std::errc() || !std::isfinite(value)) return 0.0;
  return value;
}

std::string DecimalText(double value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

DATE ReadTimeOfDay(std::string_view text) {
  int hm[2];
  if (!ScanInts(text, ':', hm)) return 0.0;
  return DateOr0({1899, 12, 30, hm[0], hm[1], 0});
}

DATE ReadDay(std::string_view text) {
  int ymd[3];
  if (!ScanInts(text, '-', ymd)) return 0.0;
  return DateOr0({ymd[0], ymd[1], ymd[2], 0, 0, 0});
}

std::string WithSeparator(std::string path) {
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path.push_back('/');
  return path;
}

com::Expected<com::Bstr> CopyBstr(BSTR from) {
  if (!from) return com::Bstr();
  BSTR copy = SysAllocStringLen(from, SysStringLen(from));
  if (!copy) return com::Fail{E_OUTOFMEMORY};
  return com::Bstr::Attach(copy);
}

}  // namespace qva::settings
