// Two launcher processes writing the same store at once, as when a second instance starts
// while the first still runs. Every write replaces the file atomically (a private
// temporary file renamed over it), so the guarantee observed here is "never corrupt":
// readers always find a whole file, one writer's or the other's, and nothing is ever set
// aside as unreadable. It is not "nothing lost": each process keeps its own copy in
// memory and writes all of it, so the last writer's view wins and what the other process
// recorded in between is dropped.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/clock.h"
#include "platform/linux/json_defaults.h"
#include "search/learning.h"
#include "sources/clipboard_history.h"
#include "tests/support/fake_platform.h"

namespace varek {
namespace {

namespace fs = std::filesystem;

constexpr int kWriters = 2;
constexpr int kRoundsPerWriter = 200;
// 2001-01-01T00:00:00Z on the Unix time line.
constexpr double kReferenceDate = 978'307'200;

class SystemClock : public Clock {
 public:
  double now() const override {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count() - kReferenceDate;
  }
};

std::string contents(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

fs::path freshFolder(const std::string& name) {
  const fs::path folder = fs::path(::getenv("VAREK_TEST_HOME")) / "concurrent_stores" / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

// Runs round(writer, round) kRoundsPerWriter times in each of kWriters child processes at
// once; true when every child finished normally. A child that throws or crashes fails.
bool runWriters(const std::function<void(int, int)>& round) {
  pid_t children[kWriters];
  for (int writer = 0; writer < kWriters; ++writer) {
    children[writer] = ::fork();
    if (children[writer] == 0) {
      try {
        for (int at = 0; at < kRoundsPerWriter; ++at) round(writer, at);
      } catch (...) {
        ::_exit(1);
      }
      // _exit skips the test framework's teardown, which belongs to the parent.
      ::_exit(0);
    }
    if (children[writer] < 0) return false;
  }
  bool finished = true;
  for (const pid_t child : children) {
    int status = 0;
    finished = ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0 && finished;
  }
  return finished;
}

// Only the store itself is left: no temporary file and nothing set aside as unreadable.
void expectOnlyTheStore(const fs::path& folder, const fs::path& store) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    EXPECT_EQ(entry.path(), store) << "left beside the store";
  }
}

// Each round is a short-lived launcher: it loads the store, records one pick of its
// own and saves, so every save is a read-modify-write racing the other process.
TEST(ConcurrentStoresTest, LearningPicksOfTwoProcessesNeverCorruptTheDefaultsFile) {
  const fs::path folder = freshFolder("learning");
  const fs::path file = folder / "defaults.json";
  ASSERT_TRUE(runWriters([&](int writer, int round) {
    JsonDefaults defaults(file.string());
    const SystemClock clock;
    Learning learning(defaults, clock);
    learning.record("app:writer" + std::to_string(writer) + "-" + std::to_string(round), "te");
  }));

  const auto root = nlohmann::json::parse(contents(file), nullptr, false);
  ASSERT_TRUE(root.is_object()) << "the defaults file parses";
  const JsonDefaults defaults(file.string());
  const auto stored =
      nlohmann::json::parse(defaults.data("learning.v1").value_or(""), nullptr, false);
  ASSERT_TRUE(stored.is_object() && stored.contains("uses")) << "the store reads back";
  const std::size_t kept = stored["uses"].size();
  // At least the last writer's last pick; picks the other process saved in between its
  // read and its write are lost.
  EXPECT_GE(kept, 1u);
  EXPECT_LE(kept, std::size_t(kWriters * kRoundsPerWriter));
  std::cout << "learning picks kept: " << kept << " of " << kWriters * kRoundsPerWriter << "\n";
  expectOnlyTheStore(folder, file);
}

// Each round starts a history over the shared file, sees one new copy and saves.
TEST(ConcurrentStoresTest, ClipboardHistoriesOfTwoProcessesNeverCorruptTheirFile) {
  const fs::path folder = freshFolder("clipboard");
  const fs::path file = folder / "zwischenablage.json";
  ASSERT_TRUE(runWriters([&](int writer, int round) {
    test::FakePasteboard pasteboard;
    test::VirtualScheduler scheduler;
    test::MemoryDefaults defaults;
    const auto history = std::make_shared<ClipboardHistory>(pasteboard, scheduler, scheduler,
                                                            defaults, file.string());
    history->start();
    pasteboard.copy("writer " + std::to_string(writer) + " copy " + std::to_string(round));
    history->poll();
  }));

  const auto root = nlohmann::json::parse(contents(file), nullptr, false);
  ASSERT_TRUE(root.is_array()) << "the history file parses as a list";
  EXPECT_GE(root.size(), 1u);
  EXPECT_LE(root.size(), ClipboardHistory::kMaxEntries);
  for (const auto& entry : root) {
    EXPECT_TRUE(entry.is_object() && entry.contains("text") && entry.contains("date"));
  }
  std::cout << "clipboard entries kept: " << root.size() << " of " << kWriters * kRoundsPerWriter
            << " copies\n";
  expectOnlyTheStore(folder, file);
}

}  // namespace
}  // namespace varek
