// The database object: owns the one ADO connection through which every other object reads and
// writes accounting data. It opens a Jet file, a SQL Server by name and login, or the local SQL
// Server Express instance (attaching its files on demand); it also creates the server schema,
// tests logins, runs free statements and empties tables.
//
// Once a kept open succeeds the object stays open for its whole life; a second kept open fails
// with E_FAIL and leaves the first connection, its time-outs and the object's state untouched.
// Failures of ADO are returned as E_FAIL with ADO's source and description as error information,
// except CreateDataBase (kDatabaseExists, kDatabaseCreationFailed) and the ClearTable members
// (Execute's result, or E_INVALIDARG for a name that is not a plain table name).
//
// Used on its creator's apartment thread only; no locks.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "ado_idl.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "platform/com/result.h"
#include "qvacom_idl.h"

namespace qva {

// CreateDataBase: the server holds a database named vodrik already; nothing was created.
inline constexpr HRESULT kDatabaseExists = static_cast<HRESULT>(0xC004032C);
// CreateDataBase: a statement failed (or the server could not be reached); the statements run
// before it are not undone.
inline constexpr HRESULT kDatabaseCreationFailed = static_cast<HRESULT>(0xC004032B);

// DataBaseType codes.
enum DataBaseTypeCode : LONG {
  kDataBaseJet = 0,
  kDataBaseSqlExpress = 1,
  kDataBaseSqlServer = 2,
};

// Makes a new, closed ADO connection: ado::CreateConnection in the library, a double in tests.
using ConnectionFactory = std::function<com::Expected<com::ComPtr<_Connection>>()>;

// True for a plain table name: letters, digits and underscores (ASCII), at least one, optionally
// enclosed in one pair of square brackets. The only names ClearTable and ClearTable1 accept.
bool IsPlainTableName(std::string_view name);

class CQVADataBase : public com::Dispatch<IQVADataBase> {
 public:
  // Connections come from ado::CreateConnection.
  CQVADataBase();
  // Every connection the object opens (the kept one and the short-lived ones of Connect,
  // ConnectSqlExpress, CreateDataBase and the attach step) comes from `make_connection`.
  explicit CQVADataBase(ConnectionFactory make_connection);

  QVA_DECL_IQVADataBase;

 private:
  // Opens the kept connection and, on success only, takes the delimiter and the type code.
  HRESULT OpenKept(const std::string& connection_string, LONG connection_timeout, const char* delimiter, LONG type);
  // Runs `text` on the kept connection with the client cursor location and no records.
  HRESULT Run(const std::string& text);

  ConnectionFactory make_connection_;
  com::ComPtr<_Connection> connection_;  // null until a kept open succeeds
  std::string delimiter_;                // encloses a date literal: "#" Jet, "'" server
  LONG type_ = kDataBaseJet;             // meaningful once connected
  VARIANT_BOOL connected_ = 0;           // 1 (not VARIANT_TRUE) once open, as clients read it
};

}  // namespace qva
