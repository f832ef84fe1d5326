// The settings object (the array's Configure). Puts change the object in memory; the array's
// Save writes every settings object into the settings document and the document to its file.
//
// A listing of every setting shows passwords as "********" (the output of a console lands in
// terminals, logs and scripts); one asked for by name is shown.
#include "tools/vodrikctl/commands.h"
#include "tools/vodrikctl/output.h"

namespace vodrikctl {
namespace {

bool IsSecret(const std::string& name) { return name.find("Password") != std::string::npos; }

}  // namespace

int RunSettings(IDispatch* array, const Invocation& invocation) {
  if (invocation.words.empty()) throw UsageError{"settings needs an action: show or set"};
  if (!invocation.assignments.empty()) throw UsageError{"settings set takes Prop=Value arguments, not --set"};
  const std::string& action = invocation.words[0];
  Object configure = GetObject(array, "Configure");

  if (action == "show") {
    if (invocation.words.size() > 2) throw UsageError{"settings show takes at most one Prop"};
    std::vector<Property> properties = ReadProperties(configure.get());
    if (invocation.words.size() == 2) {
      const std::string& name = invocation.words[1];
      const VARIANT* value = Find(properties, name);
      if (!value) throw Refusal{kExitNoSuchItem, "no setting " + name};
      if (invocation.json) {
        std::printf("%s\n", JsonObject({{name, com::Variant(*value)}}).c_str());
      } else {
        std::printf("%s\n", Text(*value).c_str());
      }
      return 0;
    }
    for (Property& p : properties)
      if (IsSecret(p.name) && p.value.vt == VT_BSTR && com::BstrView(p.value.bstrVal).size() > 0)
        p.value = com::Variant::Str("********");
    PrintRecord(stdout, properties, invocation.json);
    return 0;
  }
  if (action == "set") {
    if (invocation.words.size() < 2) throw UsageError{"settings set needs Prop=Value"};
    std::vector<std::pair<std::string, std::string>> assignments;
    for (size_t i = 1; i < invocation.words.size(); ++i) assignments.push_back(SplitAssignment(invocation.words[i]));
    std::vector<std::pair<std::string, com::Variant>> before;
    for (const auto& [property, value] : assignments) before.emplace_back(property, Get(configure.get(), property));
    try {
      for (const auto& [property, value] : assignments) PutText(configure.get(), property, value);
      Call(array, "Save");
    } catch (...) {
      // The object keeps no half change for a later Save to write.
      try {
        for (auto it = before.rbegin(); it != before.rend(); ++it) Put(configure.get(), it->first, it->second);
      } catch (const Failure&) {
      }
      throw;
    }
    return 0;
  }
  throw UsageError{"unknown action " + action + ": show or set"};
}

}  // namespace vodrikctl
