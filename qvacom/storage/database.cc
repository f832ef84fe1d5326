#include "qvacom/storage/database.h"

#include <utility>

#include "platform/ado/ado.h"
#include "platform/com/bstr.h"
#include "platform/com/com_error.h"
#include "platform/com/errorinfo.h"
#include "platform/com/variant.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"

namespace qva {
namespace {

constexpr char kSource[] = "QVA.DataBase.1";

// The database's name on a server.
constexpr char kServerDatabase[] = "vodrik";

// Connection strings; the "%s" are filled in the order of the comment.
constexpr char kJetConnection[] =  // file path
    "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%s;Jet OLEDB:Database Password=KestrelGate;Persist Security "
    "Info=False";
constexpr char kServerConnection[] =  // server, database, login, password
    "Driver={SQL Server};Server=%s;Trusted_Connection=no;Database=%s;Uid=%s;Pwd=%s;";
constexpr char kServerNoDatabaseConnection[] =  // server, login, password
    "Driver={SQL Server};Server=%s;Trusted_Connection=no;Database=;Uid=%s;Pwd=%s;";
constexpr char kExpressInstanceConnection[] =
    "Provider=SQLOLEDB.1;Data Source=.\\SQLEXPRESS;Integrated Security=SSPI;Persist Security Info=False;";
constexpr char kExpressDatabaseConnection[] =  // database
    "Provider=SQLOLEDB.1;Data Source=.\\SQLEXPRESS;Integrated Security=SSPI;Persist Security Info=False;Database=%s;";

// Time-outs in seconds; 0 is none.
constexpr LONG kNoTimeout = 0;
constexpr LONG kKeptConnectionTimeout = 60;   // OpenSqlserver, OpenSqlExpress
constexpr LONG kShortConnectionTimeout = 30;  // Connect, ConnectSqlExpress, CreateDataBase, attach

// The server schema in creation order, each table followed by its index.
constexpr std::string_view kServerSchema[] = {
#define QVA_SCHEMA_STATEMENT(kind, table, text) text,
#include "qvacom/storage/server_schema.inc"
#undef QVA_SCHEMA_STATEMENT
};

void Check(HRESULT hr) {
  if (FAILED(hr)) throw TakeComError(hr);
}

// E_FAIL in place of the caught error, which stays readable as the error information.
HRESULT FailWith(const com::ComError& e) {
  return com::ReportError(E_FAIL, e.source(), e.description(), IID_IQVADataBase);
}

com::Variant Missing() {
  com::Variant v;
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}

// Sets both time-outs and opens `c` with the connection string and empty user and password.
void OpenConnection(_Connection* c, const std::string& connection_string, LONG connection_timeout) {
  Check(c->put_CommandTimeout(kNoTimeout));
  Check(c->put_ConnectionTimeout(connection_timeout));
  Check(c->Open(com::Variant::Str(connection_string), com::Variant::Str(""), com::Variant::Str(""), -1));
}

void ExecuteNoRecords(_Connection* c, const std::string& text) {
  com::Bstr b(text);
  com::ComPtr<_Recordset> none;
  Check(c->Execute(b.get(), Missing(), adExecuteNoRecords, none.put()));
}

// A connection opened for one operation; closed when it goes out of scope.
class ShortConnection {
 public:
  explicit ShortConnection(com::ComPtr<_Connection> c) : c_(std::move(c)) {}
  ~ShortConnection() {
    LONG state = adStateClosed;
    if (c_ && SUCCEEDED(c_->get_State(&state)) && (state & adStateOpen)) c_->Close();
  }
  ShortConnection(const ShortConnection&) = delete;
  ShortConnection& operator=(const ShortConnection&) = delete;
  _Connection* get() const { return c_.get(); }

