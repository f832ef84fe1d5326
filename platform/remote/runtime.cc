#include "platform/remote/runtime.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <random>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "platform/com/errorinfo.h"
#include "platform/com/guid.h"
#include "platform/com/oleauto.h"
#include "platform/com/typeinfo.h"

namespace qva::remote {

// The generated tables: the library's interfaces, the DOM's and ADO's.
extern const RemoteInterface kQvacomRemoteInterfaces[];
extern const size_t kQvacomRemoteInterfacesCount;
extern const RemoteInterface kMsxmlRemoteInterfaces[];
extern const size_t kMsxmlRemoteInterfacesCount;
extern const RemoteInterface kAdoRemoteInterfaces[];
extern const size_t kAdoRemoteInterfacesCount;

namespace {

// Asked of any IUnknown to learn whether it is a proxy of this library. Answered with the
// RemoteObject itself and no added reference; never handed to anyone.
constexpr IID kIID_RemoteIdentity = com::MakeGuid("{6C1A3E52-93D4-4B0F-9E57-2A8D0C4F7B11}");
constexpr HRESULT RPC_E_SERVERFAULT = static_cast<HRESULT>(0x80010105u);

struct GuidHash {
  size_t operator()(const GUID& g) const {
    uint64_t tail;
    std::memcpy(&tail, g.Data4, sizeof tail);
    return std::hash<uint64_t>()((uint64_t{g.Data1} << 32 | uint64_t{g.Data2} << 16 | g.Data3) ^ tail);
  }
};

thread_local std::unique_ptr<Apartment> t_apartment;

capnp::ClientHook* Innermost(capnp::ClientHook* hook) {
  for (;;) {
    KJ_IF_MAYBE (resolved, hook->getResolved()) {
      hook = resolved;
    } else {
      return hook;
    }
  }
}

// Sets the thread's error information from a peer's (or clears it when the peer sent none).
void SetErrorFromWire(wire::ErrorInfo::Reader error) {
  if (!error.hasSource() && !error.hasDescription()) {
    SetErrorInfo(0, nullptr);
    return;
  }
  GUID guid = GUID_NULL;
  if (error.hasGuid()) ReadGuid(error.getGuid(), &guid);
  com::ReportError(E_FAIL, std::string_view(error.getSource().cStr(), error.getSource().size()),
                   std::string_view(error.getDescription().cStr(), error.getDescription().size()), guid);
}

// Fills `out` from the thread's error information, if a failed member set some.
void WriteErrorInfo(wire::ErrorInfo::Builder out) {
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return;
  GUID guid = GUID_NULL;
  info->GetGUID(&guid);
  out.setGuid(GuidBytes(guid));
  com::Bstr source, description;
  info->GetSource(source.put());
  info->GetDescription(description.put());
  out.setSource(source.utf8());
  out.setDescription(description.utf8());
}

// `hr`; when the thread has no error information yet (reading an object may have set its own),
// with error information from this layer saying `description`.
HRESULT ReportUnlessSet(HRESULT hr, const std::string& description) {
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) == S_OK && info) {
    SetErrorInfo(0, info.get());  // taking it cleared it
    return hr;
  }
  return com::ReportError(hr, "qvacom remote", description);
}

std::string VarTypeText(VARTYPE vt) {
  std::string text;
  if (vt & VT_BYREF) text += "VT_BYREF | ";
  if (vt & VT_ARRAY) text += "VT_ARRAY | ";
  switch (vt & VT_TYPEMASK) {
    case VT_DECIMAL:
      return text + "VT_DECIMAL";
    case VT_RECORD:
      return text + "VT_RECORD";
    case VT_VARIANT:
      return text + "VT_VARIANT";
    default:
      return text + "type " + std::to_string(vt & VT_TYPEMASK);
  }
}

// A value EncodeVariant refused (DISP_E_BADVARTYPE) fails its call with error information that
// names its type; other failures (an object that cannot be sent) keep what set them.
HRESULT RefusedValue(HRESULT hr, VARTYPE vt) {
  if (hr != DISP_E_BADVARTYPE) return hr;
  return com::ReportError(hr, "qvacom remote",
                          "A VARIANT of " + VarTypeText(vt) +
                              " cannot cross the remote connection: arrays, records, decimals and references that "
                              "cannot be followed do not travel.");
}

size_t OutCount(const com::MemberInfo& member) {
  return std::count_if(member.params.begin(), member.params.end(),
                       [](const com::ParamInfo& p) { return (p.flags & com::kParamOut) != 0; });
}

}  // namespace

HRESULT FromException(const kj::Exception& e) {
  return e.getType() == kj::Exception::Type::DISCONNECTED ? RPC_E_DISCONNECTED : RPC_E_SERVERFAULT;
}

// ---- apartment ------------------------------------------------------------------------------

