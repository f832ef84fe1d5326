// What every database-backed collection does, run against each of them on a fresh copy of the
// embedded-database template: users_test.cc and deps_test.cc instantiate these typed tests with
// their Kind:
//
//   struct Kind {
//     using Collection, Interface, Item;               // CQVAUsers, IQVAUsers, IQVAUser
//     static constexpr const char* kTable, kSection, kElement;
//     static constexpr HRESULT kAbsent;                 // Exists when no item matches
//     static std::string Held(std::string_view name);   // a stored name as Init holds it
//   };
//
// Included by several test files: gtest's type-parameterised suites are made for that.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "msxml_idl.h"
#include "platform/com/bstr.h"
#include "platform/com/date.h"
#include "platform/com/dispatch.h"
#include "platform/com/variant.h"
#include "platform/msxml/msxml.h"
#include "qvacom/settings/dom.h"
#include "qvacom/storage/database.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"
#include "qvacom_idl.h"
#include "tests/support/dom_attributes.h"
#include "tests/support/temp_dir.h"

namespace qva::testing {

inline DATE At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return *com::CivilToDate({y, mo, d, h, mi, s});
}

// A fresh copy of Vodrik.ntt, opened through the database object.
class AccountDatabase {
 public:
  AccountDatabase() {
    file_ = dir_.path() / "Vodrik_e.ntf";
    std::filesystem::copy_file(std::filesystem::path(QVA_TEMPLATE_DIR) / "Vodrik.ntt", file_);
    auto made = com::CreateObject<CQVADataBase>();
    EXPECT_TRUE(made.ok());
    db_ = *made;
    EXPECT_EQ(db_->OpenAccess(com::Bstr(file_.string()).get()), S_OK);
  }
  IQVADataBase* get() const { return db_.get(); }

  void Run(const std::string& statement) const {
    EXPECT_EQ(db_->Execute(com::Bstr(statement).get()), S_OK) << statement;
  }

  // Column `column` (as text) of every row `statement` gives, in its order.
  std::vector<std::string> Column(const std::string& statement, const char* column) const {
    com::ComPtr<IUnknown> unknown;
    com::ComPtr<_Connection> connection;
    EXPECT_EQ(db_->get_Connection(unknown.put()), S_OK);
    EXPECT_EQ(unknown.As(&connection), S_OK);
    CRecordset rs(connection.get());
    std::vector<std::string> out;
    if (!rs.OpenStatement(nullptr, statement, CRecordset::kText)) {
      ADD_FAILURE() << rs.last_error_text();
      return out;
    }
    VARIANT_BOOL eof = VARIANT_TRUE;
    while (SUCCEEDED(rs.recordset()->get_EOF(&eof)) && !eof) {
      std::string text;
      EXPECT_TRUE(rs.GetString(column, &text)) << rs.last_error_text();
      out.push_back(text);
      EXPECT_EQ(rs.recordset()->MoveNext(), S_OK);
    }
    return out;
  }

 private:
  TempDir dir_;
  std::filesystem::path file_;
  com::ComPtr<CQVADataBase> db_;
};

