// GUID text in registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}". ParseGuid is constexpr so
// tables of identities written as text are checked by the compiler.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/com/text.h"
#include "platform/com/types.h"

namespace com {

namespace detail {
constexpr int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace detail

// Accepts exactly the braced form; anything else is nullopt.
constexpr std::optional<GUID> ParseGuid(std::string_view s) {
  if (s.size() != 38 || s.front() != '{' || s.back() != '}') return std::nullopt;
  for (size_t i : {9u, 14u, 19u, 24u})
    if (s[i] != '-') return std::nullopt;
  // Offsets of the 16 bytes in the text, in GUID field order.
  constexpr size_t kByteAt[16] = {1, 3, 5, 7, 10, 12, 15, 17, 20, 22, 25, 27, 29, 31, 33, 35};
  uint8_t b[16] = {};
  for (int i = 0; i < 16; ++i) {
    const int hi = detail::HexDigit(s[kByteAt[i]]), lo = detail::HexDigit(s[kByteAt[i] + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    b[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  GUID g{};
  g.Data1 = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
  g.Data2 = static_cast<uint16_t>((b[4] << 8) | b[5]);
  g.Data3 = static_cast<uint16_t>((b[6] << 8) | b[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = b[8 + i];
  return g;
}

// A GUID from text known at compile time; a malformed literal fails the build.
consteval GUID MakeGuid(std::string_view s) {
  auto g = ParseGuid(s);
  if (!g) throw "malformed GUID literal";  // not a constant expression: reported by the compiler
  return *g;
}

COM_CXX_API std::string GuidToString(const GUID& g);  // upper case, braced

}  // namespace com
