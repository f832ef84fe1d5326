// The root object: the first object a client creates. It hands out an array object, either
// the accounting service's own (Connect, across processes and machines) or a fresh one in the
// caller's process (GetArray). One per process (its class object is a singleton); it keeps no
// state.
#pragma once

#include "platform/com/dispatch.h"
#include "qvacom_idl.h"

namespace qva {

// The array class the accounting service serves to consoles.
inline constexpr CLSID kServiceArrayClsid = com::MakeGuid("{0D2E85BE-3F93-49F3-A8D9-FE40F361C44C}");

class CQVA : public com::Dispatch<IQVA> {
 public:
  QVA_DECL_IQVA;
};

}  // namespace qva
