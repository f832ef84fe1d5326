// The records of the seven real-time views: plain data behind get/put property pairs, no
// behaviour of their own beyond the traffic record's two counters. A record is made by its view's
// `Add` (which sets only `Name`) and filled by the service; it is never written anywhere.
//
// Each record is described once, as a list of its properties in interface order:
// X(kind, Property, field), kind being Text (UTF-8 in the record, UTF-16 at the property), Long
// (32-bit signed) or Date (DATE). The list makes the record's `Data` and its get/put pairs. A new
// record has empty texts, dates 0 (1899-12-30 00:00) and numbers 0. Each record class names its
// data `Data` and its record interface `Interface`, which is all the view pattern (real_view.h)
// needs of it.
#pragma once

#include <string>

#include "platform/com/dispatch.h"
#include "qvacom_idl.h"

namespace qva {

namespace real_record {

enum class Kind { kText, kLong, kDate };
template <Kind>
struct Field;
template <>
struct Field<Kind::kText> {
  using Type = std::string;
  using Automation = BSTR;
};
template <>
struct Field<Kind::kLong> {
  using Type = LONG;
  using Automation = LONG;
};
template <>
struct Field<Kind::kDate> {
  using Type = DATE;
  using Automation = DATE;
};

// A new BSTR the caller owns; an empty field gives an empty (not null) string.
HRESULT Get(const std::string& field, BSTR* out);
// A null BSTR is the empty string. The field is left as it was when the copy cannot be made.
HRESULT Put(BSTR value, std::string* field);
template <class T>
HRESULT Get(T field, T* out) {
  if (!out) return E_POINTER;
  *out = field;
  return S_OK;
}
template <class T>
HRESULT Put(T value, T* field) {
  *field = value;
  return S_OK;
}

}  // namespace real_record

#define QVA_REAL_FIELD(kind, Prop, field) ::qva::real_record::Field<::qva::real_record::Kind::k##kind>::Type field{};
#define QVA_REAL_PROPERTY(kind, Prop, field)                                                                           \
  HRESULT STDMETHODCALLTYPE get_##Prop(::qva::real_record::Field<::qva::real_record::Kind::k##kind>::Automation* pVal) \
      override {                                                                                                       \
    return ::qva::real_record::Get(data_.field, pVal);                                                                 \
  }                                                                                                                    \
  HRESULT STDMETHODCALLTYPE put_##Prop(                                                                                \
      ::qva::real_record::Field<::qva::real_record::Kind::k##kind>::Automation newVal) override {                      \
    return ::qva::real_record::Put(newVal, &data_.field);                                                              \
  }

// The members every record class has, from its property list.
#define QVA_REAL_RECORD(I, FIELDS)           \
 public:                                     \
  using Interface = I;                       \
  struct Data {                              \
    FIELDS(QVA_REAL_FIELD)                   \
  };                                         \
  Data& data() { return data_; }             \
  const Data& data() const { return data_; } \
  FIELDS(QVA_REAL_PROPERTY)                  \
                                             \
 private:                                    \
  Data data_;                                \
                                             \
 public:

#define QVA_REAL_TRAFFIC_FIELDS(X) \
  X(Text, Name, name)              \
  X(Text, SourceAddr, source_addr) \
  X(Date, StartTime, start_time)   \
  X(Date, EndTime, end_time)       \
  X(Long, OutBytes, out_bytes)     \
  X(Long, InBytes, in_bytes)

// One line of current traffic of a user at an address.
class CQVARealTraffic : public com::Dispatch<IQVARealTraffic> {
  QVA_REAL_RECORD(IQVARealTraffic, QVA_REAL_TRAFFIC_FIELDS)
  // The service adds each packet's bytes; a counter past 2^31 - 1 wraps to negative values, as
  // the interface's 32-bit type leaves no room for more.
  HRESULT STDMETHODCALLTYPE add_InBytes(LONG InBytes) override;
  HRESULT STDMETHODCALLTYPE add_OutBytes(LONG OutBytes) override;
};

#define QVA_REAL_USER_FIELDS(X)    \
  X(Text, Name, name)              \
  X(Text, SourceAddr, source_addr) \
  X(Text, DestAddr, dest_addr)     \
  X(Text, URL, url)                \
  X(Text, Protocol, protocol)      \
  X(Long, Port, port)              \
  X(Text, App, app)                \
  X(Date, StartTime, start_time)   \
  X(Date, EndTime, end_time)       \
  X(Long, OutBytes, out_bytes)     \
  X(Long, InBytes, in_bytes)       \
  X(Long, TimeUsed, time_used)     \
  X(Long, Action, action)          \
  X(Long, Priority, priority)      \
  X(Long, RuleFit, rule_fit)       \
  X(Text, Category, category)

// A user seen in current traffic.
class CQVARealUser : public com::Dispatch<IQVARealUser> {
  QVA_REAL_RECORD(IQVARealUser, QVA_REAL_USER_FIELDS)
};

