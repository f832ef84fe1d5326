#include "qvacom/settings/configure.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/date.h"
#include "platform/com/object.h"
#include "platform/com/variant.h"
#include "platform/msxml/msxml.h"
#include "qvacom/settings/dom.h"
#include "qvacom/settings/xml_doc.h"
#include "qvacom/storage/sql_text.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using qva::SettingKind;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

const std::string& TemplateText() {
  static const std::string text = ReadFile(fs::path(QVA_TEMPLATE_DIR) / "vodrik_e.xmt");
  return text;
}

// `xml` with attribute `attribute` of element `element` set to `value`, or removed when nullopt
// (the element must carry it, or must be given a new one).
std::string WithAttribute(std::string xml, std::string_view element, std::string_view attribute,
                          std::optional<std::string_view> value) {
  const size_t start = xml.find("<" + std::string(element) + " ");
  EXPECT_NE(start, std::string::npos) << element;
  const size_t end = xml.find("/>", start);
  const std::string key = " " + std::string(attribute) + "=\"";
  const size_t at = xml.find(key, start);
  if (at == std::string::npos || at > end) {
    if (value) xml.insert(end, key + std::string(*value) + "\"");
    return xml;
  }
  const size_t close = xml.find('"', at + key.size());
  if (value)
    xml.replace(at + key.size(), close - at - key.size(), *value);
  else
    xml.erase(at, close + 1 - at);
  return xml;
}

std::string WithoutElement(std::string xml, std::string_view element) {
  const size_t start = xml.find("<" + std::string(element) + " ");
  const size_t end = xml.find("/>", start);
  xml.erase(start, end + 2 - start);
  return xml;
}

DATE At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) { return *com::CivilToDate({y, mo, d, h, mi, s}); }
std::string Text(DATE d) { return qva::sql::FormatDate(d, qva::sql::kDateTimeFormat); }

// Late-bound access by property name, as scripts use the object.
DISPID IdOf(IDispatch* object, std::string_view name) {
  std::u16string wide = com::Utf8ToUtf16(name);
  LPOLESTR names[] = {wide.data()};
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << name;
  return id;
}

com::Variant Get(IDispatch* object, std::string_view name) {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  com::Variant out;
  EXPECT_EQ(object->Invoke(IdOf(object, name), IID_NULL, 0, DISPATCH_PROPERTYGET, &none, out.put(), nullptr, nullptr),
            S_OK)
      << name;
  return out;
}

HRESULT Put(IDispatch* object, std::string_view name, VARIANT value) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &named, 1, 1};
  return object->Invoke(IdOf(object, name), IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
}

// A value with its type, readable in a failure message.
std::string Show(const VARIANT& v) {
  if (v.vt == VT_BOOL) return "bool:" + std::to_string(v.boolVal);  // the integer, not True/False
  com::Variant text;
  if (FAILED(VariantChangeType(&text, &v, 0, VT_BSTR))) return "<vt " + std::to_string(v.vt) + ">";
  return std::to_string(v.vt) + ":" + com::BstrToUtf8(text.bstrVal);
}

com::Variant Long(LONG v) { return com::Variant::I4(v); }
com::Variant Str(std::string_view v) { return com::Variant::Str(v); }

com::ComPtr<IQVAXMLDoc> OpenWrapper(const fs::path& file) {
  auto made = com::CreateObject<qva::CQVAXMLDoc>();
  EXPECT_TRUE(made.ok());
  com::ComPtr<IQVAXMLDoc> wrapper(made->get());
  com::Bstr name(file.string());
  EXPECT_EQ(wrapper->Open(name.get()), S_OK) << file;
  return wrapper;
}

com::ComPtr<IQVAConfigure> NewConfigure() {
  auto made = com::CreateObject<qva::CQVAConfigure>();
  EXPECT_TRUE(made.ok());
  return com::ComPtr<IQVAConfigure>(made->get());
}

com::ComPtr<IXMLDOMDocument> ParseDocument(const std::string& xml) {
  com::ComPtr<IXMLDOMDocument> doc;
  EXPECT_EQ(msxml::CreateDocument(doc.put()), S_OK);
  com::Bstr text(xml);
  VARIANT_BOOL ok = VARIANT_FALSE;
  EXPECT_EQ(doc->loadXML(text.get(), &ok), S_OK);
  return doc;
}

