#include "app/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/fake_platform.h"
#include "tests/support/manual_clock.h"

namespace varek {
namespace {

namespace fs = std::filesystem;

// 2026-12-06T05:05:56Z, checked with `date -u -d @1796533556`.
constexpr double kNow = 818'226'356;

std::string contents(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

TEST(LogTest, TimestampIsUtcInWholeSeconds) {
  const std::pair<double, const char*> rows[] = {
      {1e9, "2032-09-09T01:46:40Z"},           // date -u -d @1978307200
      {kNow + 0.999, "2026-12-06T05:05:56Z"},  // a fraction rounds down
      {-0.25, "2000-12-31T23:59:59Z"},         // and down before 2001 too
      {-1e9, "1969-04-24T22:13:20Z"},          // before the Unix epoch: date -u -d @-21692800
  };
  for (const auto& [time, stamp] : rows) EXPECT_EQ(Log::timestamp(time), stamp) << time;
}

TEST(LogTest, WriteAppendsOneStampedLinePerMessageToAPrivateFile) {
  test::FakePaths paths;
  test::ManualClock clock(kNow);
  const Log log(paths.logFile(), clock);
  log.write("one");
  EXPECT_EQ(contents(paths.logFile()), "2026-12-06T05:05:56Z one\n");
  EXPECT_EQ(fs::status(paths.logFile()).permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  for (const char* message : {"a\nb", ""}) {
    clock.advance(1);
    log.write(message);
  }
  EXPECT_EQ(contents(paths.logFile()),
            "2026-12-06T05:05:56Z one\n2026-12-06T05:05:57Z a\nb\n2026-12-06T05:05:58Z \n");

  // The folder is not the log's to create; failing to write is no error.
  const fs::path inMissingFolder = paths.folder() / "missing" / "Varek.log";
  Log(inMissingFolder.string(), clock).write("lost");
  EXPECT_FALSE(fs::exists(inMissingFolder.parent_path()));
}

}  // namespace
}  // namespace varek
