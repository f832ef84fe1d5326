// Shared helpers of the DOM tests: files in a fresh folder, documents, error information.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/variant.h"
#include "platform/msxml/msxml.h"
#include "tests/support/temp_dir.h"

namespace msxml::testing {

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline com::ComPtr<IXMLDOMDocument> NewDocument() {
  com::ComPtr<IXMLDOMDocument> doc;
  EXPECT_EQ(CreateDocument(doc.put()), S_OK);
  return doc;
}

inline com::Variant PathVariant(const std::filesystem::path& path) { return com::Variant::Str(path.string()); }

// The description of the calling thread's error information, or "" when none is set.
inline std::string LastErrorDescription() {
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return "";
  com::Bstr description;
  info->GetDescription(description.put());
  return description.utf8();
}

inline std::string Text(IXMLDOMNode* node) {
  com::Bstr text;
  EXPECT_EQ(node->get_text(text.put()), S_OK);
  return text.utf8();
}

inline std::string Name(IXMLDOMNode* node) {
  com::Bstr name;
  EXPECT_EQ(node->get_nodeName(name.put()), S_OK);
  return name.utf8();
}

inline LONG ChildCount(IXMLDOMNode* node) {
  com::ComPtr<IXMLDOMNodeList> children;
  EXPECT_EQ(node->get_childNodes(children.put()), S_OK);
  LONG n = -1;
  EXPECT_EQ(children->get_length(&n), S_OK);
  return n;
}

template <class I>
com::ComPtr<IXMLDOMNode> AsNode(const com::ComPtr<I>& p) {
  com::ComPtr<IXMLDOMNode> node;
  EXPECT_EQ(p.As(&node), S_OK);
  return node;
}

inline com::ComPtr<IXMLDOMElement> Root(IXMLDOMDocument* doc) {
  com::ComPtr<IXMLDOMElement> root;
  EXPECT_EQ(doc->get_documentElement(root.put()), S_OK);
  return root;
}

class DomTest : public ::testing::Test {
 protected:
  std::filesystem::path File(const std::string& name) const { return dir_.path() / name; }

  // A document loaded from a file holding `bytes`.
  com::ComPtr<IXMLDOMDocument> Load(const std::string& bytes, const std::string& name = "in.xml") {
    WriteFile(File(name), bytes);
    auto doc = NewDocument();
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(doc->load(PathVariant(File(name)), &ok), S_OK) << LastErrorDescription();
    EXPECT_EQ(ok, VARIANT_TRUE);
    return doc;
  }

  std::string Save(IXMLDOMDocument* doc, const std::string& name = "out.xml") {
    EXPECT_EQ(doc->save(PathVariant(File(name))), S_OK) << LastErrorDescription();
    return ReadFile(File(name));
  }

  qva::testing::TempDir dir_;
};

}  // namespace msxml::testing