// A new DOM document whose document element is <Vodrik>, or parsed from `xml`.
inline com::ComPtr<IXMLDOMDocument> NewDocument(std::string_view xml = "<Vodrik/>") {
  com::ComPtr<IXMLDOMDocument> document;
  EXPECT_EQ(msxml::CreateDocument(document.put()), S_OK);
  VARIANT_BOOL ok = VARIANT_FALSE;
  EXPECT_EQ(document->loadXML(com::Bstr(xml).get(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE) << xml;
  return document;
}

// The names of an element's attributes, in document order.
inline std::vector<std::string> AttributeNames(IXMLDOMNode* element) {
  std::vector<std::string> out;
  for (const auto& attribute : AttributeNodes(element)) out.push_back(dom::Name(attribute.get()));
  return out;
}

// Late-bound access to an item, as scripts reach it.
inline HRESULT InvokeProperty(IDispatch* d, DISPID id, WORD flags, VARIANT* arg, VARIANT* result) {
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{arg, flags == DISPATCH_PROPERTYPUT ? &put : nullptr, arg ? 1u : 0u,
                    flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
  return d->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, nullptr);
}

// Every property value of an item by name, read through IDispatch, without `skip`.
template <class I>
std::map<std::string, std::string> Properties(I* item, const std::vector<std::string_view>& skip) {
  std::map<std::string, std::string> out;
  for (const com::MemberInfo& m : com::InterfaceInfoOf<I>().members) {
    if (m.kind != com::MemberKind::kPropGet) continue;
    if (std::find(skip.begin(), skip.end(), m.name) != skip.end()) continue;
    com::Variant value;
    EXPECT_EQ(InvokeProperty(item, m.dispid, DISPATCH_PROPERTYGET, nullptr, &value), S_OK) << m.name;
    const VARTYPE vt = value.vt;
    if (vt == VT_DATE) {
      out[std::string(m.name)] = sql::FormatDate(value.date, sql::kDateTimeFormat);
    } else {
      EXPECT_EQ(value.ChangeType(VT_BSTR), S_OK) << m.name;
      out[std::string(m.name)] = std::to_string(vt) + ":" + com::BstrToUtf8(value.bstrVal);
    }
  }
  return out;
}

// Puts a distinct value into every settable property: texts "<tag> <property>", numbers and
// flags from `seed`, dates at midnight (dates are stored by day) except LastTime, which keeps
// its time of day.
template <class I>
void FillProperties(I* item, std::string_view tag, int seed) {
  int n = seed;
  for (const com::MemberInfo& m : com::InterfaceInfoOf<I>().members) {
    if (m.kind != com::MemberKind::kPropPut) continue;
    ++n;
    com::Variant value;
    switch (m.params[0].vt) {
      case VT_BSTR:
        value = com::Variant::Str(std::string(tag) + " " + std::string(m.name));
        break;
      case VT_I4:
        value = com::Variant::I4(n);
        break;
      case VT_R8:
        value = com::Variant::R8(n + 0.25);
        break;
      case VT_BOOL:  // stored as given: a distinct value shows a flag that lands in another's column
        value.vt = VT_BOOL;
        value.boolVal = static_cast<VARIANT_BOOL>(-n);
        break;
      case VT_DATE:
        value = com::Variant::Date(m.name == "LastTime" ? At(2024, 5, 6, 13, 45, seed % 60) : At(2024, 1, 1 + n % 28));
        break;
      default:
        ADD_FAILURE() << m.name << " has an unexpected type " << m.params[0].vt;
    }
    EXPECT_EQ(InvokeProperty(item, m.dispid, DISPATCH_PROPERTYPUT, &value, nullptr), S_OK) << m.name;
  }
}

template <class Kind>
class CollectionContract : public ::testing::Test {
 protected:
  using Collection = typename Kind::Collection;
  using Interface = typename Kind::Interface;
  using Item = typename Kind::Item;

  // A new collection, Init-ed on `db`.
  com::ComPtr<Collection> Load(const AccountDatabase& db) {
    auto made = com::CreateObject<Collection>();
    EXPECT_TRUE(made.ok());
    EXPECT_EQ((*made)->Init(db.get()), S_OK);
    return *made;
  }
  // Add, then Save(true).
  com::ComPtr<Item> Store(Interface* collection, std::string_view name) {
    com::ComPtr<Item> item;
    EXPECT_EQ(collection->Add(com::Bstr(name).get(), item.put()), S_OK);
    EXPECT_EQ(item->Save(VARIANT_TRUE), S_OK) << name;
    return item;
  }
  std::vector<std::string> Names(Interface* collection) {
    LONG n = 0;
    EXPECT_EQ(collection->get_Count(&n), S_OK);
    std::vector<std::string> out;
    for (LONG i = 0; i < n; ++i) {
      com::ComPtr<Item> item;
      EXPECT_EQ(collection->Index(com::Variant::I4(i), item.put()), S_OK);
      com::Bstr name;
      EXPECT_EQ(item->get_Name(name.put()), S_OK);
      out.push_back(name.utf8());
    }
    return out;
  }
  std::vector<std::string> StoredNames() {
    return db_.Column(std::string("SELECT Name FROM ") + Kind::kTable + " ORDER BY id", "Name");
  }
  HRESULT Lookup(Interface* collection, const VARIANT& v, com::ComPtr<Item>* out) {
    return collection->Item(v, out->put());
  }

  AccountDatabase db_;
};

TYPED_TEST_SUITE_P(CollectionContract);

// A name stored by Add and Save(true) comes back at the next Init, held as the kind holds
// stored names, with its values (doubles rounded to two decimals) and its Remarks defaulting to
// the held name.
TYPED_TEST_P(CollectionContract, AddedAndSavedItemsLoadAtInit) {
  const char* names[] = {"Carol", "o'brien", "Émile Zola", "x'); DELETE FROM Users; --"};
  auto first = this->Load(this->db_);
  for (const char* name : names) {
    auto item = this->Store(first.get(), name);
    EXPECT_EQ(item->put_TimeLimit(1.234), S_OK);
    EXPECT_EQ(item->Save(VARIANT_FALSE), S_OK);
  }
  auto second = this->Load(this->db_);
  LONG count = 0;
  EXPECT_EQ(second->get_Count(&count), S_OK);
  EXPECT_EQ(count, 4);
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const std::string held = TypeParam::Held(name);
    com::ComPtr<typename TypeParam::Item> item;
    ASSERT_EQ(this->Lookup(second.get(), com::Variant::Str(held), &item), S_OK);
    double limit = 0;
    EXPECT_EQ(item->get_TimeLimit(&limit), S_OK);
    EXPECT_EQ(limit, 1.23);
    com::Bstr remarks;
    EXPECT_EQ(item->get_Remarks(remarks.put()), S_OK);
    EXPECT_EQ(remarks.utf8(), held);
  }
}

TYPED_TEST_P(CollectionContract, ItemComparesTheNameExactly) {
  const char* const long_name = "Alice of a name past nineteen bytes";  // kept out of a slot's inline bytes
  for (const char* row : {"Alice", "42", "Zoë", long_name})
    this->db_.Run(std::string("INSERT INTO ") + TypeParam::kTable + "(Name) VALUES('" + row + "')");
  auto collection = this->Load(this->db_);
  const std::string alice = TypeParam::Held("Alice");
  const std::string other_case = alice == "Alice" ? "alice" : "Alice";
  struct Case {
    com::Variant v;
    const char* found;  // nullptr: E_FAIL
  } cases[] = {
      {com::Variant::Str(alice), "Alice"},
      {com::Variant::Str(other_case), nullptr},
      {com::Variant::Str(TypeParam::Held("Zoë")), "Zoë"},
      {com::Variant::Str("Zoe"), nullptr},
      {com::Variant::I4(42), "42"},  // coerced to the text "42"
      {com::Variant::Str(alice + " "), nullptr},
      {com::Variant::Str(TypeParam::Held(long_name)), long_name},
      {com::Variant::Str(TypeParam::Held(long_name) + "!"), nullptr},
      {com::Variant(), nullptr},  // empty: the empty name
  };
  for (const Case& c : cases) {
    com::ComPtr<typename TypeParam::Item> item;
    const HRESULT hr = this->Lookup(collection.get(), c.v, &item);
    if (!c.found) {
      EXPECT_EQ(hr, E_FAIL);
      EXPECT_FALSE(item);
      continue;
    }
    ASSERT_EQ(hr, S_OK) << c.found;
    com::Bstr name;
    EXPECT_EQ(item->get_Name(name.put()), S_OK);
    EXPECT_EQ(name.utf8(), TypeParam::Held(c.found));
  }
}

TYPED_TEST_P(CollectionContract, IndexIsAPositionWithinTheList) {
  auto collection = this->Load(this->db_);
  com::ComPtr<typename TypeParam::Item> a, b;
  EXPECT_EQ(collection->Add(com::Bstr("a").get(), a.put()), S_OK);
  EXPECT_EQ(collection->Add(com::Bstr("b").get(), b.put()), S_OK);
  com::Variant text_one = com::Variant::Str("1");
  com::Variant not_a_number = com::Variant::Str("one");
  struct Case {
    com::Variant v;
    HRESULT hr;
    typename TypeParam::Item* item;
  } cases[] = {
      {com::Variant::I4(0), S_OK, a.get()},          {com::Variant::I4(1), S_OK, b.get()},
      {com::Variant::I2(1), S_OK, b.get()},          {text_one, S_OK, b.get()},
      {com::Variant::R8(1.0), S_OK, b.get()},        {com::Variant::I4(2), E_INVALIDARG, nullptr},
      {com::Variant::I4(-1), E_INVALIDARG, nullptr}, {not_a_number, E_INVALIDARG, nullptr},
  };
  for (const Case& c : cases) {
    com::ComPtr<typename TypeParam::Item> item;
    EXPECT_EQ(collection->Index(c.v, item.put()), c.hr);
    EXPECT_EQ(item.get(), c.item);
  }
}

TYPED_TEST_P(CollectionContract, AddTwiceGivesTwoItemsAndItemFindsTheFirst) {
  auto collection = this->Load(this->db_);
  com::ComPtr<typename TypeParam::Item> first, second, found;
  EXPECT_EQ(collection->Add(com::Bstr("twin").get(), first.put()), S_OK);
  EXPECT_EQ(collection->Add(com::Bstr("twin").get(), second.put()), S_OK);
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(this->Names(collection.get()), (std::vector<std::string>{"twin", "twin"}));
  EXPECT_EQ(this->Lookup(collection.get(), com::Variant::Str("twin"), &found), S_OK);
  EXPECT_EQ(found.get(), first.get());
  EXPECT_TRUE(this->StoredNames().empty());  // Add writes nothing
}

// Remove deletes the row at once; an enumerator taken before still yields the item.
TYPED_TEST_P(CollectionContract, RemoveDeletesTheRowButNotFromAnEnumerator) {
  auto collection = this->Load(this->db_);
  EXPECT_EQ(collection->Remove(com::Variant::Str("anyone")), E_FAIL);  // empty
  for (const char* name : {"keep", "o'neil", "last"}) this->Store(collection.get(), name);

  com::ComPtr<IUnknown> unknown;
  EXPECT_EQ(collection->get__NewEnum(unknown.put()), S_OK);
  com::ComPtr<IEnumVARIANT> before;
  ASSERT_EQ(unknown.As(&before), S_OK);

  EXPECT_EQ(collection->Remove(com::Variant::Str("o'neil")), S_OK);
  EXPECT_EQ(collection->Remove(com::Variant::Str("O'NEIL")), E_FAIL);
  EXPECT_EQ(collection->Remove(com::Variant::Str("nobody")), E_FAIL);
  EXPECT_EQ(this->Names(collection.get()), (std::vector<std::string>{"keep", "last"}));
  EXPECT_EQ(this->StoredNames(), (std::vector<std::string>{"keep", "last"}));
  EXPECT_EQ(this->Names(this->Load(this->db_).get()).size(), 2u);

  std::vector<std::string> enumerated;
  com::Variant v;
  while (before->Next(1, v.put(), nullptr) == S_OK) {
    com::ComPtr<typename TypeParam::Item> item;
    ASSERT_EQ(v.vt, VT_DISPATCH);
    ASSERT_EQ(v.pdispVal->QueryInterface(TypeParam::Item::iid, item.put_void()), S_OK);
    com::Bstr name;
    EXPECT_EQ(item->get_Name(name.put()), S_OK);
    enumerated.push_back(name.utf8());
  }
  EXPECT_EQ(enumerated, (std::vector<std::string>{"keep", "o'neil", "last"}));
}

TYPED_TEST_P(CollectionContract, ExistsAnswersOneOrItsAbsentCode) {
  auto collection = this->Load(this->db_);
  com::ComPtr<typename TypeParam::Item> item;
  EXPECT_EQ(collection->Add(com::Bstr("Present").get(), item.put()), S_OK);
  struct Case {
    const char* name;
    HRESULT hr;
    VARIANT_BOOL value;
  } cases[] = {
      {"Present", S_OK, 1},
      {"present", TypeParam::kAbsent, 0},
      {"Absent", TypeParam::kAbsent, 0},
      {"", TypeParam::kAbsent, 0},
  };
  for (const Case& c : cases) {
    VARIANT_BOOL value = 7;
    EXPECT_EQ(collection->Exists(com::Bstr(c.name).get(), &value), c.hr) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
  }
}

// Reload refreshes held items from their rows, keeping Enable and EnableDate, and neither adds
// rows nor drops items.
TYPED_TEST_P(CollectionContract, ReloadRefreshesHeldItemsOnly) {
  auto writer = this->Load(this->db_);
  auto held = this->Store(writer.get(), "one");
  EXPECT_EQ(held->put_Enable(VARIANT_TRUE), S_OK);
  EXPECT_EQ(held->put_EnableDate(At(2024, 2, 3)), S_OK);
  EXPECT_EQ(held->Save(VARIANT_FALSE), S_OK);

  auto collection = this->Load(this->db_);
  this->db_.Run(std::string("UPDATE ") + TypeParam::kTable +
                " SET Enable = 0, EnableDate = '2020-01-01', TimeLeft = 9.5 WHERE Name = 'one'");
  this->db_.Run(std::string("INSERT INTO ") + TypeParam::kTable + "(Name) VALUES('newcomer')");
  com::ComPtr<typename TypeParam::Item> gone;
  EXPECT_EQ(collection->Add(com::Bstr("unsaved").get(), gone.put()), S_OK);

  EXPECT_EQ(collection->Reload(), S_OK);
  com::ComPtr<typename TypeParam::Item> item;
  ASSERT_EQ(this->Lookup(collection.get(), com::Variant::Str("one"), &item), S_OK);
  VARIANT_BOOL enable = 0;
  DATE enable_date = 0;
  double left = 0;
  EXPECT_EQ(item->get_Enable(&enable), S_OK);
  EXPECT_EQ(item->get_EnableDate(&enable_date), S_OK);
  EXPECT_EQ(item->get_TimeLeft(&left), S_OK);
  EXPECT_EQ(enable, VARIANT_TRUE);
  EXPECT_EQ(enable_date, At(2024, 2, 3));
  EXPECT_EQ(left, 9.5);
  EXPECT_EQ(this->Names(collection.get()), (std::vector<std::string>{"one", "unsaved"}));
  EXPECT_EQ(this->Names(this->Load(this->db_).get()).size(), 2u);  // Init finds the newcomer
}

// SaveXML into a fresh document, then LoadXML into a fresh database: the same items, in the same
// order, with the same values, in memory and in the table.
TYPED_TEST_P(CollectionContract, SaveXmlThenLoadXmlReadsBackEqual) {
  auto source = this->Load(this->db_);
  for (int i = 0; i < 2; ++i) {
    com::ComPtr<typename TypeParam::Item> item;
    const com::Bstr name(TypeParam::Held(i == 0 ? "Zed" : "Adam"));
    EXPECT_EQ(source->Add(name.get(), item.put()), S_OK);
    EXPECT_EQ(item->Save(VARIANT_TRUE), S_OK);
    FillProperties(item.get(), i == 0 ? "first" : "second", 100 * i);
    EXPECT_EQ(item->put_Name(name.get()), S_OK);
    EXPECT_EQ(item->Save(VARIANT_FALSE), S_OK);
  }
  // The values as the UPDATE stored them; LoadXML then INSERTs them into the other database.
  source = this->Load(this->db_);
  auto document = NewDocument();
  ASSERT_EQ(source->SaveXML(document.get()), S_OK);

  AccountDatabase other;
  auto target = this->Load(other);
  ASSERT_EQ(target->LoadXML(document.get()), S_OK);
  auto reloaded = this->Load(other);

  const std::vector<std::string_view> skip = {"nRef", "StatusChange", "DisplayName"};
  LONG count = 0;
  EXPECT_EQ(source->get_Count(&count), S_OK);
  ASSERT_EQ(count, 2);
  for (auto* copy : {target.get(), reloaded.get()}) {
    EXPECT_EQ(this->Names(copy), this->Names(source.get()));
    for (LONG i = 0; i < count; ++i) {
      com::ComPtr<typename TypeParam::Item> want, got;
      ASSERT_EQ(source->Index(com::Variant::I4(i), want.put()), S_OK);
      ASSERT_EQ(copy->Index(com::Variant::I4(i), got.put()), S_OK);
      EXPECT_EQ(Properties(got.get(), skip), Properties(want.get(), skip));
    }
  }

  auto section = dom::Section(document.get(), TypeParam::kSection);
  ASSERT_TRUE(section.ok() && *section);
  auto elements = dom::ChildElements(section->get());
  ASSERT_TRUE(elements.ok());
  ASSERT_EQ(elements->size(), 2u);
  EXPECT_EQ(dom::Name((*elements)[0].get()), TypeParam::kElement);
}

// A document the table cannot take whole changes neither the table nor the collection.
TYPED_TEST_P(CollectionContract, LoadXmlThatFailsChangesNothing) {
  auto writer = this->Load(this->db_);
  for (const char* name : {"keep1", "keep2"}) this->Store(writer.get(), name);
  this->db_.Run(std::string("CREATE TRIGGER refuse BEFORE INSERT ON ") + TypeParam::kTable +
                " WHEN NEW.Name = 'bad' BEGIN SELECT RAISE(ABORT, 'refused'); END");
  auto collection = this->Load(this->db_);
  com::ComPtr<typename TypeParam::Item> held;
  ASSERT_EQ(collection->Index(com::Variant::I4(0), held.put()), S_OK);

  const std::string section = TypeParam::kSection, element = TypeParam::kElement;
  struct Case {
    std::string xml;
    HRESULT hr;
  } cases[] = {
      {"<Vodrik><" + section + "><" + element + " Name=\"new1\"/><" + element + " Name=\"bad\"/></" + section +
           "></Vodrik>",
       E_FAIL},
      {"<Vodrik><Other><" + element + " Name=\"new1\"/></Other></Vodrik>", E_FAIL},
      {"<Vodrik/>", E_FAIL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    auto document = NewDocument(c.xml);
    EXPECT_EQ(collection->LoadXML(document.get()), c.hr);
    EXPECT_EQ(this->StoredNames(), (std::vector<std::string>{"keep1", "keep2"}));
    EXPECT_EQ(this->Names(collection.get()), (std::vector<std::string>{"keep1", "keep2"}));
    com::ComPtr<typename TypeParam::Item> first;
    ASSERT_EQ(collection->Index(com::Variant::I4(0), first.put()), S_OK);
    EXPECT_EQ(first.get(), held.get());
  }
  EXPECT_EQ(collection->LoadXML(nullptr), E_POINTER);
  EXPECT_EQ(collection->LoadXML(held.get()), E_POINTER);  // not a document

  // Without the refused element the same document replaces everything.
  auto document = NewDocument("<Vodrik><" + section + ">\n\t\t<" + element + " Name=\"new1\"/><!-- note --><" +
                              element + " Name=\"new2\"/></" + section + "></Vodrik>");
  EXPECT_EQ(collection->LoadXML(document.get()), S_OK);
  EXPECT_EQ(this->StoredNames(), (std::vector<std::string>{"new1", "new2"}));
  EXPECT_EQ(this->Names(collection.get()), (std::vector<std::string>{"new1", "new2"}));
}

REGISTER_TYPED_TEST_SUITE_P(CollectionContract, AddedAndSavedItemsLoadAtInit, ItemComparesTheNameExactly,
                            IndexIsAPositionWithinTheList, AddTwiceGivesTwoItemsAndItemFindsTheFirst,
                            RemoveDeletesTheRowButNotFromAnEnumerator, ExistsAnswersOneOrItsAbsentCode,
                            ReloadRefreshesHeldItemsOnly, SaveXmlThenLoadXmlReadsBackEqual,
                            LoadXmlThatFailsChangesNothing);

}  // namespace qva::testing
