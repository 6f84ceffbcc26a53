#include "app/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fake_platform.h"
#include "tests/support/manual_clock.h"

namespace varek {
namespace {

// 2026-12-06T05:05:56Z, checked with `date -u -d @1796533556`.
constexpr double kNow = 818'226'356;

std::string contents(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

TEST(LogTest, TimestampIsUtcInWholeSeconds) {
  const std::pair<double, const char*> rows[] = {
      {0, "2001-01-01T00:00:00Z"},             // the origin of stored times
      {1e9, "2032-09-09T01:46:40Z"},           // date -u -d @1978307200
      {kNow + 0.999, "2026-12-06T05:05:56Z"},  // a fraction rounds down
      {-0.25, "2000-12-31T23:59:59Z"},         // and down before 2001 too
      {-1e9, "1969-04-24T22:13:20Z"},          // before the Unix epoch: date -u -d @-21692800
  };
  for (const auto& [time, stamp] : rows) EXPECT_EQ(Log::timestamp(time), stamp) << time;
}

TEST(LogTest, WriteAppendsOneStampedLinePerMessage) {
  struct Row {
    const char* name;
    std::optional<std::string> before;  // nothing: no file yet
    std::vector<std::string> messages;
    std::string after;
  };
  const Row rows[] = {
      {"first write creates the file", std::nullopt, {"started"}, "2026-12-06T05:05:56Z started\n"},
      {"writes follow in order",
       std::nullopt,
       {"one", "two"},
       "2026-12-06T05:05:56Z one\n2026-12-06T05:05:57Z two\n"},
      {"earlier content is kept", "old\n", {"new"}, "old\n2026-12-06T05:05:56Z new\n"},
      {"line feed is not escaped", std::nullopt, {"a\nb"}, "2026-12-06T05:05:56Z a\nb\n"},
      {"empty message", std::nullopt, {""}, "2026-12-06T05:05:56Z \n"},
  };
  for (const Row& row : rows) {
    test::FakePaths paths;
    test::ManualClock clock(kNow);
    if (row.before) std::ofstream(paths.logFile(), std::ios::binary) << *row.before;
    const Log log(paths.logFile(), clock);
    for (const auto& message : row.messages) {
      log.write(message);
      clock.advance(1);
    }
    EXPECT_EQ(contents(paths.logFile()), row.after) << row.name;
    struct stat status {};
    ASSERT_EQ(::stat(paths.logFile().c_str(), &status), 0) << row.name;
    if (!row.before) {
      EXPECT_EQ(status.st_mode & 0777, 0600u) << row.name;
    }
  }
}

TEST(LogTest, WriteFailuresAreSwallowed) {
  test::FakePaths paths;
  test::ManualClock clock(kNow);
  const std::string inMissingFolder = (paths.folder() / "missing" / "Varek.log").string();
  Log(inMissingFolder, clock).write("lost");
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(inMissingFolder).parent_path()));

  if (::geteuid() == 0) GTEST_SKIP() << "root writes to read-only files";
  std::ofstream(paths.logFile()) << "kept\n";
  std::filesystem::permissions(paths.logFile(), std::filesystem::perms::owner_read);
  Log(paths.logFile(), clock).write("lost");
  EXPECT_EQ(contents(paths.logFile()), "kept\n");
}

}  // namespace
}  // namespace varek
