// The console side of remote connections: the activator behind CoCreateInstanceEx for
// CLSCTX_LOCAL_SERVER and CLSCTX_REMOTE_SERVER, and so behind the root's Connect.
//
// Where it connects:
//   - a local activation (the context lacks CLSCTX_REMOTE_SERVER, or the server name is empty):
//     the UNIX socket DefaultSocketPath() (server.h). The machine name is ignored then: the root
//     fills it from its domain argument for a local connection;
//   - otherwise TCP to the named server: "host", "host:port", "[v6addr]:port" or "\\host"; the
//     port defaults to DefaultPort().
// With an identity in the server information the connection logs in with it (auth.h); without
// one it asks for a local login, which the service grants only on its UNIX socket to its own
// user or root. A refused login is E_ACCESSDENIED; a service that cannot be reached is
// RPC_E_SERVER_UNAVAILABLE.
//
// The RPC runs on the calling thread's own kj event loop, driven only while a call waits for its
// answer: proxies are synchronous and belong to the thread that activated them.
#pragma once

#include "platform/com/objbase.h"

namespace qva::remote {

// Installs Activate as the process's out-of-process activator.
void InstallClient();

HRESULT Activate(REFCLSID clsid, DWORD context, COSERVERINFO* server, DWORD count, MULTI_QI* results);

}  // namespace qva::remote
