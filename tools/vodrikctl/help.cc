#include <cstring>

#include "tools/vodrikctl/commands.h"

namespace vodrikctl {
namespace {

constexpr const char* kGeneral = R"(usage: vodrikctl [CONNECTION] [--json] COMMAND ...
Administers the accounting service: accounts, named sets, filter rules, settings, the
configuration files and the real-time views.

Commands (each has --help):
  users|deps|groups|computers list|show|add|change|remove   accounts
  sets KIND list|show|add|change|remove                     named sets
  rules TYPE list|show|add|remove                           filter rules
  settings show [Prop] | settings set Prop=Value...         system settings
  export FILE | import FILE                                 accounts and named sets as XML
  export-config FILE | import-config FILE                   settings and filter rules as XML
  realtime VIEW                                             current records of a real-time view

Connection (default: the service on this machine, as this user):
  --server HOST         the service on HOST ("host", "host:port", "[v6addr]:port")
  --user USER           log in as USER; the password is asked for on the terminal (no echo)
  --domain DOMAIN       the login's domain
  --password-file FILE  read the password from the first line of FILE (never give it as an
                        argument); needed with --user when standard input is not a terminal
  --offline FOLDER      no service: work in process on the base folder FOLDER of a STOPPED
                        service. Never use it while the service runs on that folder: the
                        service would not see the changes, and its own saves would undo them.

Output: aligned tables, or with --json one JSON value whose keys are the property names.
Errors go to standard error with the code in hex and the object's description.
Exit codes: 0 done, 64 usage, 65 data not accepted (unknown property, bad value, existing
name), 66 missing input file or base folder, 67 no such item, 69 service or array unavailable,
70 other failure, 77 access denied.
)";

constexpr const char* kAccounts = R"(usage: vodrikctl users|deps|groups|computers ACTION ...
  list                                 every account (table: a summary; --json: every property)
  show NAME                            every property of one account
  add NAME [--set Prop=Value ...]      a new account, saved at once; refused when NAME exists
  change NAME --set Prop=Value ...     changes properties and saves; a new Name (computers: IP)
                                       moves the account's row to the new name
  remove NAME                          deletes the account
NAME is the account's Name; for computers it is the IP address. Names are case-sensitive.
Values are coerced to the property's type: numbers in the "C" form (1.5), dates as YYYY-MM-DD
or "YYYY-MM-DD HH:MM:SS", booleans as true/false. Property names are those `show` prints.
)";

constexpr const char* kSets = R"(usage: vodrikctl sets KIND ACTION ...
KIND: applications, categories, destaddrs, filetypes, ports, protocols, rules, signatures,
threats. A named set is every entry of one Name: each entry holds one value and Remarks.
  list                                 every entry
  show NAME                            the entries of NAME
  add NAME [--set Prop=Value ...]      adds an entry to NAME (e.g. --set App=firefox.exe)
  change NAME --set Prop=Value ...     changes the entry of NAME (refused when NAME has several)
  remove NAME                          removes every entry of NAME
)";

constexpr const char* kRules = R"(usage: vodrikctl rules TYPE ACTION ...
TYPE: default, traffic, urltrace, file, block, real-default, real-traffic, real-urltrace,
real-file, real-block, warn, query, malware, real-malware, nis, real-nis.
  list                                             the rules of TYPE (in evaluation order)
  show NUM                                         one rule, by its Num
  add NAME [--priority N] [--set Prop=Value ...]   a new rule (e.g. --set RuleType=2
                                                   --set ConditionType=8 --set sValue=LAN)
  remove NUM                                       removes the rule with Num NUM
Rules are written into the settings file at once.
)";

constexpr const char* kSettings = R"(usage: vodrikctl settings show [Prop]
       vodrikctl settings set Prop=Value [Prop=Value ...]
show lists every setting (passwords masked) or prints one setting's value; set changes
settings and writes the settings file.
)";

constexpr const char* kTransfer = R"(usage: vodrikctl export FILE | import FILE
       vodrikctl export-config FILE | import-config FILE
export writes the accounts, fee records, limit IP ranges and named sets to FILE; import
replaces them by FILE's (the whole file or nothing). export-config and import-config do the
same for the settings, filter rules and the other settings lists. The service reads and writes
FILE itself: with --server, FILE is a file on the service's machine. A spinner shows on a
terminal while the call runs.
)";

constexpr const char* kRealtime = R"(usage: vodrikctl realtime VIEW
Prints the current records of a real-time view, newest first.
VIEW: traffic, users, warnings, files, blocks, malware, intrusions.
)";

}  // namespace

bool IsCommand(const std::string& c) {
  for (const char* known : {"users", "deps", "groups", "computers", "sets", "rules", "settings", "export", "import",
                            "export-config", "import-config", "realtime"})
    if (c == known) return true;
  return false;
}

void PrintHelp(FILE* out, const std::string& c) {
  const char* text = kGeneral;
  if (c == "users" || c == "deps" || c == "groups" || c == "computers") text = kAccounts;
  if (c == "sets") text = kSets;
  if (c == "rules") text = kRules;
  if (c == "settings") text = kSettings;
  if (c == "export" || c == "import" || c == "export-config" || c == "import-config") text = kTransfer;
  if (c == "realtime") text = kRealtime;
  std::fputs(text, out);
}

int RunCommand(IDispatch* array, const std::string& c, const Invocation& invocation) {
  if (c == "sets") return RunSets(array, invocation);
  if (c == "rules") return RunRules(array, invocation);
  if (c == "settings") return RunSettings(array, invocation);
  if (c == "realtime") return RunRealtime(array, invocation);
  if (c.starts_with("export") || c.starts_with("import")) return RunTransfer(array, c, invocation);
  return RunAccounts(array, c, invocation);
}

std::pair<std::string, std::string> SplitAssignment(const std::string& text) {
  const size_t at = text.find('=');
  if (at == std::string::npos || at == 0) throw UsageError{"expected Prop=Value, not " + text};
  return {text.substr(0, at), text.substr(at + 1)};
}

}  // namespace vodrikctl
