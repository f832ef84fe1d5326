#include "qvacom/module/catalogue.h"

#include <algorithm>
#include <array>

#include "platform/com/object.h"
#include "qvacom/module/class_table.h"

namespace qva {
namespace {

constexpr ClassEntry kCatalogue[] = {
#define QVA_CLASS(coclass, progid, script, clsid) \
  {#coclass, progid, script, com::MakeGuid(clsid), ClassObjectCreatorFor(#coclass)},
#include "qvacom/module/catalogue.def"
#undef QVA_CLASS
};

constexpr bool ScriptsAreUniqueAndOrdered() {
  for (size_t i = 1; i < std::size(kCatalogue); ++i)
    if (kCatalogue[i].script <= kCatalogue[i - 1].script) return false;
  return kCatalogue[0].script > kAppIdScript;
}
static_assert(std::size(kCatalogue) == 63, "the library registers 63 classes");
static_assert(ScriptsAreUniqueAndOrdered(), "script numbers rise in catalogue order");
static_assert(AllBuiltClassesAreCatalogued(kCatalogue), "a built class is missing from catalogue.def");

}  // namespace

std::span<const ClassEntry> Catalogue() { return kCatalogue; }

const ClassEntry* FindClass(REFCLSID clsid) {
  auto it = std::find_if(std::begin(kCatalogue), std::end(kCatalogue), [&](const ClassEntry& e) { return e.clsid == clsid; });
  return it == std::end(kCatalogue) ? nullptr : &*it;
}

const ClassEntry* FindClassByScript(int script) {
  auto it = std::find_if(std::begin(kCatalogue), std::end(kCatalogue), [&](const ClassEntry& e) { return e.script == script; });
  return it == std::end(kCatalogue) ? nullptr : &*it;
}

}  // namespace qva
