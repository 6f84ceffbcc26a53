#include "sources/app_index.h"

#include <gtest/gtest.h>

#include "tests/support/fake_platform.h"

namespace varek {
namespace {

using test::FakeAppScanner;
using test::VirtualScheduler;

// Holds serial jobs back so a test can run one by itself and look at the main queue.
class HeldScheduler : public VirtualScheduler {
 public:
  std::vector<Job> held;
  void runSerial(const std::string&, Job job) override { held.push_back(std::move(job)); }
};

// "name path kind [targets] url", the targets as the matcher folds them.
std::string describe(const AppIndex::Entry& entry) {
  std::string text = entry.name + " " + entry.path + " " + std::string(label(entry.kind)) + " [";
  for (const Fuzzy::Target& target : entry.targets) text += target.compact + ",";
  return text + "]" + (entry.url ? " " + *entry.url : "");
}

TEST(AppIndexRefresh, ThrottlesByTheLastScanStart) {
  struct Row {
    const char* name;
    double secondsLater;
    AppIndex::Refresh second;
    int scans;
  };
  const Row rows[] = {
      {"ten seconds later starts nothing", 10, AppIndex::Refresh::ifStale, 1},
      {"exactly thirty seconds later starts nothing", 30, AppIndex::Refresh::ifStale, 1},
      {"thirty-one seconds later scans again", 31, AppIndex::Refresh::ifStale, 2},
      {"force scans at once and moves the last scan", 5, AppIndex::Refresh::force, 2},
  };
  for (const Row& row : rows) {
    VirtualScheduler scheduler;
    FakeAppScanner scanner;
    auto index = std::make_shared<AppIndex>(scanner, scheduler, scheduler);
    index->refresh();
    // The first scan is still running when the second call comes.
    scheduler.advance(row.secondsLater);
    index->refresh(row.second);
    scheduler.runBackground();
    EXPECT_EQ(scanner.scans, row.scans) << row.name;
    const double expectedLast =
        row.scans == 2 ? scheduler.now() : scheduler.now() - row.secondsLater;
    EXPECT_EQ(index->lastScan(), expectedLast) << row.name;
    EXPECT_TRUE(scheduler.usedSerialQueue("zz.orvel.varek.appindex")) << row.name;
  }
}

TEST(AppIndexRefresh, FirstRefreshIsStaleAndFillCountsAsScan) {
  VirtualScheduler atEpoch(0);
  FakeAppScanner scanner;
  auto fresh = std::make_shared<AppIndex>(scanner, atEpoch, atEpoch);
  fresh->refresh();
  EXPECT_EQ(atEpoch.pendingBackground(), 1u) << "a clock at zero still finds a new index stale";

  VirtualScheduler scheduler;
  scanner.apps = {{"Notizen", "", "/apps/notes.desktop", std::nullopt}};
  auto filled = std::make_shared<AppIndex>(scanner, scheduler, scheduler);
  EXPECT_TRUE(filled->entries().empty()) << "the constructor scans nothing";
  filled->fill();
  ASSERT_EQ(filled->entries().size(), 1u) << "fill scans on the calling thread";
  EXPECT_EQ(filled->lastScan(), scheduler.now());
  scheduler.advance(20);
  filled->refresh();
  EXPECT_EQ(scheduler.pendingBackground(), 0u) << "a refresh soon after fill does nothing";
}

TEST(AppIndexRefresh, EntriesChangeOnTheMainQueueWhileJobsKeepTheIndex) {
  HeldScheduler scheduler;
  FakeAppScanner scanner;
  scanner.apps = {{"Alt", "", "/apps/old.desktop", std::nullopt}};
  auto index = std::make_shared<AppIndex>(scanner, scheduler, scheduler);
  index->fill();
  scanner.apps = {{"Neu", "", "/apps/new.desktop", std::nullopt}};
  index->refresh(AppIndex::Refresh::force);
  const std::weak_ptr<AppIndex> watched = index;
  index.reset();
  ASSERT_EQ(scheduler.held.size(), 1u);
  ASSERT_FALSE(watched.expired()) << "the scan job holds the index";
  scheduler.held.front()();
  scheduler.held.clear();
  EXPECT_EQ(watched.lock()->entries().front().name, "Alt") << "the scan job only computes";
  EXPECT_EQ(scheduler.pendingMain(), 1u);
  ASSERT_FALSE(watched.expired()) << "the main-queue job holds the index";
  {
    auto alive = watched.lock();
    scheduler.runMain();
    EXPECT_EQ(alive->entries().front().name, "Neu");
  }
  EXPECT_TRUE(watched.expired()) << "nothing holds the index once both jobs ran";
}

TEST(AppIndexScan, EntriesAndTargets) {
  struct Row {
    const char* name;
    std::vector<ScannedApp> apps, settings;
    std::vector<std::string> entries;
  };
  const Row rows[] = {
      {"an app named twice alike has one target",
       {{"notes", "notes", "/a", {}}},
       {},
       {"notes /a App [notes,]"}},
      {"a differing alternate name follows the display name",
       {{"rechner", "calculator", "/a", {}}},
       {},
       {"rechner /a App [rechner,calculator,]"}},
      {"names differing in case count as different",
       {{"Notes", "notes", "/a", {}}},
       {},
       {"Notes /a App [notes,notes,]"}},
      {"an app's url is dropped", {{"mail", "", "/a", "mailto:"}}, {}, {"mail /a App [mail,]"}},
      {"a setting always has two targets and keeps its url",
       {},
       {{"ton", "ton", "/s", "u:ton"}, {"netz", "", "/n", "u:netz"}},
       {"ton /s Einstellung [ton,ton,] u:ton", "netz /n Einstellung [netz,netz,] u:netz"}},
      {"a repeated app path keeps the first, another path its own row",
       {{"eins", "", "/a", {}}, {"zwei", "", "/a", {}}, {"eins", "", "/b", {}}},
       {},
       {"eins /a App [eins,]", "eins /b App [eins,]"}},
      {"settings follow the apps even at an app's path",
       {{"app", "", "/x", {}}},
       {{"pane", "alt", "/x", "u"}},
       {"app /x App [app,]", "pane /x Einstellung [pane,alt,] u"}},
      {"empty names are left out",
       {{"", "anon", "/a", {}}, {"named", "", "/b", {}}},
       {{"", "x", "/s", "u"}},
       {"named /b App [named,]"}},
  };
  for (const Row& row : rows) {
    FakeAppScanner scanner;
    scanner.apps = row.apps;
    scanner.settings = row.settings;
    std::vector<std::string> entries;
    for (const AppIndex::Entry& entry : AppIndex::scan(scanner)) entries.push_back(describe(entry));
    EXPECT_EQ(entries, row.entries) << row.name;
  }
}

}  // namespace
}  // namespace varek
