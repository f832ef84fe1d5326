// The ADO stand-in on the Jet provider: SQLite files opened with Jet connection strings.
#include "platform/ado/ado.h"

#include <gtest/gtest.h>

#include <charconv>
#include <fstream>
#include <string>
#include <string_view>
#include <variant>

#include "platform/ado/jet.h"
#include "platform/ado/jet_parameters.h"
#include "platform/com/bstr.h"
#include "platform/com/date.h"
#include "platform/com/variant.h"
#include "tests/ado/typed_fields.h"
#include "tests/support/temp_dir.h"

namespace {

using com::Bstr;
using com::ComPtr;
using com::Variant;

constexpr HRESULT kErrNoCurrentRecord = static_cast<HRESULT>(0x800A0BCD);
constexpr HRESULT kErrItemNotFound = static_cast<HRESULT>(0x800A0CC1);
constexpr HRESULT kErrObjectClosed = static_cast<HRESULT>(0x800A0E78);
constexpr HRESULT kErrObjectOpen = static_cast<HRESULT>(0x800A0E79);
constexpr HRESULT kErrFeatureNotAvailable = static_cast<HRESULT>(0x800A0CB3);

struct ErrorText {
  std::string source;
  std::string description;
};

// Takes the calling thread's error information.
ErrorText TakeError() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  Bstr source, description;
  info->GetSource(source.put());
  info->GetDescription(description.put());
  return {source.utf8(), description.utf8()};
}

std::string JetString(const std::filesystem::path& file) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file.string() +
         ";Jet OLEDB:Database Password=KestrelGate;Persist Security Info=False";
}

ComPtr<_Connection> NewConnection() {
  auto c = ado::CreateConnection();
  EXPECT_TRUE(c.ok());
  return c.ok() ? *c : ComPtr<_Connection>();
}

HRESULT OpenWith(_Connection* c, const std::string& connection_string) {
  return c->Open(Variant::Str(connection_string), Variant(), Variant(), -1);
}

class JetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_.path() / "Vodrik_e.ntf";
    std::ofstream(file_).close();  // an empty file is an empty SQLite database
    conn_ = NewConnection();
    ASSERT_EQ(conn_->put_CommandTimeout(5), S_OK);  // a failing test must not hang on a lock
    ASSERT_EQ(conn_->put_ConnectionTimeout(0), S_OK);
    ASSERT_EQ(OpenWith(conn_.get(), JetString(file_)), S_OK);
    Exec(
        "CREATE TABLE T (Id int, Small smallint, Big bigint, Amount float, Ratio real,"
        " Name nvarchar(50) COLLATE Chinese_PRC_CI_AS, Note text, LastTime datetime, Day smalldatetime)");
  }

  void Exec(const std::string& sql) {
    ASSERT_EQ(conn_->Execute(Bstr(sql).get(), Variant(), adExecuteNoRecords, nullptr), S_OK)
        << sql << ": " << TakeError().description;
  }

  ComPtr<_Recordset> Query(const std::string& sql) {
    ComPtr<_Recordset> rs;
    EXPECT_EQ(conn_->Execute(Bstr(sql).get(), Variant(), -1, rs.put()), S_OK) << sql << ": " << TakeError().description;
    return rs;
  }

  static Variant Value(_Recordset* rs, std::u16string_view name) {
    ComPtr<Fields> fields;
    EXPECT_EQ(rs->get_Fields(fields.put()), S_OK);
    ComPtr<Field> field;
    Variant v;
    if (fields->get_Item(Variant::Str(name), field.put()) == S_OK) field->get_Value(v.put());
    return v;
  }

  static bool AtEnd(_Recordset* rs) {
    VARIANT_BOOL eof = VARIANT_FALSE;
    EXPECT_EQ(rs->get_EOF(&eof), S_OK);
    return eof == VARIANT_TRUE;
  }

  // Every value of the column, in recordset order.
  static std::vector<std::string> Column(_Recordset* rs, std::u16string_view name) {
    std::vector<std::string> out;
    while (!AtEnd(rs)) {
      Variant v = Value(rs, name);
      out.push_back(v.vt == VT_BSTR ? com::BstrToUtf8(v.bstrVal) : "?");
      EXPECT_EQ(rs->MoveNext(), S_OK);
    }
    return out;
  }

  size_t Count(const std::string& where) {
    auto rs = Query("SELECT * FROM T WHERE " + where);
    size_t n = 0;
    for (; rs && !AtEnd(rs.get()); rs->MoveNext()) ++n;
    return n;
  }

  qva::testing::TempDir dir_;
  std::filesystem::path file_;
  ComPtr<_Connection> conn_;
};

