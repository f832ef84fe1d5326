// The commands. Each takes the words after its command name and the options that belong to it,
// works on the array, prints its result to standard output and returns the exit code; a failure
// is thrown (automation.h) and reported by main.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tools/vodrikctl/automation.h"

namespace vodrikctl {

struct Invocation {
  std::vector<std::string> words;        // after the command name ("list", "alice", ...)
  std::vector<std::string> assignments;  // --set Prop=Value, in order
  std::string priority;                  // --priority N (rules add)
  bool json = false;
  // File names are this machine's (offline, or the service on this machine): relative ones are
  // made absolute here, since the service does not share this process's working folder.
  bool local_files = true;
};

// Lookups of a name that is absent end with this code (sysexits' "user unknown").
inline constexpr int kExitNoSuchItem = 67;  // EX_NOUSER
// Input that is well formed but cannot be applied (an existing name, an ambiguous change).
inline constexpr int kExitBadData = 65;  // EX_DATAERR

// A failure that ends with `exit_code` rather than the one its HRESULT maps to.
struct Refusal {
  int exit_code;
  std::string message;
};

// Every command's help text by command name ("users", "sets", "rules", ...); the general usage
// for an empty or unknown name.
void PrintHelp(FILE* out, const std::string& command);

// True when `command` is handled by RunCommand.
bool IsCommand(const std::string& command);
// Needs the array only for commands that pass IsCommand.
int RunCommand(IDispatch* array, const std::string& command, const Invocation& invocation);

// Splits "Prop=Value" at the first '='; a UsageError when there is none or the name is empty.
std::pair<std::string, std::string> SplitAssignment(const std::string& text);

// Per area (collections.cc, rules.cc, settings.cc, transfer.cc, realtime.cc).
int RunAccounts(IDispatch* array, const std::string& command, const Invocation& invocation);
int RunSets(IDispatch* array, const Invocation& invocation);
int RunRules(IDispatch* array, const Invocation& invocation);
int RunSettings(IDispatch* array, const Invocation& invocation);
int RunTransfer(IDispatch* array, const std::string& command, const Invocation& invocation);
int RunRealtime(IDispatch* array, const Invocation& invocation);

}  // namespace vodrikctl
