// The users collection against the plain engines underneath it, each pair timed in the same
// iteration of the same run on 100,000 users: Init against a sqlite3 loop into structs, Item
// against std::unordered_map, SaveXML against libxml2 building the same elements, LoadXML against
// sqlite3 inserting the same rows in one transaction, and the resident memory a loaded user costs.
// The ratios are what matter; the absolute times move with the machine.
//
// The template Vodrik.ntt is taken from the folder of this program, where the build puts it. The
// 100,000 rows are written once per process.
#include <benchmark/benchmark.h>
#include <libxml/tree.h>
#include <malloc.h>
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/raw_sqlite.h"
#include "msxml_idl.h"
#include "platform/ado/jet.h"
#include "platform/com/bstr.h"
#include "platform/com/variant.h"
#include "platform/msxml/msxml.h"
#include "qvacom/accounts/users.h"
#include "qvacom/storage/database.h"

namespace {

constexpr int kRows = 100000;

// The Users columns in the order CQVAUser writes its attributes. Texts and dates travel as text
// (the raw side asks the engine for no date conversion); the rest as doubles.
enum class Kind { kText, kNumber };
struct Column {
  const char* column;
  const char* attribute;
  Kind kind;
};
constexpr Column kColumns[] = {
    {"Name", "Name", Kind::kText},
    {"FullName", "FullName", Kind::kText},
    {"Dep", "Dep", Kind::kText},
    {"Domain", "Domain", Kind::kText},
    {"RDN", "RDN", Kind::kText},
    {"AdsPath", "AdsPath", Kind::kText},
    {"Remarks", "Remarks", Kind::kText},
    {"Enable", "Enable", Kind::kNumber},
    {"EnableDate", "EnableDate", Kind::kText},
    {"Auth", "Auth", Kind::kNumber},
    {"UserType", "UserType", Kind::kNumber},
    {"LastTime", "LastTime", Kind::kText},
    {"LimitIP", "LimitIP", Kind::kNumber},
    {"Dirty", "Dirty", Kind::kNumber},
    {"AutoResume", "AutoResume", Kind::kNumber},
    {"ResumeTime", "ResumeTime", Kind::kNumber},
    {"CurIP", "CurIP", Kind::kText},
    {"LimitType", "LimitType", Kind::kNumber},
    {"ResetDate", "Resetdate", Kind::kText},
    {"ResetDate2", "Resetdate2", Kind::kText},
    {"TimeLimit", "TimeLimit", Kind::kNumber},
    {"TimeLeft", "TimeLeft", Kind::kNumber},
    {"TimeQuotaPeriod", "TimeQuotaPeriod", Kind::kNumber},
    {"BytesLimit", "BytesLimit", Kind::kNumber},
    {"BytesLeft", "BytesLeft", Kind::kNumber},
    {"BytesQuotaPeriod", "BytesQuotaPeriod", Kind::kNumber},
    {"AllTimeLimit", "AllTimeLimit", Kind::kNumber},
    {"AllTimeLeft", "AllTimeLeft", Kind::kNumber},
    {"AllTimeFrom", "AllTimeFrom", Kind::kText},
    {"AllBytesLimit", "AllBytesLimit", Kind::kNumber},
    {"AllBytesLeft", "AllBytesLeft", Kind::kNumber},
    {"AllBytesFrom", "AllBytesFrom", Kind::kText},
    {"CheckFee", "CheckFee", Kind::kNumber},
    {"FeeLimit", "FeeLimit", Kind::kNumber},
    {"FeeLeft", "FeeLeft", Kind::kNumber},
    {"FeeStop", "FeeStop", Kind::kNumber},
    {"DateLimit", "DateLimit", Kind::kText},
    {"FeeOption", "FeeOption", Kind::kNumber},
    {"FeeByOutBytes", "FeeByOutBytes", Kind::kNumber},
    {"FeeByAllBytes", "FeeByAllBytes", Kind::kNumber},
    {"FeeByTime", "FeeByTime", Kind::kNumber},
};
constexpr size_t kColumnCount = std::size(kColumns);
constexpr size_t kTextCount = 15;
constexpr size_t kNumberCount = kColumnCount - kTextCount;
static_assert(std::count_if(std::begin(kColumns), std::end(kColumns),
                            [](const Column& c) { return c.kind == Kind::kText; }) == kTextCount);

// One user as the raw side holds it: the columns of kColumns, texts and numbers each in that order.
struct RawUser {
  std::array<std::string, kTextCount> texts;
  std::array<double, kNumberCount> numbers{};
};

std::string ColumnList() {
  std::string out;
  for (const Column& c : kColumns) out += (out.empty() ? "" : ", ") + std::string("[") + c.column + "]";
  return out;
}

std::string InsertStatement() {
  std::string marks;
  for (size_t i = 0; i < kColumnCount; ++i) marks += i ? ", ?" : "?";
  return "INSERT INTO Users (" + ColumnList() + ") VALUES (" + marks + ")";
}

// Binds `user` to `insert` (made from InsertStatement) and runs it; aborts on any failure.
void InsertRow(sqlite3_stmt* insert, const RawUser& user) {
  size_t text = 0, number = 0;
  for (size_t i = 0; i < kColumnCount; ++i) {
    const int at = static_cast<int>(i) + 1;
    if (kColumns[i].kind == Kind::kText) {
      const std::string& value = user.texts[text++];
      sqlite3_bind_text(insert, at, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
    } else {
      sqlite3_bind_double(insert, at, user.numbers[number++]);
    }
  }
  if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
  sqlite3_reset(insert);
}

// The generated user number i: distinct lower-case names (Init lower-cases them anyway), every
// column filled.
RawUser MakeUser(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "user%06d", i);
  RawUser u;
  u.texts = {name,
             std::string("Full Name ") + name,
             "Dep" + std::to_string(i % 50),
             "WORKGROUP",
             std::string("CN=") + name,
             std::string("LDAP://CN=") + name + ",DC=example",
             std::string("remarks of ") + name,
             "2024-01-01",
             "2011-08-06 13:05:09",
             "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250),
             "2024-02-01",
             "2024-03-01",
             "2024-04-01",
             "2024-05-01",
             "2030-12-31"};
  u.numbers = {1, 0,    1,    0,    0,   0, 0,   0,     3600.5, 1800.25, 1,   1e9,  5e8,
               1, 7200, 7000, 1e10, 9e9, 0, 100, 12.25, 0,      0,       0.5, 0.25, 0.75};
  return u;
}

// A copy of the template holding kRows users, made once per run and removed at exit, and a
// folder for the fresh empty copies the write benchmarks need.
class UsersFile {
 public:
  UsersFile() {
    template_ = bench::ProgramFolder() / "Vodrik.ntt";
    dir_ = std::filesystem::temp_directory_path() / ("qva-users-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    path_ = Fresh("Vodrik_e.ntf");
    sqlite3* db = bench::OpenRaw(path_);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(db, InsertStatement().c_str(), -1, &insert, nullptr) != SQLITE_OK) std::abort();
    for (int i = 0; i < kRows; ++i) InsertRow(insert, MakeUser(i));
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  ~UsersFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  UsersFile(const UsersFile&) = delete;
  UsersFile& operator=(const UsersFile&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // A copy of the file holding the kRows users, named `name` in the run's folder.
  std::filesystem::path FullCopy(const std::string& name) const {
    const std::filesystem::path out = dir_ / name;
    std::filesystem::copy_file(path_, out, std::filesystem::copy_options::overwrite_existing);
    return out;
  }
  // A fresh copy of the (empty) template named `name` in the run's folder, replacing any before.
  std::filesystem::path Fresh(const std::string& name) const {
    const std::filesystem::path out = dir_ / name;
    std::filesystem::copy_file(template_, out, std::filesystem::copy_options::overwrite_existing);
    return out;
  }

 private:
  std::filesystem::path template_, dir_, path_;
};

const UsersFile& File() {
  static UsersFile file;
  return file;
}

com::ComPtr<qva::CQVADataBase> Open(const std::filesystem::path& path) {
  auto db = com::CreateObject<qva::CQVADataBase>();
  if (!db || FAILED((*db)->OpenAccess(com::Bstr(path.string()).get()))) std::abort();
  return *db;
}

com::ComPtr<qva::CQVAUsers> InitUsers(IQVADataBase* db) {
  auto users = com::CreateObject<qva::CQVAUsers>();
  if (!users || FAILED((*users)->Init(db))) std::abort();
  return *users;
}


std::vector<RawUser> ReadRaw() {
  std::vector<RawUser> users;
  sqlite3* db = bench::OpenRaw(File().path(), SQLITE_OPEN_READONLY);
  sqlite3_stmt* s = nullptr;
  const std::string select = "SELECT " + ColumnList() + " FROM Users ORDER BY FullName";
  if (sqlite3_prepare_v2(db, select.c_str(), -1, &s, nullptr) != SQLITE_OK) std::abort();
  while (sqlite3_step(s) == SQLITE_ROW) {
    RawUser u;
    size_t text = 0, number = 0;
    for (size_t i = 0; i < kColumnCount; ++i) {
      const int at = static_cast<int>(i);
      if (kColumns[i].kind == Kind::kText) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, at));
        if (p) u.texts[text].assign(p, static_cast<size_t>(sqlite3_column_bytes(s, at)));
        ++text;
      } else {
        u.numbers[number++] = sqlite3_column_double(s, at);
      }
    }
    users.push_back(std::move(u));
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return users;
}

// What several benchmarks start from, made on first use: the users read both ways, and a DOM
// document holding them all (SaveXML's output, LoadXML's input).
struct Loaded {
  com::ComPtr<qva::CQVADataBase> db = Open(File().path());
  com::ComPtr<qva::CQVAUsers> users = InitUsers(db.get());
  std::vector<RawUser> raw = ReadRaw();
};
const Loaded& Shared() {
  static Loaded loaded;
  return loaded;
}

com::ComPtr<IXMLDOMDocument> NewDocument() {
  com::ComPtr<IXMLDOMDocument> document;
  VARIANT_BOOL ok = VARIANT_FALSE;
  if (FAILED(msxml::CreateDocument(document.put())) ||
      FAILED(document->loadXML(com::Bstr(std::string_view("<Vodrik/>")).get(), &ok)) || !ok)
    std::abort();
  return document;
}

const com::ComPtr<IXMLDOMDocument>& SavedDocument() {
  static const com::ComPtr<IXMLDOMDocument> document = [] {
    com::ComPtr<IXMLDOMDocument> d = NewDocument();
    if (FAILED(Shared().users->SaveXML(d.get()))) std::abort();
    return d;
  }();
  return document;
}

// Wall-clock and process CPU seconds spent in the calls given to Add, summed.
class Stopwatch {
 public:
  template <class F>
  void Add(F&& f) {
    const auto w0 = Clock::now();
    const double c0 = CpuSeconds();
    f();
    cpu_ += CpuSeconds() - c0;
    wall_ += std::chrono::duration<double>(Clock::now() - w0).count();
  }
  double wall() const { return wall_; }
  double cpu() const { return cpu_; }