// The text of `attribute` of section `section` under "Configure", or nullopt when absent.
std::optional<std::string> SectionAttribute(IXMLDOMDocument* doc, std::string_view section,
                                            std::string_view attribute) {
  auto configure = qva::dom::Section(doc, "Configure");
  EXPECT_TRUE(configure.ok() && *configure);
  auto node = qva::dom::Select(configure->get(), section);
  EXPECT_TRUE(node.ok() && *node) << section;
  auto text = qva::dom::Attribute(node->get(), attribute);
  EXPECT_TRUE(text.ok());
  if (!*text) return std::nullopt;
  return (*text)->utf8();
}

std::optional<std::string> FileAttribute(const fs::path& file, std::string_view section, std::string_view attribute) {
  return SectionAttribute(ParseDocument(ReadFile(file)).get(), section, attribute);
}

std::string LastErrorDescription() {
  com::ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return "";
  com::Bstr description;
  info->GetDescription(description.put());
  return description.utf8();
}

// A base folder holding a settings file made from the template (changed by the test as it
// needs), opened by a wrapper and loaded into a settings object whose CurDir is the folder.
class ConfigureTest : public ::testing::Test {
 protected:
  fs::path File() const { return dir_.path() / "vodrik_e.xml"; }
  std::string CurDir() const { return dir_.path().string() + "/"; }

  // Writes `xml` as the settings file, opens it and runs Init; returns Init's result.
  HRESULT Start(const std::string& xml) {
    WriteFile(File(), xml);
    wrapper_ = OpenWrapper(File());
    config_ = NewConfigure();
    com::Bstr cur(CurDir());
    EXPECT_EQ(config_->put_CurDir(cur.get()), S_OK);
    return config_->Init(wrapper_.get());
  }
  // A second wrapper and settings object on the same file, as a restarted service makes them.
  com::ComPtr<IQVAConfigure> Reopen() {
    auto wrapper = OpenWrapper(File());
    auto config = NewConfigure();
    com::Bstr cur(CurDir());
    EXPECT_EQ(config->put_CurDir(cur.get()), S_OK);
    EXPECT_EQ(config->Init(wrapper.get()), S_OK) << LastErrorDescription();
    return config;
  }

  qva::testing::TempDir dir_;
  com::ComPtr<IQVAXMLDoc> wrapper_;
  com::ComPtr<IQVAConfigure> config_;
};

TEST_F(ConfigureTest, TemplateLoadsAndFirstSaveFillsInTheComputedSettings) {
  ASSERT_EQ(Start(TemplateText()), S_OK) << LastErrorDescription();
  const DATE today = At(2000, 1, 1) + static_cast<int>(qva::LocalNow() - At(2000, 1, 1));
  struct Case {
    const char* property;
    com::Variant value;
  } cases[] = {
      {"DataBaseType", Long(0)},
      {"ServerType", Str("MS_ISA2004(2006)_STANDARD")},
      {"FileFormat", Str("ISA Server file format")},
      {"ReportDir", Str(CurDir() + "Report/")},
      {"RealMalware", Long(500)},
      {"QueryThreatStyle", Long(0x200000)},
      {"ArchQueryFiletypeStyle", Long(64)},
      {"FreshFixTime", com::Variant::Date(At(2000, 1, 1, 3))},
  };
  for (const Case& c : cases) EXPECT_EQ(Show(Get(config_.get(), c.property)), Show(c.value)) << c.property;
  DATE from = 0;
  ASSERT_EQ(config_->get_QuotaBytesFrom(&from), S_OK);
  EXPECT_GE(from, today);  // an empty date text is the time of loading
  EXPECT_TRUE(fs::is_directory(dir_.path() / "Report"));

  ASSERT_EQ(config_->Save(), S_OK) << LastErrorDescription();
  EXPECT_EQ(FileAttribute(File(), "Report", "ReportDir"), CurDir() + "Report/");
  EXPECT_EQ(FileAttribute(File(), "Log", "ServerType"), "MS_ISA2004(2006)_STANDARD");
  EXPECT_EQ(FileAttribute(File(), "CurDir", "Value"), CurDir());
  EXPECT_EQ(FileAttribute(File(), "DefaultQuota", "QuotaBytesFrom"), qva::sql::FormatDate(from, "%Y-%m-%d"));
}

