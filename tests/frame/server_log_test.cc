#include "qvacom/frame/server_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

std::string Read(const std::filesystem::path& p) {
  std::ostringstream s;
  s << std::ifstream(p, std::ios::binary).rdbuf();
  return s.str();
}

TEST(ServerLogTest, LinesGoToTheFileOfTheirDay) {
  qva::testing::TempDir dir;
  struct Event {
    DATE when;
    std::string message;
    int level;
  };
  std::vector<Event> events;
  qva::ServerLog log(dir.path(), [&](DATE when, std::string_view m, int level) {
    events.push_back({when, std::string(m), level});
  });
  const SYSTEMTIME first{2011, 8, 6, 6, 0, 0, 5, 0};
  const SYSTEMTIME second{2011, 8, 6, 6, 23, 59, 59, 0};
  const SYSTEMTIME next_day{2011, 8, 0, 7, 0, 0, 1, 0};
  EXPECT_TRUE(log.Write("Vodrik server init.", 0, first));
  EXPECT_TRUE(log.Write("Can not connect to database.", 1, second));
  EXPECT_TRUE(log.Write("odd level", 7, next_day));

  EXPECT_EQ(Read(dir.path() / "logs" / "20110806.log"),
            "11-08-06 00:00:05, NORMAL, Vodrik server init.\r\n11-08-06 23:59:59, WARN, Can not connect to database.\r\n");
  EXPECT_EQ(Read(dir.path() / "logs" / "20110807.log"), "11-08-07 00:00:01, , odd level\r\n");
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].message, "Vodrik server init.");
  EXPECT_EQ(events[1].level, 1);
  EXPECT_DOUBLE_EQ(events[0].when, 40761.0 + 5.0 / 86400.0);  // 2011-08-06 00:00:05
}

TEST(ServerLogTest, AnUnwritableFolderLosesTheLineQuietly) {
  qva::testing::TempDir dir;
  // A file where the folder should be: the folder cannot be made, whatever our privileges.
  std::ofstream(dir.path() / "logs") << "in the way";
  qva::ServerLog log(dir.path());
  EXPECT_TRUE(log.Write("Vodrik server init.", 0));
  EXPECT_EQ(Read(dir.path() / "logs"), "in the way");
}

TEST(ServerLogTest, LevelNames) {
  EXPECT_EQ(qva::ServerLog::LevelName(0), "NORMAL");
  EXPECT_EQ(qva::ServerLog::LevelName(1), "WARN");
  EXPECT_EQ(qva::ServerLog::LevelName(2), "ERROR");
  EXPECT_EQ(qva::ServerLog::LevelName(-1), "");
}

}  // namespace
