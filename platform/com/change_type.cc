// VariantChangeType(Ex) and the text conversions VarBstrFromR8, VarBstrFromDate, VarR8FromStr,
// VarDateFromStr, with OLE's results and result codes.
//
// Conversions are organised by rule family rather than per pair of types. A source value is first
// reduced to its family (empty, signed integer, unsigned integer, real, date, boolean, text);
// each target family then has one rule per source family:
//   integer <- integer   range check, else DISP_E_OVERFLOW
//   integer <- real/date round half to even, then range check (2.5 -> 2, 3.5 -> 4, 32767.5 overflows I2)
//   integer <- boolean   the bits of -1/0 (VARIANT_TRUE becomes 255 in VT_UI1, as in OLE)
//   integer <- text      exact decimal parse, then the real rule (so "18446744073709551615" fits VT_UI8)
//   real/date <- any     the same number; a DATE must lie in years 100..9999, else DISP_E_OVERFLOW
//   boolean <- any       non-zero is VARIANT_TRUE; text also reads "True"/"False" in any case
//   text <- any          OLE's texts, below
// VT_EMPTY converts to 0, "", false and date 0; VT_NULL converts only to VT_NULL; VT_ERROR only to
// VT_ERROR; every type except those two converts to VT_EMPTY and VT_NULL. VT_UNKNOWN and
// VT_DISPATCH convert into each other through QueryInterface (a null pointer stays null); a
// VT_DISPATCH converts to a scalar through its value property (DISPID_VALUE, property get) unless
// VARIANT_NOVALUEPROP is given. Anything else is DISP_E_TYPEMISMATCH, and a VARTYPE OLE does not
// know is DISP_E_BADVARTYPE. On failure the destination is left untouched; on success its old
// content is cleared (a destination that cannot be cleared fails the call instead).
//
// Locale. Every LCID, and the process locale, are ignored: conversions behave as OLE does under
// an en-US user default locale, so that texts written by one process read back in any other.
//   Numbers read: blanks around the number, a leading or trailing sign or parentheses for a
//     negative, "$" before or after, "," grouping digits of the integer part, "." as decimal point,
//     an exponent "e" / "E" with optional sign, or a VB literal "&H" hex / "&O" octal. The whole
//     text must be used. A hex/octal literal is a bit pattern: "&HFFFF" is -1 as VT_I2, 65535 as
//     VT_I4. Too big for the target: DISP_E_OVERFLOW; not a number: DISP_E_TYPEMISMATCH.
//   Numbers written: VT_R8 with 15 significant digits and VT_R4 with 7 (C's "%.15G" / "%.7G":
//     "0.1", "1E+20", "1.5E-07", "0.333333333333333"), never a negative zero, always "." as decimal
//     point, "NAN" / "INF" / "-INF" for values that are not numbers; integers in plain decimal;
//     booleans as "-1" / "0", or "True" / "False" with VARIANT_ALPHABOOL or VARIANT_LOCALBOOL.
//   Dates written: "M/D/YYYY h:mm:ss AM"; only the date when the time is 00:00:00, only the time
//     when the date is 1899-12-30 (a value in (-1, 1)); times rounded to the second.
//   Dates read (a subset of OLE's free-form parser): "M/D/YYYY", "YYYY-MM-DD", either followed by a
//     time, or a time alone; a time is "h:mm" or "h:mm:ss", optionally followed by AM / PM (or A /
//     P); "YYYY-MM-DD" may also be joined to its time by "T". A two-digit year follows OLE's window
//     (00-49 are 2000-2049, 50-99 are 1950-1999). A date that does not exist is
//     DISP_E_TYPEMISMATCH, a year outside 100..9999 DISP_E_OVERFLOW.
//
// Where this differs from OLE on purpose:
//   - VT_UINT to VT_I4 (and VT_INT to VT_UI4) is range checked; OLE copies the bits, so that
//     4294967295 silently became -1.
//   - A BSTR is read with its full length: text after an embedded NUL makes the text invalid
//     instead of being ignored.
//   - NaN converts to no integer and no DATE (DISP_E_OVERFLOW) instead of an undefined value.
//   - A value property that is itself an object is followed at most kMaxValueDepth times, so an
//     object whose value is itself cannot loop forever.
// Not provided by this runtime: VT_CY and VT_DECIMAL conversions (beyond copying a value to its
// own type, VT_EMPTY or VT_NULL), arrays and records; they are DISP_E_TYPEMISMATCH.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <string>
#include <string_view>

