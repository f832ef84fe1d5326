// COM activation: apartments, in-process servers found through the registry, ProgIDs.
#include "platform/com/activation.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "platform/com/errorinfo.h"
#include "platform/com/guid.h"
#include "platform/com/registry.h"

namespace com {
namespace {

struct Apartment {
  int inits = 0;
  DWORD model = COINIT_APARTMENTTHREADED;
};
thread_local Apartment t_apartment;

std::atomic<OutOfProcessActivator> g_activator{nullptr};

// In-process servers stay loaded until CoFreeUnusedLibraries finds them idle.
struct LoadedServer {
  void* handle = nullptr;
  LPFNGETCLASSOBJECT get_class_object = nullptr;
  LPFNCANUNLOADNOW can_unload_now = nullptr;
};
std::mutex g_servers_mutex;
std::map<std::string, LoadedServer>& Servers() {
  static auto* servers = new std::map<std::string, LoadedServer>;  // never destroyed: used at exit
  return *servers;
}

std::optional<std::string> ClassKeyDefault(REFCLSID clsid, const char* subkey) {
  auto tree = Registry::Shared().Read();
  if (!tree) return std::nullopt;
  const RegistryKey* key = (*tree)->Find("CLSID\\" + GuidToString(clsid) + "\\" + subkey);
  if (!key || !key->GetDefault() || key->GetDefault()->empty()) return std::nullopt;
  return key->GetDefault();
}

Expected<LoadedServer> LoadServer(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_servers_mutex);
  auto it = Servers().find(path);
  if (it != Servers().end()) return it->second;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return Fail{HRESULT_FROM_WIN32(126)};  // ERROR_MOD_NOT_FOUND
  LoadedServer server;
  server.handle = handle;
  server.get_class_object = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, "DllGetClassObject"));
  server.can_unload_now = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(handle, "DllCanUnloadNow"));
  if (!server.get_class_object) {
    dlclose(handle);
    return Fail{CO_E_ERRORINDLL};
  }
  Servers()[path] = server;
  return server;
}

HRESULT GetInprocClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  auto path = ClassKeyDefault(clsid, "InprocServer32");
  if (!path) return REGDB_E_CLASSNOTREG;
  ASSIGN_OR_RETURN(LoadedServer server, LoadServer(*path));
  return server.get_class_object(clsid, riid, ppv);
}

bool IsLocalName(const COSERVERINFO* info) { return !info || !info->pwszName || !info->pwszName[0]; }

}  // namespace

HRESULT RegisterServerIfAbsent(const std::string& library, REFCLSID clsid) {
  if (auto path = ClassKeyDefault(clsid, "InprocServer32"); path && !path->empty() && access(path->c_str(), F_OK) == 0)
    return S_FALSE;
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return ReportError(E_FAIL, "Registration", "cannot load " + library + ": " + dlerror());
  auto entry = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllRegisterServer"));
  if (!entry) return ReportError(E_FAIL, "Registration", library + " has no DllRegisterServer");
  return entry();
}

void SetOutOfProcessActivator(OutOfProcessActivator activator) { g_activator = activator; }

void AddOutOfProcessActivator(OutOfProcessActivator activator) {
  OutOfProcessActivator none = nullptr;
  g_activator.compare_exchange_strong(none, activator);
}

void RemoveOutOfProcessActivator(OutOfProcessActivator activator) {
  g_activator.compare_exchange_strong(activator, nullptr);
}

}  // namespace com

using namespace com;

COMAPI HRESULT CoInitialize(void* pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

COMAPI HRESULT CoInitializeEx(void*, DWORD dwCoInit) {
  const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
  if (t_apartment.inits > 0 && t_apartment.model != model) return RPC_E_CHANGED_MODE;
  t_apartment.model = model;
  return ++t_apartment.inits == 1 ? S_OK : S_FALSE;
}

COMAPI void CoUninitialize() {
  if (t_apartment.inits > 0) --t_apartment.inits;
}

COMAPI HRESULT CoInitializeSecurity(void*, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*) {
  // Security of the remote connection is set up by the remote layer; there is nothing to record
  // here, and a second call fails as on Windows.
  static std::atomic<bool> done{false};
  return done.exchange(true) ? HRESULT(0x80010119u) /* RPC_E_TOO_LATE */ : S_OK;
}

COMAPI HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid, void** ppv) {
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  if (t_apartment.inits == 0) return CO_E_NOTINITIALIZED;
  auto* server = static_cast<COSERVERINFO*>(pvReserved);
  if ((dwClsContext & CLSCTX_INPROC_SERVER) && IsLocalName(server)) {
    const HRESULT hr = GetInprocClassObject(rclsid, riid, ppv);
    if (hr != REGDB_E_CLASSNOTREG || !(dwClsContext & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER))) return hr;
  }
  // Class objects of other processes are not handed out; they are reached by CoCreateInstanceEx.
  return REGDB_E_CLASSNOTREG;
}