namespace {

// The stack of a fiber serving one call. Members run on it: the collections' SQLite statements,
// libxml2's parser and writer, ICU's collation, the error paths that format messages, and the
// proxies and the RPC system when a member calls back. A users collection's SaveXML and LoadXML
// into a console's document, served this way, reached 15 KiB below the member (21 KiB with
// AddressSanitizer); none of these libraries recurses without bound on our inputs (libxml2's
// parser stops at 256 levels, SQLite keeps its parser stack on the heap). 1 MiB leaves ample room
// for paths not measured (an ODBC driver, name resolution when a member connects elsewhere). The
// size is address space: pages are committed when first touched, and the pool keeps a few stacks
// for reuse instead of mapping one per call. AddressSanitizer's redzones grow frames.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kFiberStackBytes = size_t{4} << 20;
#else
constexpr size_t kFiberStackBytes = size_t{1} << 20;
#endif
constexpr size_t kFibersKept = 4;
// What kj's frames take at the top of a fiber's stack before ours begin, and more.
constexpr size_t kFiberStackReserve = size_t{64} << 10;

// A chain of calls that starts on this thread. Random, so that a peer cannot guess another
// console's chain and slip its calls into it; never zero (zero is "a chain of its own").
uint64_t NewCausality() {
  std::random_device random;
  uint64_t value = 0;
  while (value == 0) value = (uint64_t{random()} << 32) ^ random();
  return value;
}

}  // namespace

void ForgetDeadFrames(const char* low) {
#if defined(__SANITIZE_ADDRESS__)
  if (!low) return;
  const char* high = static_cast<const char*>(__builtin_frame_address(0)) - 512;  // clear of this frame
  if (high > low) ASAN_UNPOISON_MEMORY_REGION(low, static_cast<size_t>(high - low));
#else
  (void)low;
#endif
}

// A served call's place among the calls of its apartment, held from its admission to its end
// (even when the call's promise is dropped before the call ran).
class Apartment::Turn {
 public:
  explicit Turn(Apartment& apartment) : apartment_(apartment) {}
  ~Turn() { apartment_.Leave(); }
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;

 private:
  Apartment& apartment_;
};

Apartment::Apartment() : io_(kj::setupAsyncIo()), fibers_(kj::heap<kj::FiberPool>(kFiberStackBytes)) {
  running_ = Running{&io_.waitScope, NewCausality()};
  fibers_->setMaxFreelist(kFibersKept);
}

Apartment::~Apartment() {
  closing_ = true;
  waiting_.clear();
}

kj::Maybe<kj::Promise<kj::Own<Apartment::Turn>>> Apartment::Admit(uint64_t causality) {
  const bool nested = serving_ > 0 && causality != 0 && causality == serving_causality_;
  if (nested && serving_ >= kMaxNesting) return nullptr;
  if (serving_ == 0 || nested) return kj::Promise<kj::Own<Turn>>(Enter(causality));
  auto admit = kj::newPromiseAndFulfiller<kj::Own<Turn>>();
  waiting_.push_back(Waiting{causality, kj::mv(admit.fulfiller)});
  return kj::mv(admit.promise);
}

kj::Own<Apartment::Turn> Apartment::Enter(uint64_t causality) {
  if (serving_++ == 0) serving_causality_ = causality;
  return kj::heap<Turn>(*this);
}

void Apartment::Leave() {
  if (closing_ || --serving_ > 0) return;
  while (!waiting_.empty()) {
    Waiting next = kj::mv(waiting_.front());
    waiting_.pop_front();
    // A call whose connection ended while it waited has no one to answer.
    if (!next.admit->isWaiting()) continue;
    next.admit->fulfill(Enter(next.causality));
    return;
  }
  KJ_IF_MAYBE (idle, idle_) {
    (*idle)->fulfill();
    idle_ = nullptr;
  }
}

kj::Promise<void> Apartment::WhenIdle() {
  if (serving_ == 0 && waiting_.empty()) return kj::READY_NOW;
  auto paf = kj::newPromiseAndFulfiller<void>();
  idle_ = kj::mv(paf.fulfiller);
  return kj::mv(paf.promise);
}

Apartment& Apartment::Current() {
  if (!t_apartment) t_apartment.reset(new Apartment());
  return *t_apartment;
}

Apartment* Apartment::CurrentIfAny() { return t_apartment.get(); }

Connection::~Connection() = default;

const RemoteInterface* FindRemoteInterface(const IID& iid) {
  static const auto* table = [] {
    auto* map = new std::unordered_map<IID, const RemoteInterface*, GuidHash>;  // lives for the process
    const std::pair<const RemoteInterface*, size_t> tables[] = {{kQvacomRemoteInterfaces, kQvacomRemoteInterfacesCount},
                                                                {kMsxmlRemoteInterfaces, kMsxmlRemoteInterfacesCount},
                                                                {kAdoRemoteInterfaces, kAdoRemoteInterfacesCount}};
    for (auto [items, count] : tables)
      for (size_t i = 0; i < count; ++i) (*map)[*items[i].iid] = &items[i];
    return map;
  }();
  auto it = table->find(iid);
  return it == table->end() ? nullptr : it->second;
}

// ---- stubs ----------------------------------------------------------------------------------

HRESULT StubArgs::Expect(size_t count) const {
  if (args_.size() == count) return S_OK;
  return com::ReportError(DISP_E_BADPARAMCOUNT, "qvacom remote",
                          "The call brings " + std::to_string(args_.size()) + " arguments; the member takes " +
                              std::to_string(count) + ".");
}

