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
// Installs `activator` unless one is installed already (a process that brings its own keeps it).
COM_CXX_API void AddOutOfProcessActivator(OutOfProcessActivator activator);
// Removes `activator` if it is the one installed (a library that installed it is being unloaded);
// another layer's activator stays.
COM_CXX_API void RemoveOutOfProcessActivator(OutOfProcessActivator activator);

}  // namespace com
