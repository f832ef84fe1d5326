// Connection, Recordset, Fields, Field and Command as COM objects over a provider session.
//
// A recordset's rows live in a RowSet shared with the Fields and Field objects handed out for
// it, so a Field read after MoveNext shows the new row, as in ADO. Closing or reopening the
// recordset gives it a new RowSet and marks the old one closed: Field objects of an earlier
// opening then fail with "object closed" instead of reading another result.
//
// Cursors: a forward-only recordset on a server cursor (ADO's defaults) reads one row at a time
// from the engine; any other cursor type, or the client cursor location, reads every row at open
// (the engine's statement and its locks are released at once) and allows Sort.
#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/ado/provider.h"
#include "platform/com/bstr.h"
#include "platform/com/com_error.h"
#include "platform/com/dispatch.h"
#include "platform/com/errorinfo.h"
#include "platform/com/text.h"
#include "platform/com/variant.h"

namespace ado {
namespace {

constexpr HRESULT kErrInvalidArgument = static_cast<HRESULT>(0x800A0BB9);
constexpr HRESULT kErrNoCurrentRecord = static_cast<HRESULT>(0x800A0BCD);
constexpr HRESULT kErrFeatureNotAvailable = static_cast<HRESULT>(0x800A0CB3);
constexpr HRESULT kErrItemNotFound = static_cast<HRESULT>(0x800A0CC1);
constexpr HRESULT kErrObjectClosed = static_cast<HRESULT>(0x800A0E78);
constexpr HRESULT kErrObjectOpen = static_cast<HRESULT>(0x800A0E79);
constexpr HRESULT kErrInvalidConnection = static_cast<HRESULT>(0x800A0E7D);

constexpr char kConnectionSource[] = "ADODB.Connection";
constexpr char kRecordsetSource[] = "ADODB.Recordset";
constexpr char kFieldsSource[] = "ADODB.Fields";
constexpr char kFieldSource[] = "ADODB.Field";
constexpr char kCommandSource[] = "ADODB.Command";

[[noreturn]] void Raise(HRESULT hr, const char* source) {
  const char* text = "Operation failed.";
  switch (hr) {
    case kErrInvalidArgument:
      text = "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";
      break;
    case kErrNoCurrentRecord:
      text =
          "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a "
          "current record.";
      break;
    case kErrFeatureNotAvailable:
      text = "Current provider does not support the necessary interface for sorting or filtering.";
      break;
    case kErrItemNotFound:
      text = "Item cannot be found in the collection corresponding to the requested name or ordinal.";
      break;
    case kErrObjectClosed:
      text = "Operation is not allowed when the object is closed.";
      break;
    case kErrObjectOpen:
      text = "Operation is not allowed when the object is open.";
      break;
    case kErrInvalidConnection:
      text =
          "The connection cannot be used to perform this operation. It is either closed or invalid in this "
          "context.";
      break;
    default:
      break;
  }
  throw com::ComError(hr, source, text);
}

// Runs a member's body and turns what it raises into the member's HRESULT and error information.
template <class F>
HRESULT Boundary(const IID& iid, F&& body) {
  try {
    body();
    return S_OK;
  } catch (const com::ComError& e) {
    return com::ReportError(e.code(), e.source(), e.description(), iid);
  } catch (const std::bad_alloc&) {
    return com::ReportError(E_OUTOFMEMORY, "ADODB", "Out of memory.", iid);
  }
}

// An omitted optional 32-bit argument arrives as the code of a missing argument.
bool Unspecified(LONG v) { return v == -1 || v == static_cast<LONG>(DISP_E_PARAMNOTFOUND); }

const VARIANT& Deref(const VARIANT& v) { return v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal ? *v.pvarVal : v; }

bool Missing(const VARIANT& v) {
  const VARIANT& d = Deref(v);
  return d.vt == VT_EMPTY || (d.vt == VT_ERROR && d.scode == DISP_E_PARAMNOTFOUND);
}

int TimeoutSeconds(LONG v) { return static_cast<int>(v); }

// ---------------------------------------------------------------------------------------------
// Rows of an open recordset.

struct RowSet {
  bool open = false;
  std::vector<Column> columns;
  std::unique_ptr<Cursor> cursor;  // rows still in the engine (forward-only); null once all read
  bool buffered = false;           // every row was read at open
  std::vector<Row> rows;           // buffered: every row; forward-only: the current row only
  std::vector<size_t> order;       // rows in the recordset's order (Sort)
  size_t pos = 0;                  // index into order; order.size() is EOF

