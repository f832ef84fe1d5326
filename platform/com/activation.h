// Hooks of the activation runtime for the layers above it.
#pragma once

#include <string>

#include "platform/com/objbase.h"
#include "platform/com/text.h"

namespace com {

// Registers the in-process server file `library` through its DllRegisterServer, unless the
// registry already names an existing server file for `clsid`. The library stays loaded (a later
// activation finds it by the same path). S_FALSE when nothing had to be done; a failure sets error
// information naming the file.
COM_CXX_API HRESULT RegisterServerIfAbsent(const std::string& library, REFCLSID clsid);

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