COMAPI HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  MULTI_QI mqi{&riid, nullptr, S_OK};
  const HRESULT hr = CoCreateInstanceEx(rclsid, pUnkOuter, dwClsContext, nullptr, 1, &mqi);
  if (FAILED(hr)) return hr;
  *ppv = mqi.pItf;
  return mqi.hr;
}

COMAPI HRESULT CoCreateInstanceEx(REFCLSID rclsid, IUnknown* punkOuter, DWORD dwClsCtx, COSERVERINFO* pServerInfo,
                                  DWORD dwCount, MULTI_QI* pResults) {
  if (dwCount == 0 || !pResults) return E_INVALIDARG;
  for (DWORD i = 0; i < dwCount; ++i) {
    if (!pResults[i].pIID) return E_INVALIDARG;
    pResults[i].pItf = nullptr;
    pResults[i].hr = E_NOINTERFACE;
  }
  if (t_apartment.inits == 0) return CO_E_NOTINITIALIZED;

  HRESULT hr = REGDB_E_CLASSNOTREG;
  if ((dwClsCtx & CLSCTX_INPROC_SERVER) && IsLocalName(pServerInfo)) {
    IClassFactory* factory = nullptr;
    hr = GetInprocClassObject(rclsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr)) {
      IUnknown* object = nullptr;
      hr = factory->CreateInstance(punkOuter, *pResults[0].pIID, reinterpret_cast<void**>(&object));
      factory->Release();
      if (FAILED(hr)) return hr;
      pResults[0].pItf = object;
      pResults[0].hr = S_OK;
      DWORD found = 1;
      for (DWORD i = 1; i < dwCount; ++i) {
        pResults[i].hr = object->QueryInterface(*pResults[i].pIID, reinterpret_cast<void**>(&pResults[i].pItf));
        if (SUCCEEDED(pResults[i].hr)) ++found;
      }
      return found == dwCount ? S_OK : CO_S_NOTALLINTERFACES;
    }
    if (hr != REGDB_E_CLASSNOTREG) return hr;
  }
  if (dwClsCtx & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)) {
    if (punkOuter) return CLASS_E_NOAGGREGATION;
    if (OutOfProcessActivator activator = g_activator.load())
      return activator(rclsid, dwClsCtx, pServerInfo, dwCount, pResults);
  }
  return hr;
}

COMAPI void CoFreeUnusedLibraries() {
  std::lock_guard<std::mutex> lock(g_servers_mutex);
  for (auto it = Servers().begin(); it != Servers().end();) {
    if (it->second.can_unload_now && it->second.can_unload_now() == S_OK) {
      dlclose(it->second.handle);
      it = Servers().erase(it);
    } else {
      ++it;
    }
  }
}

COMAPI HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) {
  if (!lpszProgID || !lpclsid) return E_INVALIDARG;
  *lpclsid = GUID_NULL;
  if (lpszProgID[0] == u'{') return CLSIDFromString(lpszProgID, lpclsid);
  auto tree = Registry::Shared().Read();
  if (!tree) return tree.error();
  std::string progid = Utf16ToUtf8(lpszProgID);
  // A version-independent ProgID names its current version under "CurVer"; follow it (a few
  // steps at most, so a loop in the registry cannot hang us), then read that ProgID's CLSID.
  for (int hops = 0; hops < 8; ++hops) {
    const RegistryKey* key = (*tree)->Find(progid);
    if (!key) return CO_E_CLASSSTRING;
    const RegistryKey* curver = key->Find("CurVer");
    if (curver && curver->GetDefault() && !curver->GetDefault()->empty() &&
        !EqualsNoCase(*curver->GetDefault(), progid)) {
      progid = *curver->GetDefault();
      continue;
    }
    const RegistryKey* clsid = key->Find("CLSID");
    if (!clsid || !clsid->GetDefault()) return CO_E_CLASSSTRING;
    auto g = ParseGuid(*clsid->GetDefault());
    if (!g) return CO_E_CLASSSTRING;
    *lpclsid = *g;
    return S_OK;
  }
  return CO_E_CLASSSTRING;
}

COMAPI HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
  if (!lplpszProgID) return E_INVALIDARG;
  *lplpszProgID = nullptr;
  auto progid = ClassKeyDefault(clsid, "ProgID");
  if (!progid) return REGDB_E_CLASSNOTREG;
  const std::u16string wide = Utf8ToUtf16(*progid);
  auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
  if (!out) return E_OUTOFMEMORY;
  std::copy(wide.begin(), wide.end(), out);
  out[wide.size()] = 0;
  *lplpszProgID = out;
  return S_OK;
}

COMAPI void* CoTaskMemAlloc(size_t cb) { return std::malloc(cb ? cb : 1); }
COMAPI void CoTaskMemFree(void* pv) { std::free(pv); }
