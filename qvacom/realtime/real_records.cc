#include "qvacom/realtime/real_records.h"

#include <cstdint>
#include <new>

#include "platform/com/text.h"

namespace qva {

namespace real_record {

HRESULT Get(const std::string& field, BSTR* out) {
  if (!out) return E_POINTER;
  *out = com::AllocBstr(field);
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT Put(BSTR value, std::string* field) {
  try {
    *field = com::BstrToUtf8(value);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace real_record

namespace {

// Two's complement addition without signed overflow: the sum wraps modulo 2^32.
LONG WrappingAdd(LONG a, LONG b) { return static_cast<LONG>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }

}  // namespace

HRESULT CQVARealTraffic::add_InBytes(LONG InBytes) {
  data_.in_bytes = WrappingAdd(data_.in_bytes, InBytes);
  return S_OK;
}

HRESULT CQVARealTraffic::add_OutBytes(LONG OutBytes) {
  data_.out_bytes = WrappingAdd(data_.out_bytes, OutBytes);
  return S_OK;
}

}  // namespace qva
