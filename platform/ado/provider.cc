#include "platform/ado/provider.h"

#include "platform/ado/connection_string.h"
#include "platform/ado/jet.h"
#include "platform/ado/odbc.h"
#include "platform/com/com_error.h"
#include "platform/com/text.h"

namespace ado {

std::shared_ptr<Session> OpenSession(std::u16string_view connection_string, int timeout_seconds) {
  constexpr std::string_view kSource = "ADODB.Connection";
  const ConnectionString cs(com::Utf16ToUtf8(connection_string));
  const std::string provider = com::ToLower(cs.Get("Provider").value_or(""));
  if (provider.starts_with("microsoft.jet.oledb.")) {
    const std::string path = cs.Get("Data Source").value_or("");
    if (path.empty())
      throw com::ComError(E_FAIL, std::string(kJetSource), "The connection string names no Data Source.");
    return jet::Open(path, timeout_seconds);
  }
  // SQL Server through ODBC ("Driver={SQL Server}", or no provider at all, which OLE DB reads as
  // the ODBC bridge) and through SQLOLEDB: both reach the server through the ODBC driver manager.
  if (provider.empty() || provider.starts_with("sqloledb") || provider.starts_with("msdasql") || cs.Get("Driver")) {
    return odbc::Open(com::Utf16ToUtf8(connection_string), timeout_seconds);
  }
  throw com::ComError(static_cast<HRESULT>(0x800A0E7A), std::string(kSource),
                      "Provider cannot be found. It may not be properly installed.");
}

}  // namespace ado
