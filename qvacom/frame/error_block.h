// The error block: a caught COM error as readable text, kept by the recordset wrapper as its
// last error.
#pragma once

#include <string>

#include "platform/com/com_error.h"

namespace qva {

// "Vodrik Error\n\tCode = 80004005\n\tCode meaning = ...\n\tSource = ...\n\tDescription = ...\n"
std::string ErrorBlock(const com::ComError& e);

// The meaning of a code: the system's message text without its final line break; for codes
// above 0x80040200 up to 0x8004FFFF without one "IDispatch error #n"; else "Unknown error 0x...".
std::string CodeMeaning(HRESULT hr);

}  // namespace qva
