// The database object: what it sends to its connections (through a recording connection) and
// what it does to a real embedded database (a fresh copy of the Vodrik.ntt template).
#include "qvacom/storage/database.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/variant.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"
#include "tests/support/temp_dir.h"

namespace {

using com::Bstr;
using com::ComPtr;
using qva::CQVADataBase;

// ---------------------------------------------------------------------------------------------
// A connection double that writes what it is asked into a log shared by every connection the
// factory made, and refuses the opens and statements it is told to refuse.

struct Log {
  std::vector<std::string> events;
  std::function<bool(const std::string&)> refuse_open = [](const std::string&) { return false; };
  std::function<bool(const std::string&)> refuse_statement = [](const std::string&) { return false; };
};

class RecordingConnection : public com::Dispatch<_Connection> {
 public:
  explicit RecordingConnection(std::shared_ptr<Log> log) : log_(std::move(log)) {}
  QVA_DECL__Connection;

 private:
  HRESULT Refuse(const std::string& what) {
    return com::ReportError(E_FAIL, "Recording", "refused: " + what, IID__Connection);
  }
  std::shared_ptr<Log> log_;
  LONG command_timeout_ = 30;
  LONG connection_timeout_ = 15;
  bool open_ = false;
  CursorLocationEnum location_ = adUseServer;
};

HRESULT RecordingConnection::get_ConnectionString(BSTR* out) {
  *out = nullptr;
  return S_OK;
}
HRESULT RecordingConnection::put_ConnectionString(BSTR) { return S_OK; }
HRESULT RecordingConnection::get_CommandTimeout(LONG* out) {
  *out = command_timeout_;
  return S_OK;
}
HRESULT RecordingConnection::put_CommandTimeout(LONG v) {
  command_timeout_ = v;
  return S_OK;
}
HRESULT RecordingConnection::get_ConnectionTimeout(LONG* out) {
  *out = connection_timeout_;
  return S_OK;
}
HRESULT RecordingConnection::put_ConnectionTimeout(LONG v) {
  connection_timeout_ = v;
  return S_OK;
}
HRESULT RecordingConnection::Close() {
  log_->events.push_back("close");
  open_ = false;
  return S_OK;
}
HRESULT RecordingConnection::Execute(BSTR text, VARIANT, LONG options, _Recordset** out) {
  if (out) *out = nullptr;
  const std::string t = com::BstrToUtf8(text);
  log_->events.push_back(qva::sql::Format("exec %x %s", static_cast<unsigned>(options), t.c_str()));
  if (!open_ || log_->refuse_statement(t)) return Refuse(t);
  return S_OK;
}
HRESULT RecordingConnection::Open(VARIANT cs, VARIANT user, VARIANT password, LONG) {
  const std::string s = qva::VariantText(cs);
  // Time-outs as they stand at the open, user and password as given.
  log_->events.push_back(qva::sql::Format("open %d/%d '%s'/'%s' %s", static_cast<int>(command_timeout_),
                                          static_cast<int>(connection_timeout_), qva::VariantText(user).c_str(),
                                          qva::VariantText(password).c_str(), s.c_str()));
  if (open_ || log_->refuse_open(s)) return Refuse(s);
  open_ = true;
  return S_OK;
}
HRESULT RecordingConnection::get_CursorLocation(CursorLocationEnum* out) {
  *out = location_;
  return S_OK;
}
HRESULT RecordingConnection::put_CursorLocation(CursorLocationEnum v) {
  log_->events.push_back(qva::sql::Format("cursor %d", static_cast<int>(v)));
  location_ = v;
  return S_OK;
}
HRESULT RecordingConnection::get_State(LONG* out) {
  *out = open_ ? adStateOpen : adStateClosed;
  return S_OK;
}

// The database object on recording connections; every connection made is logged as "new".
struct Recorded {
  std::shared_ptr<Log> log = std::make_shared<Log>();
  ComPtr<CQVADataBase> db;

