// Discount times: kept to the minute, found in the document by their time texts, removed from
// memory and file at once.
#include "qvacom/settings/discount_times.h"

#include <gtest/gtest.h>

#include "platform/com/date.h"
#include "tests/settings/list_fixture.h"

namespace qva {
namespace {

using testing::Make;
using testing::Occurrences;
using testing::SettingsXml;

DATE At(int hour, int minute, int second = 0) { return *com::CivilToDate({1899, 12, 30, hour, minute, second}); }

class DiscountTimesTest : public testing::SettingsFileTest {
 protected:
  com::ComPtr<CQVADiscountTimes> Load(const std::string& items) {
    wrapper_ = Open(SettingsXml("<Discounts>" + items + "</Discounts>"));
    auto list = Make<CQVADiscountTimes>();
    EXPECT_EQ(list->Init(wrapper_.get()), S_OK) << testing::ErrorDescription();
    return list;
  }
  com::ComPtr<CQVAXMLDoc> wrapper_;
};

constexpr char kMorning[] = R"(<DiscountItem StartTime="08:30:00" EndTime="12:00:00" Rate="0.5"/>)";

TEST_F(DiscountTimesTest, SecondsOfAStoredTimeAreDroppedSoSaveWritesANewElement) {
  auto list = Load(R"(<DiscountItem StartTime="08:30:45" EndTime="12:00:59" Rate="0.5"/>)");
  com::ComPtr<IQVADiscountTime> item;
  ASSERT_EQ(list->Item(At(8, 30), At(12, 0), item.put()), S_OK);
  double rate = 0;
  EXPECT_EQ(item->get_Rate(&rate), S_OK);
  EXPECT_EQ(rate, 0.5);

  ASSERT_EQ(list->Save(), S_OK);
  const std::string file = FileText();
  EXPECT_EQ(Occurrences(file, R"(StartTime="08:30:45" EndTime="12:00:59")"), 1u) << "the old element stays";
  EXPECT_EQ(Occurrences(file, R"(<DiscountItem StartTime="08:30:00" EndTime="12:00:00" Rate="0.5"/>)"), 1u);
}

TEST_F(DiscountTimesTest, ExistsAndItemCompareStartAndEndExactly) {
  auto list = Load(kMorning);
  struct Case {
    DATE start, end;
    VARIANT_BOOL exists;
  } cases[] = {
      {At(8, 30), At(12, 0), 1},
      {At(8, 30, 1), At(12, 0), 0},
      {At(8, 30), At(12, 0, 1), 0},
      {At(12, 0), At(8, 30), 0},
  };
  for (const Case& c : cases) {
    VARIANT_BOOL exists = -7;
    EXPECT_EQ(list->Exists(c.start, c.end, &exists), S_OK);
    EXPECT_EQ(exists, c.exists) << c.start << " " << c.end;
    com::ComPtr<IQVADiscountTime> item;
    EXPECT_EQ(list->Item(c.start, c.end, item.put()), c.exists ? S_OK : E_FAIL);
    EXPECT_EQ(static_cast<bool>(item), c.exists == 1);
  }
}

TEST_F(DiscountTimesTest, RemoveDeletesTheItemAndItsElementAndSavesTheFileAtOnce) {
  auto list = Load(std::string(kMorning) + R"(<DiscountItem StartTime="22:00:00" EndTime="23:00:00" Rate="0.2"/>)");
  ASSERT_EQ(list->Remove(At(8, 30), At(12, 0)), S_OK);

  LONG count = 0;
  EXPECT_EQ(list->get_Count(&count), S_OK);
  EXPECT_EQ(count, 1);
  const std::string file = FileText();
  EXPECT_EQ(Occurrences(file, "08:30:00"), 0u);
  EXPECT_EQ(Occurrences(file, R"(StartTime="22:00:00")"), 1u);
}

TEST_F(DiscountTimesTest, AddStaysInMemoryUntilSaveWithRateZero) {
  auto list = Load("");
  com::ComPtr<IQVADiscountTime> added;
  ASSERT_EQ(list->Add(At(1, 0), At(2, 0), added.put()), S_OK);
  double rate = -1;
  EXPECT_EQ(added->get_Rate(&rate), S_OK);
  EXPECT_EQ(rate, 0.0);
  EXPECT_EQ(Occurrences(FileText(), "DiscountItem"), 0u);

  ASSERT_EQ(added->put_Rate(0.75), S_OK);
  ASSERT_EQ(list->Save(), S_OK);
  EXPECT_EQ(Occurrences(FileText(), R"(<DiscountItem StartTime="01:00:00" EndTime="02:00:00" Rate="0.75"/>)"), 1u);
}

TEST_F(DiscountTimesTest, IndexAndEnumerationFollowDocumentThenAddOrder) {
  auto list = Load(kMorning);
  com::ComPtr<IQVADiscountTime> added, first, second, beyond;
  ASSERT_EQ(list->Add(At(1, 0), At(2, 0), added.put()), S_OK);
  EXPECT_EQ(list->Index(com::Variant::I4(0), first.put()), S_OK);
  EXPECT_EQ(list->Index(com::Variant::Str("1"), second.put()), S_OK);
  EXPECT_EQ(list->Index(com::Variant::I4(2), beyond.put()), E_INVALIDARG);
  DATE start = 0;
  first->get_StartTime(&start);
  EXPECT_EQ(start, At(8, 30));
  EXPECT_EQ(second.get(), added.get());

  com::ComPtr<IUnknown> unknown;
  ASSERT_EQ(list->get__NewEnum(unknown.put()), S_OK);
  com::ComPtr<IEnumVARIANT> items;
  ASSERT_EQ(unknown.As(&items), S_OK);
  com::Variant v[3];
  ULONG fetched = 0;
  EXPECT_EQ(items->Next(3, v, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 2u);
  EXPECT_EQ(v[1].pdispVal, static_cast<IDispatch*>(added.get()));
}

}  // namespace
}  // namespace qva
