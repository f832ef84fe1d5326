// The IP list: IPv4 address ranges, each with a small number, in the section "IPs" of the
// settings document, one "IP" (attributes "Num", "StartIP", "EndIP") per range. Each range also
// carries the address numbers of its two ends (a.b.c.d is a * 1000000 + b * 1000 + c + d * 0.001,
// see frame/address.h), derived when a range is loaded or added; a text that is not an address
// has no number and gets NaN, which lies in no range and before or after no address.
//
// A range is found by its two address texts, compared exactly and separately (a joined key text
// would take the range 1.1.1.1 - 11.1.1.1 for 1.1.1.11 - 1.1.1.1). Save finds each range's
// element by its number and rewrites it, or appends a new one; elements of no range stay; the
// settings file is then saved. Add and Remove change only memory and the in-memory document:
// Remove deletes the range's element at once, but the file keeps it until the next save.
#pragma once

#include <string_view>

#include "platform/com/bstr.h"
#include "qvacom/settings/list_item.h"
#include "qvacom/settings/list_xml.h"
#include "qvacom_idl.h"

namespace qva {

struct IPRecord {
  com::Bstr start;
  com::Bstr end;
  LONG num = 0;
  double db_start = 0.0;
  double db_end = 0.0;
};

class CQVAIP : public settings::RecordItem<IQVAIP, IPRecord> {
 public:
  QVA_DECL_IQVAIP;
};

struct IPsTraits {
  using Item = CQVAIP;
  using R = IPRecord;
  static constexpr std::string_view kSource = "QVA.IPs.1";
  static constexpr std::string_view kSection = "IPs";
  static constexpr std::string_view kElement = "IP";
  static constexpr settings::Field<R> kAll[] = {settings::Integer("Num", &R::num), settings::Text("StartIP", &R::start),
                                                settings::Text("EndIP", &R::end)};
  static constexpr std::span<const settings::Field<R>> kFields{kAll};
  static constexpr std::span<const settings::Field<R>> kSaveKey{kAll, 1};
  static constexpr std::span<const settings::Field<R>> kRemoveKey{kAll + 1, 2};
  static constexpr bool kNewlineAfterSection = true;
  // Sets the address numbers from the address texts.
  static void Derive(R& r);
};

// Add numbers the new range with the smallest non-negative number no range has and refuses
// (E_INVALIDARG) a text that is not an IPv4 address. Item is E_FAIL for an absent range;
// Exists answers S_OK with 1 or 0.
class CQVAIPs : public com::Dispatch<IQVAIPs> {
 public:
  QVA_DECL_IQVAIPs;

 private:
  settings::XmlList<IPsTraits> list_;
};

}  // namespace qva
