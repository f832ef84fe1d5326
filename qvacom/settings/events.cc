#include "qvacom/settings/events.h"

namespace qva {

QVA_RECORD_PROPERTY(CQVAEvent, Time, DATE, time);
QVA_RECORD_PROPERTY(CQVAEvent, Type, LONG, type);
QVA_RECORD_PROPERTY(CQVAEvent, Content, BSTR, content);

HRESULT CQVAEvents::Init(BSTR) { return S_OK; }

HRESULT CQVAEvents::Save() { return S_OK; }

HRESULT CQVAEvents::Add(DATE Date, BSTR Content, LONG Type) {
  auto event = com::CreateObject<CQVAEvent>();
  auto content = settings::CopyBstr(Content);
  if (!event || !content) return E_FAIL;
  (*event)->record() = EventRecord{Date, Type, std::move(*content)};
  auto& all = events_.items();
  all.insert(all.begin(), std::move(*event));
  if (all.size() > kMaxEvents) all.pop_back();
  return S_OK;
}

HRESULT CQVAEvents::get_Count(LONG* pVal) { return events_.Count(pVal); }

HRESULT CQVAEvents::get__NewEnum(IUnknown** pVal) { return events_.NewEnum(pVal); }

HRESULT CQVAEvents::RemoveAll() {
  events_.items().clear();
  return S_OK;
}

}  // namespace qva
