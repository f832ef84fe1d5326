// The limit, quota and fee block that users, departments, groups and computers share, its reset
// operations, and the one description of its fields that every loader, XML reader and writer and
// statement builder of the four account kinds is driven from.
//
// The object model only stores these values: the service that meters the accounts consumes
// TimeLeft, BytesLeft and FeeLeft, decides when to reset, and fixes the units of the limits.
//
// Dates are local calendar values (DATE) held with their validity; every step between them is
// calendar arithmetic (NextPeriodDate), so days of 23 or 25 hours change nothing. Numbers written
// to statements and attributes, and read back from attributes, use the "C" conventions whatever
// the process locale.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "msxml_idl.h"
#include "platform/com/result.h"
#include "platform/com/types.h"
#include "qvacom/frame/calendar.h"

namespace qva {

class CRecordset;

// The shared fields: X(kind, Property, column, XML attribute). kind is Long, Bool (VARIANT_BOOL,
// stored as a 32-bit integer column, -1/0 or whatever was given), Double or Date; a null column
// or attribute means the field is neither stored nor written (StatusChange lives in memory only).
// The order is the one every account kind loads and writes the shared fields in; each kind puts
// its own fields between them (see AccountFieldRange).
#define QVA_ACCOUNT_FIELDS(X)                                       \
  X(Bool, Enable, "Enable", "Enable")                               \
  X(Date, EnableDate, "EnableDate", "EnableDate")                   \
  X(Long, Auth, "Auth", "Auth")                                     \
  X(Bool, Dirty, "Dirty", "Dirty")                                  \
  X(Long, LimitType, "LimitType", "LimitType")                      \
  X(Date, BytesResetDate, "ResetDate", "Resetdate")                 \
  X(Date, TimeResetDate, "ResetDate2", "Resetdate2")                \
  X(Double, TimeLimit, "TimeLimit", "TimeLimit")                    \
  X(Double, TimeLeft, "TimeLeft", "TimeLeft")                       \
  X(Long, TimeQuotaPeriod, "TimeQuotaPeriod", "TimeQuotaPeriod")    \
  X(Double, BytesLimit, "BytesLimit", "BytesLimit")                 \
  X(Double, BytesLeft, "BytesLeft", "BytesLeft")                    \
  X(Long, BytesQuotaPeriod, "BytesQuotaPeriod", "BytesQuotaPeriod") \
  X(Double, AllTimeLimit, "AllTimeLimit", "AllTimeLimit")           \
  X(Double, AllTimeLeft, "AllTimeLeft", "AllTimeLeft")              \
  X(Date, AllTimeFrom, "AllTimeFrom", "AllTimeFrom")                \
  X(Double, AllBytesLimit, "AllBytesLimit", "AllBytesLimit")        \
  X(Double, AllBytesLeft, "AllBytesLeft", "AllBytesLeft")           \
  X(Date, AllBytesFrom, "AllBytesFrom", "AllBytesFrom")             \
  X(Bool, CheckFee, "CheckFee", "CheckFee")                         \
  X(Double, FeeLimit, "FeeLimit", "FeeLimit")                       \
  X(Double, FeeLeft, "FeeLeft", "FeeLeft")                          \
  X(Double, FeeStop, "FeeStop", "FeeStop")                          \
  X(Date, DateLimit, "DateLimit", "DateLimit")                      \
  X(Long, FeeOption, "FeeOption", "FeeOption")                      \
  X(Double, FeeByOutBytes, "FeeByOutBytes", "FeeByOutBytes")        \
  X(Double, FeeByAllBytes, "FeeByAllBytes", "FeeByAllBytes")        \
  X(Double, FeeByTime, "FeeByTime", "FeeByTime")                    \
  X(Bool, StatusChange, nullptr, nullptr)

// The default values departments and groups keep for their members, stored and written as given
// (this object model does not apply them). Same form as QVA_ACCOUNT_FIELDS.
#define QVA_ACCOUNT_DEFAULT_FIELDS(X)                                                    \
  X(Long, LimitTypeDefault, "LimitTypeDefault", "LimitTypeDefault")                      \
  X(Double, TimeLimitDefault, "TimeLimitDefault", "TimeLimitDefault")                    \
  X(Long, TimeQuotaPeriodDefault, "TimeQuotaPeriodDefault", "TimeQuotaPeriodDefault")    \
  X(Double, BytesLimitDefault, "BytesLimitDefault", "BytesLimitDefault")                 \
  X(Long, BytesQuotaPeriodDefault, "BytesQuotaPeriodDefault", "BytesQuotaPeriodDefault") \
  X(Double, AllTimeLimitDefault, "AllTimeLimitDefault", "AllTimeLimitDefault")           \
  X(Date, AllTimeFromDefault, "AllTimeFromDefault", "AllTimeFromDefault")                \
  X(Double, AllBytesLimitDefault, "AllBytesLimitDefault", "AllBytesLimitDefault")        \
  X(Date, AllBytesFromDefault, "AllBytesFromDefault", "AllBytesFromDefault")             \
  X(Date, DateLimitDefault, "DateLimitDefault", "DateLimitDefault")

// The kind of a field; the order is that of FieldOf::Member's alternatives.
enum class FieldKind { kLong, kBool, kDouble, kDate };

// Stored: the member's type. Automation: the property's type at the interface. Statement: the
// value a statement's conversion takes (%d, %f, '%s').
template <FieldKind K>
struct FieldTypes;
template <>
struct FieldTypes<FieldKind::kLong> {
  using Stored = LONG;
  using Automation = LONG;
  using Statement = int;
};
template <>
struct FieldTypes<FieldKind::kBool> {
  using Stored = VARIANT_BOOL;
  using Automation = VARIANT_BOOL;
  using Statement = int;
};
template <>
struct FieldTypes<FieldKind::kDouble> {
  using Stored = double;
  using Automation = DOUBLE;
  using Statement = double;
};
template <>
struct FieldTypes<FieldKind::kDate> {
  using Stored = DateWithStatus;
  using Automation = DATE;
  using Statement = std::string;
};

#define QVA_ACCOUNT_STORED_MEMBER(kind, name, column, attribute) FieldTypes<FieldKind::k##kind>::Stored name{};

// LimitType bits: which limits are in force, and so which ones the reset operations refill.
enum LimitTypeBit : LONG {
  kLimitBytes = 2,     // BytesLimit/BytesLeft per BytesQuotaPeriod, next reset at BytesResetDate
  kLimitTime = 4,      // TimeLimit/TimeLeft per TimeQuotaPeriod, next reset at TimeResetDate
  kLimitAllBytes = 8,  // AllBytesLimit/AllBytesLeft
  kLimitAllTime = 16,  // AllTimeLimit/AllTimeLeft
};

// Auth bits 1 to 8, set by both reset operations.
inline constexpr LONG kResetAuthBits = 0x1FE;

// The shared block. Members bear the property names so that the field list can name them. A new
// block has every number and flag 0 and every date 0.0 (valid).
struct AccountBlock {
  QVA_ACCOUNT_FIELDS(QVA_ACCOUNT_STORED_MEMBER)

