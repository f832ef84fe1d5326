#include "qvacom/realtime/real_views.h"

#include <new>
#include <string>

#include "platform/com/text.h"

namespace qva {

HRESULT CQVARealTraffics::ResetCurInfo(DATE Reset) {
  for (const com::ComPtr<CQVARealTraffic>& record : records_) {
    CQVARealTraffic::Data& d = record->data();
    d.start_time = Reset;
    d.end_time = Reset;
    d.in_bytes = 0;
    d.out_bytes = 0;
  }
  return S_OK;
}

// Name and address are compared each on its own. Comparing the two joined into one text would
// let user "pc1" at 10.0.0.5 answer for user "pc" at 110.0.0.5, and the service would then count
// one user's bytes on another's line.
HRESULT CQVARealTraffics::Find(BSTR Name, BSTR SourceAddr, IQVARealTraffic** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  std::string name, addr;
  try {
    name = com::BstrToUtf8(Name);
    addr = com::BstrToUtf8(SourceAddr);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  for (const com::ComPtr<CQVARealTraffic>& record : records_) {
    const CQVARealTraffic::Data& d = record->data();
    if (d.name == name && d.source_addr == addr) {
      *pVal = record.get();
      (*pVal)->AddRef();
      return S_OK;
    }
  }
  return S_FALSE;
}

}  // namespace qva
