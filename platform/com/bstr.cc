// BSTR allocation with the OLE block layout:
//
//   [DWORD byte length][characters ...][NUL OLECHAR]
//                      ^ the BSTR points here
//
// The byte length may be odd (SysAllocStringByteLen); the block then carries one more zero byte so
// that the character after the last whole or partial one is still a NUL OLECHAR. Blocks come from
// malloc and are released with free, so a BSTR must only ever be freed with SysFreeString.
#include <cstdlib>
#include <cstring>

#include "platform/com/oleauto.h"

namespace {

// The largest byte length a BSTR may have. It keeps the whole block size within 32 bits, as the
// prefix and the byte length arithmetic of callers expect.
constexpr uint64_t kMaxByteLength = 0xFFFFFFFFull - 8;

// Bytes needed for a block holding `bytes` bytes of text: prefix, text rounded up to whole
// OLECHARs, terminator.
constexpr size_t BlockSize(uint64_t bytes) { return sizeof(DWORD) + ((bytes + 1) & ~uint64_t{1}) + sizeof(OLECHAR); }

DWORD* Prefix(BSTR b) { return reinterpret_cast<DWORD*>(reinterpret_cast<char*>(b) - sizeof(DWORD)); }

// Writes the prefix and zeroes everything from byte `bytes` of the text to the end of the block.
BSTR Finish(void* block, uint64_t bytes) {
  auto* base = static_cast<char*>(block);
  const DWORD len = static_cast<DWORD>(bytes);
  std::memcpy(base, &len, sizeof len);
  char* text = base + sizeof(DWORD);
  std::memset(text + bytes, 0, BlockSize(bytes) - sizeof(DWORD) - bytes);
  return reinterpret_cast<BSTR>(text);
}

// A new BSTR of `bytes` bytes copied from `src`, or zero-filled when `src` is null.
BSTR Allocate(const void* src, uint64_t bytes) {
  if (bytes > kMaxByteLength) return nullptr;
  void* block = std::malloc(BlockSize(bytes));
  if (!block) return nullptr;
  char* text = static_cast<char*>(block) + sizeof(DWORD);
  if (src) {
    std::memcpy(text, src, bytes);
  } else {
    std::memset(text, 0, bytes);
  }
  return Finish(block, bytes);
}

size_t OleStrLen(const OLECHAR* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  return Allocate(psz, uint64_t{OleStrLen(psz)} * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) { return Allocate(strIn, uint64_t{ui} * sizeof(OLECHAR)); }

BSTR SysAllocStringByteLen(const char* psz, UINT len) { return Allocate(psz, len); }

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (!pbstr) return 0;
  // Allocate before freeing: psz may point into the old string.
  BSTR fresh = SysAllocString(psz);
  if (psz && !fresh) return 0;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return 1;
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
  if (!pbstr) return 0;
  const uint64_t bytes = uint64_t{len} * sizeof(OLECHAR);
  if (bytes > kMaxByteLength) return 0;
  if (psz || !*pbstr) {
    // psz may point into the old string, so copy into a new block before freeing the old one.
    BSTR fresh = Allocate(psz, bytes);
    if (!fresh) return 0;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return 1;
  }
  // No source: resize in place, keeping the old characters. Growth is zero-filled rather than left
  // uninitialised as OLE does, so no stale heap content can leak into a string.
  const uint64_t old_bytes = SysStringByteLen(*pbstr);
  void* block = std::realloc(Prefix(*pbstr), BlockSize(bytes));
  if (!block) return 0;
  char* text = static_cast<char*>(block) + sizeof(DWORD);
  if (bytes > old_bytes) std::memset(text + old_bytes, 0, bytes - old_bytes);
  *pbstr = Finish(block, bytes);
  return 1;
}

void SysFreeString(BSTR bstrString) {
  if (bstrString) std::free(Prefix(bstrString));
}

UINT SysStringLen(BSTR pbstr) { return pbstr ? *Prefix(pbstr) / sizeof(OLECHAR) : 0; }

UINT SysStringByteLen(BSTR bstr) { return bstr ? *Prefix(bstr) : 0; }
