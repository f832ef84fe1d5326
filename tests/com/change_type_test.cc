#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/oleauto.h"
#include "platform/com/text.h"
#include "platform/com/variant.h"

namespace {

using com::Variant;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- values for the tables ----------------------------------------------------------------------

Variant Of(VARTYPE vt) {
  Variant v;
  v.vt = vt;
  v.llVal = 0;
  return v;
}
Variant Int(VARTYPE vt, long long value) {
  Variant v = Of(vt);
  switch (vt) {
    case VT_I1:
      v.cVal = static_cast<CHAR>(value);
      break;
    case VT_UI1:
      v.bVal = static_cast<BYTE>(value);
      break;
    case VT_I2:
      v.iVal = static_cast<SHORT>(value);
      break;
    case VT_UI2:
      v.uiVal = static_cast<USHORT>(value);
      break;
    case VT_I4:
      v.lVal = static_cast<LONG>(value);
      break;
    case VT_INT:
      v.intVal = static_cast<INT>(value);
      break;
    case VT_UI4:
      v.ulVal = static_cast<ULONG>(value);
      break;
    case VT_UINT:
      v.uintVal = static_cast<UINT>(value);
      break;
    case VT_I8:
      v.llVal = value;
      break;
    case VT_UI8:
      v.ullVal = static_cast<ULONGLONG>(value);
      break;
    default:
      ADD_FAILURE() << "not an integer type " << vt;
  }
  return v;
}
Variant UI8(ULONGLONG value) {
  Variant v = Of(VT_UI8);
  v.ullVal = value;
  return v;
}
Variant R4(float value) {
  Variant v = Of(VT_R4);
  v.fltVal = value;
  return v;
}
Variant R8(double value) { return Variant::R8(value); }
Variant Date(double value) { return Variant::Date(value); }
Variant Bool(bool value) { return Variant::Bool(value); }
Variant Str(std::u16string_view s) { return Variant::Str(s); }
Variant Error(SCODE scode) {
  Variant v = Of(VT_ERROR);
  v.scode = scode;
  return v;
}
Variant Empty() { return Variant(); }
Variant Null() { return Of(VT_NULL); }

std::string Describe(const VARIANT& v) {
  std::ostringstream out;
  out << "vt " << v.vt << ": ";
  switch (v.vt) {
    case VT_BSTR:
      out << '"' << com::BstrToUtf8(v.bstrVal) << '"';
      break;
    case VT_R8:
      out << std::setprecision(17) << v.dblVal;
      break;
    case VT_DATE:
      out << std::setprecision(17) << v.date;
      break;
    case VT_R4:
      out << std::setprecision(9) << v.fltVal;
      break;
    default:
      out << v.llVal;
      break;
  }
  return out.str();
}

// Same type and value; DATE results from text compare to a tenth of a millisecond.
bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_BSTR:
      return com::BstrView(a.bstrVal) == com::BstrView(b.bstrVal);
    case VT_R8:
      return a.dblVal == b.dblVal;
    case VT_R4:
      return a.fltVal == b.fltVal;
    case VT_DATE:
      return std::fabs(a.date - b.date) < 1e-9;
    case VT_BOOL:
      return a.boolVal == b.boolVal;
    case VT_I1:
    case VT_UI1:
      return a.bVal == b.bVal;
    case VT_I2:
    case VT_UI2:
      return a.uiVal == b.uiVal;
    case VT_I8:
    case VT_UI8:
      return a.ullVal == b.ullVal;
    default:
      return a.ulVal == b.ulVal;
  }
}

struct Case {
  Variant from;
  VARTYPE to;
  Variant expected;  // used when hr is S_OK
  HRESULT hr = S_OK;
  WORD flags = 0;
};

Case Ok(Variant from, VARTYPE to, Variant expected, WORD flags = 0) { return {from, to, expected, S_OK, flags}; }
Case Err(Variant from, VARTYPE to, HRESULT hr) { return {from, to, Empty(), hr}; }

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << Describe(c.from) << " -> vt " << c.to << " flags " << c.flags);
    Variant out;
    const HRESULT hr = VariantChangeType(&out, &c.from, c.flags, c.to);
    ASSERT_EQ(hr, c.hr);
    if (hr == S_OK) {
      EXPECT_TRUE(SameValue(out, c.expected)) << "got " << Describe(out) << ", expected " << Describe(c.expected);
    } else {
      EXPECT_EQ(out.vt, VT_EMPTY);
    }
  }
}

// ---- rule families ------------------------------------------------------------------------------

