// The Jet provider ("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=<file>"): the file is a SQLite
// database, and the statements written for Jet are adapted to SQLite:
// - a date literal #...# outside quoted text becomes the quoted literal '...';
// - the collation Chinese_PRC_CI_AS (case-insensitive, accent-sensitive) is registered on every
//   connection, for the text columns that declare it;
// - every field is typed by its column's declared type (int, smallint, bigint, float, nvarchar,
//   smalldatetime, datetime ...), dates being stored as "YYYY-MM-DD HH:MM:SS" text;
// - the command and connection time-outs bound the wait for another connection's lock.
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
// '...'. An unterminated # is left as it is, for the engine to refuse.
std::string RewriteDateLiterals(std::string_view sql);

// Compares UTF-8 texts as the collation Chinese_PRC_CI_AS does: <0, 0 or >0.
int CompareChinesePrcCiAs(std::string_view a, std::string_view b);

}  // namespace ado::jet
