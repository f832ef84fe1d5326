#include "qvacom/storage/recordset.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/ado/ado.h"
#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "qvacom/frame/error_block.h"

namespace qva {
namespace {

void Check(HRESULT hr) {
  if (FAILED(hr)) throw TakeComError(hr);
}

[[noreturn]] void RaiseNullPointer() { throw com::ComError(E_POINTER, "", ""); }

// An omitted optional VARIANT argument.
com::Variant Missing() {
  com::Variant v;
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}

const VARIANT& Deref(const VARIANT& v) { return v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal ? *v.pvarVal : v; }

// The value of a DECIMAL: its 96-bit mantissa with its sign, divided by 10 to the power of its
// scale. (Taking only the low 32 bits as a signed number would make 2^31 negative and drop the
// sign of every negative value.)
double DecimalValue(const DECIMAL& d) {
  double v = static_cast<double>(d.Hi32) * 18446744073709551616.0 + static_cast<double>(d.Lo64);
  v /= std::pow(10.0, d.scale);
  return (d.sign & 0x80) ? -v : v;
}

// A double as GetString renders it: through single precision, up to 10 significant digits, the
// shorter of fixed and exponent form, with a point whatever the locale.
std::string SingleText(double value) { return sql::Format("%.10g", static_cast<double>(static_cast<float>(value))); }

}  // namespace

com::ComError TakeComError(HRESULT hr) {
  com::ComPtr<IErrorInfo> info;
  std::string source, description;
  if (GetErrorInfo(0, info.put()) == S_OK && info) {
    com::Bstr s, d;
    if (SUCCEEDED(info->GetSource(s.put()))) source = s.utf8();
    if (SUCCEEDED(info->GetDescription(d.put()))) description = d.utf8();
  }
  return com::ComError(hr, std::move(source), std::move(description));
}

std::string VariantText(const VARIANT& value) {
  const VARIANT& v = Deref(value);
  if (v.vt == VT_BSTR) return com::BstrToUtf8(v.bstrVal);
  if (v.vt == (VT_BYREF | VT_BSTR) && v.pbstrVal) return com::BstrToUtf8(*v.pbstrVal);
  return {};
}

CRecordset::CRecordset(_Connection* connection) : connection_(connection) {
  if (auto rs = ado::CreateRecordset()) recordset_ = std::move(rs).value();
  if (auto cmd = ado::CreateCommand()) command_ = std::move(cmd).value();
}

CRecordset::~CRecordset() { CloseRecordset(); }

bool CRecordset::IsQuery(std::string_view statement, int mode) {
  constexpr std::string_view kSelect = "select ";
  if (mode != kText || statement.size() < kSelect.size()) return false;
  for (size_t i = 0; i < kSelect.size(); ++i) {
    char c = statement[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kSelect[i]) return false;
  }
  return true;
}

bool CRecordset::OpenStatement(_Connection* connection, std::string_view statement, int mode) {
  try {
    if (!recordset_) RaiseNullPointer();
    LONG state = adStateClosed;
    Check(recordset_->get_State(&state));
    fields_.clear();
    if (state & adStateOpen) Check(recordset_->Close());
    if (!statement.empty()) statement_ = statement;
    if (!connection_) connection_ = com::ComPtr<_Connection>(connection);

    Check(recordset_->put_CursorType(adOpenStatic));
    Check(recordset_->put_CursorLocation(adUseClient));
    const com::Variant text = com::Variant::Str(statement_);
    const com::Variant active = com::Variant::Dispatch(connection_.get());
    if (IsQuery(statement_, mode) || mode == kText || mode == kTextUnknown) {
      Check(recordset_->Open(text, active, adOpenStatic, adLockOptimistic, adCmdUnknown));
    } else if (mode == kTable) {
      Check(recordset_->Open(text, active, adOpenKeyset, adLockOptimistic, adCmdTable));
    } else if (mode == kStoredProcedure) {
      if (!command_ || !connection_) RaiseNullPointer();
      Check(command_->put_ActiveConnection(active));
      com::Bstr command_text(statement_);
      Check(command_->put_CommandText(command_text.get()));
      Check(command_->put_CommandType(adCmdStoredProc));
      Check(connection_->put_CursorLocation(adUseClient));
      com::ComPtr<_Recordset> result;
      Check(command_->Execute(Missing(), Missing(), adCmdText, result.put()));
      // A command without a recordset leaves the wrapper's own in place for the next opening.
      if (!result) return false;
      recordset_ = std::move(result);
    } else {
      return false;
    }
    return recordset_ != nullptr;
  } catch (const com::ComError& e) {
    Record(e);
    return false;
  }
}

void CRecordset::CloseRecordset() {
  if (!recordset_ || !connection_) return;
  LONG recordset_state = adStateClosed, connection_state = adStateClosed;
  if (FAILED(recordset_->get_State(&recordset_state)) || !(recordset_state & adStateOpen)) return;
  if (FAILED(connection_->get_State(&connection_state)) || !(connection_state & adStateOpen)) return;
  statement_.clear();
  fields_.clear();
  com::Bstr no_order("");
  // Failures here change nothing a caller could act on: the recordset is closed next either way.
  recordset_->put_Sort(no_order.get());
  recordset_->Close();
}

void CRecordset::Record(const com::ComError& e) {
  last_error_text_ = ErrorBlock(e) + "Query = " + statement_ + "\n";
  last_error_code_ = e.code();
}

CRecordset::FieldEntry& CRecordset::FindField(std::string_view field) {
  const size_t count = fields_.size();
  for (size_t k = 0; k < count; ++k) {
    size_t i = next_field_ + k;
    if (i >= count) i -= count;
    if (fields_[i].name == field) {
      next_field_ = i + 1;
      return fields_[i];
    }
  }
  if (!recordset_) RaiseNullPointer();
  com::ComPtr<Fields> fields;
  Check(recordset_->get_Fields(fields.put()));
  if (!fields) RaiseNullPointer();
  FieldEntry entry{std::string(field), nullptr, nullptr};
  Check(fields->get_Item(com::Variant::Str(field), entry.field.put()));
  if (!entry.field) RaiseNullPointer();
  if (FAILED(entry.field->QueryInterface(ado::IID_IAdoFieldValue, entry.in_place.put_void()))) entry.in_place = nullptr;
  fields_.push_back(std::move(entry));
  next_field_ = fields_.size();
  return fields_.back();
}

void CRecordset::ReadField(std::string_view field, com::Variant* value) {
  const size_t known = fields_.size();
  const HRESULT hr = FindField(field).field->get_Value(value->put());
  if (SUCCEEDED(hr)) return;
  if (fields_.size() == known) {
    // The recordset may have been closed and reopened through recordset() since the field was
    // found: look it up again in the recordset as it is now.
    com::ClearError();
    fields_.clear();
    Check(FindField(field).field->get_Value(value->put()));
    return;
  }
  Check(hr);
}

bool DoubleOfValue(const VARIANT& v, double* out) {
  *out = 0;
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I2:
      *out = v.iVal;
      return true;
    case VT_UI1:
      *out = v.bVal;
      return true;
    case VT_I4:
      *out = v.lVal;
      return true;
    case VT_INT:
      *out = v.intVal;
      return true;
    case VT_R4:
      *out = v.fltVal;
      return true;
    case VT_R8:
      *out = v.dblVal;
      return true;
    case VT_DECIMAL:
      *out = DecimalValue(v.decVal);
      return true;
    case VT_DATE:
      *out = v.date;
      return true;
    default:
      return false;
  }
}

