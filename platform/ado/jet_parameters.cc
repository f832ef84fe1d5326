#include "platform/ado/jet_parameters.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "platform/ado/jet.h"

namespace ado::jet {
namespace {

// Character classes of the scan, fixed rather than taken from the process locale (the statement
// is UTF-8 whatever the locale says), looked up in one table: the scan reads every character of
// every statement a bulk write sends.
enum CharClass : unsigned char {
  kDigit = 1,       // 0-9
  kIdentifier = 2,  // ASCII letters, digits, '_', '$' and every byte of a UTF-8 sequence
  kPlain = 4,       // copied to the shape as it stands, whatever follows it
};
constexpr std::array<unsigned char, 256> kClasses = [] {
  std::array<unsigned char, 256> t{};
  constexpr std::string_view kSpecial = "'#\"[`-/;?:@.";
  for (int c = 0; c < 256; ++c) {
    const bool digit = c >= '0' && c <= '9';
    const bool identifier =
        digit || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || c >= 0x80;
    const bool special = kSpecial.find(static_cast<char>(c)) != std::string_view::npos;
    t[static_cast<size_t>(c)] = static_cast<unsigned char>((digit ? kDigit : 0) | (identifier ? kIdentifier : 0) |
                                                           (!identifier && !special ? kPlain : 0));
  }
  return t;
}();
bool Is(char c, CharClass k) { return (kClasses[static_cast<unsigned char>(c)] & k) != 0; }
bool Digit(char c) { return Is(c, kDigit); }
bool IdentifierChar(char c) { return Is(c, kIdentifier); }
bool Plain(char c) { return Is(c, kPlain); }
bool Blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// `word` equals `upper` (upper-case ASCII) but for letter case.
bool SameWord(std::string_view word, std::string_view upper) {
  if (word.size() != upper.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    const char c = word[i] >= 'a' && word[i] <= 'z' ? static_cast<char>(word[i] - 'a' + 'A') : word[i];
    if (c != upper[i]) return false;
  }
  return true;
}

// The statement's first word.
std::string_view FirstWord(std::string_view sql) {
  size_t i = 0;
  while (i < sql.size() && Blank(sql[i])) ++i;
  size_t j = i;
  while (j < sql.size() && IdentifierChar(sql[j])) ++j;
  return sql.substr(i, j - i);
}

// Words after which literals are positions or counts, not values, or that make a data statement
// return rows.
bool RefusedWord(std::string_view word) {
  return SameWord(word, "ORDER") || SameWord(word, "GROUP") || SameWord(word, "LIMIT") || SameWord(word, "RETURNING");
}

// One scan of a statement into out->shape and out->values. The values are written over the ones
// a previous scan left, so their texts keep their buffers when statements of one shape repeat.
class Scan {
 public:
  Scan(std::string_view sql, ParameterizedStatement* out, bool dates) : sql_(sql), out_(out), dates_(dates) {}

  bool Run() {
    const std::string_view verb = FirstWord(sql_);
    if (!SameWord(verb, "INSERT") && !SameWord(verb, "UPDATE") && !SameWord(verb, "DELETE")) return false;
    size_t i = Resume();
    while (i < sql_.size()) {
      const char c = sql_[i];
      if (count_ == 0 && LiteralStart(i)) Remember(i);
      if (c == '\'' || (c == '#' && dates_ && DateLiteralEnd(i) != std::string_view::npos)) {
        // A blob literal X'..' is left as written (a date literal after an X would read as one).
        if (BlobPrefix(i)) return false;
        if (!TextValue(&i)) return false;
      } else if (c == '"' || c == '[' || c == '`') {
        // A quoted name: copied whole.
        const char close = c == '[' ? ']' : c;
        const size_t end = sql_.find(close, i + 1);
        if (end == std::string_view::npos) return false;
        out_->shape.append(sql_.substr(i, end + 1 - i));
        i = end + 1;
      } else if ((c == '-' && i + 1 < sql_.size() && sql_[i + 1] == '-') ||
                 (c == '/' && i + 1 < sql_.size() && sql_[i + 1] == '*') || c == ';' || c == '?' || c == ':' ||
                 c == '@') {
        return false;  // comments, several statements, or parameters of the caller's own
      } else if (Digit(c) || (c == '.' && i + 1 < sql_.size() && Digit(sql_[i + 1]))) {
        if (!Number(&i)) return false;
      } else {
        // Names and the characters between them (blanks, commas, parentheses, operators) up to
        // the next literal or character of note, copied at once. The first character is taken
        // whatever it is: what stops a run and was none of the above stands for itself.
        size_t j = i + (IdentifierChar(c) ? 0 : 1);
        while (j < sql_.size()) {
          if (Plain(sql_[j])) {
            ++j;
          } else if (IdentifierChar(sql_[j]) && !Digit(sql_[j])) {
            const size_t start = j;
            while (j < sql_.size() && IdentifierChar(sql_[j])) ++j;
            if (RefusedWord(sql_.substr(start, j - start))) return false;
          } else {
            break;
          }
        }
        out_->shape.append(sql_.substr(i, j - i));
        i = j;
      }
    }
    out_->values.resize(count_);
    return count_ > 0;
  }

