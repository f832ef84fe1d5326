// The daily server log: "logs/" below the base folder, one file per local day named
// "%04d%02d%02d.log", one line per event: "%y-%m-%d %H:%M:%S, LEVEL, message\r\n".
// Every line opens, appends and closes its file, so a new day starts a new file; failures lose
// the line silently, so start-up never fails because of the log.
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

#include "platform/com/types.h"

namespace qva {

enum class LogLevel : int { kNormal = 0, kWarn = 1, kError = 2 };

class ServerLog {
 public:
  // Receives every line before it is written: date-time (local DATE), message, level. The array
  // hands its events collection's Add here.
  using EventSink = std::function<void(DATE when, std::string_view message, int level)>;

  explicit ServerLog(std::filesystem::path base_folder, EventSink events = nullptr);

  // Writes one line stamped with the current local time. Always returns true, as callers expect.
  bool Write(std::string_view message, int level);
  // The same, stamped with `now` (local time).
  bool Write(std::string_view message, int level, const SYSTEMTIME& now);

  std::filesystem::path folder() const { return base_ / "logs"; }

  // "NORMAL", "WARN", "ERROR"; empty for any other level.
  static std::string_view LevelName(int level);

 private:
  std::filesystem::path base_;
  EventSink events_;
};

}  // namespace qva
