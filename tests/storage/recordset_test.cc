// The recordset wrapper: opening statements by mode, the value conversions, the errors it
// records, on a fresh copy of the embedded-database template.
#include "qvacom/storage/recordset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/com/bstr.h"
#include "platform/com/variant.h"
#include "qvacom/storage/database.h"
#include "qvacom/storage/sql_text.h"
#include "tests/support/temp_dir.h"

namespace {

using com::Bstr;
using com::ComPtr;
using com::Variant;
using qva::CRecordset;
using qva::DateStatus;
using qva::DateWithStatus;
using qva::sql::Escape;
using qva::sql::Format;

constexpr HRESULT kErrItemNotFound = static_cast<HRESULT>(0x800A0CC1);
constexpr HRESULT kErrNoCurrentRecord = static_cast<HRESULT>(0x800A0BCD);
constexpr HRESULT kErrInvalidConnection = static_cast<HRESULT>(0x800A0E7D);

constexpr DATE kAugust6 = 40761.0 + (13 * 3600 + 5 * 60 + 9) / 86400.0;  // 2011-08-06 13:05:09

class RecordsetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_.path() / "Vodrik_e.ntf";
    std::filesystem::copy_file(std::filesystem::path(QVA_TEMPLATE_DIR) / "Vodrik.ntt", file_);
    auto made = com::CreateObject<qva::CQVADataBase>();
    ASSERT_TRUE(made.ok());
    db_ = *made;
    ASSERT_EQ(db_->OpenAccess(Bstr(file_.string()).get()), S_OK);
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(db_->get_Connection(unknown.put()), S_OK);
    ASSERT_EQ(unknown.As(&connection_), S_OK);
  }
  void Run(const std::string& statement) { ASSERT_EQ(db_->Execute(Bstr(statement).get()), S_OK) << statement; }

  static bool AtEnd(CRecordset& rs) {
    VARIANT_BOOL eof = VARIANT_TRUE;
    EXPECT_EQ(rs.recordset()->get_EOF(&eof), S_OK);
    return eof != VARIANT_FALSE;
  }
  static bool IsOpen(CRecordset& rs) {
    LONG state = adStateClosed;
    EXPECT_EQ(rs.recordset()->get_State(&state), S_OK);
    return state == adStateOpen;
  }
  // The texts of one column over every row of a select, through the loaders' own walk.
  std::vector<std::string> Column(const std::string& statement, const char* column) {
    CRecordset rs(connection_.get());
    std::vector<std::string> out;
    EXPECT_TRUE(rs.OpenStatement(nullptr, statement, CRecordset::kText)) << rs.last_error_text();
    while (!AtEnd(rs)) {
      std::string value;
      EXPECT_TRUE(rs.GetString(column, &value));
      out.push_back(value);
      qva::PumpMessages();
      rs.recordset()->MoveNext();
    }
    return out;
  }

  qva::testing::TempDir dir_;
  std::filesystem::path file_;
  ComPtr<qva::CQVADataBase> db_;
  ComPtr<_Connection> connection_;
};

TEST(RecordsetQueryTest, OnlySelectWithItsBlankInModeZeroIsAQuery) {
  struct Case {
    const char* statement;
    int mode;
    bool query;
  } cases[] = {
      {"SELECT * FROM Users", 0, true},
      {"select Name from Deps", 0, true},
      {"SeLeCt x", 0, true},
      {"select ", 0, true},
      {"select*from Users", 0, false},
      {"select", 0, false},
      {" select x", 0, false},
      {"selected x", 0, false},
      {"select\tx", 0, false},
      {"SELECT * FROM Users", 1, false},
      {"SELECT * FROM Users", 2, false},
      {"", 0, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CRecordset::IsQuery(c.statement, c.mode), c.query) << c.statement << " mode " << c.mode;
}

TEST_F(RecordsetTest, OpenStatementByMode) {
  Run("INSERT INTO Deps (Name) VALUES ('a')");
  struct Case {
    const char* statement;
    int mode;
    bool opened;
  } cases[] = {
      {"SELECT Name FROM Deps", CRecordset::kText, true},
      {"select*from Deps", CRecordset::kText, true},  // not a query by the test, opened alike
      {"SELECT Name FROM Deps", CRecordset::kTextUnknown, true},
      {"Deps", CRecordset::kTable, true},
      {"SELECT Name FROM Deps", 5, false},
      {"SELECT Name FROM Deps", -1, false},
  };
  CRecordset rs(connection_.get());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement + std::string(" mode ") + std::to_string(c.mode));
    // Starts from an open recordset, which every call closes first.
    ASSERT_TRUE(rs.OpenStatement(nullptr, "SELECT id FROM Deps", CRecordset::kText));
    EXPECT_EQ(rs.OpenStatement(nullptr, c.statement, c.mode), c.opened);
    EXPECT_EQ(IsOpen(rs), c.opened);
    EXPECT_EQ(rs.statement(), c.statement);
    if (c.opened) {
      std::string name;
      EXPECT_TRUE(rs.GetString("Name", &name));
      EXPECT_EQ(name, "a");
    }
  }
  EXPECT_EQ(rs.last_error_code(), S_OK);
}

