// Every statement text of the account tables and the named sets, filled the way their objects
// fill them and run on a copy of the embedded-database template: an INSERT puts each value in the
// column its list names, every load finds the row, an UPDATE changes its keyed row and no other,
// a DELETE removes it.
#include "qvacom/accounts/statements.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/com/bstr.h"
#include "platform/com/variant.h"
#include "qvacom/policy/statements.h"
#include "qvacom/storage/sql_text.h"
#include "tests/support/temp_dir.h"

namespace qva {
namespace {

using com::Bstr;
using com::ComPtr;
using com::Variant;

// One column's sample value: how a statement writes it and what the row must read back.
struct Value {
  enum Kind { kText, kInt, kDouble, kDay, kStamp } kind;
  std::string text;
  double number = 0;  // integer, double or DATE
};
using Row = std::map<std::string, Value>;  // by column name
using Columns = std::vector<std::pair<const char*, Value::Kind>>;

// A row with a different value in every column (texts holding a single quote), so that a value
// written under the wrong column, or a quote that breaks its literal, cannot go unseen. Rows of
// different seeds share no value.
Row Sample(const Columns& columns, int seed) {
  constexpr DATE k2011_08_06 = 40761.0;
  constexpr DATE kTimeOfDay = (13 * 3600 + 5 * 60 + 9) / 86400.0;  // 13:05:09
  Row row;
  int n = seed * 100;
  for (const auto& [column, kind] : columns) {
    ++n;
    Value v{kind, {}, 0};
    switch (kind) {
      case Value::kText:
        v.text = std::string(column) + " o'" + std::to_string(n);
        break;
      case Value::kInt:
        v.number = n;
        break;
      case Value::kDouble:
        v.number = n + 0.25;
        break;
      case Value::kDay:
        v.number = k2011_08_06 + n;
        break;
      case Value::kStamp:
        v.number = k2011_08_06 + n + kTimeOfDay;
        break;
    }
    row.emplace(column, std::move(v));
  }
  return row;
}

// The values of one row as a statement's arguments. The texts it hands out live as long as it.
class Args {
 public:
  explicit Args(const Row& row) : row_(row) {}
  // A text for '%s'.
  const char* s(const char* column) { return Keep(sql::Escape(At(column, Value::kText).text)); }
  int d(const char* column) { return static_cast<int>(At(column, Value::kInt).number); }
  double f(const char* column) { return At(column, Value::kDouble).number; }
  // A date for '%s'.
  const char* day(const char* column) {
    return Keep(sql::FormatDate(At(column, Value::kDay).number, sql::kDateFormat));
  }
  // A date and time for a bare %s, between the delimiters of the embedded database.
  const char* stamp(const char* column) {
    return Keep("#" + sql::FormatDate(At(column, Value::kStamp).number, sql::kDateTimeFormat) + "#");
  }

 private:
  const Value& At(const char* column, Value::Kind kind) {
    static const Value kMissing{Value::kText, {}, 0};
    auto it = row_.find(column);
    EXPECT_TRUE(it != row_.end() && it->second.kind == kind) << "no sample of that kind for " << column;
    return it != row_.end() ? it->second : kMissing;
  }
  const char* Keep(std::string text) { return kept_.emplace_back(std::move(text)).c_str(); }

