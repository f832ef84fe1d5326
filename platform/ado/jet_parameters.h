// Statements that differ only in their values share one compiled form: the embedded provider
// turns the literals of an INSERT, UPDATE or DELETE into parameters, keeps the compiled statement
// of that shape, and binds the values, as the server's simple parameterisation does. Rows written
// one statement at a time (a collection's import, a list of saves) then cost no parse each.
//
// Only literals whose meaning cannot change by becoming a parameter are taken: quoted texts and
// plain decimal numbers, in data statements without ORDER BY, GROUP BY, LIMIT, RETURNING or comments. Anything
// else is run as written.
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
};

// The statement as shape and values, or false when it is not one to parameterise.
bool Parameterize(std::string_view sql, ParameterizedStatement* out);

}  // namespace ado::jet
