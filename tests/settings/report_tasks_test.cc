// Report tasks: the schedule step in calendar days whatever the time zone, the task's own Save
// that writes only its next date, and the name as key.
#include "qvacom/settings/report_tasks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/com/date.h"
#include "tests/settings/list_fixture.h"

namespace qva {
namespace {

using testing::Make;
using testing::Occurrences;
using testing::SettingsXml;

DATE When(int y, int mo, int d, int h = 0, int mi = 0) { return *com::CivilToDate({y, mo, d, h, mi, 0}); }

std::string Task(const std::string& name, const std::string& subject = "S", const std::string& date = "2011-1-9") {
  return R"(<ReportTaskItem Name=")" + name +
         R"(" Remark="" Enable="0" ContentType="0" ContentValue="" Content="0" )"
         R"(ReportDate=")" +
         date +
         R"(" Frequency="0" WeekDay="0" MonthDay="0" Time="" Email="0" SmtpServer="" )"
         R"(From="" To="" Cc="" Subject=")" +
         subject + R"(" Publish="0" PubilishType="0" PublishFile=""/>)";
}

// Runs under a time zone, restoring the process's zone afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    had_ = std::getenv("TZ") != nullptr;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

struct NextDateCase {
  const char* name;
  LONG frequency, week_day, month_day;
  DATE report, next;
};

class NextReportDateTest : public ::testing::TestWithParam<const char*> {};

TEST_P(NextReportDateTest, StepsInCalendarDays) {
  ScopedTimeZone zone(GetParam());
  const NextDateCase cases[] = {
      {"monthly from the last of January", 2, 0, 1, When(2011, 1, 31, 15, 30), When(2011, 2, 1)},
      {"monthly on the 10th", 2, 0, 10, When(2024, 12, 5), When(2025, 1, 10)},
      {"monthly day 0 is the last day of the month", 2, 0, 0, When(2024, 1, 15), When(2024, 1, 31)},
      {"weekly day 1 from a Sunday", 1, 1, 0, When(2011, 1, 9, 8, 0), When(2011, 1, 16, 8, 0)},
      {"weekly day 0 from a Sunday", 1, 0, 0, When(2011, 1, 9, 8, 0), When(2011, 1, 15, 8, 0)},
      {"weekly across the spring change", 1, 1, 0, When(2024, 3, 27, 12, 0), When(2024, 3, 31, 12, 0)},
      {"daily onto the 23-hour day", 0, 0, 0, When(2024, 3, 30, 2, 30), When(2024, 3, 31, 2, 30)},
      {"daily onto the 25-hour day", 0, 0, 0, When(2024, 10, 26, 2, 30), When(2024, 10, 27, 2, 30)},
      {"other frequency", 5, 3, 3, When(2024, 3, 30), 0.0},
  };
  for (const NextDateCase& c : cases) {
    auto task = Make<CQVAReportTask>();
    task->put_Frequency(c.frequency);
    task->put_WeekDay(c.week_day);
    task->put_MonthDay(c.month_day);
    ASSERT_EQ(task->SetNextReportDate(c.report), S_OK) << c.name;
    DATE next = -1;
    EXPECT_EQ(task->get_ReportDate(&next), S_OK);
    EXPECT_EQ(next, c.next) << c.name;
  }
}

