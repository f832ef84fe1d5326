// Domains: the name is the key of both the list and the document.
#include "qvacom/settings/domains.h"

#include <gtest/gtest.h>

#include "tests/settings/list_fixture.h"

namespace qva {
namespace {

using testing::Make;
using testing::Occurrences;
using testing::SettingsXml;

class DomainsTest : public testing::SettingsFileTest {
 protected:
  com::ComPtr<CQVADomains> Load(const std::string& items) {
    wrapper_ = Open(SettingsXml("<Domains>" + items + "</Domains>"));
    auto list = Make<CQVADomains>();
    EXPECT_EQ(list->Init(wrapper_.get()), S_OK) << testing::ErrorDescription();
    return list;
  }
  com::ComPtr<CQVAXMLDoc> wrapper_;
};

constexpr char kCorp[] = R"(<DomainItem Name="corp" NetbiosName="CORP"/>)";

TEST_F(DomainsTest, TwoItemsOfOneNameShareTheFirstElementAndTheLastWins) {
  auto list = Load("");
  com::ComPtr<IQVADomain> first, second;
  com::Bstr name("corp");
  ASSERT_EQ(list->Add(name.get(), first.put()), S_OK);
  ASSERT_EQ(list->Add(name.get(), second.put()), S_OK);
  EXPECT_NE(first.get(), second.get());
  first->put_NetbiosName(com::Bstr("ONE").get());
  second->put_NetbiosName(com::Bstr("TWO").get());
  ASSERT_EQ(list->Save(), S_OK);
  const std::string file = FileText();
  EXPECT_EQ(Occurrences(file, "<DomainItem"), 1u);
  EXPECT_EQ(Occurrences(file, R"(NetbiosName="TWO")"), 1u);

  com::ComPtr<IQVADomain> found;
  ASSERT_EQ(list->Item(com::Variant::Str("corp"), found.put()), S_OK);
  EXPECT_EQ(found.get(), first.get()) << "Item hands out the first of the name";
}

TEST_F(DomainsTest, ARenamedDomainGetsANewElementAndTheOldOneStays) {
  auto list = Load(kCorp);
  com::ComPtr<IQVADomain> item;
  ASSERT_EQ(list->Item(com::Variant::Str("corp"), item.put()), S_OK);
  ASSERT_EQ(item->put_Name(com::Bstr("corp2").get()), S_OK);
  ASSERT_EQ(list->Save(), S_OK);
  const std::string file = FileText();
  EXPECT_EQ(Occurrences(file, kCorp), 1u);
  EXPECT_EQ(Occurrences(file, R"(<DomainItem Name="corp2" NetbiosName="CORP"/>)"), 1u);
}

TEST_F(DomainsTest, LookupsAreExactAndCaseSensitive) {
  auto list = Load(kCorp);
  struct Case {
    const char* name;
    HRESULT item, exists;
    VARIANT_BOOL value;
  } cases[] = {
      {"corp", S_OK, S_OK, 1},
      {"CORP", E_FAIL, S_FALSE, 0},
      {"corp ", E_FAIL, S_FALSE, 0},
      {"", E_FAIL, S_FALSE, 0},
  };
  for (const Case& c : cases) {
    com::ComPtr<IQVADomain> item;
    EXPECT_EQ(list->Item(com::Variant::Str(c.name), item.put()), c.item) << c.name;
    EXPECT_EQ(static_cast<bool>(item), c.item == S_OK);
    VARIANT_BOOL value = -7;
    EXPECT_EQ(list->Exists(com::Bstr(c.name).get(), &value), c.exists) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
  }
}

TEST_F(DomainsTest, RemoveDeletesTheNamedItemAndElementAndSavesTheFile) {
  auto list = Load(std::string(kCorp) + R"(<DomainItem Name="42" NetbiosName="NUM"/>)");
  ASSERT_EQ(list->Remove(com::Variant::Str("corp")), S_OK);
  ASSERT_EQ(list->Remove(com::Variant::I4(42)), S_OK) << "a number names the domain of its text";
  LONG count = -1;
  EXPECT_EQ(list->get_Count(&count), S_OK);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Occurrences(FileText(), "<DomainItem"), 0u);

  VARIANT null_name;
  null_name.vt = VT_NULL;
  EXPECT_EQ(list->Remove(null_name), E_INVALIDARG);
}

}  // namespace
}  // namespace qva
