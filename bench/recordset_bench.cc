// Reading 100,000 Users rows through CRecordset's typed readers against a plain sqlite3 loop into
// structs, on the same file in the same run. The ratio is what matters: the wrapper (ADO objects,
// VARIANTs, UTF-16 round trips, a field lookup by name per value) costs a constant factor over
// the engine, and that factor must stay small enough for a full load at start-up.
//
// The template Vodrik.ntt is taken from the folder of this program, where the build puts it.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/raw_sqlite.h"
#include "platform/com/bstr.h"
#include "qvacom/storage/database.h"
#include "qvacom/storage/recordset.h"

namespace {

constexpr int kRows = 100000;
constexpr char kSelect[] = "Select Name, FullName, Dep, UserType, Enable, TimeLimit, FeeLeft, LastTime From Users";

struct User {
  std::string name, full_name, dep;
  LONG user_type = 0, enable = 0;
  double time_limit = 0, fee_left = 0;
  qva::DateWithStatus last_time;
};

// A copy of the template holding kRows users, made once per run and removed at exit.
class UsersFile {
 public:
  UsersFile() {
    dir_ = std::filesystem::temp_directory_path() / ("qva-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    path_ = dir_ / "Vodrik_e.ntf";
    std::filesystem::copy_file(bench::ProgramFolder() / "Vodrik.ntt", path_,
                               std::filesystem::copy_options::overwrite_existing);
    sqlite3* db = bench::OpenRaw(path_);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO Users (Name, FullName, Dep, UserType, Enable, TimeLimit, FeeLeft, LastTime) "
                       "VALUES (?, ?, 'Sales', 1, 1, 3600.5, 12.25, '2011-08-06 13:05:09')",
                       -1, &insert, nullptr);
    for (int i = 0; i < kRows; ++i) {
      const std::string name = "user" + std::to_string(i);
      sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 2, ("Full Name " + name).c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  ~UsersFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path dir_, path_;
};

const UsersFile& File() {
  static UsersFile file;
  return file;
}

std::string Text(sqlite3_stmt* s, int i) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
  return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(s, i))) : std::string();
}

std::vector<User> ReadRaw() {
  std::vector<User> users;
  sqlite3* db = bench::OpenRaw(File().path(), SQLITE_OPEN_READONLY);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, kSelect, -1, &s, nullptr);
  while (sqlite3_step(s) == SQLITE_ROW) {
    User u;
    u.name = Text(s, 0);
    u.full_name = Text(s, 1);
    u.dep = Text(s, 2);
    u.user_type = sqlite3_column_int(s, 3);
    u.enable = sqlite3_column_int(s, 4);
    u.time_limit = sqlite3_column_double(s, 5);
    u.fee_left = sqlite3_column_double(s, 6);
    u.last_time = {0.0, qva::DateStatus::kValid};  // the engine hands text; no conversion asked of it
    users.push_back(std::move(u));
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return users;
}

std::vector<User> ReadThroughCRecordset() {
  std::vector<User> users;
  auto db = com::CreateObject<qva::CQVADataBase>();
  if (!db || FAILED((*db)->OpenAccess(com::Bstr(File().path().string()).get()))) std::abort();
  com::ComPtr<IUnknown> unknown;
  com::ComPtr<_Connection> connection;
  (*db)->get_Connection(unknown.put());
  if (FAILED(unknown.As(&connection))) std::abort();
  qva::CRecordset rs(connection.get());
  if (!rs.OpenStatement(nullptr, kSelect, qva::CRecordset::kText)) std::abort();
  VARIANT_BOOL eof = VARIANT_FALSE;
  while (SUCCEEDED(rs.recordset()->get_EOF(&eof)) && !eof) {
    User u;
    rs.GetString("Name", &u.name);
    rs.GetString("FullName", &u.full_name);
    rs.GetString("Dep", &u.dep);
    rs.GetLong("UserType", &u.user_type);
    rs.GetLong("Enable", &u.enable);
    rs.GetDouble("TimeLimit", &u.time_limit);
    rs.GetDouble("FeeLeft", &u.fee_left);
    rs.GetDate("LastTime", &u.last_time);
    users.push_back(std::move(u));
    qva::PumpMessages();
    rs.recordset()->MoveNext();
  }
  return users;
}

void BM_RawSqlite(benchmark::State& state) {
  File();
  for (auto _ : state) benchmark::DoNotOptimize(ReadRaw());
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_RawSqlite)->Unit(benchmark::kMillisecond);

void BM_CRecordset(benchmark::State& state) {
  File();
  for (auto _ : state) benchmark::DoNotOptimize(ReadThroughCRecordset());
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_CRecordset)->Unit(benchmark::kMillisecond);

// Both readers, one after the other, in each iteration; the counters are CRecordset's time over
// the raw loop's, summed over the iterations: by the process's CPU time (steady on a busy
// machine) and by the wall clock.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_RatioCRecordsetOverRaw(benchmark::State& state) {
  File();
  using Clock = std::chrono::steady_clock;
  std::chrono::duration<double> raw_wall{}, wrapped_wall{};
  double raw_cpu = 0, wrapped_cpu = 0;
  for (auto _ : state) {
    const auto w0 = Clock::now();
    const double c0 = CpuSeconds();
    benchmark::DoNotOptimize(ReadRaw());
    const auto w1 = Clock::now();
    const double c1 = CpuSeconds();
    benchmark::DoNotOptimize(ReadThroughCRecordset());
    const auto w2 = Clock::now();
    const double c2 = CpuSeconds();
    raw_wall += w1 - w0;
    wrapped_wall += w2 - w1;
    raw_cpu += c1 - c0;
    wrapped_cpu += c2 - c1;
  }
  state.counters["ratio_cpu"] = wrapped_cpu / raw_cpu;
  state.counters["ratio_wall"] = wrapped_wall.count() / raw_wall.count();
}
BENCHMARK(BM_RatioCRecordsetOverRaw)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