// Optional groups: one missing attribute gives the whole group its fallbacks, values read from
// the file before it included; neighbouring groups keep what the file says.
TEST_F(ConfigureTest, AMissingOptionalAttributeResetsItsWholeGroup) {
  struct Setting {
    const char* element;
    const char* attribute;
    std::optional<const char*> text;  // nullopt: removed
  };
  struct Expect {
    const char* property;
    LONG value;
  };
  struct Case {
    std::vector<Setting> file;
    std::vector<Expect> loaded;
  } cases[] = {
      {{{"Realtime", "RealMalware", "7"}, {"Realtime", "RealNIS", std::nullopt}},
       {{"RealMalware", 500}, {"RealNIS", 500}}},
      {{{"Realtime", "RealMalware", "7"}, {"Realtime", "RealNIS", "8"}}, {{"RealMalware", 7}, {"RealNIS", 8}}},
      {{{"Query", "SortProtocol", "5"}, {"Query", "SortApp", std::nullopt}, {"Query", "SortCategory", "3"}},
       {{"SortProtocol", 5}, {"SortApp", 0}, {"SortCategory", 3}}},
      {{{"Query", "SortProtocol", "5"}, {"Query", "SortCategory", "3"}, {"Query", "SortFiletype", std::nullopt}},
       {{"SortProtocol", 5}, {"SortCategory", 0}, {"SortUser", 0}, {"SortFiletype", 0}}},
      {{{"Query", "QueryAppStyle", "99"},
        {"Query", "QueryThreatStyle", std::nullopt},
        {"Query", "ArchQueryAppStyle", "77"}},
       {{"QueryAppStyle", 16}, {"QueryRuleStyle", 1024}, {"QuerySignatureStyle", 0x400000}, {"ArchQueryAppStyle", 77}}},
      {{{"Query", "ArchQueryOthersStyle", "3"}, {"Query", "ArchQueryUserStyle", std::nullopt}},
       {{"ArchQueryUserStyle", 1}, {"ArchQueryOthersStyle", 16}, {"ArchQueryFiletypeStyle", 64}}},
      {{{"Query", "ArchQueryRuleStyle", "3"}, {"Query", "ArchQuerySignaturetStyle", std::nullopt}},
       {{"ArchQueryRuleStyle", 1024}, {"ArchQuerySignatureStyle", 0x400000}, {"ArchQueryUserStyle", 1}}},
  };
  for (const Case& c : cases) {
    std::string xml = TemplateText();
    for (const Setting& s : c.file) xml = WithAttribute(xml, s.element, s.attribute, s.text);
    ASSERT_EQ(Start(xml), S_OK) << LastErrorDescription();
    for (const Expect& e : c.loaded) EXPECT_EQ(Show(Get(config_.get(), e.property)), Show(Long(e.value))) << e.property;
  }
}

TEST_F(ConfigureTest, AbsentReportDirIsTheReportFolderOfCurDirAndIsMade) {
  // Without ReportDir the folder Report/ of CurDir is made (an existing one is no error);
  // a present ReportDir is taken as it stands and nothing is made.
  fs::create_directory(dir_.path() / "Report");
  ASSERT_EQ(Start(WithAttribute(TemplateText(), "Report", "ReportDir", std::nullopt)), S_OK);
  EXPECT_EQ(Show(Get(config_.get(), "ReportDir")), Show(Str(CurDir() + "Report/")));

  const std::string elsewhere = (dir_.path() / "elsewhere").string() + "/";
  ASSERT_EQ(Start(WithAttribute(TemplateText(), "Report", "ReportDir", elsewhere)), S_OK);
  EXPECT_EQ(Show(Get(config_.get(), "ReportDir")), Show(Str(elsewhere)));
  EXPECT_FALSE(fs::exists(elsewhere));

  // A CurDir without a final separator gets one.
  fs::remove_all(dir_.path() / "Report");
  WriteFile(File(), TemplateText());
  auto wrapper = OpenWrapper(File());
  auto config = NewConfigure();
  com::Bstr cur(dir_.path().string());
  ASSERT_EQ(config->put_CurDir(cur.get()), S_OK);
  ASSERT_EQ(config->Init(wrapper.get()), S_OK);
  EXPECT_EQ(Show(Get(config.get(), "ReportDir")), Show(Str(CurDir() + "Report/")));
  EXPECT_TRUE(fs::is_directory(dir_.path() / "Report"));
}

