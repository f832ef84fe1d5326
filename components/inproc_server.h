// The few lines every in-process server of the product's components shares: one class, its class
// object made on the first request and kept for the library's life, and its registration under
// HKEY_CLASSES_ROOT\CLSID with the library's own path. The COM machinery (class factory,
// registrar, registry) is platform/com's.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "platform/com/object.h"
#include "platform/com/types.h"

namespace vodrik {

// Full path of the shared library this code is linked into (symbolic links resolved).
std::string ThisLibraryPath();

// Registers (do_register) or unregisters the in-process class `clsid` described as `description`,
// served by this library with the apartment threading model. One edit of the registry: a failure
// leaves it as it was.
HRESULT RegisterInprocClass(REFCLSID clsid, std::string_view description, bool do_register);

// The class object of the library's one class T, made on the first request. Requests for any
// other class get CLASS_E_CLASSNOTAVAILABLE.
template <class T>
HRESULT GetClassObjectOf(REFCLSID served, REFCLSID wanted, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (wanted != served) return CLASS_E_CLASSNOTAVAILABLE;
  // The cache's reference lives until the library is unloaded; it does not hold the module, so
  // an idle library can still be unloaded (the object dies with it).
  static std::atomic<IUnknown*> cached{nullptr};
  IUnknown* held = cached.load();
  if (!held) {
    IUnknown* made = nullptr;
    const HRESULT hr = com::MakeClassObject<com::ClassFactory<T>>(IID_IUnknown, reinterpret_cast<void**>(&made));
    if (FAILED(hr)) return hr;
    if (cached.compare_exchange_strong(held, made)) {
      held = made;
    } else {
      made->Release();
    }
  }
  return held->QueryInterface(riid, ppv);
}

}  // namespace vodrik

// Defines the module and the four entry points of a library that serves the one class `Class`
// under `clsid`, described in the registry as `description`.
#define VODRIK_INPROC_SERVER(Class, clsid, description)                                                  \
  namespace com {                                                                                        \
  Module& ThisModule() {                                                                                 \
    static Module module;                                                                                \
    return module;                                                                                       \
  }                                                                                                      \
  }                                                                                                      \
  COMAPI HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {                           \
    return ::vodrik::GetClassObjectOf<Class>(clsid, rclsid, riid, ppv);                                  \
  }                                                                                                      \
  COMAPI HRESULT DllCanUnloadNow() { return com::ThisModule().LockCount() == 0 ? S_OK : S_FALSE; }       \
  COMAPI HRESULT DllRegisterServer() { return ::vodrik::RegisterInprocClass(clsid, description, true); } \
  COMAPI HRESULT DllUnregisterServer() { return ::vodrik::RegisterInprocClass(clsid, description, false); }