TEST_F(JetTest, FieldsAreTypedByTheirDeclaredColumnType) {
  Exec(
      "INSERT INTO T VALUES (2000000000, -32768, 9000000000, 1234567.891, 0.5, 'Alice', 'note',"
      " #2011-08-01 10:20:30#, '2011-08-05')");
  Exec("INSERT INTO T VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
  auto rs = Query("SELECT * FROM T ORDER BY rowid");
  ASSERT_TRUE(rs);
  ComPtr<Fields> fields;
  ASSERT_EQ(rs->get_Fields(fields.put()), S_OK);
  LONG count = 0;
  ASSERT_EQ(fields->get_Count(&count), S_OK);
  EXPECT_EQ(count, 9);
  qva::testing::ExpectFields(fields.get(), qva::testing::TypedRow("Alice"));
  // NULL in every column reads as NULL and keeps the column type.
  ASSERT_EQ(rs->MoveNext(), S_OK);
  qva::testing::ExpectFields(fields.get(), qva::testing::TypedRow("Alice"), /*null=*/true);
}

TEST_F(JetTest, TextRoundTripsLongNonAsciiAndQuotedValues) {
  std::string long_text;
  for (int i = 0; i < 10000; ++i) long_text += i % 2 ? "\xC3\xA9" : "\xE4\xB8\xAD";  // é, 中
  Exec("INSERT INTO T (Id, Note) VALUES (1, '" + long_text + "')");
  Exec("INSERT INTO T (Id, Name) VALUES (2, 'O''Brien')");
  auto rs = Query("SELECT Note FROM T WHERE Id = 1");
  Variant v = Value(rs.get(), u"Note");
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(v.bstrVal), 10000u);
  EXPECT_EQ(com::BstrToUtf8(v.bstrVal), long_text);
  EXPECT_EQ(com::BstrToUtf8(Value(Query("SELECT Name FROM T WHERE Name = 'O''Brien'").get(), u"Name").bstrVal),
            "O'Brien");
}

TEST_F(JetTest, StoredValuesThatDoNotFitTheColumnTypeFailOrAreRepaired) {
  struct Case {
    const char* insert;  // values for (Id, Small, Name, LastTime)
    const char* error;   // part of the description; null when the read succeeds
  } const cases[] = {
      {"1, NULL, NULL, 'not a date'", "is not a date"},
      {"1, NULL, NULL, '2011-02-30 00:00:00'", "is not a date"},
      {"1, 40000, NULL, NULL", "range"},
      {"'x', NULL, NULL, NULL", "whole number"},
      {"1, NULL, CAST(X'FF41' AS TEXT), NULL", nullptr},  // invalid UTF-8 reads as U+FFFD
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.insert);
    Exec("DELETE FROM T");
    Exec(std::string("INSERT INTO T (Id, Small, Name, LastTime) VALUES (") + c.insert + ")");
    ComPtr<_Recordset> rs;
    const HRESULT hr = conn_->Execute(Bstr("SELECT Id, Small, Name, LastTime FROM T").get(), Variant(), -1, rs.put());
    if (c.error) {
      EXPECT_EQ(hr, E_FAIL);
      const ErrorText e = TakeError();
      EXPECT_EQ(e.source, "Microsoft JET Database Engine");
      EXPECT_NE(e.description.find(c.error), std::string::npos) << e.description;
    } else {
      ASSERT_EQ(hr, S_OK);
      EXPECT_EQ(com::BstrView(Value(rs.get(), u"Name").bstrVal), u"\uFFFDA");
    }
  }
}

