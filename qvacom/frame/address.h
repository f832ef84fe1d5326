// The address number by which addresses are ordered and compared: a.b.c.d becomes
// a * 1000000 + b * 1000 + c + d * 0.001.
#pragma once

#include <optional>
#include <string_view>

namespace qva {

// Only a text of exactly four dot-separated decimal numbers from 0 to 255 (no blanks, no sign)
// is an address; anything else has no number, so it matches no order and no range.
std::optional<double> AddressNumber(std::string_view text);

}  // namespace qva
