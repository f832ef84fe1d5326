// The element set and its lists: what a load reads (and derives for range lists), what Save
// brings into the document, what Remove writes at once, and the export/import round trip.
#include "qvacom/settings/element_set.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/com/errorinfo.h"
#include "platform/com/object.h"
#include "platform/msxml/msxml.h"
#include "qvacom/settings/xml_doc.h"
#include "tests/support/temp_dir.h"

namespace qva {
namespace {

namespace fs = std::filesystem;

struct ItemView {
  std::string value;
  double value1 = 0, value2 = 0;
  bool operator==(const ItemView&) const = default;
};

struct ListView {
  std::string name;
  LONG type = 0;
  std::vector<ItemView> items;
  bool operator==(const ListView&) const = default;
};

std::ostream& operator<<(std::ostream& os, const ListView& l) {
  os << "{" << l.name << "/" << l.type << ":";
  for (const ItemView& i : l.items) os << " [" << i.value << " " << i.value1 << " " << i.value2 << "]";
  return os << "}";
}

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Settings(const std::string& element_set) {
  return "<Vodrik Version=\"Enterprise 3.8\"><Configure/>" + element_set + "</Vodrik>";
}

// The error information's source, or empty when none is set.
std::string ErrorSource() {
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  com::Bstr source;
  info->GetSource(source.put());
  return source.utf8();
}

ItemView ViewOf(IQVAElement* e) {
  ItemView v;
  com::Bstr value;
  e->get_Value(value.put());
  v.value = value.utf8();
  e->get_dbValue1(&v.value1);
  e->get_dbValue2(&v.value2);
  return v;
}

ListView ViewOf(IQVAElements* list) {
  ListView v;
  com::Bstr name;
  list->get_Name(name.put());
  v.name = name.utf8();
  list->get_Type(&v.type);
  LONG count = 0;
  list->get_Count(&count);
  for (LONG i = 0; i < count; ++i) {
    com::ComPtr<IQVAElement> e;
    if (list->Index(com::Variant::I4(i), e.put()) == S_OK) v.items.push_back(ViewOf(e.get()));
  }
  return v;
}

std::vector<ListView> ViewOf(IQVAElementSet* set) {
  std::vector<ListView> out;
  LONG count = 0;
  set->get_Count(&count);
  for (LONG i = 0; i < count; ++i) {
    com::ComPtr<IQVAElements> list;
    if (set->Index(com::Variant::I4(i), list.put()) == S_OK) out.push_back(ViewOf(list.get()));
  }
  return out;
}

// The lists as the document holds them ("ElementSet" of `document`), item numbers left 0.
std::vector<ListView> DocumentLists(IXMLDOMDocument* document) {
  std::vector<ListView> out;
  auto section = dom::Section(document, "ElementSet");
  if (!section.ok() || !*section) return out;
  const std::vector<dom::Node> elements = dom::ChildElements(section->get()).value();
  for (const dom::Node& element : elements) {
    ListView v;
    v.name = dom::RequiredAttribute(element.get(), "Name")->utf8();
    v.type = std::stoi(dom::RequiredAttribute(element.get(), "Type")->utf8());
    const std::vector<dom::Node> items = dom::ChildElements(element.get()).value();
    for (const dom::Node& item : items) v.items.push_back({dom::RequiredAttribute(item.get(), "Value")->utf8()});
    out.push_back(std::move(v));
  }
  return out;
}

// Names and values only: what a document holds of a set.
std::vector<ListView> WithoutNumbers(std::vector<ListView> lists) {
  for (ListView& l : lists)
    for (ItemView& i : l.items) i.value1 = i.value2 = 0;
  return lists;
}

class ElementSetTest : public ::testing::Test {
 protected:
  void SetUp() override { com::ClearError(); }