TEST(JetDateLiterals, NumberSignsOutsideQuotedTextBecomeQuotes) {
  struct Case {
    const char* in;
    const char* out;
  } const cases[] = {
      {"Date >= #2011-08-01# AND Date <= #2011-08-05#",
       "Date >= '2011-08-01 00:00:00' AND Date <= '2011-08-05 00:00:00'"},
      {"LastTime = #2011-08-01 10:00:00#", "LastTime = '2011-08-01 10:00:00'"},
      {"D = #8/5/2011# OR D = #2011-8-5 7:05#", "D = '2011-08-05 00:00:00' OR D = '2011-08-05 07:05:00'"},
      {"D = #2011-08-05x# OR D = #2011-13-01# OR D = #2011-08-05 25:00#",
       "D = '2011-08-05x' OR D = '2011-13-01' OR D = '2011-08-05 25:00'"},  // not dates: as written
      {"Name = '#tag#'", "Name = '#tag#'"},
      {"Name = 'it''s #1#' OR Id = #2#", "Name = 'it''s #1#' OR Id = '2'"},
      {"[a#b] = #3#", "[a#b] = '3'"},
      {"\"x#y\" = 1", "\"x#y\" = 1"},
      {"Id = #1", "Id = #1"},
  };
  for (const Case& c : cases) EXPECT_EQ(ado::jet::RewriteDateLiterals(c.in), c.out) << c.in;
}

TEST_F(JetTest, DateLiteralsSelectRowsAndNumberSignsInTextStay) {
  Exec("INSERT INTO T (Id, Name, LastTime) VALUES (1, '#tag#', #2011-08-01 10:00:00#)");
  Exec("INSERT INTO T (Id, Name, LastTime) VALUES (2, 'b', #2011-08-06 00:00:00#)");
  Exec("INSERT INTO T (Id, Name, LastTime) VALUES (3, 'c', #2011-08-05#)");
  // The row stamped at midnight of the last day is inside the range, as on the server.
  EXPECT_EQ(Count("LastTime >= #2011-08-01# AND LastTime <= #2011-08-05#"), 2u);
  auto rs = Query("SELECT Name FROM T WHERE Id = 1");
  EXPECT_EQ(com::BstrToUtf8(Value(rs.get(), u"Name").bstrVal), "#tag#");
}

// Transactions nest as on the server: an inner BEGIN and COMMIT only count, a ROLLBACK at any
// depth undoes everything, and a COMMIT with nothing open fails.
TEST_F(JetTest, TransactionsNestAsTheServersDo) {
  struct Case {
    std::vector<const char*> statements;  // 'I' inserts a row
    HRESULT last;                         // the last statement's result
    size_t rows;
  } const cases[] = {
      {{"BEGIN TRANSACTION", "I", "begin tran", "I", "COMMIT", "COMMIT"}, S_OK, 2},
      {{"BEGIN TRANSACTION", "I", "BEGIN TRANSACTION", "I", "ROLLBACK", "COMMIT"}, E_FAIL, 0},
      {{"BEGIN TRANSACTION", "BEGIN TRANSACTION", "I", "COMMIT", "ROLLBACK"}, S_OK, 0},
      {{"BEGIN", "I", "COMMIT TRANSACTION", "I"}, S_OK, 2},
      {{"COMMIT"}, E_FAIL, 0},
  };
  for (const Case& c : cases) {
    Exec("DELETE FROM T");
    HRESULT hr = S_OK;
    for (const char* statement : c.statements) {
      const std::string sql = std::string_view(statement) == "I" ? "INSERT INTO T (Id) VALUES (1)" : statement;
      hr = conn_->Execute(Bstr(sql).get(), Variant(), adExecuteNoRecords, nullptr);
      if (FAILED(hr)) {
        EXPECT_NE(TakeError().description.find("no transaction"), std::string::npos) << sql;
      }
    }
    EXPECT_EQ(hr, c.last) << c.statements.front();
    EXPECT_EQ(Count("1 = 1"), c.rows);
  }
  struct Verb {
    const char* text;
    ado::jet::TransactionVerb verb;
  } const verbs[] = {
      {" Begin  Transaction ;", ado::jet::TransactionVerb::kBegin},
      {"COMMIT WORK", ado::jet::TransactionVerb::kCommit},
      {"rollback tran", ado::jet::TransactionVerb::kRollback},
      {"BEGIN TRANSACTION named", ado::jet::TransactionVerb::kNone},
      {"BEGIN IMMEDIATE", ado::jet::TransactionVerb::kNone},
      {"COMMITTED", ado::jet::TransactionVerb::kNone},
  };
  for (const Verb& v : verbs) EXPECT_EQ(ado::jet::TransactionVerbOf(v.text), v.verb) << v.text;
}

