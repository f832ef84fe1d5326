// The engine side of the ADO stand-in: a provider opens a session from a connection string, and a
// session runs statement texts. The COM objects (objects.cc) hold no engine state of their own.
//
// Every function here reports failure by throwing com::ComError carrying the provider's source
// (what ADO shows as the error's Source) and the engine's description; the objects turn it into
// E_FAIL with error information at their boundary.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ado_idl.h"
#include "platform/com/variant.h"

namespace ado {

struct Column {
  std::u16string name;
  DataTypeEnum type;
};

// One row: a value per column, already of the column's automation type (or VT_NULL).
using Row = std::vector<com::Variant>;

// The rows of a statement that produced a result set. The statement keeps its engine resources
// (and, in SQLite, a read lock) until the last row has been read or the cursor is destroyed.
class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual const std::vector<Column>& columns() const = 0;
  // Reads the next row into *row and returns true, or returns false after the last one.
  virtual bool Next(Row* row) = 0;
};

class Session {
 public:
  virtual ~Session() = default;
  // Runs the statement text (one statement, or several separated by semicolons of which only
  // the last may return rows). Returns the cursor of the rows, or null for a text without rows.
  // timeout_seconds: how long to wait for another connection's lock; 0 waits without limit.
  virtual std::unique_ptr<Cursor> Execute(std::string_view utf8_sql, int timeout_seconds) = 0;
  // Runs the stored procedure `name` without arguments (a command of type adCmdStoredProc), with
  // the same result as Execute.
  virtual std::unique_ptr<Cursor> CallProcedure(std::string_view name, int timeout_seconds) = 0;
};

// The Source of errors raised by the Jet provider, as ADO reports it.
inline constexpr std::string_view kJetSource = "Microsoft JET Database Engine";

// Chooses the provider named by the connection string and opens a session with it.
// timeout_seconds bounds the wait for locks while opening; 0 waits without limit.
std::shared_ptr<Session> OpenSession(std::u16string_view connection_string, int timeout_seconds);

}  // namespace ado
