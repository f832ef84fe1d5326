// The report tasks: scheduled reports (what to report on, how often and when, and how to
// deliver the result: by mail through an SMTP server or by publishing to a file). Section
// "ReportTasks" of the settings document, one "ReportTaskItem" per task with twenty attributes,
// one per property, named as the property (including the "PubilishType" spelling) and written
// in the order of kAll below. Integers and booleans are decimal texts of the stored value;
// "ReportDate" is "%Y-%m-%d". The codes of ContentType, Content and PubilishType and the text
// of Time belong to the consoles and the report runner and are stored unchanged.
//
// The name is the key. Save of the list rewrites all twenty attributes of each task's element
// (a task without one gets a new element, so a renamed task leaves its old element behind);
// Save of a single task, which the report runner calls after SetNextReportDate, rewrites only
// "ReportDate". Both save the settings file, as Remove does; Add and the puts stay in memory.
#pragma once

#include <string_view>

#include "platform/com/bstr.h"
#include "qvacom/settings/list_item.h"
#include "qvacom/settings/list_xml.h"
#include "qvacom_idl.h"

namespace qva {

struct ReportTaskRecord {
  com::Bstr name;
  com::Bstr remark;
  VARIANT_BOOL enable = 0;
  LONG content_type = 0;
  com::Bstr content_value;
  LONG content = 0;
  DATE report_date = 0.0;
  LONG frequency = 0;  // a PeriodCode: 0 daily, 1 weekly, 2 monthly
  LONG week_day = 0;
  LONG month_day = 0;
  com::Bstr time;
  VARIANT_BOOL email = 0;
  com::Bstr smtp_server;
  com::Bstr from;
  com::Bstr to;
  com::Bstr cc;
  com::Bstr subject;
  VARIANT_BOOL publish = 0;
  LONG publish_type = 0;
  com::Bstr publish_file;
};

// SetNextReportDate(Report) sets ReportDate to the next run after `Report`: the start of the
// next period (daily: the next day; weekly: the Saturday on or after `Report`; monthly: the
// first of the next month at 00:00), then weekly plus WeekDay days, monthly plus MonthDay days
// less one. Days are calendar days. Any other Frequency gives the DATE 0. A `Report` outside
// the calendar, or a result beyond it, is E_INVALIDARG and leaves ReportDate as it was.
// Holds the settings document wrapper given to its Init, for its own Save.
class CQVAReportTask : public settings::RecordItem<IQVAReportTask, ReportTaskRecord> {
 public:
  QVA_DECL_IQVAReportTask;

 private:
  com::ComPtr<IUnknown> wrapper_;
};

struct ReportTasksTraits {
  using Item = CQVAReportTask;
  using R = ReportTaskRecord;
  static constexpr std::string_view kSource = "QVA.ReportTasks.1";
  static constexpr std::string_view kSection = "ReportTasks";
  static constexpr std::string_view kElement = "ReportTaskItem";
  static constexpr settings::Field<R> kAll[] = {
      settings::Text("Name", &R::name),
      settings::Text("Remark", &R::remark),
      settings::Integer("Enable", &R::enable),
      settings::Integer("ContentType", &R::content_type),
      settings::Text("ContentValue", &R::content_value),
      settings::Integer("Content", &R::content),
      settings::Day("ReportDate", &R::report_date),
      settings::Integer("Frequency", &R::frequency),
      settings::Integer("WeekDay", &R::week_day),
      settings::Integer("MonthDay", &R::month_day),
      settings::Text("Time", &R::time),
      settings::Integer("Email", &R::email),
      settings::Text("SmtpServer", &R::smtp_server),
      settings::Text("From", &R::from),
      settings::Text("To", &R::to),
      settings::Text("Cc", &R::cc),
      settings::Text("Subject", &R::subject),
      settings::Integer("Publish", &R::publish),
      settings::Integer("PubilishType", &R::publish_type),
      settings::Text("PublishFile", &R::publish_file),
  };
  static constexpr std::span<const settings::Field<R>> kFields{kAll};
  static constexpr std::span<const settings::Field<R>> kSaveKey{kAll, 1};
  static constexpr std::span<const settings::Field<R>> kRemoveKey{kAll, 1};
  static constexpr std::span<const settings::Field<R>> kReportDate{kAll + 6, 1};
  static constexpr bool kNewlineAfterSection = false;
};

// Remove takes the task name (its argument converted to a string). Item finds a name by exact
// multibyte comparison (E_FAIL when absent); Exists by exact BSTR comparison, S_OK with 1 or 0.
class CQVAReportTasks : public com::Dispatch<IQVAReportTasks> {
 public:
  QVA_DECL_IQVAReportTasks;

 private:
  settings::XmlList<ReportTasksTraits> list_;
};

}  // namespace qva
