// The limit-IP ranges: keyed by name and both address texts, never updated in place, carrying
// the numeric forms of their addresses from every load.
#include "qvacom/accounts/limit_ips.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvacom/accounts/account_block.h"
#include "tests/accounts/collection_contract.h"

namespace qva::testing {
namespace {

class LimitIPsTest : public ::testing::Test {
 protected:
  com::ComPtr<CQVALimitIPs> Load(const AccountDatabase& db) {
    auto made = com::CreateObject<CQVALimitIPs>();
    EXPECT_TRUE(made.ok());
    EXPECT_EQ((*made)->Init(db.get()), S_OK);
    return *made;
  }
  void Insert(const char* name, const char* start, const char* end) {
    db_.Run(std::string("INSERT INTO LimitIP (Name, StartIP, EndIP) VALUES('") + name + "', '" + start + "', '" + end +
            "')");
  }
  // Every row of LimitIP as "name start-end", in the table's order.
  std::vector<std::string> Rows(const AccountDatabase& db) {
    const auto names = db.Column("SELECT * FROM LimitIP", "Name"),
               starts = db.Column("SELECT * FROM LimitIP", "StartIP"),
               ends = db.Column("SELECT * FROM LimitIP", "EndIP");
    std::vector<std::string> out;
    for (size_t i = 0; i < names.size(); ++i) out.push_back(names[i] + " " + starts[i] + "-" + ends[i]);
    return out;
  }
  // Every held range as "name start-end (dbStart-dbEnd)", in list order.
  static std::vector<std::string> Held(IQVALimitIPs* ranges) {
    LONG n = 0;
    EXPECT_EQ(ranges->get_Count(&n), S_OK);
    std::vector<std::string> out;
    for (LONG i = 0; i < n; ++i) {
      com::ComPtr<IQVALimitIP> range;
      EXPECT_EQ(ranges->Index(com::Variant::I4(i), range.put()), S_OK);
      com::Bstr name, start, end;
      double db_start = 0, db_end = 0;
      EXPECT_EQ(range->get_Name(name.put()), S_OK);
      EXPECT_EQ(range->get_StartIP(start.put()), S_OK);
      EXPECT_EQ(range->get_EndIP(end.put()), S_OK);
      EXPECT_EQ(range->get_dbStartIP(&db_start), S_OK);
      EXPECT_EQ(range->get_dbEndIP(&db_end), S_OK);
      out.push_back(name.utf8() + " " + start.utf8() + "-" + end.utf8() + " (" + sql::Format("%.3f", db_start) + "-" +
                    sql::Format("%.3f", db_end) + ")");
    }
    return out;
  }

