// The nine named sets, one typed suite over their traits, on fresh copies of the embedded
// database template: the collection pattern with the sets' statements and names, the entry's
// Save and Clear by the current name, RemoveAll, and the XML exchange.
#include "qvacom/policy/named_set.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/accounts/collection_contract.h"

namespace qva::testing {

// The accounts' contract suite reads account fields (TimeLimit, Enable, Reload) and is not
// instantiated here; this file uses its database, document and dispatch helpers.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CollectionContract);

namespace {

// One entry's texts in field order: Name, the value column(s), Remarks.
using Texts = std::vector<std::string>;

template <class Traits>
class NamedSetTest : public ::testing::Test {
 protected:
  using Set = NamedSet<Traits>;
  using Entry = typename Traits::EntryInterface;

  // "Name", the value column(s), "Remarks": the columns, the XML attributes and the properties.
  static std::vector<std::string> Fields() {
    std::vector<std::string> out{"Name"};
    for (const char* column : Traits::kSet.value_columns)
      if (column) out.push_back(column);
    out.push_back("Remarks");
    return out;
  }
  // Texts for an entry named `name`: "<tag> <field>" for the other fields.
  static Texts Made(std::string_view name, std::string_view tag) {
    Texts out{std::string(name)};
    for (const std::string& field : Fields())
      if (field != "Name") out.push_back(std::string(tag) + " " + field);
    return out;
  }

  com::ComPtr<Set> Load(const AccountDatabase& db) {
    auto made = com::CreateObject<Set>();
    EXPECT_TRUE(made.ok());
    EXPECT_EQ((*made)->Init(db.get()), S_OK);
    return *made;
  }

