// libFuzzer target: the decoder of wire values, fed arbitrary bytes as a message. A message
// capnp refuses must surface as a kj exception (which closes a connection), and whatever it
// accepts must decode to a value or a failure code, never to a crash, a leak or an overrun.
#include <capnp/serialize.h>

#include <cstring>

#include "platform/com/oleauto.h"
#include "platform/remote/values.h"

using namespace qva::remote;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader wants whole, aligned words, as the message layer hands them over.
  kj::Array<capnp::word> words = kj::heapArray<capnp::word>(size / sizeof(capnp::word));
  std::memcpy(words.begin(), data, words.size() * sizeof(capnp::word));
  capnp::ReaderOptions limits;
  limits.traversalLimitInWords = kMaxMessageWords;
  limits.nestingLimit = 32;
  NoObjects objects;
  try {
    capnp::FlatArrayMessageReader reader(words, limits);
    auto call = reader.getRoot<wire::Object::CallParams>();
    GUID iid;
    ReadGuid(call.getIid(), &iid);
    // A stub reads only the arguments its member declares (a handful); a list that claims
    // millions of empty elements is refused by the count check before any is read.
    auto args = call.getArgs();
    for (unsigned i = 0; i < args.size() && i < 64; ++i) {
      auto value = args[i];
      VARIANT v;
      if (SUCCEEDED(DecodeVariant(value, objects, &v))) VariantClear(&v);
      BSTR text = nullptr;
      if (SUCCEEDED(DecodeBstr(value, &text))) SysFreeString(text);
      LONG l;
      SHORT s;
      VARIANT_BOOL b;
      double d;
      LONGLONG ll;
      DecodeLong(value, &l);
      DecodeShort(value, &s);
      DecodeBool(value, &b);
      DecodeDouble(value, &d);
      DecodeDate(value, &d);
      DecodeInt64(value, &ll);
      IUnknown* object = nullptr;
      if (SUCCEEDED(DecodeObject(value, objects, IID_IUnknown, &object)) && object) object->Release();
    }
  } catch (const kj::Exception&) {
    // Refused by the message layer: the connection would end here.
  }
  return 0;
}