TEST_F(ConfigureTest, EmptyFirewallEditionAndLogFormatTakeTheirDefaults) {
  struct Case {
    const char* server_type;
    const char* file_format;
    const char* loaded_type;
    const char* loaded_format;
  } cases[] = {
      {"", "", "MS_ISA2004(2006)_STANDARD", "ISA Server file format"},
      {"MS_TMG2010_STANDARD", "W3C extended log file format", "MS_TMG2010_STANDARD", "W3C extended log file format"},
      {"MS_ISA2000", "", "MS_ISA2000", "ISA Server file format"},
  };
  for (const Case& c : cases) {
    std::string xml = WithAttribute(TemplateText(), "Log", "ServerType", c.server_type);
    xml = WithAttribute(xml, "Log", "FileFormat", c.file_format);
    ASSERT_EQ(Start(xml), S_OK);
    EXPECT_EQ(Show(Get(config_.get(), "ServerType")), Show(Str(c.loaded_type)));
    EXPECT_EQ(Show(Get(config_.get(), "FileFormat")), Show(Str(c.loaded_format)));
  }
}

// The attribute text forms, read in the "C" conventions whatever the process locale.
TEST_F(ConfigureTest, AttributeTextsReadAsTheirTypesSay) {
  struct Case {
    const char* element;
    const char* attribute;
    const char* text;
    const char* property;
    com::Variant value;
  } cases[] = {
      {"DefaultQuota", "QuotaTimePeriod", "2.9", "QuotaTimePeriod", Long(2)},
      {"DefaultQuota", "QuotaTimePeriod", "-2.9", "QuotaTimePeriod", Long(-2)},
      {"DefaultQuota", "QuotaTimePeriod", "1e12", "QuotaTimePeriod", Long(2147483647)},
      {"DefaultQuota", "QuotaTimePeriod", "nan", "QuotaTimePeriod", Long(0)},
      {"Discount", "Discount", "1", "Discount",
       [] {
         com::Variant v;
         v.vt = VT_BOOL;
         v.boolVal = 1;  // the stored integer, not normalised to VARIANT_TRUE
         return v;
       }()},
      {"DataProcess", "TimeSnippet", " -15min", "TimeSnippet", Long(-15)},
      {"DataProcess", "TimeSnippet", "abc", "TimeSnippet", Long(0)},
      {"DataProcess", "TimeSnippet", "99999999999", "TimeSnippet", Long(2147483647)},
      {"DefaultFeeRate", "FeeByTime", "1.5e3x", "FeeByTime", com::Variant::R8(1500)},
      {"DefaultFeeRate", "FeeByTime", "+0.25", "FeeByTime", com::Variant::R8(0.25)},
      {"DefaultFeeRate", "FeeByTime", "0,5", "FeeByTime", com::Variant::R8(0)},
      {"DefaultQuota", "QuotaBytesFrom", "2010-05-07", "QuotaBytesFrom", com::Variant::Date(At(2010, 5, 7))},
      {"DefaultQuota", "QuotaBytesFrom", "2010-5-7 13:45", "QuotaBytesFrom", com::Variant::Date(At(2010, 5, 7))},
      {"Schedule", "FreshFixTime", "2010-5-7 3:0:9", "FreshFixTime", com::Variant::Date(At(2010, 5, 7, 3, 0, 9))},
      {"Schedule", "FreshFixTime", "2010-5-7", "FreshFixTime", com::Variant::Date(At(2000, 1, 1, 3))},  // kept
      {"Schedule", "FreshFixTime", "2010-2-30 03:00:00", "FreshFixTime", com::Variant::Date(At(2000, 1, 1, 3))},
  };
  const std::string old_locale = setlocale(LC_ALL, nullptr);
  for (const char* locale : {"C", "de_DE.UTF-8"}) {
    if (!setlocale(LC_ALL, locale)) continue;  // the decimal-comma locale may be missing
    for (const Case& c : cases) {
      // Every case starts from the template's value, so a text that is not read keeps it.
      ASSERT_EQ(Start(TemplateText()), S_OK);
      com::ComPtr<IXMLDOMDocument> doc = ParseDocument(WithAttribute(TemplateText(), c.element, c.attribute, c.text));
      ASSERT_EQ(config_->LoadXML(doc.get()), S_OK) << LastErrorDescription();
      EXPECT_EQ(Show(Get(config_.get(), c.property)), Show(c.value)) << locale << " " << c.attribute << "=" << c.text;
    }
  }
  setlocale(LC_ALL, old_locale.c_str());
}