HRESULT StubArgs::Checked(HRESULT hr, size_t i) {
  if (SUCCEEDED(hr)) return hr;
  return ReportUnlessSet(
      hr, "Argument " + std::to_string(i + 1) + " of the call cannot be read as the member's parameter type.");
}

void StubResult::String(HRESULT hr, size_t i, BSTR v) {
  com::Bstr owned = com::Bstr::Attach(v);
  if (SUCCEEDED(hr)) EncodeBstr(owned.get(), outs_[i]);
}

void StubResult::Variant(HRESULT hr, size_t i, VARIANT* v) {
  if (SUCCEEDED(hr) && SUCCEEDED(failure_)) {
    const HRESULT encoded = EncodeVariant(*v, objects_, outs_[i]);
    if (FAILED(encoded)) failure_ = RefusedValue(encoded, v->vt);
  }
  VariantClear(v);
}

void StubResult::Interface(HRESULT hr, size_t i, IUnknown* v, const IID& iid) {
  com::ComPtr<IUnknown> owned = com::ComPtr<IUnknown>::Attach(v);
  if (SUCCEEDED(hr)) {
    const HRESULT encoded = EncodeObject(owned.get(), iid, objects_, outs_[i]);
    if (FAILED(encoded) && SUCCEEDED(failure_)) failure_ = encoded;
  }
}

// ---- proxies --------------------------------------------------------------------------------

struct ProxyCall::State {
  RemoteObject* target;
  HRESULT failure = S_OK;  // first failure to send an argument, or of the target
  kj::Maybe<capnp::Request<wire::Object::CallParams, wire::Object::CallResults>> request;
  capnp::List<wire::Value>::Builder args;
  capnp::MallocMessageBuilder scratch{64};  // where arguments go when the call cannot be made
  unsigned next_arg = 0;
  kj::Maybe<capnp::Response<wire::Object::CallResults>> response;
  unsigned next_out = 0;
};

ProxyCall::ProxyCall(RemoteObject* target, const IID& iid, uint16_t method, unsigned arg_count)
    : state_(std::make_unique<State>()) {
  state_->target = target;
  state_->failure = target->CheckCallable();
  if (SUCCEEDED(state_->failure)) {
    auto request = target->capability().callRequest();
    request.setIid(GuidBytes(iid));
    request.setMethod(method);
    request.setCausality(target->apartment().causality());
    state_->args = request.initArgs(arg_count);
    state_->request = kj::mv(request);
  } else {
    state_->args = state_->scratch.initRoot<wire::Object::CallParams>().initArgs(arg_count);
  }
}

ProxyCall::~ProxyCall() = default;

wire::Value::Builder ProxyCall::next() { return state_->args[state_->next_arg++]; }

void ProxyCall::Variant(const VARIANT& v) {
  wire::Value::Builder slot = next();
  if (FAILED(state_->failure)) return;  // the call will not be made: nothing to report twice
  const VARIANT* value = &v;
  com::Variant referred;
  if (v.vt & VT_BYREF) {
    // DCOM sends what an [in] by-reference VARIANT refers to, too, and leaves it unwritten.
    const HRESULT hr = VariantCopyInd(referred.put(), &v);
    if (FAILED(hr)) {
      state_->failure = RefusedValue(hr == E_INVALIDARG ? DISP_E_BADVARTYPE : hr, v.vt);
      return;
    }
    value = &referred;
  }
  Codec codec(state_->target->apartment(), state_->target->connection());
  const HRESULT hr = EncodeVariant(*value, codec, slot);
  if (FAILED(hr)) state_->failure = RefusedValue(hr, value->vt);
}

void ProxyCall::Interface(IUnknown* v, const IID& iid) {
  wire::Value::Builder slot = next();
  if (FAILED(state_->failure)) return;
  Codec codec(state_->target->apartment(), state_->target->connection());
  const HRESULT hr = EncodeObject(v, iid, codec, slot);
  if (FAILED(hr)) state_->failure = hr;
}

HRESULT ProxyCall::Send() {
  if (FAILED(state_->failure)) return state_->failure;
  auto& request = KJ_ASSERT_NONNULL(state_->request);
  try {
    auto response = state_->target->apartment().Wait(request.send());
    const HRESULT hr = response.getHr();
    if (FAILED(hr)) SetErrorFromWire(response.getError());
    state_->response = kj::mv(response);
    return hr;
  } catch (const kj::Exception& e) {
    SetErrorInfo(0, nullptr);
    return FromException(e);
  }
}

kj::Maybe<wire::Value::Reader> ProxyCall::next_out() {
  KJ_IF_MAYBE (response, state_->response) {
    auto outs = response->getOuts();
    if (state_->next_out < outs.size()) return outs[state_->next_out++];
  }
  return nullptr;
}

namespace {
// Reading a reply the message layer finds malformed throws; a proxy answers that as a fault of
// the server rather than let the exception reach a COM caller.
template <class F>
HRESULT Reading(F&& read) {
  try {
    return read();
  } catch (const kj::Exception&) {
    return RPC_E_SERVERFAULT;
  }
}
}  // namespace

