// Status values inside the code. Automation members return an HRESULT at their boundary; inside,
// functions that produce a value return Expected<T>: the value, or the failure code.
#pragma once

#include <utility>
#include <variant>

#include "platform/com/types.h"

namespace com {

template <class T>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  static Expected Failure(HRESULT hr) { return Expected(hr, 0); }

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  // The failure code, or S_OK when a value is held.
  HRESULT error() const { return ok() ? S_OK : std::get<1>(v_); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

 private:
  Expected(HRESULT hr, int) : v_(std::in_place_index<1>, hr) {}
  std::variant<T, HRESULT> v_;
};

// A failure code that converts to any Expected<T>: `return Fail(E_INVALIDARG);`
struct Fail {
  HRESULT hr;
  operator HRESULT() const { return hr; }  // NOLINT: implicit by design
  template <class T>
  operator Expected<T>() const {  // NOLINT: implicit by design
    return Expected<T>::Failure(hr);
  }
};

}  // namespace com

#define QVA_CONCAT_INNER(a, b) a##b
#define QVA_CONCAT(a, b) QVA_CONCAT_INNER(a, b)

// Returns the HRESULT of `expr` from the enclosing function when it is a failure (as an
// HRESULT, or as a failed Expected of the enclosing function's type).
#define RETURN_IF_FAILED(expr)                          \
  do {                                                  \
    const HRESULT qva_hr_ = (expr);                     \
    if (FAILED(qva_hr_)) return ::com::Fail{qva_hr_};   \
  } while (0)

// `ASSIGN_OR_RETURN(auto x, Expr());` binds the value of an Expected or returns its code
// (as an HRESULT, or as a failed Expected of the enclosing function's type).
#define ASSIGN_OR_RETURN(decl, expr)                                        \
  auto QVA_CONCAT(qva_exp_, __LINE__) = (expr);                             \
  if (!QVA_CONCAT(qva_exp_, __LINE__)) return ::com::Fail{QVA_CONCAT(qva_exp_, __LINE__).error()}; \
  decl = std::move(QVA_CONCAT(qva_exp_, __LINE__)).value()
