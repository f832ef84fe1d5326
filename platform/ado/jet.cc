#include "platform/ado/jet.h"

#include <sqlite3.h>
#include <unicode/ucol.h>

#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_map>

#include "platform/ado/jet_parameters.h"
#include "platform/com/com_error.h"
#include "platform/com/date.h"
#include "platform/com/text.h"

namespace ado::jet {
namespace {

constexpr char kCollation[] = "Chinese_PRC_CI_AS";

[[noreturn]] void Raise(std::string description) {
  throw com::ComError(E_FAIL, std::string(kJetSource), std::move(description));
}

[[noreturn]] void RaiseEngine(sqlite3* db) { Raise(sqlite3_errmsg(db)); }

// ADO's 0 means "no limit"; SQLite's busy handler takes milliseconds in an int.
int BusyMilliseconds(int seconds) {
  if (seconds <= 0 || seconds > INT_MAX / 1000) return INT_MAX;
  return seconds * 1000;
}

// The root collator at secondary strength: case is a tertiary difference and so ignored,
// accents are secondary and so kept.
UCollator* OpenCollator() {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* c = ucol_open("", &status);
  if (U_FAILURE(status)) return nullptr;
  ucol_setStrength(c, UCOL_SECONDARY);
  return c;
}

int CollateWith(UCollator* c, std::string_view a, std::string_view b) {
  UErrorCode status = U_ZERO_ERROR;
  const UCollationResult r =
      ucol_strcollUTF8(c, a.data(), static_cast<int32_t>(a.size()), b.data(), static_cast<int32_t>(b.size()), &status);
  if (U_FAILURE(status)) return a.compare(b);  // only on failures of ICU itself: stay a total order
  return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

int CollationCallback(void* collator, int na, const void* a, int nb, const void* b) {
  return CollateWith(static_cast<UCollator*>(collator), {static_cast<const char*>(a), static_cast<size_t>(na)},
                     {static_cast<const char*>(b), static_cast<size_t>(nb)});
}

void CloseCollator(void* collator) { ucol_close(static_cast<UCollator*>(collator)); }

// How values of a column become automation values.
enum class Kind { kI2, kI4, kI8, kUI1, kBool, kR8, kText, kLongText, kDate, kAny };

Kind KindOfDeclaredType(const char* decltype_or_null) {
  if (!decltype_or_null) return Kind::kAny;
  std::string t = com::ToLower(decltype_or_null);
  if (const auto paren = t.find('('); paren != std::string::npos) t.resize(paren);
  while (!t.empty() && t.back() == ' ') t.pop_back();
  struct Entry {
    std::string_view name;
    Kind kind;
  };
  static constexpr Entry kTypes[] = {
      {"int", Kind::kI4},        {"integer", Kind::kI4},     {"long", Kind::kI4},
      {"counter", Kind::kI4},    {"smallint", Kind::kI2},    {"short", Kind::kI2},
      {"bigint", Kind::kI8},     {"tinyint", Kind::kUI1},    {"byte", Kind::kUI1},
      {"bit", Kind::kBool},      {"yesno", Kind::kBool},     {"float", Kind::kR8},
      {"real", Kind::kR8},       {"double", Kind::kR8},      {"money", Kind::kR8},
      {"smallmoney", Kind::kR8}, {"decimal", Kind::kR8},     {"numeric", Kind::kR8},
      {"nvarchar", Kind::kText}, {"varchar", Kind::kText},   {"nchar", Kind::kText},
      {"char", Kind::kText},     {"ntext", Kind::kLongText}, {"text", Kind::kLongText},
      {"memo", Kind::kLongText}, {"datetime", Kind::kDate},  {"smalldatetime", Kind::kDate},
      {"date", Kind::kDate},
  };
  for (const Entry& e : kTypes)
    if (t == e.name) return e.kind;
  return Kind::kAny;
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
      return adDate;
    case Kind::kAny:
      break;
  }
  return adVarWChar;
}

std::string_view ColumnText(sqlite3_stmt* s, int i) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
  return p ? std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(s, i))) : std::string_view();
}