TEST_F(RecordsetTest, StoredProcedureModeRunsThroughTheCommand) {
  // The embedded database has no stored procedures: the command's refusal is recorded.
  CRecordset rs(connection_.get());
  EXPECT_FALSE(rs.OpenStatement(nullptr, "sp_report", CRecordset::kStoredProcedure));
  EXPECT_EQ(rs.last_error_code(), E_FAIL);
  EXPECT_TRUE(rs.last_error_text().ends_with("This provider has no stored procedures.\nQuery = sp_report\n"))
      << rs.last_error_text();
}

TEST_F(RecordsetTest, AnEmptyStatementReopensTheLastOneAndCloseForgetsIt) {
  Run("INSERT INTO Deps (Name) VALUES ('a')");
  CRecordset rs;
  ASSERT_TRUE(rs.OpenStatement(connection_.get(), "SELECT Name FROM Deps", CRecordset::kText));
  ASSERT_EQ(rs.recordset()->MoveNext(), S_OK);
  ASSERT_TRUE(AtEnd(rs));
  ASSERT_TRUE(rs.OpenStatement(nullptr, "", CRecordset::kText));
  EXPECT_FALSE(AtEnd(rs));
  EXPECT_EQ(rs.statement(), "SELECT Name FROM Deps");

  rs.CloseRecordset();
  EXPECT_FALSE(IsOpen(rs));
  EXPECT_EQ(rs.statement(), "");
  rs.CloseRecordset();  // closed already: nothing to do
  EXPECT_EQ(rs.last_error_code(), S_OK);
}

TEST_F(RecordsetTest, ReadersFollowTheWalkAndARecordsetReopenedDirectly) {
  Run("INSERT INTO Deps (Name) VALUES ('a')");
  Run("INSERT INTO Deps (Name) VALUES ('b')");
  EXPECT_EQ(Column("SELECT Name FROM Deps ORDER BY Name", "Name"), (std::vector<std::string>{"a", "b"}));

  CRecordset rs(connection_.get());
  ASSERT_TRUE(rs.OpenStatement(nullptr, "SELECT Name FROM Deps ORDER BY Name DESC", CRecordset::kText));
  std::string name;
  ASSERT_TRUE(rs.GetString("Name", &name));
  EXPECT_EQ(name, "b");
  // A loader may reopen the recordset it walks without going through the wrapper.
  ASSERT_EQ(rs.recordset()->Close(), S_OK);
  ASSERT_EQ(rs.recordset()->Open(Variant::Str("SELECT Name FROM Deps ORDER BY Name"),
                                 Variant::Dispatch(connection_.get()), adOpenStatic, adLockOptimistic, adCmdText),
            S_OK);
  ASSERT_TRUE(rs.GetString("Name", &name));
  EXPECT_EQ(name, "a");
  EXPECT_EQ(rs.last_error_code(), S_OK);
}

