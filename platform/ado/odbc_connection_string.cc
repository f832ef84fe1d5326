// ADO connection strings to ODBC ones (odbc.h). The text is rewritten in place rather than
// rebuilt from its pairs, so whatever the caller wrote (spacing, quoting, keys ODBC passes on to
// the driver) reaches the driver as written.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/connection_string.h"
#include "platform/ado/odbc.h"
#include "platform/com/text.h"

namespace ado::odbc {
namespace {

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

// Where one "key=value;" pair lies in the text: [begin, end) is the whole pair with its
// separator, [value_begin, value_end) the value as written (quotes or braces included).
struct PairSpan {
  std::string_view key;
  size_t begin;
  size_t end;
  size_t value_begin;
  size_t value_end;
};

// Splits the text the way ConnectionString reads it.
std::vector<PairSpan> Spans(std::string_view text) {
  std::vector<PairSpan> spans;
  size_t i = 0;
  while (i < text.size()) {
    const size_t begin = i;
    const size_t eq = text.find('=', i);
    const size_t semi = text.find(';', i);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      if (semi == std::string_view::npos) break;
      i = semi + 1;
      continue;
    }
    const std::string_view key = Trim(text.substr(i, eq - i));
    i = eq + 1;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const size_t value_begin = i;
    size_t value_end = i;
    if (i < text.size() && (text[i] == '{' || text[i] == '"' || text[i] == '\'')) {
      const char close = text[i] == '{' ? '}' : text[i];
      ++i;
      while (i < text.size()) {
        if (text[i] == close) {
          if (i + 1 < text.size() && text[i + 1] == close) {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      value_end = i;
    } else {
      const size_t next = text.find(';', i);
      value_end = value_begin + Trim(text.substr(i, (next == std::string_view::npos ? text.size() : next) - i)).size();
    }
    const size_t next = text.find(';', value_end);
    i = next == std::string_view::npos ? text.size() : next + 1;
    spans.push_back({key, begin, i, value_begin, value_end});
  }
  return spans;
}

// A value as an ODBC connection string carries it: in braces (a closing brace doubled) when it
// holds a separator, a brace or blanks at its ends, else as it is.
std::string OdbcValue(std::string_view value) {
  const bool plain = value.find_first_of(";{}") == std::string_view::npos && Trim(value) == value;
  if (plain && !value.empty()) return std::string(value);
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

// A driver name always goes in braces, as Windows writes "{SQL Server}".
std::string OdbcDriverValue(std::string_view name) {
  std::string out = "{";
  for (char c : name) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

constexpr std::string_view kSqlServerDriver = "SQL Server";

}  // namespace

std::string MapConnectionString(std::string_view text, std::optional<std::string_view> driver_override,
                                std::string_view dsn) {
  const ConnectionString cs(text);
  const std::string provider = com::ToLower(cs.Get("Provider").value_or(""));
  if (provider.starts_with("sqloledb")) {
    // The instance named by Data Source is the local one; the data source stands for it.
    std::string out = "DSN=" + OdbcValue(dsn) + ";";
    std::optional<std::string> database = cs.Get("Database");
    if (!database) database = cs.Get("Initial Catalog");
    if (database && !database->empty()) out += "Database=" + OdbcValue(*database) + ";";
    if (const auto user = cs.Get("User ID")) out += "UID=" + OdbcValue(*user) + ";";
    if (const auto password = cs.Get("Password")) out += "PWD=" + OdbcValue(*password) + ";";
    return out;
  }
  std::string out;
  size_t copied = 0;
  for (const PairSpan& p : Spans(text)) {
    if (com::EqualsNoCase(p.key, "Provider")) {
      out.append(text.substr(copied, p.begin - copied));
      copied = p.end;
    } else if (driver_override && com::EqualsNoCase(p.key, "Driver")) {
      const ConnectionString one(text.substr(p.begin, p.end - p.begin));
      if (!com::EqualsNoCase(one.Get("Driver").value_or(""), kSqlServerDriver)) continue;
      out.append(text.substr(copied, p.value_begin - copied));
      out += OdbcDriverValue(*driver_override);
      copied = p.value_end;
    }
  }
  out.append(text.substr(copied));
  return out;
}

}  // namespace ado::odbc