TEST_F(ConfigureTest, DatesAreWrittenAsDaysAndTheFixTimeWithItsClock) {
  ASSERT_EQ(Start(TemplateText()), S_OK);
  ASSERT_EQ(config_->put_QuotaBytesFrom(At(2010, 5, 7, 13, 45)), S_OK);
  ASSERT_EQ(config_->put_FreshFixTime(At(2010, 5, 7, 3)), S_OK);
  ASSERT_EQ(config_->put_Discount(VARIANT_TRUE), S_OK);
  ASSERT_EQ(config_->Save(), S_OK);
  EXPECT_EQ(FileAttribute(File(), "DefaultQuota", "QuotaBytesFrom"), "2010-05-07");
  EXPECT_EQ(FileAttribute(File(), "Schedule", "FreshFixTime"), "2010-5-7 03:00:00");
  EXPECT_EQ(FileAttribute(File(), "Discount", "Discount"), "-1");

  auto reopened = Reopen();
  DATE fix = 0, from = 0;
  ASSERT_EQ(reopened->get_FreshFixTime(&fix), S_OK);
  ASSERT_EQ(reopened->get_QuotaBytesFrom(&from), S_OK);
  EXPECT_EQ(Text(fix), "2010-05-07 03:00:00");
  EXPECT_EQ(Text(from), "2010-05-07 00:00:00");
  // The object keeps the wrapper it was given alive after its creator let go of it.
  EXPECT_EQ(reopened->Save(), S_OK);
}