std::string ColumnName(sqlite3_stmt* s, int i) {
  const char* n = sqlite3_column_name(s, i);
  return n ? n : "";
}

[[noreturn]] void RaiseConversion(sqlite3_stmt* s, int i, std::string_view what) {
  Raise("The value '" + std::string(ColumnText(s, i)) + "' of column " + ColumnName(s, i) + " is not " +
        std::string(what) + ".");
}

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS", a 'T' allowed for the blank and
// fractions of a second dropped.
bool ParseDate(std::string_view t, DATE* out) {
  auto number = [&](size_t pos, size_t len, int* v) {
    if (pos + len > t.size()) return false;
    for (size_t k = pos; k < pos + len; ++k)
      if (t[k] < '0' || t[k] > '9') return false;
    return std::from_chars(t.data() + pos, t.data() + pos + len, *v).ec == std::errc();
  };
  com::CivilDateTime c;
  c.hour = c.minute = c.second = 0;
  if (!number(0, 4, &c.year) || t.size() < 10 || t[4] != '-' || !number(5, 2, &c.month) || t[7] != '-' ||
      !number(8, 2, &c.day)) {
    return false;
  }
  size_t pos = 10;
  if (pos < t.size()) {
    if ((t[pos] != ' ' && t[pos] != 'T') || !number(pos + 1, 2, &c.hour) || pos + 3 >= t.size() || t[pos + 3] != ':' ||
        !number(pos + 4, 2, &c.minute)) {
      return false;
    }
    pos += 6;
    if (pos < t.size()) {
      if (t[pos] != ':' || !number(pos + 1, 2, &c.second)) return false;
      pos += 3;
      if (pos < t.size()) {
        if (t[pos] != '.') return false;
        for (size_t k = pos + 1; k < t.size(); ++k)
          if (t[k] < '0' || t[k] > '9') return false;
      }
    }
  }
  const auto date = com::CivilToDate(c);
  if (!date) return false;
  *out = *date;
  return true;
}

// An integer column's value, whatever SQLite stored: integral reals and decimal text are
// accepted, anything else (or a value outside [lo, hi]) is a conversion error.
int64_t IntegerValue(sqlite3_stmt* s, int i, int64_t lo, int64_t hi) {
  int64_t v = 0;
  switch (sqlite3_column_type(s, i)) {
    case SQLITE_INTEGER:
      v = sqlite3_column_int64(s, i);
      break;
    case SQLITE_FLOAT: {
      const double d = sqlite3_column_double(s, i);
      if (d != std::trunc(d) || d < -9.2e18 || d > 9.2e18) RaiseConversion(s, i, "a whole number");
      v = static_cast<int64_t>(d);
      break;
    }
    default: {
      const std::string_view t = ColumnText(s, i);
      const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
      if (r.ec != std::errc() || r.ptr != t.data() + t.size()) RaiseConversion(s, i, "a whole number");
    }
  }
  if (v < lo || v > hi) RaiseConversion(s, i, "in the range of its column type");
  return v;
}

