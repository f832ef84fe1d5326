// COM activation, GUID text and the library entry points every in-process server exports.
#pragma once

#include "platform/com/types.h"

enum CLSCTX : DWORD {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
  CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
  CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER,
};
enum COINIT : DWORD {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
};

struct COAUTHIDENTITY {
  USHORT* User;
  ULONG UserLength;
  USHORT* Domain;
  ULONG DomainLength;
  USHORT* Password;
  ULONG PasswordLength;
  ULONG Flags;
};
struct COAUTHINFO {
  DWORD dwAuthnSvc;
  DWORD dwAuthzSvc;
  LPOLESTR pwszServerPrincName;
  DWORD dwAuthnLevel;
  DWORD dwImpersonationLevel;
  COAUTHIDENTITY* pAuthIdentityData;
  DWORD dwCapabilities;
};
struct COSERVERINFO {
  DWORD dwReserved1;
  LPOLESTR pwszName;
  COAUTHINFO* pAuthInfo;
  DWORD dwReserved2;
};
struct MULTI_QI {
  const IID* pIID;
  IUnknown* pItf;
  HRESULT hr;
};

using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, void**);
using LPFNCANUNLOADNOW = HRESULT (*)();

COMAPI HRESULT CoInitialize(void* pvReserved);
COMAPI HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
COMAPI void CoUninitialize();
// Finds "CLSID\{clsid}\InprocServer32" in the registry, loads that library and asks its
// DllGetClassObject. Only in-process servers are served here; other contexts are answered by
// the remote layer when it is linked in, else REGDB_E_CLASSNOTREG.
COMAPI HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid, void** ppv);
COMAPI HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv);
COMAPI HRESULT CoCreateInstanceEx(REFCLSID rclsid, IUnknown* punkOuter, DWORD dwClsCtx, COSERVERINFO* pServerInfo,
                                  DWORD dwCount, MULTI_QI* pResults);
// Unloads libraries whose DllCanUnloadNow says S_OK.
COMAPI void CoFreeUnusedLibraries();
COMAPI HRESULT CoInitializeSecurity(void* pSecDesc, LONG cAuthSvc, void* asAuthSvc, void* pReserved1,
                                    DWORD dwAuthnLevel, DWORD dwImpLevel, void* pAuthList, DWORD dwCapabilities,
                                    void* pReserved3);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case: 38 characters plus NUL.
COMAPI INT StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, INT cchMax);
COMAPI HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);
COMAPI HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid);
// ProgID to CLSID through "<ProgID>\CLSID", following "<ProgID>\CurVer" when the key has no
// CLSID of its own; a string in braces is read as a CLSID directly.
COMAPI HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
COMAPI HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);
COMAPI void* CoTaskMemAlloc(size_t cb);
COMAPI void CoTaskMemFree(void* pv);