TEST(ChangeTypeTest, RealToIntegerRoundsHalfToEven) {
  RunCases({
      Ok(R8(2.5), VT_I4, Int(VT_I4, 2)),
      Ok(R8(3.5), VT_I4, Int(VT_I4, 4)),
      Ok(R8(-2.5), VT_I4, Int(VT_I4, -2)),
      Ok(R8(-1.5), VT_I4, Int(VT_I4, -2)),
      Ok(R8(0.5), VT_I4, Int(VT_I4, 0)),
      Ok(R8(-0.5), VT_I4, Int(VT_I4, 0)),
      Ok(R8(0.6), VT_I4, Int(VT_I4, 1)),
      Ok(R4(2.5f), VT_I2, Int(VT_I2, 2)),
      Ok(Date(1.5), VT_I2, Int(VT_I2, 2)),
      Ok(R8(1.5), VT_I1, Int(VT_I1, 2)),
      Ok(R8(-0.5), VT_UI1, Int(VT_UI1, 0)),
      Err(R8(-0.6), VT_UI1, DISP_E_OVERFLOW),
      Ok(R8(32767.49), VT_I2, Int(VT_I2, 32767)),
      Err(R8(32767.5), VT_I2, DISP_E_OVERFLOW),
      Err(R8(32768.0), VT_I2, DISP_E_OVERFLOW),
      Ok(R8(-32768.5), VT_I2, Int(VT_I2, -32768)),
      Err(R8(-32768.51), VT_I2, DISP_E_OVERFLOW),
      Ok(R8(2147483647.49), VT_I4, Int(VT_I4, 2147483647)),
      Err(R8(2147483647.5), VT_I4, DISP_E_OVERFLOW),
      Ok(R8(-2147483648.5), VT_I4, Int(VT_I4, -2147483648LL)),
      Err(R8(255.5), VT_UI1, DISP_E_OVERFLOW),
      Ok(R8(4294967295.49), VT_UI4, Int(VT_UI4, 4294967295LL)),
      Err(R8(9223372036854775808.0), VT_I8, DISP_E_OVERFLOW),
      Ok(R8(-9223372036854775808.0), VT_I8, Int(VT_I8, std::numeric_limits<long long>::min())),
      Ok(R8(1.8e19), VT_UI8, UI8(18000000000000000000ull)),
      Err(R8(1e300), VT_I8, DISP_E_OVERFLOW),
      Err(R8(kNaN), VT_I4, DISP_E_OVERFLOW),
  });
}

TEST(ChangeTypeTest, IntegerToIntegerChecksRange) {
  RunCases({
      Ok(Int(VT_I4, 32767), VT_I2, Int(VT_I2, 32767)),
      Err(Int(VT_I4, 32768), VT_I2, DISP_E_OVERFLOW),
      Err(Int(VT_I4, -129), VT_I1, DISP_E_OVERFLOW),
      Ok(Int(VT_I2, 255), VT_UI1, Int(VT_UI1, 255)),
      Err(Int(VT_I4, 256), VT_UI1, DISP_E_OVERFLOW),
      Err(Int(VT_I4, -1), VT_UI4, DISP_E_OVERFLOW),
      Err(Int(VT_UI4, 4294967295LL), VT_I4, DISP_E_OVERFLOW),
      Err(Int(VT_UINT, 4294967295LL), VT_I4, DISP_E_OVERFLOW),  // OLE copies the bits here
      Ok(Int(VT_I8, 4294967295LL), VT_UI4, Int(VT_UI4, 4294967295LL)),
      Err(UI8(1ull << 63), VT_I8, DISP_E_OVERFLOW),
      Ok(Int(VT_INT, 5), VT_I4, Int(VT_I4, 5)),
      Ok(Int(VT_UINT, 7), VT_UI8, UI8(7)),
      Ok(Int(VT_I4, -5), VT_R8, R8(-5)),
      Ok(Int(VT_I4, 16777217), VT_R4, R4(16777216.0f)),
      Ok(UI8(~0ull), VT_R8, R8(18446744073709551616.0)),
  });
}

TEST(ChangeTypeTest, Booleans) {
  RunCases({
      Ok(Bool(true), VT_I2, Int(VT_I2, -1)),
      Ok(Bool(true), VT_I4, Int(VT_I4, -1)),
      Ok(Bool(true), VT_UI1, Int(VT_UI1, 255)),  // the bits of -1, as in OLE
      Ok(Bool(true), VT_UI2, Int(VT_UI2, 65535)),
      Ok(Bool(true), VT_UI4, Int(VT_UI4, 4294967295LL)),
      Ok(Bool(false), VT_I4, Int(VT_I4, 0)),
      Ok(Bool(true), VT_R8, R8(-1)),
      Ok(Bool(true), VT_DATE, Date(-1)),
      Ok(Int(VT_I4, 5), VT_BOOL, Bool(true)),
      Ok(Int(VT_I4, 0), VT_BOOL, Bool(false)),
      Ok(R8(0.4), VT_BOOL, Bool(true)),
      Ok(R8(-0.0), VT_BOOL, Bool(false)),
      Ok(R8(kNaN), VT_BOOL, Bool(true)),
      Ok(Date(0), VT_BOOL, Bool(false)),
      Ok(Bool(true), VT_BSTR, Str(u"-1")),
      Ok(Bool(false), VT_BSTR, Str(u"0")),
      Ok(Bool(true), VT_BSTR, Str(u"True"), VARIANT_ALPHABOOL),
      Ok(Bool(false), VT_BSTR, Str(u"False"), VARIANT_ALPHABOOL),
      Ok(Bool(false), VT_BSTR, Str(u"False"), VARIANT_LOCALBOOL),
      Ok(Str(u"True"), VT_BOOL, Bool(true)),
      Ok(Str(u"tRUE"), VT_BOOL, Bool(true)),
      Ok(Str(u"false"), VT_BOOL, Bool(false)),
      Ok(Str(u"#TRUE#"), VT_BOOL, Bool(true)),
      Ok(Str(u"#FALSE#"), VT_BOOL, Bool(false)),
      Err(Str(u"#True#"), VT_BOOL, DISP_E_TYPEMISMATCH),
      Ok(Str(u"0"), VT_BOOL, Bool(false)),
      Ok(Str(u"-1"), VT_BOOL, Bool(true)),
      Ok(Str(u" +1 "), VT_BOOL, Bool(true)),
      Ok(Str(u"0.1"), VT_BOOL, Bool(true)),
      Err(Str(u"yes"), VT_BOOL, DISP_E_TYPEMISMATCH),
      Err(Str(u""), VT_BOOL, DISP_E_TYPEMISMATCH),
  });
  // The value of VT_BOOL is copied as it is, even when it is neither -1 nor 0.
  Variant odd = Of(VT_BOOL);
  odd.boolVal = 1;
  RunCases({Ok(odd, VT_BOOL, odd), Ok(odd, VT_BSTR, Str(u"1")), Ok(odd, VT_I4, Int(VT_I4, 1))});
}