com::Variant ConvertValue(sqlite3_stmt* s, int i, Kind kind) {
  const int storage = sqlite3_column_type(s, i);
  com::Variant v;
  if (storage == SQLITE_NULL) {
    v.vt = VT_NULL;
    return v;
  }
  if (kind == Kind::kAny) {
    if (storage == SQLITE_INTEGER) {
      const int64_t n = sqlite3_column_int64(s, i);
      kind = n >= INT32_MIN && n <= INT32_MAX ? Kind::kI4 : Kind::kI8;
    } else if (storage == SQLITE_FLOAT) {
      kind = Kind::kR8;
    } else if (storage == SQLITE_TEXT) {
      kind = Kind::kText;
    } else {
      Raise("Column " + ColumnName(s, i) + " holds binary data, which this provider does not read.");
    }
  }
  switch (kind) {
    case Kind::kI2:
      return com::Variant::I2(static_cast<SHORT>(IntegerValue(s, i, INT16_MIN, INT16_MAX)));
    case Kind::kI4:
      return com::Variant::I4(static_cast<LONG>(IntegerValue(s, i, INT32_MIN, INT32_MAX)));
    case Kind::kI8:
      v.vt = VT_I8;
      v.llVal = IntegerValue(s, i, INT64_MIN, INT64_MAX);
      return v;
    case Kind::kUI1:
      v.vt = VT_UI1;
      v.bVal = static_cast<BYTE>(IntegerValue(s, i, 0, 255));
      return v;
    case Kind::kBool:
      return com::Variant::Bool(IntegerValue(s, i, INT64_MIN, INT64_MAX) != 0);
    case Kind::kR8: {
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) return com::Variant::R8(sqlite3_column_double(s, i));
      const std::string_view t = ColumnText(s, i);
      double d = 0;
      const auto r = std::from_chars(t.data(), t.data() + t.size(), d);
      if (r.ec != std::errc() || r.ptr != t.data() + t.size()) RaiseConversion(s, i, "a number");
      return com::Variant::R8(d);
    }
    case Kind::kDate: {
      // A number is taken as the automation date itself.
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) return com::Variant::Date(sqlite3_column_double(s, i));
      DATE d = 0;
      if (!ParseDate(ColumnText(s, i), &d)) RaiseConversion(s, i, "a date");
      return com::Variant::Date(d);
    }
    case Kind::kText:
    case Kind::kLongText:
    case Kind::kAny: {
      v = com::Variant::Str(ColumnText(s, i));
      if (!v.bstrVal) throw std::bad_alloc();
      return v;
    }
  }
  return v;
}

class JetSession;

class JetCursor final : public Cursor {
 public:
  // `stmt` has been stepped once: it stands on its first row when `on_row`, else it is done
  // (a query without rows).
  JetCursor(std::shared_ptr<JetSession> session, sqlite3* db, sqlite3_stmt* stmt, bool on_row)
      : session_(std::move(session)), db_(db), stmt_(stmt), on_row_(on_row) {
    const int n = sqlite3_column_count(stmt_);
    for (int i = 0; i < n; ++i) {
      const Kind k = KindOfDeclaredType(sqlite3_column_decltype(stmt_, i));
      kinds_.push_back(k);
      DataTypeEnum type = TypeOfKind(k);
      if (k == Kind::kAny && on_row_) {
        // An expression column has no declared type: it takes the type of its first value.
        const int storage = sqlite3_column_type(stmt_, i);
        if (storage == SQLITE_INTEGER) {
          const int64_t v = sqlite3_column_int64(stmt_, i);
          type = v >= INT32_MIN && v <= INT32_MAX ? adInteger : adBigInt;
        } else if (storage == SQLITE_FLOAT) {
          type = adDouble;
        }
      }
      columns_.push_back({com::Utf8ToUtf16(ColumnName(stmt_, i)), type});
    }
    if (!on_row_) sqlite3_finalize(std::exchange(stmt_, nullptr));
  }
  ~JetCursor() override { sqlite3_finalize(stmt_); }

  const std::vector<Column>& columns() const override { return columns_; }

  bool Next(Row* row) override {
    if (!stmt_) return false;
    if (!on_row_) {
      const int rc = sqlite3_step(stmt_);
      if (rc == SQLITE_DONE) {
        sqlite3_finalize(std::exchange(stmt_, nullptr));
        return false;
      }
      if (rc != SQLITE_ROW) RaiseEngine(db_);
    }
    on_row_ = false;
    row->clear();
    row->reserve(kinds_.size());
    for (size_t i = 0; i < kinds_.size(); ++i) row->push_back(ConvertValue(stmt_, static_cast<int>(i), kinds_[i]));
    return true;
  }

 private:
  std::shared_ptr<JetSession> session_;  // keeps the database open while rows remain
  sqlite3* db_;
  sqlite3_stmt* stmt_;
  bool on_row_;
  std::vector<Kind> kinds_;
  std::vector<Column> columns_;
};

bool OnlySeparatorsLeft(const char* tail) {
  for (; *tail; ++tail)
    if (*tail != ';' && *tail != ' ' && *tail != '\t' && *tail != '\r' && *tail != '\n') return false;
  return true;
}

