// The ADO stand-in on the ODBC provider, through the real unixODBC driver manager. The SQLite ODBC
// driver stands in for SQL Server: the tests register it under the driver name "SQL Server" (and
// a data source for the SQLOLEDB strings) in configuration files of their own.
#include "platform/ado/odbc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/com/bstr.h"
#include "platform/com/date.h"
#include "platform/com/variant.h"
#include "tests/ado/typed_fields.h"
#include "tests/support/temp_dir.h"

#if defined(__SANITIZE_ADDRESS__)
// The SQLite ODBC driver leaks the attributes it reads for a data source (DSN=...) on every
// connection, in a plain C program as much as here; the leak is the driver's, not ours. Its
// frames are found only by the slow unwinder (the driver has no frame pointers).
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libsqlite3odbc.so\n";
}
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "fast_unwind_on_malloc=0";
}
#endif

namespace {

using com::Bstr;
using com::ComPtr;
using com::Variant;

constexpr HRESULT kErrObjectClosed = static_cast<HRESULT>(0x800A0E78);
constexpr HRESULT kErrObjectOpen = static_cast<HRESULT>(0x800A0E79);
constexpr HRESULT kErrNoCurrentRecord = static_cast<HRESULT>(0x800A0BCD);
constexpr char kOdbcSource[] = "Microsoft OLE DB Provider for ODBC Drivers";
constexpr char kExpressDsn[] = "SQLEXPRESS";
constexpr char kOtherDsn[] = "OtherExpress";
constexpr char kAlternativeDriver[] = "Test Alternative Driver";

struct ErrorText {
  std::string source;
  std::string description;
};

ErrorText TakeError() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  Bstr source, description;
  info->GetSource(source.put());
  info->GetDescription(description.put());
  return {source.utf8(), description.utf8()};
}

std::optional<std::filesystem::path> SqliteOdbcDriver() {
  std::error_code ec;
  for (const auto& dir : std::filesystem::directory_iterator("/usr/lib", ec)) {
    const auto candidate = dir.path() / "odbc" / "libsqlite3odbc.so";
    if (std::filesystem::exists(candidate, ec)) return candidate;
  }
  return std::nullopt;
}

// The driver manager's configuration for this process: odbcinst.ini registers the SQLite driver
// as "SQL Server" and as kAlternativeDriver; odbc.ini has the data sources kExpressDsn and
// kOtherDsn, each on a database file of its own. unixODBC reads ODBCSYSINI, ODBCINSTINI and
// ODBCINI when it first needs them, so they are set once, before any connection.
struct OdbcConfig {
  qva::testing::TempDir dir;
  std::optional<std::filesystem::path> driver = SqliteOdbcDriver();
  std::filesystem::path express_db = dir.path() / "express.db";
  std::filesystem::path other_db = dir.path() / "other.db";

  OdbcConfig() {
    if (!driver) return;
    std::ofstream(dir.path() / "odbcinst.ini") << "[SQL Server]\nDriver=" << driver->string() << "\n\n["
                                               << kAlternativeDriver << "]\nDriver=" << driver->string() << "\n";
    std::ofstream(dir.path() / "odbc.ini")
        << "[" << kExpressDsn << "]\nDriver=SQL Server\nDatabase=" << express_db.string() << "\n\n[" << kOtherDsn
        << "]\nDriver=SQL Server\nDatabase=" << other_db.string() << "\n";
    setenv("ODBCSYSINI", dir.path().c_str(), 1);
    setenv("ODBCINSTINI", "odbcinst.ini", 1);
    setenv("ODBCINI", (dir.path() / "odbc.ini").c_str(), 1);
    unsetenv("QVA_ODBC_DRIVER");
    unsetenv("QVA_SQLEXPRESS_DSN");
  }
};

const OdbcConfig& Config() {
  static const OdbcConfig config;
  return config;
}

// Sets an environment variable for the scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string DriverString(const std::filesystem::path& db) {
  return "Driver={SQL Server};Server=db1;Trusted_Connection=no;Database=" + db.string() + ";Uid=sa;Pwd=x;";
}

