// The departments collection: the shared collection contract, and what departments do of their
// own (names kept as stored, ordered by name, the directory binding written once, the member
// defaults, the display name in memory only).
#include "qvacom/accounts/deps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/accounts/collection_contract.h"

namespace qva::testing {

struct DepsKind {
  using Collection = CQVADeps;
  using Interface = IQVADeps;
  using Item = IQVADep;
  static constexpr const char* kTable = "Deps";
  static constexpr const char* kSection = "Deps";
  static constexpr const char* kElement = "Dep";
  static constexpr HRESULT kAbsent = S_OK;
  static std::string Held(std::string_view name) { return std::string(name); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Deps, CollectionContract, DepsKind);

namespace {

class DepsTest : public CollectionContract<DepsKind> {
 protected:
  static std::string Text(IQVADep* dep, HRESULT (STDMETHODCALLTYPE IQVADep::*get)(BSTR*)) {
    com::Bstr text;
    EXPECT_EQ((dep->*get)(text.put()), S_OK);
    return text.utf8();
  }
};

TEST_F(DepsTest, LoadKeepsNamesOrdersByNameAndDefaultsRemarks) {
  for (const char* row : {"'Sales', ''", "'admin', NULL", "'Board', 'top floor'"})
    db_.Run(std::string("INSERT INTO Deps(Name, Remarks) VALUES(") + row + ")");
  auto deps = Load(db_);
  EXPECT_EQ(Names(deps.get()), (std::vector<std::string>{"admin", "Board", "Sales"}));
  struct Case {
    const char* name;
    const char* remarks;
  } cases[] = {{"Sales", "Sales"}, {"admin", "admin"}, {"Board", "top floor"}};
  for (const Case& c : cases) {
    com::ComPtr<IQVADep> dep;
    ASSERT_EQ(deps->Item(com::Variant::Str(c.name), dep.put()), S_OK) << c.name;
    EXPECT_EQ(Text(dep.get(), &IQVADep::get_Remarks), c.remarks);
  }
}

// The directory binding is written by the INSERT only; the member defaults by both statements;
// the display name by neither.
TEST_F(DepsTest, SaveWritesTheBindingOnceAndTheDefaultsAlways) {
  auto deps = Load(db_);
  com::ComPtr<IQVADep> dep;
  EXPECT_EQ(deps->Add(com::Bstr("Sales").get(), dep.put()), S_OK);
  EXPECT_EQ(dep->put_AdsType(3), S_OK);
  EXPECT_EQ(dep->put_AdsPath(com::Bstr("LDAP://first").get()), S_OK);
  EXPECT_EQ(dep->put_TimeLimitDefault(1.234), S_OK);
  EXPECT_EQ(dep->put_DisplayName(com::Bstr("Sales team").get()), S_OK);
  EXPECT_EQ(dep->Save(VARIANT_TRUE), S_OK);

  EXPECT_EQ(dep->put_AdsType(4), S_OK);
  EXPECT_EQ(dep->put_AdsPath(com::Bstr("LDAP://second").get()), S_OK);
  EXPECT_EQ(dep->put_TimeLimitDefault(7.5), S_OK);
  EXPECT_EQ(dep->put_DateLimitDefault(At(2030, 1, 2)), S_OK);
  EXPECT_EQ(dep->Save(VARIANT_FALSE), S_OK);

  auto again = Load(db_);
  com::ComPtr<IQVADep> stored;
  ASSERT_EQ(again->Item(com::Variant::Str("Sales"), stored.put()), S_OK);
  LONG ads_type = 0;
  double limit = 0;
  DATE date = 0;
  EXPECT_EQ(stored->get_AdsType(&ads_type), S_OK);
  EXPECT_EQ(ads_type, 3);
  EXPECT_EQ(Text(stored.get(), &IQVADep::get_AdsPath), "LDAP://first");
  EXPECT_EQ(stored->get_TimeLimitDefault(&limit), S_OK);
  EXPECT_EQ(limit, 7.5);
  EXPECT_EQ(stored->get_DateLimitDefault(&date), S_OK);
  EXPECT_EQ(date, At(2030, 1, 2));
  EXPECT_EQ(Text(stored.get(), &IQVADep::get_DisplayName), "");
  EXPECT_EQ(Text(dep.get(), &IQVADep::get_DisplayName), "Sales team");
}

// Reload keeps Enable, EnableDate and the display name, and refreshes the binding and defaults.
TEST_F(DepsTest, ReloadRefreshesTheDefaultsAndKeepsTheDisplayName) {
  db_.Run("INSERT INTO Deps(Name, AdsPath, Enable, TimeLimitDefault) VALUES('Sales', 'LDAP://a', -1, 1)");
  auto deps = Load(db_);
  com::ComPtr<IQVADep> dep;
  ASSERT_EQ(deps->Item(com::Variant::Str("Sales"), dep.put()), S_OK);
  EXPECT_EQ(dep->put_DisplayName(com::Bstr("shown").get()), S_OK);
  db_.Run("UPDATE Deps SET AdsPath = 'LDAP://b', Enable = 0, TimeLimitDefault = 2 WHERE Name = 'Sales'");
  EXPECT_EQ(deps->Reload(), S_OK);
  VARIANT_BOOL enable = 0;
  double limit = 0;
  EXPECT_EQ(dep->get_Enable(&enable), S_OK);
  EXPECT_EQ(enable, VARIANT_TRUE);
  EXPECT_EQ(dep->get_TimeLimitDefault(&limit), S_OK);
  EXPECT_EQ(limit, 2);
  EXPECT_EQ(Text(dep.get(), &IQVADep::get_AdsPath), "LDAP://b");
  EXPECT_EQ(Text(dep.get(), &IQVADep::get_DisplayName), "shown");
}

TEST_F(DepsTest, SaveXmlWritesTheAttributesInLoadOrder) {
  auto deps = Load(db_);
  com::ComPtr<IQVADep> dep;
  EXPECT_EQ(deps->Add(com::Bstr("Sales").get(), dep.put()), S_OK);
  auto document = NewDocument();
  ASSERT_EQ(deps->SaveXML(document.get()), S_OK);
  auto section = dom::Section(document.get(), "Deps");
  ASSERT_TRUE(section.ok() && *section);
  auto elements = dom::ChildElements(section->get());
  ASSERT_TRUE(elements.ok());
  ASSERT_EQ(elements->size(), 1u);
  EXPECT_EQ(dom::Name((*elements)[0].get()), "Dep");
  EXPECT_EQ(AttributeNames((*elements)[0].get()), (std::vector<std::string>{"Name",
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
}

}  // namespace
}  // namespace qva::testing