#define QVA_REMOTE_OUT(Name, Type, Decoder) \
  HRESULT ProxyCall::Out##Name(Type* out) { \
    if (!out) return E_POINTER;             \
    return Reading([&]() -> HRESULT {       \
      KJ_IF_MAYBE (value, next_out()) {     \
        return Decoder(*value, out);        \
      }                                     \
      return RPC_E_SERVERFAULT;             \
    });                                     \
  }
QVA_REMOTE_OUT(Long, LONG, DecodeLong)
QVA_REMOTE_OUT(Short, SHORT, DecodeShort)
QVA_REMOTE_OUT(Bool, VARIANT_BOOL, DecodeBool)
QVA_REMOTE_OUT(Double, double, DecodeDouble)
QVA_REMOTE_OUT(Date, DATE, DecodeDate)
QVA_REMOTE_OUT(Int64, LONGLONG, DecodeInt64)
QVA_REMOTE_OUT(String, BSTR, DecodeBstr)
#undef QVA_REMOTE_OUT

HRESULT ProxyCall::OutVariant(VARIANT* out) {
  if (!out) return E_POINTER;
  VariantInit(out);
  return Reading([&]() -> HRESULT {
    KJ_IF_MAYBE (value, next_out()) {
      Codec codec(state_->target->apartment(), state_->target->connection());
      return DecodeVariant(*value, codec, out);
    }
    return RPC_E_SERVERFAULT;
  });
}

HRESULT ProxyCall::OutInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return Reading([&]() -> HRESULT {
    KJ_IF_MAYBE (value, next_out()) {
      Codec codec(state_->target->apartment(), state_->target->connection());
      return DecodeObject(*value, codec, iid, reinterpret_cast<IUnknown**>(out));
    }
    return RPC_E_SERVERFAULT;
  });
}

HRESULT ForwardQueryInterface(RemoteObject* owner, REFIID riid, void** ppv) { return owner->QueryInterface(riid, ppv); }
ULONG ForwardAddRef(RemoteObject* owner) { return owner->AddRef(); }
ULONG ForwardRelease(RemoteObject* owner) { return owner->Release(); }

// The proxy of a remote IEnumVARIANT. Values are fetched in growing batches and handed out from
// a local buffer, so a walk over n items costs about log(n) + n/kMaxEnumBatch round trips. The
// remote enumerator is therefore ahead of this one by the buffer; Skip, Reset and Clone account
// for it.
class EnumProxy final : public IEnumVARIANT, public Facet {
 public:
  using Facet::Facet;
  IUnknown* AsUnknown() override { return this; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return owner_->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    while (n < count) {
      if (buffer_.empty()) {
        if (ended_) break;
        const HRESULT hr = Fetch(std::max<ULONG>(count - n, batch_));
        if (FAILED(hr)) {
          for (ULONG i = 0; i < n; ++i) VariantClear(&out[i]);
          if (fetched) *fetched = 0;
          return hr;
        }
        continue;
      }
      buffer_.front().Detach(&out[n++]);
      buffer_.pop_front();
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const ULONG local = static_cast<ULONG>(std::min<size_t>(count, buffer_.size()));
    buffer_.erase(buffer_.begin(), buffer_.begin() + local);
    if (local == count) return S_OK;
    if (ended_) return S_FALSE;
    RETURN_IF_FAILED(owner_->CheckCallable());
    try {
      auto request = owner_->capability().skipRequest();
      request.setCount(count - local);
      request.setCausality(owner_->apartment().causality());
      const HRESULT hr = owner_->apartment().Wait(request.send()).getHr();
      if (hr == S_FALSE) ended_ = true;
      return hr;
    } catch (const kj::Exception& e) {
      return FromException(e);
    }
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    RETURN_IF_FAILED(owner_->CheckCallable());
    try {
      auto request = owner_->capability().resetRequest();
      request.setCausality(owner_->apartment().causality());
      const HRESULT hr = owner_->apartment().Wait(request.send()).getHr();
      if (SUCCEEDED(hr)) {
        buffer_.clear();
        ended_ = false;
      }
      return hr;
    } catch (const kj::Exception& e) {
      return FromException(e);
    }
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    RETURN_IF_FAILED(owner_->CheckCallable());
    try {
      auto request = owner_->capability().cloneRequest();
      request.setCausality(owner_->apartment().causality());
      auto response = owner_->apartment().Wait(request.send());
      RETURN_IF_FAILED(response.getHr());
      capnp::MallocMessageBuilder message(16);
      auto ref = message.initRoot<wire::ObjectRef>();
      ref.setObject(response.getEnumerator());
      ref.setEnumerator(true);
      com::ComPtr<IUnknown> clone;
      RETURN_IF_FAILED(RemoteObject::Import(owner_->connection(), ref.asReader(), clone.put()));
      RETURN_IF_FAILED(clone->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(out)));
      // The clone's remote enumerator stands where ours does; it starts with our buffer.
      auto* twin = static_cast<EnumProxy*>(static_cast<IEnumVARIANT*>(*out));
      twin->buffer_ = buffer_;
      twin->ended_ = ended_;
      twin->batch_ = batch_;
      return S_OK;
    } catch (const kj::Exception& e) {
      return FromException(e);
    }
  }