std::string ExpressString(const std::optional<std::filesystem::path>& db) {
  std::string s = "Provider=SQLOLEDB.1;Data Source=.\\SQLEXPRESS;Integrated Security=SSPI;Persist Security Info=False;";
  if (db) s += "Database=" + db->string() + ";";
  return s;
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

LONG StateOf(_Connection* c) {
  LONG state = -1;
  EXPECT_EQ(c->get_State(&state), S_OK);
  return state;
}

HRESULT RunNoRecords(_Connection* c, const std::string& sql) {
  return c->Execute(Bstr(sql).get(), Variant(), adExecuteNoRecords, nullptr);
}

Variant Value(_Recordset* rs, std::u16string_view name) {
  ComPtr<Fields> fields;
  EXPECT_EQ(rs->get_Fields(fields.put()), S_OK);
  ComPtr<Field> field;
  Variant v;
  if (fields->get_Item(Variant::Str(name), field.put()) == S_OK) field->get_Value(v.put());
  return v;
}

bool AtEnd(_Recordset* rs) {
  VARIANT_BOOL eof = VARIANT_FALSE;
  EXPECT_EQ(rs->get_EOF(&eof), S_OK);
  return eof == VARIANT_TRUE;
}

// Every value of a column as text ("NULL" for a null), in recordset order.
std::vector<std::string> Column(_Recordset* rs, std::u16string_view name) {
  std::vector<std::string> out;
  while (!AtEnd(rs)) {
    Variant v = Value(rs, name);
    if (v.vt == VT_NULL) {
      out.push_back("NULL");
    } else {
      EXPECT_EQ(v.ChangeType(VT_BSTR), S_OK);
      out.push_back(com::BstrToUtf8(v.bstrVal));
    }
    EXPECT_EQ(rs->MoveNext(), S_OK);
  }
  return out;
}

class OdbcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Config().driver) GTEST_SKIP() << "the SQLite ODBC driver (libsqlite3odbc.so, package libsqliteodbc) is absent";
    db_ = dir_.path() / "vodrik.db";
    conn_ = NewConnection();
    ASSERT_EQ(conn_->put_CommandTimeout(0), S_OK);
    ASSERT_EQ(conn_->put_ConnectionTimeout(30), S_OK);
    ASSERT_EQ(OpenWith(conn_.get(), DriverString(db_)), S_OK) << TakeError().description;
    Exec(
        "CREATE TABLE T (Id int, Small smallint, Big bigint, Amount float, Ratio real, Name varchar(50),"
        " Note text, LastTime datetime, Day date)");
  }

  void Exec(const std::string& sql) {
    ASSERT_EQ(RunNoRecords(conn_.get(), sql), S_OK) << sql << ": " << TakeError().description;
  }

  ComPtr<_Recordset> Query(const std::string& sql) {
    ComPtr<_Recordset> rs;
    EXPECT_EQ(conn_->Execute(Bstr(sql).get(), Variant(), -1, rs.put()), S_OK) << sql << ": " << TakeError().description;
    return rs;
  }

  qva::testing::TempDir dir_;
  std::filesystem::path db_;
  ComPtr<_Connection> conn_;
};

