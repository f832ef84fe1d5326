// The Jet provider ("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=<file>"): the file is a SQLite
// database, and the statements written for Jet are adapted to SQLite:
// - a date literal #...# outside quoted text becomes the quoted literal '...';
// - the collation Chinese_PRC_CI_AS (case-insensitive, accent-sensitive) is registered on every
//   connection, for the text columns that declare it;
// - every field is typed by its column's declared type (int, smallint, bigint, float, nvarchar,
//   smalldatetime, datetime ...), dates being stored as "YYYY-MM-DD HH:MM:SS" text;
// - the command and connection time-outs bound the wait for another connection's lock;
// - transactions opened with BEGIN TRANSACTION nest as SQL Server's do (see TransactionVerbOf).
// The database password of the connection string has no SQLite counterpart and is not checked.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/ado/provider.h"

namespace ado::jet {

// Opens the SQLite file at `path` (UTF-8), which must exist. Raises ComError when it cannot be
// opened or is not a database.
std::shared_ptr<Session> Open(const std::string& path, int timeout_seconds);

// The statement text with every Jet date literal #...# outside '...', "..." and [...] turned into
// '...'. An unterminated # is left as it is, for the engine to refuse. A literal that is a date
// ("2011-08-05", "8/5/2011", with or without "10:00" or "10:00:00") is written in the stored form
// "2011-08-05 00:00:00", so that comparisons with stored values, which are text, order as dates
// do: #2011-08-05# equals a row stamped at midnight of that day.
std::string RewriteDateLiterals(std::string_view sql);
// One literal's text in the stored form; other texts unchanged.
std::string CanonicalDateText(std::string_view literal);
// The same, appended to *out.
void AppendCanonicalDateText(std::string_view literal, std::string* out);

// Which transaction statement a statement text is: "BEGIN [TRAN|TRANSACTION]",
// "COMMIT|END [TRAN|TRANSACTION|WORK]", "ROLLBACK [TRAN|TRANSACTION|WORK]" in any letter case,
// or none. A BEGIN inside an open transaction only counts one level up and the COMMIT that
// matches it only counts down; the COMMIT of the outermost level commits; a ROLLBACK at any level
// rolls back everything, as SQL Server's @@TRANCOUNT makes them behave.
enum class TransactionVerb { kNone, kBegin, kCommit, kRollback };
TransactionVerb TransactionVerbOf(std::string_view sql);

// Compares UTF-8 texts as the collation Chinese_PRC_CI_AS does: <0, 0 or >0.
int CompareChinesePrcCiAs(std::string_view a, std::string_view b);

}  // namespace ado::jet
