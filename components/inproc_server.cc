#include "components/inproc_server.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <map>

#include "platform/com/guid.h"
#include "platform/com/registrar.h"
#include "platform/com/registry.h"

namespace vodrik {

std::string ThisLibraryPath() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ThisLibraryPath), &info) || !info.dli_fname) return {};
  char resolved[PATH_MAX];
  return realpath(info.dli_fname, resolved) ? std::string(resolved) : std::string(info.dli_fname);
}

HRESULT RegisterInprocClass(REFCLSID clsid, std::string_view description, bool do_register) {
  const std::string module = ThisLibraryPath();
  if (module.empty()) return E_UNEXPECTED;
  // CLSID and description are replacements too: the registrar inserts them as single tokens, so
  // nothing in them can change the script's structure.
  const std::map<std::string, std::string> replacements = {
      {"MODULE", module},
      {"CLSID", com::GuidToString(clsid)},
      {"DESCRIPTION", std::string(description)},
  };
  static constexpr std::string_view kScript = R"(HKCR
{
  NoRemove CLSID
  {
    ForceRemove %CLSID% = s '%DESCRIPTION%'
    {
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Apartment'
      }
    }
  }
}
)";
  return com::Registry::Shared().Edit(
      [&](com::RegistryKey& root) { return com::ApplyRegistrationScript(root, kScript, replacements, do_register); });
}

}  // namespace vodrik