  const Row& row_;
  std::deque<std::string> kept_;
};

const Columns kAccountColumns = {
    {"Name", Value::kText},
    {"FullName", Value::kText},
    {"Dep", Value::kText},
    {"Domain", Value::kText},
    {"RDN", Value::kText},
    {"AdsPath", Value::kText},
    {"Remarks", Value::kText},
    {"CurIP", Value::kText},
    {"IP", Value::kText},
    {"Group", Value::kText},
    {"CurUser", Value::kText},
    {"AdsType", Value::kInt},
    {"Enable", Value::kInt},
    {"Auth", Value::kInt},
    {"UserType", Value::kInt},
    {"Dirty", Value::kInt},
    {"LimitIP", Value::kInt},
    {"AutoResume", Value::kInt},
    {"ResumeTime", Value::kInt},
    {"LimitType", Value::kInt},
    {"TimeQuotaPeriod", Value::kInt},
    {"BytesQuotaPeriod", Value::kInt},
    {"CheckFee", Value::kInt},
    {"FeeOption", Value::kInt},
    {"LimitTypeDefault", Value::kInt},
    {"TimeQuotaPeriodDefault", Value::kInt},
    {"BytesQuotaPeriodDefault", Value::kInt},
    {"TimeLimit", Value::kDouble},
    {"TimeLeft", Value::kDouble},
    {"BytesLimit", Value::kDouble},
    {"BytesLeft", Value::kDouble},
    {"AllTimeLimit", Value::kDouble},
    {"AllTimeLeft", Value::kDouble},
    {"AllBytesLimit", Value::kDouble},
    {"AllBytesLeft", Value::kDouble},
    {"FeeLimit", Value::kDouble},
    {"FeeLeft", Value::kDouble},
    {"FeeStop", Value::kDouble},
    {"FeeByOutBytes", Value::kDouble},
    {"FeeByAllBytes", Value::kDouble},
    {"FeeByTime", Value::kDouble},
    {"TimeLimitDefault", Value::kDouble},
    {"BytesLimitDefault", Value::kDouble},
    {"AllTimeLimitDefault", Value::kDouble},
    {"AllBytesLimitDefault", Value::kDouble},
    {"EnableDate", Value::kDay},
    {"ResetDate", Value::kDay},
    {"ResetDate2", Value::kDay},
    {"AllTimeFrom", Value::kDay},
    {"AllBytesFrom", Value::kDay},
    {"DateLimit", Value::kDay},
    {"AllTimeFromDefault", Value::kDay},
    {"AllBytesFromDefault", Value::kDay},
    {"DateLimitDefault", Value::kDay},
    {"LastTime", Value::kStamp},
};
const Columns kFeeColumns = {{"Name", Value::kText}, {"Date", Value::kStamp}, {"FeeAdd", Value::kDouble}};
const Columns kLimitIPColumns = {{"Name", Value::kText}, {"StartIP", Value::kText}, {"EndIP", Value::kText}};

using Statement = std::function<std::string(Args&)>;

// The INSERT and UPDATE of departments and groups take the same values.
std::string DepOrGroupInsert(const char* format, Args& a) {
  return sql::Format(
      format, a.s("Name"), a.d("AdsType"), a.s("AdsPath"), a.s("Remarks"), a.d("Enable"), a.day("EnableDate"),
      a.d("Auth"), a.d("Dirty"), a.d("LimitType"), a.day("ResetDate"), a.day("ResetDate2"), a.f("TimeLimit"),
      a.f("TimeLeft"), a.d("TimeQuotaPeriod"), a.f("BytesLimit"), a.f("BytesLeft"), a.d("BytesQuotaPeriod"),
      a.f("AllTimeLimit"), a.f("AllTimeLeft"), a.day("AllTimeFrom"), a.f("AllBytesLimit"), a.f("AllBytesLeft"),
      a.day("AllBytesFrom"), a.day("DateLimit"), a.d("LimitTypeDefault"), a.f("TimeLimitDefault"),
      a.d("TimeQuotaPeriodDefault"), a.f("BytesLimitDefault"), a.d("BytesQuotaPeriodDefault"),
      a.f("AllTimeLimitDefault"), a.day("AllTimeFromDefault"), a.f("AllBytesLimitDefault"),
      a.day("AllBytesFromDefault"), a.day("DateLimitDefault"), a.d("CheckFee"), a.f("FeeLimit"), a.f("FeeLeft"),
      a.f("FeeStop"), a.d("FeeOption"), a.f("FeeByOutBytes"), a.f("FeeByAllBytes"), a.f("FeeByTime"));
}
std::string DepOrGroupUpdate(const char* format, Args& a) {
  return sql::Format(format, a.s("Name"), a.s("Remarks"), a.d("Enable"), a.day("EnableDate"), a.d("Auth"), a.d("Dirty"),
                     a.d("LimitType"), a.day("ResetDate"), a.day("ResetDate2"), a.f("TimeLimit"), a.f("TimeLeft"),
                     a.d("TimeQuotaPeriod"), a.f("BytesLimit"), a.f("BytesLeft"), a.d("BytesQuotaPeriod"),
                     a.f("AllTimeLimit"), a.f("AllTimeLeft"), a.day("AllTimeFrom"), a.f("AllBytesLimit"),
                     a.f("AllBytesLeft"), a.day("AllBytesFrom"), a.day("DateLimit"), a.d("LimitTypeDefault"),
                     a.f("TimeLimitDefault"), a.d("TimeQuotaPeriodDefault"), a.f("BytesLimitDefault"),
                     a.d("BytesQuotaPeriodDefault"), a.f("AllTimeLimitDefault"), a.day("AllTimeFromDefault"),
                     a.f("AllBytesLimitDefault"), a.day("AllBytesFromDefault"), a.day("DateLimitDefault"),
                     a.d("CheckFee"), a.f("FeeLimit"), a.f("FeeLeft"), a.f("FeeStop"), a.d("FeeOption"),
                     a.f("FeeByOutBytes"), a.f("FeeByAllBytes"), a.f("FeeByTime"), a.s("Name"));
}

// How one table's statements are filled and what they must do.
struct Case {
  std::string label;
  Columns columns;
  // The columns that find the object's row: its UPDATE and DELETE keys.
  std::vector<const char*> key;
  // The loads: statement texts, or bare table names (no blank in them).
  std::vector<const char*> loads;
  Statement insert, update, remove;  // update empty: the table has none
  // Columns the UPDATE leaves as the INSERT wrote them.
  std::vector<const char*> kept_by_update;
};

std::vector<Case> AccountCases() {
  std::vector<Case> cases;
  const EntityStatements& users = kUserStatements;
  cases.push_back({
      .label = "Users",
      .columns = kAccountColumns,
      .key = {"Name"},
      .loads = {users.select, users.reload},
      .insert =
          [](Args& a) {
            return sql::Format(kUserStatements.insert, a.s("Name"), a.s("FullName"), a.s("Dep"), a.s("Domain"),
                               a.s("RDN"), a.s("AdsPath"), a.s("Remarks"), a.d("Enable"), a.day("EnableDate"),
                               a.d("Auth"), a.d("UserType"), a.stamp("LastTime"), a.d("Dirty"), a.d("LimitIP"),
                               a.d("AutoResume"), a.d("ResumeTime"), a.s("CurIP"), a.d("LimitType"), a.day("ResetDate"),
                               a.day("ResetDate2"), a.f("TimeLimit"), a.f("TimeLeft"), a.d("TimeQuotaPeriod"),
                               a.f("BytesLimit"), a.f("BytesLeft"), a.d("BytesQuotaPeriod"), a.f("AllTimeLimit"),
                               a.f("AllTimeLeft"), a.day("AllTimeFrom"), a.f("AllBytesLimit"), a.f("AllBytesLeft"),
                               a.day("AllBytesFrom"), a.day("DateLimit"), a.d("CheckFee"), a.f("FeeLimit"),
                               a.f("FeeLeft"), a.f("FeeStop"), a.d("FeeOption"), a.f("FeeByOutBytes"),
                               a.f("FeeByAllBytes"), a.f("FeeByTime"));
          },
      .update =
          [](Args& a) {
            return sql::Format(kUserStatements.update, a.s("Name"), a.s("FullName"), a.s("Dep"), a.s("Domain"),
                               a.s("RDN"), a.s("AdsPath"), a.s("Remarks"), a.d("Enable"), a.day("EnableDate"),
                               a.d("Auth"), a.d("UserType"), a.stamp("LastTime"), a.d("Dirty"), a.d("LimitIP"),
                               a.d("AutoResume"), a.d("ResumeTime"), a.s("CurIP"), a.d("LimitType"), a.day("ResetDate"),
                               a.day("ResetDate2"), a.f("TimeLimit"), a.f("TimeLeft"), a.d("TimeQuotaPeriod"),
                               a.f("BytesLimit"), a.f("BytesLeft"), a.d("BytesQuotaPeriod"), a.f("AllTimeLimit"),
                               a.f("AllTimeLeft"), a.day("AllTimeFrom"), a.f("AllBytesLimit"), a.f("AllBytesLeft"),
                               a.day("AllBytesFrom"), a.day("DateLimit"), a.d("CheckFee"), a.f("FeeLimit"),
                               a.f("FeeLeft"), a.f("FeeStop"), a.d("FeeOption"), a.f("FeeByOutBytes"),
                               a.f("FeeByAllBytes"), a.f("FeeByTime"), a.s("Name"));
          },
      .remove = [](Args& a) { return sql::Format(kUserStatements.remove, a.s("Name")); },
  });
  for (const EntityStatements* e : {&kDepStatements, &kGroupStatements}) {
    cases.push_back({
        .label = e->table,
        .columns = kAccountColumns,
        .key = {"Name"},
        .loads = {e->select, e->reload},
        .insert = [e](Args& a) { return DepOrGroupInsert(e->insert, a); },
        .update = [e](Args& a) { return DepOrGroupUpdate(e->update, a); },
        .remove = [e](Args& a) { return sql::Format(e->remove, a.s("Name")); },
        .kept_by_update = {"AdsType", "AdsPath"},
    });
  }
  const EntityStatements& computers = kComputerStatements;
  cases.push_back({
      .label = "Computers",
      .columns = kAccountColumns,
      .key = {"IP"},
      .loads = {computers.select, computers.reload},
      .insert =
          [](Args& a) {
            return sql::Format(kComputerStatements.insert, a.s("Name"), a.s("IP"), a.s("Group"), a.s("Remarks"),
                               a.d("Enable"), a.day("EnableDate"), a.d("Auth"), a.stamp("LastTime"), a.s("CurUser"),
                               a.d("Dirty"), a.d("LimitType"), a.day("ResetDate"), a.day("ResetDate2"),
                               a.f("TimeLimit"), a.f("TimeLeft"), a.d("TimeQuotaPeriod"), a.f("BytesLimit"),
                               a.f("BytesLeft"), a.d("BytesQuotaPeriod"), a.f("AllTimeLimit"), a.f("AllTimeLeft"),
                               a.day("AllTimeFrom"), a.f("AllBytesLimit"), a.f("AllBytesLeft"), a.day("AllBytesFrom"),
                               a.day("DateLimit"), a.d("CheckFee"), a.f("FeeLimit"), a.f("FeeLeft"), a.f("FeeStop"),
                               a.d("FeeOption"), a.f("FeeByOutBytes"), a.f("FeeByAllBytes"), a.f("FeeByTime"));
          },
      .update =
          [](Args& a) {
            return sql::Format(
                kComputerStatements.update, a.s("Name"), a.s("IP"), a.s("Group"), a.s("Remarks"), a.d("Enable"),
                a.day("EnableDate"), a.d("Auth"), a.stamp("LastTime"), a.s("CurUser"), a.d("Dirty"), a.d("LimitType"),
                a.day("ResetDate"), a.day("ResetDate2"), a.f("TimeLimit"), a.f("TimeLeft"), a.d("TimeQuotaPeriod"),
                a.f("BytesLimit"), a.f("BytesLeft"), a.d("BytesQuotaPeriod"), a.f("AllTimeLimit"), a.f("AllTimeLeft"),
                a.day("AllTimeFrom"), a.f("AllBytesLimit"), a.f("AllBytesLeft"), a.day("AllBytesFrom"),
                a.day("DateLimit"), a.d("CheckFee"), a.f("FeeLimit"), a.f("FeeLeft"), a.f("FeeStop"), a.d("FeeOption"),
                a.f("FeeByOutBytes"), a.f("FeeByAllBytes"), a.f("FeeByTime"), a.s("IP"));
          },
      .remove = [](Args& a) { return sql::Format(kComputerStatements.remove, a.s("IP")); },
  });
  for (const EntityStatements& fee : kFeeStatements) {
    const EntityStatements* e = &fee;
    cases.push_back({
        .label = e->table,
        .columns = kFeeColumns,
        .key = {"Name", "Date"},
        .loads = {e->select},
        .insert = [e](Args& a) { return sql::Format(e->insert, a.s("Name"), a.stamp("Date"), a.f("FeeAdd")); },
        .update =
            [e](Args& a) {
              return sql::Format(e->update, a.s("Name"), a.stamp("Date"), a.f("FeeAdd"), a.s("Name"), a.stamp("Date"));
            },
        .remove = [e](Args& a) { return sql::Format(e->remove, a.s("Name")); },
    });
  }
  cases.push_back({
      .label = "LimitIP",
      .columns = kLimitIPColumns,
      .key = {"Name", "StartIP", "EndIP"},
      .loads = {kLimitIPStatements.select},
      .insert =
          [](Args& a) { return sql::Format(kLimitIPStatements.insert, a.s("Name"), a.s("StartIP"), a.s("EndIP")); },
      .remove =
          [](Args& a) { return sql::Format(kLimitIPStatements.remove, a.s("Name"), a.s("StartIP"), a.s("EndIP")); },
  });
  return cases;
}

std::vector<Case> NamedSetCases() {
  std::vector<Case> cases;
  for (const NamedSetStatements& set : kNamedSets) {
    const NamedSetStatements* e = &set;
    Case c{.label = e->table, .key = {"Name"}, .loads = {e->select}};
    c.columns = {{"Name", Value::kText}, {e->value_columns[0], Value::kText}, {"Remarks", Value::kText}};
    if (e->value_columns[1]) {
      c.columns.push_back({e->value_columns[1], Value::kText});
      c.insert = [e](Args& a) {
        return sql::Format(e->insert, a.s("Name"), a.s(e->value_columns[0]), a.s(e->value_columns[1]), a.s("Remarks"));
      };
      c.update = [e](Args& a) {
        return sql::Format(e->update, a.s("Name"), a.s(e->value_columns[0]), a.s(e->value_columns[1]), a.s("Remarks"),
                           a.s("Name"));
      };
    } else {
      c.insert = [e](Args& a) { return sql::Format(e->insert, a.s("Name"), a.s(e->value_columns[0]), a.s("Remarks")); };
      c.update = [e](Args& a) {
        return sql::Format(e->update, a.s("Name"), a.s(e->value_columns[0]), a.s("Remarks"), a.s("Name"));
      };
    }
    c.remove = [e](Args& a) { return sql::Format(e->remove, a.s("Name")); };
    cases.push_back(std::move(c));
  }
  return cases;
}

// Whether a field read back holds the sample value.
::testing::AssertionResult Holds(const VARIANT& got, const Value& want) {
  switch (want.kind) {
    case Value::kText:
      if (got.vt == VT_BSTR && com::BstrToUtf8(got.bstrVal) == want.text) return ::testing::AssertionSuccess();
      break;
    case Value::kInt:
      if ((got.vt == VT_I2 && got.iVal == want.number) || (got.vt == VT_I4 && got.lVal == want.number))
        return ::testing::AssertionSuccess();
      break;
    case Value::kDouble:
      if (got.vt == VT_R8 && got.dblVal == want.number) return ::testing::AssertionSuccess();
      break;
    case Value::kDay:
    case Value::kStamp:
      // Compared as text to the second: the DATE read back need not be the same double.
      if (got.vt == VT_DATE &&
          sql::FormatDate(got.date, sql::kDateTimeFormat) == sql::FormatDate(want.number, sql::kDateTimeFormat))
        return ::testing::AssertionSuccess();
      break;
  }
  Variant text;
  const bool printable = VariantChangeType(&text, &got, 0, VT_BSTR) == S_OK;
  return ::testing::AssertionFailure() << "read vt " << got.vt << " '"
                                       << (printable ? com::BstrToUtf8(text.bstrVal) : "?") << "', want '"
                                       << (want.kind == Value::kText ? want.text : std::to_string(want.number)) << "'";
}

using StoredRow = std::map<std::string, Variant>;  // a row read back, by column name

class StatementsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::filesystem::path file = dir_.path() / "Vodrik_e.ntf";
    std::filesystem::copy_file(std::filesystem::path(QVA_TEMPLATE_DIR) / "Vodrik.ntt", file);
    auto c = ado::CreateConnection();
    ASSERT_TRUE(c.ok());
    conn_ = *c;
    // As the database object opens a Jet file.
    ASSERT_EQ(conn_->put_CommandTimeout(0), S_OK);
    ASSERT_EQ(conn_->put_ConnectionTimeout(0), S_OK);
    const std::string connection_string = sql::Format(
        "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%s;Jet OLEDB:Database Password=KestrelGate;"
        "Persist Security Info=False",
        file.c_str());
    ASSERT_EQ(conn_->Open(Variant::Str(connection_string), Variant::Str(""), Variant::Str(""), -1), S_OK)
        << LastError();
  }

