// vodrikctl as its users meet it: the built program run as a subprocess, offline on a fresh base
// folder made from the build's templates, with a registry of its own.
#include <gtest/gtest.h>
#include <sysexits.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/tools/run_program.h"

namespace {

namespace fs = std::filesystem;
using qva::testing::Describe;
using qva::testing::Outcome;
using qva::testing::ReadFile;
using qva::testing::RunProgram;

// The row of a two-column table (PROPERTY VALUE) that shows `property`, or empty.
std::string TableValue(const std::string& table, const std::string& property) {
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with(property + " ")) continue;
    const size_t value = line.find_first_not_of(' ', property.size());
    return value == std::string::npos ? std::string() : line.substr(value);
  }
  return {};
}

class VodrikctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = dir_.path() / "base";
    fs::create_directories(base_);
    for (const char* name : {"vodrik_e.xmt", "Vodrik.ntt"})
      fs::copy_file(fs::path(QVA_TEMPLATE_DIR) / name, base_ / name);
  }

  Outcome Run(const std::vector<std::string>& args) { return RunProgram(dir_.path(), args, registry()); }

  // Offline on the test's base folder; the test is skipped when the array cannot start here.
  Outcome Offline(std::vector<std::string> args) {
    args.insert(args.begin(), {"--offline", base_.string()});
    Outcome o = Run(args);
    if (o.exit_code == EX_UNAVAILABLE && o.err.find("Init") != std::string::npos)
      skip_reason_ = "the array cannot complete Init in this tree: " + o.err;
    return o;
  }

  // Runs offline and expects `exit_code`; false (with the test failed or skipped) otherwise.
  bool Expect(const std::vector<std::string>& args, int exit_code, Outcome* outcome = nullptr) {
    Outcome o = Offline(args);
    if (outcome) *outcome = o;
    if (!skip_reason_.empty()) return false;
    EXPECT_EQ(o.exit_code, exit_code) << Describe(args, o);
    return o.exit_code == exit_code;
  }

  std::string registry() const { return (dir_.path() / "registry").string(); }

  qva::testing::TempDir dir_;
  fs::path base_;
  std::string skip_reason_;
};

#define EXPECT_RUN(args, code, outcome)                        \
  do {                                                         \
    if (!Expect(args, code, outcome)) {                        \
      if (!skip_reason_.empty()) GTEST_SKIP() << skip_reason_; \
      return;                                                  \
    }                                                          \
  } while (0)

// Mistakes found before any connection is tried, so they need no service and no base folder.
TEST_F(VodrikctlTest, CommandLineMistakesEndWithTheUsageCode) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"--frobnicate", "users", "list"},
      {"users", "list", "--server"},
      {"--password", "secret", "users", "list"},
      {"--offline", "/tmp", "--server", "host", "users", "list"},
  };
  for (const auto& args : cases) {
    const Outcome o = Run(args);
    EXPECT_EQ(o.exit_code, EX_USAGE) << Describe(args, o);
    EXPECT_FALSE(o.err.empty()) << Describe(args, o);
    EXPECT_TRUE(o.out.empty()) << Describe(args, o);
  }
}

TEST_F(VodrikctlTest, HelpNamesTheOfflineWarningAndEachCommandHasOne) {
  const Outcome general = Run({"--help"});
  EXPECT_EQ(general.exit_code, 0);
  EXPECT_NE(general.out.find("STOPPED"), std::string::npos) << general.out;
  for (const char* command : {"users", "sets", "rules", "settings", "export", "import-config", "realtime"}) {
    const Outcome o = Run({command, "--help"});
    EXPECT_EQ(o.exit_code, 0) << command;
    EXPECT_NE(o.out.find("usage: vodrikctl"), std::string::npos) << command << "\n" << o.out;
    EXPECT_NE(o.out, general.out) << command;
  }
}

TEST_F(VodrikctlTest, UnreachableServicesAndFoldersHaveTheirCodes) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
  };
  const fs::path empty = dir_.path() / "empty";
  fs::create_directories(empty);
  const std::vector<Case> cases = {
      {{"--server", "127.0.0.1:1", "users", "list"}, EX_UNAVAILABLE},
      {{"--offline", (dir_.path() / "missing").string(), "users", "list"}, EX_NOINPUT},
      {{"--offline", empty.string(), "users", "list"}, EX_NOINPUT},
      {{"--server", "127.0.0.1:1", "--user", "u", "--password-file", (dir_.path() / "none").string(), "users", "list"},
       EX_NOINPUT},
  };
  for (const Case& c : cases) {
    const Outcome o = Run(c.args);
    EXPECT_EQ(o.exit_code, c.exit_code) << Describe(c.args, o);
    EXPECT_NE(o.err.find("code 0x"), std::string::npos) << Describe(c.args, o);
  }
}