 private:
  HRESULT Fetch(ULONG count) {
    RETURN_IF_FAILED(owner_->CheckCallable());
    try {
      auto request = owner_->capability().nextRequest();
      request.setCount(std::min<ULONG>(count, kMaxEnumBatch));
      request.setCausality(owner_->apartment().causality());
      auto response = owner_->apartment().Wait(request.send());
      const HRESULT hr = response.getHr();
      if (FAILED(hr)) return hr;
      auto items = response.getItems();
      if (items.size() > kMaxEnumBatch) return RPC_E_SERVERFAULT;
      Codec codec(owner_->apartment(), owner_->connection());
      for (auto item : items) {
        com::Variant value;
        RETURN_IF_FAILED(DecodeVariant(item, codec, value.put()));
        buffer_.push_back(std::move(value));
      }
      // S_FALSE is the end; so is an empty answer, which would otherwise loop for ever.
      if (hr == S_FALSE || items.size() == 0) ended_ = true;
      batch_ = std::min<ULONG>(batch_ * 2, kMaxEnumBatch);
      return S_OK;
    } catch (const kj::Exception& e) {
      return FromException(e);
    }
  }

  std::deque<com::Variant> buffer_;
  bool ended_ = false;
  ULONG batch_ = 64;
};

// ---- remote objects -------------------------------------------------------------------------

RemoteObject::RemoteObject(Apartment& apartment, std::shared_ptr<Connection> connection,
                           wire::Object::Client capability, const capnp::ClientHook* hook, const IID& dispatch_iid,
                           bool enumerator)
    : apartment_(apartment),
      connection_(std::move(connection)),
      capability_(kj::mv(capability)),
      hook_(hook),
      dispatch_iid_(dispatch_iid),
      enumerator_(enumerator) {
  apartment_.imports_[hook_] = this;
}

RemoteObject::~RemoteObject() {
  apartment_.imports_.erase(hook_);
  facets_.clear();
  // Dropping the capability queues its release, which goes out with the thread's next call on
  // the connection (in order, ahead of it) or when the connection closes with its last object.
  // Polling the loop here instead would cost a system call per released proxy: a tenth of a walk
  // over a collection's enumerator.
  capability_ = nullptr;
  connection_.reset();
}

HRESULT RemoteObject::Import(std::shared_ptr<Connection> connection, wire::ObjectRef::Reader ref, IUnknown** out) {
  *out = nullptr;
  if (!ref.hasObject()) return S_OK;
  Apartment& apartment = Apartment::Current();
  kj::Own<capnp::ClientHook> hook = capnp::ClientHook::from(ref.getObject());
  const capnp::ClientHook* key = hook.get();
  auto it = apartment.imports_.find(key);
  if (it != apartment.imports_.end()) {
    *out = it->second;
    it->second->AddRef();
    return S_OK;
  }
  GUID dispatch_iid = GUID_NULL;
  if (ref.hasDispatchIid() && !ReadGuid(ref.getDispatchIid(), &dispatch_iid)) return RPC_E_SERVERFAULT;
  auto* object = new (std::nothrow) RemoteObject(apartment, std::move(connection), wire::Object::Client(kj::mv(hook)),
                                                 key, dispatch_iid, ref.getEnumerator());
  if (!object) return E_OUTOFMEMORY;
  object->AddRef();
  *out = object;
  return S_OK;
}

RemoteObject* RemoteObject::FromUnknown(IUnknown* object) {
  void* found = nullptr;
  if (!object || FAILED(object->QueryInterface(kIID_RemoteIdentity, &found))) return nullptr;
  return static_cast<RemoteObject*>(found);
}

HRESULT RemoteObject::CheckCallable() const {
  if (Apartment::CurrentIfAny() != &apartment_) return RPC_E_WRONG_THREAD;
  if (!apartment_.can_wait()) return RPC_E_CANTCALLOUT_ININPUTSYNCCALL;
  return S_OK;
}

ULONG RemoteObject::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT RemoteObject::FacetFor(const IID& iid, void** ppv) {
  for (auto& [have, facet] : facets_) {
    if (have == iid) {
      *ppv = facet->AsUnknown();
      AddRef();
      return S_OK;
    }
  }
  std::unique_ptr<Facet> facet;
  if (iid == IID_IEnumVARIANT) {
    facet.reset(new (std::nothrow) EnumProxy(this));
  } else if (const RemoteInterface* itf = FindRemoteInterface(iid)) {
    facet.reset(itf->make_proxy(this));
  } else {
    return E_NOINTERFACE;
  }
  if (!facet) return E_OUTOFMEMORY;
  *ppv = facet->AsUnknown();
  facets_.emplace_back(iid, std::move(facet));
  AddRef();
  return S_OK;
}

