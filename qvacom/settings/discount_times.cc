#include "qvacom/settings/discount_times.h"

namespace qva {
namespace {

auto Window(DATE start, DATE end) {
  return [=](const DiscountTimeRecord& r) { return r.start == start && r.end == end; };
}

}  // namespace

QVA_RECORD_PROPERTY(CQVADiscountTime, StartTime, DATE, start);
QVA_RECORD_PROPERTY(CQVADiscountTime, EndTime, DATE, end);
QVA_RECORD_PROPERTY(CQVADiscountTime, Rate, double, rate);

HRESULT CQVADiscountTimes::Item(DATE Start, DATE End, IQVADiscountTime** pVal) {
  return list_.Lookup(Window(Start, End), pVal);
}

HRESULT CQVADiscountTimes::Add(DATE Start, DATE End, IQVADiscountTime** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  ASSIGN_OR_RETURN(com::ComPtr<CQVADiscountTime> item, list_.Append({Start, End, 0.0}));
  *pVal = item.Detach();
  return S_OK;
}

HRESULT CQVADiscountTimes::get_Count(LONG* pVal) { return list_.items().Count(pVal); }

HRESULT CQVADiscountTimes::get__NewEnum(IUnknown** pVal) { return list_.items().NewEnum(pVal); }

HRESULT CQVADiscountTimes::Remove(DATE Start, DATE End) {
  return list_.Erase(Window(Start, End), DiscountTimeRecord{Start, End, 0.0}, true);
}

HRESULT CQVADiscountTimes::Save() { return list_.Store(); }

HRESULT CQVADiscountTimes::Init(IUnknown* pDocument) { return list_.Bind(pDocument); }

HRESULT CQVADiscountTimes::Index(VARIANT v, IQVADiscountTime** pVal) { return list_.At(v, pVal); }

HRESULT CQVADiscountTimes::Exists(DATE Start, DATE End, VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = list_.Find(Window(Start, End)) ? 1 : 0;
  return S_OK;
}

HRESULT CQVADiscountTimes::LoadXML(IUnknown* pDocument) { return list_.Import(pDocument); }

HRESULT CQVADiscountTimes::SaveXML(IUnknown* pDocument) { return list_.Export(pDocument); }

}  // namespace qva
