// The users collection: the shared collection contract, and what users do of their own (names
// lower-cased at a load, ordered by FullName, department members, the XML layout).
#include "qvacom/accounts/users.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/text.h"
#include "tests/accounts/collection_contract.h"

namespace qva::testing {

struct UsersKind {
  using Collection = CQVAUsers;
  using Interface = IQVAUsers;
  using Item = IQVAUser;
  static constexpr const char* kTable = "Users";
  static constexpr const char* kSection = "Users";
  static constexpr const char* kElement = "User";
  static constexpr HRESULT kAbsent = S_FALSE;
  static std::string Held(std::string_view name) { return com::ToLower(name); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Users, CollectionContract, UsersKind);

namespace {

class UsersTest : public CollectionContract<UsersKind> {
 protected:
  void Insert(const std::string& columns, const std::string& values) {
    db_.Run("INSERT INTO Users(" + columns + ") VALUES(" + values + ")");
  }
  com::Bstr Text(IQVAUser* user, HRESULT (STDMETHODCALLTYPE IQVAUser::*get)(BSTR*)) {
    com::Bstr text;
    EXPECT_EQ((user->*get)(text.put()), S_OK);
    return text;
  }
};

// Item answers for a name changed through the property put, the first such user in list
// order winning, and no longer for the old name.
TEST_F(UsersTest, ItemFollowsARenameThroughThePut) {
  Insert("Name, FullName", "'ann', 'A'");
  Insert("Name, FullName", "'bea', 'B'");
  auto users = Load(db_);
  com::ComPtr<IQVAUser> ann, bea, found;
  ASSERT_EQ(users->Item(com::Variant::Str("ann"), ann.put()), S_OK);
  ASSERT_EQ(users->Item(com::Variant::Str("bea"), bea.put()), S_OK);
  EXPECT_EQ(ann->put_Name(com::Bstr("bea").get()), S_OK);
  EXPECT_EQ(users->Item(com::Variant::Str("bea"), found.put()), S_OK);
  EXPECT_EQ(found.get(), ann.get());
  EXPECT_EQ(users->Item(com::Variant::Str("ann"), found.put()), E_FAIL);
  VARIANT_BOOL exists = 0;
  EXPECT_EQ(users->Exists(com::Bstr("ann").get(), &exists), S_FALSE);
  EXPECT_EQ(users->Remove(com::Variant::Str("bea")), S_OK);  // the renamed one: its Clear deletes "bea"
  EXPECT_EQ(users->Item(com::Variant::Str("bea"), found.put()), S_OK);
  EXPECT_EQ(found.get(), bea.get());
}

TEST_F(UsersTest, LoadLowerCasesNamesAndDefaultsRemarks) {
  struct Case {
    const char* name;
    const char* remarks;  // SQL text
    const char* held_name;
    const char* held_remarks;
  } cases[] = {
      {"Alice", "''", "alice", "alice"},
      {"BOB", "NULL", "bob", "bob"},
      {"ÉMILE", "'Paris'", "émile", "Paris"},
      {"carol", "' '", "carol", " "},
  };
  for (const Case& c : cases) Insert("Name, Remarks", std::string("'") + c.name + "', " + c.remarks);
  auto users = Load(db_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    com::ComPtr<IQVAUser> user;
    if (std::string_view(c.name) != c.held_name) {
      EXPECT_EQ(users->Item(com::Variant::Str(c.name), user.put()), E_FAIL);
    }
    ASSERT_EQ(users->Item(com::Variant::Str(c.held_name), user.put()), S_OK);
    EXPECT_EQ(Text(user.get(), &IQVAUser::get_Name).utf8(), c.held_name);
    EXPECT_EQ(Text(user.get(), &IQVAUser::get_Remarks).utf8(), c.held_remarks);
  }
}

TEST_F(UsersTest, IndexFollowsFullNameInTheDatabaseCollation) {
  for (const char* row : {"'u1', 'Zed'", "'u2', 'adam'", "'u3', 'Mike'", "'u4', NULL"}) Insert("Name, FullName", row);
  auto users = Load(db_);
  EXPECT_EQ(Names(users.get()), (std::vector<std::string>{"u4", "u2", "u3", "u1"}));
}

TEST_F(UsersTest, FullNameAndDepartmentQueriesCompareExactly) {
  auto users = Load(db_);
  com::ComPtr<IQVAUser> user;
  EXPECT_EQ(users->Add(com::Bstr("u").get(), user.put()), S_OK);
  EXPECT_EQ(user->put_FullName(com::Bstr("Ann Lee").get()), S_OK);
  EXPECT_EQ(user->put_Dep(com::Bstr("Sales").get()), S_OK);
  struct Case {
    const char* text;
    HRESULT full_name_hr;
    VARIANT_BOOL full_name, in_dep;
  } cases[] = {
      {"Ann Lee", S_OK, 1, 0},  {"ann lee", S_FALSE, 0, 0}, {"Sales", S_FALSE, 0, 1},
      {"sales", S_FALSE, 0, 0}, {"", S_FALSE, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    VARIANT_BOOL value = 7;
    EXPECT_EQ(users->FindByFullname(com::Bstr(c.text).get(), &value), c.full_name_hr);
    EXPECT_EQ(value, c.full_name);
    value = 7;
    EXPECT_EQ(users->HaveUsersInDep(com::Bstr(c.text).get(), &value), S_OK);
    EXPECT_EQ(value, c.in_dep);
  }
}

TEST_F(UsersTest, RemoveFromDepDeletesEveryMemberAndNoOther) {
  for (const char* row : {"'a', 'Sales'", "'b', 'Sales'", "'c', 'sales'", "'d', 'Sales'", "'e', 'Other'"})
    Insert("Name, Dep", row);
  auto users = Load(db_);
  EXPECT_EQ(users->RemoveFromDep(com::Bstr("Sales").get()), S_OK);
  EXPECT_EQ(Names(users.get()), (std::vector<std::string>{"c", "e"}));
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"c", "e"}));
  EXPECT_EQ(users->RemoveFromDep(com::Bstr("Nobody").get()), S_OK);
  EXPECT_EQ(Names(users.get()).size(), 2u);
}

// Save(false) finds its row by the name held now: a user renamed in memory updates nothing.
TEST_F(UsersTest, SaveUpdatesTheRowOfTheCurrentName) {
  auto users = Load(db_);
  auto user = Store(users.get(), "dave");
  EXPECT_EQ(user->put_FullName(com::Bstr("Dave Jones").get()), S_OK);
  EXPECT_EQ(user->Save(VARIANT_FALSE), S_OK);
  EXPECT_EQ(db_.Column("SELECT FullName FROM Users", "FullName"), (std::vector<std::string>{"Dave Jones"}));

  EXPECT_EQ(user->put_Name(com::Bstr("david").get()), S_OK);
  EXPECT_EQ(user->put_FullName(com::Bstr("David Jones").get()), S_OK);
  EXPECT_EQ(user->Save(VARIANT_FALSE), S_OK);
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"dave"}));
  EXPECT_EQ(db_.Column("SELECT FullName FROM Users", "FullName"), (std::vector<std::string>{"Dave Jones"}));
}

