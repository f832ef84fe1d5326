// The classes this build implements, by coclass name, with the class object each is served by.
// A catalogue entry whose class is not listed here answers CLASS_E_CLASSNOTAVAILABLE.
#pragma once

#include <string_view>

#include "platform/com/object.h"
#include "qvacom/module/catalogue.h"
#include "qvacom/root/root.h"
#include "qvacom/accounts/computers.h"
#include "qvacom/accounts/deps.h"
#include "qvacom/accounts/fees.h"
#include "qvacom/accounts/groups.h"
#include "qvacom/accounts/limit_ips.h"
#include "qvacom/realtime/real_records.h"
#include "qvacom/realtime/real_views.h"
#include "qvacom/realtime/realtime_root.h"
#include "qvacom/settings/backups_archs.h"
#include "qvacom/settings/configure.h"
#include "qvacom/settings/discount_times.h"
#include "qvacom/settings/domains.h"
#include "qvacom/settings/element_set.h"
#include "qvacom/settings/ips.h"
#include "qvacom/settings/report_tasks.h"
#include "qvacom/settings/xml_doc.h"
#include "qvacom/storage/database.h"
// named sets: includes
#include "qvacom/policy/named_set.h"
// filter rules: includes
#include "qvacom/policy/filter_rules.h"
// array: includes
#include "qvacom/array/array.h"

