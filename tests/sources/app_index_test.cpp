#include "sources/app_index.h"

#include <gtest/gtest.h>

#include "tests/support/fake_platform.h"

namespace varek {
namespace {

// Holds the serial queue's jobs back, so a test can run one by itself and then look at
// the main queue.
struct HeldScheduler : test::VirtualScheduler {
  void runSerial(const std::string& queue, Job job) override {
    queues.push_back(queue);
    held.push_back(std::move(job));
  }
  std::vector<std::string> queues;
  std::vector<Job> held;
};

struct AppIndexTest : ::testing::Test {
  HeldScheduler scheduler;
  test::FakeAppScanner scanner;
  std::shared_ptr<AppIndex> index = std::make_shared<AppIndex>(scanner, scheduler, scheduler);
};

TEST_F(AppIndexTest, RefreshIsThrottledByTheLastScanStart) {
  using enum AppIndex::Refresh;
  const std::tuple<double, AppIndex::Refresh, std::size_t> rows[] = {
      {10, ifStale, 1}, {30, ifStale, 1}, {31, ifStale, 2}, {5, force, 2}};
  for (const auto& [later, refresh, scans] : rows) {
    index = std::make_shared<AppIndex>(scanner, scheduler, scheduler);
    scheduler.held.clear();
    index->refresh();
    const double start = scheduler.now();
    scheduler.advance(later);  // the first scan is still running
    index->refresh(refresh);
    EXPECT_EQ(scheduler.held.size(), scans) << later;
    EXPECT_EQ(index->lastScan(), scans == 2 ? scheduler.now() : start) << later;
  }
}

TEST_F(AppIndexTest, FillScansAtOnceAndRefreshReplacesEntriesOnTheMainQueue) {
  scanner.apps = {{"Alt", "", "/apps/old.desktop", {}}};
  index->fill();
  scheduler.advance(20);
  index->refresh();
  EXPECT_TRUE(scheduler.held.empty());  // a fill counts as a scan
  scanner.apps = {{"Neu", "", "/apps/new.desktop", {}}};
  index->refresh(AppIndex::Refresh::force);
  const std::weak_ptr<AppIndex> watched = index;
  index.reset();  // the jobs keep the index alive
  ASSERT_EQ(scheduler.queues, std::vector<std::string>{"zz.orvel.varek.appindex"});
  scheduler.held.front()();
  scheduler.held.clear();
  const std::shared_ptr<AppIndex> alive = watched.lock();
  ASSERT_TRUE(alive);
  EXPECT_EQ(alive->entries().front().name, "Alt");  // the scan job only computes
  scheduler.runMain();
  EXPECT_EQ(alive->entries().front().name, "Neu");
}

// Opening the panel every half minute must not rebuild ten thousand unchanged entries.
TEST_F(AppIndexTest, RefreshKeepsTheEntriesWhileTheFingerprintHolds) {
  const std::tuple<std::string, std::string, std::size_t> rows[] = {
      {"a", "a", 1}, {"a", "b", 2}, {"", "", 2}};
  for (const auto& [before, after, revision] : rows) {
    scanner.stamp = before;
    index = std::make_shared<AppIndex>(scanner, scheduler, scheduler);
    index->fill();
    scanner.stamp = after;
    index->refresh(AppIndex::Refresh::force);
    scheduler.held.front()();
    scheduler.held.clear();
    scheduler.runMain();
    EXPECT_EQ(index->revision(), revision) << before << " → " << after;
  }
}

// A repeated path is one file reported twice; settings always have a second target.
TEST_F(AppIndexTest, ScanListsAppsThenSettingsWithTheirTargets) {
  scanner.apps = {{"notes", "notes", "/a", {}},  {"rechner", "calculator", "/b", {}},
                  {"mail", "", "/c", "mailto:"}, {"eins", "", "/d", {}},
                  {"zwei", "", "/d", {}},        {"", "anon", "/e", {}}};
  scanner.settings = {{"ton", "ton", "/s", "u:ton"}, {"netz", "", "/a", "u:netz"}};
  const AppIndex::Contents scanned = AppIndex::scan(scanner);
  std::vector<std::string> described;  // "name id kind targets url", targets as folded
  for (std::size_t item = 0; item < scanned.entries.size(); ++item) {
    const AppIndex::Entry& entry = scanned.entries[item];
    std::string text = entry.name + " " + entry.id + " " + std::string(label(entry.kind)) + " ";
    for (std::size_t target = 0; target < scanned.targets.size(); ++target) {
      if (scanned.targets.item(target) == item)
        text += std::string(scanned.targets.compact(target)) + ",";
    }
    described.push_back(text + (entry.url ? " " + *entry.url : "") + " " + entry.path);
  }
  EXPECT_EQ(described, (std::vector<std::string>{
                           "notes app:/a App notes, /a",
                           "rechner app:/b App rechner,calculator, /b", "mail app:/c App mail, /c",
                           "eins app:/d App eins, /d", "ton set:/s Einstellung ton,ton, u:ton /s",
                           "netz set:/a Einstellung netz,netz, u:netz /a"}));
}

}  // namespace
}  // namespace varek
