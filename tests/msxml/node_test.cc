// Building and walking documents: creation, attributes from VARIANTs, element paths, removal,
// enumeration, and node objects that outlive the client's document reference.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/msxml/dom_test_support.h"
#include "tests/support/dom_attributes.h"

namespace msxml::testing {
namespace {

com::ComPtr<IXMLDOMElement> NewElement(IXMLDOMDocument* doc, const char16_t* name) {
  com::ComPtr<IXMLDOMElement> e;
  EXPECT_EQ(doc->createElement(com::Bstr(name).get(), e.put()), S_OK);
  return e;
}

void AppendText(IXMLDOMDocument* doc, IXMLDOMNode* parent, const char16_t* text) {
  com::ComPtr<IXMLDOMText> t;
  ASSERT_EQ(doc->createTextNode(com::Bstr(text).get(), t.put()), S_OK);
  ASSERT_EQ(parent->appendChild(AsNode(t).get(), nullptr), S_OK);
}

std::string Attribute(IXMLDOMElement* e, const char16_t* name) {
  com::Variant v;
  EXPECT_EQ(e->getAttribute(com::Bstr(name).get(), v.put()), S_OK);
  EXPECT_EQ(v.vt, VT_BSTR);
  return v.vt == VT_BSTR ? com::BstrToUtf8(v.bstrVal) : "";
}

com::ComPtr<IXMLDOMNode> Select(IXMLDOMNode* from, const char16_t* path) {
  com::ComPtr<IXMLDOMNode> found;
  EXPECT_EQ(from->selectSingleNode(com::Bstr(path).get(), found.put()), S_OK) << LastErrorDescription();
  return found;
}

TEST_F(DomTest, BuildsAndSavesADocument) {
  auto doc = NewDocument();
  auto root = NewElement(doc.get(), u"Vodrik");
  ASSERT_EQ(AsNode(doc)->appendChild(AsNode(root).get(), nullptr), S_OK);
  // Text nodes next to each other stay separate nodes.
  AppendText(doc.get(), AsNode(root).get(), u"\n\t");
  AppendText(doc.get(), AsNode(root).get(), u"\n\t");
  auto set = NewElement(doc.get(), u"ElementSet");
  com::ComPtr<IXMLDOMNode> appended;
  ASSERT_EQ(AsNode(root)->appendChild(AsNode(set).get(), appended.put()), S_OK);
  EXPECT_EQ(appended, AsNode(set));
  ASSERT_EQ(set->setAttribute(com::Bstr(u"Name").get(), com::Variant::Str(u"a<&\"b")), S_OK);
  AppendText(doc.get(), AsNode(root).get(), u"\n");

  EXPECT_EQ(ChildCount(AsNode(root).get()), 4);
  EXPECT_EQ(Save(doc.get()), "<Vodrik>\n\t\n\t<ElementSet Name=\"a&lt;&amp;&quot;b\"/>\n</Vodrik>\n");
  auto reread = Load(ReadFile(File("out.xml")));
  com::ComPtr<IXMLDOMElement> reread_set;
  ASSERT_EQ(Select(AsNode(Root(reread.get())).get(), u"ElementSet").As(&reread_set), S_OK);
  EXPECT_EQ(Attribute(reread_set.get(), u"Name"), "a<&\"b");
}

TEST_F(DomTest, SetAttributeWritesValuesByThePlatformConversion) {
  struct Case {
    const char16_t* name;
    com::Variant value;
    const char* text;  // null: whatever VariantChangeType makes of the value
  };
  const Case cases[] = {
      {u"double", com::Variant::R8(8.3), "8.3"},
      {u"negative", com::Variant::R8(-0.25), "-0.25"},
      {u"long", com::Variant::I4(-42), "-42"},
      {u"bstr", com::Variant::Str("\xE4\xB8\xAD x"), "\xE4\xB8\xAD x"},
      {u"empty", com::Variant::Str(""), ""},
      {u"bool", com::Variant::Bool(true), nullptr},
      {u"fraction", com::Variant::R8(1.0 / 3), nullptr},
  };
  auto doc = NewDocument();
  auto e = NewElement(doc.get(), u"e");
  for (const Case& c : cases) {
    ASSERT_EQ(e->setAttribute(com::Bstr(c.name).get(), c.value), S_OK);
    std::string want;
    if (c.text) {
      want = c.text;
    } else {
      com::Variant converted;
      ASSERT_EQ(VariantChangeType(&converted, &c.value, 0, VT_BSTR), S_OK);
      want = com::BstrToUtf8(converted.bstrVal);
    }
    EXPECT_EQ(Attribute(e.get(), c.name), want) << com::Utf16ToUtf8(c.name);
  }
  // Setting again replaces the value in place.
  ASSERT_EQ(e->setAttribute(com::Bstr(u"long").get(), com::Variant::I4(7)), S_OK);
  EXPECT_EQ(Attribute(e.get(), u"long"), "7");
  com::ComPtr<IXMLDOMNamedNodeMap> attributes;
  ASSERT_EQ(AsNode(e)->get_attributes(attributes.put()), S_OK);
  LONG n = 0;
  ASSERT_EQ(attributes->get_length(&n), S_OK);
  EXPECT_EQ(n, static_cast<LONG>(std::size(cases)));
}

TEST_F(DomTest, RefusesWhatCouldNotBeReadBack) {
  auto doc = NewDocument();
  auto e = NewElement(doc.get(), u"e");
  com::ComPtr<IXMLDOMElement> bad;
  for (const char16_t* name : {u"", u"1a", u"a b", u"a<b"}) {
    EXPECT_EQ(doc->createElement(com::Bstr(name).get(), bad.put()), E_INVALIDARG);
    EXPECT_EQ(e->setAttribute(com::Bstr(name).get(), com::Variant::I4(1)), E_INVALIDARG);
    EXPECT_NE(LastErrorDescription(), "");
  }
  const std::u16string control =
      u"a\x01"
      "b";
  EXPECT_EQ(e->setAttribute(com::Bstr(u"n").get(), com::Variant::Str(control)), E_INVALIDARG);
  com::ComPtr<IXMLDOMText> text;
  EXPECT_EQ(doc->createTextNode(com::Bstr(std::u16string_view(u"\xD800", 1)).get(), text.put()), E_INVALIDARG);
  com::Variant null;
  null.vt = VT_NULL;
  EXPECT_TRUE(FAILED(e->setAttribute(com::Bstr(u"n").get(), null)));
}

TEST_F(DomTest, SelectSingleNodeFollowsElementPaths) {
  auto doc = Load("<a><b><c id=\"1\"/></b><b><c id=\"2\"/><d id=\"3\"/></b><x:e xmlns:x=\"urn:x\" id=\"4\"/></a>");
  auto root = AsNode(Root(doc.get()));
  struct Case {
    const char16_t* path;
    const char* id;  // "" when nothing matches
  };
  const Case cases[] = {
      {u"b/c", "1"},    {u"b/d", "3"},  {u"*/d", "3"}, {u"x:e", "4"},
      {u"/a/b/c", "1"}, {u"b/c/d", ""}, {u"c", ""},    {u"B/c", ""},
  };
  for (const Case& c : cases) {
    com::ComPtr<IXMLDOMNode> found;
    const HRESULT hr = root->selectSingleNode(com::Bstr(c.path).get(), found.put());
    if (*c.id) {
      ASSERT_EQ(hr, S_OK) << com::Utf16ToUtf8(c.path);
      com::ComPtr<IXMLDOMElement> e;
      ASSERT_EQ(found.As(&e), S_OK);
      EXPECT_EQ(Attribute(e.get(), u"id"), c.id) << com::Utf16ToUtf8(c.path);
    } else {
      EXPECT_EQ(hr, S_FALSE) << com::Utf16ToUtf8(c.path);
      EXPECT_FALSE(found);
    }
  }
  EXPECT_EQ(Name(Select(root.get(), u".").get()), "a");
  for (const char16_t* bad : {u"", u"b//c", u"b[1]", u"@id", u"b/"}) {
    com::ComPtr<IXMLDOMNode> found;
    EXPECT_EQ(root->selectSingleNode(com::Bstr(bad).get(), found.put()), E_INVALIDARG) << com::Utf16ToUtf8(bad);
    EXPECT_FALSE(found);
  }
}

TEST_F(DomTest, AttributesMapAnswersByNameAndPosition) {
  auto doc = Load("<a Name=\"n\" Type=\"6\"/>");
  com::ComPtr<IXMLDOMNamedNodeMap> map;
  ASSERT_EQ(AsNode(Root(doc.get()))->get_attributes(map.put()), S_OK);
  LONG length = 0;
  ASSERT_EQ(map->get_length(&length), S_OK);
  ASSERT_EQ(length, 2);
  const char* names[] = {"Name", "Type"};
  const char* values[] = {"n", "6"};
  for (LONG i = 0; i < length; ++i) {
    com::ComPtr<IXMLDOMNode> item;
    ASSERT_EQ(map->get_item(i, item.put()), S_OK);
    com::ComPtr<IXMLDOMAttribute> attribute;
    ASSERT_EQ(item.As(&attribute), S_OK);
    com::Bstr name;
    ASSERT_EQ(attribute->get_name(name.put()), S_OK);
    EXPECT_EQ(name.utf8(), names[i]);
    com::Variant value;
    ASSERT_EQ(attribute->get_value(value.put()), S_OK);
    EXPECT_EQ(com::BstrToUtf8(value.bstrVal), values[i]);
    DOMNodeType type = NODE_INVALID;
    ASSERT_EQ(item->get_nodeType(&type), S_OK);
    EXPECT_EQ(type, NODE_ATTRIBUTE);
  }
  com::ComPtr<IXMLDOMNode> item;
  EXPECT_EQ(map->get_item(2, item.put()), S_FALSE);
  EXPECT_EQ(map->get_item(-1, item.put()), S_FALSE);

  com::ComPtr<IXMLDOMNode> type;
  ASSERT_EQ(map->getNamedItem(com::Bstr(u"Type").get(), type.put()), S_OK);
  EXPECT_EQ(Text(type.get()), "6");
  ASSERT_EQ(type->put_text(com::Bstr(u"7").get()), S_OK);
  EXPECT_EQ(Attribute(Root(doc.get()).get(), u"Type"), "7");
  EXPECT_EQ(map->getNamedItem(com::Bstr(u"type").get(), type.put()), S_FALSE);
  EXPECT_FALSE(type);

  com::Variant missing;
  EXPECT_EQ(Root(doc.get())->getAttribute(com::Bstr(u"Value").get(), missing.put()), S_FALSE);
  EXPECT_EQ(missing.vt, VT_NULL);
}

// Reading many attributes in one walk gives, name by name, what ReadAttribute gives, whatever
// order the names are asked in: qualified names, empty values, character and entity references.
TEST_F(DomTest, ReadAttributesGivesEachNameItsOwnValue) {
  auto doc = Load(
      "<!DOCTYPE a [<!ENTITY e \"ent\">]>"
      "<a xmlns:p=\"urn:p\" Name=\"n\" p:Name=\"pn\" Type=\"\" Note=\"x&amp;y\" Ref=\"1&e;2\" Last=\"z\">t</a>");
  const auto root = AsNode(Root(doc.get()));
  struct Case {
    std::string_view name;
    std::optional<std::string> value;
  } const cases[] = {
      {"Last", "z"}, {"Name", "n"},    {"p:Name", "pn"}, {"Missing", std::nullopt},
      {"Type", ""},  {"Ref", "1ent2"}, {"Note", "x&y"},  {"name", std::nullopt},
  };
  std::vector<std::string_view> names;
  for (const Case& c : cases) names.push_back(c.name);
  std::vector<std::optional<std::string>> read(names.size());
  std::vector<int> calls(names.size());
  const auto found = [](void* context, size_t index, std::string_view value) {
    auto* out = static_cast<std::pair<std::vector<std::optional<std::string>>*, std::vector<int>*>*>(context);
    (*out->first)[index] = std::string(value);
    ++(*out->second)[index];
  };
  std::pair context{&read, &calls};
  ASSERT_TRUE(ReadAttributes(root.get(), names, found, &context));
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(read[i], cases[i].value) << cases[i].name;
    EXPECT_EQ(calls[i], cases[i].value ? 1 : 0) << cases[i].name;
    std::optional<std::string> one;
    ASSERT_TRUE(ReadAttribute(root.get(), cases[i].name, &one));
    EXPECT_EQ(one, cases[i].value) << cases[i].name;
  }