TEST(ChangeTypeTest, TextToNumber) {
  RunCases({
      Ok(Str(u" 42 "), VT_I4, Int(VT_I4, 42)),
      Ok(Str(u"\t-7\n"), VT_I2, Int(VT_I2, -7)),
      Ok(Str(u"1e3"), VT_I4, Int(VT_I4, 1000)),
      Ok(Str(u"2.5"), VT_I4, Int(VT_I4, 2)),
      Ok(Str(u"3.5"), VT_I4, Int(VT_I4, 4)),
      Ok(Str(u"-1.5"), VT_I4, Int(VT_I4, -2)),
      Ok(Str(u"0.5"), VT_I4, Int(VT_I4, 0)),
      Ok(Str(u"2.50000000000000000001"), VT_I4, Int(VT_I4, 3)),
      Ok(Str(u"1,000"), VT_I4, Int(VT_I4, 1000)),
      Ok(Str(u"1,5"), VT_R8, R8(15)),  // "," groups digits, it is never a decimal point
      Ok(Str(u"$5"), VT_I4, Int(VT_I4, 5)),
      Ok(Str(u"(5)"), VT_I4, Int(VT_I4, -5)),
      Ok(Str(u"5-"), VT_I4, Int(VT_I4, -5)),
      Ok(Str(u"&H10"), VT_I4, Int(VT_I4, 16)),
      Ok(Str(u"&hFFFF"), VT_I2, Int(VT_I2, -1)),  // a bit pattern for signed types
      Ok(Str(u"&HFFFF"), VT_I4, Int(VT_I4, 65535)),
      Ok(Str(u"&H8000"), VT_UI2, Int(VT_UI2, 32768)),
      Err(Str(u"&H10000"), VT_I2, DISP_E_OVERFLOW),
      Ok(Str(u"&O17"), VT_I4, Int(VT_I4, 15)),
      Ok(Str(u"&HFF"), VT_R8, R8(255)),
      Err(Str(u"&H"), VT_I4, DISP_E_TYPEMISMATCH),
      Err(Str(u"&HFFFFFFFFFFFFFFFFF"), VT_R8, DISP_E_OVERFLOW),
      Err(Str(u"32768"), VT_I2, DISP_E_OVERFLOW),
      Err(Str(u"-32769"), VT_I2, DISP_E_OVERFLOW),
      Ok(Str(u"18446744073709551615"), VT_UI8, UI8(~0ull)),
      Err(Str(u"18446744073709551616"), VT_UI8, DISP_E_OVERFLOW),
      Err(Str(u"1e30"), VT_I8, DISP_E_OVERFLOW),
      Ok(Str(u"-0.5"), VT_UI1, Int(VT_UI1, 0)),
      Err(Str(u"-0.6"), VT_UI1, DISP_E_OVERFLOW),
      Ok(Str(u"1.5e-7"), VT_R8, R8(1.5e-7)),
      Ok(Str(u".5"), VT_R8, R8(0.5)),
      Ok(Str(u"1."), VT_R8, R8(1)),
      Ok(Str(u"-0"), VT_R8, R8(0)),
      Ok(Str(u"0.1"), VT_R8, R8(0.1)),
      Ok(Str(u"123456789012345678901234567890"), VT_R8, R8(1.2345678901234568e29)),
      Err(Str(u"1e400"), VT_R8, DISP_E_OVERFLOW),
      Err(Str(u"1.79769313486232E+308"), VT_R8, DISP_E_OVERFLOW),  // the largest double, rounded up
      Ok(Str(u"1e-400"), VT_R8, R8(0)),
      Ok(Str(u"0.1"), VT_R4, R4(0.1f)),
      Err(Str(u"3.5e38"), VT_R4, DISP_E_OVERFLOW),
      Err(Str(u"abc"), VT_I4, DISP_E_TYPEMISMATCH),
      Err(Str(u"12abc"), VT_I4, DISP_E_TYPEMISMATCH),
      Err(Str(u""), VT_R8, DISP_E_TYPEMISMATCH),
      Err(Str(u" "), VT_R8, DISP_E_TYPEMISMATCH),
      Err(Str(u"."), VT_R8, DISP_E_TYPEMISMATCH),
      Err(Str(u"1..1"), VT_R8, DISP_E_TYPEMISMATCH),
      Err(Str(u"1.2.3"), VT_R8, DISP_E_TYPEMISMATCH),
      Err(Str(u",1"), VT_R8, DISP_E_TYPEMISMATCH),
      Err(Str(u"+ +1"), VT_R8, DISP_E_TYPEMISMATCH),
      Err(Str(u"(5"), VT_R8, DISP_E_TYPEMISMATCH),
      Err(Str(u"1 2"), VT_R8, DISP_E_TYPEMISMATCH),
      Err(Str(u"1e"), VT_R8, DISP_E_TYPEMISMATCH),
      Err(Str(std::u16string_view(u"12\0", 3)), VT_I4, DISP_E_TYPEMISMATCH),
      Err(Variant(Of(VT_BSTR)), VT_I4, DISP_E_TYPEMISMATCH),  // a null BSTR is an empty text
  });
}