// The wrapper remembers where it found the field it read last; readers in another order, or
// reading a field twice, still get each field's own value of the current row.
TEST_F(RecordsetTest, ReadersTakeTheFieldsInAnyOrderOnEveryRow) {
  Run("INSERT INTO Deps (Name, Remarks) VALUES ('a', 'ra')");
  Run("INSERT INTO Deps (Name, Remarks) VALUES ('b', 'rb')");
  Run("INSERT INTO Deps (Name, Remarks) VALUES ('c', 'rc')");
  const std::vector<std::vector<const char*>> orders = {
      {"Name", "Remarks"}, {"Remarks", "Name"}, {"Name", "Name", "Remarks"}, {"Remarks", "Name", "Remarks", "Name"}};
  for (size_t first = 0; first < orders.size(); ++first) {
    CRecordset rs(connection_.get());
    ASSERT_TRUE(rs.OpenStatement(nullptr, "SELECT Name, Remarks FROM Deps ORDER BY Name", CRecordset::kText));
    // Each row is read in another order, starting from a different one per walk.
    for (size_t row = 0; !AtEnd(rs); ++row) {
      const std::string name(1, static_cast<char>('a' + row));
      for (const char* field : orders[(first + row) % orders.size()]) {
        SCOPED_TRACE(std::string(field) + " of row " + name);
        std::string value;
        ASSERT_TRUE(rs.GetString(field, &value));
        EXPECT_EQ(value, std::string(field) == "Name" ? name : "r" + name);
      }
      ASSERT_EQ(rs.recordset()->MoveNext(), S_OK);
    }
    EXPECT_EQ(rs.last_error_code(), S_OK);
  }
}

TEST_F(RecordsetTest, DatabaseErrorsAreRecordedWithTheStatement) {
  Run("INSERT INTO Deps (Name) VALUES ('a')");
  CRecordset rs(connection_.get());
  const std::string bad = "SELECT * FROM NoSuchTable";
  EXPECT_FALSE(rs.OpenStatement(nullptr, bad, CRecordset::kText));
  EXPECT_EQ(rs.last_error_code(), E_FAIL);
  EXPECT_TRUE(rs.last_error_text().starts_with(
      "Vodrik Error\n\tCode = 80004005\n\tCode meaning = Unspecified error\n\tSource = Microsoft JET Database "
      "Engine\n\tDescription = "))
      << rs.last_error_text();
  EXPECT_NE(rs.last_error_text().find("no such table"), std::string::npos);
  EXPECT_TRUE(rs.last_error_text().ends_with("\nQuery = " + bad + "\n"));

  // Readers: an unknown field, then no current row. The output holds the empty field's value.
  const std::string good = "SELECT Name FROM Deps";
  ASSERT_TRUE(rs.OpenStatement(nullptr, good, CRecordset::kText));
  std::string text = "stale";
  EXPECT_FALSE(rs.GetString("NoSuchField", &text));
  EXPECT_EQ(text, "");
  EXPECT_EQ(rs.last_error_code(), kErrItemNotFound);
  EXPECT_TRUE(rs.last_error_text().ends_with("\nQuery = " + good + "\n"));
  ASSERT_EQ(rs.recordset()->MoveNext(), S_OK);
  double d = 5;
  EXPECT_FALSE(rs.GetDouble("Name", &d));
  EXPECT_EQ(d, 0.0);
  EXPECT_EQ(rs.last_error_code(), kErrNoCurrentRecord);

  // No connection given at construction or at the open.
  CRecordset alone;
  EXPECT_FALSE(alone.OpenStatement(nullptr, good, CRecordset::kText));
  EXPECT_EQ(alone.last_error_code(), kErrInvalidConnection);
}

