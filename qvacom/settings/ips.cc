#include "qvacom/settings/ips.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "qvacom/frame/address.h"

namespace qva {
namespace {

double NumberOf(const com::Bstr& address) {
  return AddressNumber(address.utf8()).value_or(std::numeric_limits<double>::quiet_NaN());
}

auto Range(BSTR start, BSTR end) {
  return [start, end](const IPRecord& r) {
    return r.start.view() == com::BstrView(start) && r.end.view() == com::BstrView(end);
  };
}

}  // namespace

void IPsTraits::Derive(IPRecord& r) {
  r.db_start = NumberOf(r.start);
  r.db_end = NumberOf(r.end);
}

QVA_RECORD_PROPERTY(CQVAIP, StartIP, BSTR, start);
QVA_RECORD_PROPERTY(CQVAIP, EndIP, BSTR, end);
QVA_RECORD_PROPERTY(CQVAIP, Num, LONG, num);
QVA_RECORD_PROPERTY(CQVAIP, dbStartIP, double, db_start);
QVA_RECORD_PROPERTY(CQVAIP, dbEndIP, double, db_end);

HRESULT CQVAIPs::Init(IUnknown* pDocument) { return list_.Bind(pDocument); }

HRESULT CQVAIPs::Add(BSTR StartIP, BSTR EndIP) {
  IPRecord r;
  ASSIGN_OR_RETURN(r.start, settings::CopyBstr(StartIP));
  ASSIGN_OR_RETURN(r.end, settings::CopyBstr(EndIP));
  IPsTraits::Derive(r);
  if (std::isnan(r.db_start) || std::isnan(r.db_end)) {
    return list_.Error(E_INVALIDARG,
                       "\"" + r.start.utf8() + "\" - \"" + r.end.utf8() + "\" is not an IPv4 address range");
  }
  // The smallest number not in use: with n ranges one of 0 .. n is free.
  std::vector<bool> used(list_.items().size() + 1, false);
  for (const auto& item : list_.items().items()) {
    const LONG n = item->record().num;
    if (n >= 0 && static_cast<size_t>(n) < used.size()) used[n] = true;
  }
  r.num = static_cast<LONG>(std::find(used.begin(), used.end(), false) - used.begin());
  return list_.Append(std::move(r)).error();
}

HRESULT CQVAIPs::Remove(BSTR StartIP, BSTR EndIP) {
  IPRecord probe;
  ASSIGN_OR_RETURN(probe.start, settings::CopyBstr(StartIP));
  ASSIGN_OR_RETURN(probe.end, settings::CopyBstr(EndIP));
  return list_.Erase(Range(StartIP, EndIP), probe, false);
}

HRESULT CQVAIPs::get_Count(LONG* pVal) { return list_.items().Count(pVal); }

HRESULT CQVAIPs::Index(VARIANT v, IQVAIP** pVal) { return list_.At(v, pVal); }

HRESULT CQVAIPs::Exists(BSTR StartIP, BSTR EndIP, VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = list_.Find(Range(StartIP, EndIP)) ? 1 : 0;
  return S_OK;
}

HRESULT CQVAIPs::Save() { return list_.Store(); }

HRESULT CQVAIPs::Item(BSTR StartIP, BSTR EndIP, IQVAIP** pVal) { return list_.Lookup(Range(StartIP, EndIP), pVal); }

HRESULT CQVAIPs::get__NewEnum(IUnknown** pVal) { return list_.items().NewEnum(pVal); }

HRESULT CQVAIPs::LoadXML(IUnknown* pDocument) { return list_.Import(pDocument); }

HRESULT CQVAIPs::SaveXML(IUnknown* pDocument) { return list_.Export(pDocument); }

}  // namespace qva