  // Sets the Auth bits and refills the limits in force; their reset dates become
  // 2000-01-01 00:00:00, a date in the past, so the service resets them again at its next look.
  // The fee fields are left alone.
  void Reset();
  // Sets the Auth bits, refills the limits in force and gives their reset dates the start of the
  // period after `from`; with CheckFee on, FeeLeft becomes 0.
  void ResetFrom(DATE from);
  // BytesResetDate / TimeResetDate := the start of the period after `reset` by BytesQuotaPeriod /
  // TimeQuotaPeriod (NextPeriodDate: a code other than daily, weekly or monthly gives 0.0), valid.
  void SetBytesNextResetDate(DATE reset);
  void SetTimeNextResetDate(DATE reset);

  friend bool operator==(const AccountBlock&, const AccountBlock&) = default;
};

// The member defaults of departments and groups.
struct AccountDefaults {
  QVA_ACCOUNT_DEFAULT_FIELDS(QVA_ACCOUNT_STORED_MEMBER)

  friend bool operator==(const AccountDefaults&, const AccountDefaults&) = default;
};

#undef QVA_ACCOUNT_STORED_MEMBER

// One field of `Block` as the drivers see it. `column` and `attribute` are null for a field
// that is not stored / not written to XML.
template <class Block>
struct FieldOf {
  using Member = std::variant<LONG Block::*, VARIANT_BOOL Block::*, double Block::*, DateWithStatus Block::*>;

