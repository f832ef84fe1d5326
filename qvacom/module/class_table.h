// The classes this build implements, by coclass name, with the class object each is served by.
// A catalogue entry whose class is not listed here answers CLASS_E_CLASSNOTAVAILABLE.
#pragma once

#include <string_view>

#include "platform/com/object.h"
#include "qvacom/module/catalogue.h"
#include "qvacom/root/root.h"

namespace qva {

struct BuiltClass {
  std::string_view coclass;
  ClassObjectCreator create_class_object;
};

inline constexpr BuiltClass kBuiltClasses[] = {
    {"QVA", &com::MakeClassObject<com::SingletonClassFactory<CQVA>>},
};

constexpr ClassObjectCreator ClassObjectCreatorFor(std::string_view coclass) {
  for (const BuiltClass& b : kBuiltClasses)
    if (b.coclass == coclass) return b.create_class_object;
  return nullptr;
}

template <size_t N>
constexpr bool AllBuiltClassesAreCatalogued(const ClassEntry (&catalogue)[N]) {
  for (const BuiltClass& b : kBuiltClasses) {
    bool found = false;
    for (const ClassEntry& e : catalogue) found = found || e.coclass == b.coclass;
    if (!found) return false;
  }
  return true;
}

}  // namespace qva
