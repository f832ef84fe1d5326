#include "platform/win32/messages.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace win32 {
namespace {

struct Message {
  uint32_t code;
  std::string_view text;
};

// Sorted by code for the binary search below (checked at compile time).
constexpr Message kMessages[] = {
    {0x80004001, "Not implemented\r\n"},
    {0x80004002, "No such interface supported\r\n"},
    {0x80004003, "Invalid pointer\r\n"},
    {0x80004004, "Operation aborted\r\n"},
    {0x80004005, "Unspecified error\r\n"},
    {0x8000FFFF, "Catastrophic failure\r\n"},
    {0x80020001, "Unknown interface.\r\n"},
    {0x80020003, "Member not found.\r\n"},
    {0x80020004, "Parameter not found.\r\n"},
    {0x80020005, "Type mismatch.\r\n"},
    {0x80020006, "Unknown name.\r\n"},
    {0x80020007, "No named arguments.\r\n"},
    {0x80020008, "Bad variable type.\r\n"},
    {0x80020009, "Exception occurred.\r\n"},
    {0x8002000A, "Out of present range.\r\n"},
    {0x8002000B, "Invalid index.\r\n"},
    {0x8002000E, "Invalid number of parameters.\r\n"},
    {0x8002000F, "Parameter not optional.\r\n"},
    {0x80040110, "Class does not support aggregation (or class object is remote)\r\n"},
    {0x80040111, "ClassFactory cannot supply requested class\r\n"},
    {0x80040150, "Could not read key from registry\r\n"},
    {0x80040151, "Could not write key to registry\r\n"},
    {0x80040154, "Class not registered\r\n"},
    {0x800401F0, "CoInitialize has not been called.\r\n"},
    {0x800401F3, "Invalid class string\r\n"},
    {0x80070002, "The system cannot find the file specified.\r\n"},
    {0x80070003, "The system cannot find the path specified.\r\n"},
    {0x80070005, "Access is denied.\r\n"},
    {0x80070006, "The handle is invalid.\r\n"},
    {0x8007000E, "Not enough memory resources are available to complete this operation.\r\n"},
    {0x80070020, "The process cannot access the file because it is being used by another process.\r\n"},
    {0x80070057, "The parameter is incorrect.\r\n"},
    {0x80070070, "There is not enough space on the disk.\r\n"},
    {0x800706BA, "The RPC server is unavailable.\r\n"},
    {0x80080005, "Server execution failed\r\n"},
};

constexpr bool Sorted() {
  for (size_t i = 1; i < std::size(kMessages); ++i)
    if (kMessages[i - 1].code >= kMessages[i].code) return false;
  return true;
}
static_assert(Sorted(), "keep the message table sorted by code");

}  // namespace

std::optional<std::string_view> SystemMessageText(HRESULT hr) {
  const uint32_t code = static_cast<uint32_t>(hr);
  auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), code,
                             [](const Message& m, uint32_t c) { return m.code < c; });
  if (it == std::end(kMessages) || it->code != code) return std::nullopt;
  return it->text;
}

}  // namespace win32