  const char* property;
  const char* column;
  const char* attribute;
  Member member;

  FieldKind kind() const { return static_cast<FieldKind>(member.index()); }
};

using AccountField = FieldOf<AccountBlock>;
using DefaultField = FieldOf<AccountDefaults>;

// Positions in kAccountFields / kDefaultFields: AccountFieldId::Auth, DefaultFieldId::DateLimitDefault.
#define QVA_ACCOUNT_FIELD_ID(kind, name, column, attribute) name,
enum class AccountFieldId : size_t { QVA_ACCOUNT_FIELDS(QVA_ACCOUNT_FIELD_ID) kCount };
enum class DefaultFieldId : size_t { QVA_ACCOUNT_DEFAULT_FIELDS(QVA_ACCOUNT_FIELD_ID) kCount };
#undef QVA_ACCOUNT_FIELD_ID

#define QVA_ACCOUNT_FIELD_ENTRY(kind, name, column, attribute) \
  AccountField{#name, column, attribute, &AccountBlock::name},
inline constexpr std::array<AccountField, static_cast<size_t>(AccountFieldId::kCount)> kAccountFields{
    {QVA_ACCOUNT_FIELDS(QVA_ACCOUNT_FIELD_ENTRY)}};
#undef QVA_ACCOUNT_FIELD_ENTRY

#define QVA_DEFAULT_FIELD_ENTRY(kind, name, column, attribute) \
  DefaultField{#name, column, attribute, &AccountDefaults::name},
inline constexpr std::array<DefaultField, static_cast<size_t>(DefaultFieldId::kCount)> kDefaultFields{
    {QVA_ACCOUNT_DEFAULT_FIELDS(QVA_DEFAULT_FIELD_ENTRY)}};
#undef QVA_DEFAULT_FIELD_ENTRY

// The fields `first` to `last`, both included, in table order: the pieces an account kind places
// its own fields between, and the reload's list (AccountFieldId::Auth onwards: a reload keeps
// Enable and EnableDate).
constexpr std::span<const AccountField> AccountFieldRange(AccountFieldId first, AccountFieldId last) {
  return std::span<const AccountField>(kAccountFields)
      .subspan(static_cast<size_t>(first), static_cast<size_t>(last) - static_cast<size_t>(first) + 1);
}

// ---- the three drivers ----

// Sets every listed field that has a column from the current row of `rs`, through its typed
// readers (GetLong, GetDouble, GetDate by column name; a Bool field is read as a long). A field
// the row cannot give (no such column, a value of a type the reader does not convert) reads as
// the reader leaves it: 0, or a null date; the database error is recorded in `rs`. True when
// every read succeeded.
bool LoadFields(CRecordset& rs, AccountBlock& block, std::span<const AccountField> fields = kAccountFields);
bool LoadFields(CRecordset& rs, AccountDefaults& block, std::span<const DefaultField> fields = kDefaultFields);

// Sets one attribute per listed field that has an attribute name, in list order: numbers as
// decimal text (a Bool as its integer, "-1"/"0"), dates as "%Y-%m-%d". The first DOM failure
// stops the walk and is returned.
HRESULT WriteAttributes(IXMLDOMNode* element, const AccountBlock& block,
                        std::span<const AccountField> fields = kAccountFields);
HRESULT WriteAttributes(IXMLDOMNode* element, const AccountDefaults& block,
                        std::span<const DefaultField> fields = kDefaultFields);

// Sets every listed field that has an attribute name from `element`; a missing attribute reads
// as empty text. Numbers by LongOfText / DoubleOfText; dates by DateOfAttributeText with
// kXmlDateParse (empty text: the current local time). Fails only when the element's
// attributes cannot be read (a null node: E_POINTER); the block is then partly set.
HRESULT ReadAttributes(IXMLDOMNode* element, AccountBlock& block,
                       std::span<const AccountField> fields = kAccountFields);
HRESULT ReadAttributes(IXMLDOMNode* element, AccountDefaults& block,
                       std::span<const DefaultField> fields = kDefaultFields);

// An account kind's whole element in one walk over its attributes (an import reads thousands of
// elements): `own` names the kind's own attributes (distinct, and none of the block's), and
// own_found(context, i, text) is called for each of them the element has, the UTF-8 text valid
// during the call only; a missing own attribute is not called for. Every field of the block is
// set as ReadAttributes sets it. Fails as ReadAttributes does.
using OwnAttributeSink = void (*)(void* context, size_t index, std::string_view text);
HRESULT ReadElementAttributes(IXMLDOMNode* element, std::span<const std::string_view> own, OwnAttributeSink own_found,
                              void* context, AccountBlock& block);
// The same with any callable own_found(size_t index, std::string_view text).
template <class OwnFound>
HRESULT ReadElementAttributes(IXMLDOMNode* element, std::span<const std::string_view> own, OwnFound&& own_found,
                              AccountBlock& block) {
  using F = std::remove_reference_t<OwnFound>;
  return ReadElementAttributes(
      element, own,
      [](void* context, size_t index, std::string_view text) { (*static_cast<F*>(context))(index, text); },
      const_cast<void*>(static_cast<const void*>(&own_found)), block);
}

// ---- statement values ----

// The values the account statements take, named as the fields: Long and Bool fields as int for
// %d, doubles rounded half up to two decimals (sql::Round2) for %f, dates as "%Y-%m-%d" texts for
// '%s' (pass .c_str()). StatusChange is among them only because the list names it; no statement
// writes it.
#define QVA_ACCOUNT_STATEMENT_MEMBER(kind, name, column, attribute) FieldTypes<FieldKind::k##kind>::Statement name;
struct AccountStatementValues {
  QVA_ACCOUNT_FIELDS(QVA_ACCOUNT_STATEMENT_MEMBER)
};
struct DefaultStatementValues {
  QVA_ACCOUNT_DEFAULT_FIELDS(QVA_ACCOUNT_STATEMENT_MEMBER)
};
#undef QVA_ACCOUNT_STATEMENT_MEMBER

AccountStatementValues StatementValues(const AccountBlock& block);
DefaultStatementValues StatementValues(const AccountDefaults& block);

// A date field's text inside quotes: its value as "%Y-%m-%d". A null or invalid date writes its
// value too (0.0 gives 1899-12-30) rather than an empty or error text, which a date column
// would refuse and so lose the whole row.
std::string StatementDate(const DateWithStatus& date);
// The bare date-and-time value of LastTime: `delimiter` (the database's Delimiter) around
// "%Y-%m-%d %H:%M:%S". A DATE outside the calendar writes 1899-12-30 00:00:00 for the same reason.
std::string StatementDateTime(DATE date, std::string_view delimiter);

// ---- attribute texts, for the account kinds' own fields ----

// The formats the account date parser reads dates and LastTime with.
inline constexpr std::string_view kXmlDateParse = "%Y-%M-%D";
inline constexpr std::string_view kXmlDateTimeParse = "%Y-%M-%D %h:%m:%s";

// The attribute's text as UTF-8; empty when the element has no such attribute.
com::Expected<std::string> AttributeText(IXMLDOMNode* element, std::string_view name);
// Sets attribute `name` to a number as decimal text ("C" conventions; doubles with 15
// significant digits, as the platform writes a VT_R8).
HRESULT SetNumberAttribute(IXMLDOMNode* element, std::string_view name, LONG value);
HRESULT SetNumberAttribute(IXMLDOMNode* element, std::string_view name, double value);
// Sets attribute `name` to `date` written with sql::FormatDate's `format` ("%Y-%m-%d", or
// "%Y-%m-%d %H:%M:%S" for LastTime).
HRESULT SetDateAttribute(IXMLDOMNode* element, std::string_view name, DATE date, std::string_view format);

// The standard text-to-number conversions of attribute texts: leading blanks and a sign, then
// as many digits (for a double: a decimal number with an optional exponent) as follow; text that
// does not start with a number reads 0. An integer beyond LONG saturates; a double that is not
// finite (overflow, "inf", "nan") reads 0.
LONG LongOfText(std::string_view text);
double DoubleOfText(std::string_view text);
// An attribute's date: empty text gives the current local time; anything else goes through the
// account date parser with `format` (kXmlDateParse or kXmlDateTimeParse), in local time.
DateWithStatus DateOfAttributeText(std::string_view text, std::string_view format);

}  // namespace qva
