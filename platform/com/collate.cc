// VarBstrCmp: locale-aware string comparison with OLE's handling of null and empty strings.
//
// Every non-zero LCID compares like the user default locale, which this port fixes to the
// Unicode root collation (CLDR root, tertiary strength: "a" < "A" < "b"). dwFlags honours
// NORM_IGNORECASE (case differences ignored: secondary strength) and NORM_IGNORENONSPACE
// (accents ignored, case still counted: primary strength with the case level on); other flag
// bits are accepted and have no effect. LCID 0 asks for a binary comparison, as in OLE.
#include <unicode/ucol.h>

#include <algorithm>
#include <array>

#include "platform/com/oleauto.h"

namespace {

constexpr ULONG kNormIgnoreCase = 0x1;
constexpr ULONG kNormIgnoreNonSpace = 0x2;

// ICU collators are not thread-safe: each thread keeps its own, one per flag combination, and
// closes them when it ends.
class ThreadCollators {
 public:
  ThreadCollators() = default;
  ThreadCollators(const ThreadCollators&) = delete;
  ThreadCollators& operator=(const ThreadCollators&) = delete;
  ~ThreadCollators() {
    for (UCollator* c : collators_)
      if (c) ucol_close(c);
  }

  // The collator for the two honoured flag bits; null with `*err` set when ICU fails.
  UCollator* Get(ULONG flags, UErrorCode* err) {
    const size_t index = flags & (kNormIgnoreCase | kNormIgnoreNonSpace);
    if (!collators_[index]) collators_[index] = Open(index, err);
    return collators_[index];
  }

 private:
  static UCollator* Open(size_t flags, UErrorCode* err) {
    UCollator* c = ucol_open("", err);
    if (U_FAILURE(*err)) return nullptr;
    if (flags & kNormIgnoreNonSpace) {
      ucol_setStrength(c, UCOL_PRIMARY);
      if (!(flags & kNormIgnoreCase)) ucol_setAttribute(c, UCOL_CASE_LEVEL, UCOL_ON, err);
    } else {
      ucol_setStrength(c, (flags & kNormIgnoreCase) ? UCOL_SECONDARY : UCOL_TERTIARY);
    }
    if (U_FAILURE(*err)) {
      ucol_close(c);
      return nullptr;
    }
    return c;
  }

  std::array<UCollator*, 4> collators_{};
};

// Compares the first min(byte length) bytes as UTF-16 code units (an odd last byte on its own),
// then the byte lengths. OLE compares the bytes with memcmp, which on little-endian UTF-16 orders
// U+0100 before "a"; code unit order is kept here instead.
HRESULT BinaryCompare(BSTR left, BSTR right) {
  const UINT left_bytes = SysStringByteLen(left), right_bytes = SysStringByteLen(right);
  const UINT common = std::min(left_bytes, right_bytes);
  for (UINT i = 0; i < common / 2; ++i) {
    if (left[i] != right[i]) return left[i] < right[i] ? VARCMP_LT : VARCMP_GT;
  }
  if (common % 2) {
    const auto l = reinterpret_cast<const unsigned char*>(left)[common - 1];
    const auto r = reinterpret_cast<const unsigned char*>(right)[common - 1];
    if (l != r) return l < r ? VARCMP_LT : VARCMP_GT;
  }
  return left_bytes < right_bytes ? VARCMP_LT : (left_bytes > right_bytes ? VARCMP_GT : VARCMP_EQ);
}

}  // namespace

HRESULT VarBstrCmp(BSTR bstrLeft, BSTR bstrRight, LCID lcid, ULONG dwFlags) {
  const UINT left_len = SysStringLen(bstrLeft), right_len = SysStringLen(bstrRight);
  // Null and empty are equal, and below any string with content, even content the collation
  // ignores (a lone NUL).
  if (left_len == 0 || right_len == 0) {
    if (left_len == right_len) return VARCMP_EQ;
    return left_len == 0 ? VARCMP_LT : VARCMP_GT;
  }
  if (lcid == 0) return BinaryCompare(bstrLeft, bstrRight);

  thread_local ThreadCollators collators;
  UErrorCode err = U_ZERO_ERROR;
  UCollator* collator = collators.Get(dwFlags, &err);
  if (!collator) return err == U_MEMORY_ALLOCATION_ERROR ? E_OUTOFMEMORY : E_FAIL;
  // A BSTR holds fewer than 2^31 characters, so the lengths fit ICU's int32_t.
  switch (
      ucol_strcoll(collator, bstrLeft, static_cast<int32_t>(left_len), bstrRight, static_cast<int32_t>(right_len))) {
    case UCOL_LESS:
      return VARCMP_LT;
    case UCOL_GREATER:
      return VARCMP_GT;
    default:
      return VARCMP_EQ;
  }
}
