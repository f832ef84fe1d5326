#include "platform/ado/connection_string.h"

#include "platform/com/text.h"

namespace ado {
namespace {

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

}  // namespace

ConnectionString::ConnectionString(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const size_t eq = text.find('=', i);
    const size_t semi = text.find(';', i);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      if (semi == std::string_view::npos) break;
      i = semi + 1;  // a pair without '=' carries nothing
      continue;
    }
    const std::string key(Trim(text.substr(i, eq - i)));
    i = eq + 1;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string value;
    if (i < text.size() && (text[i] == '{' || text[i] == '"' || text[i] == '\'')) {
      const char close = text[i] == '{' ? '}' : text[i];
      ++i;
      while (i < text.size()) {
        if (text[i] == close) {
          if (i + 1 < text.size() && text[i + 1] == close) {
            value += close;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value += text[i++];
      }
      // Whatever follows the closing quote up to the separator is not part of the value.
      const size_t next = text.find(';', i);
      i = next == std::string_view::npos ? text.size() : next + 1;
    } else {
      const size_t next = text.find(';', i);
      const size_t end = next == std::string_view::npos ? text.size() : next;
      value = std::string(Trim(text.substr(i, end - i)));
      i = next == std::string_view::npos ? text.size() : next + 1;
    }
    if (!key.empty()) pairs_.emplace_back(key, std::move(value));
  }
}

std::optional<std::string> ConnectionString::Get(std::string_view key) const {
  for (const auto& [k, v] : pairs_)
    if (com::EqualsNoCase(k, key)) return v;
  return std::nullopt;
}

}  // namespace ado
