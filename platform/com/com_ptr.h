// ComPtr<T>: owns one reference on a COM interface.
#pragma once

#include <utility>

#include "platform/com/types.h"

namespace com {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}  // NOLINT
  // Adds a reference: the caller keeps its own.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~ComPtr() { reset(); }
  ComPtr& operator=(const ComPtr& o) {
    ComPtr(o).swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }

  // Takes over a reference the caller owns (no AddRef).
  static ComPtr Attach(T* p) {
    ComPtr r;
    r.p_ = p;
    return r;
  }
  // Gives up the reference without releasing it.
  [[nodiscard]] T* Detach() { return std::exchange(p_, nullptr); }
  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // For out parameters: releases the current pointer and returns the slot to fill.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  void swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }

  // QueryInterface for U; a failure leaves `out` null.
  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(U::iid, out->put_void());
  }
  // Hands an added reference out through a raw out parameter.
  HRESULT CopyTo(T** out) const {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace com