TEST(ChangeTypeTest, NumberToText) {
  RunCases({
      Ok(R8(0.1), VT_BSTR, Str(u"0.1")),
      Ok(R8(2.5), VT_BSTR, Str(u"2.5")),
      Ok(R8(-0.5), VT_BSTR, Str(u"-0.5")),
      Ok(R8(100), VT_BSTR, Str(u"100")),
      Ok(R8(1e20), VT_BSTR, Str(u"1E+20")),
      Ok(R8(1.5e-7), VT_BSTR, Str(u"1.5E-07")),
      Ok(R8(123456789012345.0), VT_BSTR, Str(u"123456789012345")),
      Ok(R8(1234567890123456.0), VT_BSTR, Str(u"1.23456789012346E+15")),
      Ok(R8(1.0 / 3), VT_BSTR, Str(u"0.333333333333333")),
      Ok(R8(2.0 / 3), VT_BSTR, Str(u"0.666666666666667")),
      Ok(R8(1e300), VT_BSTR, Str(u"1E+300")),
      Ok(R8(-1e-300), VT_BSTR, Str(u"-1E-300")),
      Ok(R8(0.0001), VT_BSTR, Str(u"0.0001")),
      Ok(R8(0.00001), VT_BSTR, Str(u"1E-05")),
      Ok(R8(-0.0), VT_BSTR, Str(u"0")),
      Ok(R4(0.1f), VT_BSTR, Str(u"0.1")),
      Ok(R4(1.0f / 3), VT_BSTR, Str(u"0.3333333")),
      Ok(R4(16777216.0f), VT_BSTR, Str(u"1.677722E+07")),
      Ok(Int(VT_I4, -42), VT_BSTR, Str(u"-42")),
      Ok(Int(VT_I1, -5), VT_BSTR, Str(u"-5")),
      Ok(UI8(~0ull), VT_BSTR, Str(u"18446744073709551615")),
      Ok(Int(VT_I8, std::numeric_limits<long long>::min()), VT_BSTR, Str(u"-9223372036854775808")),
  });
}

TEST(ChangeTypeTest, DatesAndText) {
  RunCases({
      Ok(Date(0.0), VT_BSTR, Str(u"12:00:00 AM")),
      Ok(Date(0.5), VT_BSTR, Str(u"12:00:00 PM")),
      Ok(Date(-0.5), VT_BSTR, Str(u"12:00:00 PM")),
      Ok(Date(3.34), VT_BSTR, Str(u"1/2/1900 8:09:36 AM")),
      Ok(Date(365.0), VT_BSTR, Str(u"12/30/1900")),
      Ok(Date(365.25), VT_BSTR, Str(u"12/30/1900 6:00:00 AM")),
      Ok(Date(1461.5), VT_BSTR, Str(u"12/31/1903 12:00:00 PM")),
      Ok(Date(25570.0), VT_BSTR, Str(u"1/2/1970")),
      Ok(Date(-1.25), VT_BSTR, Str(u"12/29/1899 6:00:00 AM")),
      Ok(Date(-657434.0), VT_BSTR, Str(u"1/1/100")),
      Ok(Date(2958465.0), VT_BSTR, Str(u"12/31/9999")),
      Ok(Date(45382.0 + 86399.6 / 86400), VT_BSTR, Str(u"4/1/2024")),  // rounds into the next day
      Err(Date(1e7), VT_BSTR, E_INVALIDARG),
      Ok(Str(u"1/2/1970"), VT_DATE, Date(25570.0)),
      Ok(Str(u" 1/2/70 "), VT_DATE, Date(25570.0)),
      Ok(Str(u"1/2/49"), VT_DATE, Date(54425.0)),  // two-digit years: 00-49 are 20xx, 50-99 are 19xx
      Ok(Str(u"1/2/50"), VT_DATE, Date(18265.0)),
      Ok(Str(u"1970-01-02"), VT_DATE, Date(25570.0)),
      Ok(Str(u"1970-01-02 06:00:00"), VT_DATE, Date(25570.25)),
      Ok(Str(u"1970-01-02T18:00"), VT_DATE, Date(25570.75)),
      Ok(Str(u"06:00:00"), VT_DATE, Date(0.25)),
      Ok(Str(u"6:00 PM"), VT_DATE, Date(0.75)),
      Ok(Str(u"12:00 AM"), VT_DATE, Date(0.0)),
      Ok(Str(u"12:30 pm"), VT_DATE, Date(0.5 + 1.0 / 48)),
      Ok(Str(u"0:00 p"), VT_DATE, Date(0.5)),
      Ok(Str(u"13:00 AM"), VT_DATE, Date(13.0 / 24)),
      Ok(Str(u"1/2/1900 8:09:36 AM"), VT_DATE, Date(3.34)),
      Ok(Str(u"12/29/1899 6:00:00 AM"), VT_DATE, Date(-1.25)),
      Ok(Str(u"2000-02-29"), VT_DATE, Date(36585.0)),
      Ok(Str(u"1/1/100"), VT_DATE, Date(-657434.0)),
      Ok(Str(u"12/31/9999 11:59:59 PM"), VT_DATE, Date(2958465.0 + 86399.0 / 86400)),
      Err(Str(u"1900-02-29"), VT_DATE, DISP_E_TYPEMISMATCH),
      Err(Str(u"2/30/2000"), VT_DATE, DISP_E_TYPEMISMATCH),
      Err(Str(u"13/1/2000"), VT_DATE, DISP_E_TYPEMISMATCH),
      Err(Str(u"1/2/1970 25:00"), VT_DATE, DISP_E_TYPEMISMATCH),
      Err(Str(u"1/2/1970 10:60"), VT_DATE, DISP_E_TYPEMISMATCH),
      Err(Str(u"70-01-02"), VT_DATE, DISP_E_TYPEMISMATCH),
      Err(Str(u"0050-01-01"), VT_DATE, DISP_E_OVERFLOW),
      Err(Str(u"0.0"), VT_DATE, DISP_E_TYPEMISMATCH),
      Err(Str(u"1"), VT_DATE, DISP_E_TYPEMISMATCH),
      Err(Str(u"True"), VT_DATE, DISP_E_TYPEMISMATCH),
      Err(Str(u"1/2/1970 x"), VT_DATE, DISP_E_TYPEMISMATCH),
      Err(Str(u""), VT_DATE, DISP_E_TYPEMISMATCH),
  });
}

