#include "qvacom/accounts/account_block.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <type_traits>

#include "platform/com/bstr.h"
#include "platform/com/date.h"
#include "platform/com/variant.h"
#include "qvacom/settings/dom.h"
#include "qvacom/storage/recordset.h"
#include "qvacom/storage/sql_text.h"

namespace qva {

static_assert(std::is_same_v<std::variant_alternative_t<static_cast<size_t>(FieldKind::kDate), AccountField::Member>,
                             DateWithStatus AccountBlock::*>,
              "FieldKind follows the order of FieldOf::Member");

// ---- the reset operations ----

void AccountBlock::Reset() {
  DateWithStatus fixed{0.0, DateStatus::kInvalid};
  if (auto date = com::CivilToDate({2000, 1, 1, 0, 0, 0})) fixed = {*date, DateStatus::kValid};
  Auth |= kResetAuthBits;
  if (LimitType & kLimitBytes) {
    BytesResetDate = fixed;
    BytesLeft = BytesLimit;
  }
  if (LimitType & kLimitTime) {
    TimeResetDate = fixed;
    TimeLeft = TimeLimit;
  }
  if (LimitType & kLimitAllBytes) AllBytesLeft = AllBytesLimit;
  if (LimitType & kLimitAllTime) AllTimeLeft = AllTimeLimit;
}

void AccountBlock::ResetFrom(DATE from) {
  Auth |= kResetAuthBits;
  if (LimitType & kLimitBytes) {
    SetBytesNextResetDate(from);
    BytesLeft = BytesLimit;
  }
  if (LimitType & kLimitTime) {
    SetTimeNextResetDate(from);
    TimeLeft = TimeLimit;
  }
  if (LimitType & kLimitAllBytes) AllBytesLeft = AllBytesLimit;
  if (LimitType & kLimitAllTime) AllTimeLeft = AllTimeLimit;
  if (CheckFee) FeeLeft = 0.0;
}

void AccountBlock::SetBytesNextResetDate(DATE reset) {
  BytesResetDate = {NextPeriodDate(reset, BytesQuotaPeriod), DateStatus::kValid};
}

void AccountBlock::SetTimeNextResetDate(DATE reset) {
  TimeResetDate = {NextPeriodDate(reset, TimeQuotaPeriod), DateStatus::kValid};
}

// ---- the drivers ----

namespace {

template <class Block>
bool LoadFieldsOf(CRecordset& rs, Block& block, std::span<const FieldOf<Block>> fields) {
  bool all = true;
  for (const FieldOf<Block>& f : fields) {
    if (!f.column) continue;
    std::visit(
        [&](auto member) {
          auto& target = block.*member;
          using T = std::remove_reference_t<decltype(target)>;
          if constexpr (std::is_same_v<T, double>) {
            all &= rs.GetDouble(f.column, &target);
          } else if constexpr (std::is_same_v<T, DateWithStatus>) {
            all &= rs.GetDate(f.column, &target);
          } else {
            LONG value = 0;
            all &= rs.GetLong(f.column, &value);
            target = static_cast<T>(value);
          }
        },
        f.member);
  }
  return all;
}

template <class Block>
HRESULT WriteAttributesOf(IXMLDOMNode* element, const Block& block, std::span<const FieldOf<Block>> fields) {
  for (const FieldOf<Block>& f : fields) {
    if (!f.attribute) continue;
    const HRESULT hr = std::visit(
        [&](auto member) {
          const auto& value = block.*member;
          using T = std::remove_cvref_t<decltype(value)>;
          if constexpr (std::is_same_v<T, double>) {
            return SetNumberAttribute(element, f.attribute, value);
          } else if constexpr (std::is_same_v<T, DateWithStatus>) {
            return SetDateAttribute(element, f.attribute, value.value, sql::kDateFormat);
          } else {
            return SetNumberAttribute(element, f.attribute, static_cast<LONG>(value));
          }
        },
        f.member);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// Sets one field from its attribute's text (a missing attribute: empty text).
template <class Block>
void SetFromText(Block& block, const FieldOf<Block>& f, std::string_view text) {
  std::visit(
      [&](auto member) {
        auto& target = block.*member;
        using T = std::remove_reference_t<decltype(target)>;
        if constexpr (std::is_same_v<T, double>) {
          target = DoubleOfText(text);
        } else if constexpr (std::is_same_v<T, DateWithStatus>) {
          target = DateOfAttributeText(text, kXmlDateParse);
        } else {
          target = static_cast<T>(LongOfText(text));
        }
      },
      f.member);
}

// The most attributes one element is read for at once: an account kind's own and its blocks'.
constexpr size_t kMaxElementAttributes = 96;

// Reads `own` and then the attributes of `fields` of `element` in one walk (dom::ReadAttributesUtf8):
// own_found(i, text) for each own attribute present; every listed field is set, from empty text
// when its attribute is missing.
template <class Block, class OwnFound>
HRESULT ReadAttributesOf(IXMLDOMNode* element, std::span<const std::string_view> own, OwnFound&& own_found,
                         Block& block, std::span<const FieldOf<Block>> fields) {
  if (!element) return E_POINTER;
  std::array<std::string_view, kMaxElementAttributes> names;
  std::array<const FieldOf<Block>*, kMaxElementAttributes> field_of{};
  if (own.size() > names.size()) return E_INVALIDARG;
  size_t count = std::copy(own.begin(), own.end(), names.begin()) - names.begin();
  for (const FieldOf<Block>& f : fields) {
    if (!f.attribute) continue;
    if (count == names.size()) return E_INVALIDARG;
    field_of[count] = &f;
    names[count++] = f.attribute;
  }
  std::array<bool, kMaxElementAttributes> present{};
  RETURN_IF_FAILED(
      dom::ReadAttributesUtf8(element, std::span(names.data(), count), [&](size_t i, std::string_view text) {
        present[i] = true;
        if (i < own.size()) {
          own_found(i, text);
        } else {
          SetFromText(block, *field_of[i], text);
        }
      }));
  for (size_t i = own.size(); i < count; ++i)
    if (!present[i]) SetFromText(block, *field_of[i], {});
  return S_OK;
}

template <class Block>
HRESULT ReadAttributesOf(IXMLDOMNode* element, Block& block, std::span<const FieldOf<Block>> fields) {
  return ReadAttributesOf(
      element, {}, [](size_t, std::string_view) {}, block, fields);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// The text after leading blanks and one '+' (a '-' is kept for the conversion to read).
std::string_view NumberStart(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  text.remove_prefix(i);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  return text;
}

}  // namespace

bool LoadFields(CRecordset& rs, AccountBlock& block, std::span<const AccountField> fields) {
  return LoadFieldsOf(rs, block, fields);
}
bool LoadFields(CRecordset& rs, AccountDefaults& block, std::span<const DefaultField> fields) {
  return LoadFieldsOf(rs, block, fields);
}

HRESULT WriteAttributes(IXMLDOMNode* element, const AccountBlock& block, std::span<const AccountField> fields) {
  return WriteAttributesOf(element, block, fields);
}
HRESULT WriteAttributes(IXMLDOMNode* element, const AccountDefaults& block, std::span<const DefaultField> fields) {
  return WriteAttributesOf(element, block, fields);
}

HRESULT ReadAttributes(IXMLDOMNode* element, AccountBlock& block, std::span<const AccountField> fields) {
  return ReadAttributesOf(element, block, fields);
}
HRESULT ReadAttributes(IXMLDOMNode* element, AccountDefaults& block, std::span<const DefaultField> fields) {
  return ReadAttributesOf(element, block, fields);
}

HRESULT ReadElementAttributes(IXMLDOMNode* element, std::span<const std::string_view> own, OwnAttributeSink own_found,
                              void* context, AccountBlock& block) {
  return ReadAttributesOf(
      element, own, [&](size_t i, std::string_view text) { own_found(context, i, text); }, block,
      std::span<const AccountField>(kAccountFields));
}

// ---- statement values ----

namespace {

int StatementValue(LONG v) { return v; }
int StatementValue(VARIANT_BOOL v) { return v; }
double StatementValue(double v) { return sql::Round2(v); }
std::string StatementValue(const DateWithStatus& v) { return StatementDate(v); }

}  // namespace

#define QVA_STATEMENT_VALUE(kind, name, column, attribute) StatementValue(block.name),

AccountStatementValues StatementValues(const AccountBlock& block) { return {QVA_ACCOUNT_FIELDS(QVA_STATEMENT_VALUE)}; }

DefaultStatementValues StatementValues(const AccountDefaults& block) {
  return {QVA_ACCOUNT_DEFAULT_FIELDS(QVA_STATEMENT_VALUE)};
}

#undef QVA_STATEMENT_VALUE

std::string StatementDate(const DateWithStatus& date) {
  std::string text = sql::FormatDate(date.value, sql::kDateFormat);
  return text.empty() ? sql::FormatDate(0.0, sql::kDateFormat) : text;
}

std::string StatementDateTime(DATE date, std::string_view delimiter) {
  std::string text = sql::FormatDate(date, sql::kDateTimeFormat);
  if (text.empty()) text = sql::FormatDate(0.0, sql::kDateTimeFormat);
  std::string out(delimiter);
  out += text;
  out += delimiter;
  return out;
}

// ---- attribute texts ----

com::Expected<std::string> AttributeText(IXMLDOMNode* element, std::string_view name) {
  ASSIGN_OR_RETURN(std::optional<std::string> text, dom::AttributeUtf8(element, name));
  return text ? std::move(*text) : std::string();
}

HRESULT SetNumberAttribute(IXMLDOMNode* element, std::string_view name, LONG value) {
  return dom::SetIntegerAttribute(element, name, value);
}

HRESULT SetNumberAttribute(IXMLDOMNode* element, std::string_view name, double value) {
  return dom::SetRealAttribute(element, name, value);
}

HRESULT SetDateAttribute(IXMLDOMNode* element, std::string_view name, DATE date, std::string_view format) {
  std::string text = sql::FormatDate(date, format);
  // Outside the calendar: written as 0.0, which reads back as a date, never as an empty text
  // (which would read back as the current time).
  if (text.empty()) text = sql::FormatDate(0.0, format);
  return dom::SetAttribute(element, name, std::string_view(text));
}

LONG LongOfText(std::string_view text) {
  text = NumberStart(text);
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > int64_t{std::numeric_limits<LONG>::max()} + 1) break;  // saturates below
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<LONG>::max()) return std::numeric_limits<LONG>::max();
  if (value < std::numeric_limits<LONG>::min()) return std::numeric_limits<LONG>::min();
  return static_cast<LONG>(value);
}

double DoubleOfText(std::string_view text) {
  text = NumberStart(text);
  double value = 0.0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (result.ec != std::errc() || !std::isfinite(value)) return 0.0;
  return value;
}

DateWithStatus DateOfAttributeText(std::string_view text, std::string_view format) {
  if (text.empty()) return {LocalNow(), DateStatus::kValid};
  return ParseAccountDate(text, format, false);
}

}  // namespace qva
