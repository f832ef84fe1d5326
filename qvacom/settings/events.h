// The events list: the most recent events of the array (time, type, text) in memory, newest
// first, at most 200; adding one more drops the oldest. Events are not kept on disk: Init and
// Save do nothing and succeed. Enumeration starts at the newest event.
#pragma once

#include "platform/com/bstr.h"
#include "qvacom/frame/item_list.h"
#include "qvacom/settings/list_item.h"
#include "qvacom_idl.h"

namespace qva {

struct EventRecord {
  DATE time = 0.0;
  LONG type = 0;
  com::Bstr content;
};

class CQVAEvent : public settings::RecordItem<IQVAEvent, EventRecord> {
 public:
  QVA_DECL_IQVAEvent;
};

class CQVAEvents : public com::Dispatch<IQVAEvents> {
 public:
  static constexpr size_t kMaxEvents = 200;
  QVA_DECL_IQVAEvents;

 private:
  ItemList<CQVAEvent> events_;  // newest first
};

}  // namespace qva
