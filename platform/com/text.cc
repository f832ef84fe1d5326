// UTF-8 / UTF-16 conversion, BSTR helpers and Unicode case handling over ICU.
//
// ICU takes int32_t lengths; longer texts are processed in pieces cut where no character (UTF-8
// sequence or surrogate pair) is split, which gives the same result as one call would.
#include "platform/com/text.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <type_traits>

#include "platform/com/oleauto.h"

namespace com {

namespace {

constexpr size_t kChunk = size_t{1} << 28;
constexpr UChar32 kReplacement = 0xFFFD;

// Length of the next piece of `utf8` to hand to ICU: at most kChunk bytes, ending before a byte
// that starts a sequence.
size_t Utf8PieceLength(std::string_view utf8) {
  if (utf8.size() <= kChunk) return utf8.size();
  size_t n = kChunk;
  // Back up over continuation bytes (at most 3 belong to one sequence).
  for (int i = 0; i < 3 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80; ++i) --n;
  return n;
}

// Length of the next piece of `utf16`: at most kChunk units, never ending between a lead and a
// trail surrogate.
size_t Utf16PieceLength(std::u16string_view utf16) {
  if (utf16.size() <= kChunk) return utf16.size();
  size_t n = kChunk;
  if (U16_IS_LEAD(utf16[n - 1]) && U16_IS_TRAIL(utf16[n])) --n;
  return n;
}

// Applies `convert(piece, out)` to successive pieces, appending to one result.
template <class Out, class In, class PieceLength, class Convert>
Out Piecewise(In in, PieceLength piece_length, Convert convert) {
  Out out;
  while (!in.empty()) {
    const size_t n = piece_length(in);
    convert(in.substr(0, n), &out);
    in.remove_prefix(n);
  }
  return out;
}

// Runs an ICU case mapping of the shape of u_strFoldCase / u_strToLower on one piece, appending
// the result to `out`; the output buffer grows when ICU reports it too small.
template <class Map>
void CaseMapPiece(std::u16string_view piece, std::u16string* out, Map map) {
  const size_t start = out->size();
  const auto in_len = static_cast<int32_t>(piece.size());
  out->resize(start + piece.size());
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = map(out->data() + start, in_len, piece.data(), in_len, &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out->resize(start + static_cast<size_t>(n));
    err = U_ZERO_ERROR;
    n = map(out->data() + start, n, piece.data(), in_len, &err);
  }
  if (U_FAILURE(err)) throw std::bad_alloc();
  out->resize(start + static_cast<size_t>(n));
}

// Full case folding is context free, so pieces fold independently.
void FoldPiece(std::u16string_view piece, std::u16string* out) {
  CaseMapPiece(piece, out, [](UChar* dest, int32_t cap, const UChar* src, int32_t len, UErrorCode* err) {
    return u_strFoldCase(dest, cap, src, len, U_FOLD_CASE_DEFAULT, err);
  });
}

// Lower-casing under the root locale (no Turkish or Lithuanian special cases).
void LowerPiece(std::u16string_view piece, std::u16string* out) {
  CaseMapPiece(piece, out, [](UChar* dest, int32_t cap, const UChar* src, int32_t len, UErrorCode* err) {
    return u_strToLower(dest, cap, src, len, "", err);
  });
}

// Code point order of two UTF-16 texts (differs from code unit order when surrogates meet
// U+E000..U+FFFF).
int CompareCodePoints(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    // Move surrogates above U+E000..U+FFFF so that unit order becomes code point order.
    auto fix = [](char16_t c) -> uint32_t { return c >= 0xD800 ? (c >= 0xE000 ? c - 0x800 : c + 0x2000) : c; };
    return fix(a[i]) < fix(b[i]) ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::u16string Fold(std::u16string_view s) { return Piecewise<std::u16string>(s, Utf16PieceLength, FoldPiece); }

// Most texts that cross (names, numbers, dates, statements) are ASCII: widen or narrow them
// unit by unit, without ICU and without over-allocating.
bool IsAscii(std::string_view s) {
  for (const char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// Copies `in` unit by unit to `out` (room for in.size() units) and tells whether it was all
// ASCII; one pass that the compiler vectorises, where a check and then a copy would be two.
bool WidenAscii(std::string_view in, char16_t* out) {
  unsigned char seen = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    const auto c = static_cast<unsigned char>(in[i]);
    seen |= c;
    out[i] = c;
  }
  return seen < 0x80;
}
bool NarrowAscii(std::u16string_view in, char* out) {
  char16_t seen = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    seen |= in[i];
    out[i] = static_cast<char>(in[i]);
  }
  return seen < 0x80;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  if (IsAscii(utf8)) return std::u16string(utf8.begin(), utf8.end());
  return Piecewise<std::u16string>(utf8, Utf8PieceLength, [](std::string_view piece, std::u16string* out) {
    const size_t start = out->size();
    out->resize(start + piece.size());  // never more UTF-16 units than UTF-8 bytes
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = 0;
    u_strFromUTF8WithSub(out->data() + start, static_cast<int32_t>(piece.size()), &n, piece.data(),
                         static_cast<int32_t>(piece.size()), kReplacement, nullptr, &err);
    if (U_FAILURE(err)) throw std::bad_alloc();
    out->resize(start + static_cast<size_t>(n));
  });
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  {
    std::string out(utf16.size(), '\0');
    if (NarrowAscii(utf16, out.data())) return out;
  }
  return Piecewise<std::string>(utf16, Utf16PieceLength, [](std::u16string_view piece, std::string* out) {
    const size_t start = out->size();
    out->resize(start + piece.size() * 3);  // never more than 3 bytes per UTF-16 unit
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = 0;
    u_strToUTF8WithSub(out->data() + start, static_cast<int32_t>(piece.size() * 3), &n, piece.data(),
                       static_cast<int32_t>(piece.size()), kReplacement, nullptr, &err);
    if (U_FAILURE(err)) throw std::bad_alloc();
    out->resize(start + static_cast<size_t>(n));
  });
}

BSTR AllocBstr(std::string_view utf8) {
  // ASCII (statements, names, numbers) widens straight into the BSTR, without a UTF-16 copy.
  if (utf8.size() <= std::numeric_limits<UINT>::max()) {
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(utf8.size()));
    if (!out) return nullptr;
    if (WidenAscii(utf8, out)) return out;
    SysFreeString(out);
  }
  try {
    return AllocBstr(Utf8ToUtf16(utf8));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

BSTR AllocBstr(std::u16string_view utf16) {
  if (utf16.size() > std::numeric_limits<UINT>::max()) return nullptr;
  return SysAllocStringLen(utf16.data(), static_cast<UINT>(utf16.size()));
}

std::u16string_view BstrView(BSTR bstr) {
  if (!bstr) return {};
  return std::u16string_view(bstr, SysStringLen(bstr));
}

std::string BstrToUtf8(BSTR bstr) { return Utf16ToUtf8(BstrView(bstr)); }

int CompareNoCase(std::u16string_view a, std::u16string_view b) { return CompareCodePoints(Fold(a), Fold(b)); }

int CompareNoCase(std::string_view utf8a, std::string_view utf8b) {
  return CompareNoCase(Utf8ToUtf16(utf8a), Utf8ToUtf16(utf8b));
}

bool EqualsNoCase(std::string_view utf8a, std::string_view utf8b) { return CompareNoCase(utf8a, utf8b) == 0; }

// ASCII texts (most names) lower-case by themselves: the root locale maps A-Z to a-z and leaves
// every other ASCII character alone. Spares a user load two conversions and an ICU call a name.
template <class Text>
bool LowerAscii(Text* text) {
  for (const auto c : *text)
    if (static_cast<std::make_unsigned_t<std::remove_cvref_t<decltype(c)>>>(c) >= 0x80) return false;
  for (auto& c : *text)
    if (c >= 'A' && c <= 'Z') c = static_cast<std::remove_cvref_t<decltype(c)>>(c + ('a' - 'A'));
  return true;
}

std::string ToLower(std::string_view utf8) {
  std::string out(utf8);
  if (LowerAscii(&out)) return out;
  return Utf16ToUtf8(ToLower(Utf8ToUtf16(utf8)));
}

std::u16string ToLower(std::u16string_view utf16) {
  std::u16string out(utf16);
  if (LowerAscii(&out)) return out;
  return Piecewise<std::u16string>(utf16, Utf16PieceLength, LowerPiece);
}

}  // namespace com
