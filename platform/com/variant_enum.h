// An enumerator over a snapshot of values: what every collection's _NewEnum hands out. Changes
// to the collection after the snapshot is taken do not reach an enumerator already made.
// Header-only so that each library's objects count against that library's own module.
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/variant.h"

namespace com {

class VariantEnum : public Implements<IEnumVARIANT> {
 public:
  VariantEnum(std::vector<Variant> items, size_t position) : items_(std::move(items)), pos_(position) {}

  // A new enumerator over `items`, from the start, as the IUnknown a _NewEnum answers.
  static HRESULT Make(std::vector<Variant> items, IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto e = CreateObject<VariantEnum>(std::move(items), size_t{0});
    if (!e) return e.error();
    *out = (*e)->Identity();
    (*out)->AddRef();
    return S_OK;
  }

  // Snapshot of interface pointers, each held as a VT_DISPATCH value.
  template <class I>
  static HRESULT MakeOf(const std::vector<ComPtr<I>>& items, IUnknown** out) {
    std::vector<Variant> values;
    values.reserve(items.size());
    for (const ComPtr<I>& item : items) values.push_back(Variant::Dispatch(item.get()));
    return Make(std::move(values), out);
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && pos_ < items_.size(); ++n, ++pos_) {
      VariantInit(&out[n]);
      VariantCopy(&out[n], &items_[pos_]);
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const size_t left = items_.size() - pos_;
    pos_ += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    pos_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto e = CreateObject<VariantEnum>(items_, pos_);
    if (!e) return e.error();
    *out = e->get();
    (*out)->AddRef();
    return S_OK;
  }

 private:
  std::vector<Variant> items_;
  size_t pos_;
};

}  // namespace com
