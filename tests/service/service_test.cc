// vodriksrv as a process: start in a fresh folder, stop on a signal, and the command-line errors.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "tests/service/service_process.h"

namespace qva::testing {
namespace {

class StopSignalTest : public ServiceTest, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignalTest, StartsInAFreshFolderAndStopsCleanly) {
  const fs::path base = dir_.path() / "base";
  fs::create_directory(base);
  const pid_t pid = Start({"--base-folder", base.string()});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForLine(pid, base, ", NORMAL, Vodrik server running.\r\n"))
      << ReadFile(err_) << ReadFile(out_) << Log(base);
  ASSERT_EQ(kill(pid, GetParam()), 0);
  EXPECT_EQ(Wait(pid), 0) << ReadFile(err_);

  const std::string log = Log(base);
  EXPECT_EQ(log.find(", NORMAL, Vodrik server init.\r\n"), 17u) << log;
  EXPECT_NE(log.find(", NORMAL, Vodrik server init finished.\r\n"), std::string::npos);
  EXPECT_TRUE(log.ends_with(", NORMAL, Vodrik server stopped.\r\n")) << log;
  for (const char* made : {"vodrik_e.xml", "Vodrik_e.ntf", "vodrik_e.xmt", "Vodrik.ntt"})
    EXPECT_TRUE(fs::is_regular_file(base / made)) << made;
  // The library and both components were registered in the service's registry.
  const std::string registry = ReadFile(dir_.path() / "registry");
  for (const char* clsid : {"3FB85A50-2E17-4E7C-BC72-DAE077D4BC63", "656FECE1-7D0C-4137-BEFB-9D243A38682D",
                            "8C843748-580C-413D-86BC-218A30142DEC"})
    EXPECT_NE(registry.find(clsid), std::string::npos) << clsid;
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest, ::testing::Values(SIGTERM, SIGINT));

TEST_F(ServiceTest, TakesTheBaseFolderFromTheEnvironment) {
  const fs::path base = dir_.path() / "from-env";
  fs::create_directory(base);
  const pid_t pid = Start({}, base.string());
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForLine(pid, base, "Vodrik server running")) << ReadFile(err_);
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_EQ(Wait(pid), 0);
}

TEST_F(ServiceTest, KeepsServingWithoutADatabase) {
  const fs::path base = dir_.path() / "base";
  fs::create_directories(base / "Vodrik_e.ntf");  // a folder the embedded engine cannot open
  const pid_t pid = Start({"--base-folder", base.string()});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitForLine(pid, base, ", WARN, Vodrik server running without a database.\r\n")) << ReadFile(err_);
  EXPECT_NE(Log(base).find(", WARN, Can not connect to database.\r\n"), std::string::npos);
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_EQ(Wait(pid), 0);
}

TEST_F(ServiceTest, FailedInitEndsWithAConfigurationError) {
  const fs::path base = dir_.path() / "base";
  fs::create_directories(base);
  std::ofstream(base / "vodrik_e.xml") << "not a settings document";
  const pid_t pid = Start({"--base-folder", base.string()});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(Wait(pid), EX_CONFIG);
  EXPECT_NE(ReadFile(err_).find("0xC0040300"), std::string::npos) << ReadFile(err_);
  EXPECT_NE(Log(base).find(", ERROR, Vodrik server init failed with code 0xC0040300.\r\n"), std::string::npos);
}