TEST(ChangeTypeTest, DateAndNumberRange) {
  RunCases({
      Ok(Date(2.5), VT_R8, R8(2.5)),
      Ok(R8(-1.25), VT_DATE, Date(-1.25)),
      Ok(R8(2958465.9), VT_DATE, Date(2958465.9)),
      Err(R8(2958466.0), VT_DATE, DISP_E_OVERFLOW),
      Ok(R8(-657434.5), VT_DATE, Date(-657434.5)),
      Err(R8(-657435.0), VT_DATE, DISP_E_OVERFLOW),
      Err(R8(kNaN), VT_DATE, DISP_E_OVERFLOW),
      Ok(Int(VT_I4, -657434), VT_DATE, Date(-657434.0)),
      Err(Int(VT_I4, 2958466), VT_DATE, DISP_E_OVERFLOW),
      Ok(Date(45382.75), VT_I4, Int(VT_I4, 45383)),
  });
}

TEST(ChangeTypeTest, EmptyNullAndError) {
  RunCases({
      Ok(Empty(), VT_I4, Int(VT_I4, 0)),
      Ok(Empty(), VT_UI8, UI8(0)),
      Ok(Empty(), VT_R8, R8(0)),
      Ok(Empty(), VT_DATE, Date(0)),
      Ok(Empty(), VT_BOOL, Bool(false)),
      Ok(Empty(), VT_BSTR, Str(u"")),
      Ok(Empty(), VT_NULL, Null()),
      Ok(Empty(), VT_EMPTY, Empty()),
      Err(Empty(), VT_DISPATCH, DISP_E_TYPEMISMATCH),
      Err(Empty(), VT_UNKNOWN, DISP_E_TYPEMISMATCH),
      Err(Empty(), VT_ERROR, DISP_E_TYPEMISMATCH),
      Ok(Null(), VT_NULL, Null()),
      Err(Null(), VT_EMPTY, DISP_E_TYPEMISMATCH),
      Err(Null(), VT_I4, DISP_E_TYPEMISMATCH),
      Err(Null(), VT_BSTR, DISP_E_TYPEMISMATCH),
      Err(Null(), VT_BOOL, DISP_E_TYPEMISMATCH),
      Ok(Error(DISP_E_PARAMNOTFOUND), VT_ERROR, Error(DISP_E_PARAMNOTFOUND)),
      Err(Error(1), VT_I4, DISP_E_TYPEMISMATCH),
      Err(Error(1), VT_EMPTY, DISP_E_TYPEMISMATCH),
      Err(Error(1), VT_BSTR, DISP_E_TYPEMISMATCH),
      Ok(Int(VT_I4, 1), VT_EMPTY, Empty()),
      Ok(Str(u"x"), VT_NULL, Null()),
      Err(Int(VT_I4, 1), VT_ERROR, DISP_E_TYPEMISMATCH),
      Err(Int(VT_I4, 1), VT_DISPATCH, DISP_E_TYPEMISMATCH),
      Err(Int(VT_I4, 1), VT_UNKNOWN, DISP_E_TYPEMISMATCH),
      Err(Int(VT_I4, 1), VT_VARIANT, DISP_E_TYPEMISMATCH),
      Err(Str(u"x"), VT_DISPATCH, DISP_E_TYPEMISMATCH),
      Err(Int(VT_I4, 1), VT_CY, DISP_E_TYPEMISMATCH),  // no currency conversions in this runtime
  });
}