TEST_F(RecordsetTest, NullInEveryColumnTypeReadsAsTheEmptyValue) {
  Run("INSERT INTO Users (Name) VALUES ('n')");
  CRecordset rs(connection_.get());
  ASSERT_TRUE(rs.OpenStatement(nullptr, "Select * From Users Order by FullName", CRecordset::kText));
  for (const char* text : {"FullName", "Remarks"}) {
    std::string s = "x";
    EXPECT_TRUE(rs.GetString(text, &s)) << text;
    EXPECT_EQ(s, "") << text;
  }
  for (const char* integer : {"UserType", "ResumeTime", "Enable"}) {
    LONG n = 7;
    EXPECT_TRUE(rs.GetLong(integer, &n)) << integer;
    EXPECT_EQ(n, 0) << integer;
  }
  for (const char* number : {"TimeLimit", "FeeLeft", "UserType", "Enable"}) {
    double d = 7;
    EXPECT_TRUE(rs.GetDouble(number, &d)) << number;
    EXPECT_EQ(d, 0.0) << number;
  }
  for (const char* date : {"LastTime", "DateLimit"}) {
    DateWithStatus when{1.0, DateStatus::kValid};
    EXPECT_TRUE(rs.GetDate(date, &when)) << date;
    EXPECT_EQ(when.status, DateStatus::kNull) << date;
    std::string s = "x";
    EXPECT_TRUE(rs.GetString(date, &s)) << date;
    EXPECT_EQ(s, "") << date;
  }
  Variant v;
  EXPECT_TRUE(rs.GetVariant("Dep", &v));
  EXPECT_EQ(v.vt, VT_NULL);
  EXPECT_EQ(rs.last_error_code(), S_OK);
}

