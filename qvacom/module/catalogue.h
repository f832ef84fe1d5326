// The class catalogue: identities, registration script numbers and class-object creators of the
// library's creatable classes, kept as data (catalogue.def) and checked by the compiler.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/com/guid.h"
#include "platform/com/text.h"
#include "platform/com/types.h"

namespace qva {

// Makes a class object and returns its interface riid (a new class object each call; the module
// caches the first). Null while the class is not available in this build.
using ClassObjectCreator = HRESULT (*)(REFIID riid, void** ppv);

struct ClassEntry {
  std::string_view coclass;  // "QVAArray"
  std::string_view progid;   // "QVA.Array.1"; empty for classes registered by CLSID alone
  int script;                // number of the registration script
  CLSID clsid;
  ClassObjectCreator create_class_object;

  // "QVAArray Class"
  std::string Description() const { return std::string(coclass) + " Class"; }
  // "QVA.Array"; empty when there is no ProgID.
  std::string_view VersionIndependentProgID() const {
    return progid.ends_with(".1") ? progid.substr(0, progid.size() - 2) : progid;
  }
};

// Every creatable class, in registration order. Exported for the tools and tests.
COM_CXX_API std::span<const ClassEntry> Catalogue();
COM_CXX_API const ClassEntry* FindClass(REFCLSID clsid);
COM_CXX_API const ClassEntry* FindClassByScript(int script);

inline constexpr GUID kAppId = com::MakeGuid("{12E92F8C-24C3-48A0-B6D5-9E9A55B8CC3D}");
inline constexpr GUID kLibId = com::MakeGuid("{CED38155-C2C4-4230-AA54-EBC3995F251E}");
inline constexpr std::string_view kAppName = "qvacom";
inline constexpr std::string_view kModuleFileName = "qvacom.DLL";
inline constexpr int kAppIdScript = 101;

}  // namespace qva
