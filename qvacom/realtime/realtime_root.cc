#include "qvacom/realtime/realtime_root.h"

#include "platform/com/object.h"
#include "qvacom/realtime/real_views.h"

namespace qva {
namespace {

// Makes a View and keeps it in `slot` through its interface I.
template <class View, class I>
HRESULT MakeView(com::ComPtr<I>* slot) {
  auto view = com::CreateObject<View>();
  if (!view) return view.error();
  *slot = com::ComPtr<I>(view->get());
  return S_OK;
}

}  // namespace

HRESULT CQVARealTime::FinalConstruct() {
  RETURN_IF_FAILED(MakeView<CQVARealTraffics>(&traffics_));
  RETURN_IF_FAILED(MakeView<CQVARealUsers>(&users_));
  RETURN_IF_FAILED(MakeView<CQVARealWarns>(&warns_));
  RETURN_IF_FAILED(MakeView<CQVARealFiles>(&files_));
  RETURN_IF_FAILED(MakeView<CQVARealBlocks>(&blocks_));
  RETURN_IF_FAILED(MakeView<CQVARealMalwares>(&malwares_));
  RETURN_IF_FAILED(MakeView<CQVARealNISs>(&niss_));
  return S_OK;
}

HRESULT CQVARealTime::get_RealTraffics(IQVARealTraffics** pVal) { return traffics_.CopyTo(pVal); }
HRESULT CQVARealTime::get_RealUsers(IQVARealUsers** pVal) { return users_.CopyTo(pVal); }
HRESULT CQVARealTime::get_RealWarns(IQVARealWarns** pVal) { return warns_.CopyTo(pVal); }
HRESULT CQVARealTime::get_RealFiles(IQVARealFiles** pVal) { return files_.CopyTo(pVal); }
HRESULT CQVARealTime::get_RealBlocks(IQVARealBlocks** pVal) { return blocks_.CopyTo(pVal); }
HRESULT CQVARealTime::get_RealMalwares(IQVARealMalwares** pVal) { return malwares_.CopyTo(pVal); }
HRESULT CQVARealTime::get_RealNISs(IQVARealNISs** pVal) { return niss_.CopyTo(pVal); }

HRESULT CQVARealTime::get_CurDate(DATE* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = cur_date_;
  return S_OK;
}

HRESULT CQVARealTime::put_CurDate(DATE newVal) {
  cur_date_ = newVal;
  return S_OK;
}

}  // namespace qva
