#include "qvacom/root/root.h"

#include "platform/com/bstr.h"
#include "platform/com/objbase.h"

namespace qva {
namespace {

// Authentication constants of the remote activation.
constexpr DWORD kAuthnWinNT = 10;             // RPC_C_AUTHN_WINNT
constexpr DWORD kAuthzNone = 0;               // RPC_C_AUTHZ_NONE
constexpr DWORD kAuthnLevelDefault = 0;       // RPC_C_AUTHN_LEVEL_DEFAULT
constexpr DWORD kAuthnLevelConnect = 2;       // RPC_C_AUTHN_LEVEL_CONNECT
constexpr DWORD kImpLevelImpersonate = 3;     // RPC_C_IMP_LEVEL_IMPERSONATE
constexpr ULONG kIdentityUnicode = 2;         // SEC_WINNT_AUTH_IDENTITY_UNICODE

// A null string counts as empty; the test is a comparison under the user's default locale.
bool IsEmpty(BSTR s) { return VarBstrCmp(s, nullptr, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ; }

// Copies a caller's string; a null string stays null.
bool CopyArg(BSTR from, com::Bstr* to) {
  *to = from ? com::Bstr::Attach(SysAllocStringLen(from, SysStringLen(from))) : com::Bstr();
  return !from || to->get();
}

USHORT* Chars(const com::Bstr& s) { return reinterpret_cast<USHORT*>(s.get()); }

}  // namespace

HRESULT CQVA::Connect(BSTR ServerName, BSTR bstrUserName, BSTR bstrDomain, BSTR bstrPassword, IQVAArray** ppArray) {
  if (!ppArray) return E_POINTER;
  *ppArray = nullptr;
  com::Bstr server, user, domain, password;
  if (!CopyArg(ServerName, &server) || !CopyArg(bstrUserName, &user) || !CopyArg(bstrDomain, &domain) ||
      !CopyArg(bstrPassword, &password))
    return E_OUTOFMEMORY;

  const bool send_identity = !(IsEmpty(user.get()) && IsEmpty(domain.get()) && IsEmpty(password.get()));
  const bool local = IsEmpty(server.get());

  // Fails harmlessly when the process has set its security already.
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, kAuthnLevelDefault, kImpLevelImpersonate, nullptr, 0, nullptr);

  COAUTHIDENTITY identity{Chars(user),     user.size(),     Chars(domain), domain.size(),
                          Chars(password), password.size(), kIdentityUnicode};
  COAUTHINFO auth{kAuthnWinNT,          kAuthzNone, nullptr, kAuthnLevelConnect, kImpLevelImpersonate,
                  send_identity ? &identity : nullptr, 0};
  // A local activation names the machine from the domain argument, as the service's consoles
  // have always sent it; an empty domain makes it a plain local activation.
  COSERVERINFO server_info{0, local ? domain.get() : server.get(), &auth, 0};
  MULTI_QI mqi{&IID_IQVAArray, nullptr, S_OK};
  const DWORD context = local ? CLSCTX_LOCAL_SERVER : (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER);
  HRESULT hr = CoCreateInstanceEx(kServiceArrayClsid, nullptr, context, &server_info, 1, &mqi);
  if (SUCCEEDED(hr)) hr = mqi.hr;
  if (FAILED(hr)) {
    if (mqi.pItf) mqi.pItf->Release();
    return hr;
  }
  *ppArray = static_cast<IQVAArray*>(mqi.pItf);
  return S_OK;
}

HRESULT CQVA::GetArray(IQVAArray** ppArray) {
  if (!ppArray) return E_POINTER;
  *ppArray = nullptr;
  return CoCreateInstance(CLSID_QVAArray, nullptr, CLSCTX_INPROC_SERVER, IID_IQVAArray,
                          reinterpret_cast<void**>(ppArray));
}

}  // namespace qva