HRESULT RemoteObject::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == kIID_RemoteIdentity) {
    *ppv = this;  // no reference: see kIID_RemoteIdentity
    return S_OK;
  }
  if (riid == IID_IUnknown) {
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  if (riid == IID_IEnumVARIANT) return enumerator_ ? FacetFor(riid, ppv) : E_NOINTERFACE;
  if (riid == IID_IDispatch) {
    // A described interface derives from IDispatch alone, so its pointer is an IDispatch.
    if (dispatch_iid_ == GUID_NULL) return E_NOINTERFACE;
    return FacetFor(dispatch_iid_, ppv);
  }
  if (!FindRemoteInterface(riid)) return E_NOINTERFACE;  // nothing else can cross the wire
  if (riid == dispatch_iid_) return FacetFor(riid, ppv);
  for (auto& [have, facet] : facets_)
    if (have == riid) return FacetFor(riid, ppv);
  if (std::find(refused_.begin(), refused_.end(), riid) != refused_.end()) return E_NOINTERFACE;
  RETURN_IF_FAILED(CheckCallable());
  HRESULT hr;
  try {
    auto request = capability_.queryInterfaceRequest();
    request.setIid(GuidBytes(riid));
    hr = apartment_.Wait(request.send()).getHr();
  } catch (const kj::Exception& e) {
    return FromException(e);
  }
  if (hr == E_NOINTERFACE) refused_.push_back(riid);
  RETURN_IF_FAILED(hr);
  return FacetFor(riid, ppv);
}

// ---- exports ------------------------------------------------------------------------------

// One exported object. Holds one reference on the object's identity and one per interface the
// peer has used, all released when the RPC system drops the export.
class ObjectServer final : public wire::Object::Server {
 public:
  // `connection` is the console's link the object was first sent on (empty on the service): the
  // references its calls bring become proxies of that link. Weak, since the link's RPC system
  // owns this object.
  ObjectServer(Apartment& apartment, com::ComPtr<IUnknown> identity, const IID& dispatch_iid, bool enumerator,
               std::weak_ptr<Connection> connection)
      : apartment_(apartment),
        identity_(std::move(identity)),
        dispatch_iid_(dispatch_iid),
        enumerator_(enumerator),
        connection_(std::move(connection)) {
    apartment_.exports_[identity_.get()] = this;
  }
  ~ObjectServer() {
    apartment_.exports_.erase(identity_.get());
    if (hook_) apartment_.export_hooks_.erase(hook_);
    interfaces_.clear();
    DispatchScope scope(apartment_);  // the release runs inside the loop, on the thread's stack
    identity_ = nullptr;
  }

  void set_hook(const capnp::ClientHook* hook) {
    hook_ = hook;
    apartment_.export_hooks_[hook] = this;
  }
  IUnknown* identity() const { return identity_.get(); }
  const IID& dispatch_iid() const { return dispatch_iid_; }
  bool enumerator() const { return enumerator_; }
  wire::Object::Client Capability() { return thisCap().castAs<wire::Object>(); }

 protected:
  kj::Promise<void> call(CallContext context) override {
    return Serve(context.getParams().getCausality(), [this, context](HRESULT refused) mutable {
      auto params = context.getParams();
      auto results = context.getResults();
      GUID iid;
      const RemoteInterface* itf = nullptr;
      IUnknown* target = nullptr;
      HRESULT hr = refused;
      if (FAILED(hr)) {
        // refused: the error information is set
      } else if (!ReadGuid(params.getIid(), &iid)) {
        hr = E_INVALIDARG;
      } else if (!(itf = FindRemoteInterface(iid)) || !(target = Find(iid))) {
        hr = E_NOINTERFACE;
      } else {
        const uint16_t method = params.getMethod();
        if (method >= itf->info->members.size()) {
          hr = DISP_E_MEMBERNOTFOUND;
        } else {
          Codec codec(apartment_, connection_.lock());
          StubArgs in(params.getArgs(), codec);
          StubResult out(results.initOuts(static_cast<unsigned>(OutCount(itf->info->members[method]))), codec);
          SetErrorInfo(0, nullptr);
          hr = itf->stub(target, method, in, out);
          if (SUCCEEDED(hr) && FAILED(out.failure())) hr = out.failure();
        }
      }
      results.setHr(hr);
      if (FAILED(hr)) WriteErrorInfo(results.initError());
    });
  }

  kj::Promise<void> queryInterface(QueryInterfaceContext context) override {
    GUID iid;
    HRESULT hr = E_NOINTERFACE;
    if (ReadGuid(context.getParams().getIid(), &iid) && FindRemoteInterface(iid) && Find(iid)) hr = S_OK;
    context.getResults().setHr(hr);
    return kj::READY_NOW;
  }

