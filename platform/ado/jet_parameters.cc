#include "platform/ado/jet_parameters.h"

#include <cctype>
#include <charconv>

namespace ado::jet {
namespace {

bool IdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }

// The statement's first word, upper-cased.
std::string FirstWord(std::string_view sql) {
  size_t i = 0;
  while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
  std::string word;
  while (i < sql.size() && IdentifierChar(sql[i])) word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i++])));
  return word;
}

// Words after which literals are positions or counts, not values, or that make a data statement
// return rows.
bool RefusedWord(std::string_view upper) {
  return upper == "ORDER" || upper == "GROUP" || upper == "LIMIT" || upper == "RETURNING";
}

}  // namespace

bool Parameterize(std::string_view sql, ParameterizedStatement* out) {
  const std::string verb = FirstWord(sql);
  if (verb != "INSERT" && verb != "UPDATE" && verb != "DELETE") return false;
  out->shape.clear();
  out->values.clear();
  out->shape.reserve(sql.size());
  size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == '\'') {
      // A quoted text; '' stands for one quote. A blob literal X'..' is left as written.
      if (i > 0 && (sql[i - 1] == 'x' || sql[i - 1] == 'X') && (i < 2 || !IdentifierChar(sql[i - 2]))) return false;
      std::string text;
      size_t j = i + 1;
      for (;; ++j) {
        if (j >= sql.size()) return false;  // unterminated: for the engine to refuse
        if (sql[j] == '\'') {
          if (j + 1 < sql.size() && sql[j + 1] == '\'') {
            text += '\'';
            ++j;
            continue;
          }
          break;
        }
        text += sql[j];
      }
      out->shape += '?';
      out->values.emplace_back(std::move(text));
      i = j + 1;
    } else if (c == '"' || c == '[' || c == '`') {
      // A quoted name: copied whole.
      const char close = c == '[' ? ']' : c;
      const size_t end = sql.find(close, i + 1);
      if (end == std::string_view::npos) return false;
      out->shape.append(sql.substr(i, end + 1 - i));
      i = end + 1;
    } else if ((c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') ||
               (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') || c == ';' || c == '?' || c == ':' ||
               c == '@') {
      return false;  // comments, several statements, or parameters of the caller's own
    } else if (IdentifierChar(c) && !std::isdigit(static_cast<unsigned char>(c))) {
      size_t j = i;
      std::string upper;
      while (j < sql.size() && IdentifierChar(sql[j])) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[j++])));
      if (RefusedWord(upper)) return false;
      out->shape.append(sql.substr(i, j - i));
      i = j;
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '.' && i + 1 < sql.size() && std::isdigit(static_cast<unsigned char>(sql[i + 1])))) {
      // A number: digits, a fraction, an exponent. Hexadecimal and numbers glued to a name stay.
      size_t j = i;
      bool real = false;
      while (j < sql.size() && std::isdigit(static_cast<unsigned char>(sql[j]))) ++j;
      if (j < sql.size() && sql[j] == '.') {
        real = true;
        ++j;
        while (j < sql.size() && std::isdigit(static_cast<unsigned char>(sql[j]))) ++j;
      }
      if (j < sql.size() && (sql[j] == 'e' || sql[j] == 'E')) {
        size_t k = j + 1;
        if (k < sql.size() && (sql[k] == '+' || sql[k] == '-')) ++k;
        if (k < sql.size() && std::isdigit(static_cast<unsigned char>(sql[k]))) {
          real = true;
          j = k;
          while (j < sql.size() && std::isdigit(static_cast<unsigned char>(sql[j]))) ++j;
        }
      }
      if (j < sql.size() && (IdentifierChar(sql[j]) || sql[j] == '.')) return false;  // 0x1F, 1abc, 1.2.3
      const std::string_view number = sql.substr(i, j - i);
      if (real) {
        double value = 0;
        const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (ec != std::errc() || end != number.data() + number.size()) return false;
        out->values.emplace_back(value);
      } else {
        int64_t value = 0;
        const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (ec != std::errc() || end != number.data() + number.size()) return false;  // too big: as written
        out->values.emplace_back(value);
      }
      out->shape += '?';
      i = j;
    } else {
      out->shape += c;
      ++i;
    }
  }
  return !out->values.empty();
}

}  // namespace ado::jet