// A statement the database refuses is reported, not hidden.
TEST_F(UsersTest, SaveAndClearReportTheDatabaseResult) {
  db_.Run("CREATE TRIGGER refuse BEFORE INSERT ON Users WHEN NEW.Name = 'bad' BEGIN SELECT RAISE(ABORT, 'no'); END");
  db_.Run("CREATE TRIGGER keep BEFORE DELETE ON Users WHEN OLD.Name = 'kept' BEGIN SELECT RAISE(ABORT, 'no'); END");
  auto users = Load(db_);
  com::ComPtr<IQVAUser> bad, kept;
  EXPECT_EQ(users->Add(com::Bstr("bad").get(), bad.put()), S_OK);
  EXPECT_EQ(bad->Save(VARIANT_TRUE), E_FAIL);
  kept = Store(users.get(), "kept");
  EXPECT_EQ(users->Remove(com::Variant::Str("kept")), E_FAIL);
  EXPECT_EQ(Names(users.get()), (std::vector<std::string>{"bad", "kept"}));
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"kept"}));

  auto unbound = com::CreateObject<CQVAUser>();
  ASSERT_TRUE(unbound.ok());
  EXPECT_EQ((*unbound)->Save(VARIANT_TRUE), E_FAIL);
  EXPECT_EQ((*unbound)->Clear(), E_FAIL);
}

