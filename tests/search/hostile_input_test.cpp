// What the core does with input nobody meant for it: hand-edited or damaged stores, and the
// privacy promises that must hold whatever is copied or typed. The learning rows replay
// what the fuzzers in tests/fuzz found.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "search/learning.h"
#include "search/search_model.h"
#include "tests/support/fake_platform.h"
#include "tests/support/manual_clock.h"

namespace varek {
namespace {

using json = nlohmann::json;
using Mode = SearchModel::Mode;

constexpr long long kLargest = std::numeric_limits<long long>::max();

// Stores that record() can never write. Each must load without undefined behaviour, give
// finite bonuses, and save a store that reads back.
TEST(HostileLearningStore, LoadsRanksAndRecordsSafely) {
  struct Row {
    const char* name;
    json stored;
    bool setAside;  // whether the bytes are not in the stored layout
    long long picksAfter;
  } rows[] = {
      {"negative use count",
       {{"uses", {{"a", {{"count", -1}, {"last", 0}}}}}, {"picks", {}}},
       true,
       1},
      {"use count between minus one and zero",
       {{"uses", {{"a", {{"count", -0.5}, {"last", 0}}}}}, {"picks", {}}},
       true,
       1},
      {"largest pick count",
       {{"uses", json::object()}, {"picks", {{"a", {{"a", kLargest}}}}}},
       false,
       kLargest},
  };
  for (const Row& row : rows) {
    test::MemoryDefaults defaults;
    test::ManualClock clock(800'000'000);
    defaults.setData("learning.v1", row.stored.dump());
    Learning learning(defaults, clock);
    EXPECT_TRUE(std::isfinite(learning.boost("a", "a"))) << row.name;
    learning.record("a", "a");
    EXPECT_TRUE(std::isfinite(learning.boost("a", "a"))) << row.name;
    EXPECT_GT(learning.boost("a", ""), 0) << row.name;
    const json saved = json::parse(defaults.data("learning.v1").value_or("null"));
    EXPECT_EQ(saved["picks"]["a"]["a"], row.picksAfter) << row.name;
    EXPECT_EQ(defaults.data("learning.v1.unreadable").has_value(), row.setAside) << row.name;
  }
}

// Pruning weighs each key by the sum of its counts; two of the largest must not overflow.
TEST(HostileLearningStore, PrunesAStoreWhoseCountsSumBeyondLongLong) {
  json picks = {{"big", {{"a", kLargest}, {"b", kLargest}}}};
  for (int key = 0; key < 3000; ++key) picks["k" + std::to_string(key)] = {{"a", 1}};
  test::MemoryDefaults defaults;
  test::ManualClock clock(800'000'000);
  defaults.setData("learning.v1", json({{"uses", json::object()}, {"picks", picks}}).dump());
  Learning learning(defaults, clock);
  learning.record("a", "zz");
  const json saved = json::parse(defaults.data("learning.v1").value_or("null"));
  EXPECT_TRUE(saved["picks"].contains("big"));
  EXPECT_FALSE(saved["picks"].contains("k0"));
}

std::string contents(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

// Whether any file under folder holds text.
bool anyFileHolds(const std::filesystem::path& folder, const std::string& text) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file() && contents(entry.path()).find(text) != std::string::npos) {
      return true;
    }
  }
  return false;
}

struct HostileModelTest : ::testing::Test {
  test::FakePlatform fake;
  std::shared_ptr<SearchModel> model;

  void SetUp() override {
    fake.appScanner.apps = {{.name = "Safari",
                             .alternateName = "",
                             .path = "/apps/safari.desktop",
                             .url = std::nullopt}};
    model = SearchModel::create(fake.platform());
  }
  void copy(const std::string& text, std::vector<std::string> types = {"text/plain"}) {
    fake.pasteboard.copy(text, std::move(types));
    fake.scheduler.advance(ClipboardHistory::kPollSeconds);
  }
};

