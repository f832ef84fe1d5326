// The IP list: address numbers, the numbering of new ranges, ranges found by both texts, and
// removals that reach the file only with the next Save.
#include "qvacom/settings/ips.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/settings/list_fixture.h"

namespace qva {
namespace {

using testing::Make;
using testing::Occurrences;
using testing::SettingsXml;

class IPsTest : public testing::SettingsFileTest {
 protected:
  com::ComPtr<CQVAIPs> Load(const std::string& items) {
    wrapper_ = Open(SettingsXml("<IPs>" + items + "</IPs>"));
    return Bind();
  }
  com::ComPtr<CQVAIPs> Bind() {
    auto list = Make<CQVAIPs>();
    EXPECT_EQ(list->Init(wrapper_.get()), S_OK) << testing::ErrorDescription();
    return list;
  }
  static com::ComPtr<IQVAIP> Range(CQVAIPs* list, const char* start, const char* end) {
    com::ComPtr<IQVAIP> ip;
    EXPECT_EQ(list->Item(com::Bstr(start).get(), com::Bstr(end).get(), ip.put()), S_OK) << start << " " << end;
    return ip;
  }
  static LONG Count(CQVAIPs* list) {
    LONG n = -1;
    EXPECT_EQ(list->get_Count(&n), S_OK);
    return n;
  }
  com::ComPtr<CQVAXMLDoc> wrapper_;
};

std::string Ip(int num, const std::string& start, const std::string& end) {
  return "<IP Num=\"" + std::to_string(num) + "\" StartIP=\"" + start + "\" EndIP=\"" + end + "\"/>";
}

TEST_F(IPsTest, AddressNumbersOfAddedAndLoadedRanges) {
  auto list = Load(Ip(0, "192.168.1.10", "192.168.1.20") + Ip(1, "10.0.0.1", "not an address"));
  ASSERT_EQ(list->Add(com::Bstr("10.0.0.1").get(), com::Bstr("10.0.0.9").get()), S_OK);
  struct Case {
    const char *start, *end;
    double db_start, db_end;
  } cases[] = {
      {"10.0.0.1", "10.0.0.9", 10000000.001, 10000000.009},
      {"192.168.1.10", "192.168.1.20", 192168001.010, 192168001.020},
  };
  for (const Case& c : cases) {
    auto ip = Range(list.get(), c.start, c.end);
    double db_start = 0, db_end = 0;
    EXPECT_EQ(ip->get_dbStartIP(&db_start), S_OK);
    EXPECT_EQ(ip->get_dbEndIP(&db_end), S_OK);
    EXPECT_DOUBLE_EQ(db_start, c.db_start);
    EXPECT_DOUBLE_EQ(db_end, c.db_end);
  }
  double bad = 0;
  Range(list.get(), "10.0.0.1", "not an address")->get_dbEndIP(&bad);
  EXPECT_TRUE(std::isnan(bad)) << "a text that is not an address lies in no range";

  for (const char* wrong : {"10.0.0.256", "10.0.0", "", "10.0.0.1 "}) {
    EXPECT_EQ(list->Add(com::Bstr("10.0.0.1").get(), com::Bstr(wrong).get()), E_INVALIDARG) << wrong;
  }
  EXPECT_EQ(Count(list.get()), 3);
}

TEST_F(IPsTest, ANewRangeTakesTheSmallestFreeNumber) {
  struct Case {
    std::vector<int> held;
    LONG next;
  } cases[] = {{{}, 0}, {{0, 1, 3}, 2}, {{1, 2}, 0}, {{0, 1, 2}, 3}, {{-4, 7}, 0}};
  for (const Case& c : cases) {
    std::string items;
    for (size_t i = 0; i < c.held.size(); ++i) items += Ip(c.held[i], "10.0.0." + std::to_string(i), "10.0.0.99");
    auto list = Load(items);
    ASSERT_EQ(list->Add(com::Bstr("10.1.0.1").get(), com::Bstr("10.1.0.2").get()), S_OK);
    LONG num = -1;
    EXPECT_EQ(Range(list.get(), "10.1.0.1", "10.1.0.2")->get_Num(&num), S_OK);
    EXPECT_EQ(num, c.next) << items;
  }
}

TEST_F(IPsTest, RangesAreFoundByBothTextsNotByTheirJoinedText) {
  auto list = Load(Ip(0, "1.1.1.1", "11.1.1.1") + Ip(1, "1.1.1.11", "1.1.1.1"));
  LONG num = -1;
  Range(list.get(), "1.1.1.11", "1.1.1.1")->get_Num(&num);
  EXPECT_EQ(num, 1);
  VARIANT_BOOL exists = -7;
  EXPECT_EQ(list->Exists(com::Bstr("1.1.1.111").get(), com::Bstr(".1.1.1").get(), &exists), S_OK);
  EXPECT_EQ(exists, 0);
  com::ComPtr<IQVAIP> none;
  EXPECT_EQ(list->Item(com::Bstr("1.1.1.1").get(), com::Bstr("1.1.1.1").get(), none.put()), E_FAIL);
  EXPECT_FALSE(none);

  ASSERT_EQ(list->Remove(com::Bstr("1.1.1.11").get(), com::Bstr("1.1.1.1").get()), S_OK);
  EXPECT_EQ(list->Exists(com::Bstr("1.1.1.1").get(), com::Bstr("11.1.1.1").get(), &exists), S_OK);
  EXPECT_EQ(exists, 1);
  auto left = Items(wrapper_.get(), "IPs");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(Attr(left[0], "StartIP"), "1.1.1.1");
}

TEST_F(IPsTest, ARemovalReachesTheFileOnlyWithTheNextSave) {
  auto list = Load(Ip(0, "10.0.0.1", "10.0.0.9"));
  ASSERT_EQ(list->Remove(com::Bstr("10.0.0.1").get(), com::Bstr("10.0.0.9").get()), S_OK);
  EXPECT_EQ(Count(list.get()), 0);
  EXPECT_TRUE(Items(wrapper_.get(), "IPs").empty());

  wrapper_ = Reopen();
  EXPECT_EQ(Count(Bind().get()), 1) << "the file still holds the range";

  auto again = Bind();
  ASSERT_EQ(again->Remove(com::Bstr("10.0.0.1").get(), com::Bstr("10.0.0.9").get()), S_OK);
  ASSERT_EQ(again->Save(), S_OK);
  wrapper_ = Reopen();
  EXPECT_EQ(Count(Bind().get()), 0);
}

TEST_F(IPsTest, SaveFindsEachRangesElementByItsNumber) {
  auto list = Load(Ip(7, "10.0.0.1", "10.0.0.9") + Ip(8, "10.0.0.20", "10.0.0.29"));
  ASSERT_EQ(Range(list.get(), "10.0.0.1", "10.0.0.9")->put_EndIP(com::Bstr("10.0.0.10").get()), S_OK);
  ASSERT_EQ(list->Save(), S_OK);
  const std::string file = FileText();
  EXPECT_EQ(Occurrences(file, "<IP "), 2u);
  EXPECT_EQ(Occurrences(file, Ip(7, "10.0.0.1", "10.0.0.10")), 1u);
}

}  // namespace
}  // namespace qva
