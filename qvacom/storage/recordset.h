// CRecordset: the one class every loader reads the database through. It wraps an ADO recordset
// and an ADO command on a connection owned by the database object, opens statement texts, reads
// field values by name with a fixed conversion table, and records the database errors it catches
// instead of letting them escape.
//
// Texts are UTF-8 (the system's 8-bit code page); ADO sees UTF-16.
//
// A wrapper is used by one thread at a time, on the apartment thread of the object that made it.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ado_idl.h"
#include "platform/ado/ado.h"
#include "platform/com/com_error.h"
#include "platform/com/com_ptr.h"
#include "platform/com/variant.h"
#include "qvacom/frame/calendar.h"
#include "qvacom/storage/sql_text.h"

namespace qva {

// The failure `hr` of an ADO call as the COM error it raised: the code with the source and
// description of the calling thread's error information, which is taken (and so cleared).
// Without error information both texts are empty.
com::ComError TakeComError(HRESULT hr);

// The text held in a VARIANT as UTF-8, of any length: a BSTR (or a reference to one) converted,
// any other value an empty text. Each call returns its own string; nothing is shared.
std::string VariantText(const VARIANT& value);

// Where a loader yields while it walks a long recordset. On Windows this drained the thread's
// window message queue so an apartment thread stayed responsive during long loads; this platform
// has no window messages (calls into an apartment arrive through the marshaller, not a message
// queue), so there is nothing to drain and the call returns at once. Loaders keep calling it
// per row so a message loop of this platform, should one be added, has a single place to go.
inline void PumpMessages() {}

// The conversion rules of CRecordset's value readers, applied to a value already read. Each
// returns false, leaving the value of an empty field in *out, for a type it does not convert.
//   DoubleOfValue: empty/null 0; I2, UI1, I4, INT, R4, R8 their value; DECIMAL its value (the
//                  whole 96-bit mantissa with its sign, over 10^scale); DATE the automation date.
//   LongOfValue:   empty/null 0; I2, I4, INT their value.
//   DateOfValue:   empty/null a null date; DATE a valid date.
//   StringOfValue: empty/null ""; I1, I2, UI1, I4, INT, UI4, UINT decimal digits; R4 "%.10g";
//                  R8 and DECIMAL rounded to single precision first, then "%.10g" (1234567.891
//                  reads "1234567.875"), always with a point; DATE with `date_format`
//                  (sql::FormatDate); BSTR its text; BOOL "T" or "F".
bool DoubleOfValue(const VARIANT& v, double* out);
bool LongOfValue(const VARIANT& v, LONG* out);
bool DateOfValue(const VARIANT& v, DateWithStatus* out);
bool StringOfValue(const VARIANT& v, std::string* out, std::string_view date_format);

class CRecordset {
 public:
  // Open modes of OpenStatement.
  enum Mode : int {
    kText = 0,             // a statement text; every loader uses this
    kTextUnknown = 1,      // the same options as kText
    kTable = 2,            // the text is a table name, opened with a keyset cursor
    kStoredProcedure = 3,  // the text names a stored procedure, run through the command
  };

  // Makes the ADO recordset and command; a failure leaves that one null, and every later
  // operation that needs it fails with E_POINTER (recorded). Holds a reference on `connection`
  // (may be null: the first OpenStatement supplies it).
  explicit CRecordset(_Connection* connection = nullptr);
  ~CRecordset();
  CRecordset(const CRecordset&) = delete;
  CRecordset& operator=(const CRecordset&) = delete;

  // A statement is a query when its first seven characters are "select " in any case (the blank
  // included) and the mode is kText. Queries open like mode kText; the distinction is kept for
  // callers that ask.
  static bool IsQuery(std::string_view statement, int mode);

  // Closes an open recordset, keeps `statement` (unless empty: the previous text is reopened),
  // takes `connection` when none is held yet, and opens by `mode` (see Mode). True when the
  // statement ran; the recordset is then open when the statement returns rows (a statement without
  // rows, such as an INSERT, leaves it closed). False for a mode other than 0 to 3 (nothing
  // opened, nothing recorded) or on a database error (recorded).
  bool OpenStatement(_Connection* connection, std::string_view statement, int mode);

  // When the recordset and its connection are open: clears the statement text and the sort order
  // and closes the recordset. Otherwise does nothing. Never fails.
  void CloseRecordset();

  // Value readers: look the field up by name in the current row and convert its value by the
  // rules of the XxxOfValue functions below. False on a database error (recorded: an unknown
  // field, no current row, ...) or when the rule refuses the value's type (not recorded).
  bool GetDouble(std::string_view field, double* out);
  bool GetLong(std::string_view field, LONG* out);
  bool GetDate(std::string_view field, DateWithStatus* out);
  bool GetVariant(std::string_view field, com::Variant* out);
  bool GetString(std::string_view field, std::string* out, std::string_view date_format = sql::kDateTimeFormat);

  // The recordset loaders walk (EOF, MoveNext) between reads; null when it could not be made.
  // Owned by the wrapper: valid until the next OpenStatement or the wrapper's destruction.
  _Recordset* recordset() const { return recordset_.get(); }
  _Connection* connection() const { return connection_.get(); }
  const std::string& statement() const { return statement_; }

  // The last caught database error: the error block ("Vodrik Error\n\tCode = ...") followed by
  // "Query = <statement>\n", and its code. Empty and S_OK until an error is caught; an operation
  // that succeeds afterwards does not clear them.
  const std::string& last_error_text() const { return last_error_text_; }
  HRESULT last_error_code() const { return last_error_code_; }

 private:
  // A Field object of the current opening, with its in-place reader when it has one (null for
  // another ADO implementation).
  struct FieldEntry {
    std::string name;
    com::ComPtr<Field> field;
    com::ComPtr<ado::IAdoFieldValue> in_place;
  };

  void Record(const com::ComError& e);
  // The Field object of a name, found once per opening: a Field shows the current row, so
  // loaders walking with MoveNext reuse it. Loaders read the same fields in the same order on
  // every row, so the search starts after the field found last. Raises ComError. The reference
  // is valid until the next call.
  FieldEntry& FindField(std::string_view field);
  // Reads the named field of the current row into *value; raises ComError.
  void ReadField(std::string_view field, com::Variant* value);
  // Reads `field` and hands its value to `convert` (the typed readers' conversion); false, with
  // the error recorded, when the field cannot be read. The value is read in place when the
  // field allows it, else copied out through Field::get_Value (which also reports the errors).
  template <class Convert>
  bool ReadAs(std::string_view field, Convert convert) {
    try {
      const FieldEntry& entry = FindField(field);
      if (entry.in_place)
        if (const VARIANT* value = entry.in_place->CurrentValue()) return convert(*value);
      com::Variant v;
      ReadField(field, &v);
      return convert(v);
    } catch (const com::ComError& e) {
      Record(e);
      return false;
    }
  }

  com::ComPtr<_Recordset> recordset_;
  com::ComPtr<_Command> command_;
  com::ComPtr<_Connection> connection_;
  std::vector<FieldEntry> fields_;  // of the current opening
  size_t next_field_ = 0;           // where FindField starts looking
  std::string statement_;
  std::string last_error_text_;
  HRESULT last_error_code_ = S_OK;
};

}  // namespace qva
