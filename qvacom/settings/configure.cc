#include "qvacom/settings/configure.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <optional>

#include "platform/com/bstr.h"
#include "platform/com/date.h"
#include "platform/com/errorinfo.h"
#include "platform/com/variant.h"
#include "qvacom/settings/dom.h"
#include "qvacom/storage/sql_text.h"

namespace qva {
namespace {

constexpr std::string_view kSource = "QVA.Configure.1";

constexpr SettingInfo kTable[] = {
#define QVA_CONFIGURE_PROPERTY(property, kind, section, attribute, absent, fallback) \
  {#property, SettingKind::k##kind, #section, attribute, SettingAbsent::absent, fallback},
#include "qvacom/settings/configure_properties.def"
#undef QVA_CONFIGURE_PROPERTY
};

constexpr std::string_view kSections[] = {
    "CurDir",       "Firewall",       "Log",      "DataBase", "Discount",    "WebQuery", "AdminMode",
    "DefaultQuota", "DefaultFeeRate", "Realtime", "Schedule", "DataProcess", "Report",   "Query",
    "Arch",         "Output",         "Event",
};

// The table must list its rows section by section in layout order, and each optional group's
// rows side by side: the writers and the loader rely on both.
consteval bool TableIsInLayoutOrder() {
  size_t section = 0;
  for (const SettingInfo& row : kTable) {
    while (section < std::size(kSections) && kSections[section] != row.section) ++section;
    if (section == std::size(kSections)) return false;
  }
  for (size_t i = 0; i < std::size(kTable); ++i) {
    const SettingAbsent g = kTable[i].absent;
    if (g == SettingAbsent::kRequired || g == SettingAbsent::kNotRead) continue;
    for (size_t j = i + 2; j < std::size(kTable); ++j)
      if (kTable[j].absent == g && kTable[j - 1].absent != g) return false;
  }
  return true;
}
static_assert(TableIsInLayoutOrder());
static_assert(std::size(kTable) == static_cast<size_t>(Setting::EventShow) + 1);

// The automation type of each kind, as the interface declares its get and put.
template <SettingKind K>
struct ApiOf {
  using type = LONG;
};
template <>
struct ApiOf<SettingKind::kBool> {
  using type = VARIANT_BOOL;
};
template <>
struct ApiOf<SettingKind::kDouble> {
  using type = double;
};
template <>
struct ApiOf<SettingKind::kText> {
  using type = BSTR;
};
template <>
struct ApiOf<SettingKind::kPassword> {
  using type = BSTR;
};
template <>
struct ApiOf<SettingKind::kDate> {
  using type = DATE;
};
template <>
struct ApiOf<SettingKind::kFixTime> {
  using type = DATE;
};

const SettingInfo& Row(Setting s) { return kTable[static_cast<size_t>(s)]; }

bool IsDate(SettingKind k) { return k == SettingKind::kDate || k == SettingKind::kFixTime; }

// Fixed key of the password scrambling; files written with another key do not read back.
constexpr unsigned char kPasswordKey = 0x5C;
// The longest password the settings file has ever held (bytes of UTF-8); longer ones are refused.
constexpr size_t kMaxPasswordBytes = 49;

// What an empty firewall edition or log format reads as.
constexpr std::string_view kDefaultServerType = "MS_ISA2004(2006)_STANDARD";
constexpr std::string_view kDefaultFileFormat = "ISA Server file format";
constexpr std::string_view kReportFolder = "Report/";
constexpr std::string_view kDateFormat = "%Y-%M-%D";  // the account date parser's pattern

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// atoi's reading in the "C" conventions: blanks, an optional sign, the leading digits; no digits
// give 0. Values beyond 32 bits are held at the nearest bound. `pos` moves past what was read.
LONG ReadLong(std::string_view t, size_t* pos, bool* any = nullptr) {
  size_t i = *pos;
  while (i < t.size() && IsBlank(t[i])) ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  int64_t v = 0;
  const size_t first = i;
  for (; i < t.size() && IsDigit(t[i]); ++i) v = std::min<int64_t>(v * 10 + (t[i] - '0'), int64_t{1} << 32);
  if (any) *any = i > first;
  *pos = i;
  v = negative ? -v : v;
  return static_cast<LONG>(std::clamp<int64_t>(v, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()));
}

LONG TextToLong(std::string_view t) {
  size_t pos = 0;
  return ReadLong(t, &pos);
}

// atof's reading in the "C" conventions (a point as decimal separator, whatever the locale):
// blanks, an optional sign, the longest number prefix; none gives 0.
double TextToDouble(std::string_view t) {
  size_t i = 0;
  while (i < t.size() && IsBlank(t[i])) ++i;
  if (i < t.size() && t[i] == '+' && i + 1 < t.size() && t[i + 1] != '-') ++i;
  double v = 0.0;
  const auto r = std::from_chars(t.data() + i, t.data() + t.size(), v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) return t[i] == '-' ? -HUGE_VAL : HUGE_VAL;
  return r.ec == std::errc() ? v : 0.0;
}

// A decimal number truncated toward zero; beyond 32 bits it is held at the nearest bound.
LONG TruncateToLong(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<LONG>(
      std::clamp(std::trunc(v), double{std::numeric_limits<LONG>::min()}, double{std::numeric_limits<LONG>::max()}));
}

// "FreshFixTime" as "%d-%d-%d %d:%d:%d" reads it: year, month, day, hour, minute, second. A text
// that does not give all six, or gives a time the calendar lacks, reads as nothing.
std::optional<DATE> ReadFixTime(std::string_view t) {
  int fields[6] = {};
  constexpr char kAfter[] = {'-', '-', ' ', ':', ':'};
  size_t pos = 0;
  for (int f = 0; f < 6; ++f) {
    bool any = false;
    fields[f] = ReadLong(t, &pos, &any);
    if (!any) return std::nullopt;
    if (f == 5) break;
    if (kAfter[f] == ' ') {
      while (pos < t.size() && IsBlank(t[pos])) ++pos;  // a blank in the pattern matches any run
    } else if (pos < t.size() && t[pos] == kAfter[f]) {
      ++pos;
    } else {
      return std::nullopt;
    }
  }
  auto date = com::CivilToDate({fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]});
  if (!date) return std::nullopt;
  return *date;
}

std::string WriteFixTime(const DateWithStatus& d) {
  if (!d.valid()) return {};
  auto c = com::DateToCivil(d.value);
  if (!c) return {};
  return sql::Format("%d-%d-%d %02d:%02d:%02d", c->year, c->month, c->day, c->hour, c->minute, c->second);
}

// `date` moved by `days` calendar days, time of day kept.
std::optional<DATE> AddDays(DATE date, int64_t days) {
  namespace chr = std::chrono;
  auto c = com::DateToCivil(date);
  if (!c || days < -4'000'000 || days > 4'000'000) return std::nullopt;
  const chr::year_month_day ymd{chr::sys_days(chr::year(c->year) / chr::month(c->month) / chr::day(c->day)) +
                                chr::days(days)};
  c->year = static_cast<int>(ymd.year());
  c->month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  c->day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  auto moved = com::CivilToDate(*c);
  if (!moved) return std::nullopt;
  return *moved;
}

// A folder path with a separator at its end ("/" or "\" count; one without gets "/").
std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
  return folder;
}

std::string Concat(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (std::string_view p : pieces) out += p;
  return out;
}

HRESULT Missing(std::initializer_list<std::string_view> what) {
  std::string text = "the settings document has no ";
  text += Concat(what);
  return com::ReportError(E_POINTER, kSource, text);
}

}  // namespace

