// Shared ground of the settings list tests: a settings file in a fresh folder opened through the
// document wrapper, fresh DOM documents for export and import, and readers of what a document
// or a file holds.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/errorinfo.h"
#include "platform/com/object.h"
#include "platform/msxml/msxml.h"
#include "qvacom/settings/dom.h"
#include "qvacom/settings/xml_doc.h"
#include "tests/support/temp_dir.h"

namespace qva::testing {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A settings document holding `sections` under its root.
inline std::string SettingsXml(const std::string& sections) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Vodrik Version=\"Enterprise 3.8\">" + sections + "</Vodrik>\n";
}

// The description of the calling thread's error information, or "" when none is set.
inline std::string ErrorDescription() {
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return "";
  com::Bstr description;
  info->GetDescription(description.put());
  return description.utf8();
}

// How many times `what` occurs in `text`.
inline size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// Makes a list object of class T.
template <class T>
com::ComPtr<T> Make() {
  auto made = com::CreateObject<T>();
  EXPECT_TRUE(made.ok());
  return made.ok() ? std::move(made.value()) : com::ComPtr<T>();
}

class SettingsFileTest : public ::testing::Test {
 protected:
  fs::path File() const { return dir_.path() / "vodrik_e.xml"; }

  // Writes the settings file and opens a wrapper on it.
  com::ComPtr<CQVAXMLDoc> Open(const std::string& bytes) {
    WriteFile(File(), bytes);
    return Reopen();
  }
  // A fresh wrapper on the settings file as it is on disk now.
  com::ComPtr<CQVAXMLDoc> Reopen() {
    auto wrapper = Make<CQVAXMLDoc>();
    com::Bstr name(File().string());
    EXPECT_EQ(wrapper->Open(name.get()), S_OK) << ErrorDescription();
    return wrapper;
  }
  std::string FileText() const { return ReadFile(File()); }

  // A fresh DOM document holding an empty root, as a whole-document export starts from.
  static dom::Document NewDom(const std::string& xml = "<Vodrik Version=\"Enterprise 3.8\"/>") {
    dom::Document doc;
    EXPECT_EQ(msxml::CreateDocument(doc.put()), S_OK);
    com::Bstr text(xml);
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(doc->loadXML(text.get(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    return doc;
  }
  // The text a DOM document is saved as.
  std::string DomText(IXMLDOMDocument* doc) {
    const fs::path out = dir_.path() / "export.xml";
    com::Variant target = com::Variant::Str(out.string());
    EXPECT_EQ(doc->save(target), S_OK) << ErrorDescription();
    return ReadFile(out);
  }

  // The element children of section `name` in the wrapper's document.
  static std::vector<dom::Node> Items(IUnknown* wrapper, std::string_view name) {
    auto doc = dom::DocumentOfWrapper(wrapper);
    EXPECT_TRUE(doc.ok());
    auto section = dom::Section(doc->get(), name);
    EXPECT_TRUE(section.ok() && *section);
    auto children = dom::ChildElements(section->get());
    return children.ok() ? std::move(children.value()) : std::vector<dom::Node>();
  }
  // An attribute text of a node, or "(absent)".
  static std::string Attr(const dom::Node& node, std::string_view name) {
    auto text = dom::Attribute(node.get(), name);
    return text.ok() && *text ? (*text)->utf8() : "(absent)";
  }

  TempDir dir_;
};

}  // namespace qva::testing