  kj::Promise<void> next(NextContext context) override {
    return Serve(context.getParams().getCausality(), [this, context](HRESULT refused) mutable {
      auto results = context.getResults();
      HRESULT why = S_OK;
      IEnumVARIANT* e = EnumeratorFor(refused, &why);
      if (!e) return results.setHr(why);
      const ULONG count = std::min<uint32_t>(context.getParams().getCount(), kMaxEnumBatch);
      std::vector<com::Variant> values(count);
      ULONG fetched = 0;
      const HRESULT hr = count ? e->Next(count, values.data(), &fetched) : S_OK;
      if (FAILED(hr)) {
        results.setHr(hr);
        return;
      }
      fetched = std::min(fetched, count);
      Codec codec(apartment_, connection_.lock());
      auto items = results.initItems(fetched);
      for (ULONG i = 0; i < fetched; ++i) {
        const HRESULT encoded = EncodeVariant(values[i], codec, items[i]);
        if (FAILED(encoded)) {
          results.setHr(encoded);
          return;
        }
      }
      results.setHr(fetched < count ? S_FALSE : S_OK);
    });
  }

  kj::Promise<void> skip(SkipContext context) override {
    return Serve(context.getParams().getCausality(), [this, context](HRESULT refused) mutable {
      HRESULT hr = S_OK;
      if (IEnumVARIANT* e = EnumeratorFor(refused, &hr)) hr = e->Skip(context.getParams().getCount());
      context.getResults().setHr(hr);
    });
  }

  kj::Promise<void> reset(ResetContext context) override {
    return Serve(context.getParams().getCausality(), [this, context](HRESULT refused) mutable {
      HRESULT hr = S_OK;
      if (IEnumVARIANT* e = EnumeratorFor(refused, &hr)) hr = e->Reset();
      context.getResults().setHr(hr);
    });
  }

  kj::Promise<void> clone(CloneContext context) override;

 private:
  // Runs `body(S_OK)` on a fiber when the call's turn comes (see Apartment), or `body(failure)`
  // at once, with the error information set, when its chain already nests kMaxNesting calls.
  // The capability held by the fiber keeps this object alive until the call has ended.
  template <class Body>
  kj::Promise<void> Serve(uint64_t causality, Body&& body) {
    KJ_IF_MAYBE (turn, apartment_.Admit(causality)) {
      return turn->then(
          [this, self = thisCap(), causality, body = kj::fwd<Body>(body)](kj::Own<Apartment::Turn> held) mutable {
            auto run = [this, self = kj::mv(self), causality, body = kj::mv(body)](kj::WaitScope& scope) mutable {
              const char* top = static_cast<const char*>(__builtin_frame_address(0));
              const char* low = top - kFiberStackBytes + kFiberStackReserve;
              ForgetDeadFrames(low);  // a pooled stack may carry marks of an earlier call's exception
              apartment_.running_ = Apartment::Running{&scope, causality, low};
              KJ_DEFER(apartment_.running_ = Apartment::Running{});
              body(S_OK);
            };
            return apartment_.fibers_->startFiber(kj::mv(run)).attach(kj::mv(held));
          });
    }
    DispatchScope scope(apartment_);
    body(com::ReportError(RPC_E_CALL_REJECTED, "qvacom remote",
                          "Calls back and forth between the service and a console nest too deeply."));
    return kj::READY_NOW;
  }

  // The object's interface `iid`, asked once and kept; null when the object refuses it.
  IUnknown* Find(const IID& iid) {
    for (auto& [have, itf] : interfaces_)
      if (have == iid) return itf.get();
    com::ComPtr<IUnknown> itf;
    HRESULT hr;
    {
      DispatchScope scope(apartment_);
      hr = identity_->QueryInterface(iid, itf.put_void());
    }
    if (FAILED(hr) || !itf) return nullptr;
    interfaces_.emplace_back(iid, itf);
    return itf.get();
  }
  IEnumVARIANT* Enumerator() { return static_cast<IEnumVARIANT*>(Find(IID_IEnumVARIANT)); }
  // The enumerator an enumerator call acts on; null, with *why, when the call was refused (its
  // code) or the object is no enumerator (E_NOINTERFACE).
  IEnumVARIANT* EnumeratorFor(HRESULT refused, HRESULT* why) {
    IEnumVARIANT* e = SUCCEEDED(refused) ? Enumerator() : nullptr;
    if (!e) *why = FAILED(refused) ? refused : E_NOINTERFACE;
    return e;
  }

  Apartment& apartment_;
  com::ComPtr<IUnknown> identity_;
  IID dispatch_iid_;
  bool enumerator_;
  std::weak_ptr<Connection> connection_;
  const capnp::ClientHook* hook_ = nullptr;
  std::vector<std::pair<IID, com::ComPtr<IUnknown>>> interfaces_;
};

namespace {

// What a receiver should know of an object it has not seen: the interface its IDispatch answers
// and whether it enumerates. `declared` is what the member's declaration names.
void Describe(IUnknown* identity, const IID& declared, IID* dispatch_iid, bool* enumerator) {
  *dispatch_iid = GUID_NULL;
  *enumerator = false;
  if (FindRemoteInterface(declared)) {
    *dispatch_iid = declared;
    return;
  }
  com::ComPtr<IUnknown> probe;
  if (SUCCEEDED(identity->QueryInterface(IID_IEnumVARIANT, probe.put_void()))) {
    *enumerator = true;
    return;
  }
  com::ComPtr<IDispatch> dispatch;
  if (FAILED(identity->QueryInterface(IID_IDispatch, dispatch.put_void()))) return;
  com::ComPtr<ITypeInfo> info;
  if (FAILED(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put())) || !info) return;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr)) || !attr) return;
  if (FindRemoteInterface(attr->guid)) *dispatch_iid = attr->guid;
  info->ReleaseTypeAttr(attr);
}