  static std::string LastError() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return "(no error information)";
    Bstr description;
    info->GetDescription(description.put());
    return description.utf8();
  }

  // As the database object's Execute runs a statement.
  void Execute(const std::string& sql) {
    ASSERT_EQ(conn_->put_CursorLocation(adUseClient), S_OK);
    EXPECT_EQ(conn_->Execute(Bstr(sql).get(), Variant(), adExecuteNoRecords, nullptr), S_OK) << sql << "\n"
                                                                                             << LastError();
  }

  // Every row of a load, opened as the loaders open it: a static client cursor, optimistic
  // locking and the text left for the provider to tell apart (adCmdUnknown). A bare table name is
  // opened as a table instead: the ADO stand-in takes an adCmdUnknown text as SQL only.
  std::vector<StoredRow> Load(const char* load) {
    std::vector<StoredRow> rows;
    auto made = ado::CreateRecordset();
    EXPECT_TRUE(made.ok());
    if (!made.ok()) return rows;
    ComPtr<_Recordset> rs = *made;
    EXPECT_EQ(rs->put_CursorType(adOpenStatic), S_OK);
    EXPECT_EQ(rs->put_CursorLocation(adUseClient), S_OK);
    const bool table = std::string_view(load).find(' ') == std::string_view::npos;
    const HRESULT hr = rs->Open(Variant::Str(load), Variant::Dispatch(conn_.get()), adOpenStatic, adLockOptimistic,
                                table ? adCmdTable : adCmdUnknown);
    EXPECT_EQ(hr, S_OK) << load << "\n" << LastError();
    if (hr != S_OK) return rows;
    ComPtr<Fields> fields;
    EXPECT_EQ(rs->get_Fields(fields.put()), S_OK);
    LONG count = 0;
    EXPECT_EQ(fields->get_Count(&count), S_OK);
    for (VARIANT_BOOL eof = VARIANT_FALSE; rs->get_EOF(&eof) == S_OK && eof == VARIANT_FALSE; rs->MoveNext()) {
      StoredRow& row = rows.emplace_back();
      for (LONG i = 0; i < count; ++i) {
        ComPtr<Field> field;
        Bstr name;
        Variant value;
        EXPECT_EQ(fields->get_Item(Variant::I4(i), field.put()), S_OK);
        EXPECT_EQ(field->get_Name(name.put()), S_OK);
        EXPECT_EQ(field->get_Value(value.put()), S_OK);
        row.emplace(name.utf8(), std::move(value));
      }
    }
    return rows;
  }

  // The rows of the load whose key columns hold the sample's key.
  std::vector<StoredRow> Find(const Case& c, const char* load, const Row& sample) {
    std::vector<StoredRow> found;
    for (StoredRow& row : Load(load)) {
      bool match = true;
      for (const char* column : c.key) match = match && row.count(column) && Holds(row.at(column), sample.at(column));
      if (match) found.push_back(std::move(row));
    }
    return found;
  }

  // Every load finds the sample's row once, and every column of the table holds the sample's
  // value (the identity column of users and departments aside).
  void ExpectStored(const Case& c, const Row& sample) {
    for (const char* load : c.loads) {
      SCOPED_TRACE(load);
      const std::vector<StoredRow> rows = Find(c, load, sample);
      ASSERT_EQ(rows.size(), 1u);
      for (const auto& [column, value] : rows[0]) {
        if (column == "id") continue;
        auto want = sample.find(column);
        ASSERT_NE(want, sample.end()) << "the statements leave column " << column << " unwritten";
        EXPECT_TRUE(Holds(value, want->second)) << column;
      }
    }
  }

  void ExpectAbsent(const Case& c, const Row& sample) {
    for (const char* load : c.loads) EXPECT_TRUE(Find(c, load, sample).empty()) << load;
  }

  std::string Fill(const Statement& statement, const Row& row) {
    Args args(row);
    return statement(args);
  }

  qva::testing::TempDir dir_;
  ComPtr<_Connection> conn_;
};

TEST_F(StatementsTest, EveryStatementRunsOnTheEmbeddedDatabaseAndTouchesOnlyItsRow) {
  std::vector<Case> cases = AccountCases();
  for (Case& c : NamedSetCases()) cases.push_back(std::move(c));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Row row = Sample(c.columns, 1);
    const Row other = Sample(c.columns, 2);  // another object of the same table, with another key
    Row changed = Sample(c.columns, 3);      // the object after an edit: its key stays
    for (const char* column : c.key) changed.at(column) = row.at(column);

    Execute(Fill(c.insert, other));
    Execute(Fill(c.insert, row));
    ExpectStored(c, row);
    ExpectStored(c, other);

    Row updated = row;
    if (c.update) {
      Execute(Fill(c.update, changed));
      updated = changed;
      for (const char* column : c.kept_by_update) updated.at(column) = row.at(column);
      ExpectStored(c, updated);
      ExpectStored(c, other);
    }

    Execute(Fill(c.remove, updated));
    ExpectAbsent(c, updated);
    ExpectStored(c, other);
    Execute(Fill(c.remove, other));
    ExpectAbsent(c, other);
  }
}

}  // namespace
}  // namespace qva
