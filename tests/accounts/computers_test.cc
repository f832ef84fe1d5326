// The computers collection: keyed by IP (Add, Item, Remove, Exists, Save, Clear, Reload),
// searched by Name (ItemByName), the members of a group (HaveComputersInGroup, RemoveFromGroup),
// the whole table in its own order, LastTime with its time of day, and the XML layout.
#include "qvacom/accounts/computers.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/accounts/collection_contract.h"

namespace qva::testing {
namespace {

class ComputersTest : public ::testing::Test {
 protected:
  com::ComPtr<CQVAComputers> Load(const AccountDatabase& db) {
    auto made = com::CreateObject<CQVAComputers>();
    EXPECT_TRUE(made.ok());
    EXPECT_EQ((*made)->Init(db.get()), S_OK);
    return *made;
  }
  // Rows (Name, IP, Group), in the table's order.
  void Insert(std::initializer_list<std::array<const char*, 3>> rows) {
    for (const auto& r : rows)
      db_.Run(std::string("INSERT INTO Computers(Name, IP, \"Group\") VALUES('") + r[0] + "', '" + r[1] + "', '" +
              r[2] + "')");
  }
  static std::string Text(IQVAComputer* computer, HRESULT (STDMETHODCALLTYPE IQVAComputer::*get)(BSTR*)) {
    com::Bstr text;
    EXPECT_EQ((computer->*get)(text.put()), S_OK);
    return text.utf8();
  }
  // The IPs held, in list order.
  static std::vector<std::string> Ips(IQVAComputers* computers) {
    LONG n = 0;
    EXPECT_EQ(computers->get_Count(&n), S_OK);
    std::vector<std::string> out;
    for (LONG i = 0; i < n; ++i) {
      com::ComPtr<IQVAComputer> computer;
      EXPECT_EQ(computers->Index(com::Variant::I4(i), computer.put()), S_OK);
      out.push_back(Text(computer.get(), &IQVAComputer::get_IP));
    }
    return out;
  }
  std::vector<std::string> StoredIps() { return db_.Column("SELECT IP FROM Computers ORDER BY rowid", "IP"); }

