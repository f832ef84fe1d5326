// The four entry points of an in-process server.
#include "platform/com/objbase.h"
#include "qvacom/module/module.h"

COMAPI HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  return qva::TheModule().GetClassObject(rclsid, riid, ppv);
}

COMAPI HRESULT DllCanUnloadNow() { return qva::TheModule().LockCount() == 0 ? S_OK : S_FALSE; }

COMAPI HRESULT DllRegisterServer() { return qva::TheModule().RegisterServer(); }

COMAPI HRESULT DllUnregisterServer() { return qva::TheModule().UnregisterServer(); }