TEST_F(ServiceTest, HelpAndCommandLineErrors) {
  const std::string file = (dir_.path() / "plain-file").string();
  std::ofstream(file) << "x";
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* message;  // expected in stdout (code 0) or stderr
  };
  const Case cases[] = {
      {{"--help"}, 0, "usage: vodriksrv"},
      {{"-h"}, 0, "--base-folder DIR"},
      {{"--base-folder", (dir_.path() / "missing").string()}, EX_NOINPUT, "does not exist"},
      {{"--base-folder", file}, EX_NOINPUT, "is not a folder"},
      {{"--verbose"}, EX_USAGE, "unexpected argument --verbose"},
      {{"--base-folder"}, EX_USAGE, "unexpected argument --base-folder"},
      {{"--help"}, 0, "--max-connections N"},
      {{"--help"}, 0, "--login-time SECONDS"},
      {{"--max-connections", "0"}, EX_USAGE, "--max-connections takes a number from 1 to 65536, not 0"},
      {{"--max-connections", "lots"}, EX_USAGE, "not lots"},
      {{"--max-connections"}, EX_USAGE, "unexpected argument --max-connections"},
      {{"--help"}, 0, "--max-pending-per-source N"},
      {{"--max-pending-per-source", "65537"}, EX_USAGE, "--max-pending-per-source takes a number from 1 to 65536"},
      {{"--max-pending-per-source", "0x8"}, EX_USAGE, "not 0x8"},
      {{"--login-time", "-5"}, EX_USAGE, "--login-time takes seconds from 1 to 3600, not -5"},
      {{"--login-time", "10s"}, EX_USAGE, "not 10s"},
  };
  for (const Case& c : cases) {
    const pid_t pid = Start(c.args);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(Wait(pid), c.code) << c.args[0];
    const std::string text = ReadFile(c.code == 0 ? out_ : err_);
    EXPECT_NE(text.find(c.message), std::string::npos) << c.args[0] << ": " << text;
  }
}

// A console, run as a person would run it, changes a user of the running service; the change is in
// the database and is still there after the service restarts.
TEST_F(ServiceTest, AConsoleChangeReachesTheDatabaseAndSurvivesARestart) {
  const fs::path base = dir_.path() / "base";
  fs::create_directory(base);
  pid_t pid = Start({"--base-folder", base.string()});
  ASSERT_TRUE(WaitForLine(pid, base, "Vodrik server running.") && WaitForConsoles(pid)) << ReadFile(err_);
  ASSERT_EQ(Console({"users", "add", "alice", "--set", "FullName=Alice Archer"}), 0);
  ASSERT_EQ(Console({"users", "change", "alice", "--set", "TimeLimit=42.5"}), 0);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((base / "Vodrik_e.ntf").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* rows = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT Name, FullName, TimeLimit FROM Users", -1, &rows, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(rows), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(rows, 0)), "alice");
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(rows, 1)), "Alice Archer");
  EXPECT_EQ(sqlite3_column_double(rows, 2), 42.5);
  EXPECT_EQ(sqlite3_step(rows), SQLITE_DONE);
  sqlite3_finalize(rows);
  sqlite3_close(db);

  ASSERT_EQ(kill(pid, SIGTERM), 0);
  ASSERT_EQ(Wait(pid), 0) << ReadFile(err_);
  pid = Start({"--base-folder", base.string()});
  ASSERT_TRUE(WaitForLine(pid, base, "Vodrik server stopped.") && WaitForConsoles(pid)) << ReadFile(err_);
  std::string shown;
  EXPECT_EQ(Console({"--json", "users", "show", "alice"}, &shown), 0);
  EXPECT_NE(shown.find("\"FullName\": \"Alice Archer\""), std::string::npos) << shown;
  EXPECT_NE(shown.find("\"TimeLimit\": 42.5"), std::string::npos) << shown;
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_EQ(Wait(pid), 0) << ReadFile(err_);
}

TEST_F(ServiceTest, RefusesAFolderItCannotWrite) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  const fs::path base = dir_.path() / "read-only";
  fs::create_directory(base);
  chmod(base.c_str(), 0555);
  const pid_t pid = Start({"--base-folder", base.string()});
  EXPECT_EQ(Wait(pid), EX_CANTCREAT);
  chmod(base.c_str(), 0755);
  EXPECT_NE(ReadFile(err_).find("is not writable"), std::string::npos);
}

}  // namespace
}  // namespace qva::testing
