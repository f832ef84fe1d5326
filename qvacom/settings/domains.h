// The domains list: Windows domains by name and NetBIOS name, in the section "Domains" of the
// settings document, one "DomainItem" (attributes "Name", "NetbiosName") per domain.
//
// The name is the key: Save rewrites the element whose "Name" is the domain's name (names need
// not be unique: two items of one name share the first such element, the last one written
// wins), and a renamed domain gets a new element while the old one stays. Remove deletes the
// first item and the first element of that name and saves the settings file at once; Add and
// the items' puts stay in memory until Save.
#pragma once

#include <string_view>

#include "platform/com/bstr.h"
#include "qvacom/settings/list_item.h"
#include "qvacom/settings/list_xml.h"
#include "qvacom_idl.h"

namespace qva {

struct DomainRecord {
  com::Bstr name;
  com::Bstr netbios_name;
};

class CQVADomain : public settings::RecordItem<IQVADomain, DomainRecord> {
 public:
  QVA_DECL_IQVADomain;
};

struct DomainsTraits {
  using Item = CQVADomain;
  using R = DomainRecord;
  static constexpr std::string_view kSource = "QVA.Domains.1";
  static constexpr std::string_view kSection = "Domains";
  static constexpr std::string_view kElement = "DomainItem";
  static constexpr settings::Field<R> kAll[] = {settings::Text("Name", &R::name),
                                                settings::Text("NetbiosName", &R::netbios_name)};
  static constexpr std::span<const settings::Field<R>> kFields{kAll};
  static constexpr std::span<const settings::Field<R>> kSaveKey{kAll, 1};
  static constexpr std::span<const settings::Field<R>> kRemoveKey{kAll, 1};
  static constexpr bool kNewlineAfterSection = false;
};

// Item (by name, exact multibyte comparison) fails with E_FAIL for an absent name; Exists (exact
// BSTR comparison) answers S_FALSE and 0 for an absent name, S_OK and 1 for a present one.
class CQVADomains : public com::Dispatch<IQVADomains> {
 public:
  QVA_DECL_IQVADomains;

 private:
  settings::XmlList<DomainsTraits> list_;
};

}  // namespace qva