class JetSession final : public Session, public std::enable_shared_from_this<JetSession> {
 public:
  explicit JetSession(sqlite3* db) : db_(db) {}
  ~JetSession() override {
    ForgetShapes();
    sqlite3_close_v2(db_);
  }

  // The embedded engine keeps no procedures (a Jet file's saved queries have no counterpart).
  std::unique_ptr<Cursor> CallProcedure(std::string_view, int) override {
    throw com::ComError(E_FAIL, std::string(kJetSource), "This provider has no stored procedures.");
  }

  std::unique_ptr<Cursor> Execute(std::string_view utf8_sql, int timeout_seconds) override {
    sqlite3_busy_timeout(db_, BusyMilliseconds(timeout_seconds));
    std::string_view own;
    if (NestedTransaction(utf8_sql, &own)) return nullptr;
    const std::string_view text = own.empty() ? utf8_sql : own;
    if (RunByShape(text)) return nullptr;
    const std::string sql = RewriteDateLiterals(text);
    const char* next = sql.c_str();
    while (!OnlySeparatorsLeft(next)) {
      sqlite3_stmt* stmt = nullptr;
      const char* tail = nullptr;
      if (sqlite3_prepare_v2(db_, next, -1, &stmt, &tail) != SQLITE_OK) RaiseEngine(db_);
      next = tail;
      if (!stmt) continue;  // a comment
      const int rc = sqlite3_step(stmt);
      if (rc == SQLITE_ROW) {
        if (!OnlySeparatorsLeft(next)) {
          sqlite3_finalize(stmt);
          Raise("Only the last statement of a batch may return rows.");
        }
        return std::make_unique<JetCursor>(shared_from_this(), db_, stmt, true);
      }
      if (rc != SQLITE_DONE) {
        std::string message = sqlite3_errmsg(db_);
        sqlite3_finalize(stmt);
        Raise(std::move(message));
      }
      // A query without rows still has a result set: an empty one.
      if (sqlite3_column_count(stmt) > 0 && OnlySeparatorsLeft(next)) {
        return std::make_unique<JetCursor>(shared_from_this(), db_, stmt, false);
      }
      sqlite3_finalize(stmt);
    }
    return nullptr;
  }

 private:
  // Transactions nest as SQL Server's do (@@TRANCOUNT), so code that opens its own transaction can
  // run inside a caller's: BEGIN inside a transaction only counts, COMMIT commits when it closes
  // the outermost one, ROLLBACK rolls back everything. True when `sql` was an inner BEGIN or
  // COMMIT, done by counting; otherwise *own is the engine's statement for a transaction
  // statement, or empty for any other text.
  bool NestedTransaction(std::string_view sql, std::string_view* own) {
    if (sqlite3_get_autocommit(db_)) depth_ = 0;  // nothing open (an error may have rolled it back)
    switch (TransactionVerbOf(sql)) {
      case TransactionVerb::kNone:
        return false;
      case TransactionVerb::kBegin:
        if (depth_ > 0) return ++depth_, true;
        *own = "BEGIN";
        depth_ = 1;
        return false;
      case TransactionVerb::kCommit:
        if (depth_ > 1) return --depth_, true;
        *own = "COMMIT";
        depth_ = 0;
        return false;
      case TransactionVerb::kRollback:
        *own = "ROLLBACK";
        depth_ = 0;
        return false;
    }
    return false;
  }

