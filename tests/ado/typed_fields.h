// What both providers make of one row of the test table T (Id int, Small smallint, Big bigint,
// Amount float, Ratio real, Name nvarchar, Note text, LastTime datetime, Day smalldatetime):
// each column's ADO type and the VARIANT its value reads as.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/com/bstr.h"
#include "platform/com/date.h"
#include "platform/com/variant.h"

namespace qva::testing {

struct TypedField {
  std::u16string_view name;
  DataTypeEnum type;
  VARTYPE vt;
  double number;  // numeric and date values
  std::string text;
};

// The fields of the row (2000000000, -32768, 9000000000, 1234567.891, 0.5, `name`, 'note',
// 2011-08-01 10:20:30, 2011-08-05).
inline std::vector<TypedField> TypedRow(std::string name) {
  const DATE last = *com::CivilToDate({2011, 8, 1, 10, 20, 30});
  const DATE day = *com::CivilToDate({2011, 8, 5});
  return {
      {u"Id", adInteger, VT_I4, 2000000000, ""},
      {u"Small", adSmallInt, VT_I2, -32768, ""},
      {u"Big", adBigInt, VT_I8, 9000000000.0, ""},
      {u"Amount", adDouble, VT_R8, 1234567.891, ""},
      {u"Ratio", adDouble, VT_R8, 0.5, ""},
      {u"Name", adVarWChar, VT_BSTR, 0, std::move(name)},
      {u"Note", adLongVarWChar, VT_BSTR, 0, "note"},
      {u"LastTime", adDate, VT_DATE, last, ""},
      {u"Day", adDate, VT_DATE, day, ""},
  };
}

// Every field of `row` has its type and, in the recordset's current row, its value; or, with
// `null`, reads as NULL while keeping its type.
inline void ExpectFields(Fields* fields, const std::vector<TypedField>& row, bool null = false) {
  for (const TypedField& c : row) {
    SCOPED_TRACE(com::Utf16ToUtf8(c.name));
    com::ComPtr<Field> field;
    ASSERT_EQ(fields->get_Item(com::Variant::Str(c.name), field.put()), S_OK);
    DataTypeEnum type{};
    ASSERT_EQ(field->get_Type(&type), S_OK);
    EXPECT_EQ(type, c.type);
    com::Variant v;
    ASSERT_EQ(field->get_Value(v.put()), S_OK);
    if (null) {
      EXPECT_EQ(v.vt, VT_NULL);
      continue;
    }
    ASSERT_EQ(v.vt, c.vt);
    switch (v.vt) {
      case VT_I4:
        EXPECT_EQ(v.lVal, c.number);
        break;
      case VT_I2:
        EXPECT_EQ(v.iVal, c.number);
        break;
      case VT_I8:
        EXPECT_EQ(v.llVal, static_cast<LONGLONG>(c.number));
        break;
      case VT_R8:
        EXPECT_EQ(v.dblVal, c.number);
        break;
      case VT_DATE:
        EXPECT_EQ(v.date, c.number);
        break;
      default:
        EXPECT_EQ(com::BstrToUtf8(v.bstrVal), c.text);
    }
  }
}

}  // namespace qva::testing
