// VariantInit, VariantClear, VariantCopy and VariantCopyInd with OLE's results.
//
// This runtime has no SAFEARRAY and no IRecordInfo: a VARIANT that owns an array or a record
// (VT_ARRAY or VT_RECORD without VT_BYREF) is refused with DISP_E_BADVARTYPE instead of being
// leaked or freed wrongly. By-reference arrays and records borrow their target and are copied
// and cleared like any other by-reference value.
#include <cstring>

#include "platform/com/oleauto.h"
#include "platform/com/oleauto_internal.h"
#include "platform/com/result.h"

namespace com::internal {

namespace {

constexpr VARTYPE kVtVector = 0x1000;
constexpr VARTYPE kVtReserved = 0x8000;

// The base types a VARIANT can hold by value: VT_EMPTY to VT_DECIMAL, VT_I1 to VT_UINT.
bool IsValueBaseType(VARTYPE base) { return base <= VT_DECIMAL || (base >= VT_I1 && base <= VT_UINT); }

}  // namespace

bool IsValidVariantType(VARTYPE vt) {
  if (vt & (kVtVector | kVtReserved)) return false;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (vt & VT_BYREF) {
    // A reference needs something to point at: not VT_EMPTY or VT_NULL.
    return (base > VT_NULL && IsValueBaseType(base)) || base == VT_RECORD;
  }
  if (vt & VT_ARRAY) return false;
  return IsValueBaseType(base);
}

}  // namespace com::internal

namespace {

using com::internal::IsValidVariantType;

// Copies the value a by-reference VARIANT points at into `dest` (which is empty). `src` holds
// VT_BYREF with a base type other than VT_VARIANT. Interfaces gain a reference, strings are
// duplicated.
HRESULT CopyReferencedValue(VARIANT* dest, const VARIANT* src) {
  const VARTYPE base = src->vt & VT_TYPEMASK;
  if ((src->vt & VT_ARRAY) || base == VT_RECORD) return E_INVALIDARG;  // no SAFEARRAY or records here
  if (!src->byref) return E_INVALIDARG;
  switch (base) {
    case VT_I1:
    case VT_UI1:
      dest->bVal = *src->pbVal;
      break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      dest->uiVal = *src->puiVal;
      break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_R4:
      std::memcpy(&dest->lVal, src->byref, 4);
      break;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY:
      std::memcpy(&dest->llVal, src->byref, 8);
      break;
    case VT_DECIMAL:
      // A DECIMAL fills the whole VARIANT; its reserved first word is where vt lives.
      std::memcpy(&dest->decVal, src->byref, sizeof(DECIMAL));
      break;
    case VT_BSTR: {
      BSTR s = *src->pbstrVal;
      dest->bstrVal = s ? SysAllocStringByteLen(reinterpret_cast<const char*>(s), SysStringByteLen(s)) : nullptr;
      if (s && !dest->bstrVal) return E_OUTOFMEMORY;
      break;
    }
    case VT_UNKNOWN:
    case VT_DISPATCH:
      dest->punkVal = *src->ppunkVal;
      if (dest->punkVal) dest->punkVal->AddRef();
      break;
    default:
      return E_INVALIDARG;
  }
  dest->vt = base;
  return S_OK;
}

// VariantCopyInd into a destination known to be empty and distinct from the source.
HRESULT CopyIndirect(VARIANT* dest, const VARIANT* src) {
  if (!(src->vt & VT_BYREF)) return VariantCopy(dest, src);
  if ((src->vt & VT_TYPEMASK) != VT_VARIANT || (src->vt & VT_ARRAY)) return CopyReferencedValue(dest, src);
  const VARIANT* inner = src->pvarVal;
  if (!inner) return E_INVALIDARG;
  // One more level is followed, but a reference to a reference to a VARIANT is refused, as in OLE.
  if (inner->vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
  if (inner->vt & VT_BYREF) return CopyReferencedValue(dest, inner);
  return VariantCopy(dest, inner);
}

}  // namespace

void VariantInit(VARIANTARG* pvarg) { pvarg->vt = VT_EMPTY; }

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (!IsValidVariantType(pvarg->vt)) return DISP_E_BADVARTYPE;
  if (!(pvarg->vt & VT_BYREF)) {
    switch (pvarg->vt) {
      case VT_BSTR:
        SysFreeString(pvarg->bstrVal);
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        if (pvarg->punkVal) pvarg->punkVal->Release();
        break;
      default:
        break;
    }
  }
  pvarg->vt = VT_EMPTY;
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (!IsValidVariantType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (pvargDest == pvargSrc) return S_OK;
  RETURN_IF_FAILED(VariantClear(pvargDest));
  *pvargDest = *pvargSrc;
  if (pvargSrc->vt & VT_BYREF) return S_OK;
  switch (pvargSrc->vt) {
    case VT_BSTR:
      if (pvargSrc->bstrVal) {
        pvargDest->bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(pvargSrc->bstrVal),
                                                   SysStringByteLen(pvargSrc->bstrVal));
        if (!pvargDest->bstrVal) {
          pvargDest->vt = VT_EMPTY;
          return E_OUTOFMEMORY;
        }
      }
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (pvargSrc->punkVal) pvargSrc->punkVal->AddRef();
      break;
    default:
      break;
  }
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (!pvarDest || !pvargSrc) return E_INVALIDARG;
  if (!IsValidVariantType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (!(pvargSrc->vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
  // Build the copy aside, so that an in-place call still reads the reference and a failure
  // leaves the destination as it was.
  VARIANT copy;
  VariantInit(&copy);
  RETURN_IF_FAILED(CopyIndirect(&copy, pvargSrc));
  if (pvarDest != pvargSrc) {
    const HRESULT hr = VariantClear(pvarDest);
    if (FAILED(hr)) {
      VariantClear(&copy);
      return hr;
    }
  }
  *pvarDest = copy;  // the source was by reference: it owned nothing, so nothing is lost
  return S_OK;
}