  AccountDatabase db_;
};

// The whole table in its own order (no ordering by name or address); an empty Remarks is the
// Name; LastTime keeps its time of day.
TEST_F(ComputersTest, InitLoadsTheTableInItsOwnOrder) {
  db_.Run(
      "INSERT INTO Computers(Name, IP, \"Group\", Remarks, CurUser, LastTime) VALUES"
      "('zeta', '10.0.0.9', 'Lab', '', 'ann', '2024-05-06 13:45:30'),"
      "('alpha', '10.0.0.10', 'Desk', 'by the door', NULL, NULL),"
      "('Mid', '10.0.0.1', '', NULL, 'bo', '2023-01-02 00:00:00')");
  auto computers = Load(db_);
  EXPECT_EQ(Ips(computers.get()), (std::vector<std::string>{"10.0.0.9", "10.0.0.10", "10.0.0.1"}));
  struct Case {
    const char* ip;
    const char* name;
    const char* group;
    const char* remarks;
    const char* cur_user;
  } cases[] = {
      {"10.0.0.9", "zeta", "Lab", "zeta", "ann"},
      {"10.0.0.10", "alpha", "Desk", "by the door", ""},
      {"10.0.0.1", "Mid", "", "Mid", "bo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ip);
    com::ComPtr<IQVAComputer> computer;
    ASSERT_EQ(computers->Item(com::Variant::Str(c.ip), computer.put()), S_OK);
    EXPECT_EQ(Text(computer.get(), &IQVAComputer::get_Name), c.name);
    EXPECT_EQ(Text(computer.get(), &IQVAComputer::get_Group), c.group);
    EXPECT_EQ(Text(computer.get(), &IQVAComputer::get_Remarks), c.remarks);
    EXPECT_EQ(Text(computer.get(), &IQVAComputer::get_CurUser), c.cur_user);
  }
  com::ComPtr<IQVAComputer> first;
  ASSERT_EQ(computers->Index(com::Variant::I4(0), first.put()), S_OK);
  DATE last = 0;
  EXPECT_EQ(first->get_LastTime(&last), S_OK);
  EXPECT_EQ(last, At(2024, 5, 6, 13, 45, 30));
}

// Item, Exists and Remove take the IP, compared exactly; ItemByName takes the Name.
TEST_F(ComputersTest, LookupsTakeTheAddressAndItemByNameTheName) {
  Insert({{"pc1", "10.0.0.1", "Lab"}, {"PC2", "10.0.0.2", "Lab"}, {"pc1", "10.0.0.3", "Desk"}});
  auto computers = Load(db_);
  struct Case {
    const char* key;
    const char* by_ip;    // IP Item finds; nullptr: E_FAIL, and Exists answers 0
    const char* by_name;  // IP ItemByName finds; nullptr: S_FALSE and null
  } cases[] = {
      {"10.0.0.1", "10.0.0.1", nullptr}, {"10.0.0.3", "10.0.0.3", nullptr},
      {"pc1", nullptr, "10.0.0.1"},  // the first of the name
      {"PC2", nullptr, "10.0.0.2"},      {"pc2", nullptr, nullptr},
      {"10.0.0.1 ", nullptr, nullptr},   {"", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    com::ComPtr<IQVAComputer> item, named;
    const HRESULT hr = computers->Item(com::Variant::Str(c.key), item.put());
    VARIANT_BOOL exists = 7;
    EXPECT_EQ(computers->Exists(com::Bstr(c.key).get(), &exists), S_OK);
    if (c.by_ip) {
      ASSERT_EQ(hr, S_OK);
      EXPECT_EQ(Text(item.get(), &IQVAComputer::get_IP), c.by_ip);
      EXPECT_EQ(exists, 1);
    } else {
      EXPECT_EQ(hr, E_FAIL);
      EXPECT_FALSE(item);
      EXPECT_EQ(exists, 0);
    }
    const HRESULT named_hr = computers->ItemByName(com::Bstr(c.key).get(), named.put());
    if (c.by_name) {
      ASSERT_EQ(named_hr, S_OK);
      EXPECT_EQ(Text(named.get(), &IQVAComputer::get_IP), c.by_name);
    } else {
      EXPECT_EQ(named_hr, S_FALSE);
      EXPECT_FALSE(named);
    }
  }
}

// Index is a 0-based position in the table's order; other VARIANT types are coerced to it.
TEST_F(ComputersTest, IndexIsAPositionWithinTheList) {
  Insert({{"pc1", "10.0.0.1", "Lab"}, {"pc2", "10.0.0.2", "Lab"}});
  auto computers = Load(db_);
  struct Case {
    com::Variant v;
    const char* ip;  // nullptr: E_INVALIDARG and null
  } cases[] = {
      {com::Variant::I4(0), "10.0.0.1"}, {com::Variant::Str("1"), "10.0.0.2"}, {com::Variant::R8(1.0), "10.0.0.2"},
      {com::Variant::I4(2), nullptr},    {com::Variant::I4(-1), nullptr},      {com::Variant::Str("10.0.0.1"), nullptr},
  };
  for (const Case& c : cases) {
    com::ComPtr<IQVAComputer> computer;
    const HRESULT hr = computers->Index(c.v, computer.put());
    if (!c.ip) {
      EXPECT_EQ(hr, E_INVALIDARG);
      EXPECT_FALSE(computer);
      continue;
    }
    ASSERT_EQ(hr, S_OK) << c.ip;
    EXPECT_EQ(Text(computer.get(), &IQVAComputer::get_IP), c.ip);
  }
}

// Add sets the IP and writes nothing; Save(true) stores it (texts with quotes included), and
// Save(false) finds its row by the IP held now.
TEST_F(ComputersTest, AddSaveAndUpdateGoByTheAddress) {
  auto computers = Load(db_);
  com::ComPtr<IQVAComputer> computer, twin;
  ASSERT_EQ(computers->Add(com::Bstr("10.0.0.7").get(), computer.put()), S_OK);
  EXPECT_EQ(Text(computer.get(), &IQVAComputer::get_IP), "10.0.0.7");
  EXPECT_EQ(Text(computer.get(), &IQVAComputer::get_Name), "");
  ASSERT_EQ(computers->Add(com::Bstr("10.0.0.7").get(), twin.put()), S_OK);  // no duplicate check
  EXPECT_NE(computer.get(), twin.get());
  EXPECT_TRUE(StoredIps().empty());

  EXPECT_EQ(computer->put_Name(com::Bstr("o'hara").get()), S_OK);
  EXPECT_EQ(computer->put_Group(com::Bstr("Lab's").get()), S_OK);
  EXPECT_EQ(computer->put_LastTime(At(2024, 5, 6, 13, 45, 30)), S_OK);
  EXPECT_EQ(computer->put_TimeLimit(1.234), S_OK);
  EXPECT_EQ(computer->Save(VARIANT_TRUE), S_OK);
  EXPECT_EQ(computer->put_TimeLimit(2.5), S_OK);
  EXPECT_EQ(computer->Save(VARIANT_FALSE), S_OK);
  // Changed in memory, the IP names no row: nothing is updated.
  EXPECT_EQ(computer->put_IP(com::Bstr("10.0.0.8").get()), S_OK);
  EXPECT_EQ(computer->put_TimeLimit(9), S_OK);
  EXPECT_EQ(computer->Save(VARIANT_FALSE), S_OK);

  auto again = Load(db_);
  EXPECT_EQ(Ips(again.get()), (std::vector<std::string>{"10.0.0.7"}));
  com::ComPtr<IQVAComputer> stored;
  ASSERT_EQ(again->Item(com::Variant::Str("10.0.0.7"), stored.put()), S_OK);
  EXPECT_EQ(Text(stored.get(), &IQVAComputer::get_Name), "o'hara");
  EXPECT_EQ(Text(stored.get(), &IQVAComputer::get_Group), "Lab's");
  double limit = 0;
  DATE last = 0;
  EXPECT_EQ(stored->get_TimeLimit(&limit), S_OK);
  EXPECT_EQ(limit, 2.5);
  EXPECT_EQ(stored->get_LastTime(&last), S_OK);
  EXPECT_EQ(last, At(2024, 5, 6, 13, 45, 30));
}

TEST_F(ComputersTest, RemoveDeletesTheRowOfTheAddress) {
  auto computers = Load(db_);
  EXPECT_EQ(computers->Remove(com::Variant::Str("10.0.0.1")), E_FAIL);  // empty
  Insert({{"pc1", "10.0.0.1", "Lab"}, {"pc2", "10.0.0.2", "Lab"}});
  computers = Load(db_);
  struct Case {
    const char* key;
    HRESULT hr;
    std::vector<std::string> left;
  } cases[] = {
      {"pc1", E_FAIL, {"10.0.0.1", "10.0.0.2"}},  // a Name is not a key
      {"10.0.0.9", E_FAIL, {"10.0.0.1", "10.0.0.2"}},
      {"10.0.0.1", S_OK, {"10.0.0.2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(computers->Remove(com::Variant::Str(c.key)), c.hr);
    EXPECT_EQ(Ips(computers.get()), c.left);
    EXPECT_EQ(StoredIps(), c.left);
  }
}

TEST_F(ComputersTest, GroupMembersAreFoundAndRemovedByExactGroupName) {
  struct Case {
    const char* group;
    VARIANT_BOOL have;
    std::vector<std::string> left;  // IPs after RemoveFromGroup, held and stored
  } cases[] = {
      {"Lab", 1, {"10.0.0.2", "10.0.0.4"}},
      {"lab", 0, {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}},
      {"Empty", 0, {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}},
      {"", 1, {"10.0.0.1", "10.0.0.2", "10.0.0.3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.group);
    db_.Run("DELETE FROM Computers");
    Insert({{"a", "10.0.0.1", "Lab"}, {"b", "10.0.0.2", "Desk"}, {"c", "10.0.0.3", "Lab"}, {"d", "10.0.0.4", ""}});
    auto computers = Load(db_);
    VARIANT_BOOL have = 7;
    EXPECT_EQ(computers->HaveComputersInGroup(com::Bstr(c.group).get(), &have), S_OK);
    EXPECT_EQ(have, c.have);
    EXPECT_EQ(computers->RemoveFromGroup(com::Bstr(c.group).get()), S_OK);
    EXPECT_EQ(Ips(computers.get()), c.left);
    EXPECT_EQ(StoredIps(), c.left);
  }
}

// A delete the database refuses stops RemoveFromGroup there and keeps that computer; Remove
// likewise keeps it.
TEST_F(ComputersTest, ARefusedDeleteKeepsTheComputer) {
  Insert({{"a", "10.0.0.1", "Lab"}, {"b", "10.0.0.2", "Lab"}, {"c", "10.0.0.3", "Lab"}});
  db_.Run(
      "CREATE TRIGGER refuse BEFORE DELETE ON Computers WHEN OLD.IP = '10.0.0.2' "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END");
  auto computers = Load(db_);
  EXPECT_EQ(computers->RemoveFromGroup(com::Bstr("Lab").get()), E_FAIL);
  EXPECT_EQ(Ips(computers.get()), (std::vector<std::string>{"10.0.0.2", "10.0.0.3"}));
  EXPECT_EQ(StoredIps(), (std::vector<std::string>{"10.0.0.2", "10.0.0.3"}));
  EXPECT_EQ(computers->Remove(com::Variant::Str("10.0.0.2")), E_FAIL);
  EXPECT_EQ(Ips(computers.get()), (std::vector<std::string>{"10.0.0.2", "10.0.0.3"}));
}

// Reload gives each row to the computer of the same IP (two computers may share a Name), keeps
// Enable and EnableDate, and neither adds rows nor drops computers.
TEST_F(ComputersTest, ReloadMatchesRowsByAddress) {
  db_.Run(
      "INSERT INTO Computers(Name, IP, Enable, TimeLeft) VALUES"
      "('pc', '10.0.0.1', -1, 1), ('pc', '10.0.0.2', -1, 2)");
  auto computers = Load(db_);
  db_.Run("UPDATE Computers SET Enable = 0, TimeLeft = TimeLeft + 10, CurUser = IP, LastTime = '2024-05-06 07:08:09'");
  db_.Run("INSERT INTO Computers(Name, IP) VALUES('new', '10.0.0.3')");
  db_.Run("DELETE FROM Computers WHERE IP = '10.0.0.2'");
  db_.Run("INSERT INTO Computers(Name, IP, TimeLeft) VALUES('pc', '10.0.0.2', 30)");
  EXPECT_EQ(computers->Reload(), S_OK);
  EXPECT_EQ(Ips(computers.get()), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
  struct Case {
    const char* ip;
    double time_left;
    const char* cur_user;
  } cases[] = {{"10.0.0.1", 11, "10.0.0.1"}, {"10.0.0.2", 30, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ip);
    com::ComPtr<IQVAComputer> computer;
    ASSERT_EQ(computers->Item(com::Variant::Str(c.ip), computer.put()), S_OK);
    double left = 0;
    VARIANT_BOOL enable = 0;
    EXPECT_EQ(computer->get_TimeLeft(&left), S_OK);
    EXPECT_EQ(left, c.time_left);
    EXPECT_EQ(computer->get_Enable(&enable), S_OK);
    EXPECT_EQ(enable, VARIANT_TRUE);
    EXPECT_EQ(Text(computer.get(), &IQVAComputer::get_CurUser), c.cur_user);
  }
}

TEST_F(ComputersTest, SaveXmlWritesTheRecordAndLastTimeWithItsTime) {
  auto computers = Load(db_);
  com::ComPtr<IQVAComputer> computer;
  ASSERT_EQ(computers->Add(com::Bstr("10.0.0.7").get(), computer.put()), S_OK);
  EXPECT_EQ(computer->put_LastTime(At(2024, 5, 6, 13, 45, 30)), S_OK);
  EXPECT_EQ(computer->put_DateLimit(At(2025, 1, 2, 3, 4, 5)), S_OK);
  auto document = NewDocument();
  ASSERT_EQ(computers->SaveXML(document.get()), S_OK);
  auto section = dom::Section(document.get(), "Computers");
  ASSERT_TRUE(section.ok() && *section);
  auto elements = dom::ChildElements(section->get());
  ASSERT_TRUE(elements.ok());
  ASSERT_EQ(elements->size(), 1u);
  IXMLDOMNode* element = (*elements)[0].get();
  EXPECT_EQ(dom::Name(element), "Computer");
  EXPECT_EQ(AttributeNames(element), (std::vector<std::string>{"Name",
                                                               "IP",
                                                               "Group",
                                                               "Remarks",
                                                               "LastTime",
                                                               "CurUser",
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
                                                               "FeeByTime"}));
  struct Case {
    const char* attribute;
    const char* text;
  } cases[] = {{"IP", "10.0.0.7"}, {"LastTime", "2024-05-06 13:45:30"}, {"DateLimit", "2025-01-02"}};
  for (const Case& c : cases) {
    auto text = AttributeText(element, c.attribute);
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text, c.text) << c.attribute;
  }
}

// SaveXML, then LoadXML into a fresh database: the same computers, in order, with every stored
// value, in memory and in the table.
TEST_F(ComputersTest, SaveXmlThenLoadXmlReadsBackEqual) {
  auto source = Load(db_);
  const char* ips[] = {"10.0.0.9", "10.0.0.1"};
  for (int i = 0; i < 2; ++i) {
    com::ComPtr<IQVAComputer> computer;
    ASSERT_EQ(source->Add(com::Bstr(ips[i]).get(), computer.put()), S_OK);
    EXPECT_EQ(computer->Save(VARIANT_TRUE), S_OK);
    FillProperties(computer.get(), i == 0 ? "first" : "second", 100 * i);
    EXPECT_EQ(computer->put_IP(com::Bstr(ips[i]).get()), S_OK);
    EXPECT_EQ(computer->Save(VARIANT_FALSE), S_OK);
  }
  source = Load(db_);
  auto document = NewDocument();
  ASSERT_EQ(source->SaveXML(document.get()), S_OK);

  AccountDatabase other;
  auto target = Load(other);
  ASSERT_EQ(target->LoadXML(document.get()), S_OK);
  auto reloaded = Load(other);
  const std::vector<std::string_view> skip = {"StatusChange"};
  for (auto* copy : {target.get(), reloaded.get()}) {
    ASSERT_EQ(Ips(copy), (std::vector<std::string>{"10.0.0.9", "10.0.0.1"}));
    for (LONG i = 0; i < 2; ++i) {
      com::ComPtr<IQVAComputer> want, got;
      ASSERT_EQ(source->Index(com::Variant::I4(i), want.put()), S_OK);
      ASSERT_EQ(copy->Index(com::Variant::I4(i), got.put()), S_OK);
      EXPECT_EQ(Properties(got.get(), skip), Properties(want.get(), skip));
    }
  }
}

// A document the table cannot take whole changes neither the table nor the collection.
TEST_F(ComputersTest, LoadXmlThatFailsChangesNothing) {
  Insert({{"a", "10.0.0.1", "Lab"}});
  db_.Run(
      "CREATE TRIGGER refuse BEFORE INSERT ON Computers WHEN NEW.IP = 'bad' "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END");
  auto computers = Load(db_);
  const char* documents[] = {
      "<Vodrik><Computers><Computer IP=\"10.0.0.5\"/><Computer IP=\"bad\"/></Computers></Vodrik>",
      "<Vodrik><Groups><Computer IP=\"10.0.0.5\"/></Groups></Vodrik>",
  };
  for (const char* xml : documents) {
    SCOPED_TRACE(xml);
    EXPECT_EQ(computers->LoadXML(NewDocument(xml).get()), E_FAIL);
    EXPECT_EQ(Ips(computers.get()), (std::vector<std::string>{"10.0.0.1"}));
    EXPECT_EQ(StoredIps(), (std::vector<std::string>{"10.0.0.1"}));
  }
}

}  // namespace
}  // namespace qva::testing