#include "platform/com/date.h"
#include "platform/com/oleauto.h"
#include "platform/com/oleauto_internal.h"
#include "platform/com/result.h"
#include "platform/com/text.h"
#include "platform/com/variant.h"

namespace {

using com::Expected;
using com::Fail;
using Int128 = __int128;

constexpr int kMaxValueDepth = 8;

// ---- text helpers -------------------------------------------------------------------------------

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

bool IsBlank(char16_t c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == 0xA0; }

bool IsDigit(char16_t c) { return c >= '0' && c <= '9'; }

bool EqualsAsciiNoCase(std::u16string_view s, std::string_view ascii) {
  if (s.size() != ascii.size()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c + ('a' - 'A'));
    if (c != static_cast<unsigned char>(ascii[i])) return false;
  }
  return true;
}

// The characters of a null-terminated OLE string.
std::u16string_view OleView(const OLECHAR* s) { return std::u16string_view(s); }

HRESULT StoreText(VARIANT* out, std::u16string_view text) {
  BSTR b = com::AllocBstr(text);
  if (!b) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  out->bstrVal = b;
  return S_OK;
}

// ---- numbers in text ----------------------------------------------------------------------------

// A number read from text: digits × 10^exponent, or a hex/octal literal.
struct ParsedNumber {
  bool negative = false;
  bool radix = false;  // "&H" or "&O" literal; the value is radix_value
  uint64_t radix_value = 0;
  std::string digits;    // significant decimal digits, no leading zeros; empty means zero
  int64_t exponent = 0;  // power of ten of the last digit kept
  bool sticky = false;   // a non-zero digit was dropped past kMaxDigits
};

// Digits beyond these decide nothing a double or a 64-bit integer can hold; they only count for
// rounding (see ParsedNumber::sticky).
constexpr size_t kMaxDigits = 800;
constexpr int64_t kExponentCap = 1000000;

class NumberReader {
 public:
  explicit NumberReader(std::u16string_view s) : s_(s) {}

  Expected<ParsedNumber> Read() {
    ReadLeading();
    if (i_ + 1 < s_.size() && s_[i_] == '&' && !currency_) {
      const char16_t kind = s_[i_ + 1] | 0x20;
      if (kind == 'h' || kind == 'o') {
        i_ += 2;
        if (const HRESULT hr = ReadRadix(kind == 'h' ? 4 : 3); FAILED(hr)) return Fail{hr};
      }
    } else {
      ReadDecimal();
    }
    if (digits_seen_ == 0) return Fail{DISP_E_TYPEMISMATCH};
    if (!ReadTrailing()) return Fail{DISP_E_TYPEMISMATCH};
    return n_;
  }

 private:
  bool Sign(char16_t c) {
    if ((c != '+' && c != '-') || sign_ || parens_) return false;
    sign_ = true;
    n_.negative = c == '-';
    return true;
  }

  void ReadLeading() {
    for (; i_ < s_.size(); ++i_) {
      const char16_t c = s_[i_];
      if (IsBlank(c) || Sign(c)) continue;
      if (c == '(' && !parens_ && !sign_) {
        parens_ = true;
        n_.negative = true;
      } else if (c == '$' && !currency_) {
        currency_ = true;
      } else {
        break;
      }
    }
  }

  HRESULT ReadRadix(int shift) {
    n_.radix = true;
    const int base = 1 << shift;
    for (; i_ < s_.size(); ++i_) {
      const char16_t c = s_[i_];
      int d = -1;
      if (IsDigit(c)) d = c - '0';
      if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') d = (c | 0x20) - 'a' + 10;
      if (d < 0 || d >= base) break;
      if (n_.radix_value >> (64 - shift)) return DISP_E_OVERFLOW;
      n_.radix_value = (n_.radix_value << shift) | static_cast<uint64_t>(d);
      ++digits_seen_;
    }
    return S_OK;
  }

  void Digit(char16_t c, bool fraction) {
    ++digits_seen_;
    if (n_.digits.empty() && c == '0') {
      if (fraction) --n_.exponent;
      return;
    }
    if (n_.digits.size() < kMaxDigits) {
      n_.digits.push_back(static_cast<char>(c));
      if (fraction) --n_.exponent;
    } else {
      if (!fraction) ++n_.exponent;
      if (c != '0') n_.sticky = true;
    }
  }

