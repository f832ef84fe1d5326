// libvodrikfw.so: the in-process server of the firewall adapter.
#include "components/firewall.h"

#include <string>

#include "components/inproc_server.h"
#include "platform/com/errorinfo.h"
#include "platform/com/module.h"

namespace vodrik {
namespace {

constexpr std::string_view kSource = "Vodrik.FirewallAdapter";
constexpr uint32_t kErrorNotSupported = 50;  // ERROR_NOT_SUPPORTED

}  // namespace

HRESULT CVodrikFirewallProxy::Connect(BSTR, BSTR, BSTR, BSTR, BSTR) {
  return com::ReportError(
      HRESULT_FROM_WIN32(kErrorNotSupported), kSource,
      "no firewall server of edition " + std::to_string(edition_) + " can be reached from this platform");
}

HRESULT CVodrikFirewallAdapter::CreateProxy(LONG edition, IVodrikFirewallProxy** proxy) {
  if (!proxy) return E_POINTER;
  *proxy = nullptr;
  if (edition < kIsa2000 || edition > kTmg2010EnterpriseEms)
    return com::ReportError(E_INVALIDARG, kSource, "unknown firewall edition code " + std::to_string(edition));
  auto made = com::CreateObject<CVodrikFirewallProxy>(edition);
  if (!made) return made.error();
  *proxy = made->Detach();
  return S_OK;
}

}  // namespace vodrik

VODRIK_INPROC_SERVER(vodrik::CVodrikFirewallAdapter, vodrik::kFirewallAdapterClsid, "Vodrik Firewall Adapter Class")
