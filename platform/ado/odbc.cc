#include "platform/ado/odbc.h"

// unixODBC's headers define Windows type names of their own (ULONG as 64 bits ...) unless told
// that the program has them; ours come from the COM layer, plus the few only ODBC uses.
#include "platform/com/types.h"
#define ALREADY_HAVE_WINDOWS_TYPE 1
#define SQL_API
#define FAR
#define CALLBACK
using WCHAR = unsigned short;
using SQLSCHAR = signed char;
using HWND = void*;
using SQLHWND = void*;
using RETCODE = signed short;
using LPSTR = char*;
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/com_error.h"
#include "platform/com/date.h"
#include "platform/com/text.h"

namespace ado::odbc {
namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's SQLWCHAR is UTF-16");

[[noreturn]] void Raise(std::string description) {
  throw com::ComError(E_FAIL, std::string(kOdbcSource), std::move(description));
}

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

SQLWCHAR* Wide(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

// The messages of every diagnostic record of the handle, one per line, as the driver wrote them
// ("[vendor][driver][server]text").
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::u16string text;
  std::u16string message(512, u'\0');
  for (SQLSMALLINT record = 1;; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, Wide(message),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (Succeeded(rc) && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.assign(static_cast<size_t>(length) + 1, u'\0');
      rc = SQLGetDiagRecW(type, handle, record, state, &native, Wide(message), static_cast<SQLSMALLINT>(message.size()),
                          &length);
    }
    if (!Succeeded(rc)) break;
    if (!text.empty()) text += u'\n';
    text.append(message.data(), std::min<size_t>(static_cast<size_t>(length), message.size()));
  }
  return com::Utf16ToUtf8(text);
}

[[noreturn]] void RaiseFrom(SQLSMALLINT type, SQLHANDLE handle) {
  std::string text = Diagnostics(type, handle);
  if (text.empty()) text = "The ODBC driver reported a failure without a diagnostic record.";
  Raise(std::move(text));
}

// One ODBC handle, freed with it. Freeing a statement handle closes its cursor.
class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    if (!Succeeded(SQLAllocHandle(type, parent, &handle_))) {
      handle_ = SQL_NULL_HANDLE;
      if (parent != SQL_NULL_HANDLE) RaiseFrom(type == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV, parent);
      Raise("The ODBC driver manager cannot allocate an environment.");
    }
  }
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }
  explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }
  void Reset() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, std::exchange(handle_, nullptr));
  }
  [[noreturn]] void RaiseDiagnostics() const { RaiseFrom(type_, handle_); }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// How values of a column become automation values.
enum class Kind { kI2, kI4, kI8, kUI1, kBool, kR8, kText, kLongText, kDate, kTime, kBinary };

Kind KindOfSqlType(SQLSMALLINT type) {
  switch (type) {
    case SQL_INTEGER:
      return Kind::kI4;
    case SQL_SMALLINT:
      return Kind::kI2;
    case SQL_BIGINT:
      return Kind::kI8;
    case SQL_TINYINT:
      return Kind::kUI1;
    case SQL_BIT:
      return Kind::kBool;
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return Kind::kR8;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
      return Kind::kLongText;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIMESTAMP:
      return Kind::kDate;
    case SQL_TYPE_TIME:
    case SQL_TIME:
    case -154:  // SQL Server's time(n)
      return Kind::kTime;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return Kind::kBinary;
    default:
      // char, varchar, their wide forms, guid, and the server's own types (xml, sql_variant,
      // datetimeoffset ...): the driver renders them as text.
      return Kind::kText;
  }
}

DataTypeEnum TypeOfKind(Kind k) {
  switch (k) {
    case Kind::kI2:
      return adSmallInt;
    case Kind::kI4:
      return adInteger;
    case Kind::kI8:
      return adBigInt;
    case Kind::kUI1:
      return adUnsignedTinyInt;
    case Kind::kBool:
      return adBoolean;
    case Kind::kR8:
      return adDouble;
    case Kind::kText:
      return adVarWChar;
    case Kind::kLongText:
      return adLongVarWChar;
    case Kind::kDate:
    case Kind::kTime:
      return adDate;
    case Kind::kBinary:
      return adVarBinary;
  }
  return adVarWChar;
}

struct ColumnInfo {
  std::u16string name;
  Kind kind;
};

class OdbcSession;