void WriteDescription(wire::ObjectRef::Builder ref, const IID& dispatch_iid, bool enumerator) {
  if (dispatch_iid != GUID_NULL) ref.setDispatchIid(GuidBytes(dispatch_iid));
  ref.setEnumerator(enumerator);
}

}  // namespace

// ---- the codec ------------------------------------------------------------------------------

HRESULT Codec::Encode(IUnknown* object, const IID& iid, wire::ObjectRef::Builder ref) {
  if (!object) return S_OK;
  if (RemoteObject* remote = RemoteObject::FromUnknown(object)) {
    // A proxy goes back as the peer's reference; its owner receives its own object again.
    if (&remote->apartment() != &apartment_)
      return com::ReportError(RPC_E_WRONG_THREAD, "qvacom remote",
                              "A proxy of another thread cannot be passed on this thread's connection.");
    if (connection_ && remote->connection() && remote->connection() != connection_)
      return com::ReportError(E_INVALIDARG, "qvacom remote",
                              "An object reached through one connection cannot be passed on another.");
    ref.setObject(remote->capability());
    WriteDescription(ref, remote->dispatch_iid(), remote->enumerator());
    return S_OK;
  }
  com::ComPtr<IUnknown> identity;
  RETURN_IF_FAILED(object->QueryInterface(IID_IUnknown, identity.put_void()));
  auto it = apartment_.exports_.find(identity.get());
  if (it != apartment_.exports_.end()) {
    ObjectServer* server = it->second;
    ref.setObject(server->Capability());
    WriteDescription(ref, server->dispatch_iid(), server->enumerator());
    return S_OK;
  }
  IID dispatch_iid;
  bool enumerator;
  if (FindRemoteInterface(iid)) {
    dispatch_iid = iid;
    enumerator = false;
  } else {
    const void* vtable = *reinterpret_cast<void* const*>(identity.get());
    auto known = apartment_.descriptions_.find(vtable);
    if (known == apartment_.descriptions_.end()) {
      DispatchScope scope(apartment_);
      Describe(identity.get(), iid, &dispatch_iid, &enumerator);
      apartment_.descriptions_[vtable] = {dispatch_iid, enumerator};
    } else {
      dispatch_iid = known->second.dispatch_iid;
      enumerator = known->second.enumerator;
    }
  }
  auto server = kj::heap<ObjectServer>(apartment_, identity, dispatch_iid, enumerator, connection_);
  ObjectServer* raw = server.get();
  wire::Object::Client client(kj::mv(server));
  raw->set_hook(capnp::ClientHook::from(client).get());
  ref.setObject(kj::mv(client));
  WriteDescription(ref, dispatch_iid, enumerator);
  return S_OK;
}

HRESULT Codec::Decode(wire::ObjectRef::Reader ref, const IID& iid, IUnknown** out) {
  *out = nullptr;
  if (!ref.hasObject()) return S_OK;
  kj::Own<capnp::ClientHook> hook = capnp::ClientHook::from(ref.getObject());
  auto it = apartment_.export_hooks_.find(Innermost(hook.get()));
  if (it != apartment_.export_hooks_.end()) {
    DispatchScope scope(apartment_);
    return it->second->identity()->QueryInterface(iid, reinterpret_cast<void**>(out));
  }
  com::ComPtr<IUnknown> object;
  RETURN_IF_FAILED(RemoteObject::Import(connection_, ref, object.put()));
  if (!object) return S_OK;
  return object->QueryInterface(iid, reinterpret_cast<void**>(out));
}

kj::Promise<void> ObjectServer::clone(CloneContext context) {
  return Serve(context.getParams().getCausality(), [this, context](HRESULT refused) mutable {
    auto results = context.getResults();
    HRESULT why = S_OK;
    IEnumVARIANT* e = EnumeratorFor(refused, &why);
    if (!e) return results.setHr(why);
    com::ComPtr<IEnumVARIANT> copy;
    HRESULT hr = e->Clone(copy.put());
    if (SUCCEEDED(hr) && !copy) hr = E_UNEXPECTED;
    if (SUCCEEDED(hr)) {
      capnp::MallocMessageBuilder message(16);
      auto ref = message.initRoot<wire::ObjectRef>();
      Codec codec(apartment_, connection_.lock());
      hr = codec.Encode(copy.get(), IID_IEnumVARIANT, ref);
      if (SUCCEEDED(hr)) results.setEnumerator(ref.asReader().getObject());
    }
    results.setHr(hr);
  });
}

// The server's entry: exports `object` for a session's activation.
HRESULT ExportRoot(Apartment& apartment, IUnknown* object, const IID& iid, wire::ObjectRef::Builder ref) {
  Codec codec(apartment, nullptr);
  return codec.Encode(object, iid, ref);
}

}  // namespace qva::remote