bool LongOfValue(const VARIANT& v, LONG* out) {
  *out = 0;
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I2:
      *out = v.iVal;
      return true;
    case VT_I4:
      *out = v.lVal;
      return true;
    case VT_INT:
      *out = v.intVal;
      return true;
    default:
      return false;
  }
}

bool DateOfValue(const VARIANT& v, DateWithStatus* out) {
  *out = DateWithStatus{0.0, DateStatus::kNull};
  if (v.vt == VT_EMPTY || v.vt == VT_NULL) return true;
  if (v.vt != VT_DATE) return false;
  *out = DateWithStatus{v.date, DateStatus::kValid};
  return true;
}

bool StringOfValue(const VARIANT& v, std::string* out, std::string_view date_format) {
  out->clear();
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I1:
      *out = std::to_string(static_cast<int>(v.cVal));
      return true;
    case VT_I2:
      *out = std::to_string(v.iVal);
      return true;
    case VT_UI1:
      *out = std::to_string(v.bVal);
      return true;
    case VT_I4:
      *out = std::to_string(v.lVal);
      return true;
    case VT_INT:
      *out = std::to_string(v.intVal);
      return true;
    case VT_UI4:
      *out = std::to_string(v.ulVal);
      return true;
    case VT_UINT:
      *out = std::to_string(v.uintVal);
      return true;
    case VT_R4:
      *out = sql::Format("%.10g", static_cast<double>(v.fltVal));
      return true;
    case VT_R8:
      *out = SingleText(v.dblVal);
      return true;
    case VT_DECIMAL:
      *out = SingleText(DecimalValue(v.decVal));
      return true;
    case VT_DATE:
      *out = sql::FormatDate(v.date, date_format);
      return true;
    case VT_BSTR:
      *out = com::BstrToUtf8(v.bstrVal);
      return true;
    case VT_BOOL:
      *out = v.boolVal ? "T" : "F";
      return true;
    default:
      return false;
  }
}

bool CRecordset::GetDouble(std::string_view field, double* out) {
  *out = 0;
  return ReadAs(field, [&](const VARIANT& v) { return DoubleOfValue(v, out); });
}

bool CRecordset::GetLong(std::string_view field, LONG* out) {
  *out = 0;
  return ReadAs(field, [&](const VARIANT& v) { return LongOfValue(v, out); });
}

bool CRecordset::GetDate(std::string_view field, DateWithStatus* out) {
  *out = DateWithStatus{0.0, DateStatus::kNull};
  return ReadAs(field, [&](const VARIANT& v) { return DateOfValue(v, out); });
}

bool CRecordset::GetVariant(std::string_view field, com::Variant* out) {
  out->put();
  try {
    ReadField(field, out);
    return true;
  } catch (const com::ComError& e) {
    out->put();
    Record(e);
    return false;
  }
}

bool CRecordset::GetString(std::string_view field, std::string* out, std::string_view date_format) {
  out->clear();
  return ReadAs(field, [&](const VARIANT& v) { return StringOfValue(v, out, date_format); });
}

}  // namespace qva
