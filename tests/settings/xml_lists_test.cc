// What every XML-backed settings list shares: it loads its section of the settings file, its
// Save brings the file in line without duplicating anything (a fresh list on the saved file
// holds the same items), and a whole-document export and import carry every attribute intact.
// Each case writes its items in their canonical text form, which is also the form the export
// must produce.
#include <gtest/gtest.h>

#include "qvacom/settings/discount_times.h"
#include "qvacom/settings/domains.h"
#include "qvacom/settings/ips.h"
#include "qvacom/settings/log_dirs.h"
#include "qvacom/settings/report_tasks.h"
#include "tests/settings/list_fixture.h"

namespace qva {
namespace {

using testing::Make;
using testing::Occurrences;
using testing::SettingsXml;

struct DiscountTimesCase {
  using List = CQVADiscountTimes;
  static constexpr const char* kSection = "Discounts";
  static std::vector<std::string> Items() {
    return {R"(<DiscountItem StartTime="08:30:00" EndTime="12:00:00" Rate="0.5"/>)",
            R"(<DiscountItem StartTime="22:00:00" EndTime="23:59:00" Rate="0.25"/>)"};
  }
};

struct DomainsCase {
  using List = CQVADomains;
  static constexpr const char* kSection = "Domains";
  static std::vector<std::string> Items() {
    return {R"(<DomainItem Name="corp.example.com" NetbiosName="CORP"/>)",
            R"(<DomainItem Name="lab.example.com" NetbiosName="LAB"/>)"};
  }
};

struct LogDirsCase {
  using List = CQVALogDirs;
  static constexpr const char* kSection = "LogDirs";
  static std::vector<std::string> Items() {
    return {R"(<LogDirItem LogDir="/var/log/isa/" LastDateProxy="2010-05-07" FileSizeProxy="5000000000" )"
            R"(LastFilePageProxy="12" LastDateFirewall="2011-01-09" FileSizeFirewall="0" LastFilePageFirewall="0" )"
            R"(LastDateBlock="1899-12-30" FileSizeBlock="9223372036854775807" LastFilePageBlock="-1"/>)",
            R"(<LogDirItem LogDir="D:\Logs\" LastDateProxy="2024-03-31" FileSizeProxy="1" )"
            R"(LastFilePageProxy="2" LastDateFirewall="2024-03-31" FileSizeFirewall="3" LastFilePageFirewall="4" )"
            R"(LastDateBlock="2024-03-31" FileSizeBlock="5" LastFilePageBlock="6"/>)"};
  }
};

struct ReportTasksCase {
  using List = CQVAReportTasks;
  static constexpr const char* kSection = "ReportTasks";
  static std::vector<std::string> Items() {
    return {R"(<ReportTaskItem Name="Monthly" Remark="Top users &amp; sites" Enable="-1" ContentType="2" )"
            R"(ContentValue="Sales" Content="7" ReportDate="2011-01-09" Frequency="2" WeekDay="0" MonthDay="1" )"
            R"(Time="02:00" Email="-1" SmtpServer="mail.example.com" From="fw@example.com" To="boss@example.com" )"
            R"(Cc="" Subject="Rapport mensuel — été" Publish="0" PubilishType="3" PublishFile="/srv/report.htm"/>)"};
  }
};

struct IPsCase {
  using List = CQVAIPs;
  static constexpr const char* kSection = "IPs";
  static std::vector<std::string> Items() {
    return {R"(<IP Num="0" StartIP="10.0.0.1" EndIP="10.0.0.9"/>)",
            R"(<IP Num="3" StartIP="192.168.1.10" EndIP="192.168.1.20"/>)"};
  }
};

template <class Case>
class XmlListTest : public testing::SettingsFileTest {
 protected:
  using List = typename Case::List;

  static std::string Section() {
    std::string s = std::string("<") + Case::kSection + ">";
    for (const std::string& item : Case::Items()) s += item;
    return s + "</" + Case::kSection + ">";
  }

  // The exported section as the export must write it.
  static std::string ExpectedExport() {
    std::string s = std::string("\n\t<") + Case::kSection + ">";
    for (const std::string& item : Case::Items()) s += "\n\t\t" + item;
    return s + "\n\t</" + Case::kSection + ">";
  }

  // The text of a fresh document after `list`'s SaveXML.
  std::string Export(List* list) {
    dom::Document doc = NewDom();
    EXPECT_EQ(list->SaveXML(doc.get()), S_OK) << testing::ErrorDescription();
    return DomText(doc.get());
  }

  com::ComPtr<List> Bound(IUnknown* wrapper) {
    auto list = Make<List>();
    EXPECT_EQ(list->Init(wrapper), S_OK) << testing::ErrorDescription();
    return list;
  }

