// Automation values on the wire: BSTR, VARIANT and the typed scalars of the interfaces, to and
// from `wire::Value`. Decoding is strict and bounded: a value of the wrong kind, a string over
// kMaxStringChars or a GUID of the wrong size is refused with a failure code, never trusted.
#pragma once

#include <capnp/capability.h>
#include <capnp/message.h>

#include "platform/com/types.h"
#include "platform/remote/remote.capnp.h"

namespace qva::remote {

// Longest BSTR a peer may send, in UTF-16 code units (8 MiB of text).
inline constexpr size_t kMaxStringChars = size_t{4} << 20;
// Largest message a peer may send, in 8-byte words (the reader's traversal limit): 64 MiB.
inline constexpr uint64_t kMaxMessageWords = uint64_t{8} << 20;
// Most values one enumerator fetch answers.
inline constexpr uint32_t kMaxEnumBatch = 4096;

// How interface pointers cross: each side exports its own objects and wraps what it receives from
// the peer in proxies (runtime.h's Codec).
class ObjectCodec {
 public:
  // Writes `object` (null allowed) as interface `iid` (IID_IUnknown or IID_IDispatch when the
  // declaration names no interface of its own).
  virtual HRESULT Encode(IUnknown* object, const IID& iid, wire::ObjectRef::Builder ref) = 0;
  // Reads a reference as interface `iid`; a null reference gives null. *out holds a reference.
  virtual HRESULT Decode(wire::ObjectRef::Reader ref, const IID& iid, IUnknown** out) = 0;

 protected:
  ~ObjectCodec() = default;
};

// A codec for where no object may cross (the fuzz target, values of a message not yet trusted):
// every non-null reference is refused.
class NoObjects final : public ObjectCodec {
 public:
  HRESULT Encode(IUnknown* object, const IID&, wire::ObjectRef::Builder) override;
  HRESULT Decode(wire::ObjectRef::Reader ref, const IID&, IUnknown** out) override;
};

void WriteGuid(const GUID& guid, capnp::Data::Builder out);
kj::Array<kj::byte> GuidBytes(const GUID& guid);
// False when `data` is not exactly 16 bytes.
bool ReadGuid(capnp::Data::Reader data, GUID* out);

void EncodeBstr(BSTR text, wire::Value::Builder out);
// A bstr or nullBstr value; *out is the caller's (null for nullBstr).
HRESULT DecodeBstr(wire::Value::Reader in, BSTR* out);

// VT_BYREF, arrays, VT_DECIMAL and VT_RECORD do not cross: DISP_E_BADVARTYPE.
HRESULT EncodeVariant(const VARIANT& value, ObjectCodec& objects, wire::Value::Builder out);
// *out must be empty (VT_EMPTY) on entry; on failure it is left empty.
HRESULT DecodeVariant(wire::Value::Reader in, ObjectCodec& objects, VARIANT* out);

// Typed scalars: the value must be of exactly the kind the declaration gives.
HRESULT DecodeLong(wire::Value::Reader in, LONG* out);
HRESULT DecodeShort(wire::Value::Reader in, SHORT* out);
HRESULT DecodeBool(wire::Value::Reader in, VARIANT_BOOL* out);
HRESULT DecodeDouble(wire::Value::Reader in, double* out);
HRESULT DecodeDate(wire::Value::Reader in, DATE* out);
HRESULT DecodeInt64(wire::Value::Reader in, LONGLONG* out);
HRESULT DecodeObject(wire::Value::Reader in, ObjectCodec& objects, const IID& iid, IUnknown** out);
// Interface values travel as `unknown` references, IDispatch ones as `dispatch`.
HRESULT EncodeObject(IUnknown* object, const IID& iid, ObjectCodec& objects, wire::Value::Builder out);

}  // namespace qva::remote
