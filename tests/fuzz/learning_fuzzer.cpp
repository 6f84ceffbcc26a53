// The learning store loaded from arbitrary bytes under "learning.v1": whatever was stored,
// reading, ranking and recording work, and the next save is a store that reads back.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "search/learning.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/manual_clock.h"
#include "tests/support/memory_defaults.h"

namespace {

using varek::fuzz::require;

constexpr const char* kKey = "learning.v1";
constexpr const char* kUnreadableKey = "learning.v1.unreadable";
constexpr double kNow = 800'000'000;

// An id and a query key that the bytes already hold, if any, so that recording also
// meets stored counts; otherwise the bytes themselves serve as id and query.
void chooseIdAndQuery(const std::string& bytes, std::string& id, std::string& query) {
  id = "app:" + bytes;
  query = bytes;
  const auto root = nlohmann::json::parse(bytes, nullptr, false);
  if (!root.is_object()) return;
  const auto uses = root.find("uses");
  if (uses != root.end() && uses->is_object() && !uses->empty()) id = uses->begin().key();
  const auto picks = root.find("picks");
  if (picks == root.end() || !picks->is_object() || picks->empty()) return;
  query = picks->begin().key();
  if (picks->begin()->is_object() && !picks->begin()->empty()) id = picks->begin()->begin().key();
}

void checkReadings(const varek::Learning& learning, const std::string& id,
                   const std::string& query) {
  for (const std::string& key : {std::string(), varek::Learning::queryKey(query), query}) {
    const double boost = learning.boost(id, key);
    require(std::isfinite(boost), "a boost is a finite number");
  }
  const auto top = learning.top(8);
  require(top.size() <= 8, "top keeps to its count");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  varek::test::MemoryDefaults defaults;
  varek::test::ManualClock clock(kNow);
  defaults.setData(kKey, bytes);
  std::string id, query;
  chooseIdAndQuery(bytes, id, query);

  varek::Learning learning(defaults, clock);
  checkReadings(learning, id, query);
  learning.record(id, query);
  checkReadings(learning, id, query);
  require(learning.boost(id, "") > 0, "a recorded id earns a usage bonus");

  const auto saved = nlohmann::json::parse(defaults.data(kKey).value_or(""), nullptr, false);
  require(saved.is_object() && saved.contains("uses") && saved.contains("picks"),
          "the saved store is JSON with uses and picks");
  const auto setAside = defaults.data(kUnreadableKey);
  require(!setAside || *setAside == bytes, "unreadable bytes are set aside unchanged");

  // What this save wrote is read back in full: nothing of it is set aside again.
  varek::Learning reloaded(defaults, clock);
  reloaded.record(id, query);
  require(defaults.data(kUnreadableKey) == setAside, "a saved store reads back");
  return 0;
}