// The rows of one executed statement. While it still has rows in the driver it is the
// session's reading cursor: a server that allows one pending result per connection (SQL Server
// without MARS) could not run another statement, so the session makes it read the rest of its
// rows into memory first (Detach), as ADO opens a second connection in that case.
class OdbcCursor final : public Cursor {
 public:
  OdbcCursor(std::shared_ptr<OdbcSession> session, std::unique_ptr<Handle> stmt);
  ~OdbcCursor() override;

  const std::vector<Column>& columns() const override { return columns_; }
  bool Next(Row* row) override;

  // Moves every remaining row into memory and releases the statement. An error met on the way
  // is raised by Next after the rows before it, where it would have been met.
  void Detach();

 private:
  bool Fetch(Row* row);
  com::Variant Value(SQLUSMALLINT column);
  std::string ColumnName(SQLUSMALLINT column) const { return com::Utf16ToUtf8(info_[column - 1].name); }
  // Finishes the statement after its last row: later results must not return rows, and their
  // errors are raised.
  void Finish();
  void Release();

  std::shared_ptr<OdbcSession> session_;  // keeps the connection open while rows remain
  std::unique_ptr<Handle> stmt_;
  std::vector<ColumnInfo> info_;
  std::vector<Column> columns_;
  std::deque<Row> buffered_;
  std::optional<com::ComError> deferred_;
};

class OdbcSession final : public Session, public std::enable_shared_from_this<OdbcSession> {
 public:
  OdbcSession() : env_(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
    if (!Succeeded(SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)))
      env_.RaiseDiagnostics();
    dbc_.emplace(SQL_HANDLE_DBC, env_.get());
  }

  ~OdbcSession() override {
    if (!connected_) return;
    // A transaction the statements left open is rolled back, as closing an ADO connection does;
    // the driver refuses to disconnect in the middle of one.
    if (!Succeeded(SQLDisconnect(dbc_->get()))) {
      SQLEndTran(SQL_HANDLE_DBC, dbc_->get(), SQL_ROLLBACK);
      SQLDisconnect(dbc_->get());
    }
  }

  void Connect(std::string_view odbc_connection_string, int timeout_seconds) {
    // A driver that cannot bound the login simply waits; that is no reason to refuse the open.
    SQLSetConnectAttrW(dbc_->get(), SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout_seconds)), SQL_IS_UINTEGER);
    std::u16string text = com::Utf8ToUtf16(odbc_connection_string);
    const SQLRETURN rc =
        SQLDriverConnectW(dbc_->get(), nullptr, Wide(text), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!Succeeded(rc)) dbc_->RaiseDiagnostics();
    connected_ = true;
  }

  // ODBC's escape for a procedure call; the driver translates it to its server's syntax.
  std::unique_ptr<Cursor> CallProcedure(std::string_view name, int timeout_seconds) override {
    return Execute("{call " + std::string(name) + "}", timeout_seconds);
  }

  std::unique_ptr<Cursor> Execute(std::string_view utf8_sql, int timeout_seconds) override {
    if (reading_) reading_->Detach();
    auto stmt = std::make_unique<Handle>(SQL_HANDLE_STMT, dbc_->get());
    // As for the login: a driver without query time-outs runs the statement unbounded.
    SQLSetStmtAttrW(stmt->get(), SQL_ATTR_QUERY_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout_seconds)), SQL_IS_UINTEGER);
    std::u16string sql = com::Utf8ToUtf16(utf8_sql);
    SQLRETURN rc = SQLExecDirectW(stmt->get(), Wide(sql), static_cast<SQLINTEGER>(sql.size()));
    // SQL_NO_DATA: a searched UPDATE or DELETE that touched no row.
    if (!Succeeded(rc) && rc != SQL_NO_DATA) stmt->RaiseDiagnostics();
    // A batch yields a result per statement; the first one with columns is the recordset's.
    for (;;) {
      SQLSMALLINT count = 0;
      if (!Succeeded(SQLNumResultCols(stmt->get(), &count))) stmt->RaiseDiagnostics();
      if (count > 0) {
        auto cursor = std::make_unique<OdbcCursor>(shared_from_this(), std::move(stmt));
        reading_ = cursor.get();
        return cursor;
      }
      rc = SQLMoreResults(stmt->get());
      if (rc == SQL_NO_DATA) return nullptr;
      if (!Succeeded(rc)) stmt->RaiseDiagnostics();
    }
  }

  void Forget(const OdbcCursor* cursor) {
    if (reading_ == cursor) reading_ = nullptr;
  }

 private:
  Handle env_;
  std::optional<Handle> dbc_;
  bool connected_ = false;
  OdbcCursor* reading_ = nullptr;  // the cursor whose statement still holds rows on the connection
};

