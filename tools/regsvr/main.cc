// regsvr: registers or unregisters an in-process server library in the class registry.
//
//   regsvr [-u] [-q] LIBRARY...
//   regsvr --list
//
// Loads each library, calls its DllRegisterServer (or DllUnregisterServer with -u) and reports
// the outcome. Exit code 0 when every library succeeded, 1 on usage errors, 3 when a library
// cannot be loaded, 4 when it lacks the entry point, 5 when the entry point fails.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/registry.h"
#include "platform/com/types.h"

namespace {

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: regsvr [-u] [-q] LIBRARY...\n"
               "       regsvr --list\n"
               "  Registers each in-process server LIBRARY in the class registry.\n"
               "  -u      unregister instead\n"
               "  -q      quiet: print only failures\n"
               "  --list  print the registered classes: CLSID, ProgID, description, server\n"
               "The registry file is $QVA_REGISTRY when set (currently %s).\n",
               com::Registry::DefaultPath().c_str());
}

std::string ErrorText(HRESULT hr) {
  IErrorInfo* info = nullptr;
  std::string text;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    com::Bstr description;
    info->GetDescription(description.put());
    text = description.utf8();
    info->Release();
  }
  if (text.empty() && HRESULT_FACILITY(hr) == FACILITY_WIN32) text = std::strerror(static_cast<int>(HRESULT_CODE(hr)));
  return text;
}

int Run(const std::string& library, bool unregister, bool quiet) {
  char resolved[PATH_MAX];
  const std::string path = realpath(library.c_str(), resolved) ? resolved : library;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "regsvr: cannot load %s: %s\n", library.c_str(), dlerror());
    return 3;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto fn = reinterpret_cast<HRESULT (*)()>(dlsym(handle, entry));
  if (!fn) {
    std::fprintf(stderr, "regsvr: %s was loaded, but the entry point %s was not found.\n", library.c_str(), entry);
    dlclose(handle);
    return 4;
  }
  const HRESULT hr = fn();
  int rc = 0;
  if (FAILED(hr)) {
    const std::string text = ErrorText(hr);
    std::fprintf(stderr, "regsvr: %s in %s failed with code 0x%08X%s%s\n", entry, library.c_str(),
                 static_cast<unsigned>(hr), text.empty() ? "." : ": ", text.c_str());
    rc = 5;
  } else if (!quiet) {
    std::printf("%s in %s succeeded.\n", entry, path.c_str());
  }
  // The library is not unloaded: its static objects may still be referenced by the runtime.
  return rc;
}

// Prints every class of the registry, one per line, in CLSID order.
int List() {
  auto tree = com::Registry::Shared().Read();
  if (!tree) {
    std::fprintf(stderr, "regsvr: cannot read %s: code 0x%08X\n", com::Registry::DefaultPath().c_str(),
                 static_cast<unsigned>(tree.error()));
    return 3;
  }
  const com::RegistryKey* clsids = (*tree)->Find("CLSID");
  if (!clsids) return 0;
  auto text = [](const com::RegistryKey* k) { return k && k->GetDefault() ? *k->GetDefault() : std::string(); };
  for (const com::RegistryKey* cls : clsids->SubKeys()) {
    const std::string progid = text(cls->Find("ProgID"));
    std::printf("%s  %-22s %-26s %s\n", cls->name().c_str(), progid.empty() ? "-" : progid.c_str(),
                text(cls).c_str(), text(cls->Find("InprocServer32")).c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false, quiet = false;
  std::vector<std::string> libraries;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-u" || arg == "--unregister") {
      unregister = true;
    } else if (arg == "-q" || arg == "--quiet") {
      quiet = true;
    } else if (arg == "--list") {
      return List();
    } else if (arg == "-h" || arg == "--help") {
      Usage(stdout);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "regsvr: unknown option %s\n", arg.c_str());
      Usage(stderr);
      return 1;
    } else {
      libraries.push_back(arg);
    }
  }
  if (libraries.empty()) {
    Usage(stderr);
    return 1;
  }
  int rc = 0;
  for (const std::string& lib : libraries) {
    const int r = Run(lib, unregister, quiet);
    if (r != 0 && rc == 0) rc = r;
  }
  return rc;
}