TEST_P(NextReportDateTest, RefusesDatesOutsideTheCalendarAndKeepsTheOldDate) {
  ScopedTimeZone zone(GetParam());
  struct Case {
    LONG frequency, week_day;
    DATE report;
  } cases[] = {{2, 0, When(9999, 12, 15)}, {1, 2'000'000'000, When(2024, 1, 1)}, {0, 0, 1e9}};
  for (const Case& c : cases) {
    auto task = Make<CQVAReportTask>();
    task->put_ReportDate(123.0);
    task->put_Frequency(c.frequency);
    task->put_WeekDay(c.week_day);
    EXPECT_EQ(task->SetNextReportDate(c.report), E_INVALIDARG);
    DATE kept = 0;
    task->get_ReportDate(&kept);
    EXPECT_EQ(kept, 123.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Zones, NextReportDateTest, ::testing::Values("UTC", "Europe/Berlin"), [](const auto& info) {
  return std::string(info.param == std::string("UTC") ? "Utc" : "Berlin");
});

class ReportTasksTest : public testing::SettingsFileTest {
 protected:
  com::ComPtr<CQVAReportTasks> Load(const std::string& items) {
    wrapper_ = Open(SettingsXml("<ReportTasks>" + items + "</ReportTasks>"));
    auto list = Make<CQVAReportTasks>();
    EXPECT_EQ(list->Init(wrapper_.get()), S_OK) << testing::ErrorDescription();
    return list;
  }
  static com::ComPtr<IQVAReportTask> Named(CQVAReportTasks* list, const char* name) {
    com::ComPtr<IQVAReportTask> task;
    EXPECT_EQ(list->Item(com::Bstr(name).get(), task.put()), S_OK);
    return task;
  }
  com::ComPtr<CQVAXMLDoc> wrapper_;
};

TEST_F(ReportTasksTest, ATasksOwnSaveWritesOnlyItsReportDate) {
  auto list = Load(Task("Weekly") + Task("Other"));
  auto task = Named(list.get(), "Weekly");
  ASSERT_EQ(task->put_Subject(com::Bstr("New subject").get()), S_OK);
  ASSERT_EQ(task->put_Frequency(2), S_OK);
  ASSERT_EQ(task->put_MonthDay(1), S_OK);
  ASSERT_EQ(task->SetNextReportDate(When(2011, 1, 31)), S_OK);
  ASSERT_EQ(task->Save(), S_OK);
  std::string file = FileText();
  EXPECT_EQ(Occurrences(file, R"(<ReportTaskItem Name="Weekly")"), 1u);
  EXPECT_EQ(Occurrences(file, R"(ReportDate="2011-02-01")"), 1u);
  EXPECT_EQ(Occurrences(file, "New subject"), 0u);
  EXPECT_EQ(Occurrences(file, R"(Frequency="2")"), 0u);

  ASSERT_EQ(list->Save(), S_OK);
  file = FileText();
  EXPECT_EQ(Occurrences(file, R"(Subject="New subject")"), 1u);
  EXPECT_EQ(Occurrences(file, R"(ReportDate="2011-01-09")"), 1u) << "the other task's date, written back in full";
}

TEST_F(ReportTasksTest, ARenamedTaskGetsASecondElementAndTheOldOneStays) {
  auto list = Load(Task("Old"));
  ASSERT_EQ(Named(list.get(), "Old")->put_Name(com::Bstr("New").get()), S_OK);
  ASSERT_EQ(list->Save(), S_OK);
  const std::string file = FileText();
  EXPECT_EQ(Occurrences(file, R"(Name="Old")"), 1u);
  EXPECT_EQ(Occurrences(file, R"(Name="New")"), 1u);
}

TEST_F(ReportTasksTest, BooleansAreWrittenAsTheirStoredValue) {
  auto list = Load("");
  com::ComPtr<IQVAReportTask> task;
  ASSERT_EQ(list->Add(com::Bstr("T").get(), task.put()), S_OK);
  ASSERT_EQ(task->put_Enable(VARIANT_TRUE), S_OK);
  ASSERT_EQ(task->put_Email(1), S_OK);
  ASSERT_EQ(list->Save(), S_OK);
  EXPECT_EQ(Occurrences(FileText(), R"(Enable="-1")"), 1u);
  EXPECT_EQ(Occurrences(FileText(), R"(Email="1")"), 1u);
}

TEST_F(ReportTasksTest, LookupsByName) {
  auto list = Load(Task("Daily"));
  struct Case {
    const char* name;
    HRESULT item;
    VARIANT_BOOL exists;
  } cases[] = {{"Daily", S_OK, 1}, {"daily", E_FAIL, 0}, {"", E_FAIL, 0}};
  for (const Case& c : cases) {
    com::ComPtr<IQVAReportTask> task;
    EXPECT_EQ(list->Item(com::Bstr(c.name).get(), task.put()), c.item) << c.name;
    VARIANT_BOOL exists = -7;
    EXPECT_EQ(list->Exists(com::Bstr(c.name).get(), &exists), S_OK);
    EXPECT_EQ(exists, c.exists) << c.name;
  }
}

TEST_F(ReportTasksTest, RemoveOfAnAbsentNameStillSavesTheFile) {
  auto list = Load(Task("Daily"));
  testing::WriteFile(File(), "stale");
  ASSERT_EQ(list->Remove(com::Variant::Str("Nightly")), S_OK);
  EXPECT_EQ(Occurrences(FileText(), R"(Name="Daily")"), 1u);
  ASSERT_EQ(list->Remove(com::Variant::Str("Daily")), S_OK);
  EXPECT_EQ(Occurrences(FileText(), "ReportTaskItem"), 0u);
}

}  // namespace
}  // namespace qva