  void ReadDecimal() {
    for (; i_ < s_.size(); ++i_) {
      const char16_t c = s_[i_];
      if (IsDigit(c)) {
        Digit(c, false);
      } else if (c != ',' || digits_seen_ == 0) {  // "," groups digits, but cannot lead
        break;
      }
    }
    if (i_ < s_.size() && s_[i_] == '.') {
      for (++i_; i_ < s_.size() && IsDigit(s_[i_]); ++i_) Digit(s_[i_], true);
    }
    if (digits_seen_ == 0 || i_ >= s_.size() || (s_[i_] | 0x20) != 'e') return;
    size_t j = i_ + 1;
    bool negative_exponent = false;
    if (j < s_.size() && (s_[j] == '+' || s_[j] == '-')) negative_exponent = s_[j++] == '-';
    if (j >= s_.size() || !IsDigit(s_[j])) return;  // "1e" is not an exponent
    int64_t e = 0;
    for (; j < s_.size() && IsDigit(s_[j]); ++j) e = std::min<int64_t>(e * 10 + (s_[j] - '0'), kExponentCap);
    n_.exponent += negative_exponent ? -e : e;
    i_ = j;
  }

  bool ReadTrailing() {
    bool closed = false;
    for (; i_ < s_.size(); ++i_) {
      const char16_t c = s_[i_];
      if (IsBlank(c) || Sign(c)) continue;
      if (c == ')' && parens_ && !closed) {
        closed = true;
      } else if (c != '$' || n_.radix) {
        return false;
      }
    }
    return closed == parens_;
  }

  std::u16string_view s_;
  size_t i_ = 0;
  ParsedNumber n_;
  size_t digits_seen_ = 0;
  bool sign_ = false;
  bool parens_ = false;
  bool currency_ = false;
};

Expected<ParsedNumber> ParseNumber(std::u16string_view text) { return NumberReader(text).Read(); }

Expected<double> NumberToDouble(const ParsedNumber& n) {
  double value = 0;
  if (n.radix) {
    value = static_cast<double>(n.radix_value);
  } else if (!n.digits.empty()) {
    std::string text = n.digits;
    int64_t exponent = n.exponent;
    if (n.sticky) {  // keeps a dropped tail visible to the rounding of from_chars
      text.push_back('1');
      --exponent;
    }
    text += 'e';
    text += std::to_string(exponent);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) {
      // Too large overflows; too small is zero, as in OLE.
      if (static_cast<int64_t>(n.digits.size()) + n.exponent > 0) return Fail{DISP_E_OVERFLOW};
      value = 0;
    } else if (ec != std::errc()) {
      return Fail{DISP_E_TYPEMISMATCH};
    }
  }
  if (value == 0) return 0.0;  // never a negative zero
  return n.negative ? -value : value;
}

// The number rounded half to even; DISP_E_OVERFLOW when it has more than 30 integer digits.
Expected<Int128> NumberToRoundedInteger(const ParsedNumber& n) {
  if (n.radix) {
    const Int128 v = n.radix_value;
    return n.negative ? -v : v;
  }
  const auto count = static_cast<int64_t>(n.digits.size());
  const int64_t integer_digits = count + n.exponent;
  if (integer_digits > 30) return Fail{DISP_E_OVERFLOW};
  Int128 v = 0;
  for (int64_t k = 0; k < integer_digits; ++k) v = v * 10 + (k < count ? n.digits[k] - '0' : 0);
  if (integer_digits >= 0 && integer_digits < count) {
    const char first = n.digits[integer_digits];
    bool rest = n.sticky;
    for (int64_t k = integer_digits + 1; k < count && !rest; ++k) rest = n.digits[k] != '0';
    if (first > '5' || (first == '5' && (rest || (v & 1)))) ++v;
  }
  return n.negative ? -v : v;
}

// ---- numbers to text ---------------------------------------------------------------------------

std::u16string FormatReal(double value, int precision) {
  char buffer[com::kNumberTextSize];
  return Widen(com::RealText(value, precision, buffer));
}