  // A wrapper over a settings file holding `xml`, written to `name` in the test folder.
  com::ComPtr<IQVAXMLDoc> OpenDocument(const std::string& xml, const std::string& name = "vodrik_e.xml") {
    WriteFile(dir_.path() / name, xml);
    return Reopen(name);
  }
  com::ComPtr<IQVAXMLDoc> Reopen(const std::string& name = "vodrik_e.xml") {
    com::ComPtr<IQVAXMLDoc> doc(com::CreateObject<CQVAXMLDoc>().value().get());
    EXPECT_EQ(doc->Open(com::Bstr((dir_.path() / name).string()).get()), S_OK);
    return doc;
  }
  static com::ComPtr<IQVAElementSet> NewSet() {
    return com::ComPtr<IQVAElementSet>(com::CreateObject<CQVAElementSet>().value().get());
  }
  // A set initialised over `doc`; the Init result must be S_OK.
  static com::ComPtr<IQVAElementSet> SetOver(IQVAXMLDoc* doc) {
    auto set = NewSet();
    EXPECT_EQ(set->Init(doc), S_OK);
    return set;
  }
  static dom::Document Dom(IQVAXMLDoc* doc) { return dom::DocumentOfWrapper(doc).value(); }
  // The lists the settings file on disk holds, read through a fresh wrapper and set.
  std::vector<ListView> FileLists() { return ViewOf(SetOver(Reopen().get()).get()); }

