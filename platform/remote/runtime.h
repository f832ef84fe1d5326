// The object machinery of a remote connection, shared by the client and the server side:
//
//   server: ObjectServer   one per exported COM object (identity); the RPC system owns it and
//                          destroys it, releasing the object, when the peer lets go of it or the
//                          connection ends. Calls arrive as (IID, member index, values) and are
//                          unpacked by the generated stub of that interface.
//   client: RemoteObject   one per imported object (identity); it holds the capability and hands
//                          out one generated proxy (a Facet) per interface asked for.
//
// Everything here belongs to one thread, the one whose kj event loop (its Apartment) carries the
// connection: COM's apartment rule. A proxy called from another thread answers RPC_E_WRONG_THREAD.
#pragma once

#include <capnp/rpc-twoparty.h>
#include <kj/async-io.h>

#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "platform/com/variant.h"
#include "platform/remote/values.h"

namespace qva::remote {

constexpr HRESULT RPC_E_DISCONNECTED = static_cast<HRESULT>(0x80010108u);
constexpr HRESULT RPC_E_WRONG_THREAD = static_cast<HRESULT>(0x8001010Eu);
// A server-side call cannot wait for a call of its own into the client's process.
constexpr HRESULT RPC_E_CANTCALLOUT_ININPUTSYNCCALL = static_cast<HRESULT>(0x8001010Du);

class ObjectServer;
class RemoteObject;

// The kj event loop of one thread and the tables of the objects it imports and exports.
class Apartment {
 public:
  // The calling thread's apartment, made on first use. A thread has at most one kj event loop.
  static Apartment& Current();
  static Apartment* CurrentIfAny();

  kj::AsyncIoContext& io() { return io_; }
  kj::WaitScope& wait_scope() { return io_.waitScope; }
  // True while a call from a peer runs on this thread: the loop is busy and cannot be waited on.
  bool dispatching() const { return dispatch_depth_ > 0; }

 private:
  friend class ObjectServer;
  friend class ServerCodec;
  friend class RemoteObject;
  friend class ClientCodec;
  friend class DispatchScope;
  Apartment();

  kj::AsyncIoContext io_;
  int dispatch_depth_ = 0;
  // Exports, by the object's identity and by the capability the peer sends back.
  std::unordered_map<IUnknown*, ObjectServer*> exports_;
  std::unordered_map<const capnp::ClientHook*, ObjectServer*> export_hooks_;
  // What Describe found for objects whose declaration names no interface, by the identity's
  // vtable: objects of one class answer alike, and asking costs a type-info round each time.
  struct Description {
    IID dispatch_iid;
    bool enumerator;
  };
  std::unordered_map<const void*, Description> descriptions_;
  // Imports, by capability: the same remote object is always the same RemoteObject.
  std::unordered_map<const capnp::ClientHook*, RemoteObject*> imports_;
};

// Everything that must outlive the capabilities of one connection: the socket, the message
// stream and the RPC system. Shared by the RemoteObjects of the connection.
struct Connection {
  kj::Own<kj::AsyncIoStream> stream;
  kj::Own<capnp::TwoPartyVatNetwork> network;
  kj::Own<capnp::RpcSystem<capnp::rpc::twoparty::VatId>> rpc;
  ~Connection();
};

// ---- the generated side ---------------------------------------------------------------------

// The arguments of one incoming call, for a stub. Each accessor reads argument `i` as the
// declared type; a value of another kind fails the call with DISP_E_TYPEMISMATCH.
class StubArgs {
 public:
  StubArgs(capnp::List<wire::Value>::Reader args, ObjectCodec& objects) : args_(args), objects_(objects) {}
  HRESULT Expect(size_t count) const { return args_.size() == count ? S_OK : DISP_E_BADPARAMCOUNT; }
  HRESULT Long(size_t i, LONG* out) { return DecodeLong(args_[i], out); }
  HRESULT Short(size_t i, SHORT* out) { return DecodeShort(args_[i], out); }
  HRESULT Bool(size_t i, VARIANT_BOOL* out) { return DecodeBool(args_[i], out); }
  HRESULT Double(size_t i, double* out) { return DecodeDouble(args_[i], out); }
  HRESULT Date(size_t i, DATE* out) { return DecodeDate(args_[i], out); }
  HRESULT Int64(size_t i, LONGLONG* out) { return DecodeInt64(args_[i], out); }
  HRESULT String(size_t i, com::Bstr* out) { return DecodeBstr(args_[i], out->put()); }
  HRESULT Variant(size_t i, com::Variant* out) { return DecodeVariant(args_[i], objects_, out->put()); }
  // `out` holds interface `iid` (use it as that interface) or null.
  HRESULT Interface(size_t i, const IID& iid, com::ComPtr<IUnknown>* out) {
    return DecodeObject(args_[i], objects_, iid, out->put());
  }