template <class T>
std::u16string FormatInteger(T value) {
  char buffer[com::kNumberTextSize];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return Widen(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

// ---- dates and text ----------------------------------------------------------------------------

Expected<std::u16string> FormatDate(DATE date) {
  SYSTEMTIME st{};
  if (!VariantTimeToSystemTime(date, &st)) return Fail{E_INVALIDARG};
  std::string text;
  const bool epoch_day = st.wYear == 1899 && st.wMonth == 12 && st.wDay == 30;
  const bool midnight = st.wHour == 0 && st.wMinute == 0 && st.wSecond == 0;
  if (!epoch_day) {
    text = std::to_string(st.wMonth) + '/' + std::to_string(st.wDay) + '/' + std::to_string(st.wYear);
    if (midnight) return Widen(text);
    text += ' ';
  }
  const int hour12 = st.wHour % 12 == 0 ? 12 : st.wHour % 12;
  char time[32];
  std::snprintf(time, sizeof time, "%d:%02d:%02d %s", hour12, st.wMinute, st.wSecond, st.wHour < 12 ? "AM" : "PM");
  return Widen(text + time);
}

class DateReader {
 public:
  explicit DateReader(std::u16string_view s) : s_(s) {}

  Expected<DATE> Read() {
    SkipBlanks();
    const size_t start = i_;
    int digits = 0;
    const int first = Number(4, &digits);
    if (first < 0) return Fail{DISP_E_TYPEMISMATCH};
    bool have_time = true;
    if (Peek() == '-') {  // YYYY-MM-DD
      ++i_;
      year_ = first;
      month_ = Number(2);
      if (digits != 4 || !Eat('-')) return Fail{DISP_E_TYPEMISMATCH};
      day_ = Number(2);
      have_time = Eat('T') || SkipBlanks();
    } else if (Peek() == '/') {  // M/D/Y
      ++i_;
      month_ = first;
      day_ = Number(2);
      int year_digits = 0;
      if (digits > 2 || !Eat('/')) return Fail{DISP_E_TYPEMISMATCH};
      year_ = Number(4, &year_digits);
      if (year_ >= 0 && year_digits <= 2) year_ = year_ < 50 ? 2000 + year_ : 1900 + year_;
      have_time = SkipBlanks();
    } else {  // a time alone
      i_ = start;
    }
    if (have_time && i_ < s_.size()) {
      if (const HRESULT hr = ReadTime(); FAILED(hr)) return Fail{hr};
    }
    SkipBlanks();
    if (i_ != s_.size()) return Fail{DISP_E_TYPEMISMATCH};
    return Build();
  }

 private:
  char16_t Peek() const { return i_ < s_.size() ? s_[i_] : u'\0'; }

  bool Eat(char16_t c) {
    if (Peek() != c) return false;
    ++i_;
    return true;
  }

  // Skips blanks; true when there was at least one.
  bool SkipBlanks() {
    const size_t start = i_;
    while (i_ < s_.size() && IsBlank(s_[i_])) ++i_;
    return i_ > start;
  }

  // 1 to max_digits digits, or -1.
  int Number(int max_digits, int* digits = nullptr) {
    int value = 0, n = 0;
    for (; i_ < s_.size() && IsDigit(s_[i_]); ++i_, ++n) {
      if (n == max_digits) return -1;
      value = value * 10 + (s_[i_] - '0');
    }
    if (digits) *digits = n;
    return n == 0 ? -1 : value;
  }

  HRESULT ReadTime() {
    hour_ = Number(2);
    if (!Eat(':')) return DISP_E_TYPEMISMATCH;
    minute_ = Number(2);
    if (Eat(':')) second_ = Number(2);
    if (hour_ < 0 || minute_ < 0 || second_ < 0) return DISP_E_TYPEMISMATCH;
    SkipBlanks();
    const char16_t marker = Peek() | 0x20;
    if (marker != 'a' && marker != 'p') return S_OK;
    ++i_;
    if ((Peek() | 0x20) == 'm') ++i_;
    // As in OLE, AM/PM only counts for hours 0 to 12.
    if (hour_ <= 12) {
      if (marker == 'a' && hour_ == 12) hour_ = 0;
      if (marker == 'p' && hour_ < 12) hour_ += 12;
    }
    return S_OK;
  }

  Expected<DATE> Build() const {
    if (year_ < 0) return Fail{DISP_E_TYPEMISMATCH};
    // A well-formed date of a year DATE cannot hold overflows; one that does not exist is not a date.
    if (year_ < 100 || year_ > 9999) return Fail{DISP_E_OVERFLOW};
    const auto date = com::CivilToDate({year_, month_, day_, hour_, minute_, second_});
    if (!date) return Fail{DISP_E_TYPEMISMATCH};
    return *date;
  }

  std::u16string_view s_;
  size_t i_ = 0;
  int year_ = 1899, month_ = 12, day_ = 30;  // a time alone lies on day 0
  int hour_ = 0, minute_ = 0, second_ = 0;
};

Expected<DATE> ParseDate(std::u16string_view text) { return DateReader(text).Read(); }

// ---- booleans and text --------------------------------------------------------------------------

Expected<VARIANT_BOOL> ParseBool(std::u16string_view text) {
  // "#TRUE#" and "#FALSE#" are OLE's own spellings, matched exactly; English words in any case.
  if (text == u"#TRUE#" || EqualsAsciiNoCase(text, "true")) return VARIANT_TRUE;
  if (text == u"#FALSE#" || EqualsAsciiNoCase(text, "false")) return VARIANT_FALSE;
  ASSIGN_OR_RETURN(const ParsedNumber number, ParseNumber(text));
  ASSIGN_OR_RETURN(const double value, NumberToDouble(number));
  return value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
}

// ---- rule families -----------------------------------------------------------------------------

// A source value reduced to its rule family.
struct Scalar {
  enum class Family { kEmpty, kSigned, kUnsigned, kReal, kDate, kBool, kText } family;
  Int128 integer = 0;        // kSigned, kUnsigned
  double real = 0;           // kReal, kDate
  bool single = false;       // kReal from VT_R4
  VARIANT_BOOL boolean = 0;  // kBool
  std::u16string_view text;  // kText
};

// The family of a by-value VARIANT, or false for types no scalar rule applies to.
bool ToScalar(const VARIANT& v, Scalar* s) {
  using F = Scalar::Family;
  auto integer = [s](F family, Int128 value) {
    s->family = family;
    s->integer = value;
    return true;
  };
  auto real = [s](F family, double value) {
    s->family = family;
    s->real = value;
    return true;
  };
  switch (v.vt) {
    case VT_EMPTY:
      s->family = F::kEmpty;
      return true;
    case VT_I1:
      return integer(F::kSigned, static_cast<signed char>(v.cVal));
    case VT_I2:
      return integer(F::kSigned, v.iVal);
    case VT_I4:
      return integer(F::kSigned, v.lVal);
    case VT_INT:
      return integer(F::kSigned, v.intVal);
    case VT_I8:
      return integer(F::kSigned, v.llVal);
    case VT_UI1:
      return integer(F::kUnsigned, v.bVal);
    case VT_UI2:
      return integer(F::kUnsigned, v.uiVal);
    case VT_UI4:
      return integer(F::kUnsigned, v.ulVal);
    case VT_UINT:
      return integer(F::kUnsigned, v.uintVal);
    case VT_UI8:
      return integer(F::kUnsigned, v.ullVal);
    case VT_R4:
      s->single = true;
      return real(F::kReal, v.fltVal);
    case VT_R8:
      return real(F::kReal, v.dblVal);
    case VT_DATE:
      return real(F::kDate, v.date);
    case VT_BOOL:
      s->family = F::kBool;
      s->boolean = v.boolVal;
      return true;
    case VT_BSTR:
      s->family = F::kText;
      s->text = com::BstrView(v.bstrVal);
      return true;
    default:
      return false;
  }
}

struct IntegerType {
  VARTYPE vt;
  int bits;
  bool is_signed;
  Int128 Min() const { return is_signed ? -(Int128{1} << (bits - 1)) : 0; }
  Int128 Max() const { return is_signed ? (Int128{1} << (bits - 1)) - 1 : (Int128{1} << bits) - 1; }
};

constexpr IntegerType kIntegerTypes[] = {
    {VT_I1, 8, true},   {VT_UI1, 8, false},  {VT_I2, 16, true},    {VT_UI2, 16, false}, {VT_I4, 32, true},
    {VT_INT, 32, true}, {VT_UI4, 32, false}, {VT_UINT, 32, false}, {VT_I8, 64, true},   {VT_UI8, 64, false},
};

const IntegerType* FindIntegerType(VARTYPE vt) {
  for (const IntegerType& t : kIntegerTypes)
    if (t.vt == vt) return &t;
  return nullptr;
}

Expected<Int128> RoundHalfEven(double d) {
  if (!(std::fabs(d) < 0x1p100)) return Fail{DISP_E_OVERFLOW};  // also NaN
  const double floor = std::floor(d);
  const double rest = d - floor;
  auto r = static_cast<Int128>(floor);
  if (rest > 0.5 || (rest == 0.5 && (r & 1))) ++r;
  return r;
}

Expected<Int128> InRange(Int128 v, const IntegerType& t) {
  if (v < t.Min() || v > t.Max()) return Fail{DISP_E_OVERFLOW};
  return v;
}

// The value to store in an integer of type `t`; the store keeps its low `t.bits` bits.
Expected<Int128> ToInteger(const Scalar& s, const IntegerType& t) {
  using F = Scalar::Family;
  switch (s.family) {
    case F::kEmpty:
      return Int128{0};
    case F::kSigned:
    case F::kUnsigned:
      return InRange(s.integer, t);
    case F::kReal:
    case F::kDate: {
      ASSIGN_OR_RETURN(const Int128 rounded, RoundHalfEven(s.real));
      return InRange(rounded, t);
    }
    case F::kBool:
      return Int128{s.boolean};
    case F::kText: {
      ASSIGN_OR_RETURN(const ParsedNumber number, ParseNumber(s.text));
      ASSIGN_OR_RETURN(const Int128 value, NumberToRoundedInteger(number));
      // A hex/octal literal is a bit pattern for signed types: "&HFFFF" is -1 as VT_I2.
      if (number.radix && t.is_signed && value > t.Max() && value <= (Int128{1} << t.bits) - 1) return value;
      return InRange(value, t);
    }
  }
  return Fail{DISP_E_TYPEMISMATCH};
}

void StoreInteger(VARIANT* out, VARTYPE vt, Int128 v) {
  switch (vt) {
    case VT_I1:
      out->cVal = static_cast<CHAR>(static_cast<int8_t>(v));
      break;
    case VT_UI1:
      out->bVal = static_cast<BYTE>(v);
      break;
    case VT_I2:
      out->iVal = static_cast<SHORT>(v);
      break;
    case VT_UI2:
      out->uiVal = static_cast<USHORT>(v);
      break;
    case VT_I4:
      out->lVal = static_cast<LONG>(v);
      break;
    case VT_INT:
      out->intVal = static_cast<INT>(v);
      break;
    case VT_UI4:
      out->ulVal = static_cast<ULONG>(v);
      break;
    case VT_UINT:
      out->uintVal = static_cast<UINT>(v);
      break;
    case VT_I8:
      out->llVal = static_cast<LONGLONG>(v);
      break;
    case VT_UI8:
      out->ullVal = static_cast<ULONGLONG>(v);
      break;
    default:
      break;
  }
  out->vt = vt;
}

Expected<double> ToReal(const Scalar& s) {
  using F = Scalar::Family;
  switch (s.family) {
    case F::kEmpty:
      return 0.0;
    case F::kSigned:
    case F::kUnsigned:
      return static_cast<double>(s.integer);
    case F::kReal:
    case F::kDate:
      return s.real;
    case F::kBool:
      return static_cast<double>(s.boolean);
    case F::kText: {
      ASSIGN_OR_RETURN(const ParsedNumber number, ParseNumber(s.text));
      return NumberToDouble(number);
    }
  }
  return Fail{DISP_E_TYPEMISMATCH};
}

Expected<DATE> ToDate(const Scalar& s) {
  double value = 0;
  if (s.family == Scalar::Family::kText) {
    ASSIGN_OR_RETURN(value, ParseDate(s.text));
  } else {
    ASSIGN_OR_RETURN(value, ToReal(s));
  }
  if (!com::internal::IsDateInRange(value)) return Fail{DISP_E_OVERFLOW};
  return value;
}

Expected<VARIANT_BOOL> ToBool(const Scalar& s) {
  using F = Scalar::Family;
  switch (s.family) {
    case F::kEmpty:
      return VARIANT_FALSE;
    case F::kSigned:
    case F::kUnsigned:
      return s.integer != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    case F::kReal:
    case F::kDate:
      return s.real != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    case F::kBool:
      return s.boolean != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    case F::kText:
      return ParseBool(s.text);
  }
  return Fail{DISP_E_TYPEMISMATCH};
}

Expected<std::u16string> ToText(const Scalar& s, WORD flags) {
  using F = Scalar::Family;
  switch (s.family) {
    case F::kEmpty:
      return std::u16string();
    case F::kSigned:
      return FormatInteger(static_cast<int64_t>(s.integer));
    case F::kUnsigned:
      return FormatInteger(static_cast<uint64_t>(s.integer));
    case F::kReal:
      return s.single ? FormatReal(static_cast<float>(s.real), 7) : FormatReal(s.real, 15);
    case F::kDate:
      return FormatDate(s.real);
    case F::kBool:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) return Widen(s.boolean ? "True" : "False");
      return FormatInteger(static_cast<int>(s.boolean));
    case F::kText:
      return std::u16string(s.text);
  }
  return Fail{DISP_E_TYPEMISMATCH};
}

// Converts a scalar into a target of the scalar families.
HRESULT CoerceScalar(VARIANT* out, const Scalar& s, WORD flags, VARTYPE vt) {
  if (const IntegerType* t = FindIntegerType(vt)) {
    ASSIGN_OR_RETURN(const Int128 v, ToInteger(s, *t));
    StoreInteger(out, vt, v);
    return S_OK;
  }
  switch (vt) {
    case VT_R8: {
      ASSIGN_OR_RETURN(out->dblVal, ToReal(s));
      break;
    }
    case VT_R4: {
      ASSIGN_OR_RETURN(const double d, ToReal(s));
      if (d > std::numeric_limits<float>::max() || d < -std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
      out->fltVal = static_cast<float>(d);
      break;
    }
    case VT_DATE: {
      ASSIGN_OR_RETURN(out->date, ToDate(s));
      break;
    }
    case VT_BOOL: {
      ASSIGN_OR_RETURN(out->boolVal, ToBool(s));
      break;
    }
    case VT_BSTR: {
      ASSIGN_OR_RETURN(const std::u16string text, ToText(s, flags));
      return StoreText(out, text);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
  out->vt = vt;
  return S_OK;
}

bool IsScalarTarget(VARTYPE vt) {
  return FindIntegerType(vt) || vt == VT_R4 || vt == VT_R8 || vt == VT_DATE || vt == VT_BOOL || vt == VT_BSTR;
}

// VARTYPEs OLE knows as conversion sources and targets: VT_EMPTY to VT_DECIMAL except 15,
// VT_I1 to VT_UINT, VT_RECORD; optionally VT_BYREF and VT_ARRAY.
bool IsKnownType(VARTYPE vt) {
  if (vt & ~(VT_TYPEMASK | VT_BYREF | VT_ARRAY)) return false;
  const VARTYPE base = vt & VT_TYPEMASK;
  return base <= VT_DECIMAL || (base >= VT_I1 && base <= VT_UINT) || base == VT_RECORD;
}

HRESULT ChangeType(VARIANT* dest, const VARIANT* src, LCID lcid, WORD flags, VARTYPE vt, int depth);

// The value property of `disp` converted to `vt`.
HRESULT CoerceValueProperty(VARIANT* out, IDispatch* disp, LCID lcid, WORD flags, VARTYPE vt, int depth) {
  if ((flags & VARIANT_NOVALUEPROP) || !disp || depth >= kMaxValueDepth) return DISP_E_TYPEMISMATCH;
  DISPPARAMS no_args{nullptr, nullptr, 0, 0};
  com::Variant value;
  const HRESULT hr =
      disp->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &no_args, value.get(), nullptr, nullptr);
  if (FAILED(hr)) {
    VariantInit(value.get());  // whatever a failing callee left there is not ours to free
    return DISP_E_TYPEMISMATCH;
  }
  return ChangeType(out, &value, lcid, flags, vt, depth + 1);
}

// QueryInterface into `out` as `vt`; a null pointer converts to a null pointer.
HRESULT CoerceInterface(VARIANT* out, IUnknown* from, VARTYPE vt) {
  IUnknown* result = nullptr;
  if (from && FAILED(from->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown,
                                          reinterpret_cast<void**>(&result)))) {
    return DISP_E_TYPEMISMATCH;
  }
  out->vt = vt;
  out->punkVal = result;
  return S_OK;
}

// Converts a by-value `v` into the empty `out`.
HRESULT Coerce(VARIANT* out, const VARIANT& v, LCID lcid, WORD flags, VARTYPE vt, int depth) {
  const VARTYPE from = v.vt;
  if (from == vt) return VariantCopy(out, &v);
  if (vt == VT_EMPTY || vt == VT_NULL) {
    if (from == VT_ERROR || from == VT_NULL) return DISP_E_TYPEMISMATCH;
    out->vt = vt;
    return S_OK;
  }
  switch (from) {
    case VT_DISPATCH:
      if (vt == VT_UNKNOWN) return CoerceInterface(out, v.pdispVal, vt);
      if (IsScalarTarget(vt)) return CoerceValueProperty(out, v.pdispVal, lcid, flags, vt, depth);
      return DISP_E_TYPEMISMATCH;
    case VT_UNKNOWN:
      return vt == VT_DISPATCH ? CoerceInterface(out, v.punkVal, vt) : DISP_E_TYPEMISMATCH;
    default:
      break;
  }
  Scalar s{};
  if (!IsScalarTarget(vt) || !ToScalar(v, &s)) return DISP_E_TYPEMISMATCH;
  return CoerceScalar(out, s, flags, vt);
}

HRESULT ChangeType(VARIANT* dest, const VARIANT* src, LCID lcid, WORD flags, VARTYPE vt, int depth) {
  if (!dest || !src) return E_INVALIDARG;
  if (!IsKnownType(src->vt) || !IsKnownType(vt)) return DISP_E_BADVARTYPE;
  if ((vt & (VT_BYREF | VT_ARRAY)) || (src->vt & VT_ARRAY) || (src->vt & VT_TYPEMASK) == VT_RECORD) {
    return DISP_E_TYPEMISMATCH;
  }
  if ((src->vt & VT_BYREF) && !src->byref) return DISP_E_TYPEMISMATCH;

  // Work on a dereferenced copy, so that in-place calls and failures never damage the source.
  com::Variant value;
  RETURN_IF_FAILED(VariantCopyInd(value.get(), src));
  com::Variant result;
  RETURN_IF_FAILED(Coerce(result.get(), value, lcid, flags, vt, depth));
  RETURN_IF_FAILED(VariantClear(dest));
  result.Detach(dest);
  return S_OK;
}

// Runs a conversion that builds std::strings, turning their allocation failures into the result.
template <class F>
HRESULT Guarded(F f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid, WORD wFlags, VARTYPE vt) {
  return Guarded([&] { return ChangeType(pvargDest, pvarSrc, lcid, wFlags, vt, 0); });
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, WORD wFlags, VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

HRESULT VarBstrFromR8(DOUBLE dblIn, LCID, ULONG, BSTR* pbstrOut) {
  if (!pbstrOut) return E_INVALIDARG;
  return Guarded([&] {
    *pbstrOut = com::AllocBstr(FormatReal(dblIn, 15));
    return *pbstrOut ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT VarBstrFromDate(DATE dateIn, LCID, ULONG, BSTR* pbstrOut) {
  if (!pbstrOut) return E_INVALIDARG;
  return Guarded([&]() -> HRESULT {
    ASSIGN_OR_RETURN(const std::u16string text, FormatDate(dateIn));
    *pbstrOut = com::AllocBstr(text);
    return *pbstrOut ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT VarR8FromStr(const OLECHAR* strIn, LCID, ULONG, DOUBLE* pdblOut) {
  if (!strIn) return DISP_E_TYPEMISMATCH;
  if (!pdblOut) return E_INVALIDARG;
  return Guarded([&]() -> HRESULT {
    ASSIGN_OR_RETURN(const ParsedNumber number, ParseNumber(OleView(strIn)));
    ASSIGN_OR_RETURN(*pdblOut, NumberToDouble(number));
    return S_OK;
  });
}

HRESULT VarDateFromStr(const OLECHAR* strIn, LCID, ULONG, DATE* pdateOut) {
  if (!strIn) return DISP_E_TYPEMISMATCH;
  if (!pdateOut) return E_INVALIDARG;
  return Guarded([&]() -> HRESULT {
    ASSIGN_OR_RETURN(*pdateOut, ParseDate(OleView(strIn)));
    return S_OK;
  });
}

namespace com {

std::string_view RealText(double value, int precision, char (&buffer)[kNumberTextSize]) {
  // The precision is at most 17 significant digits here, so the longest text ("-" digit "."
  // 16 digits "E-308") fits the buffer.
  precision = precision < 1 ? 1 : precision > 17 ? 17 : precision;
  const auto result = std::to_chars(buffer, buffer + kNumberTextSize, value, std::chars_format::general, precision);
  const size_t size = static_cast<size_t>(result.ptr - buffer);
  bool negative_zero = buffer[0] == '-';
  for (size_t i = 0; i < size; ++i) {
    char& c = buffer[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
    if (i > 0 && c != '0' && c != '.') negative_zero = false;
  }
  if (negative_zero) {
    buffer[0] = '0';
    return std::string_view(buffer, 1);
  }
  return std::string_view(buffer, size);
}

std::string_view IntegerText(int64_t value, char (&buffer)[kNumberTextSize]) {
  const auto result = std::to_chars(buffer, buffer + kNumberTextSize, value);
  return std::string_view(buffer, static_cast<size_t>(result.ptr - buffer));
}

}  // namespace com
