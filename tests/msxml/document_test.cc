// Loading and saving whole documents: declarations and encodings survive a round trip, bad input
// changes nothing, and saving replaces the file in one step.
#include <filesystem>

#include "tests/msxml/dom_test_support.h"

namespace msxml::testing {
namespace {

struct RoundTripCase {
  const char* name;
  std::string bytes;  // written by save exactly as read
};

class RoundTripTest : public DomTest, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(RoundTripTest, SaveWritesTheDocumentAsItWasRead) {
  auto doc = Load(GetParam().bytes);
  EXPECT_EQ(Save(doc.get()), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RoundTripTest,
    ::testing::Values(
        RoundTripCase{"Utf8Declaration",
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Vodrik Version=\"Enterprise 3.8\"><Configure "
                      "Port=\"8080\"/><ElementSet><Element Name=\"a &amp; b\" Type=\"6\"/></ElementSet></Vodrik>\n"},
        RoundTripCase{"NoDeclaration", "<a><b x=\"y\">t&lt;u</b><!--note--></a>\n"},
        RoundTripCase{"Standalone", "<?xml version=\"1.0\" standalone=\"yes\"?>\n<a>\xC3\xA9t\xC3\xA9</a>\n"},
        // "中文" in GB2312.
        RoundTripCase{"Gb2312",
                      "<?xml version=\"1.0\" encoding=\"gb2312\"?>\n<a n=\"\xD6\xD0\">\xD6\xD0\xCE\xC4</a>\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DomTest, Gb2312TextReadsAsUtf16) {
  auto doc = Load("<?xml version=\"1.0\" encoding=\"gb2312\"?>\n<a n=\"\xD6\xD0\">\xD6\xD0\xCE\xC4</a>");
  auto root = Root(doc.get());
  com::Bstr text;
  ASSERT_EQ(root->get_text(text.put()), S_OK);
  EXPECT_EQ(text.view(), u"\u4E2D\u6587");
  com::Variant n;
  ASSERT_EQ(root->getAttribute(com::Bstr(u"n").get(), n.put()), S_OK);
  EXPECT_EQ(com::BstrView(n.bstrVal), u"\u4E2D");
}

TEST_F(DomTest, NewTextIsSavedInTheDeclaredEncoding) {
  auto doc = Load("<?xml version=\"1.0\" encoding=\"gb2312\"?>\n<a/>");
  auto root = Root(doc.get());
  ASSERT_EQ(root->setAttribute(com::Bstr(u"n").get(), com::Variant::Str(u"\u6587")), S_OK);
  EXPECT_EQ(Save(doc.get()), "<?xml version=\"1.0\" encoding=\"gb2312\"?>\n<a n=\"\xCE\xC4\"/>\n");
}

TEST_F(DomTest, WhitespaceOnlyTextIsNotKept) {
  auto doc = Load("<a>\n\t<b>  </b>\n\t<c>x y</c>\r\n\t<d xml:space=\"preserve\"> </d>\n</a>");
  auto root = AsNode(Root(doc.get()));
  EXPECT_EQ(ChildCount(root.get()), 3);
  com::ComPtr<IXMLDOMNode> b, c, d;
  ASSERT_EQ(root->selectSingleNode(com::Bstr(u"b").get(), b.put()), S_OK);
  ASSERT_EQ(root->selectSingleNode(com::Bstr(u"c").get(), c.put()), S_OK);
  ASSERT_EQ(root->selectSingleNode(com::Bstr(u"d").get(), d.put()), S_OK);
  EXPECT_EQ(ChildCount(b.get()), 0);
  EXPECT_EQ(Text(c.get()), "x y");
  EXPECT_EQ(Text(d.get()), " ");
  EXPECT_EQ(Save(doc.get()), "<a><b/><c>x y</c><d xml:space=\"preserve\"> </d></a>\n");
}

struct BadFileCase {
  const char* name;
  std::string bytes;
};

class BadFileTest : public DomTest, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(BadFileTest, LoadFailsAndChangesNothing) {
  const std::string good = "<?xml version=\"1.0\"?>\n<a><b>kept</b></a>\n";
  auto doc = Load(good);
  WriteFile(File("bad.xml"), GetParam().bytes);

  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(doc->load(PathVariant(File("bad.xml")), &ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_NE(LastErrorDescription(), "");

  EXPECT_EQ(ReadFile(File("bad.xml")), GetParam().bytes);
  EXPECT_EQ(Save(doc.get()), good);
}

INSTANTIATE_TEST_SUITE_P(Files, BadFileTest,
                         ::testing::Values(BadFileCase{"Truncated", "<?xml version=\"1.0\"?>\n<a><b>ke"},
                                           BadFileCase{"Mismatched", "<a><b></a></b>"}, BadFileCase{"Empty", ""},
                                           BadFileCase{"TwoRoots", "<a/><b/>"},
                                           BadFileCase{"Binary", std::string("\0\xFF\xFE<a>\x01", 7)},
                                           BadFileCase{"UndefinedEntity", "<a>&nope;</a>"},
                                           BadFileCase{"BadUtf8", "<a>\xC3\x28</a>"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DomTest, MissingFileFailsAndKeepsTheDocument) {
  auto doc = Load("<a/>");
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(doc->load(PathVariant(File("missing.xml")), &ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_NE(LastErrorDescription(), "");
  EXPECT_EQ(Name(AsNode(Root(doc.get())).get()), "a");
}

TEST_F(DomTest, LoadXmlParsesTextAndRefusesBadText) {
  auto doc = NewDocument();
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(doc->loadXML(com::Bstr(u"<a><b>\u00E9</b></a>").get(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_EQ(Text(AsNode(Root(doc.get())).get()), "\xC3\xA9");
  EXPECT_EQ(doc->loadXML(com::Bstr(u"<a>").get(), &ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_EQ(Text(AsNode(Root(doc.get())).get()), "\xC3\xA9");
}

TEST_F(DomTest, SaveReplacesTheFileAndLeavesNoTemporaryFile) {
  auto doc = Load("<a/>");
  WriteFile(File("out.xml"), "old content that is longer than the new one");
  EXPECT_EQ(Save(doc.get()), "<a/>\n");
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 2u);  // in.xml and out.xml
}

TEST_F(DomTest, SaveFailureReportsAndTouchesNothing) {
  auto doc = Load("<a/>");
  EXPECT_EQ(doc->save(PathVariant(File("no/such/folder/out.xml"))), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_NE(LastErrorDescription(), "");

  auto empty = NewDocument();
  WriteFile(File("kept.xml"), "<kept/>");
  EXPECT_TRUE(FAILED(empty->save(PathVariant(File("kept.xml")))));
  EXPECT_EQ(ReadFile(File("kept.xml")), "<kept/>");
}

}  // namespace
}  // namespace msxml::testing