namespace qva {

struct BuiltClass {
  std::string_view coclass;
  ClassObjectCreator create_class_object;
};

inline constexpr BuiltClass kBuiltClasses[] = {
    {"QVA", &com::MakeClassObject<com::SingletonClassFactory<CQVA>>},
    {"QVADeps", &com::MakeClassObject<com::ClassFactory<CQVADeps>>},
    {"QVADep", &com::MakeClassObject<com::ClassFactory<CQVADep>>},
    {"QVAGroups", &com::MakeClassObject<com::ClassFactory<CQVAGroups>>},
    {"QVAGroup", &com::MakeClassObject<com::ClassFactory<CQVAGroup>>},
    {"QVAComputers", &com::MakeClassObject<com::ClassFactory<CQVAComputers>>},
    {"QVAComputer", &com::MakeClassObject<com::ClassFactory<CQVAComputer>>},
    {"QVAFees", &com::MakeClassObject<com::ClassFactory<CQVAFees>>},
    {"QVAFee", &com::MakeClassObject<com::ClassFactory<CQVAFee>>},
    {"QVALimitIPs", &com::MakeClassObject<com::ClassFactory<CQVALimitIPs>>},
    {"QVALimitIP", &com::MakeClassObject<com::ClassFactory<CQVALimitIP>>},
    {"QVARealTraffic", &com::MakeClassObject<com::ClassFactory<CQVARealTraffic>>},
    {"QVARealTime", &com::MakeClassObject<com::ClassFactory<CQVARealTime>>},
    {"QVARealTraffics", &com::MakeClassObject<com::ClassFactory<CQVARealTraffics>>},
    {"QVARealUser", &com::MakeClassObject<com::ClassFactory<CQVARealUser>>},
    {"QVARealUsers", &com::MakeClassObject<com::ClassFactory<CQVARealUsers>>},
    {"QVARealWarn", &com::MakeClassObject<com::ClassFactory<CQVARealWarn>>},
    {"QVARealWarns", &com::MakeClassObject<com::ClassFactory<CQVARealWarns>>},
    {"QVARealFile", &com::MakeClassObject<com::ClassFactory<CQVARealFile>>},
    {"QVARealFiles", &com::MakeClassObject<com::ClassFactory<CQVARealFiles>>},
    {"QVARealBlock", &com::MakeClassObject<com::ClassFactory<CQVARealBlock>>},
    {"QVARealBlocks", &com::MakeClassObject<com::ClassFactory<CQVARealBlocks>>},
    {"QVADataBase", &com::MakeClassObject<com::ClassFactory<CQVADataBase>>},
    {"QVADiscountTime", &com::MakeClassObject<com::ClassFactory<CQVADiscountTime>>},
    {"QVADiscountTimes", &com::MakeClassObject<com::ClassFactory<CQVADiscountTimes>>},
    {"QVADomain", &com::MakeClassObject<com::ClassFactory<CQVADomain>>},
    {"QVADomains", &com::MakeClassObject<com::ClassFactory<CQVADomains>>},
    {"QVAXMLDoc", &com::MakeClassObject<com::ClassFactory<CQVAXMLDoc>>},
    {"QVAElementSet", &com::MakeClassObject<com::ClassFactory<CQVAElementSet>>},
    {"QVAElements", &com::MakeClassObject<com::ClassFactory<CQVAElements>>},
    {"QVAElement", &com::MakeClassObject<com::ClassFactory<CQVAElement>>},
    {"QVAConfigure", &com::MakeClassObject<com::ClassFactory<CQVAConfigure>>},
    {"QVABackups", &com::MakeClassObject<com::ClassFactory<CQVABackups>>},
    {"QVABackup", &com::MakeClassObject<com::ClassFactory<CQVABackup>>},
    {"QVAArch", &com::MakeClassObject<com::ClassFactory<CQVAArch>>},
    {"QVAArchs", &com::MakeClassObject<com::ClassFactory<CQVAArchs>>},
    {"QVAReportTask", &com::MakeClassObject<com::ClassFactory<CQVAReportTask>>},
    {"QVAReportTasks", &com::MakeClassObject<com::ClassFactory<CQVAReportTasks>>},
    {"QVAIP", &com::MakeClassObject<com::ClassFactory<CQVAIP>>},
    {"QVAIPs", &com::MakeClassObject<com::ClassFactory<CQVAIPs>>},
    {"QVARealMalware", &com::MakeClassObject<com::ClassFactory<CQVARealMalware>>},
    {"QVARealMalwares", &com::MakeClassObject<com::ClassFactory<CQVARealMalwares>>},
    {"QVARealNIS", &com::MakeClassObject<com::ClassFactory<CQVARealNIS>>},
    {"QVARealNISs", &com::MakeClassObject<com::ClassFactory<CQVARealNISs>>},
    // named sets: classes
    {"QVAApplication", &com::MakeClassObject<com::ClassFactory<CQVAApplication>>},
    {"QVAApplications", &com::MakeClassObject<com::ClassFactory<CQVAApplications>>},
    {"QVAProtocol", &com::MakeClassObject<com::ClassFactory<CQVAProtocol>>},
    {"QVAProtocols", &com::MakeClassObject<com::ClassFactory<CQVAProtocols>>},
    {"QVAPort", &com::MakeClassObject<com::ClassFactory<CQVAPort>>},
    {"QVAPorts", &com::MakeClassObject<com::ClassFactory<CQVAPorts>>},
    {"QVAFiletype", &com::MakeClassObject<com::ClassFactory<CQVAFiletype>>},
    {"QVAFiletypes", &com::MakeClassObject<com::ClassFactory<CQVAFiletypes>>},
    {"QVADestaddr", &com::MakeClassObject<com::ClassFactory<CQVADestaddr>>},
    {"QVADestaddrs", &com::MakeClassObject<com::ClassFactory<CQVADestaddrs>>},
    {"QVACategory", &com::MakeClassObject<com::ClassFactory<CQVACategory>>},
    {"QVACategories", &com::MakeClassObject<com::ClassFactory<CQVACategories>>},
    {"QVARule", &com::MakeClassObject<com::ClassFactory<CQVARule>>},
    {"QVARules", &com::MakeClassObject<com::ClassFactory<CQVARules>>},
    {"QVAThreat", &com::MakeClassObject<com::ClassFactory<CQVAThreat>>},
    {"QVAThreats", &com::MakeClassObject<com::ClassFactory<CQVAThreats>>},
    {"QVASignature", &com::MakeClassObject<com::ClassFactory<CQVASignature>>},
    {"QVASignatures", &com::MakeClassObject<com::ClassFactory<CQVASignatures>>},
    // filter rules: classes
    // array: classes
    {"QVAArray", &com::MakeClassObject<com::ClassFactory<CQVAArray>>},
};

// Classes that are not creatable by clients (the catalogue does not list them, so no client
// reaches their class objects) but that the library makes for itself by name: the array makes
// its filter rule set through here like its other children.
inline constexpr BuiltClass kInternalClasses[] = {
    {"QVAFilterRuleSet", &com::MakeClassObject<com::ClassFactory<CQVAFilterRuleSet>>},
    {"QVAFilterRules", &com::MakeClassObject<com::ClassFactory<CQVAFilterRules>>},
    {"QVAFilterRule", &com::MakeClassObject<com::ClassFactory<CQVAFilterRule>>},
};

// The class object maker of a built or internal class, by coclass name; null for any other.
constexpr ClassObjectCreator ClassObjectCreatorFor(std::string_view coclass) {
  for (const BuiltClass& b : kBuiltClasses)
    if (b.coclass == coclass) return b.create_class_object;
  for (const BuiltClass& b : kInternalClasses)
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
