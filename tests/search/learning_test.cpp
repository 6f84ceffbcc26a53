#include "search/learning.h"

#include <cmath>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/manual_clock.h"
#include "tests/support/memory_defaults.h"

namespace varek {
namespace {

using nlohmann::json;

constexpr double kDay = 86400;
constexpr double kNow = 100 * kDay;
const std::string kTwentyLetters = "abcdefghijklmnopqrst";

std::string encoded(const json& uses, const json& picks) {
  return json({{"uses", uses}, {"picks", picks}}).dump();
}

json saved(const test::MemoryDefaults& defaults) {
  return json::parse(defaults.data("learning.v1").value_or("null"));
}

TEST(LearningTest, QueryKeyTrimsBlanksAndFolds) {
  struct Row {
    const char* name;
    std::string query;
    std::string key;
  };
  const Row rows[] = {
      {"spaces around a capital", " Saf ", "saf"},
      {"tab and ideographic space", "\tCafé\u3000", "cafe"},
      {"only no-break spaces", "\u00A0 \u00A0", ""},
      {"inner space kept", " a b ", "a b"},
      {"newline is no blank", "\nabc", "\nabc"},
  };
  for (const Row& row : rows) EXPECT_EQ(Learning::queryKey(row.query), row.key) << row.name;
}

TEST(LearningTest, RecordStoresOnePickPerPrefix) {
  struct Row {
    const char* name;
    std::string query;
    std::set<std::string> keys;
  };
  const Row rows[] = {
      {"each prefix of the key", " Saf ", {"s", "sa", "saf"}},
      {"empty query", "", {}},
      {"blank query", " \t\u3000", {}},
      {"long query stops at twelve characters",
       kTwentyLetters,
       {"a", "ab", "abc", "abcd", "abcde", "abcdef", "abcdefg", "abcdefgh", "abcdefghi",
        "abcdefghij", "abcdefghijk", "abcdefghijkl"}},
      {"flag is one character", "🇩🇪x", {"🇩🇪", "🇩🇪x"}},
      {"syllables are one character each",
       "한국",
       {Learning::queryKey("한"), Learning::queryKey("한국")}},
  };
  for (const Row& row : rows) {
    test::MemoryDefaults defaults;
    test::ManualClock clock(kNow);
    Learning learning(defaults, clock);
    learning.record("a", row.query);
    const json stored = saved(defaults);
    std::set<std::string> keys;
    for (const auto& [key, counts] : stored["picks"].items()) {
      keys.insert(key);
      EXPECT_EQ(counts, json({{"a", 1}})) << row.name;
    }
    EXPECT_EQ(keys, row.keys) << row.name;
    EXPECT_EQ(stored["uses"]["a"], json({{"count", 1}, {"last", kNow}})) << row.name;
  }
}

TEST(LearningTest, UsageGrowsWithActivationsAndFades) {
  struct Row {
    const char* name;
    double count;  // 0: no use stored
    double daysAgo;
    double usage;
  };
  const Row rows[] = {
      {"never used", 0, 0, 0},
      {"one activation", 1, 0, 18},
      {"three activations", 3, 0, 36},
      {"thirty-one reach the cap", 31, 0, 90},
      {"more stay at the cap", 1000, 0, 90},
      {"thirty days later", 1, 30, 18 / std::exp(1.0)},
      {"capped, sixty days later", 1000, 60, 90 * std::exp(-2.0)},
      {"clock set back", 1, -5, 18},
  };
  for (const Row& row : rows) {
    json uses = json::object();
    if (row.count > 0) uses["a"] = {{"count", row.count}, {"last", kNow - row.daysAgo * kDay}};
    test::MemoryDefaults defaults;
    defaults.setData("learning.v1", encoded(uses, json::object()));
    test::ManualClock clock(kNow);
    const Learning learning(defaults, clock);
    EXPECT_NEAR(learning.boost("a", ""), row.usage, 1e-9) << row.name;
    EXPECT_NEAR(learning.boost("a", "unpicked"), row.usage, 1e-9) << row.name;
  }
}

TEST(LearningTest, PickBoostIsShareOfMostPicked) {
  struct Pick {
    std::string id;
    std::string query;
  };
  struct Row {
    const char* name;
    std::vector<Pick> picks;
    std::string key;
    double bonus;  // of "a", above its usage
  };
  const Row rows[] = {
      {"only pick of a prefix", {{"a", " Saf "}}, "sa", 250},
      {"most picked", {{"a", "sa"}, {"a", "sa"}, {"b", "sa"}}, "sa", 250},
      {"half as often as the most picked", {{"a", "sa"}, {"b", "sa"}, {"b", "sa"}}, "sa", 125},
      {"picked under another key", {{"a", "x"}, {"b", "sa"}}, "sa", 0},
      {"twelfth character still learned",
       {{"a", kTwentyLetters}},
       kTwentyLetters.substr(0, 12),
       250},
      {"key beyond twelve characters", {{"a", kTwentyLetters}}, kTwentyLetters, 0},
  };
  for (const Row& row : rows) {
    test::MemoryDefaults defaults;
    test::ManualClock clock(kNow);
    Learning learning(defaults, clock);
    for (const Pick& pick : row.picks) learning.record(pick.id, pick.query);
    EXPECT_NEAR(learning.boost("a", row.key) - learning.boost("a", ""), row.bonus, 1e-9)
        << row.name;
  }
}

TEST(LearningTest, PruningDropsSinglePicksOnlyAboveTheLimit) {
  struct Row {
    const char* name;
    int singlePickKeys;  // "k0", "k1", …, besides "kept" picked twice
    std::string query;
    std::size_t keysAfter;
  };
  const Row rows[] = {
      {"3000 keys are kept", 2998, "q", 3000},
      {"3001 keys lose every single pick", 2999, "q", 1},
      {"a key picked again survives", 2999, "k0", 2},
  };
  for (const Row& row : rows) {
    json picks = {{"kept", {{"x", 2}}}};
    for (int index = 0; index < row.singlePickKeys; ++index) {
      picks["k" + std::to_string(index)] = {{"x", 1}};
    }
    test::MemoryDefaults defaults;
    defaults.setData("learning.v1", encoded(json::object(), picks));
    test::ManualClock clock(kNow);
    Learning(defaults, clock).record("y", row.query);
    const json stored = saved(defaults);
    EXPECT_EQ(stored["picks"].size(), row.keysAfter) << row.name;
    EXPECT_TRUE(stored["picks"].contains("kept")) << row.name;
    EXPECT_TRUE(stored["uses"].contains("y")) << row.name;
  }
}

TEST(LearningTest, UnreadableStoreStartsEmptyAndIsSetAsideOnce) {
  const std::string valid = R"({"uses":{"a":{"count":1,"last":0}},"picks":{}})";
  struct Row {
    const char* name;
    std::optional<std::string> stored;
    double usage;  // of "a" once loaded
    bool setAside;
  };
  const Row rows[] = {
      {"nothing stored", std::nullopt, 0, false},
      {"readable store", valid, 18, false},
      {"not JSON", R"({"uses":)", 0, true},
      {"picks missing", R"({"uses":{"a":{"count":1,"last":0}}})", 0, true},
      {"uses missing", R"({"picks":{}})", 0, true},
      {"count is text", R"({"uses":{"a":{"count":"1","last":0}},"picks":{}})", 0, true},
      {"pick is fractional", R"({"uses":{"a":{"count":1,"last":0}},"picks":{"s":{"a":1.5}}})", 0,
       true},
  };
  for (const Row& row : rows) {
    test::MemoryDefaults defaults;
    if (row.stored) defaults.setData("learning.v1", *row.stored);
    const int writesBefore = defaults.writes();
    test::ManualClock clock(0);
    Learning learning(defaults, clock);
    EXPECT_EQ(defaults.writes(), writesBefore) << row.name;
    EXPECT_EQ(learning.boost("a", ""), row.usage) << row.name;

    learning.record("b", "x");
    EXPECT_EQ(learning.boost("b", ""), 18) << row.name;
    EXPECT_EQ(saved(defaults)["uses"]["b"]["count"], 1) << row.name;
    EXPECT_EQ(saved(defaults)["uses"].contains("a"), row.usage > 0) << row.name;
    EXPECT_EQ(defaults.data("learning.v1.unreadable"),
              row.setAside ? row.stored : std::optional<std::string>())
        << row.name;
    learning.record("b", "x");
    EXPECT_EQ(defaults.writes() - writesBefore, row.setAside ? 3 : 2) << row.name;
  }
}

TEST(LearningTest, SavedStoreReadsBackTheSame) {
  test::MemoryDefaults defaults;
  test::ManualClock clock(kNow);
  Learning first(defaults, clock);
  first.record("a", " Saf ");
  first.record("a", "Saf");
  first.record("b", "sa");
  first.record("\xFF", "q");
  clock.advance(3 * kDay);
  const Learning second(defaults, clock);

  struct Row {
    const char* name;
    std::string id;
    std::string idAfter;
    std::string key;
  };
  const Row rows[] = {
      {"usage", "a", "a", ""},
      {"most picked", "a", "a", "saf"},
      {"less picked", "b", "b", "sa"},
      {"id that is not UTF-8 kept as U+FFFD", "\xFF", "\uFFFD", "q"},
  };
  for (const Row& row : rows) {
    EXPECT_DOUBLE_EQ(second.boost(row.idAfter, row.key), first.boost(row.id, row.key)) << row.name;
  }
}

TEST(LearningTest, TopRanksByRecentUse) {
  struct Use {
    std::string id;
    double count;
    double daysAgo;
  };
  struct Row {
    const char* name;
    std::vector<Use> uses;
    std::size_t count;
    std::vector<std::string> ids;
  };
  // Enough equal scores that a sort which is not stable would shuffle them.
  std::vector<Use> tied;
  std::vector<std::string> tiedIds;
  for (int index = 10; index < 30; ++index) {
    tiedIds.push_back("id" + std::to_string(index));
    tied.push_back({tiedIds.back(), 2, 0});
  }
  const Row rows[] = {
      {"fewer than asked", {{"a", 1, 0}, {"b", 3, 0}, {"c", 2, 0}}, 8, {"b", "c", "a"}},
      {"cut to the count", {{"a", 1, 0}, {"b", 3, 0}, {"c", 2, 0}}, 2, {"b", "c"}},
      {"fresh use beats a fading habit", {{"old", 10, 14}, {"new", 4, 0}}, 2, {"new", "old"}},
      {"ties keep id order", tied, tied.size(), tiedIds},
      {"nothing used", {}, 8, {}},
  };
  for (const Row& row : rows) {
    json uses = json::object();
    for (const Use& use : row.uses) {
      uses[use.id] = {{"count", use.count}, {"last", kNow - use.daysAgo * kDay}};
    }
    test::MemoryDefaults defaults;
    defaults.setData("learning.v1", encoded(uses, json::object()));
    test::ManualClock clock(kNow);
    EXPECT_EQ(Learning(defaults, clock).top(row.count), row.ids) << row.name;
  }
}

}  // namespace
}  // namespace varek
