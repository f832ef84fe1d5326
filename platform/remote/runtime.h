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
//
// Both sides are alike: each exports its own objects and imports the peer's, so a console can
// hand the service an object of its own process and the service calls it back while it serves
// the console's call. Calls from a peer run on fibers (their own stacks) so that a member can
// wait for a call of its own; see Apartment for the order in which they are served.
#pragma once

#include <capnp/rpc-twoparty.h>
#include <kj/async-io.h>
#include <kj/debug.h>

#include <deque>
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
// Code that runs on the thread's own stack inside the event loop (an object's release, say)
// cannot wait for a call of its own.
constexpr HRESULT RPC_E_CANTCALLOUT_ININPUTSYNCCALL = static_cast<HRESULT>(0x8001010Du);
// A call refused by its receiver: calls back and forth nested deeper than kMaxNesting.
constexpr HRESULT RPC_E_CALL_REJECTED = static_cast<HRESULT>(0x80010001u);

// Most calls of one chain (console -> service -> console -> ...) served at once by one thread.
inline constexpr int kMaxNesting = 64;

class ObjectServer;
class RemoteObject;

// The kj event loop of one thread and the tables of the objects it imports and exports.
//
// Calls from peers are served on fibers of a pool, one stack each, so that a member can wait for
// a call of its own (into the console that called it, typically) while the loop goes on. Whose
// calls run meanwhile is decided by causality, the chain of calls a call belongs to, carried by
// every call: while a served call waits, a call of the same chain (one the awaited call back
// makes in turn) is served at once, since its caller waits for it and refusing it would
// deadlock; calls of other chains wait until the suspended call has ended, and are then served
// one at a time in the order they arrived. So calls of independent consoles still run one at a
// time in arrival order and never see a member half done; only the chain that is being called
// back reenters, as in a COM single-threaded apartment. A chain nests at most kMaxNesting calls
// deep; the next is refused with RPC_E_CALL_REJECTED.
class Apartment {
 public:
  // The calling thread's apartment, made on first use. A thread has at most one kj event loop.
  static Apartment& Current();
  static Apartment* CurrentIfAny();
  ~Apartment();

  kj::AsyncIoContext& io() { return io_; }
  // True when the code running now may wait: at the thread's top level and on a fiber serving a
  // peer's call, not in an event callback on the thread's own stack.
  bool can_wait() const { return running_.scope != nullptr; }
  // Waits for `promise`, running the loop (and so serving peers) meanwhile. can_wait() must hold.
  template <class T>
  T Wait(kj::Promise<T>&& promise);
  // The chain the running code's outgoing calls belong to.
  uint64_t causality() const { return running_.causality; }
  // Calls admitted and not yet ended, the suspended ones included.
  int serving() const { return serving_; }
  // Calls of other chains waiting for their turn.
  size_t waiting() const { return waiting_.size(); }
  // Resolves when no call is admitted and none waits for its turn.
  kj::Promise<void> WhenIdle();

 private:
  friend class ObjectServer;
  friend class Codec;
  friend class RemoteObject;
  friend class DispatchScope;
  class Turn;
  Apartment();
  // Admits a call of chain `causality` now, or queues it for its turn; null when refused.
  kj::Maybe<kj::Promise<kj::Own<Turn>>> Admit(uint64_t causality);
  kj::Own<Turn> Enter(uint64_t causality);
  void Leave();

  // What the code running now may do: the scope it may wait on (null: none), its chain, and on
  // a fiber the lowest address of the fiber's stack that is surely mapped.
  struct Running {
    kj::WaitScope* scope = nullptr;
    uint64_t causality = 0;
    const char* stack_low = nullptr;
  };

