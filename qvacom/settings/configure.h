// The settings object: the system-wide settings held as attributes of the section elements under
// "Configure" in the settings document. The array object creates one, puts `CurDir`, calls `Init`
// with the settings document wrapper and then `Save`; consoles change properties and call `Save`.
//
// Every stored property is a row of configure_properties.def; the getters and putters, `Save`,
// `SaveXML` and `LoadXML` are all driven by that one table. `SortUrl` alone lives in memory only.
//
// Contracts worth knowing:
// - Puts change memory only; the document changes at `Save` (or, for an export, `SaveXML`).
// - The object holds a reference on the wrapper given to `Init` (the wrapper holds none back).
// - `LoadXML` stores each value as it reads it: a failure part-way (a missing section or required
//   attribute: E_POINTER) leaves the earlier values new and the later ones old.
// - `Save` finds every section before it writes anything: a document lacking one fails with
//   E_POINTER and is left unchanged.
// - Passwords are plain text in memory and through their getters; only the stored attribute is
//   scrambled. A password of 50 bytes (UTF-8) or more is refused by its put with E_INVALIDARG.
//
// Single-threaded apartment object: no locks.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "msxml_idl.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "qvacom/frame/calendar.h"
#include "qvacom_idl.h"

namespace qva {

// How a setting is held, written and read (see configure_properties.def).
enum class SettingKind : uint8_t { kLong, kBool, kDouble, kText, kPassword, kDate, kFixTime, kTruncated };

// What a load does when the attribute is absent: fail, nothing (never read), or give the whole
// optional group its fallbacks.
enum class SettingAbsent : uint8_t {
  kRequired,
  kNotRead,
  kRealtimeGroup,
  kReportDirGroup,
  kSortProtocolGroup,
  kSortAppGroup,
  kSortGroup,
  kQueryStyleGroup,
  kArchQueryStyleGroup,
  kArchQueryMoreStyleGroup,
};

// One row of the settings table.
struct SettingInfo {
  std::string_view property;  // the automation property name
  SettingKind kind;
  std::string_view section;    // element under "Configure"
  std::string_view attribute;  // attribute of that element
  SettingAbsent absent;
  LONG fallback;           // value of an optional group's member when the group is absent
  bool exported() const {  // written by SaveXML
    return absent != SettingAbsent::kArchQueryStyleGroup && absent != SettingAbsent::kArchQueryMoreStyleGroup;
  }
};

// Row numbers of the table.
enum class Setting : int {
#define QVA_CONFIGURE_PROPERTY(property, kind, section, attribute, absent, fallback) property,
#include "qvacom/settings/configure_properties.def"
#undef QVA_CONFIGURE_PROPERTY
};

// Every stored setting, in layout order.
std::span<const SettingInfo> SettingTable();

// The section elements under "Configure", in layout order.
std::span<const std::string_view> SettingSections();

// The value of "Version" that `Save` puts on the document element.
inline constexpr std::string_view kSettingsVersion = "Enterprise 3.8";

// The stored password text of `plain` and back. The scrambling is obfuscation that keeps a
// casual reader of the file from seeing the password, not security: anyone with this source (or
// two files) recovers it.
std::string ScramblePassword(std::string_view plain);
// E_INVALIDARG when `stored` is not a text ScramblePassword makes.
com::Expected<std::string> UnscramblePassword(std::string_view stored);

class CQVAConfigure : public com::Dispatch<IQVAConfigure> {
 public:
  QVA_DECL_IQVAConfigure;

 private:
  // The in-memory value of one setting; its row's kind says which member is used.
  struct Value {
    LONG number = 0;      // kLong, kBool, kTruncated
    double real = 0.0;    // kDouble
    std::string text;     // kText, kPassword (UTF-8, plain)
    DateWithStatus date;  // kDate, kFixTime
  };
  static constexpr size_t kCount = static_cast<size_t>(Setting::EventShow) + 1;

  Value& At(Setting s) { return values_[static_cast<size_t>(s)]; }

  HRESULT Get(Setting s, LONG* out);
  HRESULT Get(Setting s, VARIANT_BOOL* out);
  HRESULT Get(Setting s, double* out);  // doubles and DATEs
  HRESULT Get(Setting s, BSTR* out);
  HRESULT Put(Setting s, LONG value);
  HRESULT Put(Setting s, VARIANT_BOOL value);
  HRESULT Put(Setting s, double value);  // doubles and DATEs
  HRESULT Put(Setting s, BSTR value);

  // Reads one attribute text into the setting of row `row`.
  HRESULT Read(size_t row, std::string_view text);
  // Gives every member of `group` its fallback.
  void ApplyFallbacks(SettingAbsent group);
  // Writes the setting of row `row` as an attribute of `section`.
  HRESULT Write(size_t row, IXMLDOMNode* section);
  HRESULT Load(IUnknown* document);

  std::array<Value, kCount> values_{};
  LONG sort_url_ = 0;
  com::ComPtr<IUnknown> wrapper_;  // the settings document wrapper given to Init
};

}  // namespace qva