// Password managers mark their copies; the history looks at the types and nothing else.
TEST_F(HostileModelTest, ConcealedCopiesAreNeitherReadNorKept) {
  const std::string secret = "s3cret-Passw0rt";
  for (const char* marker : {"org.nspasteboard.ConcealedType", "org.nspasteboard.TransientType",
                             "x-kde-passwordManagerHint"}) {
    const int before = fake.pasteboard.contentReads();
    copy(secret, {"text/plain", marker});
    EXPECT_EQ(fake.pasteboard.contentReads() - before, 1) << marker << ": the types only";
  }
  copy("harmlos");
  model->setMode(Mode::clipboard);
  ASSERT_EQ(model->items().size(), 1u);
  EXPECT_EQ(model->items().front().copyText, "harmlos");
  EXPECT_TRUE(anyFileHolds(fake.paths.folder(), "harmlos"));
  EXPECT_FALSE(anyFileHolds(fake.paths.folder(), secret));
}

// The core writes no log, and what is typed reaches no file of the core: the model's own
// copies stay out of the clipboard history. Learned pick keys (the first twelve characters
// of an activated query) go to the defaults store alone, which the backend keeps.
TEST_F(HostileModelTest, TypedTextReachesNeitherLogNorHistory) {
  const std::string secret = "geheim-4711";
  for (const Mode mode : {Mode::all, Mode::files, Mode::clipboard, Mode::windows}) {
    model->setMode(mode);
    model->setQuery(secret);
    model->activate(SearchModel::Action::copy);
    model->activate(SearchModel::Action::open);
    fake.scheduler.advance(1);
    model->setQuery("");
  }
  EXPECT_EQ(fake.pasteboard.text(), secret) << "the web row of mode all copied it";
  EXPECT_FALSE(std::filesystem::exists(fake.paths.logFile()));
  EXPECT_FALSE(anyFileHolds(fake.paths.folder(), secret));
}

// A history file that cannot be written costs the file, never the list or the model.
TEST(HostileStorage, UnwritableHistoryKeepsTheModelRunning) {
  struct Paths : test::FakePaths {
    std::string file;
    std::string clipboardFile() const override { return file; }
  };
  struct Row {
    const char* name;
    bool rootCanWrite;  // root ignores permission bits
    void (*prepare)(const std::filesystem::path& folder, std::string& file);
  } rows[] = {
      {"read-only folder", true,
       [](const std::filesystem::path& folder, std::string& file) {
         std::filesystem::create_directory(folder / "Varek");
         std::filesystem::permissions(folder / "Varek", std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::owner_exec);
         file = (folder / "Varek" / "zwischenablage.json").string();
       }},
      {"folder is a regular file", false,
       [](const std::filesystem::path& folder, std::string& file) {
         std::ofstream(folder / "Varek") << "no folder";
         file = (folder / "Varek" / "zwischenablage.json").string();
       }},
  };
  for (const Row& row : rows) {
    if (row.rootCanWrite && ::geteuid() == 0) continue;
    test::FakePlatform fake;
    Paths paths;
    row.prepare(paths.folder(), paths.file);
    const Platform platform{fake.scheduler,     fake.scheduler,    fake.defaults,  fake.pasteboard,
                            fake.workspace,     fake.windowServer, fake.fileIndex, fake.dictionary,
                            fake.systemActions, fake.appScanner,   paths};
    const auto model = SearchModel::create(platform);
    for (const char* text : {"eins", "zwei"}) {
      fake.pasteboard.copy(text);
      fake.scheduler.advance(ClipboardHistory::kPollSeconds);
    }
    EXPECT_TRUE(model->clipboard().polling()) << row.name;
    EXPECT_FALSE(std::filesystem::exists(paths.file)) << row.name;
    model->setMode(Mode::clipboard);
    model->setQuery("ins");
    ASSERT_EQ(model->items().size(), 1u) << row.name;
    EXPECT_EQ(model->items().front().copyText, "eins") << row.name;
    model->setQuery("");
    EXPECT_EQ(model->items().size(), 2u) << row.name;
  }
}

}  // namespace
}  // namespace varek
