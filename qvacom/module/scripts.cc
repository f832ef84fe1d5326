#include "qvacom/module/scripts.h"

#include "platform/com/guid.h"
#include "qvacom/module/catalogue.h"

namespace qva {
namespace {

std::string AppIdScript() {
  return "HKCR\n"
         "{\n"
         "\tNoRemove AppID\n"
         "\t{\n"
         "\t\t'%APPID%' = s '" + std::string(kAppName) + "'\n"
         "\t\t'" + std::string(kModuleFileName) + "'\n"
         "\t\t{\n"
         "\t\t\tval AppID = s '%APPID%'\n"
         "\t\t}\n"
         "\t}\n"
         "}\n";
}

// A class with a ProgID: both ProgIDs, and the CLSID key with its server, ProgIDs, application
// identifier and type library.
std::string ProgIdClassScript(const ClassEntry& e) {
  const std::string clsid = com::GuidToString(e.clsid), desc = e.Description(), libid = com::GuidToString(kLibId);
  const std::string progid(e.progid), indep(e.VersionIndependentProgID());
  return "HKCR\n"
         "{\n"
         "\t'" + progid + "' = s '" + desc + "'\n"
         "\t{\n"
         "\t\tCLSID = s '" + clsid + "'\n"
         "\t}\n"
         "\t'" + indep + "' = s '" + desc + "'\n"
         "\t{\n"
         "\t\tCLSID = s '" + clsid + "'\n"
         "\t\tCurVer = s '" + progid + "'\n"
         "\t}\n"
         "\tNoRemove CLSID\n"
         "\t{\n"
         "\t\tForceRemove " + clsid + " = s '" + desc + "'\n"
         "\t\t{\n"
         "\t\t\tProgID = s '" + progid + "'\n"
         "\t\t\tVersionIndependentProgID = s '" + indep + "'\n"
         "\t\t\tForceRemove Programmable\n"
         "\t\t\tInprocServer32 = s '%MODULE%'\n"
         "\t\t\t{\n"
         "\t\t\t\tval ThreadingModel = s 'Apartment'\n"
         "\t\t\t}\n"
         "\t\t\tval AppID = s '%APPID%'\n"
         "\t\t\tTypeLib = s '" + libid + "'\n"
         "\t\t}\n"
         "\t}\n"
         "}\n";
}

// A class registered by CLSID alone: no ProgID and no application identifier, but a version.
std::string ClsidOnlyClassScript(const ClassEntry& e) {
  const std::string clsid = com::GuidToString(e.clsid), libid = com::GuidToString(kLibId);
  return "HKCR\n"
         "{\n"
         "\tNoRemove CLSID\n"
         "\t{\n"
         "\t\tForceRemove " + clsid + " = s '" + e.Description() + "'\n"
         "\t\t{\n"
         "\t\t\tForceRemove Programmable\n"
         "\t\t\tInprocServer32 = s '%MODULE%'\n"
         "\t\t\t{\n"
         "\t\t\t\tval ThreadingModel = s 'Apartment'\n"
         "\t\t\t}\n"
         "\t\t\tTypeLib = s '" + libid + "'\n"
         "\t\t\tVersion = s '1.0'\n"
         "\t\t}\n"
         "\t}\n"
         "}\n";
}

}  // namespace

std::optional<std::string> RegistrationScript(int number) {
  if (number == kAppIdScript) return AppIdScript();
  const ClassEntry* e = FindClassByScript(number);
  if (!e) return std::nullopt;
  return e->progid.empty() ? ClsidOnlyClassScript(*e) : ProgIdClassScript(*e);
}

}  // namespace qva
