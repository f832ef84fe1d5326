// OLE DB / ODBC connection strings: "Key=Value;Key2={va;lue};Key3=\"x\"". Keys are compared
// case-insensitively; the value of a key given twice is the first one, as OLE DB reads it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ado {

class ConnectionString {
 public:
  // Parses UTF-8 text. Pairs without '=' are ignored; blanks around keys and values are dropped;
  // a value in braces or quotes keeps its semicolons (a doubled closing quote or brace stands for
  // itself).
  explicit ConnectionString(std::string_view text);
  // The value of `key`, or nothing when the key is absent.
  std::optional<std::string> Get(std::string_view key) const;

 private:
  std::vector<std::pair<std::string, std::string>> pairs_;
};

}  // namespace ado