TEST(OdbcConnectionString, AdoStringsMapToOdbcStrings) {
  struct Case {
    const char* ado;
    std::optional<std::string_view> driver;
    const char* dsn;
    const char* odbc;
  } const cases[] = {
      // As written when no driver is named in the environment.
      {"Driver={SQL Server};Server=db1;Trusted_Connection=no;Database=vodrik;Uid=sa;Pwd=x;", std::nullopt, "SQLEXPRESS",
       "Driver={SQL Server};Server=db1;Trusted_Connection=no;Database=vodrik;Uid=sa;Pwd=x;"},
      // The environment's driver replaces "SQL Server", however it is written, and nothing else.
      {"Driver={SQL Server};Server=db1;Database=;Uid=sa;Pwd=x;", "FreeTDS", "SQLEXPRESS",
       "Driver={FreeTDS};Server=db1;Database=;Uid=sa;Pwd=x;"},
      {"Server=db1; driver = SQL Server ;Pwd={a;b}", "ODBC Driver 18 for SQL Server", "SQLEXPRESS",
       "Server=db1; driver = {ODBC Driver 18 for SQL Server} ;Pwd={a;b}"},
      {"Driver={PostgreSQL};Server=db1;", "FreeTDS", "SQLEXPRESS", "Driver={PostgreSQL};Server=db1;"},
      {"Driver={SQL Server};Pwd={x;Driver={SQL Server}}}", "Odd}Name", "SQLEXPRESS",
       "Driver={Odd}}Name};Pwd={x;Driver={SQL Server}}}"},
      // SQLOLEDB names the local instance: its data source, and the database when given.
      {"Provider=SQLOLEDB.1;Data Source=.\\SQLEXPRESS;Integrated Security=SSPI;Persist Security Info=False;",
       std::nullopt, "SQLEXPRESS", "DSN=SQLEXPRESS;"},
      {"Provider=SQLOLEDB.1;Data Source=.\\SQLEXPRESS;Integrated Security=SSPI;Persist Security Info=False;"
       "Database=vodrik;",
       "FreeTDS", "Local Express", "DSN=Local Express;Database=vodrik;"},
      {"Provider=sqloledb;Initial Catalog=my;db;User ID=sa;Password= p;w ", std::nullopt, "X",
       "DSN=X;Database=my;UID=sa;PWD=p;"},
      {"Provider=SQLOLEDB;Database={a;b};Password={ spaced }", std::nullopt, "X",
       "DSN=X;Database={a;b};PWD={ spaced };"},
      // The ODBC bridge's strings lose only their Provider pair.
      {"Provider=MSDASQL.1;DSN=Remote;Uid=u;", std::nullopt, "X", "DSN=Remote;Uid=u;"},
      {"DSN=Remote;Provider=MSDASQL", std::nullopt, "X", "DSN=Remote;"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ado::odbc::MapConnectionString(c.ado, c.driver, c.dsn), c.odbc) << c.ado;
  }
}

