#include "platform/log.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "tests/support/fake_platform.h"
#include "tests/support/files.h"
#include "tests/support/manual_clock.h"

namespace varek {
namespace {

namespace fs = std::filesystem;
using test::readFile;

// 2026-12-06T05:05:56Z, checked with `date -u -d @1796533556`.
constexpr double kNow = 818'226'356;

std::string repeated(std::string_view text, int times) {
  std::string result;
  for (int time = 0; time < times; ++time) result += text;
  return result;
}

// A log in a fresh folder, its clock at kNow.
class LogTest : public ::testing::Test {
 protected:
  test::FakePaths paths;
  test::ManualClock clock{kNow};
  const std::string file = paths.logFile();
  const Log log{file, clock};
};

TEST_F(LogTest, TimestampIsUtcInWholeSeconds) {
  const std::pair<double, const char*> rows[] = {
      {1e9, "2032-09-09T01:46:40Z"},           // date -u -d @1978307200
      {kNow + 0.999, "2026-12-06T05:05:56Z"},  // a fraction rounds down
      {-0.25, "2000-12-31T23:59:59Z"},         // and down before 2001 too
      {-1e9, "1969-04-24T22:13:20Z"},          // before the Unix epoch: date -u -d @-21692800
  };
  for (const auto& [time, stamp] : rows) EXPECT_EQ(Log::timestamp(time), stamp) << time;
}

TEST_F(LogTest, WriteAppendsOneStampedLinePerMessageToAPrivateFile) {
  log.write("one");
  EXPECT_EQ(readFile(file), "2026-12-06T05:05:56Z one\n");
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  for (const char* message : {"a\nb", ""}) {
    clock.advance(1);
    log.write(message);
  }
  EXPECT_EQ(readFile(file),
            "2026-12-06T05:05:56Z one\n2026-12-06T05:05:57Z a\\nb\n2026-12-06T05:05:58Z \n");

  // The folder is not the log's to create; failing to write is no error.
  const fs::path inMissingFolder = paths.folder() / "missing" / "Varek.log";
  Log(inMissingFolder.string(), clock).write("lost");
  EXPECT_FALSE(fs::exists(inMissingFolder.parent_path()));
}

// No message can begin a line that looks like an entry of its own, nor make the file grow
// by more than the cap; a cut never splits a character or an escape.
TEST_F(LogTest, MessagesStayOnTheirLineAndAreCut) {
  const std::tuple<const char*, std::string, std::string> rows[] = {
      {"a forged entry", "x\n2026-12-06T05:05:56Z Bench: 1", "x\\n2026-12-06T05:05:56Z Bench: 1"},
      {"CR LF, tab, ESC, DEL", "a\r\nb\tc\x1b[2J\x7f", "a\\r\\nb\\tc\\x1B[2J\\x7F"},
      {"C1 controls and separators", "\u0085\u009B\u2028\u2029", "\\u0085\\u009B\\u2028\\u2029"},
      {"typed text stays as it is", "Suche „Größe“: 0.05 ms", "Suche „Größe“: 0.05 ms"},
      {"exactly the cap", std::string(500, 'x'), std::string(500, 'x')},
      {"a megabyte", std::string(1 << 20, 'x'), std::string(499, 'x') + "…"},
      {"two-byte characters", repeated("ä", 600), repeated("ä", 499) + "…"},
      {"a character of two scalars", repeated("e\u0301", 600), repeated("e\u0301", 499) + "…"},
      {"an escape stays whole", std::string(300, '\n'), repeated("\\n", 249) + "…"},
  };
  for (const auto& [name, message, printed] : rows)
    EXPECT_EQ(Log::printable(message), printed) << name;
}

TEST_F(LogTest, AFullLogMovesAsideReplacingTheOlderOne) {
  const std::string older = file + ".1";
  for (const std::string round : {"first", "second"}) {
    std::ofstream(file) << std::string(Log::kRotationBytes - 30, '-') << round << '\n';
    log.write("new");
    EXPECT_EQ(readFile(file), "2026-12-06T05:05:56Z new\n") << round;
    EXPECT_TRUE(readFile(older).ends_with("-" + round + "\n")) << round;
  }
  log.write("below the size");
  EXPECT_EQ(readFile(file), "2026-12-06T05:05:56Z new\n2026-12-06T05:05:56Z below the size\n");
}

// The launcher and the command line write the same file; a writer waits for the lock
// beside it, which whoever rotates the file holds, before it looks at the file's size.
TEST_F(LogTest, AWriterWaitsForTheLockBesideTheLog) {
  const std::string lockFile = file + ".lock";
  const int lock = ::open(lockFile.c_str(), O_RDONLY | O_CREAT, 0600);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  std::thread writer([&] { log.write("after the lock"); });
  // The kernel lists a request that waits for a lock as "-> FLOCK … major:minor:inode".
  struct stat status {};
  ASSERT_EQ(::stat(lockFile.c_str(), &status), 0);
  const std::regex waiting("-> FLOCK [^\\n]*:" + std::to_string(status.st_ino) + " ");
  bool blocked = false;
  for (int look = 0; look < 100'000 && !blocked; ++look) {
    blocked = std::regex_search(readFile("/proc/locks"), waiting);
    std::this_thread::yield();
  }
  EXPECT_TRUE(blocked);
  EXPECT_FALSE(fs::exists(file)) << "nothing is written while another holds the lock";
  ::close(lock);
  writer.join();
  EXPECT_EQ(readFile(file), "2026-12-06T05:05:56Z after the lock\n");
}

}  // namespace
}  // namespace varek
