// The COM machinery every class shares, in the manner of ATL:
//
//   class CQVAFoo : public com::Implements<IQVAFoo> { ... };   // the class: interfaces only
//   com::CreateObject<CQVAFoo>(args...)                         // standalone heap object
//   com::ClassFactory<CQVAFoo>, com::SingletonClassFactory<CQVA> // class objects
//
// A class implements its interfaces' methods and nothing of IUnknown; the final wrapper
// (Object, Contained, Global, Cached) supplies reference counting and delegation.
// Apartment objects count references without atomics: they are called on one thread only.
#pragma once

#include <cstddef>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/com/com_ptr.h"
#include "platform/com/module.h"
#include "platform/com/object_pool.h"
#include "platform/com/result.h"

namespace com {

namespace detail {
// Does `riid` name I or one of the interfaces it derives from (other than IUnknown)?
template <class I>
bool InterfaceMatches(REFIID riid) {
  if (riid == I::iid) return true;
  if constexpr (std::is_base_of_v<IDispatch, I> && !std::is_same_v<IDispatch, I>) return riid == IID_IDispatch;
  return false;
}
}  // namespace detail

// Base of every class: QueryInterface over the listed interfaces, the first one standing for
// IUnknown. `FinalConstruct` may be hidden by the class to run fallible set-up after the
// reference count is live.
template <class... Interfaces>
class Implements : public Interfaces... {
  static_assert(sizeof...(Interfaces) > 0);
  using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;

 public:
  // One final override in the wrapper serves every base interface.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG STDMETHODCALLTYPE AddRef() override = 0;
  ULONG STDMETHODCALLTYPE Release() override = 0;

  // The interface for riid without adding a reference, or null.
  void* FindInterface(REFIID riid) {
    if (riid == IID_IUnknown) return static_cast<IUnknown*>(static_cast<First*>(this));
    void* found = nullptr;
    ((found == nullptr && detail::InterfaceMatches<Interfaces>(riid)
          ? (found = static_cast<Interfaces*>(this), true)
          : false),
     ...);
    return found;
  }
  // The object's identity.
  IUnknown* Identity() { return static_cast<IUnknown*>(static_cast<First*>(this)); }

  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}

 protected:
  Implements() = default;
  Implements(const Implements&) = delete;
  Implements& operator=(const Implements&) = delete;
  // Only the wrappers destroy objects.
  ~Implements() = default;

 private:
  template <class>
  friend class Object;
  // Object's reference count. It lives here, right behind the interface pointers every call
  // reads, rather than behind the class's own members: a look-up that hands out one item of a
  // large collection then touches one cache line of it, not two.
  ULONG object_refs_ = 0;
};

// A standalone heap object. A class that declares kPooledAllocation (object_pool.h) lives in the
// slot pools; any other in the general heap.
template <class T>
class Object final : public T {
 public:
  template <class... A>
  explicit Object(A&&... a) : T(std::forward<A>(a)...) {
    ThisModule().Lock();
  }
  ~Object() {
    T::FinalRelease();
    ThisModule().Unlock();
  }

  static void* operator new(std::size_t size) {
    if (void* p = operator new(size, std::nothrow)) return p;
    throw std::bad_alloc();
  }
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if constexpr (PooledClass<T>) {
      static_assert(pool::SizeClassOf(sizeof(Object)) < pool::kSizeClasses, "too large for the slot pools");
      static_assert(alignof(Object) <= pool::kSlotAlign, "aligned beyond the slot pools");
      return AllocatePooled(size);
    } else {
      return ::operator new(size, std::nothrow);
    }
  }
  static void operator delete(void* p) noexcept {
    if constexpr (PooledClass<T>)
      FreePooled(p);
    else
      ::operator delete(p);
  }
  static void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = T::FindInterface(riid);
    if (!*ppv) return E_NOINTERFACE;
    ++this->object_refs_;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++this->object_refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --this->object_refs_;
    if (left == 0) delete this;
    return left;
  }
};

// Makes a standalone T and runs its FinalConstruct. The result holds the only reference.
template <class T, class... A>
Expected<ComPtr<T>> CreateObject(A&&... a) {
  auto* raw = new (std::nothrow) Object<T>(std::forward<A>(a)...);
  if (!raw) return Fail{E_OUTOFMEMORY};
  ComPtr<T> obj(raw);
  const HRESULT hr = raw->FinalConstruct();
  if (FAILED(hr)) return Fail{hr};
  return obj;
}

