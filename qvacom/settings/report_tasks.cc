#include "qvacom/settings/report_tasks.h"

#include <chrono>

#include "platform/com/date.h"
#include "qvacom/frame/calendar.h"

namespace qva {
namespace {

constexpr std::string_view kTaskSource = "QVA.ReportTask.1";

// `date` moved by `days` calendar days, the time of day kept.
com::Expected<DATE> AddDays(DATE date, LONG days) {
  namespace chr = std::chrono;
  // Years 100 to 9999 span fewer than 3.7 million days; a longer step cannot land inside them
  // and is refused before the calendar arithmetic sees it.
  if (days > 3'700'000 || days < -3'700'000) return com::Fail{E_INVALIDARG};
  ASSIGN_OR_RETURN(com::CivilDateTime c, com::DateToCivil(date));
  const chr::year_month_day moved{
      chr::sys_days(chr::year_month_day{chr::year(c.year), chr::month(c.month), chr::day(c.day)}) + chr::days(days)};
  if (!moved.ok() || static_cast<int>(moved.year()) < 100 || static_cast<int>(moved.year()) > 9999) {
    return com::Fail{E_INVALIDARG};
  }
  c.year = static_cast<int>(moved.year());
  c.month = static_cast<int>(static_cast<unsigned>(moved.month()));
  c.day = static_cast<int>(static_cast<unsigned>(moved.day()));
  return com::CivilToDate(c);
}

auto Named(BSTR name) {
  return [name](const ReportTaskRecord& r) { return settings::SameBstr(r.name.get(), name); };
}

}  // namespace

QVA_RECORD_PROPERTY(CQVAReportTask, Name, BSTR, name);
QVA_RECORD_PROPERTY(CQVAReportTask, Remark, BSTR, remark);
QVA_RECORD_PROPERTY(CQVAReportTask, Enable, VARIANT_BOOL, enable);
QVA_RECORD_PROPERTY(CQVAReportTask, ContentType, LONG, content_type);
QVA_RECORD_PROPERTY(CQVAReportTask, ContentValue, BSTR, content_value);
QVA_RECORD_PROPERTY(CQVAReportTask, Frequency, LONG, frequency);
QVA_RECORD_PROPERTY(CQVAReportTask, Time, BSTR, time);
QVA_RECORD_PROPERTY(CQVAReportTask, Email, VARIANT_BOOL, email);
QVA_RECORD_PROPERTY(CQVAReportTask, SmtpServer, BSTR, smtp_server);
QVA_RECORD_PROPERTY(CQVAReportTask, From, BSTR, from);
QVA_RECORD_PROPERTY(CQVAReportTask, To, BSTR, to);
QVA_RECORD_PROPERTY(CQVAReportTask, Cc, BSTR, cc);
QVA_RECORD_PROPERTY(CQVAReportTask, Subject, BSTR, subject);
QVA_RECORD_PROPERTY(CQVAReportTask, Publish, VARIANT_BOOL, publish);
QVA_RECORD_PROPERTY(CQVAReportTask, PublishFile, BSTR, publish_file);
QVA_RECORD_PROPERTY(CQVAReportTask, PubilishType, LONG, publish_type);
QVA_RECORD_PROPERTY(CQVAReportTask, Content, LONG, content);
QVA_RECORD_PROPERTY(CQVAReportTask, ReportDate, DATE, report_date);
QVA_RECORD_PROPERTY(CQVAReportTask, WeekDay, LONG, week_day);
QVA_RECORD_PROPERTY(CQVAReportTask, MonthDay, LONG, month_day);

HRESULT CQVAReportTask::SetNextReportDate(DATE Report) {
  if (!com::DateToCivil(Report)) return com::ReportError(E_INVALIDARG, kTaskSource, "the report date is not a date");
  const LONG period = record_.frequency;
  DATE next = NextPeriodDate(Report, period);
  if (period == kDaily || period == kWeekly || period == kMonthly) {
    // For a known period NextPeriodDate answers 0 only when the next period starts beyond the
    // calendar (a start after 1899-12-30 cannot lead back to it).
    com::Expected<DATE> moved = next;
    if (next == 0.0 && Report > 0.0) moved = com::Fail{E_INVALIDARG};
    if (moved && period != kDaily) moved = AddDays(next, period == kWeekly ? record_.week_day : record_.month_day - 1);
    if (!moved) return com::ReportError(E_INVALIDARG, kTaskSource, "the next report date is beyond the calendar");
    next = *moved;
  }
  record_.report_date = next;
  return S_OK;
}

HRESULT CQVAReportTask::Init(IUnknown* pDocument) {
  wrapper_ = com::ComPtr<IUnknown>(pDocument);
  return S_OK;
}

HRESULT CQVAReportTask::Save() {
  return settings::SaveItemNode(wrapper_.get(), ReportTasksTraits::kSection, ReportTasksTraits::kSaveKey,
                                ReportTasksTraits::kReportDate, record_, kTaskSource);
}

HRESULT CQVAReportTasks::Init(IUnknown* pDocument) { return list_.Bind(pDocument); }

HRESULT CQVAReportTasks::Save() { return list_.Store(); }

HRESULT CQVAReportTasks::Add(BSTR Name, IQVAReportTask** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  ReportTaskRecord r;
  ASSIGN_OR_RETURN(r.name, settings::CopyBstr(Name));
  ASSIGN_OR_RETURN(com::ComPtr<CQVAReportTask> item, list_.Append(std::move(r)));
  *pVal = item.Detach();
  return S_OK;
}

HRESULT CQVAReportTasks::Remove(VARIANT v) {
  ASSIGN_OR_RETURN(com::Bstr name, settings::NameArgument(v, ReportTasksTraits::kSource));
  ReportTaskRecord probe;
  probe.name = name;
  return list_.Erase(Named(name.get()), probe, true);
}

HRESULT CQVAReportTasks::get_Count(LONG* pVal) { return list_.items().Count(pVal); }

HRESULT CQVAReportTasks::Index(VARIANT v, IQVAReportTask** pVal) { return list_.At(v, pVal); }

HRESULT CQVAReportTasks::Exists(BSTR Name, VARIANT_BOOL* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = list_.Find(Named(Name)) ? 1 : 0;
  return S_OK;
}

HRESULT CQVAReportTasks::Item(BSTR Name, IQVAReportTask** pVal) {
  return list_.Lookup([Name](const ReportTaskRecord& r) { return settings::SameAnsi(r.name.get(), Name); }, pVal);
}

HRESULT CQVAReportTasks::get__NewEnum(IUnknown** pVal) { return list_.items().NewEnum(pVal); }

HRESULT CQVAReportTasks::LoadXML(IUnknown* pDocument) { return list_.Import(pDocument); }

HRESULT CQVAReportTasks::SaveXML(IUnknown* pDocument) { return list_.Export(pDocument); }

}  // namespace qva