 private:
  using Clock = std::chrono::steady_clock;
  static double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  }
  double wall_ = 0, cpu_ = 0;
};

// The collection's time over the raw side's (by CPU, steady on a busy machine, and by the wall
// clock) and each side's mean wall time per iteration in milliseconds.
void Report(benchmark::State& state, const Stopwatch& raw, const Stopwatch& ours) {
  const double n = static_cast<double>(state.iterations());
  state.counters["ratio_cpu"] = ours.cpu() / raw.cpu();
  state.counters["ratio_wall"] = ours.wall() / raw.wall();
  state.counters["ours_ms"] = ours.wall() / n * 1e3;
  state.counters["raw_ms"] = raw.wall() / n * 1e3;
}

// Both sides open the file and read every row; the collection makes a CQVAUser per row.
void BM_InitOverRawSqlite(benchmark::State& state) {
  File();
  Stopwatch raw, ours;
  for (auto _ : state) {
    raw.Add([] { benchmark::DoNotOptimize(ReadRaw()); });
    ours.Add([] {
      const com::ComPtr<qva::CQVADataBase> db = Open(File().path());
      benchmark::DoNotOptimize(InitUsers(db.get()));
    });
  }
  Report(state, raw, ours);
}

// A million look-ups on each side; the counters are per look-up. Keys are spread evenly over the
// list by a fixed sequence, so both sides see the same keys in the same order.
void BM_ItemOverUnorderedMap(benchmark::State& state) {
  constexpr int kMapLookups = 1000000;
  const Loaded& loaded = Shared();
  std::unordered_map<std::string, const RawUser*> map;
  for (const RawUser& u : loaded.raw) map.emplace(u.texts[0], &u);
  std::vector<std::string> keys;
  std::vector<com::Variant> variants;
  // A working set of range(1) users: 4,096 stays in the caches, all 100,000 does not.
  uint32_t seed = 12345;
  for (int64_t i = 0; i < state.range(1); ++i) {
    seed = seed * 1664525u + 1013904223u;
    keys.push_back(loaded.raw[(seed >> 8) % loaded.raw.size()].texts[0]);
    variants.push_back(com::Variant::Str(keys.back()));
  }
  const auto item_lookups = static_cast<int>(state.range(0));
  Stopwatch raw, ours;
  for (auto _ : state) {
    raw.Add([&] {
      for (int i = 0; i < kMapLookups; ++i) {
        auto it = map.find(keys[static_cast<size_t>(i) % keys.size()]);
        if (it == map.end()) std::abort();
        benchmark::DoNotOptimize(it->second);
      }
    });
    ours.Add([&] {
      for (int i = 0; i < item_lookups; ++i) {
        com::ComPtr<IQVAUser> user;
        if (loaded.users->Item(variants[static_cast<size_t>(i) % variants.size()], user.put()) != S_OK) std::abort();
      }
    });
  }
  const double n = static_cast<double>(state.iterations());
  const double ours_ns = ours.wall() / (n * item_lookups) * 1e9, raw_ns = raw.wall() / (n * kMapLookups) * 1e9;
  state.counters["ours_ns_per_lookup"] = ours_ns;
  state.counters["raw_ns_per_lookup"] = raw_ns;
  state.counters["ratio_wall_per_lookup"] = ours_ns / raw_ns;
  state.counters["ratio_cpu_per_lookup"] =
      (ours.cpu() / (n * item_lookups)) / (raw.cpu() / (n * static_cast<double>(kMapLookups)));
}

