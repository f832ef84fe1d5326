// Departments and groups: the shared collection contract, and what directory accounts do of their
// own (names kept as stored, ordered by name, the directory binding written once, the member
// defaults, the display name in memory only, the XML layout), run for both kinds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvacom/accounts/deps.h"
#include "qvacom/accounts/groups.h"
#include "tests/accounts/collection_contract.h"

namespace qva::testing {

template <class Collection_, class Interface_, class Item_>
struct DirectoryKind {
  using Collection = Collection_;
  using Interface = Interface_;
  using Item = Item_;
  static constexpr HRESULT kAbsent = S_OK;
  static std::string Held(std::string_view name) { return std::string(name); }
};
struct DepsKind : DirectoryKind<CQVADeps, IQVADeps, IQVADep> {
  static constexpr const char* kTable = "Deps";
  static constexpr const char* kSection = "Deps";
  static constexpr const char* kElement = "Dep";
};
struct GroupsKind : DirectoryKind<CQVAGroups, IQVAGroups, IQVAGroup> {
  static constexpr const char* kTable = "Groups";
  static constexpr const char* kSection = "Groups";
  static constexpr const char* kElement = "Group";
};

// Groups has no identity column to give the insertion order by: the row order is SQLite's rowid.
template <>
std::vector<std::string> CollectionContract<GroupsKind>::StoredNames() {
  return db_.Column("SELECT Name FROM Groups ORDER BY rowid", "Name");
}

INSTANTIATE_TYPED_TEST_SUITE_P(Deps, CollectionContract, DepsKind);
INSTANTIATE_TYPED_TEST_SUITE_P(Groups, CollectionContract, GroupsKind);

namespace {

template <class Kind>
class DirectoryTest : public CollectionContract<Kind> {
 protected:
  template <class I>
  static std::string Text(I* item, HRESULT (STDMETHODCALLTYPE I::*get)(BSTR*)) {
    com::Bstr text;
    EXPECT_EQ((item->*get)(text.put()), S_OK);
    return text.utf8();
  }
};

using DirectoryKinds = ::testing::Types<DepsKind, GroupsKind>;
TYPED_TEST_SUITE(DirectoryTest, DirectoryKinds);

TYPED_TEST(DirectoryTest, LoadKeepsNamesOrdersByNameAndDefaultsRemarks) {
  using Item = typename TypeParam::Item;
  for (const char* row : {"'Lab', ''", "'annex', NULL", "'Desk', 'front'", "'Café', ' '"})
    this->db_.Run(std::string("INSERT INTO ") + TypeParam::kTable + "(Name, Remarks) VALUES(" + row + ")");
  auto groups = this->Load(this->db_);
  // Index 0 is the first name in the database's collation, which ignores letter case.
  EXPECT_EQ(this->Names(groups.get()), (std::vector<std::string>{"annex", "Café", "Desk", "Lab"}));
  struct Case {
    const char* name;
    const char* remarks;
  } cases[] = {{"Lab", "Lab"}, {"annex", "annex"}, {"Desk", "front"}, {"Café", " "}};
  for (const Case& c : cases) {
    com::ComPtr<Item> group;
    ASSERT_EQ(groups->Item(com::Variant::Str(c.name), group.put()), S_OK) << c.name;
    EXPECT_EQ(this->Text(group.get(), &Item::get_Remarks), c.remarks);
  }
}

// The directory binding is written by the INSERT only; the member defaults and DateLimit by both
// statements; the display name by neither.
TYPED_TEST(DirectoryTest, SaveWritesTheBindingOnceAndTheDefaultsAlways) {
  using Item = typename TypeParam::Item;
  auto groups = this->Load(this->db_);
  com::ComPtr<Item> group;
  EXPECT_EQ(groups->Add(com::Bstr("Lab").get(), group.put()), S_OK);
  EXPECT_EQ(group->put_AdsType(3), S_OK);
  EXPECT_EQ(group->put_AdsPath(com::Bstr("LDAP://first").get()), S_OK);
  EXPECT_EQ(group->put_TimeLimitDefault(1.234), S_OK);
  EXPECT_EQ(group->put_DisplayName(com::Bstr("Lab room").get()), S_OK);
  EXPECT_EQ(group->Save(VARIANT_TRUE), S_OK);

  EXPECT_EQ(group->put_AdsType(4), S_OK);
  EXPECT_EQ(group->put_AdsPath(com::Bstr("LDAP://second").get()), S_OK);
  EXPECT_EQ(group->put_TimeLimitDefault(7.5), S_OK);
  EXPECT_EQ(group->put_DateLimitDefault(At(2030, 1, 2)), S_OK);
  EXPECT_EQ(group->put_DateLimit(At(2031, 3, 4)), S_OK);
  EXPECT_EQ(group->Save(VARIANT_FALSE), S_OK);

  auto again = this->Load(this->db_);
  com::ComPtr<Item> stored;
  ASSERT_EQ(again->Item(com::Variant::Str("Lab"), stored.put()), S_OK);
  LONG ads_type = 0;
  double limit = 0;
  DATE default_date = 0, date_limit = 0;
  EXPECT_EQ(stored->get_AdsType(&ads_type), S_OK);
  EXPECT_EQ(ads_type, 3);
  EXPECT_EQ(this->Text(stored.get(), &Item::get_AdsPath), "LDAP://first");
  EXPECT_EQ(stored->get_TimeLimitDefault(&limit), S_OK);
  EXPECT_EQ(limit, 7.5);
  EXPECT_EQ(stored->get_DateLimitDefault(&default_date), S_OK);
  EXPECT_EQ(default_date, At(2030, 1, 2));
  EXPECT_EQ(stored->get_DateLimit(&date_limit), S_OK);
  EXPECT_EQ(date_limit, At(2031, 3, 4));
  EXPECT_EQ(this->Text(stored.get(), &Item::get_DisplayName), "");
  EXPECT_EQ(this->Text(group.get(), &Item::get_DisplayName), "Lab room");
}

// A group renamed in memory updates no row: the UPDATE finds its row by the name held now.
TYPED_TEST(DirectoryTest, SaveAfterARenameUpdatesNoRow) {
  using Item = typename TypeParam::Item;
  this->db_.Run(std::string("INSERT INTO ") + TypeParam::kTable + "(Name, TimeLimit) VALUES('Lab', 1)");
  auto groups = this->Load(this->db_);
  com::ComPtr<Item> group;
  ASSERT_EQ(groups->Item(com::Variant::Str("Lab"), group.put()), S_OK);
  EXPECT_EQ(group->put_Name(com::Bstr("Lab2").get()), S_OK);
  EXPECT_EQ(group->put_TimeLimit(5), S_OK);
  EXPECT_EQ(group->Save(VARIANT_FALSE), S_OK);
  EXPECT_EQ(this->db_.Column(std::string("SELECT Name, TimeLimit FROM ") + TypeParam::kTable, "Name"), (std::vector<std::string>{"Lab"}));
  EXPECT_EQ(this->db_.Column(std::string("SELECT Name, TimeLimit FROM ") + TypeParam::kTable, "TimeLimit"), (std::vector<std::string>{"1"}));
}

// Reload keeps Enable, EnableDate and the display name, and refreshes the binding and defaults.
TYPED_TEST(DirectoryTest, ReloadRefreshesTheDefaultsAndKeepsTheDisplayName) {
  using Item = typename TypeParam::Item;
  this->db_.Run(std::string("INSERT INTO ") + TypeParam::kTable + "(Name, AdsType, Enable, TimeLimitDefault) VALUES('Lab', 1, -1, 1)");
  auto groups = this->Load(this->db_);
  com::ComPtr<Item> group;
  ASSERT_EQ(groups->Item(com::Variant::Str("Lab"), group.put()), S_OK);
  EXPECT_EQ(group->put_DisplayName(com::Bstr("shown").get()), S_OK);
  this->db_.Run(std::string("UPDATE ") + TypeParam::kTable + " SET AdsType = 2, Enable = 0, TimeLimitDefault = 2, FeeByTime = 0.5 WHERE Name = 'Lab'");
  EXPECT_EQ(groups->Reload(), S_OK);
  VARIANT_BOOL enable = 0;
  LONG ads_type = 0;
  double limit = 0, fee = 0;
  EXPECT_EQ(group->get_Enable(&enable), S_OK);
  EXPECT_EQ(enable, VARIANT_TRUE);
  EXPECT_EQ(group->get_AdsType(&ads_type), S_OK);
  EXPECT_EQ(ads_type, 2);
  EXPECT_EQ(group->get_TimeLimitDefault(&limit), S_OK);
  EXPECT_EQ(limit, 2);
  EXPECT_EQ(group->get_FeeByTime(&fee), S_OK);
  EXPECT_EQ(fee, 0.5);
  EXPECT_EQ(this->Text(group.get(), &Item::get_DisplayName), "shown");
}

TYPED_TEST(DirectoryTest, SaveXmlWritesTheAttributesOfTheRecord) {
  using Item = typename TypeParam::Item;
  auto groups = this->Load(this->db_);
  com::ComPtr<Item> group;
  EXPECT_EQ(groups->Add(com::Bstr("Lab").get(), group.put()), S_OK);
  EXPECT_EQ(group->put_BytesResetDate(At(2024, 7, 8, 9, 10, 11)), S_OK);
  auto document = NewDocument();
  ASSERT_EQ(groups->SaveXML(document.get()), S_OK);
  auto section = dom::Section(document.get(), TypeParam::kSection);
  ASSERT_TRUE(section.ok() && *section);
  auto elements = dom::ChildElements(section->get());
  ASSERT_TRUE(elements.ok());
  ASSERT_EQ(elements->size(), 1u);
  IXMLDOMNode* element = (*elements)[0].get();
  EXPECT_EQ(dom::Name(element), TypeParam::kElement);
  EXPECT_EQ(AttributeNames(element), (std::vector<std::string>{"Name",
                                                               "AdsType",
                                                               "AdsPath",
                                                               "Remarks",
                                                               "Enable",
                                                               "EnableDate",
                                                               "Auth",
                                                               "Dirty",
                                                               "LimitType",
                                                               "Resetdate",
                                                               "Resetdate2",
                                                               "TimeLimit",
                                                               "TimeLeft",
                                                               "TimeQuotaPeriod",
                                                               "BytesLimit",
                                                               "BytesLeft",
                                                               "BytesQuotaPeriod",
                                                               "AllTimeLimit",
                                                               "AllTimeLeft",
                                                               "AllTimeFrom",
                                                               "AllBytesLimit",
                                                               "AllBytesLeft",
                                                               "AllBytesFrom",
                                                               "CheckFee",
                                                               "FeeLimit",
                                                               "FeeLeft",
                                                               "FeeStop",
                                                               "DateLimit",
                                                               "FeeOption",
                                                               "FeeByOutBytes",
                                                               "FeeByAllBytes",
                                                               "FeeByTime",
                                                               "LimitTypeDefault",
                                                               "TimeLimitDefault",
                                                               "TimeQuotaPeriodDefault",
                                                               "BytesLimitDefault",
                                                               "BytesQuotaPeriodDefault",
                                                               "AllTimeLimitDefault",
                                                               "AllTimeFromDefault",
                                                               "AllBytesLimitDefault",
                                                               "AllBytesFromDefault",
                                                               "DateLimitDefault"}));
  auto reset = AttributeText(element, "Resetdate");
  ASSERT_TRUE(reset.ok());
  EXPECT_EQ(*reset, "2024-07-08");  // dates by day
}

// Attribute texts: numbers read by the standard conversions (not a number: 0), dates by day.
TYPED_TEST(DirectoryTest, LoadXmlReadsAttributeTexts) {
  using Item = typename TypeParam::Item;
  auto groups = this->Load(this->db_);
  auto document = NewDocument(
      std::string("<Vodrik><") + TypeParam::kSection + "><" + TypeParam::kElement + " Name=\"Lab\" AdsType=\"7x\" TimeLimit=\"2.5\" BytesLimit=\"lots\" Resetdate=\"2024-02-03\" "
      "DateLimitDefault=\"2025-06-07\" Remarks=\"\"/>"
      "</" + TypeParam::kSection + "></Vodrik>");
  ASSERT_EQ(groups->LoadXML(document.get()), S_OK);
  auto stored = this->Load(this->db_);
  com::ComPtr<Item> group;
  ASSERT_EQ(stored->Item(com::Variant::Str("Lab"), group.put()), S_OK);
  LONG ads_type = 0;
  double time_limit = 0, bytes_limit = -1;
  DATE reset = 0, date_default = 0;
  EXPECT_EQ(group->get_AdsType(&ads_type), S_OK);
  EXPECT_EQ(ads_type, 7);
  EXPECT_EQ(group->get_TimeLimit(&time_limit), S_OK);
  EXPECT_EQ(time_limit, 2.5);
  EXPECT_EQ(group->get_BytesLimit(&bytes_limit), S_OK);
  EXPECT_EQ(bytes_limit, 0);
  EXPECT_EQ(group->get_BytesResetDate(&reset), S_OK);
  EXPECT_EQ(reset, At(2024, 2, 3));
  EXPECT_EQ(group->get_DateLimitDefault(&date_default), S_OK);
  EXPECT_EQ(date_default, At(2025, 6, 7));
  EXPECT_EQ(this->Text(group.get(), &Item::get_Remarks), "Lab");  // stored empty, loaded as the name
}

}  // namespace
}  // namespace qva::testing