 private:
  // Where to start: after the previous statement's prefix when this one starts with it (the
  // shape is then kept up to there), else at the beginning. Everything the scan decides before
  // the first literal depends only on the characters up to and including its first character,
  // so the state there is the same. (A '#' that opens no date literal is decided by what follows
  // it, maybe past the prefix: Remember keeps no prefix that holds one.)
  size_t Resume() {
    const std::string& prefix = out_->scanned_prefix;
    if (!prefix.empty() && out_->prefix_dates == dates_ && sql_.size() >= prefix.size() &&
        sql_.compare(0, prefix.size(), prefix) == 0 && out_->shape.size() >= out_->prefix_shape) {
      out_->shape.resize(out_->prefix_shape);
      return prefix.size() - 1;
    }
    out_->scanned_prefix.clear();  // the shape is about to change: the prefix no longer holds
    out_->shape.clear();
    out_->shape.reserve(sql_.size());
    return 0;
  }

  // The character at `at` starts a literal, as the branches of Run read it.
  bool LiteralStart(size_t at) const {
    const char c = sql_[at];
    return c == '\'' || (c == '#' && dates_ && DateLiteralEnd(at) != std::string_view::npos) || Digit(c) ||
           (c == '.' && at + 1 < sql_.size() && Digit(sql_[at + 1]));
  }

  // Keeps the text up to the first literal, which starts at `at`, for the next statement.
  void Remember(size_t at) {
    if (out_->scanned_prefix.size() == at + 1) return;  // resumed from it: it holds already
    if (dates_ && sql_.substr(0, at).find('#') != std::string_view::npos) return;
    out_->scanned_prefix.assign(sql_.substr(0, at + 1));
    out_->prefix_shape = out_->shape.size();
    out_->prefix_dates = dates_;
  }

  // The next value's place: the one the previous scan left there, or a new one.
  Literal& Slot() {
    if (count_ == out_->values.size()) out_->values.emplace_back();
    return out_->values[count_++];
  }
  std::string& TextSlot() {
    Literal& slot = Slot();
    std::string* text = std::get_if<std::string>(&slot);
    if (!text) text = &slot.emplace<std::string>();
    text->clear();
    return *text;
  }

  // The quote at `at` follows an X that is not the end of a longer name.
  bool BlobPrefix(size_t at) const {
    return at > 0 && (sql_[at - 1] == 'x' || sql_[at - 1] == 'X') && (at < 2 || !IdentifierChar(sql_[at - 2]));
  }

  // Where the date literal of a '#' at `at` ends (its closing '#'), read as RewriteDateLiterals
  // reads it: up to the next '#' when no quote or line break comes first. npos when the '#' opens
  // none and so stands for itself.
  size_t DateLiteralEnd(size_t at) const {
    const size_t close = sql_.find('#', at + 1);
    const size_t stop = sql_.find_first_of("'\"\n", at + 1);
    return stop != std::string_view::npos && stop < close ? std::string_view::npos : close;
  }