// A data statement and what parameterising it gives.
struct ParameterCase {
  const char* sql;
  const char* shape;  // null: run as written
  std::vector<ado::jet::Literal> values;
};

TEST(JetParameters, DataStatementsBecomeShapeAndValues) {
  using ado::jet::Literal;
  const ParameterCase cases[] = {
      {"INSERT INTO T(Id, Name)\t\tVALUES(7,'it''s')", "INSERT INTO T(Id, Name)\t\tVALUES(?,?)", {int64_t{7}, "it's"}},
      {"UPDATE T SET Amount=-1.5e3, Name='' WHERE Name = 'a'", "UPDATE T SET Amount=-?, Name=? WHERE Name = ?",
       {1.5e3, "", "a"}},
      {"Delete FROM T WHERE Id = .5 AND [Col 2] = 'x'", "Delete FROM T WHERE Id = ? AND [Col 2] = ?", {0.5, "x"}},
      {"DELETE FROM T WHERE Id = 99999999999999999999", nullptr, {}},  // beyond 64 bits: as written
      {"DELETE FROM T WHERE Id = 0x1F", nullptr, {}},
      {"INSERT INTO T(Note) VALUES(X'00')", nullptr, {}},
      {"INSERT INTO T(Id) SELECT Id FROM T ORDER BY 1", nullptr, {}},
      {"DELETE FROM T WHERE Id = 1; DELETE FROM T", nullptr, {}},
      {"DELETE FROM T WHERE Id = 1 -- note", nullptr, {}},
      {"DELETE FROM T WHERE Name = 'open", nullptr, {}},
      {"SELECT * FROM T WHERE Id = 1", nullptr, {}},
      {"DELETE FROM T2 WHERE Col1 = 2", "DELETE FROM T2 WHERE Col1 = ?", {int64_t{2}}},
  };
  for (const ParameterCase& c : cases) {
    ado::jet::ParameterizedStatement p;
    ASSERT_EQ(ado::jet::Parameterize(c.sql, &p), c.shape != nullptr) << c.sql;
    if (!c.shape) continue;
    EXPECT_EQ(p.shape, c.shape);
    EXPECT_EQ(p.values, c.values) << c.sql;
  }
}

// A decimal number becomes the double from_chars reads from its text, whichever way it is read:
// digits that make an integer up to 2^53 (2^53 = 9007199254740992) by one division, others by the
// general conversion.
TEST(JetParameters, DecimalNumbersReadAsFromCharsReadsThem) {
  const char* const numbers[] = {
      "3600.500000",          "1000000000.000000",    "10000000000.000000",   "9000000000.000000",
      "9007199254.740992",    "9007199254.740993",    "9007199254740.992000", "4503599627.370497",
      "0.123456789012345678", "123.456000000000000",  "0.000001",             "0.1000000000000000",
      "1.7976931348623157",   "0.30000000000000004",  "123456789012.345678",  "999999999999999.99",
  };
  for (const char* number : numbers) {
    const std::string sql = std::string("UPDATE T SET A=") + number;
    ado::jet::ParameterizedStatement p;
    ASSERT_TRUE(ado::jet::Parameterize(sql, &p)) << number;
    ASSERT_EQ(p.values.size(), 1u) << number;
    const std::string_view text(number);
    double expected = 0;
    ASSERT_EQ(std::from_chars(text.data(), text.data() + text.size(), expected).ec, std::errc()) << number;
    ASSERT_TRUE(std::holds_alternative<double>(p.values[0])) << number;
    EXPECT_EQ(std::get<double>(p.values[0]), expected) << number;
  }
}