TEST(ChangeTypeTest, UnknownTypes) {
  RunCases({
      Err(Int(VT_I4, 1), VT_VOID, DISP_E_BADVARTYPE),
      Err(Int(VT_I4, 1), 15, DISP_E_BADVARTYPE),
      Err(Int(VT_I4, 1), VT_LPWSTR, DISP_E_BADVARTYPE),
      Err(Int(VT_I4, 1), 0x3847, DISP_E_BADVARTYPE),
      Err(Int(VT_I4, 1), VT_I4 | VT_BYREF, DISP_E_TYPEMISMATCH),
      Err(Int(VT_I4, 1), VT_I4 | VT_ARRAY, DISP_E_TYPEMISMATCH),
  });
  // Sources of unknown types (raw VARIANTs: a Variant cannot even be copied from them).
  for (VARTYPE vt : {VARTYPE{15}, VARTYPE{VT_HRESULT}, VARTYPE{VT_I4 | 0x1000}}) {
    VARIANT src;
    std::memset(&src, 0, sizeof src);
    src.vt = vt;
    Variant out;
    EXPECT_EQ(VariantChangeType(&out, &src, 0, VT_I4), DISP_E_BADVARTYPE) << vt;
  }
}

// ---- destination handling -----------------------------------------------------------------------

TEST(ChangeTypeTest, InPlaceConversion) {
  Variant v = Str(u"42");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);  // the string is freed (leak checker)
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 42);
  ASSERT_EQ(v.ChangeType(VT_BSTR), S_OK);
  EXPECT_EQ(com::BstrView(v.bstrVal), u"42");
}

TEST(ChangeTypeTest, FailureLeavesDestinationUnchanged) {
  Variant src = Str(u"test");
  const BSTR original = src.bstrVal;
  EXPECT_EQ(VariantChangeType(&src, &src, 0, VT_INT), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(src.vt, VT_BSTR);
  EXPECT_EQ(src.bstrVal, original);

  Variant dst = Int(VT_INT, 4);
  EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_INT), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(dst.vt, VT_INT);
  EXPECT_EQ(dst.intVal, 4);

  // A destination that cannot be cleared fails a conversion that would succeed.
  VARIANT bad;
  std::memset(&bad, 0, sizeof bad);
  bad.vt = 0xFF;
  EXPECT_EQ(VariantChangeType(&bad, &src, 0, VT_BSTR), DISP_E_BADVARTYPE);
  EXPECT_EQ(bad.vt, 0xFF);
}

TEST(ChangeTypeTest, ByReferenceSources) {
  LONG i4 = 7;
  Variant ref;
  ref.vt = VT_I4 | VT_BYREF;
  ref.plVal = &i4;
  Variant out;
  ASSERT_EQ(VariantChangeType(&out, &ref, 0, VT_BSTR), S_OK);
  EXPECT_EQ(com::BstrView(out.bstrVal), u"7");

  Variant inner = R8(2.5);
  Variant vref;
  vref.vt = VT_VARIANT | VT_BYREF;
  vref.pvarVal = &inner;
  ASSERT_EQ(VariantChangeType(&out, &vref, 0, VT_I2), S_OK);
  EXPECT_EQ(out.vt, VT_I2);
  EXPECT_EQ(out.iVal, 2);
  ASSERT_EQ(VariantChangeType(&vref, &vref, 0, VT_BSTR), S_OK);  // in place: the reference is replaced
  EXPECT_EQ(com::BstrView(vref.bstrVal), u"2.5");
  EXPECT_EQ(inner.dblVal, 2.5);

  Variant dangling;
  dangling.vt = VT_VARIANT | VT_BYREF;
  dangling.byref = nullptr;
  out = Int(VT_I4, 123);
  EXPECT_EQ(VariantChangeType(&out, &dangling, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &dangling, 0, VT_VARIANT), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(out.lVal, 123);
  dangling.vt = VT_EMPTY;
}

// Number texts never depend on the process locale, even one with a comma as decimal separator.
TEST(ChangeTypeTest, ProcessLocaleDoesNotMatter) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  RunCases({
      Ok(R8(0.5), VT_BSTR, Str(u"0.5")),
      Ok(R8(1234.25), VT_BSTR, Str(u"1234.25")),
      Ok(Str(u"0.5"), VT_R8, R8(0.5)),
      Ok(Str(u"1,5"), VT_R8, R8(15)),
  });
  BSTR b = nullptr;
  EXPECT_EQ(VarBstrFromR8(-2.75, LOCALE_USER_DEFAULT, 0, &b), S_OK);
  EXPECT_EQ(com::BstrView(b), u"-2.75");
  SysFreeString(b);
  std::setlocale(LC_ALL, saved.c_str());
}

// ---- the exported text conversions --------------------------------------------------------------