TEST_F(ConfigureTest, AMissingRequiredPartFailsTheLoadWhereItStands) {
  ASSERT_EQ(Start(TemplateText()), S_OK);
  com::Bstr held("held");
  ASSERT_EQ(config_->put_ReportTitle(held.get()), S_OK);

  // StayTime missing: Firewall to Schedule (and DataProcess before StayTime) are read, the rest not.
  std::string xml = WithAttribute(TemplateText(), "DataProcess", "StayTime", std::nullopt);
  xml = WithAttribute(xml, "Firewall", "Server", "fw.example");
  xml = WithAttribute(xml, "Schedule", "ScanTime", "17");
  xml = WithAttribute(xml, "DataProcess", "ByteSnippet", "33");
  xml = WithAttribute(xml, "Report", "ReportTitle", "from the file");
  com::ComPtr<IXMLDOMDocument> doc = ParseDocument(xml);
  EXPECT_EQ(config_->LoadXML(doc.get()), E_POINTER);
  EXPECT_NE(LastErrorDescription().find("StayTime"), std::string::npos) << LastErrorDescription();
  EXPECT_EQ(Show(Get(config_.get(), "FirewallServer")), Show(Str("fw.example")));
  EXPECT_EQ(Show(Get(config_.get(), "ScanTime")), Show(Long(17)));
  EXPECT_EQ(Show(Get(config_.get(), "ByteSnippet")), Show(Long(33)));
  EXPECT_EQ(Show(Get(config_.get(), "ReportTitle")), Show(Str("held")));

  // A missing section or "Configure" fails likewise, and so does Init on such a file.
  const std::string broken[] = {
      WithoutElement(TemplateText(), "Event"),
      WithoutElement(TemplateText(), "Log"),
      "<Vodrik Version=\"Enterprise 3.8\"><ElementSet/></Vodrik>",
  };
  for (const std::string& b : broken) {
    EXPECT_EQ(config_->LoadXML(ParseDocument(b).get()), E_POINTER);
    EXPECT_EQ(Start(b), E_POINTER);
  }
  // A section that is never read may be missing from a load, but Save needs it, and fails
  // before it changes the document or the file.
  ASSERT_EQ(Start(WithoutElement(TemplateText(), "CurDir")), S_OK);
  const std::string before = ReadFile(File());
  ASSERT_EQ(config_->put_FirewallServer(held.get()), S_OK);
  EXPECT_EQ(config_->Save(), E_POINTER);
  EXPECT_EQ(ReadFile(File()), before);
  com::ComPtr<IUnknown> dom;
  ASSERT_EQ(wrapper_->get_XMLDOMDocument(dom.put()), S_OK);
  auto in_memory = qva::dom::AsDocument(dom.get());
  ASSERT_TRUE(in_memory.ok());
  EXPECT_EQ(SectionAttribute(in_memory->get(), "Firewall", "Server"), "");

  EXPECT_EQ(NewConfigure()->Init(nullptr), E_POINTER);
  EXPECT_EQ(NewConfigure()->Save(), E_POINTER);
}

// Every stored setting survives Save and a fresh Init on the same file; the values are made
// from the table so that a row added later is covered too.
TEST_F(ConfigureTest, EverySettingSurvivesSaveAndReopen) {
  ASSERT_EQ(Start(TemplateText()), S_OK);
  const auto table = qva::SettingTable();
  auto distinct = [](size_t i, SettingKind kind) {
    const LONG n = static_cast<LONG>(i);
    switch (kind) {
      case SettingKind::kLong:
      case SettingKind::kTruncated:
        return Long(1000 + n);
      case SettingKind::kBool: {
        com::Variant v;
        v.vt = VT_BOOL;
        v.boolVal = static_cast<VARIANT_BOOL>(n % 2 ? VARIANT_TRUE : n);
        return v;
      }
      case SettingKind::kDouble:
        return com::Variant::R8(n + 0.25);
      case SettingKind::kText:
        return Str("text " + std::to_string(n) + " <ä & \"ü\">");
      case SettingKind::kPassword:
        return Str("pass Z" + std::to_string(n) + " ä\x7f");
      case SettingKind::kDate:
        return com::Variant::Date(At(2010, 1, 1) + n);
      case SettingKind::kFixTime:
        return com::Variant::Date(At(2010, 1, 1, 3, 4, 5) + n);
    }
    return com::Variant();
  };
  for (size_t i = 0; i < table.size(); ++i)
    ASSERT_EQ(Put(config_.get(), table[i].property, distinct(i, table[i].kind)), S_OK) << table[i].property;
  ASSERT_EQ(Put(config_.get(), "SortUrl", Long(42)), S_OK);
  ASSERT_EQ(config_->Save(), S_OK) << LastErrorDescription();

  auto reopened = Reopen();
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i].absent == qva::SettingAbsent::kNotRead) continue;  // CurDir is the caller's to put
    EXPECT_EQ(Show(Get(reopened.get(), table[i].property)), Show(distinct(i, table[i].kind))) << table[i].property;
  }
  EXPECT_EQ(Show(Get(reopened.get(), "SortUrl")), Show(Long(0)));  // held in memory only
  EXPECT_EQ(ReadFile(File()).find("SortUrl"), std::string::npos);
}

