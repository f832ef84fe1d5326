// The ordered list of item objects behind every collection's Count, _NewEnum and Index.
//
// Index reads its VARIANT as a 0-based position after coercing it to a 32-bit integer (a
// string "2" or a double 2.0 both mean the third item); a position outside 0 .. Count-1 is
// E_INVALIDARG with a null item, never a read past the list. Enumerators are snapshots.
#pragma once

#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/variant.h"
#include "platform/com/variant_enum.h"

namespace qva {

template <class I>
class ItemList {
 public:
  std::vector<com::ComPtr<I>>& items() { return items_; }
  const std::vector<com::ComPtr<I>>& items() const { return items_; }
  size_t size() const { return items_.size(); }

  HRESULT Count(LONG* out) const {
    if (!out) return E_POINTER;
    *out = static_cast<LONG>(items_.size());
    return S_OK;
  }

  HRESULT NewEnum(IUnknown** out) const { return com::VariantEnum::MakeOf(items_, out); }

  HRESULT Index(const VARIANT& position, I** out) const {
    if (!out) return E_POINTER;
    *out = nullptr;
    com::Variant n;
    if (FAILED(VariantChangeType(&n, &position, 0, VT_I4))) return E_INVALIDARG;
    if (n.lVal < 0 || static_cast<size_t>(n.lVal) >= items_.size()) return E_INVALIDARG;
    return Hand(items_[n.lVal], out);
  }

  // Hands an item out with an added reference.
  static HRESULT Hand(const com::ComPtr<I>& item, I** out) {
    *out = item.get();
    if (*out) (*out)->AddRef();
    return S_OK;
  }

 private:
  std::vector<com::ComPtr<I>> items_;
};

}  // namespace qva
