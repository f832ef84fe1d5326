// The ODBC provider: SQL Server connection strings opened through the unixODBC driver manager.
//
// Connection strings (the COM side keeps them exactly as the callers write them):
// - "Driver={SQL Server};Server=S;Database=D;Uid=U;Pwd=P;..." goes to SQLDriverConnect as written.
//   When the environment variable QVA_ODBC_DRIVER is set (and not empty) it names the driver to
//   use in place of "SQL Server"; other driver names are left alone.
// - "Provider=SQLOLEDB...;Data Source=...;Integrated Security=SSPI;...[;Database=D]" becomes
//   "DSN=<dsn>;[Database=D;]": the local instance is the ODBC data source named by the environment
//   variable QVA_SQLEXPRESS_DSN (default "SQLEXPRESS"), whose entry in odbc.ini carries the driver,
//   server and login. "User ID" and "Password", when given, go along as UID and PWD.
// - "Provider=MSDASQL...;<ODBC string>" and strings with no provider at all (OLE DB reads those as
//   the ODBC bridge) go as written, less the Provider pair.
// Statement texts are sent as written; the server's dialect is the callers' business.
//
// Text crosses the driver manager as UTF-16 (the ODBC "W" functions), which Unicode drivers such
// as FreeTDS and Microsoft's take without any character-set configuration. A driver without the W
// functions gets its text converted by unixODBC to ISO-8859-1.
//
// Fields are typed from the column's ODBC SQL type: integer -> VT_I4 (adInteger), smallint ->
// VT_I2, bigint -> VT_I8, tinyint -> VT_UI1, bit -> VT_BOOL, float/real/double/decimal/numeric ->
// VT_R8 (adDouble), char/varchar/wchar/wvarchar/guid -> VT_BSTR (adVarWChar), long text ->
// VT_BSTR (adLongVarWChar), date/time/timestamp -> VT_DATE (fractions of a second dropped), NULL ->
// VT_NULL. Binary columns raise an error when read.
//
// Errors: ComError(E_FAIL, kOdbcSource, the driver's diagnostic messages, one per line).
// Time-outs: the connection time-out is SQL_ATTR_LOGIN_TIMEOUT, the command time-out
// SQL_ATTR_QUERY_TIMEOUT; 0 means none. A driver that refuses a time-out runs without one.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ado/provider.h"

namespace ado::odbc {

// The Source of errors raised by this provider, as ADO reports it for ODBC data sources.
inline constexpr std::string_view kOdbcSource = "Microsoft OLE DB Provider for ODBC Drivers";

// Opens a session with the data source the (UTF-8) connection string names, mapped as above.
// timeout_seconds bounds the login; 0 waits without limit. Raises ComError on failure.
std::shared_ptr<Session> Open(std::string_view connection_string, int timeout_seconds);

// The ODBC connection string for an ADO connection string (both UTF-8), mapped as above.
// driver_override: QVA_ODBC_DRIVER's value, if any; dsn: the data source of SQLOLEDB strings.
std::string MapConnectionString(std::string_view connection_string, std::optional<std::string_view> driver_override,
                                std::string_view dsn);

}  // namespace ado::odbc
