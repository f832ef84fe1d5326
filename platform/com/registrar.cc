#include "platform/com/registrar.h"

#include <cstdint>
#include <new>
#include <optional>
#include <vector>

namespace com {
namespace {

constexpr HRESULT kSyntaxError = DISP_E_EXCEPTION;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool EqualsAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + ('a' - 'A'));
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + ('a' - 'A'));
    if (x != y) return false;
  }
  return true;
}

struct Token {
  enum Kind { kEnd, kWord, kQuoted, kEquals, kOpen, kClose };
  Kind kind;
  std::string text;  // words and quoted text, replacements done
};

// Expands %NAME% and %%; an unknown name or a lone % is a syntax error.
Expected<std::string> Substitute(std::string_view text, const std::map<std::string, std::string>& replacements) {
  std::string out;
  size_t pos = 0;
  for (;;) {
    const size_t open = text.find('%', pos);
    if (open == std::string_view::npos) break;
    const size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) return Fail{kSyntaxError};
    out.append(text.substr(pos, open - pos));
    const std::string_view name = text.substr(open + 1, close - open - 1);
    if (name.empty()) {
      out += '%';
    } else {
      const std::string* found = nullptr;
      for (const auto& [key, item] : replacements) {
        if (EqualsAscii(key, name)) {
          found = &item;
          break;
        }
      }
      if (!found) return Fail{kSyntaxError};
      out += *found;
    }
    pos = close + 1;
  }
  out.append(text.substr(pos));
  return out;
}

Expected<std::vector<Token>> Tokenize(std::string_view script, const std::map<std::string, std::string>& replacements) {
  std::vector<Token> tokens;
  size_t i = 0;
  for (;;) {
    while (i < script.size() && IsSpace(script[i])) ++i;
    if (i == script.size()) break;
    const char c = script[i];
    if (c == '=' || c == '}') {
      tokens.push_back({c == '=' ? Token::kEquals : Token::kClose, {}});
      ++i;
      continue;
    }
    if (c == '\'') {
      std::string raw;
      ++i;
      for (;;) {
        const size_t quote = script.find('\'', i);
        if (quote == std::string_view::npos) return Fail{kSyntaxError};
        raw.append(script.substr(i, quote - i));
        i = quote + 1;
        if (i < script.size() && script[i] == '\'') {
          raw += '\'';
          ++i;
          continue;
        }
        break;
      }
      ASSIGN_OR_RETURN(std::string text, Substitute(raw, replacements));
      tokens.push_back({Token::kQuoted, std::move(text)});
      continue;
    }
    const size_t start = i;
    while (i < script.size() && !IsSpace(script[i])) ++i;
    const std::string_view word = script.substr(start, i - start);
    if (word == "{") {
      tokens.push_back({Token::kOpen, {}});
      continue;
    }
    ASSIGN_OR_RETURN(std::string text, Substitute(word, replacements));
    tokens.push_back({Token::kWord, std::move(text)});
  }
  tokens.push_back({Token::kEnd, {}});
  return tokens;
}

enum class Modifier { kNone, kNoRemove, kForceRemove, kDelete, kValue };

struct Entry {
  Modifier modifier = Modifier::kNone;
  std::string name;
  std::optional<std::string> value;
  std::vector<Entry> children;
};

// "123", "-1", "0x1F", "&H55" as a DWORD. ATL reads decimals as a signed 32-bit number, so
// negative numbers wrap; anything that is not a whole number in range is refused.
std::optional<uint32_t> ParseDword(std::string_view s) {
  int base = 10;
  bool negative = false;
  if (s.size() > 2 &&
      (s.substr(0, 2) == "0x" || s.substr(0, 2) == "0X" || s.substr(0, 2) == "&H" || s.substr(0, 2) == "&h")) {
    base = 16;
    s.remove_prefix(2);
  } else if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    v = v * base + d;
    if (v > 0xFFFFFFFFu) return std::nullopt;
  }
  if (negative) {
    if (v > 0x80000000u) return std::nullopt;
    return static_cast<uint32_t>(0x100000000u - v);
  }
  return static_cast<uint32_t>(v);
}

class Parser {
 public:
  explicit Parser(const std::vector<Token>& tokens) : tokens_(tokens) {}

  // Each root block's entries, in script order.
  Expected<std::vector<std::vector<Entry>>> ParseScript() {
    std::vector<std::vector<Entry>> blocks;
    while (Peek().kind != Token::kEnd) {
      const Token& root = Next();
      if (root.kind != Token::kWord && root.kind != Token::kQuoted) return Fail{kSyntaxError};
      if (const HRESULT hr = CheckRoot(root.text); FAILED(hr)) return Fail{hr};
      if (Next().kind != Token::kOpen) return Fail{kSyntaxError};
      std::vector<Entry> entries;
      if (const HRESULT hr = ParseEntries(entries, 1); FAILED(hr)) return Fail{hr};
      blocks.push_back(std::move(entries));
    }
    return blocks;
  }

 private:
  static HRESULT CheckRoot(std::string_view name) {
    if (EqualsAscii(name, "HKCR") || EqualsAscii(name, "HKEY_CLASSES_ROOT")) return S_OK;
    static constexpr std::string_view kOtherHives[] = {"HKEY_CURRENT_USER",
                                                       "HKEY_LOCAL_MACHINE",
                                                       "HKEY_USERS",
                                                       "HKEY_PERFORMANCE_DATA",
                                                       "HKEY_DYN_DATA",
                                                       "HKEY_CURRENT_CONFIG",
                                                       "HKCU",
                                                       "HKLM",
                                                       "HKU",
                                                       "HKPD",
                                                       "HKDD",
                                                       "HKCC"};
    for (std::string_view hive : kOtherHives)
      if (EqualsAscii(name, hive)) return HRESULT_FROM_WIN32(ERROR_BADKEY);
    return kSyntaxError;
  }