// Values of every column type the embedded database gives, read by every reader.
TEST_F(RecordsetTest, ReadersConvertByTheFieldsType) {
  Run("CREATE TABLE Conv (s smallint, b tinyint, i int, f float, d datetime, t nvarchar(50), y bit, n bit, g bigint)");
  Run("INSERT INTO Conv VALUES (-7, 200, 123456, 1234567.891, #2011-08-06 13:05:09#, 'O''Brien', 1, 0, 5)");
  CRecordset rs(connection_.get());
  ASSERT_TRUE(rs.OpenStatement(nullptr, "SELECT * FROM Conv", CRecordset::kText)) << rs.last_error_text();
  struct Case {
    const char* column;
    const char* text;  // nullptr: GetString refuses the type
    bool has_double;
    double number;
    bool has_long;
  } cases[] = {
      {"s", "-7", true, -7, true},
      {"b", "200", true, 200, false},
      {"i", "123456", true, 123456, true},
      {"f", "1234567.875", true, 1234567.891, false},  // text through single precision, number exact
      {"d", "2011-08-06 13:05:09", true, kAugust6, false},
      {"t", "O'Brien", false, 0, false},
      {"y", "T", false, 0, false},
      {"n", "F", false, 0, false},
      {"g", nullptr, false, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    std::string text = "stale";
    EXPECT_EQ(rs.GetString(c.column, &text), c.text != nullptr);
    EXPECT_EQ(text, c.text ? c.text : "");
    double d = -1;
    EXPECT_EQ(rs.GetDouble(c.column, &d), c.has_double);
    EXPECT_EQ(d, c.number);
    LONG n = -1;
    EXPECT_EQ(rs.GetLong(c.column, &n), c.has_long);
    EXPECT_EQ(n, c.has_long ? static_cast<LONG>(c.number) : 0);
  }
  std::string day;
  EXPECT_TRUE(rs.GetString("d", &day, qva::sql::kDateFormat));
  EXPECT_EQ(day, "2011-08-06");
  DateWithStatus when;
  EXPECT_TRUE(rs.GetDate("d", &when));
  EXPECT_EQ(when, (DateWithStatus{kAugust6, DateStatus::kValid}));
  EXPECT_FALSE(rs.GetDate("t", &when));
  EXPECT_EQ(when.status, DateStatus::kNull);
  EXPECT_EQ(rs.last_error_code(), S_OK);  // refused types are not database errors
}

Variant Decimal(uint32_t hi, uint64_t lo, int scale, bool negative) {
  Variant v;
  v.decVal.Hi32 = hi;
  v.decVal.Lo64 = lo;
  v.decVal.scale = static_cast<BYTE>(scale);
  v.decVal.sign = negative ? 0x80 : 0;
  v.vt = VT_DECIMAL;  // after decVal: its first member overlays vt
  return v;
}

Variant Typed(VARTYPE vt, auto set) {
  Variant v;
  v.vt = vt;
  set(v);
  return v;
}

// Types no provider of ours produces (single floats, decimals, unsigned and machine integers)
// convert by the same table.
TEST(RecordsetConversionTest, EveryVariantTypeByEveryRule) {
  Variant null_value;
  null_value.vt = VT_NULL;
  struct Case {
    const char* name;
    Variant value;
    const char* text;  // nullptr: refused
    bool has_double;
    double number;
    bool has_long;
  } cases[] = {
      {"empty", Variant(), "", true, 0, true},
      {"null", null_value, "", true, 0, true},
      {"I1", Typed(VT_I1, [](Variant& v) { v.cVal = -5; }), "-5", false, 0, false},
      {"I2", Variant::I2(-32768), "-32768", true, -32768, true},
      {"UI1", Typed(VT_UI1, [](Variant& v) { v.bVal = 255; }), "255", true, 255, false},
      {"I4", Variant::I4(-2147483647 - 1), "-2147483648", true, -2147483648.0, true},
      {"INT", Typed(VT_INT, [](Variant& v) { v.intVal = 42; }), "42", true, 42, true},
      {"UI4", Typed(VT_UI4, [](Variant& v) { v.ulVal = 4294967295u; }), "4294967295", false, 0, false},
      {"UINT", Typed(VT_UINT, [](Variant& v) { v.uintVal = 7u; }), "7", false, 0, false},
      {"R4", Typed(VT_R4, [](Variant& v) { v.fltVal = 0.1f; }), "0.1000000015", true, static_cast<double>(0.1f), false},
      {"R8", Variant::R8(1234567.891), "1234567.875", true, 1234567.891, false},
      {"R8 small", Variant::R8(0.5), "0.5", true, 0.5, false},
      {"R8 large", Variant::R8(1e20), "1.00000002e+20", true, 1e20, false},
      {"R8 negative", Variant::R8(-2.25), "-2.25", true, -2.25, false},
      {"DECIMAL", Decimal(0, 12345, 2, false), "123.4499969", true, 123.45, false},
      {"DECIMAL negative", Decimal(0, 150, 1, true), "-15", true, -15, false},
      {"DECIMAL past 32 bits", Decimal(0, 5000000000ull, 0, false), "5000000000", true, 5e9, false},
      {"DECIMAL past 64 bits", Decimal(1, 0, 0, false), "1.844674407e+19", true, 18446744073709551616.0, false},
      {"DATE", Variant::Date(kAugust6), "2011-08-06 13:05:09", true, kAugust6, false},
      {"BSTR", Variant::Str("名字 O'Brien"), "名字 O'Brien", false, 0, false},
      {"BOOL true", Variant::Bool(true), "T", false, 0, false},
      {"BOOL false", Variant::Bool(false), "F", false, 0, false},
      {"I8", Typed(VT_I8, [](Variant& v) { v.llVal = 5; }), nullptr, false, 0, false},
      {"CY", Typed(VT_CY, [](Variant& v) { v.llVal = 50000; }), nullptr, false, 0, false},
      {"ERROR", Typed(VT_ERROR, [](Variant& v) { v.scode = E_FAIL; }), nullptr, false, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = "stale";
    EXPECT_EQ(qva::StringOfValue(c.value, &text, qva::sql::kDateTimeFormat), c.text != nullptr);
    EXPECT_EQ(text, c.text ? c.text : "");
    double d = -1;
    EXPECT_EQ(qva::DoubleOfValue(c.value, &d), c.has_double);
    EXPECT_DOUBLE_EQ(d, c.number);
    LONG n = -1;
    EXPECT_EQ(qva::LongOfValue(c.value, &n), c.has_long);
    EXPECT_EQ(n, c.has_long ? static_cast<LONG>(c.number) : 0);
  }
}

TEST(RecordsetConversionTest, NumbersUseAPointWhateverTheLocale) {
  const std::string saved = setlocale(LC_NUMERIC, nullptr);
  if (!setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no de_DE.UTF-8 locale here";
  std::string text;
  EXPECT_TRUE(qva::StringOfValue(Variant::R8(2.5), &text, qva::sql::kDateFormat));
  setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(text, "2.5");
}

TEST(RecordsetConversionTest, VariantTextHasNoLengthLimit) {
  const std::string long_text = [] {
    std::string s;
    for (int i = 0; i < 5000; ++i) s += "é名";
    return s;
  }();
  Variant str = Variant::Str(long_text);
  Variant by_ref;
  by_ref.vt = VT_BYREF | VT_BSTR;
  by_ref.pbstrVal = &str.bstrVal;
  EXPECT_EQ(qva::VariantText(str), long_text);
  EXPECT_EQ(qva::VariantText(by_ref), long_text);
  EXPECT_EQ(qva::VariantText(Variant::I4(5)), "");
  EXPECT_EQ(qva::VariantText(Variant()), "");
  VariantInit(&by_ref);  // it borrowed str's text
}

TEST_F(RecordsetTest, ATenThousandCharacterTextComesBackWhole) {
  std::string text;
  for (int i = 0; i < 2500; ++i) text += "aé名'";  // 10,000 characters, 2500 of them quotes
  Run(Format("INSERT INTO Users (Name, Remarks) VALUES ('long', '%s')", Escape(text).c_str()));
  CRecordset rs(connection_.get());
  ASSERT_TRUE(rs.OpenStatement(nullptr, "SELECT Remarks FROM Users WHERE Name = 'long'", CRecordset::kText));
  std::string read;
  EXPECT_TRUE(rs.GetString("Remarks", &read));
  EXPECT_EQ(read, text);
  Variant v;
  EXPECT_TRUE(rs.GetVariant("Remarks", &v));
  EXPECT_EQ(qva::VariantText(v), text);
}

TEST_F(RecordsetTest, ANameWithAQuoteThroughInsertSelectUpdateAndDelete) {
  const std::string name = "O'Brien";
  const std::string quoted = Escape(name);
  Run("INSERT INTO Users (Name) VALUES ('other')");
  CRecordset rs(connection_.get());
  ASSERT_TRUE(rs.OpenStatement(
      nullptr, Format("INSERT INTO Users (Name, FullName) VALUES ('%s', '%s')", quoted.c_str(), quoted.c_str()),
      CRecordset::kText))
      << rs.last_error_text();
  EXPECT_EQ(Column(Format("Select * From Users WHERE Name = '%s'", quoted.c_str()), "FullName"),
            std::vector<std::string>{name});
  ASSERT_TRUE(rs.OpenStatement(
      nullptr, Format("UPDATE Users SET FullName = '%s' WHERE Name = '%s'", Escape("it's").c_str(), quoted.c_str()),
      CRecordset::kText));
  EXPECT_EQ(Column("Select * From Users Order by Name", "FullName"), (std::vector<std::string>{"it's", ""}));
  ASSERT_TRUE(
      rs.OpenStatement(nullptr, Format("DELETE FROM Users WHERE Name = '%s'", quoted.c_str()), CRecordset::kText));
  EXPECT_EQ(Column("Select * From Users Order by Name", "Name"), std::vector<std::string>{"other"});
}

TEST_F(RecordsetTest, ALockHeldPastTheTimeOutIsReportedNotWaitedFor) {
  Run("INSERT INTO Deps (Name) VALUES ('a')");
  ASSERT_EQ(connection_->put_CommandTimeout(1), S_OK);  // seconds: the shortest ADO offers
  auto holder = ado::CreateConnection();
  ASSERT_TRUE(holder.ok());
  const std::string jet = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file_.string();
  ASSERT_EQ((*holder)->Open(Variant::Str(jet), Variant(), Variant(), -1), S_OK);
  ComPtr<_Recordset> none;
  ASSERT_EQ((*holder)->Execute(Bstr("BEGIN EXCLUSIVE").get(), Variant(), adExecuteNoRecords, none.put()), S_OK);

  CRecordset rs(connection_.get());
  EXPECT_FALSE(rs.OpenStatement(nullptr, "SELECT Name FROM Deps", CRecordset::kText));
  EXPECT_NE(rs.last_error_text().find("locked"), std::string::npos) << rs.last_error_text();
  EXPECT_EQ(db_->Execute(Bstr("DELETE FROM Deps").get()), E_FAIL);

  ASSERT_EQ((*holder)->Execute(Bstr("COMMIT").get(), Variant(), adExecuteNoRecords, none.put()), S_OK);
  EXPECT_TRUE(rs.OpenStatement(nullptr, "SELECT Name FROM Deps", CRecordset::kText)) << rs.last_error_text();
}

}  // namespace
