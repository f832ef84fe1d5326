// A console on "another machine": vodrikctl runs in a network namespace of its own, joined to
// this one by a veth pair with private addresses, and administers the service over TCP with a
// login made by qva-add-login, as an administrator's console elsewhere on the network would.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/service/service_process.h"

namespace qva::testing {
namespace {

// iproute2's program.
std::string IpProgram() {
  for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
    if (access(path, X_OK) == 0) return path;
  return {};
}

class NetnsTest : public ServiceTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "making a network namespace needs root";
    ip_ = IpProgram();
    ASSERT_FALSE(ip_.empty()) << "iproute2's ip is missing (scripts/install-deps.sh installs it)";
    // Names and addresses of this run only: test processes of several builds run side by side.
    static std::atomic<int> runs{0};
    const std::string id = std::to_string(getpid()) + "x" + std::to_string(runs++);
    namespace_ = "qvans" + id;
    host_link_ = "qv" + id + "h";
    console_link_ = "qv" + id + "n";
    const unsigned block = static_cast<unsigned>(getpid()) % 16384;  // a /30 of 10.254.0.0/16
    const std::string prefix = "10.254." + std::to_string(block / 64) + ".";
    host_address_ = prefix + std::to_string(block % 64 * 4 + 1);
    const std::string console_address = prefix + std::to_string(block % 64 * 4 + 2);

    const Outcome made = Run(ip_, {"netns", "add", namespace_});
    if (made.exit_code != 0) GTEST_SKIP() << "no network namespace can be made here: " << made.err;
    made_namespace_ = true;
    const std::vector<std::vector<std::string>> steps = {
        {"link", "add", host_link_, "type", "veth", "peer", "name", console_link_},
        {"link", "set", console_link_, "netns", namespace_},
        {"addr", "add", host_address_ + "/30", "dev", host_link_},
        {"link", "set", host_link_, "up"},
        {"-n", namespace_, "addr", "add", console_address + "/30", "dev", console_link_},
        {"-n", namespace_, "link", "set", console_link_, "up"},
        {"-n", namespace_, "link", "set", "lo", "up"},
    };
    for (const auto& step : steps) {
      const Outcome o = Run(ip_, step);
      ASSERT_EQ(o.exit_code, 0) << "ip " << step[0] << " " << step[1] << ": " << o.err;
    }
  }

  void TearDown() override {
    if (service_ > 0) {
      kill(service_, SIGKILL);
      Wait(service_);
    }
    // The namespace takes its end of the pair with it, and that end its peer; the host's end is
    // deleted by itself for a set-up that failed before the move.
    if (made_namespace_) Run(ip_, {"netns", "del", namespace_});
    if (!ip_.empty() && !host_link_.empty()) Run(ip_, {"link", "del", host_link_});
  }

  std::string WritePassword(const std::string& name, const std::string& password) {
    const fs::path file = dir_.path() / name;
    std::ofstream(file, std::ios::trunc) << password << "\n";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    return file.string();
  }

  // vodrikctl in the namespace, against the service's TCP address.
  Outcome RemoteConsole(const std::vector<std::string>& connection, const std::vector<std::string>& command) {
    std::vector<std::string> args = {"netns", "exec", namespace_, QVA_CONSOLE, "--server", server_};
    args.insert(args.end(), connection.begin(), connection.end());
    args.insert(args.end(), command.begin(), command.end());
    return Run(ip_, args);
  }

  std::string ip_, namespace_, host_link_, console_link_, host_address_, server_;
  bool made_namespace_ = false;
  pid_t service_ = -1;
};

TEST_F(NetnsTest, AConsoleInAnotherNetworkNamespaceAdministersTheServiceOverTcp) {
  const fs::path base = dir_.path() / "base";
  fs::create_directory(base);
  const std::string logins = (dir_.path() / "logins").string();
  const std::string password = WritePassword("password", "n3t wörd");
  const Outcome added = Run(QVA_ADD_LOGIN, {logins, "admin", "CORP"}, password);
  ASSERT_EQ(added.exit_code, 0) << added.err;

  service_ = Start({"--base-folder", base.string(), "--listen-tcp", "0", "--logins", logins});
  ASSERT_GT(service_, 0);
  // The service names the port it was given once it listens.
  const std::string said = " and TCP port ";
  ASSERT_TRUE(WaitUntil(service_,
                        [&] {
                          const std::string out = ReadFile(out_);
                          const size_t at = out.find(said);
                          return at != std::string::npos && out.find('\n', at) != std::string::npos;
                        }))
      << ReadFile(err_) << ReadFile(out_);
  const std::string out = ReadFile(out_);
  server_ = host_address_ + ":" + std::to_string(std::stoi(out.substr(out.find(said) + said.size())));

  const std::vector<std::string> login = {"--user", "admin", "--domain", "CORP", "--password-file", password};
  const std::string exported = (dir_.path() / "accounts.xml").string();
  const struct {
    std::vector<std::string> command;
    std::string shown;  // expected in the standard output
  } steps[] = {
      {{"users", "add", "alice", "--set", "FullName=Alice Archer"}, ""},
      {{"users", "change", "alice", "--set", "TimeLimit=42.5"}, ""},
      {{"--json", "users", "list"}, "\"TimeLimit\": 42.5"},
      {{"settings", "set", "FirewallServer=fw.example"}, ""},
      {{"settings", "show", "FirewallServer"}, "fw.example\n"},
      {{"rules", "traffic", "add", "lan", "--priority", "3", "--set", "sValue=LAN"}, ""},
      {{"--json", "rules", "traffic", "list"}, "\"Name\": \"lan\""},
      {{"--json", "realtime", "users"}, "["},
      {{"export", exported}, ""},
      {{"users", "remove", "alice"}, ""},
      {{"import", exported}, ""},
      {{"--json", "users", "show", "alice"}, "\"FullName\": \"Alice Archer\""},
  };
  for (const auto& step : steps) {
    const Outcome o = RemoteConsole(login, step.command);
    SCOPED_TRACE(step.command[0] + " " + step.command[1]);
    EXPECT_EQ(o.exit_code, 0) << o.err;
    EXPECT_NE(o.out.find(step.shown), std::string::npos) << o.out;
  }
  EXPECT_NE(ReadFile(exported).find("Alice Archer"), std::string::npos);

  // Refusals. The wrong password comes last: it slows down this source's next login.
  const std::string wrong = WritePassword("wrong", "guess");
  const struct {
    const char* what;
    std::vector<std::string> connection;
  } refusals[] = {
      {"no identity over TCP", {}},
      {"wrong password", {"--user", "admin", "--domain", "CORP", "--password-file", wrong}},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.what);
    const Outcome o = RemoteConsole(r.connection, {"users", "list"});
    EXPECT_EQ(o.exit_code, EX_NOPERM) << o.err;
    EXPECT_NE(o.err.find("cannot connect to the service on " + server_ + ": code 0x80070005: access denied"),
              std::string::npos)
        << o.err;
    EXPECT_EQ(o.out, "");
  }

  ASSERT_EQ(kill(service_, SIGTERM), 0);
  EXPECT_EQ(Wait(service_), 0) << ReadFile(err_);
  service_ = -1;
}

}  // namespace
}  // namespace qva::testing