std::span<const SettingInfo> SettingTable() { return kTable; }
std::span<const std::string_view> SettingSections() { return kSections; }

// The scrambled form is the XOR of each UTF-8 byte with the key, written as two upper-case
// hexadecimal digits per byte. XOR alone can make bytes an XML attribute cannot carry (NUL,
// control characters, broken UTF-8), which would lose the password; the digits always survive.
std::string ScramblePassword(std::string_view plain) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(plain.size() * 2);
  for (char c : plain) {
    const unsigned char b = static_cast<unsigned char>(c) ^ kPasswordKey;
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  return out;
}

com::Expected<std::string> UnscramblePassword(std::string_view stored) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  if (stored.size() % 2 != 0) return com::Fail{E_INVALIDARG};
  std::string out;
  out.reserve(stored.size() / 2);
  for (size_t i = 0; i < stored.size(); i += 2) {
    const int hi = digit(stored[i]), lo = digit(stored[i + 1]);
    if (hi < 0 || lo < 0) return com::Fail{E_INVALIDARG};
    out += static_cast<char>(static_cast<unsigned char>(hi << 4 | lo) ^ kPasswordKey);
  }
  return out;
}

// ---- get and put -------------------------------------------------------------------------------

HRESULT CQVAConfigure::Get(Setting s, LONG* out) {
  if (!out) return E_POINTER;
  *out = At(s).number;
  return S_OK;
}

