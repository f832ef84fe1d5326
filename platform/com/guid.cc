#include "platform/com/guid.h"

#include <cstdio>

#include "platform/com/objbase.h"

namespace com {

std::string GuidToString(const GUID& g) {
  char buf[39];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

namespace {
// OLE text is UTF-16; a GUID is pure ASCII, so anything outside it is simply invalid.
std::optional<GUID> ParseOleGuid(LPCOLESTR s) {
  if (!s) return std::nullopt;
  std::string ascii;
  for (; *s; ++s) {
    if (*s > 0x7F || ascii.size() > 38) return std::nullopt;
    ascii.push_back(static_cast<char>(*s));
  }
  return ParseGuid(ascii);
}
}  // namespace

}  // namespace com

COMAPI INT StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, INT cchMax) {
  if (!lpsz || cchMax < 39) return 0;
  const std::string s = com::GuidToString(rguid);
  for (size_t i = 0; i < s.size(); ++i) lpsz[i] = static_cast<OLECHAR>(s[i]);
  lpsz[s.size()] = 0;
  return static_cast<INT>(s.size() + 1);
}

COMAPI HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
  if (!pclsid) return E_INVALIDARG;
  if (!lpsz || !*lpsz) {  // OLE reads a null or empty string as CLSID_NULL
    *pclsid = GUID_NULL;
    return S_OK;
  }
  auto g = com::ParseOleGuid(lpsz);
  if (!g) {
    *pclsid = GUID_NULL;
    return CO_E_CLASSSTRING;
  }
  *pclsid = *g;
  return S_OK;
}

COMAPI HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid) {
  if (!lpiid) return E_INVALIDARG;
  if (!lpsz) {
    *lpiid = IID_NULL;
    return S_OK;
  }
  auto g = com::ParseOleGuid(lpsz);
  if (!g) return E_INVALIDARG;
  *lpiid = *g;
  return S_OK;
}