  Recorded() {
    auto made = com::CreateObject<CQVADataBase>([log = log]() -> com::Expected<ComPtr<_Connection>> {
      log->events.push_back("new");
      auto c = com::CreateObject<RecordingConnection>(log);
      if (!c) return com::Fail{c.error()};
      return ComPtr<_Connection>(c->get());
    });
    EXPECT_TRUE(made.ok());
    db = *made;
  }
};

std::string Delimiter(IQVADataBase* db) {
  Bstr d;
  EXPECT_EQ(db->get_Delimiter(d.put()), S_OK);
  return d.utf8();
}
LONG Type(IQVADataBase* db) {
  LONG t = -1;
  EXPECT_EQ(db->get_DataBaseType(&t), S_OK);
  return t;
}
VARIANT_BOOL Connected(IQVADataBase* db) {
  VARIANT_BOOL c = -7;
  EXPECT_EQ(db->get_IsConnected(&c), S_OK);
  return c;
}
ComPtr<IUnknown> ConnectionOf(IQVADataBase* db) {
  ComPtr<IUnknown> c;
  EXPECT_EQ(db->get_Connection(c.put()), S_OK);
  return c;
}
std::string ErrorDescription() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  Bstr d;
  info->GetDescription(d.put());
  return d.utf8();
}

const std::string kJet =
    "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/data/Vodrik_e.ntf;Jet OLEDB:Database Password=KestrelGate;Persist "
    "Security Info=False";
const std::string kServer = "Driver={SQL Server};Server=srv;Trusted_Connection=no;Database=vodrik;Uid=sa;Pwd=pw;";
const std::string kServerNoDatabase = "Driver={SQL Server};Server=srv;Trusted_Connection=no;Database=;Uid=sa;Pwd=pw;";
const std::string kExpressInstance =
    "Provider=SQLOLEDB.1;Data Source=.\\SQLEXPRESS;Integrated Security=SSPI;Persist Security Info=False;";
const std::string kExpressDatabase = kExpressInstance + "Database=db;";

std::string Opened(int command_timeout, int connection_timeout, const std::string& cs) {
  return qva::sql::Format("open %d/%d ''/'' %s", command_timeout, connection_timeout, cs.c_str());
}