  AccountDatabase db_;
};

TEST(LimitIPNumberTest, DottedPartsWeighByThousands) {
  struct Case {
    const char* text;
    double number;
  } cases[] = {
      {"192.168.1.10", 192168001.01},
      {"10.0.0.255", 10000000.255},
      {"10.0.0.1", 10000000.001},
      {"10.0.0.01", 10000000.001},  // the same number as 10.0.0.1
      {"0.0.0.0", 0},
      {"255.255.255.255", 255255255.255},
      {"", 0},
      {"10.0.0", 0},
      {"host.example", 0},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(LimitIPNumber(c.text), c.number) << c.text;
}

// Init reads the table in its own order and gives each range the numeric forms of its texts, so
// ranges of parts up to 999 compare by number.
TEST_F(LimitIPsTest, InitLoadsTheTableWithNumericForms) {
  Insert("ann", "192.168.1.10", "192.168.1.20");
  Insert("bob", "10.0.0.1", "10.0.0.255");
  Insert("ann", "", "junk");
  auto ranges = Load(db_);
  EXPECT_EQ(Held(ranges.get()), (std::vector<std::string>{"ann 192.168.1.10-192.168.1.20 (192168001.010-192168001.020)",
                                                          "bob 10.0.0.1-10.0.0.255 (10000000.001-10000000.255)",
                                                          "ann -junk (0.000-0.000)"}));
  com::ComPtr<IQVALimitIP> range;
  EXPECT_EQ(ranges->Index(com::Variant::I4(3), range.put()), E_INVALIDARG);
  EXPECT_FALSE(range);
}

// Exists and Remove match all three texts exactly.
TEST_F(LimitIPsTest, ExistsAndRemoveMatchAllThreeTextsExactly) {
  Insert("ann", "10.0.0.1", "10.0.0.9");
  Insert("ann", "10.0.0.01", "10.0.0.9");
  struct Case {
    const char *name, *start, *end;
    VARIANT_BOOL exists;
  } cases[] = {
      {"ann", "10.0.0.1", "10.0.0.9", 1},  {"ann", "10.0.0.01", "10.0.0.9", 1}, {"Ann", "10.0.0.1", "10.0.0.9", 0},
      {"ann", "10.0.0.1", "10.0.0.09", 0}, {"ann", "10.0.0.9", "10.0.0.1", 0},  {"", "", "", 0},
  };
  auto ranges = Load(db_);
  for (const Case& c : cases) {
    VARIANT_BOOL exists = -7;
    EXPECT_EQ(ranges->Exists(com::Bstr(c.name).get(), com::Bstr(c.start).get(), com::Bstr(c.end).get(), &exists), S_OK);
    EXPECT_EQ(exists, c.exists) << c.name << " " << c.start << "-" << c.end;
  }
  for (const Case& c : cases) {
    const HRESULT hr = ranges->Remove(com::Bstr(c.name).get(), com::Bstr(c.start).get(), com::Bstr(c.end).get());
    EXPECT_EQ(hr, c.exists ? S_OK : E_FAIL) << c.name << " " << c.start << "-" << c.end;
  }
  EXPECT_TRUE(Rows(db_).empty());
  EXPECT_TRUE(Held(ranges.get()).empty());
  EXPECT_EQ(ranges->Remove(com::Bstr("ann").get(), com::Bstr("10.0.0.1").get(), com::Bstr("10.0.0.9").get()), E_FAIL);
}

// RemoveAll deletes every range of the name, from the table and the list, and no other.
TEST_F(LimitIPsTest, RemoveAllDeletesEveryRangeOfTheName) {
  Insert("ann", "10.0.0.1", "10.0.0.9");
  Insert("bob", "10.0.1.1", "10.0.1.9");
  Insert("ann", "10.0.2.1", "10.0.2.9");
  auto ranges = Load(db_);
  struct Case {
    const char* name;
    std::vector<std::string> rows;
  } cases[] = {
      {"Ann", {"ann 10.0.0.1-10.0.0.9", "bob 10.0.1.1-10.0.1.9", "ann 10.0.2.1-10.0.2.9"}},
      {"ann", {"bob 10.0.1.1-10.0.1.9"}},
      {"ann", {"bob 10.0.1.1-10.0.1.9"}},
      {"bob", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ranges->RemoveAll(com::Bstr(c.name).get()), S_OK) << c.name;
    EXPECT_EQ(Rows(db_), c.rows) << c.name;
    LONG count = 0;
    EXPECT_EQ(ranges->get_Count(&count), S_OK);
    EXPECT_EQ(count, static_cast<LONG>(c.rows.size())) << c.name;
  }
}

// Save(true) inserts the texts as written; Save(false) writes nothing, so a changed range is
// stored only by removing it and adding it again. Add alone writes nothing.
TEST_F(LimitIPsTest, SaveInsertsAndNeverUpdates) {
  auto ranges = Load(db_);
  com::ComPtr<IQVALimitIP> range;
  ASSERT_EQ(ranges->Add(com::Bstr("O'Brien").get(), range.put()), S_OK);
  EXPECT_EQ(range->put_StartIP(com::Bstr("10.0.0.1").get()), S_OK);
  EXPECT_EQ(range->put_EndIP(com::Bstr("10.0.0.9").get()), S_OK);
  EXPECT_TRUE(Rows(db_).empty());
  EXPECT_EQ(range->Save(VARIANT_TRUE), S_OK);
  EXPECT_EQ(range->put_EndIP(com::Bstr("10.0.0.99").get()), S_OK);
  EXPECT_EQ(range->Save(VARIANT_FALSE), S_OK);
  EXPECT_EQ(Rows(db_), (std::vector<std::string>{"O'Brien 10.0.0.1-10.0.0.9"}));
  // The setters leave the numeric forms to the caller.
  double db_end = -1;
  EXPECT_EQ(range->get_dbEndIP(&db_end), S_OK);
  EXPECT_EQ(db_end, 0);
  // Clear deletes by the texts held now: the stored row has another end.
  EXPECT_EQ(range->Clear(), S_OK);
  EXPECT_EQ(Rows(db_), (std::vector<std::string>{"O'Brien 10.0.0.1-10.0.0.9"}));
}

// SaveXML writes "LimitIPs" with one "LimitIP" per range (texts only); LoadXML of it replaces
// the table's rows and gives the loaded ranges their numeric forms.
TEST_F(LimitIPsTest, XmlReplacesTheWholeSet) {
  Insert("ann", "192.168.1.10", "192.168.1.20");
  Insert("bob", "10.0.0.1", "10.0.0.255");
  auto ranges = Load(db_);
  auto document = NewDocument();
  ASSERT_EQ(ranges->SaveXML(document.get()), S_OK);
  auto section = dom::Section(document.get(), "LimitIPs");
  ASSERT_TRUE(section.ok() && *section);
  auto elements = dom::ChildElements(section->get());
  ASSERT_TRUE(elements.ok());
  ASSERT_EQ(elements->size(), 2u);
  for (const dom::Node& element : *elements) {
    EXPECT_EQ(dom::Name(element.get()), "LimitIP");
    EXPECT_EQ(AttributeNames(element.get()), (std::vector<std::string>{"Name", "StartIP", "EndIP"}));
  }

  AccountDatabase other;
  other.Run("INSERT INTO LimitIP (Name, StartIP, EndIP) VALUES('old', '1.1.1.1', '1.1.1.2')");
  auto target = Load(other);
  ASSERT_EQ(target->LoadXML(document.get()), S_OK);
  const std::vector<std::string> expected{"ann 192.168.1.10-192.168.1.20 (192168001.010-192168001.020)",
                                          "bob 10.0.0.1-10.0.0.255 (10000000.001-10000000.255)"};
  EXPECT_EQ(Held(target.get()), expected);
  EXPECT_EQ(Rows(other), (std::vector<std::string>{"ann 192.168.1.10-192.168.1.20", "bob 10.0.0.1-10.0.0.255"}));
  EXPECT_EQ(Held(Load(other).get()), expected);

  // A document without the section changes nothing.
  EXPECT_EQ(target->LoadXML(NewDocument("<Vodrik><Users/></Vodrik>").get()), E_FAIL);
  EXPECT_EQ(Held(target.get()), expected);
  EXPECT_EQ(Rows(other).size(), 2u);
}

}  // namespace
}  // namespace qva::testing
