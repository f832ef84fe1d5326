// Runs the built vodrikctl as a subprocess in a scratch folder: standard input from /dev/null, the
// outputs collected.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace qva::testing {

namespace fs = std::filesystem;

struct Outcome {
  int exit_code = -1;
  std::string out;
  std::string err;
};

inline std::string ReadFile(const fs::path& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

// Runs the program with `args`, standard input from /dev/null, the outputs into files.
// `extra_env` ("NAME=value") is added to the environment, whose QVA_ variables are dropped.
inline Outcome RunProgram(const fs::path& scratch, const std::vector<std::string>& args, const std::string& registry,
                          const std::vector<std::string>& extra_env = {}) {
  const fs::path out = scratch / "stdout", err = scratch / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, scratch.c_str());  // relative names land in `scratch`
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> env_text = {"QVA_REGISTRY=" + registry};
  env_text.insert(env_text.end(), extra_env.begin(), extra_env.end());
  for (char** e = environ; *e; ++e)
    if (!std::string_view(*e).starts_with("QVA_")) env_text.push_back(*e);
  std::vector<char*> env;
  for (std::string& e : env_text) env.push_back(e.data());
  env.push_back(nullptr);
  std::vector<std::string> argv_text = {VODRIKCTL};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  Outcome outcome;
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, VODRIKCTL, &actions, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot run " << VODRIKCTL;
    return outcome;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  outcome.out = ReadFile(out);
  outcome.err = ReadFile(err);
  return outcome;
}

inline std::string Describe(const std::vector<std::string>& args, const Outcome& o) {
  std::string text = "vodrikctl";
  for (const std::string& a : args) text += " " + a;
  return text + "\nexit " + std::to_string(o.exit_code) + "\nstdout:\n" + o.out + "stderr:\n" + o.err;
}

}  // namespace qva::testing
