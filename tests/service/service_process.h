// vodriksrv and its consoles as processes, for the service's tests: each test gets a folder of its
// own with a registry and a consoles' socket that no other test shares.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace qva::testing {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

// How a program that ran to its end ended.
struct Outcome {
  int exit_code = -1;  // -1 when it ended otherwise
  std::string out, err;
};

class ServiceTest : public ::testing::Test {
 protected:
  // Starts vodriksrv with `args`, its output going to files in the test folder, with a registry
  // of its own and, unless `base_env` is empty, QVA_BASE_FOLDER set.
  pid_t Start(const std::vector<std::string>& args, const std::string& base_env = "") {
    return Spawn(QVA_SERVICE, args, base_env, out_, err_);
  }

  // Runs `program` with `args` in this test's environment (as Spawn), standard input from the
  // file `in`, and waits for it.
  Outcome Run(const std::string& program, const std::vector<std::string>& args, const fs::path& in = "/dev/null") {
    const fs::path out = dir_.path() / "run.out", err = dir_.path() / "run.err";
    Outcome o;
    o.exit_code = Wait(Spawn(program, args, "", out, err, in));
    o.out = ReadFile(out);
    o.err = ReadFile(err);
    return o;
  }

  // Runs the command line console with `args` against this test's service (its registry and
  // socket) and waits for it: its exit code, and its standard output in *out.
  int Console(const std::vector<std::string>& args, std::string* out = nullptr) {
    const Outcome o = Run(QVA_CONSOLE, args);
    if (out) *out = o.out;
    if (o.exit_code != 0) ADD_FAILURE() << "vodrikctl exit code " << o.exit_code << ": " << o.err;
    return o.exit_code;
  }

  pid_t Spawn(const std::string& program, const std::vector<std::string>& args, const std::string& base_env,
              const fs::path& out, const fs::path& err, const fs::path& in = "/dev/null") {
    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      if (!entry.starts_with("QVA_REGISTRY=") && !entry.starts_with("QVA_BASE_FOLDER=") &&
          !entry.starts_with("QVA_REMOTE_SOCKET="))
        env_text.push_back(entry);
    }
    env_text.push_back("QVA_REGISTRY=" + (dir_.path() / "registry").string());
    // Each service of its own consoles' socket, so that tests running side by side do not meet.
    env_text.push_back("QVA_REMOTE_SOCKET=" + socket_.string());
    if (!base_env.empty()) env_text.push_back("QVA_BASE_FOLDER=" + base_env);
    std::vector<char*> env;
    for (std::string& e : env_text) env.push_back(e.data());
    env.push_back(nullptr);

    std::vector<std::string> argv_text = {program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), env.data()), 0) << program;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // The exit code, or -1 when the process ended otherwise.
  static int Wait(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Today's log of `base`.
  static std::string Log(const fs::path& base) {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char name[32];
    strftime(name, sizeof name, "%Y%m%d.log", &local);
    return ReadFile(base / "logs" / name);
  }

  // Polls `done` until it holds; false when the process `pid` ends first, or after two minutes
  // (a hung service must not hang the suite: it is killed then).
  static bool WaitUntil(pid_t pid, const std::function<bool()>& done) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (std::chrono::steady_clock::now() < give_up) {
      if (done()) return true;
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    return false;
  }

  // Waits until the log of `base` holds `line`.
  static bool WaitForLine(pid_t pid, const fs::path& base, const std::string& line) {
    return WaitUntil(pid, [&] { return Log(base).find(line) != std::string::npos; });
  }

  // Waits until the service listens for consoles (after its init line).
  bool WaitForConsoles(pid_t pid) {
    return WaitUntil(pid, [&] { return fs::exists(socket_); });
  }

  TempDir dir_;
  fs::path out_ = dir_.path() / "stdout", err_ = dir_.path() / "stderr";
  fs::path socket_ = dir_.path() / "qvacom.sock";
};

}  // namespace qva::testing
