#include "search/learning.h"

#include <cmath>
#include <limits>
#include <optional>
#include <tuple>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/manual_clock.h"
#include "tests/support/memory_defaults.h"

namespace varek {
namespace {

using nlohmann::json;

constexpr double kDay = 86400;
constexpr double kNow = 100 * kDay;
constexpr long long kLargest = std::numeric_limits<long long>::max();

// A use as stored: count activations, the last one the given days before kNow.
json use(double count, double days) { return {{"count", count}, {"last", kNow - days * kDay}}; }

class LearningTest : public ::testing::Test {
 protected:
  Learning& load() { return learning.emplace(defaults, clock); }
  Learning& load(const json& uses, const json& picks = json::object()) {
    defaults.setData("learning.v1", json({{"uses", uses}, {"picks", picks}}).dump());
    return load();
  }
  json saved() const { return json::parse(defaults.data("learning.v1").value_or("null")); }

  test::MemoryDefaults defaults;
  test::ManualClock clock{kNow};
  std::optional<Learning> learning;
};

TEST_F(LearningTest, RecordCountsTheUseAndOnePickPerPrefix) {
  // Each query is also the id it picks, so the rows share one store without mixing.
  const std::pair<std::string, std::vector<std::string>> rows[] = {
      {" Saf ", {"s", "sa", "saf"}},
      {"\tCafé\u3000", {"c", "ca", "caf", "cafe"}},
      {"\nn", {"\n", "\nn"}},  // a line break is rarely accidental, so it is no blank
      {"🇩🇪x", {"🇩🇪", "🇩🇪x"}},  // a flag is one character to the user
      {" \t\u3000\u00A0", {}},
      {"abcdefghijklmnopqrst",
       {"a", "ab", "abc", "abcd", "abcde", "abcdef", "abcdefg", "abcdefgh", "abcdefghi",
        "abcdefghij", "abcdefghijk", "abcdefghijkl"}},
  };
  json uses = json::object(), picks = json::object();
  load();
  for (const auto& [query, keys] : rows) {
    learning->record(query, query);
    uses[query] = use(1, 0);
    for (const std::string& key : keys) picks[key][query] = 1;
  }
  EXPECT_EQ(saved(), json({{"uses", uses}, {"picks", picks}}));
  EXPECT_EQ(learning->boost(" Saf ", ""), 18);
  EXPECT_EQ(learning->boost("unknown", ""), 0);
}

TEST_F(LearningTest, UsageGrowsWithActivationsAndFades) {
  load({{"3", use(3, 0)}, {"1000", use(1000, 0)}, {"old", use(1, 30)}, {"ahead", use(1, -5)}});
  EXPECT_NEAR(learning->boost("3", "unpicked"), 36, 1e-9);
  EXPECT_NEAR(learning->boost("1000", ""), 90, 1e-9);
  EXPECT_NEAR(learning->boost("old", ""), 18 / std::exp(1.0), 1e-9);
  EXPECT_NEAR(learning->boost("ahead", ""), 18, 1e-9);  // a clock set back is no bonus
}

TEST_F(LearningTest, PickBonusIsTheShareOfTheMostPicked) {
  // Each pick is the id's one letter followed by the query.
  load();
  for (const char* pick : {"a Saf ", "asa", "bSa", "cx"}) learning->record({pick[0]}, pick + 1);
  EXPECT_NEAR(learning->boost("a", "sa") - learning->boost("a", ""), 250, 1e-9);
  EXPECT_NEAR(learning->boost("b", "sa") - learning->boost("b", ""), 125, 1e-9);
  EXPECT_EQ(learning->boost("c", "sa"), learning->boost("c", ""));
}

TEST_F(LearningTest, PruningDropsSinglePicksOnlyAboveTheLimit) {
  // singles: keys "k0", "k1", … picked once, besides "kept" picked twice or, summed, more
  // often than a long long counts.
  const json twice = {{"x", 2}}, beyondLongLong = {{"a", kLargest}, {"b", kLargest}};
  for (auto [singles, query, keysAfter, kept] : {std::tuple{2998, "q", 3000u, twice},
                                                 {2999, "q", 1u, twice},
                                                 {2999, "k0", 2u, twice},
                                                 {3000, "zz", 1u, beyondLongLong}}) {
    json picks = {{"kept", kept}};
    for (int index = 0; index < singles; ++index) picks["k" + std::to_string(index)] = {{"x", 1}};
    load(json::object(), picks).record("y", query);
    EXPECT_EQ(saved()["picks"].size(), keysAfter) << singles << " " << query;
    EXPECT_TRUE(saved()["picks"].contains("kept")) << singles << " " << query;
  }
}

TEST_F(LearningTest, UnreadableStoreStartsEmptyAndIsSetAsideOnce) {
  // A half-read store would drop the rest at the next save, so any flaw rejects it whole.
  const std::string uses = R"({"uses":{"b":{"count":1,"last":0}})";
  for (const std::string& bytes : {uses, uses + "}", uses + R"(,"picks":{"s":{"b":1.5}}})"}) {
    defaults.setData("learning.v1", bytes);
    const int writes = defaults.writes();
    load().record("b", "x");
    learning->record("b", "x");
    EXPECT_EQ(saved()["uses"]["b"]["count"], 2) << bytes;
    EXPECT_EQ(defaults.data("learning.v1.unreadable"), bytes);
    EXPECT_EQ(defaults.writes() - writes, 3) << bytes;  // set aside at the first save only
  }
}

// Stores that record() can never write, hand-edited or damaged; the rows replay what the
// fuzzers in tests/fuzz found. Each must load without undefined behaviour, give finite
// bonuses, and save a store that reads back.
TEST_F(LearningTest, HostileStoreLoadsRanksAndRecordsSafely) {
  const std::tuple<const char*, std::string, bool, long long> rows[] = {
      // what the store shows, the store, whether it is set aside, the pick count after
      {"negative use count", R"({"uses":{"a":{"count":-1,"last":0}},"picks":{}})", true, 1},
      {"use count in (-1, 0)", R"({"uses":{"a":{"count":-0.5,"last":0}},"picks":{}})", true, 1},
      {"largest pick count", R"({"uses":{},"picks":{"a":{"a":9223372036854775807}}})", false,
       kLargest},
  };
  for (const auto& [name, stored, setAside, picksAfter] : rows) {
    defaults = test::MemoryDefaults();
    defaults.setData("learning.v1", stored);
    load();
    EXPECT_TRUE(std::isfinite(learning->boost("a", "a"))) << name;
    learning->record("a", "a");
    EXPECT_TRUE(std::isfinite(learning->boost("a", "a"))) << name;
    EXPECT_GT(learning->boost("a", ""), 0) << name;
    EXPECT_EQ(saved()["picks"]["a"]["a"], picksAfter) << name;
    EXPECT_EQ(defaults.data("learning.v1.unreadable").has_value(), setAside) << name;
  }
}

TEST_F(LearningTest, SavedStoreReadsBackTheSame) {
  Learning& first = load();
  for (const char* pick : {"a Saf ", "aSaf", "bsa", "\xFFq"}) first.record({pick[0]}, pick + 1);
  clock.advance(3 * kDay);
  const Learning second(defaults, clock);
  EXPECT_DOUBLE_EQ(second.boost("a", ""), first.boost("a", ""));
  EXPECT_DOUBLE_EQ(second.boost("a", "saf"), first.boost("a", "saf"));
  EXPECT_DOUBLE_EQ(second.boost("b", "sa"), first.boost("b", "sa"));
  // Ids are opaque bytes; one that is not UTF-8 comes back as U+FFFD.
  EXPECT_DOUBLE_EQ(second.boost("\uFFFD", "q"), first.boost("\xFF", "q"));
}

TEST_F(LearningTest, TopRanksByRecentUse) {
  // Ten uses fourteen days ago weigh 10/e, below four uses today.
  json uses = {{"old", use(10, 14)}, {"new", use(4, 0)}, {"once", use(1, 0)}};
  // Enough equal scores that a sort which is not stable would shuffle them.
  std::vector<std::string> all = {"new", "old", "once"};
  for (int index = 10; index < 30; ++index)
    uses[all.emplace_back("t" + std::to_string(index))] = use(0.5, 0);
  load(uses);
  EXPECT_EQ(learning->top(8), std::vector<std::string>(all.begin(), all.begin() + 8));
  EXPECT_EQ(learning->top(100), all);
}

}  // namespace
}  // namespace varek
