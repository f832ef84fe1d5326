// The events list keeps the newest 200 events, newest first.
#include "qvacom/settings/events.h"

#include <gtest/gtest.h>

#include "tests/settings/list_fixture.h"

namespace qva {
namespace {

std::vector<LONG> Types(CQVAEvents* events) {
  com::ComPtr<IUnknown> unknown;
  EXPECT_EQ(events->get__NewEnum(unknown.put()), S_OK);
  com::ComPtr<IEnumVARIANT> items;
  EXPECT_EQ(unknown.As(&items), S_OK);
  std::vector<LONG> types;
  com::Variant v;
  while (items->Next(1, v.put(), nullptr) == S_OK) {
    com::ComPtr<IQVAEvent> event;
    EXPECT_EQ(v.pdispVal->QueryInterface(IID_IQVAEvent, event.put_void()), S_OK);
    LONG type = -1;
    event->get_Type(&type);
    types.push_back(type);
  }
  return types;
}

TEST(EventsTest, KeepsTheNewest200NewestFirst) {
  auto events = testing::Make<CQVAEvents>();
  for (LONG i = 0; i < 201; ++i) ASSERT_EQ(events->Add(45000.0 + i, com::Bstr("event").get(), i), S_OK);
  LONG count = 0;
  EXPECT_EQ(events->get_Count(&count), S_OK);
  EXPECT_EQ(count, 200);
  const std::vector<LONG> types = Types(events.get());
  ASSERT_EQ(types.size(), 200u);
  EXPECT_EQ(types.front(), 200);
  EXPECT_EQ(types.back(), 1) << "the first event added is gone";

  ASSERT_EQ(events->RemoveAll(), S_OK);
  EXPECT_EQ(events->get_Count(&count), S_OK);
  EXPECT_EQ(count, 0);
}

TEST(EventsTest, AnEventKeepsWhatWasAdded) {
  auto events = testing::Make<CQVAEvents>();
  ASSERT_EQ(events->Add(45292.5, com::Bstr("Backup written — ok").get(), 3), S_OK);
  com::ComPtr<IUnknown> unknown;
  ASSERT_EQ(events->get__NewEnum(unknown.put()), S_OK);
  com::ComPtr<IEnumVARIANT> items;
  ASSERT_EQ(unknown.As(&items), S_OK);
  com::Variant v;
  ASSERT_EQ(items->Next(1, v.put(), nullptr), S_OK);
  com::ComPtr<IQVAEvent> event;
  ASSERT_EQ(v.pdispVal->QueryInterface(IID_IQVAEvent, event.put_void()), S_OK);
  DATE time = 0;
  com::Bstr content;
  event->get_Time(&time);
  event->get_Content(content.put());
  EXPECT_EQ(time, 45292.5);
  EXPECT_EQ(content.utf8(), "Backup written — ok");
}

}  // namespace
}  // namespace qva