OdbcCursor::OdbcCursor(std::shared_ptr<OdbcSession> session, std::unique_ptr<Handle> stmt)
    : session_(std::move(session)), stmt_(std::move(stmt)) {
  SQLSMALLINT count = 0;
  if (!Succeeded(SQLNumResultCols(stmt_->get(), &count))) stmt_->RaiseDiagnostics();
  std::u16string name(128, u'\0');
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
    SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    auto describe = [&] {
      return SQLDescribeColW(stmt_->get(), i, Wide(name), static_cast<SQLSMALLINT>(name.size()), &length, &type, &size,
                             &digits, &nullable);
    };
    SQLRETURN rc = describe();
    if (Succeeded(rc) && length >= static_cast<SQLSMALLINT>(name.size())) {
      name.assign(static_cast<size_t>(length) + 1, u'\0');
      rc = describe();
    }
    if (!Succeeded(rc)) stmt_->RaiseDiagnostics();
    const Kind kind = KindOfSqlType(type);
    info_.push_back({name.substr(0, std::min<size_t>(static_cast<size_t>(length), name.size())), kind});
    columns_.push_back({info_.back().name, TypeOfKind(kind)});
  }
}

OdbcCursor::~OdbcCursor() { session_->Forget(this); }

bool OdbcCursor::Next(Row* row) {
  if (!buffered_.empty()) {
    *row = std::move(buffered_.front());
    buffered_.pop_front();
    return true;
  }
  if (deferred_) {
    com::ComError error = std::move(*deferred_);
    deferred_.reset();
    throw error;
  }
  return Fetch(row);
}

void OdbcCursor::Detach() {
  try {
    Row row;
    while (Fetch(&row)) buffered_.push_back(std::move(row));
  } catch (const com::ComError& e) {
    deferred_ = e;
  }
  Release();
}

bool OdbcCursor::Fetch(Row* row) {
  if (!stmt_) return false;
  struct ReleaseOnFailure {
    OdbcCursor* cursor;
    bool armed = true;
    ~ReleaseOnFailure() {
      if (armed) cursor->Release();
    }
  } guard{this};
  const SQLRETURN rc = SQLFetch(stmt_->get());
  if (rc == SQL_NO_DATA) {
    Finish();
    return false;
  }
  if (!Succeeded(rc)) stmt_->RaiseDiagnostics();
  Row values;
  values.reserve(info_.size());
  // Columns are read in order: forward-only drivers allow SQLGetData in no other.
  for (SQLUSMALLINT i = 1; i <= info_.size(); ++i) values.push_back(Value(i));
  *row = std::move(values);
  guard.armed = false;
  return true;
}

void OdbcCursor::Finish() {
  for (;;) {
    const SQLRETURN rc = SQLMoreResults(stmt_->get());
    if (rc == SQL_NO_DATA) break;
    if (!Succeeded(rc)) stmt_->RaiseDiagnostics();
    SQLSMALLINT count = 0;
    if (!Succeeded(SQLNumResultCols(stmt_->get(), &count))) stmt_->RaiseDiagnostics();
    if (count > 0)
      Raise("Only the first statement of a batch that returns rows is read; a later one returned rows too.");
  }
  Release();
}

void OdbcCursor::Release() {
  stmt_.reset();
  session_->Forget(this);
}