// Date literals are rewritten and parameterised in one pass, with the result of the two steps
// one after the other; a statement reused for every case keeps no value of the one before.
TEST(JetParameters, DateLiteralsBecomeTextValuesInTheSamePass) {
  using ado::jet::Literal;
  const ParameterCase cases[] = {
      {"INSERT INTO T(Name, LastTime, Amount)\t\tVALUES('it''s',#2011-08-06 13:05:09#,-1.5e3)",
       "INSERT INTO T(Name, LastTime, Amount)\t\tVALUES(?,?,-?)",
       {"it's", "2011-08-06 13:05:09", 1.5e3}},
      {"UPDATE T SET D=#8/5/2011#, N=N'x', E=2.5E-3, F=3600.500000, G=5., H=.5 WHERE Name = 'a''''b'",
       "UPDATE T SET D=?, N=N?, E=?, F=?, G=?, H=? WHERE Name = ?",
       {"2011-08-05 00:00:00", "x", 2.5e-3, 3600.5, 5.0, 0.5, "a''b"}},
      {"DELETE FROM T WHERE Name = '#1#' AND D = #2011-13-01#",
       "DELETE FROM T WHERE Name = ? AND D = ?",
       {"#1#", "2011-13-01"}},
      {"DELETE FROM T WHERE Id = #1", "DELETE FROM T WHERE Id = #?", {int64_t{1}}},
      {"DELETE FROM T WHERE [a#b] = #3# AND \"x#y\" = -0.1",
       "DELETE FROM T WHERE [a#b] = ? AND \"x#y\" = -?",
       {"3", 0.1}},
      {"UPDATE T SET A=1234567890123456.5, B=0.000001 WHERE C=#2011-08-05 7:05#",
       "UPDATE T SET A=?, B=? WHERE C=?",
       {1234567890123456.5, 1e-6, "2011-08-05 07:05:00"}},
      {"UPDATE T SET `c#1#` = 1", "UPDATE T SET `c'1'` = ?", {int64_t{1}}},
      // Neighbours with nothing between read as one quoted text with a quote inside.
      {"INSERT INTO T(A, B) VALUES('x'#2011-08-05#, #2011-08-05##8/5/2011 10:00#'y')",
       "INSERT INTO T(A, B) VALUES(?, ?)",
       {"x'2011-08-05 00:00:00", "2011-08-05 00:00:00'2011-08-05 10:00:00'y"}},
      {"UPDATE T SET \xC3\xA9"
       "5 = 2",
       "UPDATE T SET \xC3\xA9"
       "5 = ?",
       {int64_t{2}}},  // é5 is one name
      // Statements that start alike, one after the other, and one that stops before its values.
      {"INSERT INTO T(A, B) VALUES('x', 1)", "INSERT INTO T(A, B) VALUES(?, ?)", {"x", int64_t{1}}},
      {"INSERT INTO T(A, B) VALUES(2, 'y')", "INSERT INTO T(A, B) VALUES(?, ?)", {int64_t{2}, "y"}},
      {"DELETE FROM T -- all", nullptr, {}},
      {"INSERT INTO T(A, B) VALUES('z', .5)", "INSERT INTO T(A, B) VALUES(?, ?)", {"z", 0.5}},
      {"UPDATE T SET a#b = 5, c = '#x'", "UPDATE T SET a#b = ?, c = ?", {int64_t{5}, "#x"}},
      {"UPDATE T SET a#b = 5, c = 1#", "UPDATE T SET a?", {"b = 5, c = 1"}},  // what follows decides
      {"DELETE FROM T WHERE D = X#2011-01-01#", nullptr, {}},                 // the rewritten text holds a blob
      {"DELETE FROM T WHERE D = #a'b#", nullptr, {}},
      {"DELETE FROM T WHERE Id = 1.5.2", nullptr, {}},
      {"SELECT * FROM T WHERE D = #2011-08-01#", nullptr, {}},
      {"DELETE FROM T WHERE D = #2011-08-01# ORDER BY 1", nullptr, {}},
  };
  ado::jet::ParameterizedStatement reused;
  for (const ParameterCase& c : cases) {
    ado::jet::ParameterizedStatement one, two;
    ASSERT_EQ(ado::jet::ParameterizeWithDates(c.sql, &one), c.shape != nullptr) << c.sql;
    ASSERT_EQ(ado::jet::Parameterize(ado::jet::RewriteDateLiterals(c.sql), &two), c.shape != nullptr) << c.sql;
    ASSERT_EQ(ado::jet::ParameterizeWithDates(c.sql, &reused), c.shape != nullptr) << c.sql;
    if (!c.shape) continue;
    EXPECT_EQ(one.shape, c.shape);
    EXPECT_EQ(one.values, c.values) << c.sql;
    EXPECT_EQ(two.shape, one.shape);
    EXPECT_EQ(two.values, one.values) << c.sql;
    EXPECT_EQ(reused.shape, one.shape);
    EXPECT_EQ(reused.values, one.values) << c.sql;
  }
}

