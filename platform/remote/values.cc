#include "platform/remote/values.h"

#include <bit>
#include <cstring>

#include "platform/com/oleauto.h"
#include "platform/com/result.h"

namespace qva::remote {

HRESULT NoObjects::Encode(IUnknown* object, const IID&, wire::ObjectRef::Builder) {
  return object ? E_INVALIDARG : S_OK;
}

HRESULT NoObjects::Decode(wire::ObjectRef::Reader ref, const IID&, IUnknown** out) {
  *out = nullptr;
  return ref.hasObject() ? E_INVALIDARG : S_OK;
}

void WriteGuid(const GUID& guid, capnp::Data::Builder out) { std::memcpy(out.begin(), &guid, sizeof guid); }

kj::Array<kj::byte> GuidBytes(const GUID& guid) {
  auto bytes = kj::heapArray<kj::byte>(sizeof guid);
  std::memcpy(bytes.begin(), &guid, sizeof guid);
  return bytes;
}

bool ReadGuid(capnp::Data::Reader data, GUID* out) {
  if (data.size() != sizeof(GUID)) return false;
  std::memcpy(out, data.begin(), sizeof(GUID));
  return true;
}

void EncodeBstr(BSTR text, wire::Value::Builder out) {
  if (!text) {
    out.setNullBstr();
    return;
  }
  const UINT chars = SysStringLen(text);
  // UTF-16LE on the wire: this platform is little-endian, so the characters are copied as is.
  static_assert(std::endian::native == std::endian::little);
  auto data = out.initBstr(chars * sizeof(OLECHAR));
  std::memcpy(data.begin(), text, chars * sizeof(OLECHAR));
}

HRESULT DecodeBstr(wire::Value::Reader in, BSTR* out) {
  *out = nullptr;
  switch (in.which()) {
    case wire::Value::NULL_BSTR:
      return S_OK;
    case wire::Value::BSTR: {
      auto data = in.getBstr();
      if (data.size() % sizeof(OLECHAR) != 0 || data.size() / sizeof(OLECHAR) > kMaxStringChars) return E_INVALIDARG;
      *out = SysAllocStringByteLen(reinterpret_cast<const char*>(data.begin()), static_cast<UINT>(data.size()));
      return *out ? S_OK : E_OUTOFMEMORY;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT EncodeObject(IUnknown* object, const IID& iid, ObjectCodec& objects, wire::Value::Builder out) {
  return objects.Encode(object, iid, iid == IID_IDispatch ? out.initDispatch() : out.initUnknown());
}

HRESULT DecodeObject(wire::Value::Reader in, ObjectCodec& objects, const IID& iid, IUnknown** out) {
  *out = nullptr;
  switch (in.which()) {
    case wire::Value::UNKNOWN:
      return objects.Decode(in.getUnknown(), iid, out);
    case wire::Value::DISPATCH:
      return objects.Decode(in.getDispatch(), iid, out);
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT EncodeVariant(const VARIANT& v, ObjectCodec& objects, wire::Value::Builder out) {
  switch (v.vt) {
    case VT_EMPTY:
      out.setEmpty();
      return S_OK;
    case VT_NULL:
      out.setNull();
      return S_OK;
    case VT_I2:
      out.setI2(v.iVal);
      return S_OK;
    case VT_I4:
      out.setI4(v.lVal);
      return S_OK;
    case VT_R4:
      out.setR4(v.fltVal);
      return S_OK;
    case VT_R8:
      out.setR8(v.dblVal);
      return S_OK;
    case VT_CY:
      out.setCy(v.cyVal.int64);
      return S_OK;
    case VT_DATE:
      out.setDate(v.date);
      return S_OK;
    case VT_BSTR:
      EncodeBstr(v.bstrVal, out);
      return S_OK;
    case VT_DISPATCH:
      return objects.Encode(v.pdispVal, IID_IDispatch, out.initDispatch());
    case VT_ERROR:
      out.setError(v.scode);
      return S_OK;
    case VT_BOOL:
      out.setBoolean(v.boolVal);
      return S_OK;
    case VT_UNKNOWN:
      return objects.Encode(v.punkVal, IID_IUnknown, out.initUnknown());
    case VT_I1:
      out.setI1(static_cast<int8_t>(v.cVal));
      return S_OK;
    case VT_UI1:
      out.setUi1(v.bVal);
      return S_OK;
    case VT_UI2:
      out.setUi2(v.uiVal);
      return S_OK;
    case VT_UI4:
      out.setUi4(v.ulVal);
      return S_OK;
    case VT_I8:
      out.setI8(v.llVal);
      return S_OK;
    case VT_UI8:
      out.setUi8(v.ullVal);
      return S_OK;
    case VT_INT:
      out.setInt32(v.intVal);
      return S_OK;
    case VT_UINT:
      out.setUint32(v.uintVal);
      return S_OK;
    default:
      return DISP_E_BADVARTYPE;
  }
}

HRESULT DecodeVariant(wire::Value::Reader in, ObjectCodec& objects, VARIANT* out) {
  VariantInit(out);
  switch (in.which()) {
    case wire::Value::EMPTY:
      return S_OK;
    case wire::Value::NULL_:
      out->vt = VT_NULL;
      return S_OK;
    case wire::Value::I2:
      out->vt = VT_I2;
      out->iVal = in.getI2();
      return S_OK;
    case wire::Value::I4:
      out->vt = VT_I4;
      out->lVal = in.getI4();
      return S_OK;
    case wire::Value::R4:
      out->vt = VT_R4;
      out->fltVal = in.getR4();
      return S_OK;
    case wire::Value::R8:
      out->vt = VT_R8;
      out->dblVal = in.getR8();
      return S_OK;
    case wire::Value::CY:
      out->vt = VT_CY;
      out->cyVal.int64 = in.getCy();
      return S_OK;
    case wire::Value::DATE:
      out->vt = VT_DATE;
      out->date = in.getDate();
      return S_OK;
    case wire::Value::BSTR:
    case wire::Value::NULL_BSTR: {
      BSTR text = nullptr;
      RETURN_IF_FAILED(DecodeBstr(in, &text));
      out->vt = VT_BSTR;
      out->bstrVal = text;
      return S_OK;
    }
    case wire::Value::DISPATCH: {
      IUnknown* object = nullptr;
      RETURN_IF_FAILED(objects.Decode(in.getDispatch(), IID_IDispatch, &object));
      out->vt = VT_DISPATCH;
      out->pdispVal = static_cast<IDispatch*>(object);
      return S_OK;
    }
    case wire::Value::ERROR:
      out->vt = VT_ERROR;
      out->scode = in.getError();
      return S_OK;
    case wire::Value::BOOLEAN:
      out->vt = VT_BOOL;
      out->boolVal = in.getBoolean();
      return S_OK;
    case wire::Value::UNKNOWN: {
      IUnknown* object = nullptr;
      RETURN_IF_FAILED(objects.Decode(in.getUnknown(), IID_IUnknown, &object));
      out->vt = VT_UNKNOWN;
      out->punkVal = object;
      return S_OK;
    }
    case wire::Value::I1:
      out->vt = VT_I1;
      out->cVal = static_cast<CHAR>(in.getI1());
      return S_OK;
    case wire::Value::UI1:
      out->vt = VT_UI1;
      out->bVal = in.getUi1();
      return S_OK;
    case wire::Value::UI2:
      out->vt = VT_UI2;
      out->uiVal = in.getUi2();
      return S_OK;
    case wire::Value::UI4:
      out->vt = VT_UI4;
      out->ulVal = in.getUi4();
      return S_OK;
    case wire::Value::I8:
      out->vt = VT_I8;
      out->llVal = in.getI8();
      return S_OK;
    case wire::Value::UI8:
      out->vt = VT_UI8;
      out->ullVal = in.getUi8();
      return S_OK;
    case wire::Value::INT32:
      out->vt = VT_INT;
      out->intVal = in.getInt32();
      return S_OK;
    case wire::Value::UINT32:
      out->vt = VT_UINT;
      out->uintVal = in.getUint32();
      return S_OK;
  }
  // A union member this build does not know: a newer or a hostile peer.
  return DISP_E_BADVARTYPE;
}

namespace {
template <class T, wire::Value::Which kWhich, T (wire::Value::Reader::*kGet)() const>
HRESULT DecodeScalar(wire::Value::Reader in, T* out) {
  if (in.which() != kWhich) return DISP_E_TYPEMISMATCH;
  *out = (in.*kGet)();
  return S_OK;
}
}  // namespace

HRESULT DecodeLong(wire::Value::Reader in, LONG* out) {
  return DecodeScalar<int32_t, wire::Value::I4, &wire::Value::Reader::getI4>(in, out);
}
HRESULT DecodeShort(wire::Value::Reader in, SHORT* out) {
  return DecodeScalar<int16_t, wire::Value::I2, &wire::Value::Reader::getI2>(in, out);
}
HRESULT DecodeDouble(wire::Value::Reader in, double* out) {
  return DecodeScalar<double, wire::Value::R8, &wire::Value::Reader::getR8>(in, out);
}
HRESULT DecodeDate(wire::Value::Reader in, DATE* out) {
  return DecodeScalar<double, wire::Value::DATE, &wire::Value::Reader::getDate>(in, out);
}
HRESULT DecodeInt64(wire::Value::Reader in, LONGLONG* out) {
  return DecodeScalar<int64_t, wire::Value::I8, &wire::Value::Reader::getI8>(in, out);
}
HRESULT DecodeBool(wire::Value::Reader in, VARIANT_BOOL* out) {
  return DecodeScalar<int16_t, wire::Value::BOOLEAN, &wire::Value::Reader::getBoolean>(in, out);
}

}  // namespace qva::remote