TEST_F(OdbcTest, FieldsAreTypedByTheirColumnType) {
  Exec(
      "INSERT INTO T VALUES (2000000000, -32768, 9000000000, 1234567.891, 0.5, 'O''Brien', 'note',"
      " '2011-08-01 10:20:30', '2011-08-05')");
  Exec("INSERT INTO T VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
  auto rs = Query("SELECT * FROM T ORDER BY Id DESC");
  ASSERT_TRUE(rs);
  ComPtr<Fields> fields;
  ASSERT_EQ(rs->get_Fields(fields.put()), S_OK);
  qva::testing::ExpectFields(fields.get(), qva::testing::TypedRow("O'Brien"));
  // The second row: every column null, the column types unchanged.
  ASSERT_EQ(rs->MoveNext(), S_OK);
  ASSERT_FALSE(AtEnd(rs.get()));
  qva::testing::ExpectFields(fields.get(), qva::testing::TypedRow("O'Brien"), /*null=*/true);
  ASSERT_EQ(rs->MoveNext(), S_OK);
  EXPECT_TRUE(AtEnd(rs.get()));
}

TEST_F(OdbcTest, StatementsChangeRowsAsWritten) {
  struct Step {
    const char* sql;
    std::vector<std::string> names;  // Name by Id afterwards
  } const steps[] = {
      {"INSERT INTO T (Id, Name) VALUES (1, 'O''Brien')", {"O'Brien"}},
      {"INSERT INTO T (Id, Name) VALUES (2, 'b'), (3, 'c')", {"O'Brien", "b", "c"}},
      {"UPDATE T SET Name = Name || '!' WHERE Id >= 2", {"O'Brien", "b!", "c!"}},
      {"UPDATE T SET Name = 'none' WHERE Id = 99", {"O'Brien", "b!", "c!"}},
      {"DELETE FROM T WHERE Name = 'O''Brien'", {"b!", "c!"}},
      {"UPDATE T SET Name = NULL WHERE Id = 3", {"b!", "NULL"}},
      {"DELETE FROM T", {}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.sql);
    Exec(s.sql);
    auto rs = Query("SELECT Name FROM T ORDER BY Id");
    ASSERT_TRUE(rs);
    EXPECT_EQ(Column(rs.get(), u"Name"), s.names);
  }
}

TEST_F(OdbcTest, LongTextIsReadWhole) {
  std::string long_text;
  for (int i = 0; i < 5000; ++i) long_text += static_cast<char>('a' + i % 26);
  Exec("INSERT INTO T (Id, Note) VALUES (1, '" + long_text + "')");
  Variant v = Value(Query("SELECT Note FROM T").get(), u"Note");
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(com::BstrToUtf8(v.bstrVal), long_text);
}

TEST_F(OdbcTest, EngineErrorIsEFailWithTheDriversDiagnostic) {
  struct Case {
    const char* sql;
    const char* diagnostic;
  } const cases[] = {
      {"SELEC * FROM T", "syntax error"},
      {"SELECT * FROM Nowhere", "no such table"},
      {"INSERT INTO Nowhere VALUES (1)", "no such table"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    ComPtr<_Recordset> rs;
    EXPECT_EQ(conn_->Execute(Bstr(c.sql).get(), Variant(), -1, rs.put()), E_FAIL);
    EXPECT_FALSE(rs);
    const ErrorText e = TakeError();
    EXPECT_EQ(e.source, kOdbcSource);
    EXPECT_NE(e.description.find(c.diagnostic), std::string::npos) << e.description;
  }
  // The connection stays usable.
  Exec("INSERT INTO T (Id) VALUES (1)");
}

TEST_F(OdbcTest, StoredProcedureCommandReachesTheDriverAsACallEscape) {
  auto made = ado::CreateCommand();
  ASSERT_TRUE(made.ok());
  ComPtr<_Command> cmd = *made;
  ASSERT_EQ(cmd->put_ActiveConnection(Variant::Dispatch(conn_.get())), S_OK);
  ASSERT_EQ(cmd->put_CommandText(Bstr("sp_report").get()), S_OK);
  ASSERT_EQ(cmd->put_CommandType(adCmdStoredProc), S_OK);
  ComPtr<_Recordset> rs;
  // SQLite has no procedures: what matters is that the driver, not the stand-in, answers, and
  // that it was sent the name.
  EXPECT_EQ(cmd->Execute(Variant(), Variant(), adCmdStoredProc, rs.put()), E_FAIL);
  const ErrorText e = TakeError();
  EXPECT_EQ(e.source, kOdbcSource);
  EXPECT_NE(e.description.find("sp_report"), std::string::npos) << e.description;
}

TEST_F(OdbcTest, StatementsRunWhileAForwardOnlyRecordsetIsRead) {
  for (int i = 1; i <= 3; ++i) Exec("INSERT INTO T (Id, Name) VALUES (" + std::to_string(i) + ", 'n')");
  auto rs = Query("SELECT Id FROM T ORDER BY Id");
  ASSERT_TRUE(rs);
  std::vector<LONG> seen;
  while (!AtEnd(rs.get())) {
    const Variant id = Value(rs.get(), u"Id");
    ASSERT_EQ(id.vt, VT_I4);
    seen.push_back(id.lVal);
    Exec("UPDATE T SET Name = 'seen' WHERE Id = " + std::to_string(id.lVal));
    ASSERT_EQ(rs->MoveNext(), S_OK);
  }
  EXPECT_EQ(seen, (std::vector<LONG>{1, 2, 3}));
  EXPECT_EQ(rs->MoveNext(), kErrNoCurrentRecord);
  EXPECT_EQ(Column(Query("SELECT Name FROM T").get(), u"Name"), (std::vector<std::string>{"seen", "seen", "seen"}));
}

TEST_F(OdbcTest, IntegersOutsideTheirColumnTypeFailInsteadOfWrapping) {
  struct Case {
    const char* values;  // (Id, Small)
    const char* column;
  } const cases[] = {
      {"1, 40000", "Small"},
      {"1, -32769", "Small"},
      {"3000000000, 1", "Id"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.values);
    Exec("DELETE FROM T");
    Exec(std::string("INSERT INTO T (Id, Small) VALUES (") + c.values + ")");
    ComPtr<_Recordset> rs;
    EXPECT_EQ(conn_->Execute(Bstr("SELECT Id, Small FROM T").get(), Variant(), -1, rs.put()), E_FAIL);
    const ErrorText e = TakeError();
    EXPECT_EQ(e.source, kOdbcSource);
    EXPECT_NE(e.description.find("of column " + std::string(c.column) + " is not in the range"), std::string::npos)
        << e.description;
  }
}

TEST_F(OdbcTest, AnErrorInRowsReadAheadForAnotherStatementComesAtItsRow) {
  Exec("INSERT INTO T (Id, Small) VALUES (1, 10), (2, 40000), (3, 30)");
  auto rs = Query("SELECT Id, Small FROM T ORDER BY Id");
  ASSERT_TRUE(rs);
  // The statement makes the recordset read its other rows now; the bad one is not its failure.
  Exec("UPDATE T SET Name = 'x'");
  EXPECT_EQ(Value(rs.get(), u"Small").iVal, 10);
  EXPECT_EQ(rs->MoveNext(), E_FAIL);
  EXPECT_NE(TakeError().description.find("40000"), std::string::npos);
}

TEST_F(OdbcTest, SqlOleDbStringsOpenTheDataSourceOfTheLocalInstance) {
  Exec("INSERT INTO T (Id, Name) VALUES (1, 'here')");
  // With a database: the data source's driver on that database.
  ComPtr<_Connection> c = NewConnection();
  ASSERT_EQ(OpenWith(c.get(), ExpressString(db_)), S_OK) << TakeError().description;
  ComPtr<_Recordset> rs;
  ASSERT_EQ(c->Execute(Bstr("SELECT Name FROM T").get(), Variant(), -1, rs.put()), S_OK);
  EXPECT_EQ(Column(rs.get(), u"Name"), std::vector<std::string>{"here"});

  // Without one: the data source's own database, of the data source the environment names.
  struct Case {
    const char* dsn_env;  // null: unset
    std::filesystem::path db;
  } const cases[] = {{nullptr, Config().express_db}, {kOtherDsn, Config().other_db}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.db.string());
    std::optional<ScopedEnv> env;
    if (k.dsn_env) env.emplace("QVA_SQLEXPRESS_DSN", k.dsn_env);
    std::filesystem::remove(k.db);
    ComPtr<_Connection> local = NewConnection();
    ASSERT_EQ(OpenWith(local.get(), ExpressString(std::nullopt)), S_OK) << TakeError().description;
    ASSERT_EQ(RunNoRecords(local.get(), "CREATE TABLE Probe (Id int)"), S_OK) << TakeError().description;
    ASSERT_EQ(local->Close(), S_OK);
    EXPECT_TRUE(std::filesystem::exists(k.db));
  }
}

TEST_F(OdbcTest, OpenFailsWithTheDriverManagersDiagnostic) {
  struct Case {
    const char* variable;
    const char* value;
    std::string connection_string;
  } const cases[] = {
      {"QVA_ODBC_DRIVER", "No Such Driver", DriverString(db_)},
      {"QVA_SQLEXPRESS_DSN", "NoSuchSource", ExpressString(db_)},
      {"QVA_ODBC_DRIVER", kAlternativeDriver, "Driver={Unregistered Driver};Database=" + db_.string() + ";"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ScopedEnv env(c.variable, c.value);
    ComPtr<_Connection> other = NewConnection();
    EXPECT_EQ(OpenWith(other.get(), c.connection_string), E_FAIL);
    const ErrorText e = TakeError();
    EXPECT_EQ(e.source, kOdbcSource);
    EXPECT_NE(e.description.find("[unixODBC][Driver Manager]"), std::string::npos) << e.description;
    EXPECT_EQ(StateOf(other.get()), adStateClosed);
  }
  // A driver the environment names that is registered is used in place of "SQL Server".
  ScopedEnv env("QVA_ODBC_DRIVER", kAlternativeDriver);
  ComPtr<_Connection> other = NewConnection();
  EXPECT_EQ(OpenWith(other.get(), DriverString(db_)), S_OK) << TakeError().description;
  EXPECT_EQ(RunNoRecords(other.get(), "INSERT INTO T (Id) VALUES (1)"), S_OK);
}

// Connection states are the same whatever the provider.
class ConnectionStateTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const std::string kind = GetParam();
    if (kind != "jet" && !Config().driver) GTEST_SKIP() << "the SQLite ODBC driver (libsqlite3odbc.so) is absent";
    const auto file = dir_.path() / "state.db";
    std::ofstream(file).close();
    const auto second = dir_.path() / "second.db";
    std::ofstream(second).close();
    if (kind == "jet") {
      string_ = JetString(file);
      other_ = JetString(second);
    } else if (kind == "odbc") {
      string_ = DriverString(file);
      other_ = DriverString(second);
    } else {
      string_ = ExpressString(file);
      other_ = ExpressString(second);
    }
  }

  qva::testing::TempDir dir_;
  std::string string_;
  std::string other_;
};