// The inner object of an aggregate: its IUnknown delegates to the outer object.
template <class T>
class Contained final : public T {
 public:
  explicit Contained(IUnknown* outer) : outer_(outer) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return outer_->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

 private:
  IUnknown* outer_;  // not owned: the outer object owns us
};

// The non-delegating unknown an aggregated object hands its outer object.
template <class T>
class Aggregate final : public IUnknown {
 public:
  explicit Aggregate(IUnknown* outer) : inner_(outer) { ThisModule().Lock(); }
  ~Aggregate() {
    inner_.FinalRelease();
    ThisModule().Unlock();
  }
  HRESULT FinalConstruct() { return inner_.FinalConstruct(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = inner_.FindInterface(riid);
    if (!*ppv) return E_NOINTERFACE;
    inner_.AddRef();  // counted on the outer object, as COM requires
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  ULONG refs_ = 0;
  Contained<T> inner_;
};

// An object that lives as long as its owner (a singleton class object): references only hold
// the module, and the last Release never destroys it. Shared across threads, so atomic.
template <class T>
class Global final : public T {
 public:
  ~Global() { T::FinalRelease(); }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = T::FindInterface(riid);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    ThisModule().Lock();
    return ++refs_ + 1;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    ThisModule().Unlock();
    return --refs_ + 1;
  }

 private:
  std::atomic<ULONG> refs_{0};
};

// A class object the module keeps in its cache for its whole life. The cache's own reference
// does not hold the module; every further one does (as ATL's cached class objects).
template <class T>
class Cached final : public T {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = T::FindInterface(riid);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    const ULONG n = ++refs_;
    if (n == 2) ThisModule().Lock();
    return n;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --refs_;
    if (n == 1) ThisModule().Unlock();
    if (n == 0) delete this;
    return n;
  }

 private:
  std::atomic<ULONG> refs_{0};
};

class ClassFactoryBase : public Implements<IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      ThisModule().Lock();
    else
      ThisModule().Unlock();
    return S_OK;
  }
};

// The class object of an ordinary creatable class: every CreateInstance makes a new T.
// With an outer unknown the object is made as an aggregate and only IUnknown may be asked for.
template <class T>
class ClassFactory : public ClassFactoryBase {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) {
      if (riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
      return Finish(new (std::nothrow) Aggregate<T>(outer), riid, ppv);
    }
    return Finish(new (std::nothrow) Object<T>(), riid, ppv);
  }

 private:
  template <class O>
  static HRESULT Finish(O* raw, REFIID riid, void** ppv) {
    if (!raw) return E_OUTOFMEMORY;
    raw->AddRef();  // keeps the object alive through FinalConstruct and the QueryInterface
    HRESULT hr = raw->FinalConstruct();
    if (SUCCEEDED(hr)) hr = raw->QueryInterface(riid, ppv);
    raw->Release();
    return hr;
  }
};

// The class object of a singleton class: every CreateInstance in the process answers the same
// object, made on the first call under a lock; a failure to make it is kept and returned by
// every later call. The object is destroyed with the class object, at unload.
template <class T>
class SingletonClassFactory : public ClassFactoryBase {
 public:
  ~SingletonClassFactory() { delete object_; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!made_) {
        made_ = true;
        object_ = new (std::nothrow) Global<T>();
        create_hr_ = object_ ? object_->FinalConstruct() : E_OUTOFMEMORY;
        if (FAILED(create_hr_)) {
          delete object_;
          object_ = nullptr;
        }
      }
    }
    if (FAILED(create_hr_)) return create_hr_;
    return object_->QueryInterface(riid, ppv);
  }

 private:
  std::mutex mutex_;
  bool made_ = false;
  HRESULT create_hr_ = S_OK;
  Global<T>* object_ = nullptr;
};

// The class-object creator a catalogue entry holds: makes the class object F, cached by the
// caller, and returns its interface riid.
template <class F>
HRESULT MakeClassObject(REFIID riid, void** ppv) {
  auto* raw = new (std::nothrow) Cached<F>();
  if (!raw) return E_OUTOFMEMORY;
  raw->AddRef();
  const HRESULT hr = raw->QueryInterface(riid, ppv);
  raw->Release();
  return hr;
}

}  // namespace com