  // Runs a data statement, its date literals rewritten, through the compiled statement of its
  // shape (jet_parameters.h). False when the text is not one to parameterise or its shape does not
  // compile (then the text runs as written and its own error is reported); raises the engine's
  // error when the statement fails. The values are bound without a copy: they stay in
  // parameterized_ until the statement has run and its bindings are cleared.
  bool RunByShape(std::string_view sql) {
    if (!ParameterizeWithDates(sql, &parameterized_)) return false;
    sqlite3_stmt* stmt = Shape(parameterized_.shape);
    if (!stmt || sqlite3_bind_parameter_count(stmt) != static_cast<int>(parameterized_.values.size())) return false;
    for (size_t i = 0; i < parameterized_.values.size(); ++i) {
      const int at = static_cast<int>(i) + 1;
      const Literal& value = parameterized_.values[i];
      int rc = SQLITE_OK;
      if (const auto* text = std::get_if<std::string>(&value))
        rc = sqlite3_bind_text(stmt, at, text->data(), static_cast<int>(text->size()), SQLITE_STATIC);
      else if (const auto* whole = std::get_if<int64_t>(&value))
        rc = sqlite3_bind_int64(stmt, at, *whole);
      else
        rc = sqlite3_bind_double(stmt, at, std::get<double>(value));
      if (rc != SQLITE_OK) {
        sqlite3_clear_bindings(stmt);
        return false;
      }
    }
    const int rc = sqlite3_step(stmt);
    std::string failure = rc == SQLITE_DONE || rc == SQLITE_ROW ? std::string() : sqlite3_errmsg(db_);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    if (!failure.empty()) Raise(std::move(failure));
    return true;
  }

  // The compiled statement of a shape, compiled on first use; null when it does not compile.
  // A bulk write repeats one shape row after row: the last one found is compared before the
  // table is hashed.
  sqlite3_stmt* Shape(const std::string& shape) {
    if (last_ && last_->first == shape) return last_->second;
    if (const auto found = shapes_.find(shape); found != shapes_.end()) {
      last_ = &*found;
      return found->second;
    }
    // Statements of few shapes repeat; a bound keeps an unusual stream of shapes from piling up.
    if (shapes_.size() >= kMaxShapes) ForgetShapes();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, shape.c_str(), static_cast<int>(shape.size() + 1), SQLITE_PREPARE_PERSISTENT, &stmt,
                           nullptr) != SQLITE_OK ||
        !stmt) {
      sqlite3_finalize(stmt);
      return nullptr;
    }
    last_ = &*shapes_.emplace(shape, stmt).first;
    return stmt;
  }

  void ForgetShapes() {
    for (auto& [shape, stmt] : shapes_) sqlite3_finalize(stmt);
    shapes_.clear();
    last_ = nullptr;
  }

  static constexpr size_t kMaxShapes = 64;

  sqlite3* db_;
  std::unordered_map<std::string, sqlite3_stmt*> shapes_;
  std::pair<const std::string, sqlite3_stmt*>* last_ = nullptr;  // an entry of shapes_ (they stay put)
  ParameterizedStatement parameterized_;  // reused, to keep its buffers
  int depth_ = 0;  // transactions opened and not closed, counting the inner ones
};

}  // namespace

TransactionVerb TransactionVerbOf(std::string_view sql) {
  // Every statement comes here first: the words are compared in place, without copies.
  const auto separator = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ';'; };
  const auto same = [](std::string_view word, std::string_view upper) {
    if (word.size() != upper.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
      if (std::toupper(static_cast<unsigned char>(word[i])) != upper[i]) return false;
    return true;
  };
  std::string_view words[2];
  size_t count = 0;
  for (size_t i = 0;;) {
    while (i < sql.size() && separator(sql[i])) ++i;
    if (i == sql.size()) break;
    if (count == 2) return TransactionVerb::kNone;  // a transaction name or more words
    const size_t start = i;
    while (i < sql.size() && !separator(sql[i])) ++i;
    words[count++] = sql.substr(start, i - start);
  }
  if (count == 0) return TransactionVerb::kNone;
  if (count == 2 && !same(words[1], "TRANSACTION") && !same(words[1], "TRAN") && !same(words[1], "WORK"))
    return TransactionVerb::kNone;
  if (same(words[0], "BEGIN"))
    return count == 2 && same(words[1], "WORK") ? TransactionVerb::kNone : TransactionVerb::kBegin;
  if (same(words[0], "COMMIT") || same(words[0], "END")) return TransactionVerb::kCommit;
  if (same(words[0], "ROLLBACK")) return TransactionVerb::kRollback;
  return TransactionVerb::kNone;
}

std::string CanonicalDateText(std::string_view literal) {
  std::string out;
  AppendCanonicalDateText(literal, &out);
  return out;
}