 private:
  com::ComPtr<_Connection> c_;
};

}  // namespace

bool IsPlainTableName(std::string_view name) {
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  if (name.empty()) return false;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

CQVADataBase::CQVADataBase() : CQVADataBase(&ado::CreateConnection) {}

CQVADataBase::CQVADataBase(ConnectionFactory make_connection) : make_connection_(std::move(make_connection)) {}

namespace {

com::ComPtr<_Connection> NewConnection(const ConnectionFactory& make) {
  auto c = make();
  if (!c) throw com::ComError(c.error(), kSource, "The ADO connection object cannot be made.");
  return std::move(c).value();
}

}  // namespace

HRESULT CQVADataBase::get_Connection(IUnknown** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  if (!connection_) return S_OK;
  return connection_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(pVal));
}

HRESULT CQVADataBase::Run(const std::string& text) { return Execute(com::Bstr(text).get()); }

// The caller's BSTR goes to the connection as it is: a bulk write sends one statement per row,
// and a round trip through UTF-8 would only copy it twice.
HRESULT CQVADataBase::Execute(BSTR Exec) {
  if (!connection_) return com::ReportError(E_FAIL, kSource, "The database is not open.", IID_IQVADataBase);
  try {
    Check(connection_->put_CursorLocation(adUseClient));
    com::ComPtr<_Recordset> none;
    Check(connection_->Execute(Exec, Missing(), adExecuteNoRecords, none.put()));
    return S_OK;
  } catch (const com::ComError& e) {
    return FailWith(e);
  }
}

HRESULT CQVADataBase::get_Delimiter(BSTR* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = com::AllocBstr(std::string_view(delimiter_));
  return *pVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT CQVADataBase::get_DataBaseType(LONG* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = type_;
  return S_OK;
}

HRESULT CQVADataBase::get_IsConnected(VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = connected_;
  return S_OK;
}

HRESULT CQVADataBase::OpenKept(const std::string& connection_string, LONG connection_timeout, const char* delimiter,
                               LONG type) {
  // An open connection cannot be opened again. Refusing before touching it keeps its time-outs
  // as the first open set them.
  if (connected_)
    return com::ReportError(E_FAIL, kSource, "The database is open already; the object keeps its first connection.",
                            IID_IQVADataBase);
  try {
    com::ComPtr<_Connection> c = NewConnection(make_connection_);
    OpenConnection(c.get(), connection_string, connection_timeout);
    connection_ = std::move(c);
    delimiter_ = delimiter;
    type_ = type;
    connected_ = 1;
    return S_OK;
  } catch (const com::ComError& e) {
    return FailWith(e);
  }
}

HRESULT CQVADataBase::OpenAccess(BSTR File) {
  return OpenKept(sql::Format(kJetConnection, com::BstrToUtf8(File).c_str()), kNoTimeout, "#", kDataBaseJet);
}

HRESULT CQVADataBase::OpenSqlserver(BSTR Server, BSTR Admin, BSTR Password) {
  return OpenKept(sql::Format(kServerConnection, com::BstrToUtf8(Server).c_str(), kServerDatabase,
                              com::BstrToUtf8(Admin).c_str(), com::BstrToUtf8(Password).c_str()),
                  kKeptConnectionTimeout, "'", kDataBaseSqlServer);
}

HRESULT CQVADataBase::OpenSqlExpress(BSTR DB, BSTR File, BSTR FileLog, VARIANT_BOOL Attach) {
  const std::string db = com::BstrToUtf8(DB);
  if (Attach) {
    try {
      ShortConnection c(NewConnection(make_connection_));
      OpenConnection(c.get(), kExpressInstanceConnection, kShortConnectionTimeout);
      // The database may not be attached: a failed detach changes nothing.
      try {
        ExecuteNoRecords(c.get(), sql::Format("sp_detach_db '%s'", sql::Escape(db).c_str()));
      } catch (const com::ComError&) {
      }
      ExecuteNoRecords(c.get(), sql::Format("sp_attach_db '%s','%s','%s'", sql::Escape(db).c_str(),
                                            sql::Escape(com::BstrToUtf8(File)).c_str(),
                                            sql::Escape(com::BstrToUtf8(FileLog)).c_str()));
    } catch (const com::ComError& e) {
      return FailWith(e);
    }
  }
  return OpenKept(sql::Format(kExpressDatabaseConnection, db.c_str()), kKeptConnectionTimeout, "'",
                  kDataBaseSqlExpress);
}

HRESULT CQVADataBase::Connect(BSTR Server, BSTR Admin, BSTR Password) {
  try {
    ShortConnection c(NewConnection(make_connection_));
    OpenConnection(c.get(),
                   sql::Format(kServerConnection, com::BstrToUtf8(Server).c_str(), kServerDatabase,
                               com::BstrToUtf8(Admin).c_str(), com::BstrToUtf8(Password).c_str()),
                   kShortConnectionTimeout);
    return S_OK;
  } catch (const com::ComError& e) {
    return FailWith(e);
  }
}

HRESULT CQVADataBase::ConnectSqlExpress() {
  try {
    ShortConnection c(NewConnection(make_connection_));
    OpenConnection(c.get(), kExpressInstanceConnection, kShortConnectionTimeout);
    return S_OK;
  } catch (const com::ComError& e) {
    return FailWith(e);
  }
}

HRESULT CQVADataBase::CreateDataBase(BSTR Server, BSTR Admin, BSTR Password) {
  try {
    ShortConnection c(NewConnection(make_connection_));
    OpenConnection(c.get(),
                   sql::Format(kServerNoDatabaseConnection, com::BstrToUtf8(Server).c_str(),
                               com::BstrToUtf8(Admin).c_str(), com::BstrToUtf8(Password).c_str()),
                   kShortConnectionTimeout);
    bool exists = true;
    try {
      ExecuteNoRecords(c.get(), sql::Format("Use %s", kServerDatabase));
    } catch (const com::ComError&) {
      exists = false;
    }
    if (exists)
      return com::ReportError(kDatabaseExists, kSource, "The database vodrik exists already.", IID_IQVADataBase);
    ExecuteNoRecords(c.get(), sql::Format("Create database %s", kServerDatabase));
    ExecuteNoRecords(c.get(), "USE Vodrik");
    for (std::string_view statement : kServerSchema) ExecuteNoRecords(c.get(), std::string(statement));
    return S_OK;
  } catch (const com::ComError& e) {
    return com::ReportError(kDatabaseCreationFailed, e.source(), e.description(), IID_IQVADataBase);
  }
}

HRESULT CQVADataBase::ClearTable(BSTR Name) {
  const std::string name = com::BstrToUtf8(Name);
  if (!IsPlainTableName(name))
    return com::ReportError(E_INVALIDARG, kSource, "Not a table name: " + name, IID_IQVADataBase);
  return Run(sql::Format("Delete FROM %s", name.c_str()));
}

HRESULT CQVADataBase::ClearTable1(BSTR Name, DATE Start, DATE End) {
  const std::string name = com::BstrToUtf8(Name);
  if (!IsPlainTableName(name))
    return com::ReportError(E_INVALIDARG, kSource, "Not a table name: " + name, IID_IQVADataBase);
  const std::string start = sql::FormatDate(Start, sql::kDateFormat);
  const std::string end = sql::FormatDate(End, sql::kDateFormat);
  if (start.empty() || end.empty())
    return com::ReportError(E_INVALIDARG, kSource, "A date lies outside the calendar.", IID_IQVADataBase);
  const std::string& d = delimiter_;
  return Run(sql::Format("Delete From %s Where Date >= %s%s%s AND Date <= %s%s%s", name.c_str(), d.c_str(),
                         start.c_str(), d.c_str(), d.c_str(), end.c_str(), d.c_str()));
}

}  // namespace qva
