// Two processes changing the same store at once: the launcher reads it once and keeps it,
// "varek run" reads it afresh each time. Neither loses what the other saved.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/linux/json_defaults.h"
#include "search/learning.h"
#include "sources/clipboard_history.h"
#include "tests/support/fake_platform.h"
#include "tests/support/manual_clock.h"

namespace varek {
namespace {

namespace fs = std::filesystem;

constexpr int kWriters = 2;

// The store's file in a fresh folder of its own.
fs::path freshStore(const std::string& name) {
  const fs::path folder = fs::path(::getenv("VAREK_TEST_HOME")) / "concurrent_stores" / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder / name;
}

// Runs round(writer, round) rounds times in each of kWriters child processes at once; true
// when every child finished normally. A child that throws or crashes fails.
bool runWriters(int rounds, const std::function<void(int, int)>& round) {
  pid_t children[kWriters];
  for (int writer = 0; writer < kWriters; ++writer) {
    if ((children[writer] = ::fork()) != 0) continue;
    try {
      for (int at = 0; at < rounds; ++at) round(writer, at);
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);  // skips the test framework's teardown, which belongs to the parent
  }
  bool finished = true;
  for (const pid_t child : children) {
    int status = 0;
    finished = child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0 && finished;
  }
  return finished;
}

// Only the store and its lock are left: no temporary file, nothing set aside as unreadable.
void expectOnlyTheStore(const fs::path& store) {
  for (const auto& entry : fs::directory_iterator(store.parent_path())) {
    EXPECT_TRUE(entry.path() == store || entry.path() == store.string() + ".lock")
        << entry.path() << " left beside the store";
  }
}

TEST(ConcurrentStoresTest, LearningPicksOfTwoProcessesAddUp) {
  constexpr int kPicks = 200;
  const fs::path file = freshStore("defaults.json");
  const test::ManualClock clock;
  std::optional<JsonDefaults> launcherDefaults;
  std::optional<Learning> launcher;
  ASSERT_TRUE(runWriters(kPicks, [&](int writer, int) {
    if (writer == 0 && !launcher) launcher.emplace(launcherDefaults.emplace(file), clock);
    if (writer == 0) return launcher->record("app:gimp", "gi");
    JsonDefaults defaults(file);
    Learning(defaults, clock).record("app:gimp", "gi");
  }));

  const auto stored =
      nlohmann::json::parse(JsonDefaults(file).data("learning.v1").value_or(""), nullptr, false);
  ASSERT_TRUE(stored.is_object()) << "the store reads back";
  EXPECT_EQ(stored["uses"]["app:gimp"]["count"], kWriters * kPicks);
  EXPECT_EQ(stored["picks"]["gi"]["app:gimp"], kWriters * kPicks);
  expectOnlyTheStore(file);
}

// One process's clipboard history, seeing one copy after another.
struct Recorder {
  explicit Recorder(const fs::path& file)
      : history(std::make_shared<ClipboardHistory>(pasteboard, scheduler, scheduler, defaults,
                                                   file.string())) {
    history->start();
  }
  void copy(const std::string& text) {
    pasteboard.copy(text);
    history->poll();
  }

  test::FakePasteboard pasteboard;
  test::VirtualScheduler scheduler;
  test::MemoryDefaults defaults;
  std::shared_ptr<ClipboardHistory> history;
};

TEST(ConcurrentStoresTest, ClipboardEntriesOfTwoProcessesAreAllKeptAndAClearStays) {
  // Together exactly as many as the history keeps, so every copy must be there.
  constexpr int kCopies = ClipboardHistory::kMaxEntries / kWriters;
  const fs::path file = freshStore("zwischenablage.json");
  const auto text = [](int writer, int round) {
    return "writer " + std::to_string(writer) + " copy " + std::to_string(round);
  };
  std::optional<Recorder> launcher;
  ASSERT_TRUE(runWriters(kCopies, [&](int writer, int round) {
    if (writer == 0 && !launcher) launcher.emplace(file);
    if (writer == 0) return launcher->copy(text(writer, round));
    Recorder(file).copy(text(writer, round));
  }));
  const auto texts = [](const Recorder& recorder) {
    std::set<std::string> texts;
    for (const auto& entry : recorder.history->entries()) texts.insert(entry.text);
    return texts;
  };
  Recorder first(file), second(file);
  std::set<std::string> copied;
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int round = 0; round < kCopies; ++round) copied.insert(text(writer, round));
  }
  EXPECT_EQ(texts(first), copied);

  // The second empties the history; the first, still holding all of it, copies once more.
  second.history->clear();
  first.copy("after the clear");
  second.history->refresh();
  EXPECT_EQ(texts(first), std::set<std::string>{"after the clear"});
  EXPECT_EQ(texts(second), texts(first));
  expectOnlyTheStore(file);
}

}  // namespace
}  // namespace varek