  // Property access by name, late-bound as scripts do it.
  static DISPID Id(Entry* entry, const std::string& name) {
    com::Bstr wide(name);
    LPOLESTR names[] = {wide.get()};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(entry->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << name;
    return id;
  }
  static void Fill(Entry* entry, const Texts& texts) {
    const std::vector<std::string> fields = Fields();
    ASSERT_EQ(texts.size(), fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
      com::Variant value = com::Variant::Str(texts[i]);
      EXPECT_EQ(InvokeProperty(entry, Id(entry, fields[i]), DISPATCH_PROPERTYPUT, &value, nullptr), S_OK) << fields[i];
    }
  }
  static Texts Read(Entry* entry) {
    Texts out;
    for (const std::string& field : Fields()) {
      com::Variant value;
      EXPECT_EQ(InvokeProperty(entry, Id(entry, field), DISPATCH_PROPERTYGET, nullptr, &value), S_OK) << field;
      EXPECT_EQ(value.vt, VT_BSTR) << field;
      out.push_back(value.vt == VT_BSTR ? com::BstrToUtf8(value.bstrVal) : "");
    }
    return out;
  }

  // Add, fill, Save(true).
  com::ComPtr<Entry> Store(Set* set, const Texts& texts) {
    com::ComPtr<Entry> entry;
    EXPECT_EQ(set->Add(com::Bstr(texts[0]).get(), entry.put()), S_OK);
    Fill(entry.get(), texts);
    EXPECT_EQ(entry->Save(VARIANT_TRUE), S_OK) << texts[0];
    return entry;
  }

  // Every held entry's texts, in list order.
  static std::vector<Texts> Held(Set* set) {
    LONG n = 0;
    EXPECT_EQ(set->get_Count(&n), S_OK);
    std::vector<Texts> out;
    for (LONG i = 0; i < n; ++i) {
      com::ComPtr<Entry> entry;
      EXPECT_EQ(set->Index(com::Variant::I4(i), entry.put()), S_OK);
      out.push_back(Read(entry.get()));
    }
    return out;
  }
  static std::vector<std::string> HeldNames(Set* set) {
    std::vector<std::string> out;
    for (const Texts& texts : Held(set)) out.push_back(texts[0]);
    return out;
  }

  // Every row of the set's table in insertion order, its columns in field order.
  static std::vector<Texts> Rows(const AccountDatabase& db) {
    const std::string select = std::string("SELECT * FROM ") + Traits::kSet.table + " ORDER BY rowid";
    std::vector<Texts> out;
    for (const std::string& field : Fields()) {
      const std::vector<std::string> column = db.Column(select, field.c_str());
      out.resize(column.size());
      for (size_t i = 0; i < column.size(); ++i) out[i].push_back(column[i]);
    }
    return out;
  }
  static std::vector<std::string> RowNames(const AccountDatabase& db) {
    std::vector<std::string> out;
    for (const Texts& row : Rows(db)) out.push_back(row[0]);
    return out;
  }
  // A row written without the set's own statements. The texts hold no single quote.
  static void Insert(const AccountDatabase& db, const Texts& texts) {
    std::string columns, values;
    const std::vector<std::string> fields = Fields();
    for (size_t i = 0; i < fields.size(); ++i) {
      columns += (i ? ", [" : "[") + fields[i] + "]";
      values += (i ? ", '" : "'") + texts[i] + "'";
    }
    db.Run(std::string("INSERT INTO ") + Traits::kSet.table + " (" + columns + ") VALUES (" + values + ")");
  }
  // Makes the database refuse every `when` ("INSERT" or "DELETE") of a row named `name`.
  static void Trigger(const AccountDatabase& db, std::string_view when, std::string_view name) {
    const bool insert = when == "INSERT";
    db.Run(std::string("CREATE TRIGGER refuse_") + std::string(when) + " BEFORE " + std::string(when) + " ON " +
           Traits::kSet.table + " WHEN " + (insert ? "NEW" : "OLD") + ".Name = '" + std::string(name) +
           "' BEGIN SELECT RAISE(ABORT, 'refused'); END");
  }

  AccountDatabase db_;
};

// The nine sets the suite runs on, by their traits; named by their XML set element.
using AllSets = ::testing::Types<ApplicationsTraits, CategoriesTraits, DestaddrsTraits, FiletypesTraits, PortsTraits,
                                 ProtocolsTraits, RulesTraits, SignaturesTraits, ThreatsTraits>;

class SetNames {
 public:
  template <class Traits>
  static std::string GetName(int) {
    return std::string(Traits::kSection);
  }
};

TYPED_TEST_SUITE(NamedSetTest, AllSets, SetNames);

// What Save(true) stored comes back at the next Init with every text, whatever quotes it holds,
// and Init lists the rows in the order of their names.
TYPED_TEST(NamedSetTest, InitLoadsEverySavedTextInNameOrder) {
  auto writer = this->Load(this->db_);
  const std::vector<Texts> stored = {
      this->Made("b", "second"),
      this->Made("o'brien", "it's"),
      this->Made("x'); DELETE FROM Users; --", "--"),
      this->Made("a", "first"),
  };
  for (const Texts& texts : stored) this->Store(writer.get(), texts);
  EXPECT_EQ(this->Rows(this->db_), stored);
  this->Insert(this->db_, this->Made("c", "third"));

  auto loaded = this->Load(this->db_);
  const std::vector<Texts> expected = {this->Made("a", "first"), this->Made("b", "second"), this->Made("c", "third"),
                                       this->Made("o'brien", "it's"), this->Made("x'); DELETE FROM Users; --", "--")};
  EXPECT_EQ(this->Held(loaded.get()), expected);
}

TYPED_TEST(NamedSetTest, ItemComparesTheNameExactly) {
  for (const char* name : {"Alice", "42", "Zoë"}) this->Insert(this->db_, this->Made(name, "v"));
  auto set = this->Load(this->db_);
  com::Variant empty;
  struct Case {
    com::Variant v;
    const char* found;  // nullptr: E_FAIL
  } cases[] = {
      {com::Variant::Str("Alice"), "Alice"},  {com::Variant::Str("alice"), nullptr},
      {com::Variant::Str("Zoë"), "Zoë"},      {com::Variant::Str("Zoe"), nullptr},
      {com::Variant::I4(42), "42"},  // coerced to the text "42"
      {com::Variant::Str("Alice "), nullptr}, {empty, nullptr},
  };
  for (const Case& c : cases) {
    com::ComPtr<typename TestFixture::Entry> entry;
    const HRESULT hr = set->Item(c.v, entry.put());
    if (!c.found) {
      EXPECT_EQ(hr, E_FAIL);
      EXPECT_FALSE(entry);
      continue;
    }
    ASSERT_EQ(hr, S_OK) << c.found;
    EXPECT_EQ(this->Read(entry.get()), this->Made(c.found, "v"));
  }
}

TYPED_TEST(NamedSetTest, IndexIsAPositionWithinTheList) {
  auto set = this->Load(this->db_);
  com::ComPtr<typename TestFixture::Entry> a, b;
  EXPECT_EQ(set->Add(com::Bstr("a").get(), a.put()), S_OK);
  EXPECT_EQ(set->Add(com::Bstr("b").get(), b.put()), S_OK);
  struct Case {
    com::Variant v;
    HRESULT hr;
    typename TestFixture::Entry* entry;
  } cases[] = {
      {com::Variant::I4(0), S_OK, a.get()},
      {com::Variant::I4(1), S_OK, b.get()},
      {com::Variant::Str("1"), S_OK, b.get()},
      {com::Variant::R8(1.0), S_OK, b.get()},
      {com::Variant::I4(2), E_INVALIDARG, nullptr},
      {com::Variant::I4(-1), E_INVALIDARG, nullptr},
      {com::Variant::Str("one"), E_INVALIDARG, nullptr},
  };
  for (const Case& c : cases) {
    com::ComPtr<typename TestFixture::Entry> entry;
    EXPECT_EQ(set->Index(c.v, entry.put()), c.hr);
    EXPECT_EQ(entry.get(), c.entry);
  }
}

// Add writes nothing and does not look for the name; Item then finds the first, and follows a
// rename through the Name property.
TYPED_TEST(NamedSetTest, AddTwiceGivesTwoEntriesAndItemFollowsRenames) {
  auto set = this->Load(this->db_);
  com::ComPtr<typename TestFixture::Entry> first, second, found;
  EXPECT_EQ(set->Add(com::Bstr("twin").get(), first.put()), S_OK);
  EXPECT_EQ(set->Add(com::Bstr("twin").get(), second.put()), S_OK);
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(this->HeldNames(set.get()), (std::vector<std::string>{"twin", "twin"}));
  EXPECT_EQ(set->Item(com::Variant::Str("twin"), found.put()), S_OK);
  EXPECT_EQ(found.get(), first.get());
  EXPECT_TRUE(this->Rows(this->db_).empty());

  EXPECT_EQ(first->put_Name(com::Bstr("single").get()), S_OK);
  EXPECT_EQ(set->Item(com::Variant::Str("twin"), found.put()), S_OK);
  EXPECT_EQ(found.get(), second.get());
  EXPECT_EQ(set->Item(com::Variant::Str("single"), found.put()), S_OK);
  EXPECT_EQ(found.get(), first.get());
}

// Remove deletes every row of the name at once; an enumerator taken before still yields the
// entry.
TYPED_TEST(NamedSetTest, RemoveDeletesTheRowsButNotFromAnEnumerator) {
  auto set = this->Load(this->db_);
  EXPECT_EQ(set->Remove(com::Variant::Str("anyone")), E_FAIL);  // empty
  for (const char* name : {"keep", "o'neil", "last"}) this->Store(set.get(), this->Made(name, "v"));
  this->Insert(this->db_, this->Made("last", "other row"));

  com::ComPtr<IUnknown> unknown;
  EXPECT_EQ(set->get__NewEnum(unknown.put()), S_OK);
  com::ComPtr<IEnumVARIANT> before;
  ASSERT_EQ(unknown.As(&before), S_OK);

  EXPECT_EQ(set->Remove(com::Variant::Str("o'neil")), S_OK);
  EXPECT_EQ(set->Remove(com::Variant::Str("O'NEIL")), E_FAIL);
  EXPECT_EQ(set->Remove(com::Variant::Str("nobody")), E_FAIL);
  EXPECT_EQ(set->Remove(com::Variant::Str("last")), S_OK);
  EXPECT_EQ(this->HeldNames(set.get()), (std::vector<std::string>{"keep"}));
  EXPECT_EQ(this->RowNames(this->db_), (std::vector<std::string>{"keep"}));

  std::vector<std::string> enumerated;
  com::Variant v;
  while (before->Next(1, v.put(), nullptr) == S_OK) {
    com::ComPtr<typename TestFixture::Entry> entry;
    ASSERT_EQ(v.vt, VT_DISPATCH);
    ASSERT_EQ(v.pdispVal->QueryInterface(TestFixture::Entry::iid, entry.put_void()), S_OK);
    enumerated.push_back(this->Read(entry.get())[0]);
  }
  EXPECT_EQ(enumerated, (std::vector<std::string>{"keep", "o'neil", "last"}));
}

TYPED_TEST(NamedSetTest, ExistsAnswersOneOrZeroAndSucceedsEitherWay) {
  auto set = this->Load(this->db_);
  com::ComPtr<typename TestFixture::Entry> entry;
  EXPECT_EQ(set->Add(com::Bstr("Present").get(), entry.put()), S_OK);
  EXPECT_EQ(set->Add(com::Bstr("it's").get(), entry.put()), S_OK);
  struct Case {
    const char* name;
    VARIANT_BOOL value;
  } cases[] = {{"Present", 1}, {"it's", 1}, {"present", 0}, {"Absent", 0}, {"", 0}};
  for (const Case& c : cases) {
    VARIANT_BOOL value = 7;
    EXPECT_EQ(set->Exists(com::Bstr(c.name).get(), &value), S_OK) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
  }
}

// Save(false) updates the rows of the entry's current name: once renamed, it updates nothing,
// until the old row is cleared and the entry inserted again.
TYPED_TEST(NamedSetTest, SaveWithoutAddUpdatesByTheCurrentName) {
  this->Insert(this->db_, this->Made("x", "old"));
  this->Insert(this->db_, this->Made("other", "old"));
  auto set = this->Load(this->db_);
  com::ComPtr<typename TestFixture::Entry> x;
  ASSERT_EQ(set->Item(com::Variant::Str("x"), x.put()), S_OK);

  this->Fill(x.get(), this->Made("x", "it's new"));
  EXPECT_EQ(x->Save(VARIANT_FALSE), S_OK);
  EXPECT_EQ(this->Rows(this->db_), (std::vector<Texts>{this->Made("x", "it's new"), this->Made("other", "old")}));

  this->Fill(x.get(), this->Made("y", "renamed"));
  EXPECT_EQ(x->Save(VARIANT_FALSE), S_OK);
  EXPECT_EQ(this->Rows(this->db_), (std::vector<Texts>{this->Made("x", "it's new"), this->Made("other", "old")}));

  // The way to rename a stored entry: Clear under the old name, put the new one, Save(true).
  EXPECT_EQ(x->put_Name(com::Bstr("x").get()), S_OK);
  EXPECT_EQ(x->Clear(), S_OK);
  EXPECT_EQ(x->put_Name(com::Bstr("y").get()), S_OK);
  EXPECT_EQ(x->Save(VARIANT_TRUE), S_OK);
  EXPECT_EQ(this->Rows(this->db_), (std::vector<Texts>{this->Made("other", "old"), this->Made("y", "renamed")}));
}

// Save(true) twice inserts two rows of the name; one Clear deletes both.
TYPED_TEST(NamedSetTest, SaveWithAddTwiceThenClearDeletesBothRows) {
  auto set = this->Load(this->db_);
  auto entry = this->Store(set.get(), this->Made("dup", "v"));
  EXPECT_EQ(entry->Save(VARIANT_TRUE), S_OK);
  this->Insert(this->db_, this->Made("Other", "v"));
  EXPECT_EQ(this->RowNames(this->db_), (std::vector<std::string>{"dup", "dup", "Other"}));
  EXPECT_EQ(entry->Clear(), S_OK);
  EXPECT_EQ(this->RowNames(this->db_), (std::vector<std::string>{"Other"}));

  // An entry bound to no database writes nothing and says so.
  com::ComPtr<typename TestFixture::Entry> unbound;
  EXPECT_EQ(set->Add(com::Bstr("loose").get(), unbound.put()), S_OK);
  EXPECT_EQ(unbound->Init(nullptr), S_OK);
  EXPECT_EQ(unbound->Save(VARIANT_TRUE), E_FAIL);
  EXPECT_EQ(unbound->Clear(), E_FAIL);
}

// RemoveAll deletes the rows of the held names only and empties the set; a delete the database
// refuses does not stop it, and that entry stays with its row.
TYPED_TEST(NamedSetTest, RemoveAllClearsHeldNamesOnly) {
  for (const char* name : {"a", "stuck", "z"}) this->Insert(this->db_, this->Made(name, "v"));
  this->Store(this->Load(this->db_).get(), this->Made("o'hara", "v"));
  auto set = this->Load(this->db_);
  this->Insert(this->db_, this->Made("late", "v"));  // not held
  this->Trigger(this->db_, "DELETE", "stuck");

  EXPECT_EQ(set->RemoveAll(), S_OK);
  EXPECT_EQ(this->HeldNames(set.get()), (std::vector<std::string>{"stuck"}));
  EXPECT_EQ(this->RowNames(this->db_), (std::vector<std::string>{"stuck", "late"}));

  this->db_.Run("DROP TRIGGER refuse_DELETE");
  EXPECT_EQ(set->RemoveAll(), S_OK);
  EXPECT_TRUE(this->HeldNames(set.get()).empty());
  EXPECT_EQ(this->RowNames(this->db_), (std::vector<std::string>{"late"}));
  EXPECT_EQ(set->RemoveAll(), S_OK);  // empty
}

// SaveXML writes the set element with one entry element per entry, attributes in field order,
// and a line break after the last entry; LoadXML of that document leaves the set and the table as
// they were, and fills another database with the same rows.
TYPED_TEST(NamedSetTest, SaveXmlThenLoadXmlKeepsSetAndTable) {
  const std::vector<Texts> stored = {this->Made("o'b", "it's"), this->Made("a", "<&\"'>"), this->Made("a", "<&\"'>"),
                                     this->Made("Émile", "ü")};
  auto writer = this->Load(this->db_);
  for (const Texts& texts : stored) this->Store(writer.get(), texts);
  auto set = this->Load(this->db_);
  const std::vector<Texts> held = this->Held(set.get());
  ASSERT_EQ(held.size(), 4u);

  auto document = NewDocument();
  ASSERT_EQ(set->SaveXML(document.get()), S_OK);
  auto section = dom::Section(document.get(), TypeParam::kSection);
  ASSERT_TRUE(section.ok() && *section);
  auto children = dom::Children(section->get());
  ASSERT_TRUE(children.ok());
  std::vector<std::string> layout;
  for (const dom::Node& child : *children) {
    if (dom::IsElement(child.get())) {
      layout.push_back("<" + dom::Name(child.get()) + ">");
      EXPECT_EQ(AttributeNames(child.get()), this->Fields());
      continue;
    }
    com::Bstr text;
    EXPECT_EQ(child->get_text(text.put()), S_OK);
    layout.push_back(text.utf8());
  }
  const std::string element = "<" + std::string(TypeParam::kElement) + ">";
  EXPECT_EQ(layout, (std::vector<std::string>{"\n\t\t", element, "\n\t\t", element, "\n\t\t", element, "\n\t\t",
                                              element, "\n\t"}));

  ASSERT_EQ(set->LoadXML(document.get()), S_OK);
  EXPECT_EQ(this->Held(set.get()), held);
  EXPECT_EQ(this->Rows(this->db_), held);  // the rows are inserted again in list order
  EXPECT_EQ(this->Held(this->Load(this->db_).get()), held);

  AccountDatabase other;
  this->Insert(other, this->Made("old", "v"));
  auto target = this->Load(other);
  ASSERT_EQ(target->LoadXML(document.get()), S_OK);
  EXPECT_EQ(this->Held(target.get()), held);
  EXPECT_EQ(this->Rows(other), held);

  // An empty set writes its element and the line break all the same.
  AccountDatabase empty_db;
  auto empty = this->Load(empty_db);
  auto blank = NewDocument();
  ASSERT_EQ(empty->SaveXML(blank.get()), S_OK);
  auto blank_section = dom::Section(blank.get(), TypeParam::kSection);
  ASSERT_TRUE(blank_section.ok() && *blank_section);
  auto blank_children = dom::Children(blank_section->get());
  ASSERT_TRUE(blank_children.ok());
  ASSERT_EQ(blank_children->size(), 1u);
  com::Bstr text;
  EXPECT_EQ((*blank_children)[0]->get_text(text.put()), S_OK);
  EXPECT_EQ(text.utf8(), "\n\t");
}

// A document the table cannot take whole changes neither the table nor the set; so does one
// without the set's element.
TYPED_TEST(NamedSetTest, LoadXmlThatFailsChangesNothing) {
  for (const char* name : {"keep1", "keep2"}) this->Insert(this->db_, this->Made(name, "v"));
  this->Trigger(this->db_, "INSERT", "bad");
  auto set = this->Load(this->db_);
  com::ComPtr<typename TestFixture::Entry> held;
  ASSERT_EQ(set->Index(com::Variant::I4(0), held.put()), S_OK);

  const std::string section(TypeParam::kSection), element(TypeParam::kElement);
  const std::string cases[] = {
      "<Vodrik><" + section + "><" + element + " Name=\"new1\"/><" + element + " Name=\"bad\"/></" + section +
          "></Vodrik>",
      "<Vodrik><Other><" + element + " Name=\"new1\"/></Other></Vodrik>",
      "<Vodrik/>",
  };
  for (const std::string& xml : cases) {
    SCOPED_TRACE(xml);
    EXPECT_EQ(set->LoadXML(NewDocument(xml).get()), E_FAIL);
    EXPECT_EQ(this->RowNames(this->db_), (std::vector<std::string>{"keep1", "keep2"}));
    EXPECT_EQ(this->HeldNames(set.get()), (std::vector<std::string>{"keep1", "keep2"}));
    com::ComPtr<typename TestFixture::Entry> first;
    ASSERT_EQ(set->Index(com::Variant::I4(0), first.put()), S_OK);
    EXPECT_EQ(first.get(), held.get());
  }
  EXPECT_EQ(set->LoadXML(nullptr), E_POINTER);
  EXPECT_EQ(set->LoadXML(held.get()), E_POINTER);  // not a document

  // Non-element children are skipped; a missing attribute reads as empty text.
  EXPECT_EQ(set->LoadXML(NewDocument("<Vodrik><" + section + ">\n\t\t<" + element + " Name=\"new1\"/><!-- note --><" +
                                     element + "/></" + section + "></Vodrik>")
                             .get()),
            S_OK);
  const Texts blank(this->Fields().size());
  Texts new1 = blank;
  new1[0] = "new1";
  EXPECT_EQ(this->Held(set.get()), (std::vector<Texts>{new1, blank}));
  EXPECT_EQ(this->Rows(this->db_), (std::vector<Texts>{new1, blank}));
}

// The set and its entry class are made by their class objects, and a script reaches Add and the
// entry's properties by name.
TYPED_TEST(NamedSetTest, ClassObjectsMakeObjectsScriptsCanDrive) {
  com::ComPtr<IClassFactory> set_class, entry_class;
  ASSERT_EQ(com::MakeClassObject<com::ClassFactory<NamedSet<TypeParam>>>(IID_IClassFactory, set_class.put_void()),
            S_OK);
  ASSERT_EQ(
      com::MakeClassObject<com::ClassFactory<typename TypeParam::Item>>(IID_IClassFactory, entry_class.put_void()),
      S_OK);
  com::ComPtr<IDispatch> set, entry;
  ASSERT_EQ(set_class->CreateInstance(nullptr, IID_IDispatch, set.put_void()), S_OK);
  ASSERT_EQ(entry_class->CreateInstance(nullptr, TestFixture::Entry::iid, entry.put_void()), S_OK);

  com::Bstr init(std::string_view("Init")), add(std::string_view("Add"));
  LPOLESTR names[] = {init.get(), add.get()};
  DISPID ids[2] = {};
  for (int i = 0; i < 2; ++i) ASSERT_EQ(set->GetIDsOfNames(IID_NULL, &names[i], 1, 0, &ids[i]), S_OK);
  com::Variant db = com::Variant::Unknown(this->db_.get());
  DISPPARAMS init_args{&db, nullptr, 1, 0};
  EXPECT_EQ(set->Invoke(ids[0], IID_NULL, 0, DISPATCH_METHOD, &init_args, nullptr, nullptr, nullptr), S_OK);
  com::Variant name = com::Variant::Str("it's"), added;
  DISPPARAMS add_args{&name, nullptr, 1, 0};
  ASSERT_EQ(set->Invoke(ids[1], IID_NULL, 0, DISPATCH_METHOD, &add_args, &added, nullptr, nullptr), S_OK);
  ASSERT_EQ(added.vt, VT_DISPATCH);
  com::ComPtr<typename TestFixture::Entry> made;
  ASSERT_EQ(added.pdispVal->QueryInterface(TestFixture::Entry::iid, made.put_void()), S_OK);
  this->Fill(made.get(), this->Made("it's", "scripted"));
  EXPECT_EQ(made->Save(VARIANT_TRUE), S_OK);
  EXPECT_EQ(this->Rows(this->db_), (std::vector<Texts>{this->Made("it's", "scripted")}));
}

// The threats' second value, Level, goes through the table and the XML exchange like the first.
TEST(ThreatsTest, LevelSurvivesTableAndXml) {
  AccountDatabase db;
  auto threats = *com::CreateObject<CQVAThreats>();
  ASSERT_EQ(threats->Init(db.get()), S_OK);
  com::ComPtr<IQVAThreat> threat;
  ASSERT_EQ(threats->Add(com::Bstr("worm").get(), threat.put()), S_OK);
  EXPECT_EQ(threat->put_Threat(com::Bstr("W32/Worm").get()), S_OK);
  EXPECT_EQ(threat->put_Level(com::Bstr("high").get()), S_OK);
  EXPECT_EQ(threat->Save(VARIANT_TRUE), S_OK);
  EXPECT_EQ(threat->put_Level(com::Bstr("it's severe").get()), S_OK);
  EXPECT_EQ(threat->Save(VARIANT_FALSE), S_OK);
  EXPECT_EQ(db.Column("SELECT Level FROM Threatset", "Level"), (std::vector<std::string>{"it's severe"}));

  auto document = NewDocument();
  ASSERT_EQ(threats->SaveXML(document.get()), S_OK);
  AccountDatabase other;
  auto target = *com::CreateObject<CQVAThreats>();
  ASSERT_EQ(target->Init(other.get()), S_OK);
  ASSERT_EQ(target->LoadXML(document.get()), S_OK);
  com::ComPtr<IQVAThreat> copy;
  ASSERT_EQ(target->Item(com::Variant::Str("worm"), copy.put()), S_OK);
  com::Bstr value, level;
  EXPECT_EQ(copy->get_Threat(value.put()), S_OK);
  EXPECT_EQ(copy->get_Level(level.put()), S_OK);
  EXPECT_EQ(value.utf8(), "W32/Worm");
  EXPECT_EQ(level.utf8(), "it's severe");
  EXPECT_EQ(other.Column("SELECT Level FROM Threatset", "Level"), (std::vector<std::string>{"it's severe"}));
}

}  // namespace
}  // namespace qva::testing
