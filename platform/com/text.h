// Text at the automation boundary: UTF-8 inside objects, UTF-16 (BSTR) at every interface.
// Invalid input never crashes a reader: bad UTF-8 sequences and unpaired surrogates become
// U+FFFD. Case-insensitive comparison and lower-casing are Unicode-aware (ICU, root locale).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/types.h"

#define COM_CXX_API __attribute__((visibility("default")))

namespace com {

COM_CXX_API std::u16string Utf8ToUtf16(std::string_view utf8);
COM_CXX_API std::string Utf16ToUtf8(std::u16string_view utf16);

// A new BSTR holding the text (null when out of memory). The caller owns it.
COM_CXX_API BSTR AllocBstr(std::string_view utf8);
COM_CXX_API BSTR AllocBstr(std::u16string_view utf16);
// The BSTR's characters (all SysStringLen of them, embedded NULs kept); null reads as empty.
COM_CXX_API std::u16string_view BstrView(BSTR bstr);
COM_CXX_API std::string BstrToUtf8(BSTR bstr);

// Full case folding; the result is <0, 0 or >0 like strcmp, in code point order of the folded text.
COM_CXX_API int CompareNoCase(std::u16string_view a, std::u16string_view b);
COM_CXX_API int CompareNoCase(std::string_view utf8a, std::string_view utf8b);
COM_CXX_API bool EqualsNoCase(std::string_view utf8a, std::string_view utf8b);
COM_CXX_API std::string ToLower(std::string_view utf8);
COM_CXX_API std::u16string ToLower(std::u16string_view utf16);

// Numbers as text, exactly as VariantChangeType writes them as VT_BSTR, but as UTF-8 (they are
// ASCII) into the caller's buffer, for writers of many numbers (a collection's export) that
// would otherwise make a VARIANT and a BSTR per number. The result views `buffer`.
inline constexpr size_t kNumberTextSize = 32;  // "-1.23456789012345E-308" and any 64-bit integer fit
// A VT_R8 (precision 15) or VT_R4 (precision 7): C's "%.<precision>G" in the "C" conventions,
// never a negative zero ("0.1", "1E+21", "1E-07", "-1.5", "0").
COM_CXX_API std::string_view RealText(double value, int precision, char (&buffer)[kNumberTextSize]);
// An integer of any VARTYPE: plain decimal.
COM_CXX_API std::string_view IntegerText(int64_t value, char (&buffer)[kNumberTextSize]);

}  // namespace com
