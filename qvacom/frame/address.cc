#include "qvacom/frame/address.h"

namespace qva {

std::optional<double> AddressNumber(std::string_view text) {
  int parts[4];
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    int value = 0, digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
      value = value * 10 + (text[pos++] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
    parts[i] = value;
  }
  if (pos != text.size()) return std::nullopt;
  return parts[0] * 1000000.0 + parts[1] * 1000.0 + parts[2] + parts[3] * 0.001;
}

}  // namespace qva