TEST(ChangeTypeTest, TextFunctions) {
  DOUBLE d = -1;
  EXPECT_EQ(VarR8FromStr(u" 1.25E+2 ", LOCALE_USER_DEFAULT, 0, &d), S_OK);
  EXPECT_EQ(d, 125.0);
  EXPECT_EQ(VarR8FromStr(nullptr, LOCALE_USER_DEFAULT, 0, &d), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VarR8FromStr(u"1", LOCALE_USER_DEFAULT, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(VarR8FromStr(u"x", LOCALE_USER_DEFAULT, 0, &d), DISP_E_TYPEMISMATCH);

  DATE date = -1;
  EXPECT_EQ(VarDateFromStr(u"2024-03-31 23:00:00", LOCALE_USER_DEFAULT, 0, &date), S_OK);
  EXPECT_NEAR(date, 45382.0 + 23.0 / 24, 1e-9);
  EXPECT_EQ(VarDateFromStr(nullptr, LOCALE_USER_DEFAULT, 0, &date), DISP_E_TYPEMISMATCH);

  BSTR b = nullptr;
  EXPECT_EQ(VarBstrFromR8(1.0, LOCALE_USER_DEFAULT, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(VarBstrFromDate(1e9, LOCALE_USER_DEFAULT, 0, &b), E_INVALIDARG);
  EXPECT_EQ(VarBstrFromDate(45382.5, LOCALE_USER_DEFAULT, 0, &b), S_OK);
  EXPECT_EQ(com::BstrView(b), u"3/31/2024 12:00:00 PM");
  SysFreeString(b);
}

TEST(ChangeTypeTest, DateTextRoundTrips) {
  for (double date : {0.0, 0.25, -1.25, -0.75, 3.34, 25570.0, 36585.999988425926, -657434.0, 2958465.0,
                      2958465.0 + 86399.0 / 86400, -109512.5}) {
    BSTR text = nullptr;
    ASSERT_EQ(VarBstrFromDate(date, LOCALE_USER_DEFAULT, 0, &text), S_OK);
    DATE back = 0;
    ASSERT_EQ(VarDateFromStr(text, LOCALE_USER_DEFAULT, 0, &back), S_OK) << com::BstrToUtf8(text);
    // -0.75 reads back as 0.75: both are 18:00 on day 0.
    EXPECT_NEAR(back, date > -1 && date < 0 ? -date : date, 1e-9) << com::BstrToUtf8(text);
    SysFreeString(text);
  }
}

TEST(ChangeTypeTest, RealTextRoundTripsTo15Digits) {
  for (double value : {0.1, 1.0 / 3, 2.0 / 3, 1e20, 1.5e-7, -123.456, 9007199254740993.0, 1e-300, 1.7e308}) {
    BSTR text = nullptr;
    ASSERT_EQ(VarBstrFromR8(value, LOCALE_USER_DEFAULT, 0, &text), S_OK);
    DOUBLE back = 0;
    ASSERT_EQ(VarR8FromStr(text, LOCALE_USER_DEFAULT, 0, &back), S_OK) << com::BstrToUtf8(text);
    EXPECT_NEAR(back, value, std::fabs(value) * 1e-14) << com::BstrToUtf8(text);
    SysFreeString(text);
  }
}

// The number texts writers take without a VARIANT are the conversion's texts, byte for byte, and
// C's "%.15G" / "%.7G" (with no negative zero) for every finite value.
TEST(ChangeTypeTest, NumberTextsAreTheConversionsTexts) {
  const double reals[] = {0,
                          -0.0,
                          1,
                          -1,
                          42,
                          -42,
                          0.1,
                          -0.1,
                          0.5,
                          1.0 / 3,
                          -2.0 / 3,
                          100,
                          1e15,
                          1e16,
                          123456789012345.0,
                          1234567890123456.0,
                          1e21,
                          -1e21,
                          1e-7,
                          1.5e-7,
                          1e-5,
                          0.0001,
                          1e300,
                          -1e-300,
                          1.7976931348623157e308,
                          2.2250738585072014e-308,
                          4.9e-324,
                          3600.5,
                          1800.25,
                          9.999999999999995e14,
                          0.30000000000000004,
                          1e100,
                          1e-100,
                          -7.25e-12};
  const auto oracle = [](double value, int precision) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*G", precision, value);
    return std::string(text) == "-0" ? std::string("0") : std::string(text);
  };
  for (const double value : reals) {
    char buffer[com::kNumberTextSize];
    Variant r8 = R8(value);
    ASSERT_EQ(r8.ChangeType(VT_BSTR), S_OK);
    EXPECT_EQ(std::string(com::RealText(value, 15, buffer)), com::BstrToUtf8(r8.bstrVal)) << value;
    EXPECT_EQ(std::string(com::RealText(value, 15, buffer)), oracle(value, 15)) << value;
    const float single = static_cast<float>(value);
    Variant r4 = R4(single);
    ASSERT_EQ(r4.ChangeType(VT_BSTR), S_OK);
    EXPECT_EQ(std::string(com::RealText(single, 7, buffer)), com::BstrToUtf8(r4.bstrVal)) << value;
    if (std::isfinite(single)) {
      EXPECT_EQ(std::string(com::RealText(single, 7, buffer)), oracle(single, 7)) << value;
    }
  }
  // Values that are not numbers: whatever the conversion writes, the same.
  for (const double value : {kNaN, std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
    char buffer[com::kNumberTextSize];
    Variant r8 = R8(value);
    ASSERT_EQ(r8.ChangeType(VT_BSTR), S_OK);
    EXPECT_EQ(std::string(com::RealText(value, 15, buffer)), com::BstrToUtf8(r8.bstrVal)) << value;
  }
  for (const long long value : {0LL, 1LL, -1LL, 2147483647LL, -2147483648LL, std::numeric_limits<long long>::min(),
                                std::numeric_limits<long long>::max()}) {
    char buffer[com::kNumberTextSize];
    Variant i8 = Int(VT_I8, value);
    ASSERT_EQ(i8.ChangeType(VT_BSTR), S_OK);
    EXPECT_EQ(std::string(com::IntegerText(value, buffer)), com::BstrToUtf8(i8.bstrVal)) << value;
  }
}

// ---- interfaces ---------------------------------------------------------------------------------

// An IDispatch whose value property is `value`; it counts references and value reads, and can
// refuse IDispatch in QueryInterface to act as a plain IUnknown.
struct ValueObject : IDispatch {
  ULONG refs = 1;
  int reads = 0;
  bool is_dispatch = true;
  HRESULT invoke_result = S_OK;
  Variant value;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid != IID_IUnknown && !(is_dispatch && riid == IID_IDispatch)) return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* arg_err) override {
    ++reads;
    EXPECT_EQ(id, DISPID_VALUE);
    EXPECT_EQ(riid, IID_NULL);
    EXPECT_EQ(flags, DISPATCH_PROPERTYGET);
    EXPECT_EQ(params->cArgs, 0u);
    EXPECT_EQ(params->cNamedArgs, 0u);
    EXPECT_EQ(excep, nullptr);
    EXPECT_EQ(arg_err, nullptr);
    EXPECT_EQ(result->vt, VT_EMPTY);
    if (FAILED(invoke_result)) return invoke_result;
    return VariantCopy(result, &value);
  }
};

TEST(ChangeTypeTest, UnknownAndDispatchConvertThroughQueryInterface) {
  ValueObject obj;  // holds one reference of its own
  Variant v = Variant::Unknown(&obj);
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(v.vt, VT_DISPATCH);
  EXPECT_EQ(v.pdispVal, static_cast<IDispatch*>(&obj));
  EXPECT_EQ(obj.refs, 2u);

  Variant unk;
  ASSERT_EQ(VariantChangeType(&unk, &v, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(unk.vt, VT_UNKNOWN);
  EXPECT_EQ(obj.refs, 3u);
  unk = Variant();
  EXPECT_EQ(obj.refs, 2u);

  obj.is_dispatch = false;
  v = Variant::Unknown(&obj);
  EXPECT_EQ(VariantChangeType(&unk, &v, 0, VT_DISPATCH), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&unk, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&unk, &v, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(&unk, &v, 0, VT_EMPTY), S_OK);
  v = Variant();
  EXPECT_EQ(obj.refs, 1u);
  EXPECT_EQ(obj.reads, 0);

  Variant null_unknown = Variant::Unknown(nullptr);
  ASSERT_EQ(VariantChangeType(&unk, &null_unknown, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(unk.vt, VT_DISPATCH);
  EXPECT_EQ(unk.pdispVal, nullptr);
  ASSERT_EQ(unk.ChangeType(VT_UNKNOWN), S_OK);
  EXPECT_EQ(unk.vt, VT_UNKNOWN);
  EXPECT_EQ(unk.punkVal, nullptr);
}

TEST(ChangeTypeTest, DispatchToScalarReadsTheValueProperty) {
  ValueObject obj;
  Variant disp = Variant::Dispatch(&obj);
  obj.value = Str(u"42");
  RunCases({
      Ok(disp, VT_I4, Int(VT_I4, 42)),
      Ok(disp, VT_R8, R8(42)),
      Ok(disp, VT_BSTR, Str(u"42")),
      Ok(disp, VT_BOOL, Bool(true)),
  });
  EXPECT_EQ(obj.reads, 4);

  Variant out;
  EXPECT_EQ(VariantChangeType(&out, &disp, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(obj.reads, 4);

  obj.value = Str(u"99999");
  EXPECT_EQ(VariantChangeType(&out, &disp, 0, VT_I2), DISP_E_OVERFLOW);
  obj.invoke_result = DISP_E_MEMBERNOTFOUND;
  EXPECT_EQ(VariantChangeType(&out, &disp, 0, VT_I4), DISP_E_TYPEMISMATCH);
  obj.invoke_result = S_OK;

  // An object whose value is itself is followed a bounded number of times.
  obj.value = Variant::Dispatch(&obj);
  EXPECT_EQ(VariantChangeType(&out, &disp, 0, VT_I4), DISP_E_TYPEMISMATCH);
  obj.value = Variant();
  EXPECT_EQ(out.vt, VT_EMPTY);

  ASSERT_EQ(VariantChangeType(&disp, &disp, 0, VT_I4), S_OK);  // in place: the object is released
  EXPECT_EQ(disp.lVal, 0);
  EXPECT_EQ(obj.refs, 1u);

  Variant null_dispatch = Variant::Dispatch(nullptr);
  EXPECT_EQ(VariantChangeType(&out, &null_dispatch, 0, VT_I4), DISP_E_TYPEMISMATCH);
}

}  // namespace