  // Entries up to and including the closing brace of the current block.
  HRESULT ParseEntries(std::vector<Entry>& out, size_t depth) {
    if (depth > RegistryKey::kMaxDepth) return kSyntaxError;
    for (;;) {
      const Token* token = &Next();
      if (token->kind == Token::kClose) return S_OK;
      Entry entry;
      if (token->kind == Token::kWord) {
        if (EqualsAscii(token->text, "NoRemove")) {
          entry.modifier = Modifier::kNoRemove;
        } else if (EqualsAscii(token->text, "ForceRemove")) {
          entry.modifier = Modifier::kForceRemove;
        } else if (EqualsAscii(token->text, "Delete")) {
          entry.modifier = Modifier::kDelete;
        } else if (EqualsAscii(token->text, "val")) {
          entry.modifier = Modifier::kValue;
        }
        if (entry.modifier != Modifier::kNone) token = &Next();
      }
      if (token->kind != Token::kWord && token->kind != Token::kQuoted) return kSyntaxError;
      entry.name = token->text;
      const bool is_value = entry.modifier == Modifier::kValue;
      // A value's empty name is the default value, as in ATL; a key needs a name of one component.
      if (!is_value && (entry.name.empty() || entry.name.find('\\') != std::string::npos)) return kSyntaxError;

      if (Peek().kind == Token::kEquals) {
        Next();
        ASSIGN_OR_RETURN(entry.value, ParseTypedValue());
        if (entry.modifier == Modifier::kDelete) entry.value.reset();
      } else if (is_value) {
        return kSyntaxError;
      }
      if (Peek().kind == Token::kOpen) {
        if (is_value || entry.modifier == Modifier::kDelete) return kSyntaxError;
        Next();
        RETURN_IF_FAILED(ParseEntries(entry.children, depth + 1));
      }
      out.push_back(std::move(entry));
    }
  }

  // "type value" after "=".
  Expected<std::optional<std::string>> ParseTypedValue() {
    const Token& type = Next();
    if ((type.kind != Token::kWord && type.kind != Token::kQuoted) || type.text.size() != 1) return Fail{kSyntaxError};
    const Token& value = Next();
    if (value.kind != Token::kWord && value.kind != Token::kQuoted) return Fail{kSyntaxError};
    switch (type.text[0]) {
      case 's':
        return std::optional<std::string>(value.text);
      case 'd': {
        const std::optional<uint32_t> dword = ParseDword(value.text);
        if (!dword) return Fail{kSyntaxError};
        return std::optional<std::string>(std::to_string(*dword));
      }
      case 'b':
      case 'm':
      case 'e':
        return Fail{REGDB_E_INVALIDVALUE};
      default:
        return Fail{kSyntaxError};
    }
  }

  const Token& Peek() const { return tokens_[pos_]; }
  // The end token repeats forever, so a script cut short is read as a missing brace, never
  // beyond the tokens.
  const Token& Next() {
    const Token& token = tokens_[pos_];
    if (token.kind != Token::kEnd) ++pos_;
    return token;
  }

  const std::vector<Token>& tokens_;
  size_t pos_ = 0;
};

HRESULT Register(RegistryKey& parent, const std::vector<Entry>& entries) {
  for (const Entry& entry : entries) {
    switch (entry.modifier) {
      case Modifier::kValue:
        parent.SetValue(entry.name, *entry.value);
        break;
      case Modifier::kDelete:
        parent.DeleteSubKey(entry.name, /*recursive=*/true);  // absent is fine
        break;
      case Modifier::kForceRemove:
      case Modifier::kNoRemove:
      case Modifier::kNone: {
        if (entry.modifier == Modifier::kForceRemove) parent.DeleteSubKey(entry.name, /*recursive=*/true);
        ASSIGN_OR_RETURN(RegistryKey * key, parent.CreatePath(entry.name));
        if (entry.value) key->SetDefault(*entry.value);
        RETURN_IF_FAILED(Register(*key, entry.children));
        break;
      }
    }
  }
  return S_OK;
}

void Unregister(RegistryKey& parent, const std::vector<Entry>& entries) {
  for (const Entry& entry : entries) {
    switch (entry.modifier) {
      case Modifier::kValue:
        parent.DeleteValue(entry.name);  // absent is fine
        break;
      case Modifier::kDelete:
        break;
      case Modifier::kForceRemove:
      case Modifier::kNoRemove:
      case Modifier::kNone: {
        RegistryKey* key = parent.Find(entry.name);
        if (!key) break;
        Unregister(*key, entry.children);
        // Non-recursive, as RegDeleteKey: sub-keys someone else added keep the key alive.
        if (entry.modifier != Modifier::kNoRemove && key->subkey_count() == 0)
          parent.DeleteSubKey(entry.name, /*recursive=*/false);
        break;
      }
    }
  }
}

}  // namespace

HRESULT ApplyRegistrationScript(RegistryKey& root, std::string_view script,
                                const std::map<std::string, std::string>& replacements, bool do_register) {
  try {
    ASSIGN_OR_RETURN(const std::vector<Token> tokens, Tokenize(script, replacements));
    ASSIGN_OR_RETURN(const std::vector<std::vector<Entry>> blocks, Parser(tokens).ParseScript());
    RegistryKey work = root;
    for (const std::vector<Entry>& entries : blocks) {
      if (do_register) {
        RETURN_IF_FAILED(Register(work, entries));
      } else {
        Unregister(work, entries);
      }
    }
    root = std::move(work);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace com