#define QVA_REAL_WARN_FIELDS(X)    \
  X(Text, Name, name)              \
  X(Text, SourceAddr, source_addr) \
  X(Text, DestAddr, dest_addr)     \
  X(Text, URL, url)                \
  X(Text, FileExt, file_ext)       \
  X(Text, Protocol, protocol)      \
  X(Long, Port, port)              \
  X(Text, App, app)                \
  X(Date, StartTime, start_time)   \
  X(Date, EndTime, end_time)       \
  X(Text, Warn, warn)              \
  X(Long, OutBytes, out_bytes)     \
  X(Long, InBytes, in_bytes)       \
  X(Long, TimeUsed, time_used)     \
  X(Long, Action, action)          \
  X(Long, Priority, priority)      \
  X(Long, RuleFit, rule_fit)       \
  X(Text, Category, category)

// A warning raised by a warning rule.
class CQVARealWarn : public com::Dispatch<IQVARealWarn> {
  QVA_REAL_RECORD(IQVARealWarn, QVA_REAL_WARN_FIELDS)
};

#define QVA_REAL_FILE_FIELDS(X)    \
  X(Text, Name, name)              \
  X(Date, Time, time)              \
  X(Text, Protocol, protocol)      \
  X(Text, SourceAddr, source_addr) \
  X(Text, DestAddr, dest_addr)     \
  X(Text, URL, url)                \
  X(Long, Port, port)              \
  X(Text, FileExt, file_ext)       \
  X(Text, App, app)                \
  X(Long, InBytes, in_bytes)       \
  X(Long, OutBytes, out_bytes)     \
  X(Long, TimeUsed, time_used)     \
  X(Long, Action, action)          \
  X(Long, Priority, priority)      \
  X(Long, RuleFit, rule_fit)       \
  X(Text, Category, category)

// A file transfer.
class CQVARealFile : public com::Dispatch<IQVARealFile> {
  QVA_REAL_RECORD(IQVARealFile, QVA_REAL_FILE_FIELDS)
};

#define QVA_REAL_BLOCK_FIELDS(X)   \
  X(Text, Name, name)              \
  X(Date, Time, time)              \
  X(Text, Protocol, protocol)      \
  X(Text, SourceAddr, source_addr) \
  X(Long, Port, port)              \
  X(Text, DestAddr, dest_addr)     \
  X(Long, Action, action)          \
  X(Text, Rule, rule)              \
  X(Text, sAction, s_action)       \
  X(Long, Priority, priority)      \
  X(Long, RuleFit, rule_fit)       \
  X(Text, Category, category)

// A blocked request. `Action` is the service's code, `sAction` its text.
class CQVARealBlock : public com::Dispatch<IQVARealBlock> {
  QVA_REAL_RECORD(IQVARealBlock, QVA_REAL_BLOCK_FIELDS)
};

#define QVA_REAL_MALWARE_FIELDS(X)       \
  X(Text, Name, name)                    \
  X(Date, Time, time)                    \
  X(Long, TimeUsed, time_used)           \
  X(Text, SourceIP, source_ip)           \
  X(Text, DestAddr, dest_addr)           \
  X(Text, URL, url)                      \
  X(Text, Category, category)            \
  X(Text, Protocol, protocol)            \
  X(Text, App, app)                      \
  X(Long, Port, port)                    \
  X(Long, OutBytes, out_bytes)           \
  X(Long, InBytes, in_bytes)             \
  X(Long, AllBytes, all_bytes)           \
  X(Text, ThreatName, threat_name)       \
  X(Text, ThreatLevel, threat_level)     \
  X(Text, MalwareAction, malware_action) \
  X(Long, InspectTime, inspect_time)     \
  X(Long, Priority, priority)            \
  X(Long, RuleFit, rule_fit)             \
  X(Text, MalwareResult, malware_result) \
  X(Date, Date, date)

// A malware finding. `AllBytes` is a field of its own, not the sum of the other two counters;
// `Time` and `Date` are two separate dates.
class CQVARealMalware : public com::Dispatch<IQVARealMalware> {
  QVA_REAL_RECORD(IQVARealMalware, QVA_REAL_MALWARE_FIELDS)
};

#define QVA_REAL_NIS_FIELDS(X)   \
  X(Text, Name, name)            \
  X(Date, Date, date)            \
  X(Date, Time, time)            \
  X(Text, SourceIP, source_ip)   \
  X(Text, DestAddr, dest_addr)   \
  X(Text, URL, url)              \
  X(Text, Category, category)    \
  X(Text, Protocol, protocol)    \
  X(Text, App, app)              \
  X(Long, Port, port)            \
  X(Text, Signature, signature)  \
  X(Text, NISResult, nis_result) \
  X(Text, NISApp, nis_app)       \
  X(Long, Priority, priority)    \
  X(Long, RuleFit, rule_fit)

// An intrusion (network inspection) finding. `Date` and `Time` are two separate dates.
class CQVARealNIS : public com::Dispatch<IQVARealNIS> {
  QVA_REAL_RECORD(IQVARealNIS, QVA_REAL_NIS_FIELDS)
};

}  // namespace qva