TEST_F(ConfigureTest, PasswordsAreScrambledInTheFileOnlyAndAtMost49Bytes) {
  auto repeat = [](std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
  };
  const std::string passwords[] = {
      "", "secret", "Z\\\\Z", "p\xC3\xA4sswo\xC3\xB6rd <&>\t", std::string(49, 'x'), repeat("\xC3\xA4", 24) + "a",
  };
  for (const std::string& password : passwords) {
    ASSERT_EQ(Start(TemplateText()), S_OK);
    ASSERT_EQ(Put(config_.get(), "FirewallPassword", Str(password)), S_OK);
    ASSERT_EQ(Put(config_.get(), "DataBasePassword", Str(password)), S_OK);
    ASSERT_EQ(config_->Save(), S_OK) << LastErrorDescription();
    const std::optional<std::string> stored = FileAttribute(File(), "Firewall", "Password");
    ASSERT_TRUE(stored);
    if (!password.empty()) {
      EXPECT_EQ(stored->find(password), std::string::npos);
    }
    auto reopened = Reopen();
    EXPECT_EQ(Show(Get(reopened.get(), "FirewallPassword")), Show(Str(password)));
    EXPECT_EQ(Show(Get(reopened.get(), "DataBasePassword")), Show(Str(password)));
  }

  // 50 bytes or more are refused, the held password stays.
  for (const std::string& refused : {std::string(50, 'x'), repeat("\xC3\xA4", 25), std::string(500, 'y')}) {
    com::Bstr held("held"), too_long(refused);
    ASSERT_EQ(config_->put_DataBasePassword(held.get()), S_OK);
    EXPECT_EQ(config_->put_DataBasePassword(too_long.get()), E_INVALIDARG);
    EXPECT_EQ(Show(Get(config_.get(), "DataBasePassword")), Show(Str("held")));
  }

  // A stored text this system did not scramble is refused with a clear error, not misread.
  EXPECT_EQ(Start(WithAttribute(TemplateText(), "DataBase", "Password", "plain text")), E_INVALIDARG);
  EXPECT_NE(LastErrorDescription().find("Password"), std::string::npos);
}

TEST_F(ConfigureTest, SaveXmlWritesAnIndentedSectionWithoutArchiveStylesThatLoadXmlReadsBack) {
  ASSERT_EQ(Start(TemplateText()), S_OK);
  const auto table = qva::SettingTable();
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i].kind != SettingKind::kLong) continue;
    ASSERT_EQ(Put(config_.get(), table[i].property, Long(3000 + i)), S_OK);
  }
  com::Bstr title("exported title");
  ASSERT_EQ(config_->put_ReportTitle(title.get()), S_OK);

  com::ComPtr<IXMLDOMDocument> doc = ParseDocument("<Vodrik/>");
  ASSERT_EQ(config_->SaveXML(doc.get()), S_OK) << LastErrorDescription();

  auto root = qva::dom::Root(doc.get());
  ASSERT_TRUE(root.ok());
  EXPECT_FALSE(*qva::dom::Attribute(root->get(), "Version"));
  auto children = qva::dom::Children(root->get());
  ASSERT_TRUE(children.ok());
  ASSERT_EQ(children->size(), 2u);
  EXPECT_EQ(qva::dom::Name((*children)[1].get()), "Configure");
  auto sections = qva::dom::Children((*children)[1].get());
  ASSERT_TRUE(sections.ok());
  ASSERT_EQ(sections->size(), 2 * qva::SettingSections().size() + 1);
  for (size_t i = 0; i < qva::SettingSections().size(); ++i) {
    com::Bstr indent;
    ASSERT_EQ((*sections)[2 * i]->get_text(indent.put()), S_OK);
    EXPECT_EQ(indent.utf8(), "\n\t\t");
    EXPECT_EQ(qva::dom::Name((*sections)[2 * i + 1].get()), qva::SettingSections()[i]);
  }
  com::Bstr closing;
  ASSERT_EQ(sections->back()->get_text(closing.put()), S_OK);
  EXPECT_EQ(closing.utf8(), "\n\t");
  for (const qva::SettingInfo& row : table)
    EXPECT_EQ(SectionAttribute(doc.get(), row.section, row.attribute).has_value(), row.exported()) << row.attribute;

  // Read back into an object that held other values: every exported setting arrives, the
  // archive-query styles take their fallbacks, CurDir is never read.
  ASSERT_EQ(Start(TemplateText()), S_OK);
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i].kind != SettingKind::kLong) continue;
    ASSERT_EQ(Put(config_.get(), table[i].property, Long(5000 + i)), S_OK);
  }
  com::Bstr cur_before;
  ASSERT_EQ(config_->get_CurDir(cur_before.put()), S_OK);
  ASSERT_EQ(config_->LoadXML(doc.get()), S_OK) << LastErrorDescription();
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i].kind != SettingKind::kLong) continue;
    const LONG expected = table[i].exported() ? static_cast<LONG>(3000 + i) : table[i].fallback;
    EXPECT_EQ(Show(Get(config_.get(), table[i].property)), Show(Long(expected))) << table[i].property;
  }
  EXPECT_EQ(Show(Get(config_.get(), "ReportTitle")), Show(Str("exported title")));
  EXPECT_EQ(Show(Get(config_.get(), "ArchQueryOthersStyle")), Show(Long(16)));
  EXPECT_EQ(Show(Get(config_.get(), "ArchQueryFiletypeStyle")), Show(Long(64)));
  com::Bstr cur_after;
  ASSERT_EQ(config_->get_CurDir(cur_after.put()), S_OK);
  EXPECT_EQ(cur_after, cur_before);
}