 private:
  capnp::List<wire::Value>::Reader args_;
  ObjectCodec& objects_;
};

// The [out] values of one call, for a stub. Each writer takes the value the member produced and
// owns it from then on; the value is sent only when `hr` is a success code.
class StubResult {
 public:
  StubResult(capnp::List<wire::Value>::Builder outs, ObjectCodec& objects) : outs_(outs), objects_(objects) {}
  void Long(HRESULT hr, size_t i, LONG v) {
    if (SUCCEEDED(hr)) outs_[i].setI4(v);
  }
  void Short(HRESULT hr, size_t i, SHORT v) {
    if (SUCCEEDED(hr)) outs_[i].setI2(v);
  }
  void Bool(HRESULT hr, size_t i, VARIANT_BOOL v) {
    if (SUCCEEDED(hr)) outs_[i].setBoolean(v);
  }
  void Double(HRESULT hr, size_t i, double v) {
    if (SUCCEEDED(hr)) outs_[i].setR8(v);
  }
  void Date(HRESULT hr, size_t i, DATE v) {
    if (SUCCEEDED(hr)) outs_[i].setDate(v);
  }
  void Int64(HRESULT hr, size_t i, LONGLONG v) {
    if (SUCCEEDED(hr)) outs_[i].setI8(v);
  }
  void String(HRESULT hr, size_t i, BSTR v);
  void Variant(HRESULT hr, size_t i, VARIANT* v);
  void Interface(HRESULT hr, size_t i, IUnknown* v, const IID& iid);
  // The first failure to write a value: it replaces the member's success code.
  HRESULT failure() const { return failure_; }

 private:
  capnp::List<wire::Value>::Builder outs_;
  ObjectCodec& objects_;
  HRESULT failure_ = S_OK;
};

// One outgoing call, for a proxy: the arguments in declaration order, Send, then the [out]
// values in declaration order. An argument that cannot be sent fails Send without a round trip.
class ProxyCall {
 public:
  ProxyCall(RemoteObject* target, const IID& iid, uint16_t method, unsigned arg_count);
  ~ProxyCall();
  void Long(LONG v) { next().setI4(v); }
  void Short(SHORT v) { next().setI2(v); }
  void Bool(VARIANT_BOOL v) { next().setBoolean(v); }
  void Double(double v) { next().setR8(v); }
  void Date(DATE v) { next().setDate(v); }
  void Int64(LONGLONG v) { next().setI8(v); }
  void String(BSTR v) { EncodeBstr(v, next()); }
  void Variant(const VARIANT& v);
  void Interface(IUnknown* v, const IID& iid);
  // The member's result; on failure the peer's error information is set on this thread.
  HRESULT Send();
  HRESULT OutLong(LONG* out);
  HRESULT OutShort(SHORT* out);
  HRESULT OutBool(VARIANT_BOOL* out);
  HRESULT OutDouble(double* out);
  HRESULT OutDate(DATE* out);
  HRESULT OutInt64(LONGLONG* out);
  HRESULT OutString(BSTR* out);
  HRESULT OutVariant(VARIANT* out);
  HRESULT OutInterface(const IID& iid, void** out);

 private:
  wire::Value::Builder next();
  // The next [out] value, or null when the reply has fewer than declared.
  kj::Maybe<wire::Value::Reader> next_out();
  struct State;
  std::unique_ptr<State> state_;
};

class RemoteObject;

// One interface of a RemoteObject. IUnknown goes to the owner; the generated proxy class
// implements the interface's own members.
class Facet {
 public:
  explicit Facet(RemoteObject* owner) : owner_(owner) {}
  virtual ~Facet() = default;
  virtual IUnknown* AsUnknown() = 0;

