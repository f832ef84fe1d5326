// Log folders: paths gain their separator on load only, progress survives in 64 bits, and the
// log reader's own Save touches only the progress of its folder.
#include "qvacom/settings/log_dirs.h"

#include <gtest/gtest.h>

#include "platform/com/date.h"
#include "tests/settings/list_fixture.h"

namespace qva {
namespace {

using testing::Make;
using testing::Occurrences;
using testing::SettingsXml;

std::string Item(const std::string& dir, const std::string& proxy_date = "2010-05-07",
                 const std::string& proxy_size = "0") {
  return R"(<LogDirItem LogDir=")" + dir + R"(" LastDateProxy=")" + proxy_date + R"(" FileSizeProxy=")" + proxy_size +
         R"(" LastFilePageProxy="0" LastDateFirewall="2010-05-07" FileSizeFirewall="0" LastFilePageFirewall="0" )"
         R"(LastDateBlock="2010-05-07" FileSizeBlock="0" LastFilePageBlock="0"/>)";
}

class LogDirsTest : public testing::SettingsFileTest {
 protected:
  com::ComPtr<CQVALogDirs> Load(const std::string& items) {
    wrapper_ = Open(SettingsXml("<LogDirs>" + items + "</LogDirs>"));
    return Bind();
  }
  com::ComPtr<CQVALogDirs> Bind() {
    auto list = Make<CQVALogDirs>();
    EXPECT_EQ(list->Init(wrapper_.get()), S_OK) << testing::ErrorDescription();
    return list;
  }
  static com::ComPtr<IQVALogDir> At(CQVALogDirs* list, LONG i) {
    com::ComPtr<IQVALogDir> item;
    EXPECT_EQ(list->Index(com::Variant::I4(i), item.put()), S_OK);
    return item;
  }
  static std::string NameOf(IQVALogDir* item) {
    com::Bstr name;
    EXPECT_EQ(item->get_Name(name.put()), S_OK);
    return name.utf8();
  }
  com::ComPtr<CQVAXMLDoc> wrapper_;
};

TEST_F(LogDirsTest, ALoadedPathEndsWithASeparator) {
  struct Case {
    const char* stored;
    const char* loaded;
  } cases[] = {
      {"/var/log/fw", "/var/log/fw/"},
      {"/var/log/fw/", "/var/log/fw/"},
      {"D:\\Logs", "D:\\Logs/"},
      {"D:\\Logs\\", "D:\\Logs\\"},
      {"", ""},
  };
  for (const Case& c : cases) {
    auto list = Load(Item(c.stored));
    EXPECT_EQ(NameOf(At(list.get(), 0).get()), c.loaded) << c.stored;
  }
}

TEST_F(LogDirsTest, AnAddedPathIsStoredAsWrittenAndReadBackWithItsSeparator) {
  auto list = Load("");
  com::ComPtr<IQVALogDir> added;
  ASSERT_EQ(list->Add(com::Bstr("/srv/logs").get(), added.put()), S_OK);
  EXPECT_EQ(NameOf(added.get()), "/srv/logs");
  ASSERT_EQ(list->Save(), S_OK);
  EXPECT_EQ(Occurrences(FileText(), R"(LogDir="/srv/logs" LastDateProxy="1899-12-30" FileSizeProxy="0")"), 1u);

  wrapper_ = Reopen();
  auto reloaded = Bind();
  VARIANT_BOOL exists = -7;
  EXPECT_EQ(reloaded->Exists(com::Bstr("/srv/logs").get(), &exists), S_FALSE);
  EXPECT_EQ(exists, 0);
  EXPECT_EQ(reloaded->Exists(com::Bstr("/srv/logs/").get(), &exists), S_OK);
  EXPECT_EQ(exists, 1);
}

TEST_F(LogDirsTest, ProgressTextsReadAndWriteBack) {
  struct Case {
    const char* date_text;
    int year, month, day;
    const char* size_text;
    LONGLONG size;
    const char* written_date;
    const char* written_size;
  } cases[] = {
      {"2010-5-7", 2010, 5, 7, "5000000000", 5000000000LL, "2010-05-07", "5000000000"},
      {"2024-02-29", 2024, 2, 29, "-1", -1, "2024-02-29", "-1"},
      {"2023-02-29", 1899, 12, 30, "99999999999999999999", INT64_MAX, "1899-12-30", "9223372036854775807"},
      {"2010-5", 1899, 12, 30, "12abc", 12, "1899-12-30", "12"},
      {"garbage", 1899, 12, 30, "", 0, "1899-12-30", "0"},
  };
  for (const Case& c : cases) {
    auto list = Load(Item("/logs/", c.date_text, c.size_text));
    auto item = At(list.get(), 0);
    DATE date = -1;
    LONGLONG size = -7;
    EXPECT_EQ(item->get_LastProxyDate(&date), S_OK);
    EXPECT_EQ(item->get_LastProxyFileSize(&size), S_OK);
    EXPECT_EQ(date, *com::CivilToDate({c.year, c.month, c.day})) << c.date_text;
    EXPECT_EQ(size, c.size) << c.size_text;

    ASSERT_EQ(list->Save(), S_OK);
    const std::string written =
        std::string("LastDateProxy=\"") + c.written_date + "\" FileSizeProxy=\"" + c.written_size + "\"";
    EXPECT_EQ(Occurrences(FileText(), written), 1u) << written;
  }
}

TEST_F(LogDirsTest, AFolderSavesOnlyItsProgressAndOnlyOnItsOwnElement) {
  auto list = Load(Item("/a/") + Item("/b/"));
  auto a = At(list.get(), 0);
  ASSERT_EQ(a->put_LastFirewallFileSize(7000000000LL), S_OK);
  ASSERT_EQ(a->put_LastBlockFilePage(3), S_OK);
  ASSERT_EQ(a->put_Name(com::Bstr("/a/").get()), S_OK);
  ASSERT_EQ(a->Save(), S_OK);
  std::string file = FileText();
  EXPECT_EQ(Occurrences(file, R"(FileSizeFirewall="7000000000")"), 1u);
  EXPECT_EQ(Occurrences(file, R"(LastFilePageBlock="3")"), 1u);

  // A folder whose path has no element changes nothing, yet the file is written.
  const std::string before = file;
  ASSERT_EQ(a->put_Name(com::Bstr("/elsewhere/").get()), S_OK);
  ASSERT_EQ(a->put_LastProxyFilePage(99), S_OK);
  testing::WriteFile(File(), "stale");
  ASSERT_EQ(a->Save(), S_OK);
  EXPECT_EQ(FileText(), before);
}

TEST_F(LogDirsTest, RemoveOfAnAbsentFolderRemovesNothingButSavesTheFile) {
  auto list = Load(Item("/a/"));
  testing::WriteFile(File(), "stale");
  ASSERT_EQ(list->Remove(com::Variant::Str("/nowhere/")), S_OK);
  EXPECT_EQ(Occurrences(FileText(), R"(LogDir="/a/")"), 1u);

  ASSERT_EQ(list->Remove(com::Variant::Str("/a/")), S_OK);
  LONG count = -1;
  list->get_Count(&count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Occurrences(FileText(), "LogDirItem"), 0u);
}

}  // namespace
}  // namespace qva