  kj::AsyncIoContext io_;
  Running running_;
  int serving_ = 0;
  uint64_t serving_causality_ = 0;
  struct Waiting {
    uint64_t causality;
    kj::Own<kj::PromiseFulfiller<kj::Own<Turn>>> admit;
  };
  std::deque<Waiting> waiting_;
  kj::Maybe<kj::Own<kj::PromiseFulfiller<void>>> idle_;
  bool closing_ = false;
  kj::Own<kj::FiberPool> fibers_;
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

// AddressSanitizer builds: clears the marks of dead frames on a fiber's stack below the caller
// (from `low` up), which an exception's unwinding leaves behind. kj switches fiber stacks without
// telling AddressSanitizer, which therefore cannot clear them itself when an exception is thrown
// on a fiber (it says it ignores __asan_handle_no_return), and a later frame there would be
// reported falsely. Does nothing in other builds or with a null `low`.
void ForgetDeadFrames(const char* low);

template <class T>
T Apartment::Wait(kj::Promise<T>&& promise) {
  const Running here = running_;
  KJ_REQUIRE(here.scope != nullptr, "cannot wait inside an event callback");
  // Whatever runs while this code waits (event callbacks, other fibers) says what it may do.
  running_ = Running{};
  KJ_DEFER(running_ = here);
  try {
    return promise.wait(*here.scope);
  } catch (...) {
    ForgetDeadFrames(here.stack_low);
    throw;
  }
}

// ---- the generated side ---------------------------------------------------------------------

// The arguments of one incoming call, for a stub. Each accessor reads argument `i` as the
// declared type; a value of another kind fails the call with DISP_E_TYPEMISMATCH. A failure
// comes with error information naming the argument (unless reading an object set its own).
class StubArgs {
 public:
  StubArgs(capnp::List<wire::Value>::Reader args, ObjectCodec& objects) : args_(args), objects_(objects) {}
  HRESULT Expect(size_t count) const;
  HRESULT Long(size_t i, LONG* out) { return Checked(DecodeLong(args_[i], out), i); }
  HRESULT Short(size_t i, SHORT* out) { return Checked(DecodeShort(args_[i], out), i); }
  HRESULT Bool(size_t i, VARIANT_BOOL* out) { return Checked(DecodeBool(args_[i], out), i); }
  HRESULT Double(size_t i, double* out) { return Checked(DecodeDouble(args_[i], out), i); }
  HRESULT Date(size_t i, DATE* out) { return Checked(DecodeDate(args_[i], out), i); }
  HRESULT Int64(size_t i, LONGLONG* out) { return Checked(DecodeInt64(args_[i], out), i); }
  HRESULT String(size_t i, com::Bstr* out) { return Checked(DecodeBstr(args_[i], out->put()), i); }
  HRESULT Variant(size_t i, com::Variant* out) { return Checked(DecodeVariant(args_[i], objects_, out->put()), i); }
  // `out` holds interface `iid` (use it as that interface) or null.
  HRESULT Interface(size_t i, const IID& iid, com::ComPtr<IUnknown>* out) {
    return Checked(DecodeObject(args_[i], objects_, iid, out->put()), i);
  }

 private:
  // `hr`, with error information set for a failure that has none.
  static HRESULT Checked(HRESULT hr, size_t i);
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
  // A by-reference value goes as the value it refers to: an [in] argument is never written back.
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
  // reference. Must run on the apartment's thread. `connection` is kept alive by the proxy (null
  // on the service, whose connections own themselves).
  static HRESULT Import(std::shared_ptr<Connection> connection, wire::ObjectRef::Reader ref, IUnknown** out);
  // The RemoteObject behind a proxy of this process, or null for any other object (no reference).
  static RemoteObject* FromUnknown(IUnknown* object);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override;

  wire::Object::Client& capability() { return capability_; }
  const std::shared_ptr<Connection>& connection() const { return connection_; }
  Apartment& apartment() const { return apartment_; }
  const IID& dispatch_iid() const { return dispatch_iid_; }
  bool enumerator() const { return enumerator_; }
  // Fails with RPC_E_WRONG_THREAD off the apartment's thread, and with
  // RPC_E_CANTCALLOUT_ININPUTSYNCCALL where the running code cannot wait (Apartment::can_wait).
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

// How interface pointers cross, the same on both sides: an object of this process is exported
// (once: sent twice it is one capability, one proxy on the other side); a proxy goes back as the
// peer's reference, and arrives there as the peer's own object. A reference received is either
// one of our exports coming home (the object itself) or the peer's object (a RemoteObject).
// `connection` is the link the references travel on when this side owns it (a console's): the
// proxies made keep it alive, and a proxy of another link cannot be sent on it.
class Codec final : public ObjectCodec {
 public:
  Codec(Apartment& apartment, std::shared_ptr<Connection> connection)
      : apartment_(apartment), connection_(std::move(connection)) {}
  HRESULT Encode(IUnknown* object, const IID& iid, wire::ObjectRef::Builder ref) override;
  HRESULT Decode(wire::ObjectRef::Reader ref, const IID& iid, IUnknown** out) override;

 private:
  Apartment& apartment_;
  std::shared_ptr<Connection> connection_;
};

// Marks code that must not wait, so that its outgoing calls are refused for the scope's lifetime:
// what runs inside an event callback on the thread's own stack (an object's release) and what the
// runtime asks of its own objects outside a member (QueryInterface, a description).
class DispatchScope {
 public:
  explicit DispatchScope(Apartment& apartment) : apartment_(apartment), saved_(apartment.running_.scope) {
    apartment_.running_.scope = nullptr;
  }
  ~DispatchScope() { apartment_.running_.scope = saved_; }
  DispatchScope(const DispatchScope&) = delete;
  DispatchScope& operator=(const DispatchScope&) = delete;

 private:
  Apartment& apartment_;
  kj::WaitScope* saved_;
};

// Exports `object` as the answer to an activation, declared as interface `iid`.
HRESULT ExportRoot(Apartment& apartment, IUnknown* object, const IID& iid, wire::ObjectRef::Builder ref);

// Turns a kj exception from the RPC layer into the code a COM caller sees.
HRESULT FromException(const kj::Exception& e);

}  // namespace qva::remote
