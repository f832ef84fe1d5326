// The real-time views: current records, newest first, as the service holds them now.
#include "tools/vodrikctl/commands.h"
#include "tools/vodrikctl/output.h"

namespace vodrikctl {
namespace {

struct View {
  const char* word;
  const char* property;  // of the real-time root
};

const View kViews[] = {
    {"traffic", "RealTraffics"}, {"users", "RealUsers"},      {"warnings", "RealWarns"},  {"files", "RealFiles"},
    {"blocks", "RealBlocks"},    {"malware", "RealMalwares"}, {"intrusions", "RealNISs"},
};

}  // namespace

int RunRealtime(IDispatch* array, const Invocation& invocation) {
  if (invocation.words.size() != 1) throw UsageError{"realtime takes one VIEW"};
  if (!invocation.assignments.empty()) throw UsageError{"--set does not belong to realtime"};
  for (const View& view : kViews) {
    if (invocation.words[0] != view.word) continue;
    Object root = GetObject(array, "RealTime");
    Object records = GetObject(root.get(), view.property);
    std::vector<std::vector<Property>> rows;
    for (const Object& record : Items(records.get())) rows.push_back(ReadProperties(record.get()));
    PrintRecords(stdout, rows, {}, invocation.json);
    return 0;
  }
  throw UsageError{"unknown VIEW " + invocation.words[0]};
}

}  // namespace vodrikctl
