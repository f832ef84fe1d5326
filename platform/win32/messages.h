// System message texts: what FormatMessage(FORMAT_MESSAGE_FROM_SYSTEM) gives for a code in the
// default language, for the codes this system meets. Texts end with "\r\n" as the system's do.
#pragma once

#include <optional>
#include <string_view>

#include "platform/com/types.h"

namespace win32 {

// The message text of hr, or nullopt when the system has none.
std::optional<std::string_view> SystemMessageText(HRESULT hr);

}  // namespace win32
