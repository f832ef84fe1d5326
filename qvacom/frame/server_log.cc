#include "qvacom/frame/server_log.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <system_error>

#include "platform/com/oleauto.h"

namespace qva {

ServerLog::ServerLog(std::filesystem::path base_folder, EventSink events)
    : base_(std::move(base_folder)), events_(std::move(events)) {}

std::string_view ServerLog::LevelName(int level) {
  switch (level) {
    case 0:
      return "NORMAL";
    case 1:
      return "WARN";
    case 2:
      return "ERROR";
    default:
      return "";
  }
}

bool ServerLog::Write(std::string_view message, int level) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  SYSTEMTIME now{static_cast<WORD>(local.tm_year + 1900),
                 static_cast<WORD>(local.tm_mon + 1),
                 static_cast<WORD>(local.tm_wday),
                 static_cast<WORD>(local.tm_mday),
                 static_cast<WORD>(local.tm_hour),
                 static_cast<WORD>(local.tm_min),
                 static_cast<WORD>(local.tm_sec),
                 static_cast<WORD>(ts.tv_nsec / 1000000)};
  return Write(message, level, now);
}

bool ServerLog::Write(std::string_view message, int level, const SYSTEMTIME& now) {
  if (events_) {
    DATE when = 0;
    SystemTimeToVariantTime(&now, &when);
    events_(when, message, level);
  }
  std::error_code ec;
  std::filesystem::create_directories(folder(), ec);

  char name[64], stamp[64];
  std::snprintf(name, sizeof name, "%04d%02d%02d.log", now.wYear, now.wMonth, now.wDay);
  std::snprintf(stamp, sizeof stamp, "%02d-%02d-%02d %02d:%02d:%02d", now.wYear % 100, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  const std::string line = std::string(stamp) + ", " + std::string(LevelName(level)) + ", " + std::string(message) +
                           "\r\n";
  // One write of the whole line in append mode: lines of concurrent writers never interleave.
  const int fd = ::open((folder() / name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return true;
  ssize_t written = ::write(fd, line.data(), line.size());
  (void)written;  // a failed write loses the line, by design
  ::close(fd);
  return true;
}

}  // namespace qva