TEST_F(VodrikctlTest, UserAddedChangedShownAndRemoved) {
  Outcome o;
  EXPECT_RUN(
      (std::vector<std::string>{"users", "add", "alice", "--set", "FullName=Alice Archer", "--set", "BytesLimit=1000"}),
      0, &o);
  EXPECT_RUN((std::vector<std::string>{"users", "change", "alice", "--set", "BytesLimit=2048.5", "--set",
                                       "Remarks=line one\nline two"}),
             0, &o);

  // Each run is a process of its own: what it shows was read back from the database.
  EXPECT_RUN((std::vector<std::string>{"users", "show", "alice"}), 0, &o);
  EXPECT_EQ(TableValue(o.out, "Name"), "alice") << o.out;
  EXPECT_EQ(TableValue(o.out, "FullName"), "Alice Archer") << o.out;
  EXPECT_EQ(TableValue(o.out, "BytesLimit"), "2048.5") << o.out;
  EXPECT_EQ(TableValue(o.out, "Remarks"), "line one\\nline two") << o.out;  // shown escaped

  EXPECT_RUN((std::vector<std::string>{"--json", "users", "show", "alice"}), 0, &o);
  EXPECT_EQ(o.out.front(), '{') << o.out;
  EXPECT_NE(o.out.find("\"Name\": \"alice\""), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("\"BytesLimit\": 2048.5"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("\"Remarks\": \"line one\\nline two\""), std::string::npos) << o.out;

  EXPECT_RUN((std::vector<std::string>{"--json", "users", "list"}), 0, &o);
  EXPECT_NE(o.out.find("\"FullName\": \"Alice Archer\""), std::string::npos) << o.out;

  EXPECT_RUN((std::vector<std::string>{"users", "remove", "alice"}), 0, &o);
  EXPECT_RUN((std::vector<std::string>{"users", "show", "alice"}), 67, &o);  // EX_NOUSER
  EXPECT_NE(o.err.find("alice"), std::string::npos) << o.err;
}

TEST_F(VodrikctlTest, EveryKindOfAccountIsKeptTheSameWay) {
  struct Case {
    const char* command;
    const char* key;  // Name, or a computer's IP
    const char* property;
    const char* value;
  };
  const Case cases[] = {
      {"users", "frank", "FullName", "Frank F"},
      {"deps", "sales", "Remarks", "floor 2"},
      {"groups", "staff", "BytesLimit", "12.5"},
      {"computers", "10.1.2.3", "Name", "pc-3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    Outcome o;
    EXPECT_RUN((std::vector<std::string>{c.command, "add", c.key}), 0, &o);
    EXPECT_RUN((std::vector<std::string>{c.command, "change", c.key, "--set", std::string(c.property) + "=" + c.value}),
               0, &o);
    EXPECT_RUN((std::vector<std::string>{c.command, "show", c.key}), 0, &o);
    EXPECT_EQ(TableValue(o.out, c.property), c.value) << o.out;
    EXPECT_RUN((std::vector<std::string>{c.command, "remove", c.key}), 0, &o);
    EXPECT_RUN((std::vector<std::string>{c.command, "show", c.key}), 67, &o);
  }
}

TEST_F(VodrikctlTest, RefusedChangesLeaveTheUserAsItWas) {
  Outcome o;
  EXPECT_RUN((std::vector<std::string>{"users", "add", "bob", "--set", "BytesLimit=10"}), 0, &o);
  struct Case {
    std::vector<std::string> args;
    int exit_code;
  };
  const std::vector<Case> cases = {
      {{"users", "add", "bob"}, EX_DATAERR},  // exists
      {{"users", "change", "bob", "--set", "BytesLimit=5", "--set", "NoSuchProperty=1"}, EX_DATAERR},
      {{"users", "change", "bob", "--set", "BytesLimit=5", "--set", "LimitType=lots"}, EX_DATAERR},
      {{"users", "change", "carol", "--set", "BytesLimit=5"}, 67},  // unknown user
      {{"users", "change", "bob"}, EX_USAGE},                       // nothing to set
      {{"users", "remove", "carol"}, 67},
  };
  for (const Case& c : cases) EXPECT_RUN(c.args, c.exit_code, &o);
  EXPECT_RUN((std::vector<std::string>{"users", "show", "bob"}), 0, &o);
  EXPECT_EQ(TableValue(o.out, "BytesLimit"), "10") << o.out;
}

TEST_F(VodrikctlTest, ANewNameMovesTheUsersRow) {
  Outcome o;
  EXPECT_RUN((std::vector<std::string>{"users", "add", "dave", "--set", "FullName=Dave"}), 0, &o);
  EXPECT_RUN((std::vector<std::string>{"users", "change", "dave", "--set", "Name=david"}), 0, &o);
  EXPECT_RUN((std::vector<std::string>{"users", "show", "dave"}), 67, &o);
  EXPECT_RUN((std::vector<std::string>{"users", "show", "david"}), 0, &o);
  EXPECT_EQ(TableValue(o.out, "FullName"), "Dave") << o.out;
}

TEST_F(VodrikctlTest, ExportThenImportBringsRemovedItemsBack) {
  Outcome o;
  const std::string file = (dir_.path() / "export.xml").string();
  const std::string config = (dir_.path() / "config.xml").string();
  EXPECT_RUN((std::vector<std::string>{"users", "add", "erin", "--set", "FullName=Erin"}), 0, &o);
  EXPECT_RUN((std::vector<std::string>{"export", file}), 0, &o);
  EXPECT_RUN((std::vector<std::string>{"export-config", config}), 0, &o);
  EXPECT_NE(ReadFile(file).find("erin"), std::string::npos);
  EXPECT_NE(ReadFile(config).find("Vodrik"), std::string::npos);

  EXPECT_RUN((std::vector<std::string>{"users", "remove", "erin"}), 0, &o);
  EXPECT_RUN((std::vector<std::string>{"import", file}), 0, &o);
  EXPECT_RUN((std::vector<std::string>{"import-config", config}), 0, &o);
  EXPECT_RUN((std::vector<std::string>{"users", "show", "erin"}), 0, &o);
  EXPECT_EQ(TableValue(o.out, "FullName"), "Erin") << o.out;
  EXPECT_RUN((std::vector<std::string>{"import", (dir_.path() / "missing.xml").string()}), EX_NOINPUT, &o);
}

TEST_F(VodrikctlTest, ANamedSetIsEveryEntryOfItsName) {
  Outcome o;
  EXPECT_RUN((std::vector<std::string>{"sets", "applications", "add", "browsers", "--set", "App=firefox.exe"}), 0, &o);
  EXPECT_RUN((std::vector<std::string>{"sets", "applications", "add", "browsers", "--set", "App=chrome.exe"}), 0, &o);
  EXPECT_RUN((std::vector<std::string>{"--json", "sets", "applications", "show", "browsers"}), 0, &o);
  EXPECT_NE(o.out.find("firefox.exe"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("chrome.exe"), std::string::npos) << o.out;
  // One value over both entries would lose one: refused.
  EXPECT_RUN((std::vector<std::string>{"sets", "applications", "change", "browsers", "--set", "App=x"}), EX_DATAERR,
             &o);
  EXPECT_RUN((std::vector<std::string>{"sets", "applications", "remove", "browsers"}), 0, &o);
  EXPECT_RUN((std::vector<std::string>{"sets", "applications", "show", "browsers"}), 67, &o);
  EXPECT_RUN((std::vector<std::string>{"sets", "nosuchkind", "list"}), EX_USAGE, &o);
}

TEST_F(VodrikctlTest, SettingsAreSetAndShownByName) {
  Outcome o;
  EXPECT_RUN((std::vector<std::string>{"settings", "set", "FirewallServer=fw.example", "FirewallPassword=s3cret"}), 0,
             &o);
  EXPECT_RUN((std::vector<std::string>{"settings", "show", "FirewallServer"}), 0, &o);
  EXPECT_EQ(o.out, "fw.example\n");
  EXPECT_RUN((std::vector<std::string>{"--json", "settings", "show"}), 0, &o);
  EXPECT_NE(o.out.find("\"FirewallServer\": \"fw.example\""), std::string::npos) << o.out;
  EXPECT_EQ(o.out.find("s3cret"), std::string::npos) << "a listing masks passwords";
  EXPECT_RUN((std::vector<std::string>{"settings", "show", "FirewallPassword"}), 0, &o);
  EXPECT_EQ(o.out, "s3cret\n");
  EXPECT_RUN((std::vector<std::string>{"settings", "show", "NoSuchSetting"}), 67, &o);
}

TEST_F(VodrikctlTest, FilterRulesAreAddedAndRemovedByNum) {
  Outcome o;
  EXPECT_RUN((std::vector<std::string>{"rules", "traffic", "add", "lan", "--priority", "3", "--set", "sValue=LAN"}), 0,
             &o);
  EXPECT_RUN((std::vector<std::string>{"--json", "rules", "traffic", "list"}), 0, &o);
  const size_t at = o.out.find("\"Name\": \"lan\"");
  ASSERT_NE(at, std::string::npos) << o.out;
  const size_t num_at = o.out.find("\"Num\": ", at);
  ASSERT_NE(num_at, std::string::npos) << o.out;
  const std::string num = std::to_string(std::stoi(o.out.substr(num_at + 7)));
  EXPECT_RUN((std::vector<std::string>{"rules", "traffic", "show", num}), 0, &o);
  EXPECT_EQ(TableValue(o.out, "Priority"), "3") << o.out;
  EXPECT_EQ(TableValue(o.out, "sValue"), "LAN") << o.out;
  EXPECT_RUN((std::vector<std::string>{"rules", "traffic", "remove", num}), 0, &o);
  EXPECT_RUN((std::vector<std::string>{"rules", "traffic", "show", num}), 67, &o);
}

TEST_F(VodrikctlTest, AnEmptyRealTimeViewPrintsAnEmptyList) {
  Outcome o;
  EXPECT_RUN((std::vector<std::string>{"--json", "realtime", "users"}), 0, &o);
  EXPECT_EQ(o.out, "[]\n");
  EXPECT_RUN((std::vector<std::string>{"realtime", "nosuchview"}), EX_USAGE, &o);
}

}  // namespace