HRESULT CQVAConfigure::Get(Setting s, VARIANT_BOOL* out) {
  if (!out) return E_POINTER;
  *out = static_cast<VARIANT_BOOL>(At(s).number);  // the stored integer as it is: a file's 1 stays 1
  return S_OK;
}

HRESULT CQVAConfigure::Get(Setting s, double* out) {
  if (!out) return E_POINTER;
  *out = IsDate(Row(s).kind) ? At(s).date.value : At(s).real;
  return S_OK;
}

HRESULT CQVAConfigure::Get(Setting s, BSTR* out) {
  if (!out) return E_POINTER;
  *out = com::AllocBstr(At(s).text);
  return *out ? S_OK : com::ReportError(E_OUTOFMEMORY, kSource, "out of memory");
}

HRESULT CQVAConfigure::Put(Setting s, LONG value) {
  At(s).number = value;
  return S_OK;
}

HRESULT CQVAConfigure::Put(Setting s, VARIANT_BOOL value) {
  At(s).number = value;
  return S_OK;
}

HRESULT CQVAConfigure::Put(Setting s, double value) {
  if (IsDate(Row(s).kind))
    At(s).date = {value, DateStatus::kValid};
  else
    At(s).real = value;
  return S_OK;
}

HRESULT CQVAConfigure::Put(Setting s, BSTR value) {
  std::string text = com::BstrToUtf8(value);
  if (Row(s).kind == SettingKind::kPassword && text.size() > kMaxPasswordBytes)
    return com::ReportError(E_INVALIDARG, kSource, Concat({Row(s).property, " is longer than 49 bytes"}));
  At(s).text = std::move(text);
  return S_OK;
}

#define QVA_CONFIGURE_PROPERTY(property, kind, section, attribute, absent, fallback) \
  HRESULT CQVAConfigure::get_##property(ApiOf<SettingKind::k##kind>::type* pVal) {   \
    return Get(Setting::property, pVal);                                             \
  }                                                                                  \
  HRESULT CQVAConfigure::put_##property(ApiOf<SettingKind::k##kind>::type newVal) {  \
    return Put(Setting::property, newVal);                                           \
  }
#include "qvacom/settings/configure_properties.def"
#undef QVA_CONFIGURE_PROPERTY

HRESULT CQVAConfigure::get_SortUrl(LONG* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = sort_url_;
  return S_OK;
}

HRESULT CQVAConfigure::put_SortUrl(LONG newVal) {
  sort_url_ = newVal;
  return S_OK;
}

// ---- reading and writing one setting ------------------------------------------------------------

HRESULT CQVAConfigure::Read(size_t row, std::string_view text) {
  const SettingInfo& info = kTable[row];
  Value& v = values_[row];
  switch (info.kind) {
    case SettingKind::kLong:
    case SettingKind::kBool:
      v.number = TextToLong(text);
      break;
    case SettingKind::kTruncated:
      v.number = TruncateToLong(TextToDouble(text));
      break;
    case SettingKind::kDouble:
      v.real = TextToDouble(text);
      break;
    case SettingKind::kText:
      v.text = text;
      break;
    case SettingKind::kPassword: {
      auto plain = UnscramblePassword(text);
      if (!plain)
        return com::ReportError(
            E_INVALIDARG, kSource,
            Concat({"\"", info.section, "\"/\"", info.attribute, "\" is not a password this system stored"}));
      v.text = std::move(*plain);
      break;
    }
    case SettingKind::kDate:
      v.date = text.empty() ? DateWithStatus{LocalNow(), DateStatus::kValid} : ParseAccountDate(text, kDateFormat);
      break;
    case SettingKind::kFixTime:
      // A text that is not a date and time keeps the value held before.
      if (auto d = ReadFixTime(text)) v.date = {*d, DateStatus::kValid};
      break;
  }
  return S_OK;
}

