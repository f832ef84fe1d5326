// The fee records: one collection per fee table, found by name and day, saved by name and exact
// date and time, cleared by name, exchanged with XML by day.
#include "qvacom/accounts/fees.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvacom/accounts/account_block.h"
#include "tests/accounts/collection_contract.h"

namespace qva::testing {
namespace {

struct FeeTable {
  QvaFeeType type;
  const char* table;
  const char* section;
};

constexpr FeeTable kTables[] = {
    {qvaUserFee, "UserFee", "UserFees"},
    {qvaDepFee, "DepFee", "DepFees"},
    {qvaComputerFee, "ComputerFee", "ComputerFees"},
    {qvaGroupFee, "GroupFee", "GroupFees"},
};

class FeesTest : public ::testing::Test {
 protected:
  com::ComPtr<CQVAFees> Load(QvaFeeType type) {
    auto made = com::CreateObject<CQVAFees>();
    EXPECT_TRUE(made.ok());
    EXPECT_EQ((*made)->Init(type, db_.get()), S_OK);
    return *made;
  }
  com::ComPtr<IQVAFee> Store(IQVAFees* fees, const char* name, DATE date, double amount) {
    com::ComPtr<IQVAFee> fee;
    EXPECT_EQ(fees->Add(com::Bstr(name).get(), fee.put()), S_OK);
    EXPECT_EQ(fee->put_Date(date), S_OK);
    EXPECT_EQ(fee->put_FeeAdd(amount), S_OK);
    EXPECT_EQ(fee->Save(VARIANT_TRUE), S_OK);
    return fee;
  }
  // Every row of `table` as "name|date|amount", ordered by date.
  std::vector<std::string> Rows(const char* table) {
    const std::string select = std::string("SELECT * FROM ") + table + " ORDER BY Date, Name";
    const auto names = db_.Column(select, "Name"), dates = db_.Column(select, "Date"),
               amounts = db_.Column(select, "FeeAdd");
    std::vector<std::string> out;
    for (size_t i = 0; i < names.size(); ++i) out.push_back(names[i] + "|" + dates[i] + "|" + amounts[i]);
    return out;
  }
  AccountDatabase db_;
};

// Each fee type reads and writes its own table only, and its records carry the type.
TEST_F(FeesTest, EachFeeTypeKeepsToItsTable) {
  for (const FeeTable& t : kTables) {
    auto fees = Load(t.type);
    Store(fees.get(), t.table, At(2024, 5, 6, 14, 30), 2.5);
  }
  for (const FeeTable& t : kTables) {
    EXPECT_EQ(Rows(t.table), (std::vector<std::string>{std::string(t.table) + "|2024-05-06 14:30:00|2.5"}));
    auto fees = Load(t.type);
    EXPECT_EQ(fees->fee_type(), t.type);
    com::ComPtr<IQVAFee> fee;
    ASSERT_EQ(fees->Item(com::Bstr(t.table).get(), At(2024, 5, 6), fee.put()), S_OK) << t.table;
    DATE date = 0;
    double amount = 0;
    EXPECT_EQ(fee->get_Date(&date), S_OK);
    EXPECT_EQ(fee->get_FeeAdd(&amount), S_OK);
    EXPECT_EQ(date, At(2024, 5, 6, 14, 30));
    EXPECT_EQ(amount, 2.5);
  }
}

// Item's key is the exact name and the "%y%m%d" day: the time of day and the century take no
// part, and the first record in date order wins.
TEST_F(FeesTest, ItemFindsTheFirstRecordOfTheNameAndDay) {
  for (const char* row : {"'ann', '2024-05-06 17:00:00', 2", "'ann', '2024-05-06 09:15:00', 1",
                          "'ann', '1999-05-06 12:00:00', 3", "'Bob', '2024-05-07 00:00:00', 4"})
    db_.Run(std::string("INSERT INTO UserFee (Name, [Date], FeeAdd) VALUES(") + row + ")");
  auto fees = Load(qvaUserFee);
  struct Case {
    const char* name;
    DATE date;
    double amount;  // 0: E_FAIL
  } cases[] = {
      {"ann", At(2024, 5, 6, 17, 0), 1},   // the earlier of the day, whatever the time asked
      {"ann", At(2024, 5, 6, 0, 0), 1},    //
      {"ann", At(2024, 5, 6, 23, 59), 1},  //
      {"ann", At(1999, 5, 6), 3},          //
      {"ann", At(2099, 5, 6, 8, 0), 3},    // same two-digit year: the 1999 record's key
      {"ann", At(2024, 5, 7), 0},          //
      {"Ann", At(2024, 5, 6), 0},          // names are compared exactly
      {"bob", At(2024, 5, 7), 0},          //
      {"Bob", At(2024, 5, 7, 12, 0), 4},   //
      {"ann", -1e9, 0},                    // not a calendar day
  };
  for (const Case& c : cases) {
    com::ComPtr<IQVAFee> fee;
    const HRESULT hr = fees->Item(com::Bstr(c.name).get(), c.date, fee.put());
    if (c.amount == 0) {
      EXPECT_EQ(hr, E_FAIL) << c.name << " " << sql::FormatDate(c.date, sql::kDateTimeFormat);
      EXPECT_FALSE(fee);
      continue;
    }
    ASSERT_EQ(hr, S_OK) << c.name << " " << sql::FormatDate(c.date, sql::kDateTimeFormat);
    double amount = 0;
    EXPECT_EQ(fee->get_FeeAdd(&amount), S_OK);
    EXPECT_EQ(amount, c.amount);
  }
}

// Save(false) rewrites the row of the same name and the same date and time, with the amount as
// it stands; a record whose date is not that of a row changes nothing.
TEST_F(FeesTest, SaveFalseUpdatesTheRowOfTheSameNameAndTime) {
  auto fees = Load(qvaDepFee);
  auto morning = Store(fees.get(), "Sales", At(2024, 5, 6, 9, 0), 1);
  auto evening = Store(fees.get(), "Sales", At(2024, 5, 6, 18, 0), 2);
  auto other = Store(fees.get(), "O'Brien", At(2024, 5, 6, 9, 0), 3);
  EXPECT_EQ(evening->put_FeeAdd(7.125), S_OK);
  EXPECT_EQ(evening->Save(VARIANT_FALSE), S_OK);
  EXPECT_EQ(other->put_FeeAdd(4), S_OK);
  EXPECT_EQ(other->Save(VARIANT_FALSE), S_OK);
  EXPECT_EQ(morning->put_Date(At(2024, 5, 6, 10, 0)), S_OK);
  EXPECT_EQ(morning->put_FeeAdd(9), S_OK);
  EXPECT_EQ(morning->Save(VARIANT_FALSE), S_OK);  // no row at 10:00
  EXPECT_EQ(Rows("DepFee"), (std::vector<std::string>{"O'Brien|2024-05-06 09:00:00|4", "Sales|2024-05-06 09:00:00|1",
                                                      "Sales|2024-05-06 18:00:00|7.125"}));
}

// Clear on one record deletes every row of its name from its own table.
TEST_F(FeesTest, ClearDeletesEveryRowOfTheName) {
  auto deps = Load(qvaDepFee);
  auto users = Load(qvaUserFee);
  com::ComPtr<IQVAFee> first = Store(deps.get(), "Sales", At(2024, 1, 1), 1);
  Store(deps.get(), "Sales", At(2024, 1, 2), 2);
  Store(deps.get(), "Sales", At(2024, 1, 3), 3);
  Store(deps.get(), "Board", At(2024, 1, 4), 4);
  Store(users.get(), "Sales", At(2024, 1, 5), 5);
  EXPECT_EQ(first->Clear(), S_OK);
  EXPECT_EQ(Rows("DepFee"), (std::vector<std::string>{"Board|2024-01-04 00:00:00|4"}));
  EXPECT_EQ(Rows("UserFee"), (std::vector<std::string>{"Sales|2024-01-05 00:00:00|5"}));
}

// SaveXML writes the section of the fee type with one "Fee" per record, the date by day;
// LoadXML of that document stores each record at midnight of its day and replaces the rows held.
TEST_F(FeesTest, XmlKeepsTheDayOnly) {
  auto fees = Load(qvaComputerFee);
  Store(fees.get(), "10.0.0.7", At(2024, 5, 6, 14, 30), 1.25);
  Store(fees.get(), "10.0.0.8", At(2024, 5, 7, 8, 5), 3);
  auto document = NewDocument();
  ASSERT_EQ(fees->SaveXML(document.get()), S_OK);
  auto section = dom::Section(document.get(), "ComputerFees");
  ASSERT_TRUE(section.ok() && *section);
  auto elements = dom::ChildElements(section->get());
  ASSERT_TRUE(elements.ok());
  ASSERT_EQ(elements->size(), 2u);
  const char* const dates[] = {"2024-05-06", "2024-05-07"};
  for (size_t i = 0; i < 2; ++i) {
    IXMLDOMNode* element = (*elements)[i].get();
    EXPECT_EQ(dom::Name(element), "Fee");
    EXPECT_EQ(AttributeNames(element), (std::vector<std::string>{"Name", "Date", "FeeAdd"}));
    EXPECT_EQ(*AttributeText(element, "Date"), dates[i]);
  }

  AccountDatabase other;
  other.Run("INSERT INTO ComputerFee (Name, [Date], FeeAdd) VALUES('10.0.0.7', '2020-01-01 00:00:00', 9)");
  auto target = com::CreateObject<CQVAFees>();
  ASSERT_TRUE(target.ok());
  ASSERT_EQ((*target)->Init(qvaComputerFee, other.get()), S_OK);
  ASSERT_EQ((*target)->LoadXML(document.get()), S_OK);
  const std::string select = "SELECT * FROM ComputerFee ORDER BY Date";
  EXPECT_EQ(other.Column(select, "Date"), (std::vector<std::string>{"2024-05-06 00:00:00", "2024-05-07 00:00:00"}));
  EXPECT_EQ(other.Column(select, "FeeAdd"), (std::vector<std::string>{"1.25", "3"}));
  LONG count = 0;
  EXPECT_EQ((*target)->get_Count(&count), S_OK);
  EXPECT_EQ(count, 2);
}

// The section is that of the collection's fee type; a document without it changes nothing.
TEST_F(FeesTest, LoadXmlReadsOnlyTheSectionOfItsType) {
  auto fees = Load(qvaGroupFee);
  Store(fees.get(), "staff", At(2024, 2, 3), 1);
  struct Case {
    const char* xml;
    HRESULT hr;
    std::vector<std::string> rows;
  } cases[] = {
      {"<Vodrik><UserFees><Fee Name='x' Date='2024-01-01' FeeAdd='2'/></UserFees></Vodrik>",
       E_FAIL,
       {"staff|2024-02-03 00:00:00|1"}},
      {"<Vodrik><GroupFees><Fee Name='y' Date='2024-01-01' FeeAdd='2.5'/><!-- note --><Fee Name='z' "
       "Date='2024-01-02' FeeAdd='many'/></GroupFees></Vodrik>",
       S_OK,
       {"y|2024-01-01 00:00:00|2.5", "z|2024-01-02 00:00:00|0"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fees->LoadXML(NewDocument(c.xml).get()), c.hr) << c.xml;
    EXPECT_EQ(Rows("GroupFee"), c.rows) << c.xml;
  }
}

// A fee type outside 0 .. 3 names no table: refused, and the collection stays as it was.
TEST_F(FeesTest, UnknownFeeTypeIsRefused) {
  auto fees = Load(qvaDepFee);
  com::ComPtr<IQVAFee> fee;
  ASSERT_EQ(fees->Add(com::Bstr("Sales").get(), fee.put()), S_OK);
  for (int type : {-1, 4}) {
    EXPECT_EQ(fees->Init(static_cast<QvaFeeType>(type), db_.get()), E_INVALIDARG) << type;
    EXPECT_EQ(fees->fee_type(), qvaDepFee);
    LONG count = 0;
    EXPECT_EQ(fees->get_Count(&count), S_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(fee->Init(static_cast<QvaFeeType>(type), db_.get()), E_INVALIDARG) << type;
  }
  EXPECT_EQ(fee->Save(VARIANT_TRUE), S_OK);  // still bound to DepFee
  EXPECT_EQ(Rows("DepFee"), (std::vector<std::string>{"Sales|1899-12-30 00:00:00|0"}));
}

// A record made alone is bound by its own Init to the table of the type given.
TEST_F(FeesTest, RecordMadeAloneSavesToTheTableOfItsInit) {
  auto fee = com::CreateObject<CQVAFee>();
  ASSERT_TRUE(fee.ok());
  EXPECT_EQ((*fee)->put_Name(com::Bstr("crew").get()), S_OK);
  EXPECT_EQ((*fee)->put_Date(At(2024, 3, 4, 5, 6)), S_OK);
  EXPECT_EQ((*fee)->Save(VARIANT_TRUE), E_FAIL);  // bound to no database
  EXPECT_EQ((*fee)->Init(qvaGroupFee, db_.get()), S_OK);
  EXPECT_EQ((*fee)->Save(VARIANT_TRUE), S_OK);
  EXPECT_EQ(Rows("GroupFee"), (std::vector<std::string>{"crew|2024-03-04 05:06:00|0"}));
  EXPECT_TRUE(Rows("UserFee").empty());
}

}  // namespace
}  // namespace qva::testing
