// The ADO stand-in's entry points: new Connection, Recordset and Command objects, as
// CoCreateInstance of ADODB.Connection, ADODB.Recordset and ADODB.Command makes them (closed,
// with ADO's default property values). Each result holds the only reference.
//
// Providers: "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=<file>" opens a SQLite file (jet.h).
// SQL Server connection strings ("Driver={SQL Server};...", "Provider=SQLOLEDB.1;...") go through
// the unixODBC driver manager (odbc.h; the mapping is in docs/platform.md).
//
// Errors: every member returns S_OK or a failure code with the thread's error information set.
// Engine failures are E_FAIL with the provider's Source ("Microsoft JET Database Engine") and the
// engine's description; misuse of an object returns ADO's own codes (0x800A0E78 object closed,
// 0x800A0E79 object open, 0x800A0BCD no current record, 0x800A0CC1 item not found, 0x800A0BB9
// invalid argument, 0x800A0E7D invalid connection, 0x800A0CB3 feature not available).
#pragma once

#include "ado_idl.h"
#include "platform/com/com_ptr.h"
#include "platform/com/guid.h"
#include "platform/com/result.h"

namespace ado {

// Answered by the Field objects of this layer (QueryInterface), for readers that walk many rows
// in-process: the field's value in the current row, read in place instead of copied out (a copy
// allocates a BSTR per text field). The pointer is valid until the recordset moves, is closed or
// is released; null when Value would fail (closed, no current row), so the caller can ask Value
// for the error.
inline constexpr IID IID_IAdoFieldValue = com::MakeGuid("{0B5D9E27-6C41-4F8A-9E13-52A7C4D8F160}");
struct IAdoFieldValue : IUnknown {
  static constexpr const IID& iid = IID_IAdoFieldValue;
  virtual const VARIANT* CurrentValue() = 0;
};

com::Expected<com::ComPtr<_Connection>> CreateConnection();
com::Expected<com::ComPtr<_Recordset>> CreateRecordset();
com::Expected<com::ComPtr<_Command>> CreateCommand();

}  // namespace ado