  static LONG Count(List* list) {
    LONG n = -1;
    EXPECT_EQ(list->get_Count(&n), S_OK);
    return n;
  }
};

using Cases = ::testing::Types<DiscountTimesCase, DomainsCase, LogDirsCase, ReportTasksCase, IPsCase>;
TYPED_TEST_SUITE(XmlListTest, Cases);

TYPED_TEST(XmlListTest, LoadsTheFileSavesItWithoutDuplicatesAndReloadsTheSameItems) {
  auto wrapper = this->Open(SettingsXml("<Configure/>" + this->Section()));
  auto list = this->Bound(wrapper.get());
  EXPECT_EQ(this->Count(list.get()), static_cast<LONG>(TypeParam::Items().size()));
  const std::string exported = this->Export(list.get());
  EXPECT_NE(exported.find(this->ExpectedExport()), std::string::npos) << exported;

  ASSERT_EQ(list->Save(), S_OK) << testing::ErrorDescription();
  ASSERT_EQ(list->Save(), S_OK) << "a second Save finds every element again";
  const std::string file = this->FileText();
  EXPECT_EQ(Occurrences(file, std::string("<") + TypeParam::kSection), 1u);
  for (const std::string& item : TypeParam::Items()) EXPECT_EQ(Occurrences(file, item), 1u) << item;

  auto reloaded = this->Bound(this->Reopen().get());
  EXPECT_EQ(this->Export(reloaded.get()), exported);
}

TYPED_TEST(XmlListTest, RoundTripsThroughExportAndImport) {
  auto source = this->Bound(this->Open(SettingsXml(this->Section())).get());
  dom::Document exported = this->NewDom();
  ASSERT_EQ(source->SaveXML(exported.get()), S_OK);

  // The importing list's own section is empty; it receives the imported items at Save.
  auto wrapper = this->Open(SettingsXml(std::string("<") + TypeParam::kSection + "/>"));
  auto target = this->Bound(wrapper.get());
  ASSERT_EQ(target->LoadXML(exported.get()), S_OK) << testing::ErrorDescription();
  EXPECT_EQ(this->Export(target.get()), this->Export(source.get()));

  ASSERT_EQ(target->Save(), S_OK);
  auto reloaded = this->Bound(this->Reopen().get());
  EXPECT_EQ(this->Export(reloaded.get()), this->Export(source.get()));
}

TYPED_TEST(XmlListTest, AFailedImportChangesNothing) {
  auto wrapper = this->Open(SettingsXml(this->Section()));
  auto list = this->Bound(wrapper.get());
  const std::string before = this->Export(list.get());

  const std::string broken = std::string("<Vodrik><") + TypeParam::kSection + "><" + TypeParam::kSection + "Item/></" +
                             TypeParam::kSection + "></Vodrik>";
  for (const std::string& xml : {std::string("<Vodrik/>"), broken}) {
    EXPECT_EQ(list->LoadXML(this->NewDom(xml).get()), E_POINTER) << xml;
    EXPECT_EQ(this->Export(list.get()), before) << xml;
    EXPECT_EQ(this->Items(wrapper.get(), TypeParam::kSection).size(), TypeParam::Items().size()) << xml;
  }
}

TYPED_TEST(XmlListTest, ALoadWithoutItsSectionOrWithAnIncompleteItemIsEPointerAndKeepsEarlierItems) {
  std::string first = TypeParam::Items().front();
  std::string element = first.substr(1, first.find(' ') - 1);
  const std::string xml = SettingsXml(std::string("<") + TypeParam::kSection + ">" + first + "<" + element + "/></" +
                                      TypeParam::kSection + ">");
  auto list = Make<typename TypeParam::List>();
  ASSERT_EQ(list->Init(this->Open(xml).get()), E_POINTER);
  EXPECT_NE(testing::ErrorDescription().find("lacks the attribute"), std::string::npos);
  EXPECT_EQ(this->Count(list.get()), 1);

  auto bare = Make<typename TypeParam::List>();
  EXPECT_EQ(bare->Init(this->Open(SettingsXml("<Configure/>")).get()), E_POINTER);
  EXPECT_EQ(bare->Save(), E_POINTER) << "nothing to save into";
}

TYPED_TEST(XmlListTest, InitsFromTheSettingsTemplate) {
  const testing::fs::path templ = testing::fs::path(QVA_TEMPLATE_DIR) / "vodrik_e.xmt";
  ASSERT_TRUE(testing::fs::exists(templ)) << templ;
  testing::WriteFile(this->File(), testing::ReadFile(templ));
  auto list = this->Bound(this->Reopen().get());
  EXPECT_EQ(this->Count(list.get()), 0);
}

}  // namespace
}  // namespace qva