// Statements of one shape, run many times, write what the texts say; a failing one reports the
// engine's error and leaves the next one working.
TEST_F(JetTest, RepeatedDataStatementsStoreTheirOwnValues) {
  for (int i = 0; i < 100; ++i)
    Exec("INSERT INTO T (Id, Amount, Name) VALUES (" + std::to_string(i) + ", " + std::to_string(i) + ".25, 'n''" +
         std::to_string(i) + "')");
  Exec("UPDATE T SET Name = 'seven' WHERE Id = 7");
  EXPECT_EQ(Count("Amount = 42.25 AND Name = 'n''42'"), 1u);
  EXPECT_EQ(Count("Name = 'SEVEN'"), 1u);  // the column's collation still applies
  Exec("CREATE UNIQUE INDEX TId ON T(Id)");  // the compiled shapes meet a changed schema
  EXPECT_EQ(conn_->Execute(Bstr("INSERT INTO T (Id) VALUES (5)").get(), Variant(), adExecuteNoRecords, nullptr),
            E_FAIL);
  EXPECT_NE(TakeError().description.find("UNIQUE"), std::string::npos);
  Exec("INSERT INTO T (Id) VALUES (500)");
  EXPECT_EQ(Count("Id >= 0"), 101u);
}

TEST_F(JetTest, CollationIgnoresCaseButNotAccents) {
  Exec("INSERT INTO T (Id, Name) VALUES (1, 'Alice')");
  Exec("INSERT INTO T (Id, Name) VALUES (2, 'e')");
  EXPECT_EQ(Count("Name = 'alice'"), 1u);
  EXPECT_EQ(Count("Name = 'ALICE'"), 1u);
  EXPECT_EQ(Count("Name = '\xC3\xA9'"), 0u);  // é is not e
  EXPECT_EQ(Count("Name = 'E'"), 1u);

  struct Case {
    const char* a;
    const char* b;
    int sign;
  } const cases[] = {
      {"alice", "Alice", 0}, {"e", "\xC3\xA9", -1}, {"\xC3\x89", "\xC3\xA9", 0}, {"a", "B", -1}, {"b", "A", 1},
  };
  for (const Case& c : cases) {
    const int r = ado::jet::CompareChinesePrcCiAs(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
  }
}

TEST_F(JetTest, EngineErrorIsEFailWithJetSourceAndDescription) {
  ComPtr<_Recordset> rs;
  EXPECT_EQ(conn_->Execute(Bstr("SELEC * FROM Nowhere").get(), Variant(), -1, rs.put()), E_FAIL);
  EXPECT_FALSE(rs);
  const ErrorText e = TakeError();
  EXPECT_EQ(e.source, "Microsoft JET Database Engine");
  EXPECT_NE(e.description.find("syntax error"), std::string::npos) << e.description;

  EXPECT_EQ(conn_->Execute(Bstr("SELECT * FROM Nowhere").get(), Variant(), -1, rs.put()), E_FAIL);
  EXPECT_NE(TakeError().description.find("no such table"), std::string::npos);
}

TEST_F(JetTest, LockHeldByAnotherConnectionFailsAfterTheTimeOut) {
  Exec("INSERT INTO T (Id) VALUES (1)");
  ComPtr<_Connection> other = NewConnection();
  ASSERT_EQ(OpenWith(other.get(), JetString(file_)), S_OK);
  ASSERT_EQ(other->put_CommandTimeout(1), S_OK);
  Exec("BEGIN EXCLUSIVE");
  Exec("UPDATE T SET Id = 2");
  ComPtr<_Recordset> rs;
  EXPECT_EQ(other->Execute(Bstr("SELECT * FROM T").get(), Variant(), -1, rs.put()), E_FAIL);
  const ErrorText e = TakeError();
  EXPECT_EQ(e.source, "Microsoft JET Database Engine");
  EXPECT_NE(e.description.find("locked"), std::string::npos) << e.description;
  Exec("COMMIT");
  rs = nullptr;
  ASSERT_EQ(other->Execute(Bstr("SELECT * FROM T").get(), Variant(), -1, rs.put()), S_OK);
  EXPECT_EQ(Value(rs.get(), u"id").lVal, 2);
}

TEST(JetOpen, MissingFilesFail) {
  qva::testing::TempDir dir;
  ComPtr<_Connection> c = NewConnection();
  EXPECT_EQ(OpenWith(c.get(), JetString(dir.path() / "absent.ntf")), E_FAIL);
  EXPECT_EQ(TakeError().source, "Microsoft JET Database Engine");

  const auto junk = dir.path() / "junk.ntf";
  std::ofstream(junk) << std::string(4096, 'x');
  EXPECT_EQ(OpenWith(c.get(), JetString(junk)), E_FAIL);
  EXPECT_NE(TakeError().description.find("not a database"), std::string::npos);
}

TEST_F(JetTest, SecondOpenOfAnOpenConnectionFailsAndKeepsTheFirst) {
  EXPECT_EQ(OpenWith(conn_.get(), JetString(dir_.path() / "other.ntf")), kErrObjectOpen);
  Exec("INSERT INTO T (Id) VALUES (7)");
  Bstr text;
  ASSERT_EQ(conn_->get_ConnectionString(text.put()), S_OK);
  EXPECT_EQ(text.utf8(), JetString(file_));
}

TEST_F(JetTest, ForwardOnlyRecordsetStepsAndFieldsFollowTheCursor) {
  for (int i = 1; i <= 3; ++i) Exec("INSERT INTO T (Id, Name) VALUES (" + std::to_string(i) + ", 'n')");
  auto rs = Query("SELECT Id FROM T ORDER BY Id");
  ComPtr<Fields> fields;
  ASSERT_EQ(rs->get_Fields(fields.put()), S_OK);
  ComPtr<Field> id;
  ASSERT_EQ(fields->get_Item(Variant::Str(u"ID"), id.put()), S_OK);  // names ignore case
  std::vector<LONG> seen;
  while (!AtEnd(rs.get())) {
    Variant v;
    ASSERT_EQ(id->get_Value(v.put()), S_OK);
    seen.push_back(v.lVal);
    ASSERT_EQ(rs->MoveNext(), S_OK);
  }
  EXPECT_EQ(seen, (std::vector<LONG>{1, 2, 3}));
  Variant v;
  EXPECT_EQ(id->get_Value(v.put()), kErrNoCurrentRecord);
  EXPECT_EQ(rs->MoveNext(), kErrNoCurrentRecord);
  ComPtr<Field> none;
  EXPECT_EQ(fields->get_Item(Variant::Str(u"Nope"), none.put()), kErrItemNotFound);
  EXPECT_EQ(rs->put_Sort(Bstr("Id DESC").get()), kErrFeatureNotAvailable);

  ASSERT_EQ(rs->Close(), S_OK);
  LONG state = -1;
  rs->get_State(&state);
  EXPECT_EQ(state, adStateClosed);
  EXPECT_EQ(id->get_Value(v.put()), kErrObjectClosed);
  EXPECT_EQ(rs->Close(), kErrObjectClosed);
}

TEST_F(JetTest, StaticRecordsetOpensOnAConnectionAndSorts) {
  const char* names[] = {"bob", "Alice", "carol"};
  for (int i = 0; i < 3; ++i) Exec("INSERT INTO T (Id, Name) VALUES (" + std::to_string(i) + ", '" + names[i] + "')");
  auto made = ado::CreateRecordset();
  ASSERT_TRUE(made.ok());
  ComPtr<_Recordset> rs = *made;
  ASSERT_EQ(rs->put_CursorLocation(adUseClient), S_OK);
  ASSERT_EQ(rs->Open(Variant::Str("select * from T order by Id"), Variant::Dispatch(conn_.get()), adOpenStatic,
                     adLockOptimistic, adCmdUnknown),
            S_OK)
      << TakeError().description;
  ASSERT_EQ(rs->put_Sort(Bstr("Name").get()), S_OK);
  EXPECT_EQ(Column(rs.get(), u"name"), (std::vector<std::string>{"Alice", "bob", "carol"}));
  ASSERT_EQ(rs->put_Sort(Bstr("Name DESC").get()), S_OK);
  EXPECT_EQ(Column(rs.get(), u"Name"), (std::vector<std::string>{"carol", "bob", "Alice"}));
  ASSERT_EQ(rs->put_Sort(Bstr("").get()), S_OK);
  EXPECT_EQ(Column(rs.get(), u"Name"), (std::vector<std::string>{"bob", "Alice", "carol"}));
  EXPECT_EQ(rs->CancelUpdate(), S_OK);
  ASSERT_EQ(rs->Close(), S_OK);

  // A table name opens the whole table, with a lock the writer below does not wait for.
  ASSERT_EQ(rs->Open(Variant::Str("T"), Variant::Dispatch(conn_.get()), adOpenKeyset, adLockOptimistic, adCmdTable),
            S_OK);
  Exec("DELETE FROM T");
  EXPECT_EQ(Column(rs.get(), u"Name").size(), 3u);
}

TEST_F(JetTest, TextOfUnknownTypeThatIsOneNameOpensTheTable) {
  for (int i = 0; i < 3; ++i) Exec("INSERT INTO T (Id, Name) VALUES (" + std::to_string(i) + ", 'n')");
  auto NewRecordset = [] { return *ado::CreateRecordset(); };
  const char* const names[] = {"T", "[T]"};
  for (const char* name : names) {
    ComPtr<_Recordset> rs = NewRecordset();
    ASSERT_EQ(rs->Open(Variant::Str(name), Variant::Dispatch(conn_.get()), adOpenStatic, adLockOptimistic, adCmdUnknown),
              S_OK)
        << name << ": " << TakeError().description;
    EXPECT_EQ(Column(rs.get(), u"Name").size(), 3u) << name;
  }
  // Anything else is still a statement: "T x" is not a name, and the engine says why.
  ComPtr<_Recordset> rs = NewRecordset();
  EXPECT_EQ(rs->Open(Variant::Str("T x"), Variant::Dispatch(conn_.get()), adOpenStatic, adLockOptimistic, adCmdUnknown),
            E_FAIL);
  EXPECT_FALSE(TakeError().description.empty());
}

TEST_F(JetTest, CommandRunsItsTextOnItsConnection) {
  Exec("INSERT INTO T (Id, Name) VALUES (5, 'five')");
  auto made = ado::CreateCommand();
  ASSERT_TRUE(made.ok());
  ComPtr<_Command> cmd = *made;
  ComPtr<_Recordset> rs;
  EXPECT_EQ(cmd->Execute(Variant(), Variant(), -1, rs.put()), static_cast<HRESULT>(0x800A0E7D));
  ASSERT_EQ(cmd->put_ActiveConnection(Variant::Dispatch(conn_.get())), S_OK);
  ASSERT_EQ(cmd->put_CommandText(Bstr("SELECT Name FROM T WHERE Id = 5").get()), S_OK);
  ASSERT_EQ(cmd->Execute(Variant(), Variant(), adCmdText, rs.put()), S_OK);
  EXPECT_EQ(com::BstrToUtf8(Value(rs.get(), u"Name").bstrVal), "five");
  ComPtr<_Connection> back;
  ASSERT_EQ(cmd->get_ActiveConnection(back.put()), S_OK);
  EXPECT_EQ(back.get(), conn_.get());

  ASSERT_EQ(cmd->put_CommandType(adCmdStoredProc), S_OK);
  EXPECT_EQ(cmd->Execute(Variant(), Variant(), adCmdText, rs.put()), E_FAIL);
  EXPECT_NE(TakeError().description.find("stored procedures"), std::string::npos);
}

TEST_F(JetTest, LateBoundExecuteWithOmittedArguments) {
  Exec("INSERT INTO T (Id, Name) VALUES (9, 'nine')");
  ComPtr<IDispatch> disp;
  ASSERT_EQ(conn_->QueryInterface(IID_IDispatch, disp.put_void()), S_OK);
  OLECHAR name[] = u"execute";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  ASSERT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 6);
  Variant arg = Variant::Str("SELECT Name FROM T");
  DISPPARAMS params{&arg, nullptr, 1, 0};
  Variant result;
  ASSERT_EQ(disp->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result.put(), nullptr, nullptr), S_OK);
  ASSERT_EQ(result.vt, VT_DISPATCH);
  ComPtr<_Recordset> rs;
  ASSERT_EQ(result.pdispVal->QueryInterface(IID__Recordset, rs.put_void()), S_OK);
  EXPECT_EQ(com::BstrToUtf8(Value(rs.get(), u"Name").bstrVal), "nine");
}

}  // namespace