  bool eof() const { return pos >= order.size(); }
  const Row& current() const { return rows[order[pos]]; }

  void CheckOpen(const char* source) const {
    if (!open) Raise(kErrObjectClosed, source);
  }

  // Takes the cursor's rows: all of them when buffered, else the first.
  void Start(std::unique_ptr<Cursor> c, bool buffer) {
    columns = c->columns();
    cursor = std::move(c);
    buffered = buffer;
    open = true;
    if (buffered) {
      Row row;
      while (cursor->Next(&row)) rows.push_back(std::move(row));
      cursor.reset();
      for (size_t i = 0; i < rows.size(); ++i) order.push_back(i);
    } else {
      Fetch();
    }
  }

  // Forward-only: replaces the current row by the next one from the engine.
  void Fetch() {
    rows.clear();
    order.clear();
    pos = 0;
    if (!cursor) return;
    Row row;
    if (cursor->Next(&row)) {
      rows.push_back(std::move(row));
      order.push_back(0);
    } else {
      cursor.reset();
    }
  }

  void MoveNext() {
    if (eof()) Raise(kErrNoCurrentRecord, kRecordsetSource);
    if (buffered)
      ++pos;
    else
      Fetch();
  }

  // Column index by name, compared without regard to case as ADO does; -1 when absent.
  int Find(std::u16string_view name) const {
    for (size_t i = 0; i < columns.size(); ++i)
      if (com::CompareNoCase(columns[i].name, name) == 0) return static_cast<int>(i);
    return -1;
  }
};

// Order of two values of a sort: nulls first, numbers and dates by value, text without regard
// to case; numbers before text when a column mixes them.
int CompareValues(const VARIANT& a, const VARIANT& b) {
  auto rank = [](const VARIANT& v) { return v.vt == VT_NULL || v.vt == VT_EMPTY ? 0 : v.vt == VT_BSTR ? 2 : 1; };
  const int ra = rank(a), rb = rank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  if (ra == 0) return 0;
  if (ra == 2) return com::CompareNoCase(com::BstrView(a.bstrVal), com::BstrView(b.bstrVal));
  auto number = [](const VARIANT& v) -> long double {
    switch (v.vt) {
      case VT_I2:
        return v.iVal;
      case VT_I4:
        return v.lVal;
      case VT_I8:
        return static_cast<long double>(v.llVal);
      case VT_UI1:
        return v.bVal;
      case VT_BOOL:
        return v.boolVal;
      case VT_R8:
        return v.dblVal;
      case VT_DATE:
        return v.date;
      default:
        return 0;
    }
  };
  const long double x = number(a), y = number(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

struct SortKey {
  int column;
  bool descending;
};

// "Name", "Name ASC, [Date] DESC".
std::vector<SortKey> ParseSort(const RowSet& rs, std::u16string_view text) {
  std::vector<SortKey> keys;
  size_t i = 0;
  while (i < text.size()) {
    size_t comma = text.find(u',', i);
    if (comma == std::u16string_view::npos) comma = text.size();
    std::u16string_view item = text.substr(i, comma - i);
    i = comma + 1;
    auto trim = [](std::u16string_view s) {
      while (!s.empty() && s.front() == u' ') s.remove_prefix(1);
      while (!s.empty() && s.back() == u' ') s.remove_suffix(1);
      return s;
    };
    item = trim(item);
    if (item.empty()) continue;
    bool descending = false;
    const size_t blank = item.rfind(u' ');
    if (blank != std::u16string_view::npos && item.back() != u']') {
      const std::u16string_view word = item.substr(blank + 1);
      if (com::CompareNoCase(word, u"DESC") == 0) {
        descending = true;
      } else if (com::CompareNoCase(word, u"ASC") != 0) {
        Raise(kErrInvalidArgument, kRecordsetSource);
      }
      item = trim(item.substr(0, blank));
    }
    if (item.size() >= 2 && item.front() == u'[' && item.back() == u']') item = item.substr(1, item.size() - 2);
    const int column = rs.Find(item);
    if (column < 0) Raise(kErrItemNotFound, kRecordsetSource);
    keys.push_back({column, descending});
  }
  return keys;
}

// ---------------------------------------------------------------------------------------------
// Internal access to our own connection behind a _Connection pointer; foreign objects do not
// answer it.

// A name of letters, digits and underscores, optionally in one pair of square brackets.
bool IsBareTableName(std::u16string_view text) {
  if (text.size() >= 2 && text.front() == u'[' && text.back() == u']') text = text.substr(1, text.size() - 2);
  if (text.empty()) return false;
  for (char16_t c : text)
    if (!(c == u'_' || (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'))) return false;
  return true;
}

std::u16string_view StripBrackets(std::u16string_view text) {
  if (text.size() >= 2 && text.front() == u'[' && text.back() == u']') return text.substr(1, text.size() - 2);
  return text;
}

class ConnectionObject;
inline constexpr IID IID_IAdoConnectionSelf = com::MakeGuid("{5E0C6A43-91D8-4B7E-A2F5-7C3D18E94B06}");
struct IAdoConnectionSelf : IUnknown {
  static constexpr const IID& iid = IID_IAdoConnectionSelf;
  virtual ConnectionObject* Self() = 0;
};

ConnectionObject* ConnectionOf(const VARIANT& v) {
  const VARIANT& d = Deref(v);
  IUnknown* unk = nullptr;
  if (d.vt == VT_DISPATCH)
    unk = d.pdispVal;
  else if (d.vt == VT_UNKNOWN)
    unk = d.punkVal;
  else if (d.vt == (VT_BYREF | VT_DISPATCH) && d.ppdispVal)
    unk = *d.ppdispVal;
  else if (d.vt == (VT_BYREF | VT_UNKNOWN) && d.ppunkVal)
    unk = *d.ppunkVal;
  if (!unk) return nullptr;
  com::ComPtr<IAdoConnectionSelf> self;
  if (FAILED(unk->QueryInterface(IID_IAdoConnectionSelf, self.put_void()))) return nullptr;
  return self->Self();
}

// ---------------------------------------------------------------------------------------------

class FieldObject : public com::Dispatch<Field, IAdoFieldValue> {
 public:
  FieldObject(std::shared_ptr<RowSet> rows, int column) : rows_(std::move(rows)), column_(column) {}

  QVA_DECL_Field;
  const VARIANT* CurrentValue() override {
    return rows_->open && !rows_->eof() ? &rows_->current()[column_] : nullptr;
  }

 private:
  std::shared_ptr<RowSet> rows_;
  int column_;
};

HRESULT FieldObject::get_Name(BSTR* pbstr) {
  if (!pbstr) return E_POINTER;
  *pbstr = nullptr;
  return Boundary(IID_Field, [&] {
    rows_->CheckOpen(kFieldSource);
    *pbstr = com::AllocBstr(std::u16string_view(rows_->columns[column_].name));
    if (!*pbstr) throw std::bad_alloc();
  });
}

HRESULT FieldObject::get_Type(DataTypeEnum* type) {
  if (!type) return E_POINTER;
  return Boundary(IID_Field, [&] {
    rows_->CheckOpen(kFieldSource);
    *type = rows_->columns[column_].type;
  });
}

HRESULT FieldObject::get_Value(VARIANT* value) {
  if (!value) return E_POINTER;
  VariantInit(value);
  return Boundary(IID_Field, [&] {
    rows_->CheckOpen(kFieldSource);
    if (rows_->eof()) Raise(kErrNoCurrentRecord, kFieldSource);
    const HRESULT hr = VariantCopy(value, &rows_->current()[column_]);
    if (FAILED(hr)) throw com::ComError(hr, kFieldSource, "The value cannot be copied.");
  });
}

class FieldsObject : public com::Dispatch<Fields> {
 public:
  explicit FieldsObject(std::shared_ptr<RowSet> rows) : rows_(std::move(rows)) {}

  QVA_DECL_Fields;

 private:
  std::shared_ptr<RowSet> rows_;
};

HRESULT FieldsObject::get_Count(LONG* count) {
  if (!count) return E_POINTER;
  *count = rows_->open ? static_cast<LONG>(rows_->columns.size()) : 0;
  return S_OK;
}

HRESULT FieldsObject::get_Item(VARIANT index, Field** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return Boundary(IID_Fields, [&] {
    rows_->CheckOpen(kFieldsSource);
    const VARIANT& i = Deref(index);
    int column = -1;
    if (i.vt == VT_BSTR) {
      column = rows_->Find(com::BstrView(i.bstrVal));
    } else {
      com::Variant n;
      if (FAILED(VariantChangeType(&n, &i, 0, VT_I4))) Raise(kErrInvalidArgument, kFieldsSource);
      if (n.lVal >= 0 && static_cast<size_t>(n.lVal) < rows_->columns.size()) column = n.lVal;
    }
    if (column < 0) Raise(kErrItemNotFound, kFieldsSource);
    auto field = com::CreateObject<FieldObject>(rows_, column);
    if (!field) throw std::bad_alloc();
    *out = field->Detach();
  });
}

// ---------------------------------------------------------------------------------------------

class RecordsetObject : public com::Dispatch<_Recordset> {
 public:
  QVA_DECL__Recordset;

  // Opens the recordset on the rows of `cursor` (null: a statement without rows, which leaves
  // the recordset closed, as ADO does).
  void Attach(std::unique_ptr<Cursor> cursor, CursorTypeEnum type, CursorLocationEnum location) {
    if (!cursor) return;
    const bool buffer = location == adUseClient || type != adOpenForwardOnly;
    auto rows = std::make_shared<RowSet>();
    rows->Start(std::move(cursor), buffer);
    rows_ = std::move(rows);
    cursor_type_ = location == adUseClient ? adOpenStatic : type;
    location_ = location;
    sort_.clear();
  }

 private:
  std::shared_ptr<RowSet> rows_ = std::make_shared<RowSet>();
  CursorTypeEnum cursor_type_ = adOpenForwardOnly;
  LockTypeEnum lock_type_ = adLockReadOnly;
  CursorLocationEnum location_ = adUseServer;
  std::u16string sort_;
};

com::ComPtr<_Recordset> NewRecordset(RecordsetObject** impl) {
  auto rs = com::CreateObject<RecordsetObject>();
  if (!rs) throw std::bad_alloc();
  *impl = rs->get();
  return com::ComPtr<_Recordset>(rs->get());
}

// ---------------------------------------------------------------------------------------------

class ConnectionObject : public com::Dispatch<_Connection, IAdoConnectionSelf> {
 public:
  QVA_DECL__Connection;
  ConnectionObject* Self() override { return this; }

  bool is_open() const { return session_ != nullptr; }
  LONG command_timeout() const { return command_timeout_; }

  // Runs a statement text of the given command type on the open connection and returns the
  // recordset of its rows (closed for a statement without rows), or null with no_records.
  com::ComPtr<_Recordset> Run(std::u16string_view text, LONG command_type, int timeout_seconds, bool no_records,
                              CursorTypeEnum cursor_type, CursorLocationEnum location, RecordsetObject* into,
                              const char* source) {
    if (!session_) Raise(kErrInvalidConnection, source);
    std::string sql;
    bool procedure = false;
    switch (command_type) {
      case adCmdText:
      case adCmdUnknown:
      case adCmdUnspecified:
        sql = com::Utf16ToUtf8(text);
        break;
      case adCmdTable:
      case adCmdTableDirect: {
        // A table name: brackets inside it are doubled so it stays one name.
        std::string name = com::Utf16ToUtf8(StripBrackets(text));
        std::string quoted;
        for (char c : name) {
          quoted += c;
          if (c == ']') quoted += ']';
        }
        sql = "SELECT * FROM [" + quoted + "]";
        break;
      }
      case adCmdStoredProc:
        procedure = true;
        sql = com::Utf16ToUtf8(text);
        break;
      default:
        Raise(kErrInvalidArgument, source);
    }
    if (sql.empty()) Raise(kErrInvalidArgument, source);
    std::unique_ptr<Cursor> cursor;
    try {
      cursor = procedure ? session_->CallProcedure(sql, timeout_seconds) : session_->Execute(sql, timeout_seconds);
    } catch (const com::ComError& as_statement) {
      // ADO tries a text of unknown type as a statement and then as a table name: "Computers"
      // opens the table. When it is no table either ("COMMIT" with nothing to commit), the
      // statement's own error is the one that explains it.
      const bool unknown = command_type == adCmdUnknown || command_type == adCmdUnspecified;
      if (!unknown || !IsBareTableName(text)) throw;
      try {
        return Run(text, adCmdTable, timeout_seconds, no_records, cursor_type, location, into, source);
      } catch (const com::ComError&) {
        throw as_statement;
      }
    }
    if (no_records) {
      if (cursor) {
        Row row;
        while (cursor->Next(&row)) {
        }
      }
      return {};
    }
    com::ComPtr<_Recordset> result;
    if (!into) {
      result = NewRecordset(&into);
    } else {
      result = com::ComPtr<_Recordset>(into);
    }
    into->Attach(std::move(cursor), cursor_type, location);
    return result;
  }

 private:
  std::u16string connection_string_;
  LONG command_timeout_ = 30;  // ADO's defaults, seconds
  LONG connection_timeout_ = 15;
  CursorLocationEnum location_ = adUseServer;
  std::shared_ptr<Session> session_;
};

HRESULT ConnectionObject::get_ConnectionString(BSTR* out) {
  if (!out) return E_POINTER;
  *out = com::AllocBstr(std::u16string_view(connection_string_));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT ConnectionObject::put_ConnectionString(BSTR value) {
  return Boundary(IID__Connection, [&] {
    if (session_) Raise(kErrObjectOpen, kConnectionSource);
    connection_string_ = com::BstrView(value);
  });
}

HRESULT ConnectionObject::get_CommandTimeout(LONG* out) {
  if (!out) return E_POINTER;
  *out = command_timeout_;
  return S_OK;
}

HRESULT ConnectionObject::put_CommandTimeout(LONG value) {
  return Boundary(IID__Connection, [&] {
    if (value < 0) Raise(kErrInvalidArgument, kConnectionSource);
    command_timeout_ = value;
  });
}

HRESULT ConnectionObject::get_ConnectionTimeout(LONG* out) {
  if (!out) return E_POINTER;
  *out = connection_timeout_;
  return S_OK;
}

HRESULT ConnectionObject::put_ConnectionTimeout(LONG value) {
  return Boundary(IID__Connection, [&] {
    if (value < 0) Raise(kErrInvalidArgument, kConnectionSource);
    if (session_) Raise(kErrObjectOpen, kConnectionSource);
    connection_timeout_ = value;
  });
}

HRESULT ConnectionObject::Close() {
  return Boundary(IID__Connection, [&] {
    if (!session_) Raise(kErrObjectClosed, kConnectionSource);
    // Recordsets still reading rows keep the engine's connection until they are closed.
    session_.reset();
  });
}

HRESULT ConnectionObject::Execute(BSTR text, VARIANT, LONG options, _Recordset** out) {
  if (out) *out = nullptr;
  return Boundary(IID__Connection, [&] {
    if (!session_) Raise(kErrObjectClosed, kConnectionSource);
    if (Unspecified(options)) options = -1;
    const bool no_records = options != -1 && (options & adExecuteNoRecords);
    const LONG type =
        options == -1
            ? adCmdUnknown
            : options & (adCmdText | adCmdTable | adCmdStoredProc | adCmdUnknown | adCmdFile | adCmdTableDirect);
    auto rs = Run(com::BstrView(text), type == 0 ? adCmdUnknown : type, TimeoutSeconds(command_timeout_),
                  no_records || !out, adOpenForwardOnly, location_, nullptr, kConnectionSource);
    if (out) *out = rs.Detach();
  });
}

HRESULT ConnectionObject::Open(VARIANT connection_string, VARIANT, VARIANT, LONG) {
  return Boundary(IID__Connection, [&] {
    if (session_) Raise(kErrObjectOpen, kConnectionSource);
    std::u16string text = connection_string_;
    if (!Missing(connection_string)) {
      const VARIANT& v = Deref(connection_string);
      if (v.vt != VT_BSTR) Raise(kErrInvalidArgument, kConnectionSource);
      text = com::BstrView(v.bstrVal);
    }
    session_ = OpenSession(text, TimeoutSeconds(connection_timeout_));
    connection_string_ = std::move(text);
  });
}

HRESULT ConnectionObject::get_CursorLocation(CursorLocationEnum* out) {
  if (!out) return E_POINTER;
  *out = location_;
  return S_OK;
}

HRESULT ConnectionObject::put_CursorLocation(CursorLocationEnum value) {
  return Boundary(IID__Connection, [&] {
    if (value != adUseServer && value != adUseClient) Raise(kErrInvalidArgument, kConnectionSource);
    location_ = value;
  });
}

HRESULT ConnectionObject::get_State(LONG* out) {
  if (!out) return E_POINTER;
  *out = session_ ? adStateOpen : adStateClosed;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------

HRESULT RecordsetObject::get_CursorType(CursorTypeEnum* out) {
  if (!out) return E_POINTER;
  *out = cursor_type_;
  return S_OK;
}

HRESULT RecordsetObject::put_CursorType(CursorTypeEnum value) {
  return Boundary(IID__Recordset, [&] {
    if (rows_->open) Raise(kErrObjectOpen, kRecordsetSource);
    if (value < adOpenForwardOnly || value > adOpenStatic) Raise(kErrInvalidArgument, kRecordsetSource);
    cursor_type_ = value;
  });
}

HRESULT RecordsetObject::get_EOF(VARIANT_BOOL* out) {
  if (!out) return E_POINTER;
  return Boundary(IID__Recordset, [&] {
    rows_->CheckOpen(kRecordsetSource);
    *out = rows_->eof() ? VARIANT_TRUE : VARIANT_FALSE;
  });
}

HRESULT RecordsetObject::get_Fields(Fields** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return Boundary(IID__Recordset, [&] {
    auto fields = com::CreateObject<FieldsObject>(rows_);
    if (!fields) throw std::bad_alloc();
    *out = fields->Detach();
  });
}

HRESULT RecordsetObject::get_LockType(LockTypeEnum* out) {
  if (!out) return E_POINTER;
  *out = lock_type_;
  return S_OK;
}

HRESULT RecordsetObject::put_LockType(LockTypeEnum value) {
  return Boundary(IID__Recordset, [&] {
    if (rows_->open) Raise(kErrObjectOpen, kRecordsetSource);
    if (value < adLockReadOnly || value > adLockBatchOptimistic) Raise(kErrInvalidArgument, kRecordsetSource);
    lock_type_ = value;
  });
}

HRESULT RecordsetObject::CancelUpdate() {
  // Rows are read-only here, so no edit is ever pending: only the state is checked.
  return Boundary(IID__Recordset, [&] { rows_->CheckOpen(kRecordsetSource); });
}

HRESULT RecordsetObject::Close() {
  return Boundary(IID__Recordset, [&] {
    rows_->CheckOpen(kRecordsetSource);
    rows_->open = false;
    rows_->cursor.reset();  // releases the engine's statement and its locks now
    rows_->rows.clear();
    rows_->order.clear();
    rows_ = std::make_shared<RowSet>();
    sort_.clear();
  });
}

HRESULT RecordsetObject::MoveNext() {
  return Boundary(IID__Recordset, [&] {
    rows_->CheckOpen(kRecordsetSource);
    rows_->MoveNext();
  });
}

HRESULT RecordsetObject::Open(VARIANT source, VARIANT active_connection, CursorTypeEnum cursor_type,
                              LockTypeEnum lock_type, LONG options) {
  return Boundary(IID__Recordset, [&] {
    if (rows_->open) Raise(kErrObjectOpen, kRecordsetSource);
    const VARIANT& src = Deref(source);
    if (src.vt != VT_BSTR) Raise(kErrInvalidArgument, kRecordsetSource);
    ConnectionObject* connection = ConnectionOf(active_connection);
    if (!connection || !connection->is_open()) Raise(kErrInvalidConnection, kRecordsetSource);
    if (!Unspecified(cursor_type)) {
      if (cursor_type < adOpenForwardOnly || cursor_type > adOpenStatic) Raise(kErrInvalidArgument, kRecordsetSource);
      cursor_type_ = cursor_type;
    }
    if (!Unspecified(lock_type)) {
      if (lock_type < adLockReadOnly || lock_type > adLockBatchOptimistic) Raise(kErrInvalidArgument, kRecordsetSource);
      lock_type_ = lock_type;
    }
    LONG type = adCmdUnknown;
    if (!Unspecified(options)) {
      type = options & (adCmdText | adCmdTable | adCmdStoredProc | adCmdUnknown | adCmdFile | adCmdTableDirect);
      if (type == 0) type = adCmdUnknown;
    }
    connection->Run(com::BstrView(src.bstrVal), type, TimeoutSeconds(connection->command_timeout()), false,
                    cursor_type_, location_, this, kRecordsetSource);
  });
}

HRESULT RecordsetObject::get_Sort(BSTR* out) {
  if (!out) return E_POINTER;
  *out = com::AllocBstr(std::u16string_view(sort_));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT RecordsetObject::put_Sort(BSTR criteria) {
  return Boundary(IID__Recordset, [&] {
    rows_->CheckOpen(kRecordsetSource);
    const std::u16string_view text = com::BstrView(criteria);
    RowSet& rs = *rows_;
    if (!rs.buffered) {
      // Clearing the order of a forward-only recordset is harmless; sorting one is not possible.
      if (text.find_first_not_of(u' ') == std::u16string_view::npos) {
        sort_.clear();
        return;
      }
      Raise(kErrFeatureNotAvailable, kRecordsetSource);
    }
    const std::vector<SortKey> keys = ParseSort(rs, text);
    for (size_t i = 0; i < rs.order.size(); ++i) rs.order[i] = i;
    std::stable_sort(rs.order.begin(), rs.order.end(), [&](size_t a, size_t b) {
      for (const SortKey& k : keys) {
        const int c = CompareValues(rs.rows[a][k.column], rs.rows[b][k.column]);
        if (c != 0) return k.descending ? c > 0 : c < 0;
      }
      return false;
    });
    rs.pos = 0;  // a new order starts at its first row
    sort_ = text;
  });
}

HRESULT RecordsetObject::get_State(LONG* out) {
  if (!out) return E_POINTER;
  *out = rows_->open ? adStateOpen : adStateClosed;
  return S_OK;
}

HRESULT RecordsetObject::get_CursorLocation(CursorLocationEnum* out) {
  if (!out) return E_POINTER;
  *out = location_;
  return S_OK;
}

HRESULT RecordsetObject::put_CursorLocation(CursorLocationEnum value) {
  return Boundary(IID__Recordset, [&] {
    if (rows_->open) Raise(kErrObjectOpen, kRecordsetSource);
    if (value != adUseServer && value != adUseClient) Raise(kErrInvalidArgument, kRecordsetSource);
    location_ = value;
  });
}

// ---------------------------------------------------------------------------------------------

class CommandObject : public com::Dispatch<_Command> {
 public:
  QVA_DECL__Command;

 private:
  com::ComPtr<_Connection> connection_;
  std::u16string text_;
  LONG timeout_ = 30;
  CommandTypeEnum type_ = adCmdUnknown;
};

HRESULT CommandObject::get_ActiveConnection(_Connection** out) {
  if (!out) return E_POINTER;
  return connection_.CopyTo(out);
}

HRESULT CommandObject::put_ActiveConnection(VARIANT value) {
  return Boundary(IID__Command, [&] {
    const VARIANT& v = Deref(value);
    if (v.vt == VT_EMPTY || v.vt == VT_NULL || ((v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) && !v.punkVal)) {
      connection_ = nullptr;
      return;
    }
    ConnectionObject* c = ConnectionOf(v);
    if (!c) Raise(kErrInvalidArgument, kCommandSource);
    connection_ = com::ComPtr<_Connection>(c);
  });
}

HRESULT CommandObject::get_CommandText(BSTR* out) {
  if (!out) return E_POINTER;
  *out = com::AllocBstr(std::u16string_view(text_));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CommandObject::put_CommandText(BSTR value) {
  return Boundary(IID__Command, [&] { text_ = com::BstrView(value); });
}

HRESULT CommandObject::get_CommandTimeout(LONG* out) {
  if (!out) return E_POINTER;
  *out = timeout_;
  return S_OK;
}

HRESULT CommandObject::put_CommandTimeout(LONG value) {
  return Boundary(IID__Command, [&] {
    if (value < 0) Raise(kErrInvalidArgument, kCommandSource);
    timeout_ = value;
  });
}

HRESULT CommandObject::Execute(VARIANT, VARIANT, LONG options, _Recordset** out) {
  if (out) *out = nullptr;
  return Boundary(IID__Command, [&] {
    if (!connection_) Raise(kErrInvalidConnection, kCommandSource);
    com::ComPtr<IAdoConnectionSelf> self;
    if (FAILED(connection_->QueryInterface(IID_IAdoConnectionSelf, self.put_void())))
      Raise(kErrInvalidConnection, kCommandSource);
    ConnectionObject* c = self->Self();
    if (!c->is_open()) Raise(kErrInvalidConnection, kCommandSource);
    const bool no_records = !Unspecified(options) && (options & adExecuteNoRecords);
    CursorLocationEnum location = adUseServer;
    if (FAILED(connection_->get_CursorLocation(&location))) location = adUseServer;
    auto rs = c->Run(text_, type_, TimeoutSeconds(timeout_), no_records || !out, adOpenForwardOnly, location, nullptr,
                     kCommandSource);
    if (out) *out = rs.Detach();
  });
}

HRESULT CommandObject::get_CommandType(CommandTypeEnum* out) {
  if (!out) return E_POINTER;
  *out = type_;
  return S_OK;
}

HRESULT CommandObject::put_CommandType(CommandTypeEnum value) {
  return Boundary(IID__Command, [&] {
    switch (value) {
      case adCmdUnspecified:
      case adCmdUnknown:
      case adCmdText:
      case adCmdTable:
      case adCmdStoredProc:
      case adCmdTableDirect:
        type_ = value;
        return;
      default:
        Raise(kErrInvalidArgument, kCommandSource);
    }
  });
}

}  // namespace

com::Expected<com::ComPtr<_Connection>> CreateConnection() {
  auto c = com::CreateObject<ConnectionObject>();
  if (!c) return com::Fail{c.error()};
  return com::ComPtr<_Connection>(c->get());
}

com::Expected<com::ComPtr<_Recordset>> CreateRecordset() {
  auto r = com::CreateObject<RecordsetObject>();
  if (!r) return com::Fail{r.error()};
  return com::ComPtr<_Recordset>(r->get());
}

com::Expected<com::ComPtr<_Command>> CreateCommand() {
  auto c = com::CreateObject<CommandObject>();
  if (!c) return com::Fail{c.error()};
  return com::ComPtr<_Command>(c->get());
}

}  // namespace ado