void CQVAConfigure::ApplyFallbacks(SettingAbsent group) {
  for (size_t row = 0; row < kCount; ++row) {
    if (kTable[row].absent != group) continue;
    if (group == SettingAbsent::kReportDirGroup) {
      std::string dir = WithSeparator(At(Setting::CurDir).text) + std::string(kReportFolder);
      // An existing folder is no error; a folder that cannot be made is the report writer's
      // failure later, not a reason to refuse the settings.
      std::error_code ec;
      std::filesystem::create_directory(dir, ec);
      values_[row].text = std::move(dir);
    } else {
      values_[row].number = kTable[row].fallback;
    }
  }
}

HRESULT CQVAConfigure::Write(size_t row, IXMLDOMNode* section) {
  const SettingInfo& info = kTable[row];
  const Value& v = values_[row];
  switch (info.kind) {
    case SettingKind::kLong:
    case SettingKind::kBool:
    case SettingKind::kTruncated:
      return dom::SetAttribute(section, info.attribute, std::to_string(v.number));
    case SettingKind::kDouble:
      return dom::SetAttribute(section, info.attribute, com::Variant::R8(v.real));
    case SettingKind::kText:
      return dom::SetAttribute(section, info.attribute, v.text);
    case SettingKind::kPassword:
      return dom::SetAttribute(section, info.attribute, ScramblePassword(v.text));
    case SettingKind::kDate:
      return dom::SetAttribute(section, info.attribute,
                               v.date.valid() ? sql::FormatDate(v.date.value, sql::kDateFormat) : std::string());
    case SettingKind::kFixTime:
      return dom::SetAttribute(section, info.attribute, WriteFixTime(v.date));
  }
  return E_UNEXPECTED;
}

// ---- the document ---------------------------------------------------------------------------------

HRESULT CQVAConfigure::Load(IUnknown* document) {
  auto doc = dom::AsDocument(document);
  if (!doc) return com::ReportError(doc.error(), kSource, "pDocument is not a DOM document");
  auto root = dom::Root(doc->get());
  if (!root) return Missing({"document element"});
  ASSIGN_OR_RETURN(dom::Node configure, dom::Select(root->get(), "Configure"));
  if (!configure) return Missing({"\"Configure\" element"});

  std::string_view open;  // the section being read
  dom::Node section;
  bool group_missing = false;
  for (size_t row = 0; row < kCount; ++row) {
    const SettingInfo& info = kTable[row];
    if (info.absent == SettingAbsent::kNotRead) continue;
    if (info.section != open) {
      if (open == "Log") {
        if (At(Setting::ServerType).text.empty()) At(Setting::ServerType).text = kDefaultServerType;
        if (At(Setting::FileFormat).text.empty()) At(Setting::FileFormat).text = kDefaultFileFormat;
      }
      ASSIGN_OR_RETURN(section, dom::Select(configure.get(), info.section));
      if (!section) return Missing({"\"", info.section, "\" section"});
      open = info.section;
    }
    ASSIGN_OR_RETURN(std::optional<com::Bstr> text, dom::Attribute(section.get(), info.attribute));
    if (text) {
      RETURN_IF_FAILED(Read(row, text->utf8()));
    } else if (info.absent == SettingAbsent::kRequired) {
      return Missing({"\"", info.attribute, "\" attribute in \"", info.section, "\""});
    } else {
      group_missing = true;
    }
    const bool group_ends = row + 1 == kCount || kTable[row + 1].absent != info.absent;
    if (info.absent != SettingAbsent::kRequired && group_ends) {
      if (group_missing) ApplyFallbacks(info.absent);
      group_missing = false;
    }
  }
  com::ClearError();
  return S_OK;
}

