// Variant: owns one VARIANT and clears it on destruction. Layout-compatible with VARIANT, so an
// array of Variant can be passed where an array of VARIANT is expected.
#pragma once

#include <string_view>
#include <utility>

#include "platform/com/oleauto.h"
#include "platform/com/text.h"

namespace com {

class Variant : public VARIANT {
 public:
  Variant() { VariantInit(this); }
  Variant(const VARIANT& o) {  // NOLINT: implicit copy from the raw type
    VariantInit(this);
    VariantCopy(this, &o);
  }
  Variant(const Variant& o) : Variant(static_cast<const VARIANT&>(o)) {}
  Variant(Variant&& o) noexcept : VARIANT(o) { VariantInit(&o); }
  ~Variant() { VariantClear(this); }
  Variant& operator=(const Variant& o) {
    if (this != &o) VariantCopy(this, &o);
    return *this;
  }
  Variant& operator=(Variant&& o) noexcept {
    if (this != &o) {
      VariantClear(this);
      static_cast<VARIANT&>(*this) = o;
      VariantInit(&o);
    }
    return *this;
  }

  static Variant I4(LONG v) {
    Variant r;
    r.vt = VT_I4;
    r.lVal = v;
    return r;
  }
  static Variant I2(SHORT v) {
    Variant r;
    r.vt = VT_I2;
    r.iVal = v;
    return r;
  }
  static Variant R8(double v) {
    Variant r;
    r.vt = VT_R8;
    r.dblVal = v;
    return r;
  }
  static Variant Date(DATE v) {
    Variant r;
    r.vt = VT_DATE;
    r.date = v;
    return r;
  }
  static Variant Bool(bool v) {
    Variant r;
    r.vt = VT_BOOL;
    r.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
  }
  static Variant Str(std::string_view utf8) {
    Variant r;
    r.vt = VT_BSTR;
    r.bstrVal = AllocBstr(utf8);
    return r;
  }
  static Variant Str(std::u16string_view utf16) {
    Variant r;
    r.vt = VT_BSTR;
    r.bstrVal = AllocBstr(utf16);
    return r;
  }
  // Adds a reference to p.
  static Variant Unknown(IUnknown* p) {
    Variant r;
    r.vt = VT_UNKNOWN;
    r.punkVal = p;
    if (p) p->AddRef();
    return r;
  }
  static Variant Dispatch(IDispatch* p) {
    Variant r;
    r.vt = VT_DISPATCH;
    r.pdispVal = p;
    if (p) p->AddRef();
    return r;
  }

  VARIANT* get() { return this; }
  // Clears the value and returns the slot for an out parameter.
  VARIANT* put() {
    VariantClear(this);
    return this;
  }
  // Hands the value to a raw VARIANT the caller owns; this one becomes VT_EMPTY.
  void Detach(VARIANT* out) {
    *out = *this;
    VariantInit(this);
  }
  HRESULT ChangeType(VARTYPE to, WORD flags = 0) { return VariantChangeType(this, this, flags, to); }
};
static_assert(sizeof(Variant) == sizeof(VARIANT));

}  // namespace com
