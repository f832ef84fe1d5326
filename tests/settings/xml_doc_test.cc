// The settings document wrapper: loads are synchronous and all-or-nothing, saves go to the file
// given to Open unless SaveAs names another, and a failed load or save never harms a file.
#include "qvacom/settings/xml_doc.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "platform/com/errorinfo.h"
#include "platform/com/object.h"
#include "platform/msxml/msxml.h"
#include "qvacom/settings/dom.h"
#include "tests/support/temp_dir.h"

namespace qva {
namespace {

namespace fs = std::filesystem;

constexpr char kSettings[] =
    "<Vodrik Version=\"Enterprise 3.8\"><Configure/><ElementSet><Element Name=\"a\" Type=\"3\"><Item "
    "Value=\"x\"/></Element></ElementSet></Vodrik>\n";

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

com::Bstr B(const fs::path& path) { return com::Bstr(path.string()); }

// The source of the thread's error information, or empty when none is set.
std::string ErrorSource() {
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  com::Bstr source;
  info->GetSource(source.put());
  return source.utf8();
}

class XmlDocTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto made = com::CreateObject<CQVAXMLDoc>();
    ASSERT_TRUE(made.ok());
    doc_ = std::move(made.value());
    com::ClearError();
  }

  dom::Document Dom() {
    auto d = dom::DocumentOfWrapper(doc_.get());
    return d.ok() ? d.value() : dom::Document();
  }

  // The "Version" attribute of the open document's root, or "(none)".
  std::string Version() {
    auto document = Dom();
    if (!document) return "(no document)";
    auto root = dom::Root(document.get());
    if (!root.ok()) return "(no root)";
    auto v = dom::Attribute(root->get(), "Version");
    return v.ok() && *v ? (*v)->utf8() : "(none)";
  }

  void SetVersion(std::string_view version) {
    auto root = dom::Root(Dom().get());
    ASSERT_TRUE(root.ok());
    ASSERT_EQ(dom::SetAttribute(root->get(), "Version", version), S_OK);
  }

  testing::TempDir dir_;
  com::ComPtr<CQVAXMLDoc> doc_;
};

TEST_F(XmlDocTest, OpenLoadsTheWholeFileBeforeReturning) {
  const fs::path file = dir_.path() / "vodrik_e.xml";
  WriteFile(file, kSettings);
  ASSERT_EQ(doc_->Open(B(file).get()), S_OK);
  auto document = Dom();
  ASSERT_TRUE(document);
  auto item = dom::Section(document.get(), "ElementSet/Element/Item");
  ASSERT_TRUE(item.ok() && *item);
  EXPECT_EQ(dom::RequiredAttribute(item->get(), "Value")->utf8(), "x");
}

struct BadFileCase {
  const char* name;
  bool exists;
  std::string bytes;
};

class OpenBadFileTest : public XmlDocTest, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(OpenBadFileTest, FailsWithEFailKeepsAnEmptyDocumentAndNeverTouchesTheFile) {
  const fs::path file = dir_.path() / "vodrik_e.xml";
  if (GetParam().exists) WriteFile(file, GetParam().bytes);

  EXPECT_EQ(doc_->Open(B(file).get()), E_FAIL);
  EXPECT_EQ(ErrorSource(), "QVA.XMLDoc.1");
  auto document = Dom();
  ASSERT_TRUE(document) << "the fresh document stays in place";
  EXPECT_EQ(dom::Root(document.get()).error(), E_FAIL) << "and it is empty";