TEST_P(ConnectionStateTest, OpenCloseAndReopen) {
  ComPtr<_Connection> c = NewConnection();
  EXPECT_EQ(StateOf(c.get()), adStateClosed);
  EXPECT_EQ(RunNoRecords(c.get(), "SELECT 1"), kErrObjectClosed);
  EXPECT_EQ(c->Close(), kErrObjectClosed);

  ASSERT_EQ(OpenWith(c.get(), string_), S_OK) << TakeError().description;
  EXPECT_EQ(StateOf(c.get()), adStateOpen);
  EXPECT_EQ(c->put_ConnectionString(Bstr(other_).get()), kErrObjectOpen);
  EXPECT_EQ(c->put_ConnectionTimeout(5), kErrObjectOpen);
  // A second open fails and leaves the first connection in use.
  EXPECT_EQ(OpenWith(c.get(), other_), kErrObjectOpen);
  ASSERT_EQ(RunNoRecords(c.get(), "CREATE TABLE T (Id int)"), S_OK) << TakeError().description;
  ASSERT_EQ(RunNoRecords(c.get(), "INSERT INTO T VALUES (1)"), S_OK);
  Bstr text;
  ASSERT_EQ(c->get_ConnectionString(text.put()), S_OK);
  EXPECT_EQ(text.utf8(), string_);

  // A recordset still being read keeps its rows after the connection closes.
  ComPtr<_Recordset> rs;
  ASSERT_EQ(c->Execute(Bstr("SELECT Id FROM T").get(), Variant(), -1, rs.put()), S_OK);
  ASSERT_EQ(c->Close(), S_OK);
  EXPECT_EQ(StateOf(c.get()), adStateClosed);
  EXPECT_EQ(Column(rs.get(), u"Id"), std::vector<std::string>{"1"});
  EXPECT_EQ(c->Close(), kErrObjectClosed);
  EXPECT_EQ(RunNoRecords(c.get(), "INSERT INTO T VALUES (2)"), kErrObjectClosed);

  // Reopened with its own connection string, it sees what it wrote before.
  ASSERT_EQ(c->Open(Variant(), Variant(), Variant(), -1), S_OK) << TakeError().description;
  EXPECT_EQ(StateOf(c.get()), adStateOpen);
  ASSERT_EQ(c->Execute(Bstr("SELECT Id FROM T").get(), Variant(), -1, rs.put()), S_OK);
  EXPECT_EQ(Column(rs.get(), u"Id"), std::vector<std::string>{"1"});
}

INSTANTIATE_TEST_SUITE_P(Providers, ConnectionStateTest, ::testing::Values("jet", "odbc", "sqloledb"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