com::Variant OdbcCursor::Value(SQLUSMALLINT column) {
  const Kind kind = info_[column - 1].kind;
  SQLHANDLE stmt = stmt_->get();
  com::Variant v;
  SQLLEN indicator = 0;
  auto get = [&](SQLSMALLINT c_type, void* target, SQLLEN size) {
    if (!Succeeded(SQLGetData(stmt, column, c_type, target, size, &indicator))) stmt_->RaiseDiagnostics();
    if (indicator == SQL_NULL_DATA) v.vt = VT_NULL;
    return indicator != SQL_NULL_DATA;
  };
  switch (kind) {
    case Kind::kI2:
    case Kind::kI4:
    case Kind::kI8:
    case Kind::kUI1: {
      // Read at full width and checked here: some drivers wrap a value too wide for the C type
      // instead of reporting it.
      SQLBIGINT n = 0;
      if (!get(SQL_C_SBIGINT, &n, sizeof n)) return v;
      const auto [lo, hi] = kind == Kind::kI2    ? std::pair<SQLBIGINT, SQLBIGINT>{INT16_MIN, INT16_MAX}
                            : kind == Kind::kI4  ? std::pair<SQLBIGINT, SQLBIGINT>{INT32_MIN, INT32_MAX}
                            : kind == Kind::kUI1 ? std::pair<SQLBIGINT, SQLBIGINT>{0, UINT8_MAX}
                                                 : std::pair<SQLBIGINT, SQLBIGINT>{INT64_MIN, INT64_MAX};
      if (n < lo || n > hi)
        Raise("The value " + std::to_string(n) + " of column " + ColumnName(column) +
              " is not in the range of its column type.");
      if (kind == Kind::kI2) return com::Variant::I2(static_cast<SHORT>(n));
      if (kind == Kind::kI4) return com::Variant::I4(static_cast<LONG>(n));
      if (kind == Kind::kUI1) {
        v.vt = VT_UI1;
        v.bVal = static_cast<BYTE>(n);
      } else {
        v.vt = VT_I8;
        v.llVal = n;
      }
      return v;
    }
    case Kind::kBool: {
      SQLCHAR n = 0;
      if (get(SQL_C_BIT, &n, sizeof n)) v = com::Variant::Bool(n != 0);
      return v;
    }
    case Kind::kR8: {
      SQLDOUBLE d = 0;
      if (get(SQL_C_DOUBLE, &d, sizeof d)) v = com::Variant::R8(d);
      return v;
    }
    case Kind::kDate: {
      SQL_TIMESTAMP_STRUCT t{};
      if (!get(SQL_C_TYPE_TIMESTAMP, &t, sizeof t)) return v;
      const auto date = com::CivilToDate({t.year, t.month, t.day, t.hour, t.minute, t.second});
      if (!date) Raise("The value of column " + ColumnName(column) + " is not a date of years 100 to 9999.");
      return com::Variant::Date(*date);
    }
    case Kind::kTime: {
      SQL_TIME_STRUCT t{};
      if (!get(SQL_C_TYPE_TIME, &t, sizeof t)) return v;
      // A time of day is the fraction of day 0, 1899-12-30.
      const auto date = com::CivilToDate({1899, 12, 30, t.hour, t.minute, t.second});
      if (!date) Raise("The value of column " + ColumnName(column) + " is not a time of day.");
      return com::Variant::Date(*date);
    }
    case Kind::kBinary: {
      unsigned char probe = 0;
      if (get(SQL_C_BINARY, &probe, 0))
        Raise("Column " + ColumnName(column) + " holds binary data, which this provider does not read.");
      return v;
    }
    case Kind::kText:
    case Kind::kLongText:
      break;
  }
  // Text arrives in pieces: each call fills the buffer but for its terminator and reports
  // truncation until the last piece.
  std::u16string text;
  char16_t buffer[2048];
  constexpr SQLLEN kBufferBytes = sizeof buffer;
  constexpr size_t kPieceChars = sizeof buffer / sizeof buffer[0] - 1;
  for (;;) {
    const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, buffer, kBufferBytes, &indicator);
    if (rc == SQL_NO_DATA) break;
    if (!Succeeded(rc)) stmt_->RaiseDiagnostics();
    if (indicator == SQL_NULL_DATA) {
      v.vt = VT_NULL;
      return v;
    }
    if (indicator == SQL_NO_TOTAL && rc == SQL_SUCCESS) {  // a last piece of unstated length
      text.append(buffer, std::char_traits<char16_t>::length(buffer));
      break;
    }
    const bool more = indicator == SQL_NO_TOTAL || indicator >= kBufferBytes - static_cast<SQLLEN>(sizeof(char16_t));
    text.append(buffer, more ? kPieceChars : static_cast<size_t>(indicator) / sizeof(char16_t));
    if (rc == SQL_SUCCESS || !more) break;
  }
  v = com::Variant::Str(std::u16string_view(text));
  if (!v.bstrVal) throw std::bad_alloc();
  return v;
}

std::string EnvironmentValue(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

std::shared_ptr<Session> Open(std::string_view connection_string, int timeout_seconds) {
  const std::string driver = EnvironmentValue("QVA_ODBC_DRIVER");
  std::string dsn = EnvironmentValue("QVA_SQLEXPRESS_DSN");
  if (dsn.empty()) dsn = "SQLEXPRESS";
  const std::string mapped = MapConnectionString(
      connection_string, driver.empty() ? std::nullopt : std::optional<std::string_view>(driver), dsn);
  auto session = std::make_shared<OdbcSession>();
  session->Connect(mapped, timeout_seconds);
  return session;
}

}  // namespace ado::odbc