// Names in a document are taken as written; the next Init lower-cases them.
TEST_F(UsersTest, LoadXmlKeepsNamesAsWritten) {
  auto users = Load(db_);
  auto document = NewDocument(
      "<Vodrik><Users><User Name=\"Bob\" Remarks=\"\" LastTime=\"2024-05-06 13:45:30\" EnableDate=\"2024-5-6\"/>"
      "</Users></Vodrik>");
  ASSERT_EQ(users->LoadXML(document.get()), S_OK);
  com::ComPtr<IQVAUser> bob;
  ASSERT_EQ(users->Item(com::Variant::Str("Bob"), bob.put()), S_OK);
  EXPECT_EQ(Text(bob.get(), &IQVAUser::get_Remarks).utf8(), "");
  DATE date = 0;
  EXPECT_EQ(bob->get_LastTime(&date), S_OK);
  EXPECT_EQ(date, At(2024, 5, 6, 13, 45, 30));
  EXPECT_EQ(bob->get_EnableDate(&date), S_OK);
  EXPECT_EQ(date, At(2024, 5, 6));
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"Bob"}));

  auto again = Load(db_);
  EXPECT_EQ(Names(again.get()), (std::vector<std::string>{"bob"}));
  com::ComPtr<IQVAUser> loaded;
  ASSERT_EQ(again->Item(com::Variant::Str("bob"), loaded.put()), S_OK);
  EXPECT_EQ(loaded->get_LastTime(&date), S_OK);
  EXPECT_EQ(date, At(2024, 5, 6, 13, 45, 30));
}

TEST_F(UsersTest, SaveXmlWritesOneUserElementWithTheAttributesInLoadOrder) {
  auto users = Load(db_);
  com::ComPtr<IQVAUser> user;
  EXPECT_EQ(users->Add(com::Bstr("eve").get(), user.put()), S_OK);
  EXPECT_EQ(user->put_LastTime(At(2024, 5, 6, 7, 8, 9)), S_OK);
  auto document = NewDocument();
  ASSERT_EQ(users->SaveXML(document.get()), S_OK);
  auto root = dom::Root(document.get());
  ASSERT_TRUE(root.ok());
  auto children = dom::Children(root->get());
  ASSERT_TRUE(children.ok());
  ASSERT_EQ(children->size(), 2u);  // "\n\t", <Users>
  auto section = (*children)[1];
  EXPECT_EQ(dom::Name(section.get()), "Users");
  auto items = dom::Children(section.get());
  ASSERT_TRUE(items.ok());
  ASSERT_EQ(items->size(), 2u);  // "\n\t\t", <User>
  com::Bstr indent;
  EXPECT_EQ((*items)[0]->get_text(indent.put()), S_OK);
  EXPECT_EQ(indent.utf8(), "\n\t\t");
  IXMLDOMNode* element = (*items)[1].get();
  EXPECT_EQ(AttributeNames(element), (std::vector<std::string>{"Name",
                                                               "FullName",
                                                               "Dep",
                                                               "Domain",
                                                               "RDN",
                                                               "AdsPath",
                                                               "Remarks",
                                                               "Enable",
                                                               "EnableDate",
                                                               "Auth",
                                                               "UserType",
                                                               "LastTime",
                                                               "LimitIP",
                                                               "Dirty",
                                                               "AutoResume",
                                                               "ResumeTime",
                                                               "CurIP",
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
  auto last_time = dom::Attribute(element, "LastTime");
  ASSERT_TRUE(last_time.ok() && *last_time);
  EXPECT_EQ((*last_time)->utf8(), "2024-05-06 07:08:09");
  auto enable_date = dom::Attribute(element, "EnableDate");
  ASSERT_TRUE(enable_date.ok() && *enable_date);
  EXPECT_EQ((*enable_date)->utf8(), "1899-12-30");
}

TEST_F(UsersTest, NRefIsTheCurrentReferenceCount) {
  auto users = Load(db_);
  com::ComPtr<IQVAUser> user;
  EXPECT_EQ(users->Add(com::Bstr("f").get(), user.put()), S_OK);
  LONG n = 0;
  EXPECT_EQ(user->get_nRef(&n), S_OK);
  EXPECT_EQ(n, 2);  // the collection's and ours
  com::ComPtr<IQVAUser> again = user;
  EXPECT_EQ(user->get_nRef(&n), S_OK);
  EXPECT_EQ(n, 3);
}

}  // namespace
}  // namespace qva::testing
