#include "qvacom/module/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <map>
#include <new>

#include "platform/com/activation.h"
#include "platform/com/guid.h"
#include "platform/remote/client.h"
#include "platform/com/registrar.h"
#include "platform/com/registry.h"
#include "qvacom/module/scripts.h"
#include "qvacom_idl.h"

namespace qva {

CqvacomModule::CqvacomModule() : class_objects_(new std::atomic<IUnknown*>[Catalogue().size()]) {
  for (size_t i = 0; i < Catalogue().size(); ++i) class_objects_[i] = nullptr;
  // The root's Connect activates the service's array out of process: the remote layer answers
  // those activations for every process that loads this library, unless the process brought its
  // own (one client per process: each keeps a per-thread event loop).
  com::AddOutOfProcessActivator(&remote::Activate);
}

CqvacomModule::~CqvacomModule() {
  // The activator is code of this library: it must not outlive an unload.
  com::RemoveOutOfProcessActivator(&remote::Activate);
  for (size_t i = 0; i < Catalogue().size(); ++i)
    if (IUnknown* p = class_objects_[i].exchange(nullptr)) p->Release();
  delete[] class_objects_;
}

HRESULT CqvacomModule::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const ClassEntry* entry = FindClass(clsid);
  if (!entry || !entry->create_class_object) return CLASS_E_CLASSNOTAVAILABLE;
  std::atomic<IUnknown*>& slot = class_objects_[entry - Catalogue().data()];
  IUnknown* cached = slot.load();
  if (!cached) {
    IUnknown* made = nullptr;
    RETURN_IF_FAILED(entry->create_class_object(IID_IUnknown, reinterpret_cast<void**>(&made)));
    // Two threads may race to make it; the first one stored wins, the other is dropped.
    if (slot.compare_exchange_strong(cached, made)) {
      cached = made;
    } else {
      made->Release();
    }
  }
  return cached->QueryInterface(riid, ppv);
}

std::string CqvacomModule::ModulePath() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&TheModule), &info) || !info.dli_fname) return {};
  char resolved[PATH_MAX];
  return realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);
}

namespace {

HRESULT ApplyAll(com::RegistryKey& root, bool do_register) {
  const std::string module = CqvacomModule::ModulePath();
  const std::map<std::string, std::string> replacements = {
      {"MODULE", module},
      {"MODULEDIR", module.substr(0, module.find_last_of('/') + 1)},
      {"APPID", com::GuidToString(kAppId)},
  };
  auto apply = [&](int number) -> HRESULT {
    auto script = RegistrationScript(number);
    if (!script) return E_UNEXPECTED;
    return com::ApplyRegistrationScript(root, *script, replacements, do_register);
  };
  // Registration: application identifier, classes, type library. Unregistration: classes,
  // type library, then the application identifier.
  if (do_register) RETURN_IF_FAILED(apply(kAppIdScript));
  for (const ClassEntry& e : Catalogue()) RETURN_IF_FAILED(apply(e.script));
  RETURN_IF_FAILED(com::ApplyRegistrationScript(root, qvacom_gen::kTypeLibraryScript, replacements, do_register));
  if (!do_register) RETURN_IF_FAILED(apply(kAppIdScript));
  return S_OK;
}

}  // namespace

HRESULT CqvacomModule::RegisterServer() {
  return com::Registry::Shared().Edit([](com::RegistryKey& root) { return ApplyAll(root, true); });
}

HRESULT CqvacomModule::UnregisterServer() {
  return com::Registry::Shared().Edit([](com::RegistryKey& root) { return ApplyAll(root, false); });
}

CqvacomModule& TheModule() {
  // Lives until the library is unloaded; its destructor releases the class objects.
  static CqvacomModule module;
  return module;
}

}  // namespace qva

namespace com {
Module& ThisModule() { return qva::TheModule(); }
}  // namespace com