  testing::TempDir dir_;
};

// ---- loading ----

struct RangeCase {
  const char* name;
  LONG type;
  const char* text;
  double value1, value2;
};

class RangeTest : public ElementSetTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeTest, LoadDerivesTheNumbersOfRangeListsOnly) {
  const RangeCase& c = GetParam();
  auto doc = OpenDocument(Settings("<ElementSet><Element Name=\"r\" Type=\"" + std::to_string(c.type) +
                                   "\"><Item Value=\"" + c.text + "\"/></Element></ElementSet>"));
  auto set = SetOver(doc.get());
  const std::vector<ListView> lists = ViewOf(set.get());
  ASSERT_EQ(lists.size(), 1u);
  ASSERT_EQ(lists[0].items.size(), 1u);
  EXPECT_EQ(lists[0].items[0].value, c.text);
  EXPECT_NEAR(lists[0].items[0].value1, c.value1, 1e-7);
  EXPECT_NEAR(lists[0].items[0].value2, c.value2, 1e-7);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RangeTest,
    ::testing::Values(
        RangeCase{"OfficeHours", 6, "08:30 - 17:45", 8.30, 17.45},
        RangeCase{"ShortFieldsNoBlanks", 6, "8:5-9:07", 8.05, 9.07}, RangeCase{"WholeDay", 6, " 0:00 -  24:00", 0, 24},
        RangeCase{"TrailingTextIgnored", 6, "08:30 - 17:45 weekdays", 8.30, 17.45},
        RangeCase{"NoEnd", 6, "08:30", 0, 0}, RangeCase{"EndCutShort", 6, "08:30 - 17:", 0, 0},
        RangeCase{"EndsInsideAField", 6, "08:3", 0, 0}, RangeCase{"ThreeDigitHour", 6, "123:00 - 13:00", 0, 0},
        RangeCase{"Letters", 6, "ab:cd - ef:gh", 0, 0}, RangeCase{"Signed", 6, "-8:30 - 17:45", 0, 0},
        RangeCase{"EmptyTime", 6, "", 0, 0}, RangeCase{"AddressInTimeList", 6, "192.168.1.10 - 192.168.1.20", 0, 0},
        RangeCase{"AddressRange", 7, "192.168.1.10 - 192.168.1.20", 192168001.010, 192168001.020},
        RangeCase{"AddressBlanksAroundDash", 7, "10.0.0.1   -10.0.0.9", 10000000.001, 10000000.009},
        RangeCase{"AddressOneWord", 7, "10.0.0.1-10.0.0.9", 0, 0}, RangeCase{"AddressNoEnd", 7, "10.0.0.1 - ", 0, 0},
        RangeCase{"AddressByteTooLarge", 7, "10.0.0.256 - 10.0.0.9", 0, 0},
        RangeCase{"AddressThreeParts", 7, "1.2.3 - 1.2.3.4", 0, 0},
        RangeCase{"AddressJunkAfterEnd", 7, "1.2.3.4 - 1.2.3.5x", 0, 0},
        RangeCase{"TimeInAddressList", 7, "08:30 - 17:45", 0, 0},
        RangeCase{"OtherTypeKeepsText", 3, "08:30 - 17:45", 0, 0},
        RangeCase{"OtherTypeAddress", 8, "192.168.1.10 - 192.168.1.20", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ElementSetTest, InitLoadsListsAndItemsInDocumentOrder) {
  auto doc = OpenDocument(
      Settings("<ElementSet>\n\t\t<Element Name=\"sites\" Type=\"0\"><Item Value=\"*.example.com\"/><Item Value=\"b\"/>"
               "</Element><!-- kept for later --><Element Name=\"empty\" Type=\" 12abc\"/>"
               "<Element Name=\"sites\" Type=\"4\"><Item Value=\"\"/></Element></ElementSet>"));
  auto set = SetOver(doc.get());
  const std::vector<ListView> expected = {
      {"sites", 0, {{"*.example.com"}, {"b"}}},
      {"empty", 12, {}},
      {"sites", 4, {{""}}},
  };
  EXPECT_EQ(ViewOf(set.get()), expected);
}

struct LoadFailureCase {
  const char* name;
  std::string element_set;  // the document's content after "Configure"
  HRESULT hr;
  size_t lists_kept;  // lists loaded before the failure stay
};

class LoadFailureTest : public ElementSetTest, public ::testing::WithParamInterface<LoadFailureCase> {};

TEST_P(LoadFailureTest, InitRaisesTheFailureWithErrorInfo) {
  auto doc = OpenDocument(Settings(GetParam().element_set));
  auto set = NewSet();
  EXPECT_EQ(set->Init(doc.get()), GetParam().hr);
  EXPECT_FALSE(ErrorSource().empty());
  EXPECT_EQ(ViewOf(set.get()).size(), GetParam().lists_kept);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, LoadFailureTest,
    ::testing::Values(
        LoadFailureCase{"NoElementSet", "", E_FAIL, 0},
        LoadFailureCase{"ElementSetNotAtTopLevel", "<Other><ElementSet/></Other>", E_FAIL, 0},
        LoadFailureCase{"ElementWithoutName", "<ElementSet><Element Type=\"3\"/></ElementSet>", E_POINTER, 0},
        LoadFailureCase{"ElementWithoutType",
                        "<ElementSet><Element Name=\"a\" Type=\"1\"/><Element Name=\"b\"/></ElementSet>", E_POINTER, 1},
        LoadFailureCase{"ItemWithoutValue",
                        "<ElementSet><Element Name=\"a\" Type=\"1\"><Item Value=\"x\"/><Item/></Element></ElementSet>",
                        E_POINTER, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ElementSetTest, InitFailsWithoutAnOpenDocument) {
  auto set = NewSet();
  EXPECT_EQ(set->Init(nullptr), E_FAIL);
  com::ComPtr<IQVAXMLDoc> unopened(com::CreateObject<CQVAXMLDoc>().value().get());
  EXPECT_EQ(set->Init(unopened.get()), E_FAIL);
  EXPECT_FALSE(ErrorSource().empty());
}

// ---- lookup ----

TEST_F(ElementSetTest, IndexOutsideTheListIsInvalidArgument) {
  auto doc =
      OpenDocument(Settings("<ElementSet><Element Name=\"a\" Type=\"1\"><Item Value=\"x\"/></Element></ElementSet>"));
  auto set = SetOver(doc.get());
  com::ComPtr<IQVAElements> list;
  ASSERT_EQ(set->Index(com::Variant::I4(0), list.put()), S_OK);
  for (LONG position : {-1, 1, INT32_MAX}) {
    com::ComPtr<IQVAElements> none;
    EXPECT_EQ(set->Index(com::Variant::I4(position), none.put()), E_INVALIDARG) << position;
    EXPECT_FALSE(none);
    com::ComPtr<IQVAElement> no_item;
    EXPECT_EQ(list->Index(com::Variant::I4(position), no_item.put()), E_INVALIDARG) << position;
    EXPECT_FALSE(no_item);
  }
}

TEST_F(ElementSetTest, ExistsIgnoresLetterCaseAndItemDoesNot) {
  auto doc =
      OpenDocument(Settings("<ElementSet><Element Name=\"abc\" Type=\"5\"/><Element Name=\"x1\" Type=\"2\"/>"
                            "<Element Name=\"\xC3\x84rger\" Type=\"5\"/></ElementSet>"));
  auto set = SetOver(doc.get());
  struct Case {
    const char* name;
    LONG type;
    bool exists;
    HRESULT item;
  };
  const Case cases[] = {
      {"abc", 5, true, S_OK},
      {"ABC", 5, true, E_FAIL},
      {"abc", 6, false, E_FAIL},
      {"ab", 5, false, E_FAIL},
      {"x1", 2, true, S_OK},
      {"x", 12, false, E_FAIL},  // name and type are not run together
      {"\xC3\xA4RGER", 5, true, E_FAIL},
  };
  for (const Case& c : cases) {
    VARIANT_BOOL exists = 0;
    EXPECT_EQ(set->Exists(com::Bstr(c.name).get(), c.type, &exists), S_OK);
    EXPECT_EQ(exists, c.exists ? VARIANT_TRUE : VARIANT_FALSE) << c.name << "/" << c.type;
    com::ComPtr<IQVAElements> list;
    EXPECT_EQ(set->Item(com::Bstr(c.name).get(), c.type, list.put()), c.item) << c.name << "/" << c.type;
    if (c.item == S_OK) {
      ASSERT_TRUE(list);
      EXPECT_EQ(ViewOf(list.get()).name, c.name);
    } else {
      EXPECT_FALSE(list);
    }
  }
}

TEST_F(ElementSetTest, ListExistsComparesValuesExactly) {
  auto doc = OpenDocument(
      Settings("<ElementSet><Element Name=\"a\" Type=\"0\"><Item Value=\"Mail\"/></Element></ElementSet>"));
  auto set = SetOver(doc.get());
  com::ComPtr<IQVAElements> list;
  ASSERT_EQ(set->Index(com::Variant::I4(0), list.put()), S_OK);
  for (auto [value, expected] : {std::pair{"Mail", VARIANT_TRUE}, {"mail", VARIANT_FALSE}, {"Mai", VARIANT_FALSE}}) {
    VARIANT_BOOL exists = 0;
    EXPECT_EQ(list->Exists(com::Bstr(value).get(), &exists), S_OK);
    EXPECT_EQ(exists, expected) << value;
  }
}

// ---- adding and saving ----

TEST_F(ElementSetTest, AddTwiceMakesTwoListsAndItemAnswersTheFirst) {
  auto doc = OpenDocument(Settings("<ElementSet/>"));
  auto set = SetOver(doc.get());
  com::ComPtr<IQVAElements> first, second, found;
  ASSERT_EQ(set->Add(com::Bstr("x").get(), 3, first.put()), S_OK);
  ASSERT_EQ(set->Add(com::Bstr("x").get(), 3, second.put()), S_OK);
  EXPECT_FALSE(first == second);

  const std::vector<ListView> two = {{"x", 3, {}}, {"x", 3, {}}};
  EXPECT_EQ(ViewOf(set.get()), two);
  EXPECT_EQ(DocumentLists(Dom(doc.get()).get()), two);
  ASSERT_EQ(set->Item(com::Bstr("x").get(), 3, found.put()), S_OK);
  EXPECT_TRUE(found == first);
}

TEST_F(ElementSetTest, SaveAddsEachNewItemOnceAndWritesNoFile) {
  const std::string original = Settings(
      "<ElementSet><Element Name=\"hosts\" Type=\"7\"><Item Value=\"10.0.0.1 - 10.0.0.9\"/></Element></ElementSet>");
  auto doc = OpenDocument(original);
  auto set = SetOver(doc.get());
  com::ComPtr<IQVAElements> hosts, times;
  ASSERT_EQ(set->Item(com::Bstr("hosts").get(), 7, hosts.put()), S_OK);
  com::ComPtr<IQVAElement> added;
  ASSERT_EQ(hosts->Add(com::Bstr("10.0.1.1 - 10.0.1.9").get(), added.put()), S_OK);
  EXPECT_EQ(ViewOf(added.get()), (ItemView{"10.0.1.1 - 10.0.1.9"})) << "Add derives no numbers";
  ASSERT_EQ(set->Add(com::Bstr("hours").get(), 6, times.put()), S_OK);
  ASSERT_EQ(times->Add(com::Bstr("08:00 - 12:00").get(), added.put()), S_OK);

  const std::vector<ListView> expected = {
      {"hosts", 7, {{"10.0.0.1 - 10.0.0.9"}, {"10.0.1.1 - 10.0.1.9"}}},
      {"hours", 6, {{"08:00 - 12:00"}}},
  };
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(set->Save(), S_OK) << round;
    EXPECT_EQ(DocumentLists(Dom(doc.get()).get()), expected) << round;
  }
  EXPECT_EQ(ReadFile(dir_.path() / "vodrik_e.xml"), original);

  ASSERT_EQ(doc->Save(), S_OK);
  const std::vector<ListView> loaded = {
      {"hosts",
       7,
       {{"10.0.0.1 - 10.0.0.9", 10000000.001, 10000000.009}, {"10.0.1.1 - 10.0.1.9", 10000001.001, 10000001.009}}},
      {"hours", 6, {{"08:00 - 12:00", 8, 12}}},
  };
  const std::vector<ListView> reread = FileLists();
  ASSERT_EQ(WithoutNumbers(reread), WithoutNumbers(loaded));
  for (size_t l = 0; l < loaded.size(); ++l) {
    for (size_t i = 0; i < loaded[l].items.size(); ++i) {
      EXPECT_NEAR(reread[l].items[i].value1, loaded[l].items[i].value1, 1e-7);
      EXPECT_NEAR(reread[l].items[i].value2, loaded[l].items[i].value2, 1e-7);
    }
  }
}

TEST_F(ElementSetTest, SaveOfAListWithoutItsElementFails) {
  auto doc = OpenDocument(Settings("<ElementSet/>"));
  auto set = SetOver(doc.get());
  com::ComPtr<IQVAElements> list;
  ASSERT_EQ(set->Add(com::Bstr("a").get(), 1, list.put()), S_OK);
  ASSERT_EQ(list->put_Name(com::Bstr("renamed").get()), S_OK);
  EXPECT_EQ(list->Save(), E_FAIL);
  EXPECT_FALSE(ErrorSource().empty());
  // The set's Save makes the Element under the new name first.
  EXPECT_EQ(set->Save(), S_OK);
  EXPECT_EQ(DocumentLists(Dom(doc.get()).get()), (std::vector<ListView>{{"a", 1, {}}, {"renamed", 1, {}}}));
}

// ---- removing ----

TEST_F(ElementSetTest, RemoveWritesTheFileAtOnce) {
  auto doc = OpenDocument(
      Settings("<ElementSet><Element Name=\"a\" Type=\"1\"><Item Value=\"x\"/><Item Value=\"y\"/></Element>"
               "<Element Name=\"a\" Type=\"2\"><Item Value=\"z\"/></Element></ElementSet>"));
  auto set = SetOver(doc.get());
  com::ComPtr<IQVAElements> a1;
  ASSERT_EQ(set->Item(com::Bstr("a").get(), 1, a1.put()), S_OK);

  ASSERT_EQ(a1->Remove(com::Bstr("x").get()), S_OK);
  EXPECT_EQ(FileLists(), (std::vector<ListView>{{"a", 1, {{"y"}}}, {"a", 2, {{"z"}}}}));

  ASSERT_EQ(set->Remove(com::Bstr("a").get(), 2), S_OK);
  EXPECT_EQ(FileLists(), (std::vector<ListView>{{"a", 1, {{"y"}}}}));
  EXPECT_EQ(ViewOf(set.get()), (std::vector<ListView>{{"a", 1, {{"y"}}}}));
}

TEST_F(ElementSetTest, RemoveOfWhatIsNotThereFailsAndWritesNothing) {
  const std::string original =
      Settings("<ElementSet><Element Name=\"a\" Type=\"1\"><Item Value=\"x\"/></Element></ElementSet>");
  auto doc = OpenDocument(original);
  auto set = SetOver(doc.get());
  com::ComPtr<IQVAElements> a1;
  ASSERT_EQ(set->Item(com::Bstr("a").get(), 1, a1.put()), S_OK);

  EXPECT_EQ(set->Remove(com::Bstr("A").get(), 1), E_FAIL);
  EXPECT_EQ(set->Remove(com::Bstr("a").get(), 2), E_FAIL);
  EXPECT_EQ(a1->Remove(com::Bstr("X").get()), E_FAIL);
  EXPECT_FALSE(ErrorSource().empty());
  EXPECT_EQ(ReadFile(dir_.path() / "vodrik_e.xml"), original);
}

TEST_F(ElementSetTest, RemoveAfterAddTakesTheIndentationWithIt) {
  auto doc = OpenDocument(Settings("<ElementSet/>"));
  auto set = SetOver(doc.get());
  com::ComPtr<IQVAElements> a, b;
  ASSERT_EQ(set->Add(com::Bstr("a").get(), 1, a.put()), S_OK);
  ASSERT_EQ(set->Add(com::Bstr("b").get(), 1, b.put()), S_OK);
  ASSERT_EQ(set->Remove(com::Bstr("a").get(), 1), S_OK);
  EXPECT_EQ(ReadFile(dir_.path() / "vodrik_e.xml"),
            Settings("<ElementSet>\n\t\t<Element Name=\"b\" Type=\"1\"/></ElementSet>") + "\n");
}

TEST_F(ElementSetTest, AnEnumeratorKeepsItsSnapshotAfterRemove) {
  auto doc = OpenDocument(Settings("<ElementSet><Element Name=\"a\" Type=\"1\"/></ElementSet>"));
  auto set = SetOver(doc.get());
  com::ComPtr<IUnknown> unknown;
  ASSERT_EQ(set->get__NewEnum(unknown.put()), S_OK);
  com::ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(unknown->QueryInterface(IID_IEnumVARIANT, e.put_void()), S_OK);
  ASSERT_EQ(set->Remove(com::Bstr("a").get(), 1), S_OK);

  com::Variant v;
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(1, &v, &fetched), S_OK);
  ASSERT_EQ(v.vt, VT_DISPATCH);
  com::ComPtr<IQVAElements> list;
  ASSERT_EQ(v.pdispVal->QueryInterface(IID_IQVAElements, list.put_void()), S_OK);
  EXPECT_EQ(ViewOf(list.get()).name, "a");
}

// ---- export and import ----

class ExportTest : public ElementSetTest {
 protected:
  static dom::Document FreshExport() {
    dom::Document target;
    EXPECT_EQ(msxml::CreateDocument(target.put()), S_OK);
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(target->loadXML(com::Bstr("<Vodrik Version=\"Enterprise 3.8\"/>").get(), &ok), S_OK);
    return target;
  }
};

TEST_F(ExportTest, SaveXmlThenLoadXmlReadsBackEqual) {
  auto source_doc = OpenDocument(
      Settings("<ElementSet><Element Name=\"hours\" Type=\"6\"><Item Value=\"08:30 - 17:45\"/></Element>"
               "<Element Name=\"nets\" Type=\"7\"><Item Value=\"192.168.1.10 - 192.168.1.20\"/>"
               "<Item Value=\"10.0.0.1 - 10.0.0.2\"/></Element><Element Name=\"none\" Type=\"2\"/>"
               "<Element Name=\"&lt;&amp;&gt;\" Type=\"0\"><Item Value=\"&quot;a&quot; &amp; b\"/></Element>"
               "</ElementSet>"),
      "source.xml");
  auto source = SetOver(source_doc.get());
  dom::Document exported = FreshExport();
  ASSERT_EQ(source->SaveXML(exported.get()), S_OK);

  auto target_doc = OpenDocument(
      Settings("<ElementSet><Element Name=\"old\" Type=\"1\"><Item Value=\"gone\"/></Element></ElementSet>"));
  auto target = SetOver(target_doc.get());
  ASSERT_EQ(target->LoadXML(exported.get()), S_OK);
  EXPECT_EQ(ViewOf(target.get()), ViewOf(source.get()));
  EXPECT_TRUE(DocumentLists(Dom(target_doc.get()).get()).empty()) << "the own document is cleared";

  // The own document receives the import at the next Save.
  ASSERT_EQ(target->Save(), S_OK);
  ASSERT_EQ(target_doc->Save(), S_OK);
  EXPECT_EQ(FileLists(), ViewOf(source.get()));
}

TEST_F(ExportTest, LoadXmlWithoutElementSetChangesNothing) {
  const std::string original =
      Settings("<ElementSet><Element Name=\"a\" Type=\"1\"><Item Value=\"x\"/></Element></ElementSet>");
  auto doc = OpenDocument(original);
  auto set = SetOver(doc.get());
  const std::vector<ListView> before = ViewOf(set.get());

  dom::Document empty = FreshExport();
  EXPECT_EQ(set->LoadXML(empty.get()), E_FAIL);
  EXPECT_EQ(set->LoadXML(nullptr), E_POINTER);
  EXPECT_EQ(ViewOf(set.get()), before);
  EXPECT_EQ(DocumentLists(Dom(doc.get()).get()), WithoutNumbers(before));
}

TEST_F(ExportTest, ListLoadXmlReplacesItsItemsInMemoryAndDocument) {
  auto doc = OpenDocument(
      Settings("<ElementSet><Element Name=\"a\" Type=\"6\"><Item Value=\"01:00 - 02:00\"/></Element></ElementSet>"));
  auto set = SetOver(doc.get());
  com::ComPtr<IQVAElements> list;
  ASSERT_EQ(set->Item(com::Bstr("a").get(), 6, list.put()), S_OK);

  dom::Document source = FreshExport();
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(source->loadXML(com::Bstr("<E><Item Value=\"03:00 - 04:30\"/></E>").get(), &ok), S_OK);
  auto node = dom::Root(source.get());
  ASSERT_TRUE(node.ok());
  ASSERT_EQ(list->LoadXML(node->get(), source.get()), S_OK);

  EXPECT_EQ(ViewOf(list.get()), (ListView{"a", 6, {{"03:00 - 04:30", 3, 4.3}}}));
  EXPECT_EQ(DocumentLists(Dom(doc.get()).get()), (std::vector<ListView>{{"a", 6, {}}}));
  ASSERT_EQ(list->Save(), S_OK);
  EXPECT_EQ(DocumentLists(Dom(doc.get()).get()), (std::vector<ListView>{{"a", 6, {{"03:00 - 04:30"}}}}));
}

}  // namespace
}  // namespace qva