// The archive schedule is calendar arithmetic: the same answers in UTC and in a zone with summer
// time (the last Sunday of March 2024 had 23 hours in Berlin).
class ArchDateTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const char* old = getenv("TZ");
    had_ = old != nullptr;
    saved_ = old ? old : "";
    setenv("TZ", GetParam(), 1);
    tzset();
  }
  void TearDown() override {
    if (had_)
      setenv("TZ", saved_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  std::string saved_;
  bool had_ = false;
};

TEST_P(ArchDateTest, NextArchiveDateFollowsTheSchedule) {
  struct Case {
    LONG frequency, week_day, month_day;
    DATE arch;
    const char* next;
  } cases[] = {
      {1, 3, 0, At(2024, 3, 28, 10), "2024-04-02 10:00:00"},     // Thursday: Saturday, plus 3 days
      {1, 0, 0, At(2024, 3, 30, 10), "2024-03-30 10:00:00"},     // a Saturday gives itself
      {1, 1, 0, At(2024, 3, 24, 2, 30), "2024-03-31 02:30:00"},  // a clock time Berlin skips that day
      {1, -7, 0, At(2024, 1, 3), "2023-12-30 00:00:00"},
      {2, 0, 15, At(2024, 3, 10, 18), "2024-04-15 00:00:00"},
      {2, 0, 15, At(2024, 3, 31, 23, 59), "2024-04-15 00:00:00"},
      {2, 0, 1, At(2024, 10, 27, 2, 30), "2024-11-01 00:00:00"},
      {2, 0, 31, At(2024, 1, 20), "2024-03-02 00:00:00"},  // February has 29 days in 2024
      {2, 0, 0, At(2024, 2, 20), "2024-02-29 00:00:00"},
      {0, 5, 5, At(2024, 3, 30, 22), "2024-03-31 22:00:00"},
      {3, 0, 0, At(2024, 3, 30), "1899-12-30 00:00:00"},
      {2, 0, 2147483647, At(2024, 3, 30), "1899-12-30 00:00:00"},  // beyond the calendar
  };
  auto config = NewConfigure();
  for (const Case& c : cases) {
    ASSERT_EQ(config->put_ArchFrequency(c.frequency), S_OK);
    ASSERT_EQ(config->put_ArchWeekDay(c.week_day), S_OK);
    ASSERT_EQ(config->put_ArchMonthDay(c.month_day), S_OK);
    ASSERT_EQ(config->SetNextArchDate(c.arch), S_OK);
    DATE next = -1;
    ASSERT_EQ(config->get_ArchDate(&next), S_OK);
    EXPECT_EQ(Text(next), c.next) << Text(c.arch) << " frequency " << c.frequency;
  }
}

INSTANTIATE_TEST_SUITE_P(Zones, ArchDateTest, ::testing::Values("UTC0", "CET-1CEST,M3.5.0,M10.5.0/3"));

}  // namespace
