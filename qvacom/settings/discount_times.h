// The discount times: daily time windows, each with a rate, in the section "Discounts" of the
// settings document, one "DiscountItem" (attributes "StartTime", "EndTime" as "%H:%M:%S", and
// "Rate") per window. Start and end are times of day (DATEs on 1899-12-30) and are kept to the
// minute: the seconds of a stored time are dropped when it is read.
//
// Start and end together are the key. The list's members compare them as exact numbers; the
// document's elements are found by their "%H:%M:%S" texts, so an element whose stored time had
// seconds no longer matches its item, and Save gives that item a new element. Remove deletes
// the item and its element and saves the settings file at once; Add and the items' puts stay in
// memory until Save.
#pragma once

#include <string_view>

#include "qvacom/settings/list_item.h"
#include "qvacom/settings/list_xml.h"
#include "qvacom_idl.h"

namespace qva {

struct DiscountTimeRecord {
  DATE start = 0.0;
  DATE end = 0.0;
  double rate = 0.0;
};

class CQVADiscountTime : public settings::RecordItem<IQVADiscountTime, DiscountTimeRecord> {
 public:
  QVA_DECL_IQVADiscountTime;
};

struct DiscountTimesTraits {
  using Item = CQVADiscountTime;
  using R = DiscountTimeRecord;
  static constexpr std::string_view kSource = "QVA.DiscountTimes.1";
  static constexpr std::string_view kSection = "Discounts";
  static constexpr std::string_view kElement = "DiscountItem";
  static constexpr settings::Field<R> kAll[] = {settings::TimeOfDay("StartTime", &R::start),
                                                settings::TimeOfDay("EndTime", &R::end),
                                                settings::Decimal("Rate", &R::rate)};
  static constexpr std::span<const settings::Field<R>> kFields{kAll};
  static constexpr std::span<const settings::Field<R>> kSaveKey{kAll, 2};
  static constexpr std::span<const settings::Field<R>> kRemoveKey{kAll, 2};
  static constexpr bool kNewlineAfterSection = false;
};

// Item hands out the first window with exactly this start and end (E_FAIL when none), as
// Exists and Remove find it. Exists answers S_OK with 1 or 0. A window made by Add has rate 0.
class CQVADiscountTimes : public com::Dispatch<IQVADiscountTimes> {
 public:
  QVA_DECL_IQVADiscountTimes;

 private:
  settings::XmlList<DiscountTimesTraits> list_;
};

}  // namespace qva