 protected:
  RemoteObject* owner_;  // not owned: the owner owns its facets
};

HRESULT ForwardQueryInterface(RemoteObject* owner, REFIID riid, void** ppv);
ULONG ForwardAddRef(RemoteObject* owner);
ULONG ForwardRelease(RemoteObject* owner);

// The base of a generated proxy for interface I: IUnknown forwarded to the owner, IDispatch
// answered locally from I's description (Invoke makes the typed call, which goes remote).
template <class I>
class FacetOf : public I, public Facet {
 public:
  using Facet::Facet;
  IUnknown* AsUnknown() override { return static_cast<I*>(this); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return ForwardQueryInterface(owner_, riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ForwardAddRef(owner_); }
  ULONG STDMETHODCALLTYPE Release() override { return ForwardRelease(owner_); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_INVALIDARG;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    return com::DispatchGetTypeInfo(com::InterfaceInfoOf<I>(), index, out);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return com::DispatchGetIDsOfNames(com::InterfaceInfoOf<I>(), names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* arg_err) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return com::DispatchInvoke(com::InterfaceInfoOf<I>(), static_cast<I*>(this), id, flags, params, result, excep,
                               arg_err);
  }
};

// What the generator makes for every described interface.
struct RemoteInterface {
  const IID* iid;
  const com::InterfaceInfo* info;
  Facet* (*make_proxy)(RemoteObject* owner);
  // Unpacks the arguments of member `method`, calls it on `self` (an I*) and packs its outs.
  HRESULT (*stub)(IUnknown* self, uint16_t method, StubArgs& in, StubResult& out);
};
// The described interface with this IID, or null.
const RemoteInterface* FindRemoteInterface(const IID& iid);

// ---- client side ----------------------------------------------------------------------------

// An object of the peer. Its IUnknown is the identity; interfaces are facets made on demand.
class RemoteObject final : public IUnknown {
 public:
  // Wraps a received reference, or finds the RemoteObject that already wraps it. *out holds a
  // reference. Must run on the apartment's thread.
  static HRESULT Import(std::shared_ptr<Connection> connection, wire::ObjectRef::Reader ref, IUnknown** out);
  // The RemoteObject behind a proxy of this process, or null for any other object (no reference).
  static RemoteObject* FromUnknown(IUnknown* object);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override;

  wire::Object::Client& capability() { return capability_; }
  const std::shared_ptr<Connection>& connection() const { return connection_; }
  Apartment& apartment() const { return apartment_; }
  // Fails with RPC_E_WRONG_THREAD off the apartment's thread, and when the thread is serving a
  // peer's call (its loop cannot be waited on).
  HRESULT CheckCallable() const;

 private:
  friend class EnumProxy;
  RemoteObject(Apartment& apartment, std::shared_ptr<Connection> connection, wire::Object::Client capability,
               const capnp::ClientHook* hook, const IID& dispatch_iid, bool enumerator);
  ~RemoteObject();
  // The facet for a described interface, made when first asked (no round trip).
  HRESULT FacetFor(const IID& iid, void** ppv);

  ULONG refs_ = 0;
  Apartment& apartment_;
  std::shared_ptr<Connection> connection_;
  wire::Object::Client capability_;
  const capnp::ClientHook* hook_;  // key in the apartment's imports
  IID dispatch_iid_;               // GUID_NULL when the peer did not say
  bool enumerator_;
  std::vector<std::pair<IID, std::unique_ptr<Facet>>> facets_;
  std::vector<IID> refused_;  // interfaces the peer said it does not answer
};

// The client's codec: references become RemoteObjects of `connection`; only proxies of the same
// connection can be sent (the service cannot call back into a console).
class ClientCodec final : public ObjectCodec {
 public:
  explicit ClientCodec(std::shared_ptr<Connection> connection) : connection_(std::move(connection)) {}
  HRESULT Encode(IUnknown* object, const IID& iid, wire::ObjectRef::Builder ref) override;
  HRESULT Decode(wire::ObjectRef::Reader ref, const IID& iid, IUnknown** out) override;

 private:
  std::shared_ptr<Connection> connection_;
};

// ---- server side ----------------------------------------------------------------------------

// The server's codec: objects are exported; references that come back are the server's own
// objects again. A reference to an object of the client is refused.
class ServerCodec final : public ObjectCodec {
 public:
  explicit ServerCodec(Apartment& apartment) : apartment_(apartment) {}
  HRESULT Encode(IUnknown* object, const IID& iid, wire::ObjectRef::Builder ref) override;
  HRESULT Decode(wire::ObjectRef::Reader ref, const IID& iid, IUnknown** out) override;

 private:
  Apartment& apartment_;
};

// Marks the thread as serving a peer's call for the scope's lifetime.
class DispatchScope {
 public:
  explicit DispatchScope(Apartment& apartment) : apartment_(apartment) { ++apartment_.dispatch_depth_; }
  ~DispatchScope() { --apartment_.dispatch_depth_; }
  DispatchScope(const DispatchScope&) = delete;
  DispatchScope& operator=(const DispatchScope&) = delete;

 private:
  Apartment& apartment_;
};

// Exports `object` as the answer to an activation, declared as interface `iid`.
HRESULT ExportRoot(Apartment& apartment, IUnknown* object, const IID& iid, wire::ObjectRef::Builder ref);

// Turns a kj exception from the RPC layer into the code a COM caller sees.
HRESULT FromException(const kj::Exception& e);

}  // namespace qva::remote