void AppendCanonicalDateText(std::string_view literal, std::string* out) {
  // Reads 1 to `digits` digits at `at` into *value.
  size_t at = 0;
  const auto number = [&](int digits, int* value) {
    size_t n = 0;
    *value = 0;
    while (at < literal.size() && n < static_cast<size_t>(digits) && literal[at] >= '0' && literal[at] <= '9') {
      *value = *value * 10 + (literal[at++] - '0');
      ++n;
    }
    return n > 0;
  };
  const auto sign = [&](char c) { return at < literal.size() && literal[at] == c ? (++at, true) : false; };
  const auto as_written = [&] { out->append(literal); };
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  const bool ymd = number(4, &y) && sign('-') && number(2, &mo) && sign('-') && number(2, &d);
  if (!ymd) {
    at = 0;
    if (!(number(2, &mo) && sign('/') && number(2, &d) && sign('/') && number(4, &y))) return as_written();
  }
  if (sign(' ')) {
    if (!(number(2, &h) && sign(':') && number(2, &mi))) return as_written();
    if (sign(':') && !number(2, &sec)) return as_written();
  }
  if (at != literal.size() || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || sec > 59)
    return as_written();
  // "%04d-%02d-%02d %02d:%02d:%02d"; every field is within its width here.
  char text[] = "0000-00-00 00:00:00";
  const auto put = [&](size_t pos, int value, int width) {
    for (int k = width - 1; k >= 0; --k, value /= 10)
      text[pos + static_cast<size_t>(k)] = static_cast<char>('0' + value % 10);
  };
  put(0, y, 4);
  put(5, mo, 2);
  put(8, d, 2);
  put(11, h, 2);
  put(14, mi, 2);
  put(17, sec, 2);
  out->append(text, sizeof text - 1);
}

std::string RewriteDateLiterals(std::string_view sql) {
  std::string out;
  out.reserve(sql.size());
  size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == '\'' || c == '"' || c == '[') {
      // Quoted text or a bracketed name is copied whole; a doubled quote stays inside.
      const char close = c == '[' ? ']' : c;
      size_t j = i + 1;
      while (j < sql.size()) {
        if (sql[j] == close) {
          if (close != ']' && j + 1 < sql.size() && sql[j + 1] == close) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      const size_t end = j < sql.size() ? j + 1 : sql.size();
      out.append(sql.substr(i, end - i));
      i = end;
    } else if (c == '#') {
      const size_t close = sql.find('#', i + 1);
      const size_t nl = sql.find_first_of("'\"\n", i + 1);
      if (close == std::string_view::npos || (nl != std::string_view::npos && nl < close)) {
        out += c;
        ++i;
        continue;
      }
      out += '\'';
      AppendCanonicalDateText(sql.substr(i + 1, close - i - 1), &out);
      out += '\'';
      i = close + 1;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

int CompareChinesePrcCiAs(std::string_view a, std::string_view b) {
  struct Owned {
    UCollator* c = OpenCollator();
    ~Owned() { ucol_close(c); }
  };
  thread_local Owned collator;
  if (!collator.c) Raise("The collation Chinese_PRC_CI_AS cannot be made.");
  return CollateWith(collator.c, a, b);
}

std::shared_ptr<Session> Open(const std::string& path, int timeout_seconds) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    Raise("Could not open the database file '" + path + "': " + message + ".");
  }
  auto session = std::make_shared<JetSession>(db);  // owns db from here on
  sqlite3_extended_result_codes(db, 1);
  UCollator* collator = OpenCollator();
  if (!collator) Raise("The collation Chinese_PRC_CI_AS cannot be made.");
  // On failure SQLite calls the destructor itself.
  if (sqlite3_create_collation_v2(db, kCollation, SQLITE_UTF8, collator, &CollationCallback, &CloseCollator) !=
      SQLITE_OK) {
    RaiseEngine(db);
  }
  // SQLite reads the file only on the first statement: read the schema now, so that a file that
  // is not a database, or is locked past the time-out, fails the open.
  session->Execute("SELECT count(*) FROM sqlite_master", timeout_seconds);
  return session;
}

}  // namespace ado::jet
