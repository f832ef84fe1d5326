// The module object of the library: lock count, class-object cache and self-registration.
#pragma once

#include <atomic>
#include <string>

#include "platform/com/module.h"
#include "qvacom/module/catalogue.h"

namespace qva {

class CqvacomModule : public com::Module {
 public:
  CqvacomModule();
  ~CqvacomModule();  // releases the cached class objects (and the root object with its own)
  CqvacomModule(const CqvacomModule&) = delete;
  CqvacomModule& operator=(const CqvacomModule&) = delete;

  // The class object of a catalogue class, made on the first request and kept.
  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
  // Applies the registration scripts (101, then every class) and the type library entries,
  // as one edit of the registry: a failure half way leaves the registry as it was.
  HRESULT RegisterServer();
  // Removes the classes, the type library entries, then the application identifier entries.
  HRESULT UnregisterServer();

  // Full path of the library file ("%MODULE%").
  COM_CXX_API static std::string ModulePath();

 private:
  // One slot per catalogue entry; a slot holds one reference on its class object.
  std::atomic<IUnknown*>* class_objects_;
};

CqvacomModule& TheModule();

}  // namespace qva