TEST(DataBaseRecordedTest, EachOpenerSendsItsStringAndTimeOutsAndSetsItsState) {
  const Bstr file("/data/Vodrik_e.ntf"), srv("srv"), sa("sa"), pw("pw"), db("db"), f("f"), l("l");
  struct Case {
    const char* name;
    std::function<HRESULT(IQVADataBase*)> call;
    std::vector<std::string> events;
    const char* delimiter;  // after the call
    LONG type;
    VARIANT_BOOL connected;
  } cases[] = {
      {"OpenAccess",
       [&](IQVADataBase* d) { return d->OpenAccess(file.get()); },
       {"new", Opened(0, 0, kJet)},
       "#",
       qva::kDataBaseJet,
       1},
      {"OpenSqlserver",
       [&](IQVADataBase* d) { return d->OpenSqlserver(srv.get(), sa.get(), pw.get()); },
       {"new", Opened(0, 60, kServer)},
       "'",
       qva::kDataBaseSqlServer,
       1},
      {"OpenSqlExpress without Attach",
       [&](IQVADataBase* d) { return d->OpenSqlExpress(db.get(), f.get(), l.get(), VARIANT_FALSE); },
       {"new", Opened(0, 60, kExpressDatabase)},
       "'",
       qva::kDataBaseSqlExpress,
       1},
      {"OpenSqlExpress with Attach",
       [&](IQVADataBase* d) { return d->OpenSqlExpress(db.get(), f.get(), l.get(), VARIANT_TRUE); },
       {"new", Opened(0, 30, kExpressInstance), "exec 80 sp_detach_db 'db'", "exec 80 sp_attach_db 'db','f','l'",
        "close", "new", Opened(0, 60, kExpressDatabase)},
       "'",
       qva::kDataBaseSqlExpress,
       1},
      {"Connect",
       [&](IQVADataBase* d) { return d->Connect(srv.get(), sa.get(), pw.get()); },
       {"new", Opened(0, 30, kServer), "close"},
       "",
       qva::kDataBaseJet,
       0},
      {"ConnectSqlExpress",
       [&](IQVADataBase* d) { return d->ConnectSqlExpress(); },
       {"new", Opened(0, 30, kExpressInstance), "close"},
       "",
       qva::kDataBaseJet,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recorded r;
    EXPECT_EQ(c.call(r.db.get()), S_OK);
    EXPECT_EQ(r.log->events, c.events);
    EXPECT_EQ(Delimiter(r.db.get()), c.delimiter);
    EXPECT_EQ(Type(r.db.get()), c.type);
    EXPECT_EQ(Connected(r.db.get()), c.connected);
    EXPECT_EQ(static_cast<bool>(ConnectionOf(r.db.get())), c.connected == 1);
  }
}

TEST(DataBaseRecordedTest, AFailedDetachIsIgnoredAndAFailedAttachOpensNothing) {
  const Bstr db("db"), f("f"), l("l");
  {
    Recorded r;
    r.log->refuse_statement = [](const std::string& s) { return s.starts_with("sp_detach_db"); };
    EXPECT_EQ(r.db->OpenSqlExpress(db.get(), f.get(), l.get(), VARIANT_TRUE), S_OK);
    EXPECT_EQ(Connected(r.db.get()), 1);
  }
  {
    Recorded r;
    r.log->refuse_statement = [](const std::string& s) { return s.starts_with("sp_attach_db"); };
    EXPECT_EQ(r.db->OpenSqlExpress(db.get(), f.get(), l.get(), VARIANT_TRUE), E_FAIL);
    EXPECT_EQ(r.log->events,
              (std::vector<std::string>{"new", Opened(0, 30, kExpressInstance), "exec 80 sp_detach_db 'db'",
                                        "exec 80 sp_attach_db 'db','f','l'", "close"}));
    EXPECT_EQ(Connected(r.db.get()), 0);
    EXPECT_EQ(ErrorDescription(), "refused: sp_attach_db 'db','f','l'");
  }
}

TEST(DataBaseRecordedTest, AttachNamesCannotEndTheirQuotes) {
  const Bstr db("o'db"), f("/x/it's.mdf"), l("l");
  Recorded r;
  EXPECT_EQ(r.db->OpenSqlExpress(db.get(), f.get(), l.get(), VARIANT_TRUE), S_OK);
  ASSERT_GE(r.log->events.size(), 4u);
  EXPECT_EQ(r.log->events[2], "exec 80 sp_detach_db 'o''db'");
  EXPECT_EQ(r.log->events[3], "exec 80 sp_attach_db 'o''db','/x/it''s.mdf','l'");
}

TEST(DataBaseRecordedTest, AFailedOpenLeavesTheStateAsItWas) {
  const Bstr file("/data/Vodrik_e.ntf"), srv("srv"), sa("sa"), pw("wrong");
  Recorded r;
  r.log->refuse_open = [](const std::string& s) { return s.find("Pwd=wrong;") != std::string::npos; };
  EXPECT_EQ(r.db->OpenSqlserver(srv.get(), sa.get(), pw.get()), E_FAIL);
  EXPECT_EQ(Connected(r.db.get()), 0);
  EXPECT_EQ(Delimiter(r.db.get()), "");
  EXPECT_FALSE(ConnectionOf(r.db.get()));

  // A login test with a wrong password fails and leaves the object's own connection alone.
  ASSERT_EQ(r.db->OpenAccess(file.get()), S_OK);
  const ComPtr<IUnknown> kept = ConnectionOf(r.db.get());
  r.log->events.clear();
  EXPECT_EQ(r.db->Connect(srv.get(), sa.get(), pw.get()), E_FAIL);
  EXPECT_EQ(r.log->events,
            (std::vector<std::string>{
                "new",
                Opened(0, 30, "Driver={SQL Server};Server=srv;Trusted_Connection=no;Database=vodrik;Uid=sa;Pwd=wrong;"),
            }));
  EXPECT_EQ(ConnectionOf(r.db.get()), kept);
  EXPECT_EQ(Delimiter(r.db.get()), "#");

  // A second kept open fails without touching the kept connection (its time-outs included).
  r.log->events.clear();
  EXPECT_EQ(r.db->OpenSqlserver(srv.get(), sa.get(), Bstr("pw").get()), E_FAIL);
  EXPECT_TRUE(r.log->events.empty());
  EXPECT_EQ(Type(r.db.get()), qva::kDataBaseJet);
  EXPECT_EQ(ConnectionOf(r.db.get()), kept);
}

std::vector<std::string> SchemaEvents() {
  std::vector<std::string> events = {"new", Opened(0, 30, kServerNoDatabase), "exec 80 Use vodrik",
                                     "exec 80 Create database vodrik", "exec 80 USE Vodrik"};
#define QVA_SCHEMA_STATEMENT(kind, table, text) events.push_back(std::string("exec 80 ") + text);
#include "qvacom/storage/server_schema.inc"
#undef QVA_SCHEMA_STATEMENT
  events.push_back("close");
  return events;
}

TEST(DataBaseRecordedTest, CreateDataBaseRunsTheSchemaInOrderOnlyWhenVodrikIsAbsent) {
  const Bstr srv("srv"), sa("sa"), pw("pw");
  const std::vector<std::string> all = SchemaEvents();
  ASSERT_EQ(all.size(), 2u + 3u + 60u + 1u);
  {
    SCOPED_TRACE("vodrik exists");
    Recorded r;
    EXPECT_EQ(r.db->CreateDataBase(srv.get(), sa.get(), pw.get()), qva::kDatabaseExists);
    EXPECT_EQ(r.log->events, (std::vector<std::string>{all[0], all[1], all[2], "close"}));
  }
  {
    SCOPED_TRACE("created");
    Recorded r;
    r.log->refuse_statement = [](const std::string& s) { return s == "Use vodrik"; };
    EXPECT_EQ(r.db->CreateDataBase(srv.get(), sa.get(), pw.get()), S_OK);
    EXPECT_EQ(r.log->events, all);
    EXPECT_EQ(Connected(r.db.get()), 0);  // the creation connection is not kept
  }
  // A failing statement stops the run there: first, somewhere inside, and last of the schema.
  for (size_t failing : {size_t{3}, size_t{5}, size_t{30}, all.size() - 2}) {
    SCOPED_TRACE(all[failing]);
    Recorded r;
    const std::string refused = all[failing].substr(std::string("exec 80 ").size());
    r.log->refuse_statement = [&](const std::string& s) { return s == "Use vodrik" || s == refused; };
    EXPECT_EQ(r.db->CreateDataBase(srv.get(), sa.get(), pw.get()), qva::kDatabaseCreationFailed);
    std::vector<std::string> expected(all.begin(), all.begin() + static_cast<long>(failing) + 1);
    expected.push_back("close");
    EXPECT_EQ(r.log->events, expected);
  }
  {
    SCOPED_TRACE("server unreachable");
    Recorded r;
    r.log->refuse_open = [](const std::string&) { return true; };
    EXPECT_EQ(r.db->CreateDataBase(srv.get(), sa.get(), pw.get()), qva::kDatabaseCreationFailed);
    EXPECT_EQ(r.log->events, (std::vector<std::string>{all[0], all[1]}));
  }
}

TEST(DataBaseRecordedTest, ClearTable1DatesTheBoundsWithTheDelimiterAndDropsTheTime) {
  const DATE start = 40756.0 + 10.0 / 24;  // 2011-08-01 10:00
  const DATE end = 40760.0 + 23.0 / 24;    // 2011-08-05 23:00
  const Bstr table("UserInfo");
  struct Case {
    const char* name;
    std::function<HRESULT(IQVADataBase*)> open;
    const char* statement;
  } cases[] = {
      {"Jet", [](IQVADataBase* d) { return d->OpenAccess(Bstr("/f").get()); },
       "exec 80 Delete From UserInfo Where Date >= #2011-08-01# AND Date <= #2011-08-05#"},
      {"SQL Server",
       [](IQVADataBase* d) { return d->OpenSqlserver(Bstr("s").get(), Bstr("a").get(), Bstr("p").get()); },
       "exec 80 Delete From UserInfo Where Date >= '2011-08-01' AND Date <= '2011-08-05'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Recorded r;
    ASSERT_EQ(c.open(r.db.get()), S_OK);
    r.log->events.clear();
    EXPECT_EQ(r.db->ClearTable1(table.get(), start, end), S_OK);
    EXPECT_EQ(r.log->events, (std::vector<std::string>{"cursor 3", c.statement}));
    r.log->events.clear();
    EXPECT_EQ(r.db->ClearTable(table.get()), S_OK);
    EXPECT_EQ(r.log->events, (std::vector<std::string>{"cursor 3", "exec 80 Delete FROM UserInfo"}));
  }
}

TEST(DataBaseRecordedTest, ClearTableTakesOnlyAPlainTableName) {
  Recorded r;
  ASSERT_EQ(r.db->OpenAccess(Bstr("/f").get()), S_OK);
  struct Case {
    const char* name;
    bool accepted;
  } cases[] = {
      {"UserInfo", true},
      {"[UserInfo]", true},
      {"Table_2", true},
      {"_", true},
      {"", false},
      {"[]", false},
      {"[UserInfo", false},
      {"UserInfo]", false},
      {"[[UserInfo]]", false},
      {"dbo.UserInfo", false},
      {"User Info", false},
      {"UserInfo; DROP TABLE Users", false},
      {"UserInfo--", false},
      {"UserInfo'", false},
      {"Users\n", false},
      {"名字", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bstr name(c.name);
    r.log->events.clear();
    EXPECT_EQ(r.db->ClearTable(name.get()), c.accepted ? S_OK : E_INVALIDARG);
    EXPECT_EQ(r.db->ClearTable1(name.get(), 40756.0, 40760.0), c.accepted ? S_OK : E_INVALIDARG);
    EXPECT_EQ(r.log->events.empty(), !c.accepted);
  }
  // A bound outside the calendar would leave an empty literal in the statement.
  r.log->events.clear();
  EXPECT_EQ(r.db->ClearTable1(Bstr("UserInfo").get(), 1e9, 40760.0), E_INVALIDARG);
  EXPECT_TRUE(r.log->events.empty());
}

TEST(DataBaseRecordedTest, BeforeAnOpenNothingRuns) {
  Recorded r;
  EXPECT_EQ(Connected(r.db.get()), 0);
  EXPECT_EQ(Delimiter(r.db.get()), "");
  EXPECT_FALSE(ConnectionOf(r.db.get()));
  EXPECT_EQ(r.db->Execute(Bstr("Delete FROM Users").get()), E_FAIL);
  EXPECT_EQ(r.db->ClearTable(Bstr("Users").get()), E_FAIL);
  EXPECT_TRUE(r.log->events.empty());
}

// ---------------------------------------------------------------------------------------------
// On a fresh copy of the embedded-database template.

class DataBaseJetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = CopyTemplate("Vodrik_e.ntf");
    auto made = com::CreateObject<CQVADataBase>();
    ASSERT_TRUE(made.ok());
    db_ = *made;
  }
  std::filesystem::path CopyTemplate(const char* name) {
    const std::filesystem::path to = dir_.path() / name;
    std::filesystem::copy_file(std::filesystem::path(QVA_TEMPLATE_DIR) / "Vodrik.ntt", to);
    return to;
  }
  HRESULT Open(const std::filesystem::path& file) { return db_->OpenAccess(Bstr(file.string()).get()); }
  HRESULT Run(const std::string& statement) { return db_->Execute(Bstr(statement).get()); }
  ComPtr<_Connection> Connection() {
    ComPtr<_Connection> c;
    EXPECT_EQ(ConnectionOf(db_.get()).As(&c), S_OK);
    return c;
  }
  // The values of one text column of every row of a statement, in order.
  std::vector<std::string> Column(const std::string& statement, const char* column) {
    qva::CRecordset rs(Connection().get());
    std::vector<std::string> out;
    EXPECT_TRUE(rs.OpenStatement(nullptr, statement, 0)) << rs.last_error_text();
    VARIANT_BOOL eof = VARIANT_TRUE;
    while (SUCCEEDED(rs.recordset()->get_EOF(&eof)) && !eof) {
      std::string value;
      EXPECT_TRUE(rs.GetString(column, &value));
      out.push_back(value);
      rs.recordset()->MoveNext();
    }
    return out;
  }

  qva::testing::TempDir dir_;
  std::filesystem::path file_;
  ComPtr<CQVADataBase> db_;
};

TEST_F(DataBaseJetTest, OpenAccessOpensTheFileOnce) {
  ASSERT_EQ(Open(file_), S_OK);
  EXPECT_EQ(Connected(db_.get()), 1);
  EXPECT_EQ(Delimiter(db_.get()), "#");
  EXPECT_EQ(Type(db_.get()), qva::kDataBaseJet);
  ASSERT_EQ(Run("INSERT INTO Deps (Name) VALUES ('first')"), S_OK);

  const std::filesystem::path other = CopyTemplate("other.ntf");
  EXPECT_EQ(Open(other), E_FAIL);
  ASSERT_EQ(Run("INSERT INTO Deps (Name) VALUES ('second')"), S_OK);
  EXPECT_EQ(Column("SELECT Name FROM Deps ORDER BY Name", "Name"), (std::vector<std::string>{"first", "second"}));

  // The other file was never written.
  auto made = com::CreateObject<CQVADataBase>();
  ASSERT_TRUE(made.ok());
  CQVADataBase* again = made->get();
  ASSERT_EQ(again->OpenAccess(Bstr(other.string()).get()), S_OK);
  qva::CRecordset rs;
  ComPtr<_Connection> c;
  ASSERT_EQ(ConnectionOf(again).As(&c), S_OK);
  ASSERT_TRUE(rs.OpenStatement(c.get(), "SELECT Name FROM Deps", 0));
  VARIANT_BOOL eof = VARIANT_FALSE;
  ASSERT_EQ(rs.recordset()->get_EOF(&eof), S_OK);
  EXPECT_EQ(eof, VARIANT_TRUE);
}

TEST_F(DataBaseJetTest, AFileThatCannotBeOpenedChangesNothing) {
  const std::filesystem::path garbage = dir_.path() / "garbage.ntf";
  std::ofstream(garbage) << std::string(4096, 'x');
  for (const std::filesystem::path& bad : {dir_.path() / "missing.ntf", garbage}) {
    SCOPED_TRACE(bad.string());
    EXPECT_EQ(Open(bad), E_FAIL);
    EXPECT_FALSE(ErrorDescription().empty());
    EXPECT_EQ(Connected(db_.get()), 0);
    EXPECT_EQ(Delimiter(db_.get()), "");
    EXPECT_FALSE(ConnectionOf(db_.get()));
  }
  EXPECT_EQ(Open(file_), S_OK);
}

TEST_F(DataBaseJetTest, ExecuteReportsTheEnginesErrorAsEFail) {
  ASSERT_EQ(Open(file_), S_OK);
  EXPECT_EQ(Run("INSERT INTO Deps (Name) VALUES ('a')"), S_OK);
  struct Case {
    const char* statement;
  } bad[] = {{"INSERT INTO NoSuchTable (Name) VALUES ('a')"}, {"INSERT INTO Deps (Name VALUES"}, {""}};
  for (const Case& c : bad) {
    SCOPED_TRACE(c.statement);
    EXPECT_EQ(Run(c.statement), E_FAIL);
    EXPECT_FALSE(ErrorDescription().empty());
  }
  EXPECT_EQ(Column("SELECT Name FROM Deps", "Name"), std::vector<std::string>{"a"});
}

TEST_F(DataBaseJetTest, ClearTablesEmptyTheTableOrTheDaysBetweenTheBounds) {
  ASSERT_EQ(Open(file_), S_OK);
  struct Row {
    const char* name;
    const char* date;
    bool kept;
  } rows[] = {
      {"a", "2011-07-31 23:59:00", true},  {"b", "2011-08-01", false},
      {"c", "2011-08-01 10:00:00", false}, {"d", "2011-08-03 12:30:00", false},
      {"e", "2011-08-05", false},          {"f", "2011-08-05 23:00:00", true},  // after the end day's midnight
      {"g", "2011-08-06", true},
  };
  std::vector<std::string> kept;
  for (const Row& row : rows) {
    ASSERT_EQ(Run(qva::sql::Format("INSERT INTO UserInfo (Name, [Date]) VALUES ('%s', #%s#)", row.name, row.date)),
              S_OK);
    ASSERT_EQ(Run(qva::sql::Format("INSERT INTO ComputerInfo (Name, [Date]) VALUES ('%s', #%s#)", row.name, row.date)),
              S_OK);
    if (row.kept) kept.push_back(row.name);
  }
  EXPECT_EQ(db_->ClearTable1(Bstr("UserInfo").get(), 40756.0 + 10.0 / 24, 40760.0 + 23.0 / 24), S_OK);
  EXPECT_EQ(Column("SELECT Name FROM UserInfo ORDER BY Name", "Name"), kept);

  EXPECT_EQ(db_->ClearTable(Bstr("[ComputerInfo]").get()), S_OK);
  EXPECT_TRUE(Column("SELECT Name FROM ComputerInfo", "Name").empty());
  EXPECT_EQ(db_->ClearTable(Bstr("NoSuchTable").get()), E_FAIL);
}

}  // namespace