HRESULT CQVAConfigure::Init(IUnknown* pDocument) {
  wrapper_ = com::ComPtr<IUnknown>(pDocument);
  auto doc = dom::DocumentOfWrapper(pDocument);
  if (!doc)
    return com::ReportError(doc.error(), kSource, "pDocument is not a settings document wrapper with a document");
  return Load(doc->get());
}

HRESULT CQVAConfigure::LoadXML(IUnknown* pDocument) { return Load(pDocument); }

HRESULT CQVAConfigure::Save() {
  if (!wrapper_) return com::ReportError(E_POINTER, kSource, "Init has not been given a settings document");
  auto doc = dom::DocumentOfWrapper(wrapper_.get());
  if (!doc) return com::ReportError(doc.error(), kSource, "the settings document wrapper holds no document");
  auto root = dom::Root(doc->get());
  if (!root) return Missing({"document element"});
  ASSIGN_OR_RETURN(dom::Node configure, dom::Select(root->get(), "Configure"));
  if (!configure) return Missing({"\"Configure\" element"});

  // Every section is found before anything is written, so a document lacking one stays as it was.
  std::array<dom::Node, std::size(kSections)> sections;
  for (size_t i = 0; i < sections.size(); ++i) {
    ASSIGN_OR_RETURN(sections[i], dom::Select(configure.get(), kSections[i]));
    if (!sections[i]) return Missing({"\"", kSections[i], "\" section"});
  }
  RETURN_IF_FAILED(dom::SetAttribute(root->get(), "Version", kSettingsVersion));
  size_t s = 0;
  for (size_t row = 0; row < kCount; ++row) {
    while (kSections[s] != kTable[row].section) ++s;
    RETURN_IF_FAILED(Write(row, sections[s].get()));
  }

  com::ComPtr<IQVAXMLDoc> wrapper;
  RETURN_IF_FAILED(wrapper_->QueryInterface(IID_IQVAXMLDoc, wrapper.put_void()));
  RETURN_IF_FAILED(wrapper->Save());  // the wrapper has set the error information
  com::ClearError();
  return S_OK;
}

HRESULT CQVAConfigure::SaveXML(IUnknown* pDocument) {
  auto doc = dom::AsDocument(pDocument);
  if (!doc) return com::ReportError(doc.error(), kSource, "pDocument is not a DOM document");
  auto root = dom::Root(doc->get());
  if (!root) return Missing({"document element"});
  ASSIGN_OR_RETURN(dom::Node configure, dom::AppendElement(doc->get(), root->get(), dom::kIndent1, "Configure"));
  for (std::string_view name : kSections) {
    ASSIGN_OR_RETURN(dom::Node section, dom::AppendElement(doc->get(), configure.get(), dom::kIndent2, name));
    for (size_t row = 0; row < kCount; ++row)
      if (kTable[row].section == name && kTable[row].exported()) RETURN_IF_FAILED(Write(row, section.get()));
  }
  RETURN_IF_FAILED(dom::AppendText(doc->get(), configure.get(), dom::kIndent1));
  com::ClearError();
  return S_OK;
}

// ---- the archive schedule ------------------------------------------------------------------------

HRESULT CQVAConfigure::SetNextArchDate(DATE Arch) {
  const LONG frequency = At(Setting::ArchFrequency).number;
  DATE next = 0.0;  // an unknown frequency, or a date outside the calendar
  if (frequency == kDaily || frequency == kWeekly || frequency == kMonthly) {
    const DATE start = NextPeriodDate(Arch, frequency);
    int64_t days = 0;
    if (frequency == kWeekly) days = At(Setting::ArchWeekDay).number;
    if (frequency == kMonthly) days = int64_t{At(Setting::ArchMonthDay).number} - 1;
    if (start != 0.0) next = AddDays(start, days).value_or(0.0);
  }
  At(Setting::ArchDate).date = {next, DateStatus::kValid};
  return S_OK;
}

}  // namespace qva