std::string NumberText(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

// libxml2 building what SaveXML builds: a Users section after "\n\t", and in it "\n\t\t" and a
// User element with every attribute, per user. Numbers are formatted here, as SaveXML must.
void WriteRawXml(xmlDocPtr doc, const std::vector<RawUser>& users) {
  xmlNodePtr root = xmlDocGetRootElement(doc);
  xmlAddChild(root, xmlNewText(BAD_CAST "\n\t"));
  xmlNodePtr section = xmlNewChild(root, nullptr, BAD_CAST "Users", nullptr);
  for (const RawUser& u : users) {
    xmlAddChild(section, xmlNewText(BAD_CAST "\n\t\t"));
    xmlNodePtr element = xmlNewChild(section, nullptr, BAD_CAST "User", nullptr);
    size_t text = 0, number = 0;
    for (const Column& c : kColumns) {
      if (c.kind == Kind::kText) {
        xmlNewProp(element, BAD_CAST c.attribute, BAD_CAST u.texts[text++].c_str());
      } else {
        xmlNewProp(element, BAD_CAST c.attribute, BAD_CAST NumberText(u.numbers[number++]).c_str());
      }
    }
  }
}

// Only the writing is timed: both documents are made fresh (<Vodrik/>) and freed outside it.
void BM_SaveXmlOverLibxml2(benchmark::State& state) {
  const Loaded& loaded = Shared();
  Stopwatch raw, ours;
  for (auto _ : state) {
    state.PauseTiming();
    xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
    xmlDocSetRootElement(doc, xmlNewNode(nullptr, BAD_CAST "Vodrik"));
    com::ComPtr<IXMLDOMDocument> document = NewDocument();
    state.ResumeTiming();
    raw.Add([&] { WriteRawXml(doc, loaded.raw); });
    ours.Add([&] {
      if (FAILED(loaded.users->SaveXML(document.get()))) std::abort();
    });
    state.PauseTiming();
    xmlFreeDoc(doc);
    document = nullptr;
    state.ResumeTiming();
  }
  Report(state, raw, ours);
}

// LoadXML of the saved kRows users against sqlite3 inserting the same rows in one transaction.
// Into an empty table (state.range(0) == 0): the collection holds nothing. Over a full one (1):
// the collection holds the same kRows users, whose rows it deletes by name one statement each
// before inserting, and the raw side deletes every row first; this shows that the per-name
// deletes do not scan the table each.
void BM_LoadXml(benchmark::State& state) {
  const bool full = state.range(0) != 0;
  const Loaded& loaded = Shared();
  const com::ComPtr<IXMLDOMDocument>& document = SavedDocument();
  const std::string insert_text = InsertStatement();
  const auto copy = [&](const std::string& name) { return full ? File().FullCopy(name) : File().Fresh(name); };
  Stopwatch raw, ours;
  for (auto _ : state) {
    state.PauseTiming();
    sqlite3* db = bench::OpenRaw(copy("raw.ntf"));
    com::ComPtr<qva::CQVADataBase> database = Open(copy("ours.ntf"));
    com::ComPtr<qva::CQVAUsers> users = InitUsers(database.get());
    state.ResumeTiming();
    raw.Add([&] {
      sqlite3_stmt* insert = nullptr;
      if (sqlite3_exec(db, full ? "BEGIN; DELETE FROM Users" : "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK ||
          sqlite3_prepare_v2(db, insert_text.c_str(), -1, &insert, nullptr) != SQLITE_OK)
        std::abort();
      for (const RawUser& u : loaded.raw) InsertRow(insert, u);
      sqlite3_finalize(insert);
      if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    });
    ours.Add([&] {
      if (const HRESULT hr = users->LoadXML(document.get()); hr != S_OK) {
        std::fprintf(stderr, "LoadXML: %08x\n", static_cast<unsigned>(hr));
        std::abort();
      }
    });
    state.PauseTiming();
    sqlite3_close(db);
    users = nullptr;
    database = nullptr;
    state.ResumeTiming();
  }
  Report(state, raw, ours);
}

// Resident bytes of the process; statm's second field is in pages.
double ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Bytes the heap holds in use, by malloc's count.
double HeapInUse() { return static_cast<double>(mallinfo2().uordblks); }

// Growth per user across an Init of kRows users, and the same for the raw structs: the heap in
// use (what the loaded objects hold) and the resident size once freed heap is returned to the
// system (what the process keeps). The database is opened first, so the growth is the items'
// (plus the engine's bounded page cache). Runs before the other benchmarks so the heap is not
// already grown.
void BM_ResidentBytesPerUser(benchmark::State& state) {
  File();
  for (auto _ : state) {
    const com::ComPtr<qva::CQVADataBase> db = Open(File().path());
    malloc_trim(0);
    const double before = ResidentBytes(), heap_before = HeapInUse();
    const com::ComPtr<qva::CQVAUsers> users = InitUsers(db.get());
    malloc_trim(0);
    const double after = ResidentBytes(), heap_after = HeapInUse();
    const double raw_before = ResidentBytes(), raw_heap_before = HeapInUse();
    const std::vector<RawUser> raw = ReadRaw();
    malloc_trim(0);
    const double raw_after = ResidentBytes(), raw_heap_after = HeapInUse();
    state.counters["ours_bytes_per_user"] = (after - before) / kRows;
    state.counters["raw_bytes_per_user"] = (raw_after - raw_before) / kRows;
    state.counters["ours_heap_per_user"] = (heap_after - heap_before) / kRows;
    state.counters["raw_heap_per_user"] = (raw_heap_after - raw_heap_before) / kRows;
    state.counters["ratio"] = (after - before) / (raw_after - raw_before);
  }
}

BENCHMARK(BM_ResidentBytesPerUser)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InitOverRawSqlite)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ItemOverUnorderedMap)->ArgNames({"lookups", "keys"})->Args({1000000, 4096})->Args({1000000, kRows})->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveXmlOverLibxml2)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadXml)->ArgName("over_full")->Arg(0)->Arg(1)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
