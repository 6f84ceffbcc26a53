// What the learning store does with stores nobody meant for it: hand-edited or damaged
// ones. The rows replay what the fuzzers in tests/fuzz found.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "search/learning.h"
#include "tests/support/manual_clock.h"
#include "tests/support/memory_defaults.h"

namespace varek {
namespace {

using json = nlohmann::json;

constexpr long long kLargest = std::numeric_limits<long long>::max();

json savedStore(const test::MemoryDefaults& defaults) {
  return json::parse(defaults.data("learning.v1").value_or("null"));
}

// Stores that record() can never write. Each must load without undefined behaviour, give
// finite bonuses, and save a store that reads back.
TEST(HostileLearningStore, LoadsRanksAndRecordsSafely) {
  const std::tuple<const char*, std::string, bool, long long> rows[] = {
      // what the store shows, the store, whether it is set aside, the pick count after
      {"negative use count", R"({"uses":{"a":{"count":-1,"last":0}},"picks":{}})", true, 1},
      {"use count in (-1, 0)", R"({"uses":{"a":{"count":-0.5,"last":0}},"picks":{}})", true, 1},
      {"largest pick count", R"({"uses":{},"picks":{"a":{"a":9223372036854775807}}})", false,
       kLargest},
  };
  for (const auto& [name, stored, setAside, picksAfter] : rows) {
    test::MemoryDefaults defaults;
    test::ManualClock clock(800'000'000);
    defaults.setData("learning.v1", stored);
    Learning learning(defaults, clock);
    EXPECT_TRUE(std::isfinite(learning.boost("a", "a"))) << name;
    learning.record("a", "a");
    EXPECT_TRUE(std::isfinite(learning.boost("a", "a"))) << name;
    EXPECT_GT(learning.boost("a", ""), 0) << name;
    EXPECT_EQ(savedStore(defaults)["picks"]["a"]["a"], picksAfter) << name;
    EXPECT_EQ(defaults.data("learning.v1.unreadable").has_value(), setAside) << name;
  }
}

// Pruning weighs each key by the sum of its counts; two of the largest must not overflow.
TEST(HostileLearningStore, PrunesAStoreWhoseCountsSumBeyondLongLong) {
  json picks = {{"big", {{"a", kLargest}, {"b", kLargest}}}};
  for (int key = 0; key < 3000; ++key) picks["k" + std::to_string(key)] = {{"a", 1}};
  test::MemoryDefaults defaults;
  test::ManualClock clock(800'000'000);
  defaults.setData("learning.v1", json({{"uses", json::object()}, {"picks", picks}}).dump());
  Learning(defaults, clock).record("a", "zz");
  EXPECT_TRUE(savedStore(defaults)["picks"].contains("big"));
  EXPECT_FALSE(savedStore(defaults)["picks"].contains("k0"));
}

}  // namespace
}  // namespace varek
