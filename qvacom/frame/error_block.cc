#include "qvacom/frame/error_block.h"

#include <cstdint>
#include <cstdio>

#include "platform/win32/messages.h"

namespace qva {

std::string CodeMeaning(HRESULT hr) {
  if (auto text = win32::SystemMessageText(hr)) {
    std::string_view t = *text;
    if (t.ends_with('\n')) t.remove_suffix(1);
    if (t.ends_with('\r')) t.remove_suffix(1);
    return std::string(t);
  }
  const uint32_t code = static_cast<uint32_t>(hr);
  char buf[48];
  if (code > 0x80040200u && code <= 0x8004FFFFu)
    std::snprintf(buf, sizeof buf, "IDispatch error #%u", static_cast<unsigned>(code - 0x80040200u));
  else
    std::snprintf(buf, sizeof buf, "Unknown error 0x%0X", static_cast<unsigned>(code));
  return buf;
}

std::string ErrorBlock(const com::ComError& e) {
  char code[16];
  std::snprintf(code, sizeof code, "%08x", static_cast<unsigned>(e.code()));
  // Texts of any length: the block is assembled, never formatted into a fixed buffer.
  return "Vodrik Error\n\tCode = " + std::string(code) + "\n\tCode meaning = " + CodeMeaning(e.code()) +
         "\n\tSource = " + e.source() + "\n\tDescription = " + e.description() + "\n";
}

}  // namespace qva
