// Hooks of the activation runtime for the layers above it.
#pragma once

#include "platform/com/objbase.h"
#include "platform/com/text.h"

namespace com {

// Answers activations outside the process (CLSCTX_LOCAL_SERVER, CLSCTX_REMOTE_SERVER). The
// remote layer installs one; without it such activations fail with REGDB_E_CLASSNOTREG, as
// for a class no local server is registered for.
using OutOfProcessActivator = HRESULT (*)(REFCLSID clsid, DWORD context, COSERVERINFO* server, DWORD count,
                                          MULTI_QI* results);
COM_CXX_API void SetOutOfProcessActivator(OutOfProcessActivator activator);

}  // namespace com