  // A node that is no element has no attributes; a null node is none of ours.
  com::ComPtr<IXMLDOMNode> text;
  ASSERT_EQ(root->get_firstChild(text.put()), S_OK);
  std::fill(calls.begin(), calls.end(), 0);
  EXPECT_TRUE(ReadAttributes(text.get(), names, found, &context));
  EXPECT_EQ(calls, std::vector<int>(names.size(), 0));
  EXPECT_FALSE(ReadAttributes(nullptr, names, found, &context));
}

// Writing an attribute without the interfaces leaves the document setAttribute leaves, with the
// same results; it declines (and setAttribute then does the work) for what it does not handle.
TEST_F(DomTest, WriteAttributeDoesWhatSetAttributeDoes) {
  struct Case {
    std::string_view name;
    std::optional<std::string_view> text;  // else `number`
    double number;
    bool taken;  // by the path without the interfaces
  } const cases[] = {
      {"Name", "n", 0, true},         {"Amount", std::nullopt, 1.25, true}, {"Name", "m", 0, true},  // replaced
      {"Note", "a\tb\nc&<\"'", 0, true}, {"Bad name", "x", 0, true},         {"", "x", 0, false},
      {"p:Name", "q", 0, true},       {"Text", "\xC3\xA9", 0, false},         {"\xC3\x9C" "ber", "x", 0, false},
      {"Ctl", "\x01", 0, false},      {"Count", std::nullopt, -7, true},
  };
  auto fast = Load("<a xmlns:p=\"urn:p\" First=\"1\"><b/></a>", "fast.xml");
  auto slow = Load("<a xmlns:p=\"urn:p\" First=\"1\"><b/></a>", "slow.xml");
  const auto fast_element = Root(fast.get());
  const auto fast_root = AsNode(fast_element);
  const auto slow_root = Root(slow.get());
  for (const Case& c : cases) {
    const com::Variant value = c.text ? com::Variant::Str(*c.text) : com::Variant::R8(c.number);
    HRESULT taken_hr = E_UNEXPECTED;
    const bool taken = c.text ? WriteAttribute(fast_root.get(), c.name, *c.text, &taken_hr)
                              : WriteAttribute(fast_root.get(), c.name, value, &taken_hr);
    EXPECT_EQ(taken, c.taken) << c.name;
    const HRESULT expected = slow_root->setAttribute(com::Bstr(c.name).get(), value);
    if (taken)
      EXPECT_EQ(taken_hr, expected) << c.name;
    else
      EXPECT_EQ(fast_element->setAttribute(com::Bstr(c.name).get(), value), expected) << c.name;
  }
  EXPECT_EQ(Save(fast.get(), "fast-out.xml"), Save(slow.get(), "slow-out.xml"));

  // Not an element, or not a node of ours: declined.
  HRESULT hr = S_OK;
  com::ComPtr<IXMLDOMText> text;
  ASSERT_EQ(fast->createTextNode(com::Bstr(std::string_view("t")).get(), text.put()), S_OK);
  EXPECT_FALSE(WriteAttribute(AsNode(text).get(), "Name", std::string_view("x"), &hr));
  EXPECT_FALSE(WriteAttribute(nullptr, "Name", std::string_view("x"), &hr));
}

// The element's attributes as name=value, in document order, read through the interfaces.
std::vector<std::string> AttributeList(IXMLDOMNode* element) {
  std::vector<std::string> out;
  for (const auto& a : qva::testing::AttributeNodes(element)) out.push_back(Name(a.get()) + "=" + Text(a.get()));
  return out;
}

// Sets of an element's attributes through two node objects of the same element, by either path:
// a name the element has keeps its place and takes the value, a new one goes last, whichever
// object added it, however many the element has, and for elements read from a file too.
TEST_F(DomTest, AttributesKeepTheirPlaceWhicheverObjectSetsThem) {
  struct Write {
    int object;       // 0 or 1: two node objects of the one element
    bool interfaces;  // setAttribute, else WriteAttribute
    std::string name, value;
  };
  struct Case {
    std::string_view what;
    std::string source;  // the document; its root element is written
    std::vector<Write> writes;
    std::vector<std::string> want;
  };
  std::vector<Write> many, many_again;
  std::vector<std::string> many_want;
  for (int i = 0; i < 70; ++i) {
    const std::string name = "A" + std::to_string(i);
    many.push_back({i % 3 == 0, i % 2 == 0, name, "1"});
    many_again.push_back({i % 5 == 0, i % 2 == 1, name, std::to_string(i)});
    many_want.push_back(name + "=" + std::to_string(i));
  }
  many.insert(many.end(), many_again.begin(), many_again.end());
  const std::vector<Case> cases = {
      {"rewritten by the same object",
       "<r/>",
       {{0, false, "x", "1"}, {0, false, "y", "2"}, {0, true, "x", "3"}},
       {"x=3", "y=2"}},
      {"added by the other object in between",
       "<r/>",
       {{0, false, "x", "1"}, {1, false, "y", "2"}, {0, false, "y", "5"}, {0, true, "z", "6"}, {1, false, "z", "7"}},
       {"x=1", "y=5", "z=7"}},
      {"added by the other object first",
       "<r/>",
       {{1, true, "y", "2"}, {0, false, "y", "3"}, {0, false, "w", "4"}},
       {"y=3", "w=4"}},
      {"seventy names, each written twice", "<r/>", many, many_want},
      {"read from a file",
       "<r xmlns:p=\"urn:p\" a=\"1\" p:b=\"2\"/>",
       {{0, false, "p:b", "3"}, {1, false, "b", "4"}, {0, false, "a", "5"}, {0, true, "c", "6"}, {1, false, "b", "7"}},
       {"a=5", "p:b=3", "b=7", "c=6"}},
  };
  for (const Case& c : cases) {
    auto doc = Load(c.source);
    const auto root = AsNode(Root(doc.get()));
    com::ComPtr<IXMLDOMNode> other;  // a second object of the root element
    com::ComPtr<IXMLDOMNode> parent;
    ASSERT_EQ(root->get_parentNode(parent.put()), S_OK);
    ASSERT_EQ(parent->get_firstChild(other.put()), S_OK);
    ASSERT_NE(other.get(), root.get());
    IXMLDOMNode* const objects[] = {root.get(), other.get()};
    for (const Write& w : c.writes) {
      IXMLDOMNode* node = objects[w.object];
      if (w.interfaces) {
        com::ComPtr<IXMLDOMElement> element;
        ASSERT_EQ(com::ComPtr<IXMLDOMNode>(node).As(&element), S_OK);
        ASSERT_EQ(element->setAttribute(com::Bstr(w.name).get(), com::Variant::Str(w.value)), S_OK) << c.what;
      } else {
        HRESULT hr = E_UNEXPECTED;
        ASSERT_TRUE(WriteAttribute(node, w.name, std::string_view(w.value), &hr)) << c.what;
        ASSERT_EQ(hr, S_OK) << c.what;
      }
    }
    EXPECT_EQ(AttributeList(root.get()), c.want) << c.what;
    // The document saved reads back with the same attributes.
    auto reread = Load(Save(doc.get()), "reread.xml");
    EXPECT_EQ(AttributeList(AsNode(Root(reread.get())).get()), c.want) << c.what;
  }
}

// Appending an element after its layout text without the interfaces builds what createTextNode,
// createElement and appendChild build; it declines what it does not handle, and what those
// members would refuse, for them to do it and report it.
TEST_F(DomTest, AppendElementBuildsWhatTheInterfacesBuild) {
  struct Step {
    std::string indent, name;
  };
  const Step steps[] = {{"\n\t", "Users"}, {"", "User"}, {"\n\t\t", "p:User"}, {" \r\n", "Last"}};
  auto fast = Load("<Vodrik><a/></Vodrik>", "fast.xml");
  auto slow = Load("<Vodrik><a/></Vodrik>", "slow.xml");
  const auto fast_root = AsNode(Root(fast.get()));
  const auto slow_root = AsNode(Root(slow.get()));
  for (const Step& step : steps) {
    com::ComPtr<IXMLDOMNode> added;
    HRESULT hr = E_UNEXPECTED;
    ASSERT_TRUE(AppendElement(fast.get(), fast_root.get(), step.indent, step.name, added.put(), &hr)) << step.name;
    ASSERT_EQ(hr, S_OK);
    ASSERT_TRUE(added);
    EXPECT_EQ(Name(added.get()), step.name);
    // The new element's attributes, one of them written twice.
    const std::pair<std::string, std::string> attributes[] = {{"n", step.name}, {"k", "1"}, {"n", "again"}};
    for (const auto& [name, value] : attributes) {
      HRESULT written = E_UNEXPECTED;
      ASSERT_TRUE(WriteAttribute(added.get(), name, std::string_view(value), &written));
      EXPECT_EQ(written, S_OK);
    }

    if (!step.indent.empty()) {
      com::ComPtr<IXMLDOMText> text;
      ASSERT_EQ(slow->createTextNode(com::Bstr(step.indent).get(), text.put()), S_OK);
      ASSERT_EQ(slow_root->appendChild(AsNode(text).get(), nullptr), S_OK);
    }
    com::ComPtr<IXMLDOMElement> element;
    ASSERT_EQ(slow->createElement(com::Bstr(step.name).get(), element.put()), S_OK);
    for (const auto& [name, value] : attributes)
      ASSERT_EQ(element->setAttribute(com::Bstr(name).get(), com::Variant::Str(value)), S_OK);
    ASSERT_EQ(slow_root->appendChild(AsNode(element).get(), nullptr), S_OK);
  }
  EXPECT_EQ(Save(fast.get(), "fast-out.xml"), Save(slow.get(), "slow-out.xml"));
  EXPECT_EQ(ChildCount(fast_root.get()), ChildCount(slow_root.get()));

  // Declined: names to refuse or not ASCII, text that is not ASCII, a parent that is no element
  // or not in the document's current content, nodes that are not ours.
  auto other = Load("<Other/>", "other.xml");
  com::ComPtr<IXMLDOMNode> first, text_node;
  ASSERT_EQ(fast_root->get_firstChild(first.put()), S_OK);   // <a/>
  ASSERT_EQ(first->get_nextSibling(text_node.put()), S_OK);  // "\n\t"
  ASSERT_EQ(Name(text_node.get()), "#text");
  struct Declined {
    std::string_view what;
    IXMLDOMDocument* document;
    IXMLDOMNode* parent;
    std::string indent, name;
  } const declined[] = {
      {"empty name", fast.get(), fast_root.get(), "", ""},
      {"invalid name", fast.get(), fast_root.get(), "", "1a"},
      {"blank in the name", fast.get(), fast_root.get(), "", "a b"},
      {"name not ASCII", fast.get(), fast_root.get(), "", "\xC3\x9C"},
      {"text not ASCII", fast.get(), fast_root.get(), "\xC2\xA0", "a"},
      {"control character", fast.get(), fast_root.get(), "\x01", "a"},
      {"parent of another document", other.get(), fast_root.get(), "", "a"},
      {"parent no element", fast.get(), text_node.get(), "", "a"},
      {"no document", nullptr, fast_root.get(), "", "a"},
      {"no parent", fast.get(), nullptr, "", "a"},
  };
  const std::string before = Save(fast.get(), "before.xml");
  for (const Declined& d : declined) {
    com::ComPtr<IXMLDOMNode> added;
    HRESULT hr = S_OK;
    EXPECT_FALSE(AppendElement(d.document, d.parent, d.indent, d.name, added.put(), &hr)) << d.what;
    EXPECT_FALSE(added) << d.what;
  }
  EXPECT_EQ(Save(fast.get(), "after.xml"), before);
  // After the document loads other content, the old root is no longer in it.
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(fast->loadXML(com::Bstr(u"<New/>").get(), &ok), S_OK);
  com::ComPtr<IXMLDOMNode> added;
  HRESULT hr = S_OK;
  EXPECT_FALSE(AppendElement(fast.get(), fast_root.get(), "", "a", added.put(), &hr));
}

TEST_F(DomTest, RemoveChildDetachesAndTheNodeStaysUsable) {
  auto doc = Load("<a><b>1</b><c>2</c><d>3</d></a>");
  auto root = AsNode(Root(doc.get()));
  auto c = Select(root.get(), u"c");
  com::ComPtr<IXMLDOMNode> removed;
  ASSERT_EQ(root->removeChild(c.get(), removed.put()), S_OK);
  EXPECT_EQ(removed, c);
  EXPECT_EQ(ChildCount(root.get()), 2);
  EXPECT_EQ(Save(doc.get()), "<a><b>1</b><d>3</d></a>\n");

  EXPECT_EQ(Text(c.get()), "2");
  com::ComPtr<IXMLDOMNode> parent;
  EXPECT_EQ(c->get_parentNode(parent.put()), S_FALSE);
  EXPECT_EQ(root->removeChild(c.get(), nullptr), E_INVALIDARG);
  EXPECT_NE(LastErrorDescription(), "");

  // A removed node can be put back; a detached subtree dies with the document.
  auto b = Select(root.get(), u"b");
  ASSERT_EQ(c->appendChild(b.get(), nullptr), S_OK);
  ASSERT_EQ(root->appendChild(c.get(), nullptr), S_OK);
  EXPECT_EQ(Save(doc.get()), "<a><d>3</d><c>2<b>1</b></c></a>\n");
  auto d = Select(root.get(), u"d");
  ASSERT_EQ(root->removeChild(d.get(), nullptr), S_OK);
}

TEST_F(DomTest, AppendChildRefusesWhatWouldBreakTheTree) {
  auto doc = Load("<a><b/></a>");
  auto other = Load("<z/>", "other.xml");
  auto root = AsNode(Root(doc.get()));
  auto b = Select(root.get(), u"b");
  auto second = NewElement(doc.get(), u"second");
  com::ComPtr<IXMLDOMText> text;
  ASSERT_EQ(doc->createTextNode(com::Bstr(u"t").get(), text.put()), S_OK);

  EXPECT_EQ(b->appendChild(root.get(), nullptr), E_FAIL);  // below itself
  EXPECT_EQ(b->appendChild(b.get(), nullptr), E_FAIL);
  EXPECT_EQ(AsNode(doc)->appendChild(AsNode(second).get(), nullptr), E_FAIL);  // second root
  EXPECT_EQ(AsNode(doc)->appendChild(AsNode(text).get(), nullptr), E_FAIL);
  EXPECT_EQ(AsNode(text)->appendChild(b.get(), nullptr), E_FAIL);
  EXPECT_EQ(root->appendChild(AsNode(Root(other.get())).get(), nullptr), E_FAIL);  // other document
  EXPECT_EQ(root->appendChild(AsNode(doc).get(), nullptr), E_FAIL);
  EXPECT_EQ(root->appendChild(nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(Save(doc.get()), "<a><b/></a>\n");
}

TEST_F(DomTest, NodesKeepTheirDocumentAlive) {
  com::ComPtr<IXMLDOMNode> b;
  {
    auto doc = Load("<a><b>text</b></a>");
    b = Select(AsNode(Root(doc.get())).get(), u"b");
  }
  EXPECT_EQ(Text(b.get()), "text");
  com::ComPtr<IXMLDOMDocument> owner;
  ASSERT_EQ(b->get_ownerDocument(owner.put()), S_OK);
  EXPECT_EQ(Name(AsNode(Root(owner.get())).get()), "a");
  com::ComPtr<IXMLDOMNode> parent;
  ASSERT_EQ(b->get_parentNode(parent.put()), S_OK);
  EXPECT_EQ(Name(parent.get()), "a");
  com::ComPtr<IXMLDOMNode> top;
  ASSERT_EQ(parent->get_parentNode(top.put()), S_OK);
  EXPECT_EQ(Name(top.get()), "#document");
}

TEST_F(DomTest, NodesOfAReplacedTreeStayValid) {
  auto doc = Load("<a><b>old</b></a>");
  auto b = Select(AsNode(Root(doc.get())).get(), u"b");
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(doc->loadXML(com::Bstr(u"<n/>").get(), &ok), S_OK);
  EXPECT_EQ(Text(b.get()), "old");
  com::ComPtr<IXMLDOMNode> top, parent;
  ASSERT_EQ(b->get_parentNode(parent.put()), S_OK);
  EXPECT_EQ(parent->get_parentNode(top.put()), S_FALSE);  // no longer the document's content
}

TEST_F(DomTest, ChildNodesAreListedEnumeratedAndWalked) {
  auto doc = Load("<a><b/>t<c/><!--x--></a>");
  com::ComPtr<IXMLDOMNodeList> list;
  ASSERT_EQ(AsNode(Root(doc.get()))->get_childNodes(list.put()), S_OK);
  const std::vector<std::string> names = {"b", "#text", "c", "#comment"};
  const std::vector<DOMNodeType> types = {NODE_ELEMENT, NODE_TEXT, NODE_ELEMENT, NODE_COMMENT};

  std::vector<std::string> walked;
  for (com::ComPtr<IXMLDOMNode> n; list->nextNode(n.put()) == S_OK;) walked.push_back(Name(n.get()));
  EXPECT_EQ(walked, names);
  ASSERT_EQ(list->reset(), S_OK);
  com::ComPtr<IXMLDOMNode> first;
  ASSERT_EQ(list->nextNode(first.put()), S_OK);
  EXPECT_EQ(Name(first.get()), "b");

  com::ComPtr<IUnknown> unknown;
  ASSERT_EQ(list->get__newEnum(unknown.put()), S_OK);
  com::ComPtr<IEnumVARIANT> items;
  ASSERT_EQ(unknown.As(&items), S_OK);
  std::vector<std::string> enumerated;
  for (size_t i = 0;; ++i) {
    com::Variant v;
    ULONG fetched = 0;
    if (items->Next(1, v.put(), &fetched) != S_OK) break;
    ASSERT_EQ(v.vt, VT_DISPATCH);
    com::ComPtr<IXMLDOMNode> node;
    ASSERT_EQ(v.pdispVal->QueryInterface(IID_IXMLDOMNode, node.put_void()), S_OK);
    DOMNodeType type = NODE_INVALID;
    ASSERT_EQ(node->get_nodeType(&type), S_OK);
    ASSERT_LT(i, types.size());
    EXPECT_EQ(type, types[i]);
    enumerated.push_back(Name(node.get()));
  }
  EXPECT_EQ(enumerated, names);

  com::ComPtr<IXMLDOMNode> item;
  ASSERT_EQ(list->get_item(2, item.put()), S_OK);
  EXPECT_EQ(Name(item.get()), "c");
  com::ComPtr<IXMLDOMNode> sibling;
  ASSERT_EQ(item->get_nextSibling(sibling.put()), S_OK);
  EXPECT_EQ(Name(sibling.get()), "#comment");
  com::ComPtr<IXMLDOMNode> past;
  EXPECT_EQ(list->get_item(4, past.put()), S_FALSE);
  EXPECT_FALSE(past);
}

TEST_F(DomTest, NodesAnswerTheInterfacesOfTheirType) {
  auto doc = Load("<a>t</a>");
  auto root = AsNode(Root(doc.get()));
  com::ComPtr<IXMLDOMNode> text;
  ASSERT_EQ(root->get_firstChild(text.put()), S_OK);
  com::ComPtr<IXMLDOMElement> element;
  EXPECT_EQ(text.As(&element), E_NOINTERFACE);
  com::ComPtr<IXMLDOMText> t;
  EXPECT_EQ(text.As(&t), S_OK);
  com::ComPtr<IXMLDOMAttribute> attribute;
  EXPECT_EQ(root.As(&attribute), E_NOINTERFACE);
  com::ComPtr<IXMLDOMNamedNodeMap> none;
  EXPECT_EQ(text->get_attributes(none.put()), S_FALSE);
}

// Late-bound callers reach the members of the node's own type through any of its interfaces.
TEST_F(DomTest, DispatchServesTheNodesOwnInterface) {
  auto doc = Load("<a k=\"v\">t</a>");
  auto root = AsNode(Root(doc.get()));
  const auto id_of = [](IDispatch* d, const char16_t* name, DISPID* id) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    return d->GetIDsOfNames(IID_NULL, names, 1, 0, id);
  };
  DISPID id = 0;
  ASSERT_EQ(id_of(root.get(), u"getAttribute", &id), S_OK);
  EXPECT_EQ(id, 99);
  com::Variant arg = com::Variant::Str(u"k");
  DISPPARAMS params{&arg, nullptr, 1, 0};
  com::Variant result;
  ASSERT_EQ(root->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result.put(), nullptr, nullptr), S_OK);
  EXPECT_EQ(com::BstrToUtf8(result.bstrVal), "v");

  com::ComPtr<IXMLDOMNode> text;
  ASSERT_EQ(root->get_firstChild(text.put()), S_OK);
  EXPECT_EQ(id_of(text.get(), u"getAttribute", &id), DISP_E_UNKNOWNNAME);
  ASSERT_EQ(id_of(doc.get(), u"documentElement", &id), S_OK);
  EXPECT_EQ(id, 40);
}

}  // namespace
}  // namespace msxml::testing
