// Statements that differ only in their values share one compiled form: the embedded provider
// turns the literals of an INSERT, UPDATE or DELETE into parameters, keeps the compiled statement
// of that shape, and binds the values, as the server's simple parameterisation does. Rows written
// one statement at a time (a collection's import, a list of saves) then cost no parse each.
//
// Only literals whose meaning cannot change by becoming a parameter are taken: quoted texts and
// plain decimal numbers, in data statements without ORDER BY, GROUP BY, LIMIT, RETURNING or comments. Anything
// else is run as written.
//
// Outside quoted text and names, identifiers are read as the engine reads them: ASCII letters,
// digits, '_', '$' and every byte of a UTF-8 sequence, whatever the process locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ado::jet {

// A literal taken out of a statement: text, integer or real.
using Literal = std::variant<std::string, int64_t, double>;

struct ParameterizedStatement {
  std::string shape;              // the text with "?" for each literal taken
  std::vector<Literal> values;    // in the order of the "?"s

  // Kept between scans into the same object: the last statement's text up to and including the
  // first character of its first literal, and the length of its shape there. A statement that
  // starts with the same text (a bulk write's INSERTs share their column list) scans from there.
  std::string scanned_prefix;
  size_t prefix_shape = 0;
  bool prefix_dates = false;  // the prefix was scanned with date literals read
};

// The statement as shape and values, or false when it is not one to parameterise. *out is
// overwritten either way; a caller that reuses one ParameterizedStatement keeps its buffers (a
// value's text reuses the text held at its position before).
bool Parameterize(std::string_view sql, ParameterizedStatement* out);

// The same as Parameterize(RewriteDateLiterals(sql), out) (jet.h), in one pass over `sql`: a
// date literal #...# outside quotes becomes a text value in its stored form, without the
// rewritten statement being made first.
bool ParameterizeWithDates(std::string_view sql, ParameterizedStatement* out);

}  // namespace ado::jet
