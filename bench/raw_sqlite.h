// What the benchmarks' raw sides share: the folder of the program (where the build puts the
// templates) and a plain sqlite3 connection to a copy of the embedded database's template. The
// template's text columns, and the indexes on them, use the collation Chinese_PRC_CI_AS, which
// every connection that writes or compares them must know.
#pragma once

#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/ado/jet.h"

namespace bench {

inline std::filesystem::path ProgramFolder() {
  char exe[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  return n > 0 ? std::filesystem::path(exe).parent_path() : std::filesystem::path(".");
}

inline int ChinesePrcCiAs(void*, int a_size, const void* a, int b_size, const void* b) {
  return ado::jet::CompareChinesePrcCiAs(std::string_view(static_cast<const char*>(a), static_cast<size_t>(a_size)),
                                         std::string_view(static_cast<const char*>(b), static_cast<size_t>(b_size)));
}

// Aborts when the file cannot be opened: a benchmark has nothing to measure then.
inline sqlite3* OpenRaw(const std::filesystem::path& path, int flags = SQLITE_OPEN_READWRITE) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK ||
      sqlite3_create_collation(db, "Chinese_PRC_CI_AS", SQLITE_UTF8, nullptr, &ChinesePrcCiAs) != SQLITE_OK)
    std::abort();
  return db;
}

}  // namespace bench
