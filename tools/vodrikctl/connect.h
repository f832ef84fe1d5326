// Reaching the array object: the running service's own array (local or on another machine,
// through the root object's Connect), or an in-process array over a stopped service's folder.
#pragma once

#include <string>

#include "platform/com/com_ptr.h"
#include "qvacom_idl.h"

namespace vodrikctl {

struct ConnectOptions {
  std::string server;  // empty: the service on this machine
  std::string user;    // empty (with domain): log in as this process's own user
  std::string domain;
  std::string password_file;  // first line is the password; else a no-echo prompt on a terminal
  std::string offline;        // a base folder: in-process array, the service must be stopped
};

// Exit code for a base folder that does not exist or holds no settings (EX_NOINPUT).
inline constexpr HRESULT kNoBaseFolder = static_cast<HRESULT>(0x80070003);  // ERROR_PATH_NOT_FOUND

// The array, or throws Failure (or UsageError when a password is needed and cannot be asked
// for). Needs an apartment on the calling thread; the array belongs to it.
//
// Online, the library is loaded from this program's folder only to make the root object; nothing
// is registered. Offline, the array is made as the service makes it (through the class
// registry: the library and the two outside components are registered from this program's
// folder when the registry names none), with $QVA_BASE_FOLDER set to the folder, then Init.
com::ComPtr<IQVAArray> Connect(const ConnectOptions& options);

}  // namespace vodrikctl
