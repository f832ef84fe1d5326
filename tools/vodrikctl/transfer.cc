// Export and import of the configuration as XML files: the database-backed collections
// (SaveXML/LoadXML) or the settings objects (SaveConfigXML/LoadConfigXML). The service reads and
// writes the file itself, so with a remote service FILE names a file on the service's machine.
#include <sysexits.h>

#include <filesystem>

#include "tools/vodrikctl/commands.h"
#include "tools/vodrikctl/progress.h"

namespace vodrikctl {

int RunTransfer(IDispatch* array, const std::string& command, const Invocation& invocation) {
  if (invocation.words.size() != 1) throw UsageError{command + " takes one FILE"};
  if (!invocation.assignments.empty()) throw UsageError{"--set does not belong to " + command};
  const bool import = command.starts_with("import");
  const bool config = command.ends_with("-config");
  std::string file = invocation.words[0];
  if (invocation.local_files) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
    if (!ec) file = absolute.string();
    if (import && !std::filesystem::is_regular_file(file, ec))
      throw Refusal{EX_NOINPUT, "cannot read " + file + ": no such file"};
  }
  const char* method = import ? (config ? "LoadConfigXML" : "LoadXML") : (config ? "SaveConfigXML" : "SaveXML");
  std::vector<com::Variant> args;
  args.push_back(com::Variant::Str(file));
  Spinner spinner(std::string(import ? "importing " : "exporting ") + file);
  Call(array, method, std::move(args));
  return 0;
}

}  // namespace vodrikctl
