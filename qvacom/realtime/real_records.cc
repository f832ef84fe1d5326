#include "qvacom/realtime/real_records.h"

#include <cstdint>
#include <new>

#include "platform/com/text.h"

namespace qva {
namespace {

// A new BSTR the caller owns; an empty field gives an empty (not null) string.
HRESULT GetText(const std::string& field, BSTR* out) {
  if (!out) return E_POINTER;
  *out = com::AllocBstr(field);
  return *out ? S_OK : E_OUTOFMEMORY;
}

// A null BSTR is the empty string. The field is left as it was when the copy cannot be made.
HRESULT PutText(BSTR value, std::string* field) {
  try {
    *field = com::BstrToUtf8(value);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

template <class T>
HRESULT GetValue(T field, T* out) {
  if (!out) return E_POINTER;
  *out = field;
  return S_OK;
}

// Two's complement addition without signed overflow: the sum wraps modulo 2^32.
LONG WrappingAdd(LONG a, LONG b) { return static_cast<LONG>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }

}  // namespace

// The get/put pair of one property over one field of the record's data.
#define QVA_TEXT_PROPERTY(Class, Prop, field)                                  \
  HRESULT Class::get_##Prop(BSTR* pVal) { return GetText(data_.field, pVal); } \
  HRESULT Class::put_##Prop(BSTR newVal) { return PutText(newVal, &data_.field); }
#define QVA_VALUE_PROPERTY(Class, Type, Prop, field)                            \
  HRESULT Class::get_##Prop(Type* pVal) { return GetValue(data_.field, pVal); } \
  HRESULT Class::put_##Prop(Type newVal) {                                      \
    data_.field = newVal;                                                       \
    return S_OK;                                                                \
  }
#define QVA_DATE_PROPERTY(Class, Prop, field) QVA_VALUE_PROPERTY(Class, DATE, Prop, field)
#define QVA_LONG_PROPERTY(Class, Prop, field) QVA_VALUE_PROPERTY(Class, LONG, Prop, field)

QVA_TEXT_PROPERTY(CQVARealTraffic, Name, name)
QVA_TEXT_PROPERTY(CQVARealTraffic, SourceAddr, source_addr)
QVA_DATE_PROPERTY(CQVARealTraffic, StartTime, start_time)
QVA_DATE_PROPERTY(CQVARealTraffic, EndTime, end_time)
QVA_LONG_PROPERTY(CQVARealTraffic, OutBytes, out_bytes)
QVA_LONG_PROPERTY(CQVARealTraffic, InBytes, in_bytes)

// The service adds each packet's bytes; a counter past 2^31 - 1 wraps to negative values, as the
// interface's 32-bit type leaves no room for more.
HRESULT CQVARealTraffic::add_InBytes(LONG InBytes) {
  data_.in_bytes = WrappingAdd(data_.in_bytes, InBytes);
  return S_OK;
}
HRESULT CQVARealTraffic::add_OutBytes(LONG OutBytes) {
  data_.out_bytes = WrappingAdd(data_.out_bytes, OutBytes);
  return S_OK;
}

QVA_TEXT_PROPERTY(CQVARealUser, Name, name)
QVA_TEXT_PROPERTY(CQVARealUser, SourceAddr, source_addr)
QVA_TEXT_PROPERTY(CQVARealUser, DestAddr, dest_addr)
QVA_TEXT_PROPERTY(CQVARealUser, URL, url)
QVA_TEXT_PROPERTY(CQVARealUser, Protocol, protocol)
QVA_LONG_PROPERTY(CQVARealUser, Port, port)
QVA_TEXT_PROPERTY(CQVARealUser, App, app)
QVA_DATE_PROPERTY(CQVARealUser, StartTime, start_time)
QVA_DATE_PROPERTY(CQVARealUser, EndTime, end_time)
QVA_LONG_PROPERTY(CQVARealUser, OutBytes, out_bytes)
QVA_LONG_PROPERTY(CQVARealUser, InBytes, in_bytes)
QVA_LONG_PROPERTY(CQVARealUser, TimeUsed, time_used)
QVA_LONG_PROPERTY(CQVARealUser, Action, action)
QVA_LONG_PROPERTY(CQVARealUser, Priority, priority)
QVA_LONG_PROPERTY(CQVARealUser, RuleFit, rule_fit)
QVA_TEXT_PROPERTY(CQVARealUser, Category, category)

QVA_TEXT_PROPERTY(CQVARealWarn, Name, name)
QVA_TEXT_PROPERTY(CQVARealWarn, SourceAddr, source_addr)
QVA_TEXT_PROPERTY(CQVARealWarn, DestAddr, dest_addr)
QVA_TEXT_PROPERTY(CQVARealWarn, URL, url)
QVA_TEXT_PROPERTY(CQVARealWarn, FileExt, file_ext)
QVA_TEXT_PROPERTY(CQVARealWarn, Protocol, protocol)
QVA_LONG_PROPERTY(CQVARealWarn, Port, port)
QVA_TEXT_PROPERTY(CQVARealWarn, App, app)
QVA_DATE_PROPERTY(CQVARealWarn, StartTime, start_time)
QVA_DATE_PROPERTY(CQVARealWarn, EndTime, end_time)
QVA_TEXT_PROPERTY(CQVARealWarn, Warn, warn)
QVA_LONG_PROPERTY(CQVARealWarn, OutBytes, out_bytes)
QVA_LONG_PROPERTY(CQVARealWarn, InBytes, in_bytes)
QVA_LONG_PROPERTY(CQVARealWarn, TimeUsed, time_used)
QVA_LONG_PROPERTY(CQVARealWarn, Action, action)
QVA_LONG_PROPERTY(CQVARealWarn, Priority, priority)
QVA_LONG_PROPERTY(CQVARealWarn, RuleFit, rule_fit)
QVA_TEXT_PROPERTY(CQVARealWarn, Category, category)

QVA_TEXT_PROPERTY(CQVARealFile, Name, name)
QVA_DATE_PROPERTY(CQVARealFile, Time, time)
QVA_TEXT_PROPERTY(CQVARealFile, Protocol, protocol)
QVA_TEXT_PROPERTY(CQVARealFile, SourceAddr, source_addr)
QVA_TEXT_PROPERTY(CQVARealFile, DestAddr, dest_addr)
QVA_TEXT_PROPERTY(CQVARealFile, URL, url)
QVA_LONG_PROPERTY(CQVARealFile, Port, port)
QVA_TEXT_PROPERTY(CQVARealFile, FileExt, file_ext)
QVA_TEXT_PROPERTY(CQVARealFile, App, app)
QVA_LONG_PROPERTY(CQVARealFile, InBytes, in_bytes)
QVA_LONG_PROPERTY(CQVARealFile, OutBytes, out_bytes)
QVA_LONG_PROPERTY(CQVARealFile, TimeUsed, time_used)
QVA_LONG_PROPERTY(CQVARealFile, Action, action)
QVA_LONG_PROPERTY(CQVARealFile, Priority, priority)
QVA_LONG_PROPERTY(CQVARealFile, RuleFit, rule_fit)
QVA_TEXT_PROPERTY(CQVARealFile, Category, category)

QVA_TEXT_PROPERTY(CQVARealBlock, Name, name)
QVA_DATE_PROPERTY(CQVARealBlock, Time, time)
QVA_TEXT_PROPERTY(CQVARealBlock, Protocol, protocol)
QVA_TEXT_PROPERTY(CQVARealBlock, SourceAddr, source_addr)
QVA_LONG_PROPERTY(CQVARealBlock, Port, port)
QVA_TEXT_PROPERTY(CQVARealBlock, DestAddr, dest_addr)
QVA_LONG_PROPERTY(CQVARealBlock, Action, action)
QVA_TEXT_PROPERTY(CQVARealBlock, Rule, rule)
QVA_TEXT_PROPERTY(CQVARealBlock, sAction, s_action)
QVA_LONG_PROPERTY(CQVARealBlock, Priority, priority)
QVA_LONG_PROPERTY(CQVARealBlock, RuleFit, rule_fit)
QVA_TEXT_PROPERTY(CQVARealBlock, Category, category)

QVA_TEXT_PROPERTY(CQVARealMalware, Name, name)
QVA_DATE_PROPERTY(CQVARealMalware, Time, time)
QVA_LONG_PROPERTY(CQVARealMalware, TimeUsed, time_used)
QVA_TEXT_PROPERTY(CQVARealMalware, SourceIP, source_ip)
QVA_TEXT_PROPERTY(CQVARealMalware, DestAddr, dest_addr)
QVA_TEXT_PROPERTY(CQVARealMalware, URL, url)
QVA_TEXT_PROPERTY(CQVARealMalware, Category, category)
QVA_TEXT_PROPERTY(CQVARealMalware, Protocol, protocol)
QVA_TEXT_PROPERTY(CQVARealMalware, App, app)
QVA_LONG_PROPERTY(CQVARealMalware, Port, port)
QVA_LONG_PROPERTY(CQVARealMalware, OutBytes, out_bytes)
QVA_LONG_PROPERTY(CQVARealMalware, InBytes, in_bytes)
QVA_LONG_PROPERTY(CQVARealMalware, AllBytes, all_bytes)
QVA_TEXT_PROPERTY(CQVARealMalware, ThreatName, threat_name)
QVA_TEXT_PROPERTY(CQVARealMalware, ThreatLevel, threat_level)
QVA_TEXT_PROPERTY(CQVARealMalware, MalwareAction, malware_action)
QVA_LONG_PROPERTY(CQVARealMalware, InspectTime, inspect_time)
QVA_LONG_PROPERTY(CQVARealMalware, Priority, priority)
QVA_LONG_PROPERTY(CQVARealMalware, RuleFit, rule_fit)
QVA_TEXT_PROPERTY(CQVARealMalware, MalwareResult, malware_result)
QVA_DATE_PROPERTY(CQVARealMalware, Date, date)

QVA_TEXT_PROPERTY(CQVARealNIS, Name, name)
QVA_DATE_PROPERTY(CQVARealNIS, Date, date)
QVA_DATE_PROPERTY(CQVARealNIS, Time, time)
QVA_TEXT_PROPERTY(CQVARealNIS, SourceIP, source_ip)
QVA_TEXT_PROPERTY(CQVARealNIS, DestAddr, dest_addr)
QVA_TEXT_PROPERTY(CQVARealNIS, URL, url)
QVA_TEXT_PROPERTY(CQVARealNIS, Category, category)
QVA_TEXT_PROPERTY(CQVARealNIS, Protocol, protocol)
QVA_TEXT_PROPERTY(CQVARealNIS, App, app)
QVA_LONG_PROPERTY(CQVARealNIS, Port, port)
QVA_TEXT_PROPERTY(CQVARealNIS, Signature, signature)
QVA_TEXT_PROPERTY(CQVARealNIS, NISResult, nis_result)
QVA_TEXT_PROPERTY(CQVARealNIS, NISApp, nis_app)
QVA_LONG_PROPERTY(CQVARealNIS, Priority, priority)
QVA_LONG_PROPERTY(CQVARealNIS, RuleFit, rule_fit)

#undef QVA_TEXT_PROPERTY
#undef QVA_VALUE_PROPERTY
#undef QVA_DATE_PROPERTY
#undef QVA_LONG_PROPERTY

}  // namespace qva
