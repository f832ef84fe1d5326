// vodrikctl: the administration command line of the accounting service.
//
//   vodrikctl [CONNECTION] [--json] COMMAND ...      (vodrikctl --help lists the commands)
//
// Parses the command line, reaches the array (connect.h), runs the command (commands.h) and
// turns what stopped it into a message on standard error and an exit code from sysexits.h.
#include <sysexits.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "platform/com/objbase.h"
#include "tools/vodrikctl/automation.h"
#include "tools/vodrikctl/commands.h"
#include "tools/vodrikctl/connect.h"

namespace {

using namespace vodrikctl;

int ExitCodeFor(HRESULT hr, bool connecting) {
  switch (static_cast<uint32_t>(hr)) {
    case 0x80070005:  // E_ACCESSDENIED
      return EX_NOPERM;
    case 0x80070003:  // the base folder (kNoBaseFolder)
      return EX_NOINPUT;
    case 0x800706BA:  // RPC_S_SERVER_UNAVAILABLE
    case 0x80010108:  // RPC_E_DISCONNECTED
    case 0x80040154:  // REGDB_E_CLASSNOTREG
    case 0x8007007E:  // ERROR_MOD_NOT_FOUND
      return EX_UNAVAILABLE;
    case 0x80020003:  // DISP_E_MEMBERNOTFOUND: no such property, or one that cannot be put
    case 0x80020006:  // DISP_E_UNKNOWNNAME
    case 0x80020005:  // DISP_E_TYPEMISMATCH
    case 0x8002000A:  // DISP_E_OVERFLOW
      return connecting ? EX_UNAVAILABLE : EX_DATAERR;
    default:
      return connecting ? EX_UNAVAILABLE : EX_SOFTWARE;
  }
}

// What a code means when the object gave no description of its own.
std::string Explain(HRESULT hr) {
  const auto code = static_cast<uint32_t>(hr);
  switch (code) {
    case 0x80070005:
      return "access denied";
    case 0x800706BA:
      return "the service cannot be reached (is vodriksrv running?)";
    case 0x80010108:
      return "the connection to the service was lost";
    case 0x80020006:
    case 0x80020003:
      return "no such property, or one that cannot be changed";
    case 0x80020005:
    case 0x8002000A:
      return "the value does not fit the property's type";
    default:
      break;
  }
  if ((code & 0xFFFFFF00u) == 0xC0040300u) return "a start-up step of the array failed (see logs/ in the base folder)";
  return {};
}

void Report(const Failure& failure) {
  std::string text = "vodrikctl: " + failure.what;
  char code[32];
  std::snprintf(code, sizeof code, ": code 0x%08X", static_cast<unsigned>(failure.hr));
  text += code;
  const std::string description = failure.description.empty() ? Explain(failure.hr) : failure.description;
  if (!description.empty()) text += ": " + description;
  std::fprintf(stderr, "%s\n", text.c_str());
}

int UsageFailure(const std::string& message, const std::string& command) {
  std::fprintf(stderr, "vodrikctl: %s\nTry 'vodrikctl %s--help'.\n", message.c_str(),
               command.empty() ? "" : (command + " ").c_str());
  return EX_USAGE;
}

struct CommandLine {
  ConnectOptions connection;
  std::string command;
  Invocation invocation;
  bool help = false;
};

// Options may stand anywhere; "--" ends them. Both "--opt value" and "--opt=value" are taken.
CommandLine Parse(int argc, char** argv) {
  CommandLine line;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
      continue;
    }
    if (!options || arg.empty() || arg[0] != '-' || arg == "-") {
      if (line.command.empty()) {
        line.command = arg;
      } else {
        line.invocation.words.push_back(arg);
      }
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      line.help = true;
      continue;
    }
    if (arg == "--json") {
      line.invocation.json = true;
      continue;
    }
    std::string name = arg, value;
    bool has_value = false;
    if (const size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      has_value = true;
    }
    std::string* target = nullptr;
    if (name == "--server") target = &line.connection.server;
    if (name == "--user") target = &line.connection.user;
    if (name == "--domain") target = &line.connection.domain;
    if (name == "--password-file") target = &line.connection.password_file;
    if (name == "--offline") target = &line.connection.offline;
    if (name == "--priority") target = &line.invocation.priority;
    if (name == "--password") throw UsageError{"a password is never taken from the command line: use --password-file"};
    if (!target && name != "--set") throw UsageError{"unknown option " + name};
    if (!has_value) {
      if (i + 1 >= argc) throw UsageError{name + " needs a value"};
      value = argv[++i];
    }
    if (target) {
      *target = value;
    } else {
      line.invocation.assignments.push_back(value);
    }
  }
  if (!line.connection.offline.empty() && !(line.connection.server.empty() && line.connection.user.empty() &&
                                            line.connection.domain.empty() && line.connection.password_file.empty()))
    throw UsageError{"--offline works without a service: it takes no --server, --user, --domain or --password-file"};
  line.invocation.local_files = line.connection.server.empty();
  return line;
}

// Connects and runs the command; the array is released before the apartment ends.
int Run(const CommandLine& line) {
  com::ComPtr<IQVAArray> array;
  try {
    array = Connect(line.connection);
  } catch (const Failure& failure) {
    Report(failure);
    return ExitCodeFor(failure.hr, true);
  }
  try {
    return RunCommand(array.get(), line.command, line.invocation);
  } catch (const Failure& failure) {
    Report(failure);
    return ExitCodeFor(failure.hr, false);
  }
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine line;
  try {
    line = Parse(argc, argv);
  } catch (const UsageError& error) {
    return UsageFailure(error.message, "");
  }
  if (line.help) {
    PrintHelp(stdout, IsCommand(line.command) ? line.command : std::string());
    return 0;
  }
  if (line.command.empty()) {
    PrintHelp(stderr, "");
    return EX_USAGE;
  }
  if (!IsCommand(line.command)) return UsageFailure("unknown command " + line.command, "");

  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::fprintf(stderr, "vodrikctl: cannot enter an apartment\n");
    return EX_OSERR;
  }
  int rc = EX_SOFTWARE;
  try {
    rc = Run(line);
  } catch (const UsageError& error) {
    rc = UsageFailure(error.message, line.command);
  } catch (const Refusal& refusal) {
    std::fprintf(stderr, "vodrikctl: %s\n", refusal.message.c_str());
    rc = refusal.exit_code;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vodrikctl: %s\n", error.what());
    rc = EX_SOFTWARE;
  }
  CoUninitialize();
  std::fflush(stdout);
  if (std::ferror(stdout)) {
    std::fprintf(stderr, "vodrikctl: writing the output failed\n");
    return EX_IOERR;
  }
  return rc;
}