  // The text value at *i: a quoted text ('' stands for one quote) or, with dates_, a date literal
  // in its stored form, and the ones that follow it with nothing between. The rewritten statement
  // would show such neighbours as one quoted text ('a''2011-08-05 00:00:00'), so they are one
  // value, joined by a quote. False when a quoted text is unterminated: for the engine to refuse.
  bool TextValue(size_t* i) {
    std::string& text = TextSlot();
    size_t j = *i;
    bool quoted = sql_[j] == '\'';  // the piece at j is a quoted text, else a date literal
    ++j;
    for (;;) {
      if (quoted) {
        const size_t quote = sql_.find('\'', j);
        if (quote == std::string_view::npos) return false;
        text.append(sql_.substr(j, quote - j));
        j = quote + 1;
        if (j < sql_.size() && sql_[j] == '\'') {
          text += '\'';
          ++j;
          continue;
        }
      } else {
        const size_t close = DateLiteralEnd(j - 1);
        AppendCanonicalDateText(sql_.substr(j, close - j), &text);
        j = close + 1;
      }
      // What comes next joins this value when it opens another quoted text (only a date literal
      // can be followed by one: after a quoted text, '' is a quote inside it) or a date literal.
      if (j < sql_.size() && sql_[j] == '\'') {
        quoted = true;
      } else if (dates_ && j < sql_.size() && sql_[j] == '#' && DateLiteralEnd(j) != std::string_view::npos) {
        quoted = false;
      } else {
        break;
      }
      text += '\'';
      ++j;
    }
    out_->shape += '?';
    *i = j;
    return true;
  }

  // A number: digits, a fraction, an exponent. Hexadecimal and numbers glued to a name stay.
  //
  // The value is built while the digits are read: an integer of up to 18 digits is exact in 64
  // bits, and a decimal without exponent of up to 18 digits whose digits make an integer up to
  // 2^53 (amounts written with six decimals have 16 or 17) is that integer divided by a power of
  // ten up to 10^18, both exact as doubles, so the one division is the correctly rounded value
  // from_chars gives. Longer numbers and exponents go to from_chars.
  bool Number(size_t* i) {
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    size_t j = *i;
    uint64_t mantissa = 0;
    int digits = 0, decimals = 0;
    bool real = false, exponent = false;
    const auto read_digits = [&](bool fraction) {
      for (; j < sql_.size() && Digit(sql_[j]); ++j, ++digits) {
        if (digits < 18) mantissa = mantissa * 10 + static_cast<uint64_t>(sql_[j] - '0');
        decimals += fraction;
      }
    };
    read_digits(false);
    if (j < sql_.size() && sql_[j] == '.') {
      real = true;
      ++j;
      read_digits(true);
    }
    if (j < sql_.size() && (sql_[j] == 'e' || sql_[j] == 'E')) {
      size_t k = j + 1;
      if (k < sql_.size() && (sql_[k] == '+' || sql_[k] == '-')) ++k;
      if (k < sql_.size() && Digit(sql_[k])) {
        real = exponent = true;
        j = k;
        while (j < sql_.size() && Digit(sql_[j])) ++j;
      }
    }
    if (j < sql_.size() && (IdentifierChar(sql_[j]) || sql_[j] == '.')) return false;  // 0x1F, 1abc, 1.2.3
    const char* const first = sql_.data() + *i;
    const char* const last = sql_.data() + j;
    if (!real && digits <= 18) {
      Slot() = static_cast<int64_t>(mantissa);
    } else if (!real) {
      int64_t value = 0;
      const auto [end, ec] = std::from_chars(first, last, value);
      if (ec != std::errc() || end != last) return false;  // too big: as written
      Slot() = value;
    } else if (!exponent && digits <= 18 && mantissa <= (uint64_t{1} << 53)) {
      Slot() = static_cast<double>(mantissa) / kPowers[decimals];
    } else {
      double value = 0;
      const auto [end, ec] = std::from_chars(first, last, value);
      if (ec != std::errc() || end != last) return false;
      Slot() = value;
    }
    out_->shape += '?';
    *i = j;
    return true;
  }

  std::string_view sql_;
  ParameterizedStatement* out_;
  bool dates_;
  size_t count_ = 0;
};

}  // namespace

bool Parameterize(std::string_view sql, ParameterizedStatement* out) { return Scan(sql, out, false).Run(); }

bool ParameterizeWithDates(std::string_view sql, ParameterizedStatement* out) {
  // RewriteDateLiterals does not take `...` for a quoted name, so a '#' or a quote inside one
  // reads otherwise there; such texts take the two steps.
  if (sql.find('`') != std::string_view::npos) return Parameterize(RewriteDateLiterals(sql), out);
  return Scan(sql, out, true).Run();
}

}  // namespace ado::jet
