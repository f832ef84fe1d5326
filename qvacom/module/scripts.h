// The registration scripts of the library, by number: 101 registers the application
// identifier, every catalogue entry has its own. "%MODULE%" and "%APPID%" are replaced when a
// script is applied.
#pragma once

#include <optional>
#include <string>

namespace qva {

std::optional<std::string> RegistrationScript(int number);

}  // namespace qva