  // An empty document cannot be saved, so the failed Open can never lead to an emptied file.
  EXPECT_TRUE(FAILED(doc_->Save()));
  EXPECT_EQ(fs::exists(file), GetParam().exists);
  if (GetParam().exists) {
    EXPECT_EQ(ReadFile(file), GetParam().bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, OpenBadFileTest,
                         ::testing::Values(BadFileCase{"Missing", false, ""}, BadFileCase{"Empty", true, ""},
                                           BadFileCase{"CutShort", true, std::string(kSettings, 60)},
                                           BadFileCase{"NotWellFormed", true, "<Vodrik><ElementSet></Vodrik>"},
                                           BadFileCase{"TwoRoots", true, "<a/><b/>"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(XmlDocTest, LoadReplacesTheContentAndAFailedLoadKeepsIt) {
  const fs::path first = dir_.path() / "first.xml", second = dir_.path() / "second.xml";
  const fs::path broken = dir_.path() / "broken.xml";
  WriteFile(first, "<Vodrik Version=\"1\"/>");
  WriteFile(second, "<Vodrik Version=\"2\"/>");
  WriteFile(broken, "<Vodrik Version=\"3\">");
  ASSERT_EQ(doc_->Open(B(first).get()), S_OK);

  EXPECT_EQ(doc_->Load(B(second).get()), S_OK);
  EXPECT_EQ(Version(), "2");
  EXPECT_EQ(doc_->Load(B(broken).get()), E_FAIL);
  EXPECT_EQ(Version(), "2");
  EXPECT_EQ(doc_->Load(B(dir_.path() / "absent.xml").get()), E_FAIL);
  EXPECT_EQ(Version(), "2");
}

TEST_F(XmlDocTest, SaveAsThenSaveWritesTheSecondTimeToTheOpenedFile) {
  const fs::path opened = dir_.path() / "vodrik_e.xml", copy = dir_.path() / "copy.xml";
  WriteFile(opened, "<Vodrik Version=\"0\"/>");
  ASSERT_EQ(doc_->Open(B(opened).get()), S_OK);

  SetVersion("1");
  ASSERT_EQ(doc_->SaveAs(B(copy).get()), S_OK);
  SetVersion("2");
  ASSERT_EQ(doc_->Save(), S_OK);

  EXPECT_EQ(ReadFile(copy), "<Vodrik Version=\"1\"/>\n");
  EXPECT_EQ(ReadFile(opened), "<Vodrik Version=\"2\"/>\n");
}

struct FailedSaveCase {
  const char* name;
  const char* target;  // under the test folder
  bool make_folder;    // make `target` an existing, non-empty folder
};

class FailedSaveTest : public XmlDocTest, public ::testing::WithParamInterface<FailedSaveCase> {};

TEST_P(FailedSaveTest, RaisesTheDomCodeWithErrorInfoAndLeavesFilesWhole) {
  const fs::path opened = dir_.path() / "vodrik_e.xml", target = dir_.path() / GetParam().target;
  WriteFile(opened, kSettings);
  if (GetParam().make_folder) {
    fs::create_directories(target);
    WriteFile(target / "keep", "kept");
  }
  ASSERT_EQ(doc_->Open(B(opened).get()), S_OK);
  SetVersion("changed");

  // What the DOM itself answers for the same save.
  com::ComPtr<IXMLDOMDocument> raw;
  ASSERT_EQ(msxml::CreateDocument(raw.put()), S_OK);
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(raw->load(com::Variant::Str(opened.string()), &ok), S_OK);
  const HRESULT dom_hr = raw->save(com::Variant::Str(target.string()));
  ASSERT_TRUE(FAILED(dom_hr));
  com::ClearError();

  EXPECT_EQ(doc_->SaveAs(B(target).get()), dom_hr);
  EXPECT_EQ(ErrorSource(), "QVA.XMLDoc.1");
  EXPECT_EQ(ReadFile(opened), kSettings);
  if (GetParam().make_folder) {
    EXPECT_EQ(ReadFile(target / "keep"), "kept");
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()),
            GetParam().make_folder ? 2 : 1)
      << "no temporary file is left behind";
}

INSTANTIATE_TEST_SUITE_P(Targets, FailedSaveTest,
                         ::testing::Values(FailedSaveCase{"MissingFolder", "absent/vodrik_e.xml", false},
                                           FailedSaveCase{"TargetIsAFolder", "folder", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(XmlDocTest, EveryMemberRaisesEPointerBeforeOpen) {
  const com::Bstr file = B(dir_.path() / "vodrik_e.xml");
  struct Case {
    const char* member;
    std::function<HRESULT()> call;
  };
  const Case cases[] = {
      {"XMLDOMDocument",
       [&] {
         com::ComPtr<IUnknown> out;
         return doc_->get_XMLDOMDocument(out.put());
       }},
      {"Save", [&] { return doc_->Save(); }},
      {"SaveAs", [&] { return doc_->SaveAs(file.get()); }},
      {"Load", [&] { return doc_->Load(file.get()); }},
  };
  for (const Case& c : cases) {
    com::ClearError();
    EXPECT_EQ(c.call(), E_POINTER) << c.member;
    EXPECT_EQ(ErrorSource(), "QVA.XMLDoc.1") << c.member;
  }
  EXPECT_FALSE(fs::exists(dir_.path() / "vodrik_e.xml"));
}

TEST_F(XmlDocTest, OpenAgainStartsAFreshDocumentFromTheNewFile) {
  const fs::path first = dir_.path() / "first.xml", second = dir_.path() / "second.xml";
  WriteFile(first, "<Vodrik Version=\"1\"/>");
  WriteFile(second, "<Vodrik Version=\"2\"/>");
  ASSERT_EQ(doc_->Open(B(first).get()), S_OK);
  auto old_document = Dom();

  ASSERT_EQ(doc_->Open(B(second).get()), S_OK);
  EXPECT_FALSE(Dom() == old_document);
  EXPECT_EQ(Version(), "2");
  ASSERT_EQ(doc_->Save(), S_OK);
  EXPECT_EQ(ReadFile(first), "<Vodrik Version=\"1\"/>");
}

}  // namespace
}  // namespace qva
