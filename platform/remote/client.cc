#include "platform/remote/client.h"

#include <optional>

#include "platform/com/activation.h"
#include "platform/com/errorinfo.h"
#include "platform/remote/auth.h"
#include "platform/remote/corked_stream.h"
#include "platform/remote/runtime.h"
#include "platform/remote/server.h"

namespace qva::remote {
namespace {

std::string Utf8(const USHORT* chars, ULONG length) {
  if (!chars) return {};
  return com::Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(chars), length));
}

struct Identity {
  std::string user, domain, password;
};

// The server's address, from its name: "\\host" as Windows writes it is "host".
std::string HostName(LPCOLESTR name) {
  std::string host = com::Utf16ToUtf8(name ? std::u16string_view(name) : std::u16string_view());
  while (!host.empty() && (host[0] == '\\' || host[0] == '/')) host.erase(0, 1);
  return host;
}

// Logs in on the gate; the session, or the refusal.
HRESULT Login(wire::Gate::Client& gate, const Identity* identity, Apartment& apartment,
              wire::Session::Client* session) {
  if (!identity) {
    auto response = apartment.Wait(gate.localLoginRequest().send());
    RETURN_IF_FAILED(response.getHr());
    *session = response.getSession();
    return S_OK;
  }
  const Bytes client_nonce = RandomBytes(kNonceBytes);
  auto begin = gate.beginLoginRequest();
  begin.setUser(identity->user);
  begin.setDomain(identity->domain);
  begin.setClientNonce(kj::arrayPtr(client_nonce.data(), client_nonce.size()));
  auto challenge = apartment.Wait(begin.send());
  const uint32_t iterations = challenge.getIterations();
  // A gate that asks for absurd work is not one to trust with a proof.
  if (iterations == 0 || iterations > kMaxIterations) return E_ACCESSDENIED;
  auto salt_data = challenge.getSalt();
  auto nonce_data = challenge.getServerNonce();
  const Bytes salt(salt_data.begin(), salt_data.end());
  const Bytes auth_message = AuthMessage(identity->user, identity->domain, client_nonce,
                                         Bytes(nonce_data.begin(), nonce_data.end()), salt, iterations);
  const ClientProof proof = ComputeClientProof(identity->password, salt, iterations, auth_message);
  auto finish = gate.finishLoginRequest();
  finish.setProof(kj::arrayPtr(proof.proof.data(), proof.proof.size()));
  auto response = apartment.Wait(finish.send());
  RETURN_IF_FAILED(response.getHr());
  // The service proves in turn that it holds the account's verifier: no impostor gets our calls.
  auto signature = response.getServerSignature();
  if (!ConstantTimeEqual(Bytes(signature.begin(), signature.end()), proof.server_signature)) return E_ACCESSDENIED;
  *session = response.getSession();
  return S_OK;
}

}  // namespace

void InstallClient() { com::SetOutOfProcessActivator(&Activate); }

HRESULT Activate(REFCLSID clsid, DWORD context, COSERVERINFO* server, DWORD count, MULTI_QI* results) {
  if (count == 0 || !results) return E_INVALIDARG;
  if (count > 64) return E_INVALIDARG;
  Apartment& apartment = Apartment::Current();
  // A member serving a call may connect elsewhere (it runs on a fiber); an object's release may not.
  if (!apartment.can_wait()) return RPC_E_CANTCALLOUT_ININPUTSYNCCALL;

  const std::string host = server ? HostName(server->pwszName) : std::string();
  const bool local = !(context & CLSCTX_REMOTE_SERVER) || host.empty();
  std::optional<Identity> identity;
  if (server && server->pAuthInfo && server->pAuthInfo->pAuthIdentityData) {
    const COAUTHIDENTITY& id = *server->pAuthInfo->pAuthIdentityData;
    identity =
        Identity{Utf8(id.User, id.UserLength), Utf8(id.Domain, id.DomainLength), Utf8(id.Password, id.PasswordLength)};
  }

  auto connection = std::make_shared<Connection>();
  wire::Gate::Client gate = nullptr;
  try {
    auto& network = apartment.io().provider->getNetwork();
    auto address = apartment.Wait(local ? network.parseAddress("unix:" + DefaultSocketPath())
                                        : network.parseAddress(host, DefaultPort()));
    connection->stream = kj::heap<CorkedStream>(apartment.Wait(address->connect()));
    capnp::ReaderOptions limits;
    limits.traversalLimitInWords = kMaxMessageWords;
    limits.nestingLimit = 32;
    connection->network =
        kj::heap<capnp::TwoPartyVatNetwork>(*connection->stream, capnp::rpc::twoparty::Side::CLIENT, limits);
    connection->rpc = kj::heap(capnp::makeRpcClient(*connection->network));
    capnp::MallocMessageBuilder vat_id(8);
    vat_id.initRoot<capnp::rpc::twoparty::VatId>().setSide(capnp::rpc::twoparty::Side::SERVER);
    gate = connection->rpc->bootstrap(vat_id.getRoot<capnp::rpc::twoparty::VatId>()).castAs<wire::Gate>();
  } catch (const kj::Exception&) {
    return RPC_E_SERVER_UNAVAILABLE;
  }

  try {
    wire::Session::Client session = nullptr;
    RETURN_IF_FAILED(Login(gate, identity ? &*identity : nullptr, apartment, &session));
    auto request = session.activateRequest();
    request.setClsid(GuidBytes(clsid));
    auto iids = request.initIids(count);
    for (DWORD i = 0; i < count; ++i) iids.set(i, GuidBytes(*results[i].pIID));
    auto response = apartment.Wait(request.send());
    const HRESULT hr = response.getHr();
    if (FAILED(hr)) return hr;
    auto codes = response.getResults();
    if (codes.size() != count) return RPC_E_DISCONNECTED;
    com::ComPtr<IUnknown> object;
    RETURN_IF_FAILED(RemoteObject::Import(connection, response.getObject(), object.put()));
    if (!object) return E_NOINTERFACE;
    DWORD granted = 0;
    for (DWORD i = 0; i < count; ++i) {
      results[i].hr = FAILED(codes[i])
                          ? codes[i]
                          : object->QueryInterface(*results[i].pIID, reinterpret_cast<void**>(&results[i].pItf));
      if (SUCCEEDED(results[i].hr)) ++granted;
    }
    if (granted == 0) return E_NOINTERFACE;
    return granted == count ? S_OK : CO_S_NOTALLINTERFACES;
  } catch (const kj::Exception& e) {
    return FromException(e);
  }
}

}  // namespace qva::remote
