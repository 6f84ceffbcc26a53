#include "search/learning.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <numeric>
#include <utility>

#include <unicode/brkiter.h>
#include <unicode/utext.h>
#include <nlohmann/json.hpp>

#include "search/fold.h"
#include "search/unicode.h"

namespace varek {
namespace {

// The defaults key of the store; a new layout gets a new version rather than a migration.
constexpr const char* kKey = "learning.v1";
// Where bytes that could not be read are set aside before the first save replaces them,
// so a damaged store can still be recovered by hand.
constexpr const char* kUnreadableKey = "learning.v1.unreadable";

// Prefixes longer than this are typed too rarely to be worth remembering.
constexpr std::size_t kMaxPrefixLength = 12;
// Above this many prefix keys the one-off picks are dropped, so the store cannot grow
// without bound from queries typed once.
constexpr std::size_t kPruneAbove = 3000;

// The usage part grows with the logarithm of the activations and stops at the cap, so a
// habit helps ranking but never outweighs what the user picked for the very query.
constexpr double kUsageCap = 90;
constexpr double kUsageScale = 18;
// Days after which the usage part has fallen to 1/e of its value.
constexpr double kUsageDecayDays = 30;
// Days after which an item's weight among the most used has fallen to 1/e; shorter than
// kUsageDecayDays because that list should follow what the user does these days.
constexpr double kRecentDecayDays = 14;
// The bonus of the item picked most often after exactly this query key.
constexpr double kPickWeight = 250;

constexpr double kSecondsPerDay = 86400;
// The byte lengths of the key's first one, two, … user-perceived characters, up to
// kMaxPrefixLength of them; an emoji flag or a syllable counts as one, as the user sees it.
std::vector<std::size_t> prefixLengths(const std::string& key) {
  std::vector<std::size_t> lengths;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> characters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  std::unique_ptr<UText, decltype(&utext_close)> text(
      utext_openUTF8(nullptr, key.data(), static_cast<std::int64_t>(key.size()), &status),
      &utext_close);
  if (U_FAILURE(status)) return lengths;
  characters->setText(text.get(), status);
  if (U_FAILURE(status)) return lengths;
  for (std::int32_t boundary = characters->next();
       boundary != icu::BreakIterator::DONE && lengths.size() < kMaxPrefixLength;
       boundary = characters->next()) {
    lengths.push_back(static_cast<std::size_t>(boundary));
  }
  return lengths;
}

// Summed in double: a hand-edited store may hold counts whose sum overflows long long,
// and pruning only asks whether the sum exceeds one, which double answers exactly for
// every count small enough to matter.
double total(const std::map<std::string, long long>& counts) {
  return std::accumulate(counts.begin(), counts.end(), 0.0, [](double sum, const auto& entry) {
    return sum + static_cast<double>(entry.second);
  });
}

// A clock set back makes a use look as if it lay in the future; it counts as just now,
// so no weight can rise above what a fresh use gets.
double decay(const Learning::Use& use, double now, double days) {
  const double age = std::max(0.0, now - use.last) / kSecondsPerDay;
  return std::exp(-age / days);
}

bool isPickCount(const nlohmann::json& value) {
  if (!value.is_number_integer()) return false;
  return !value.is_number_unsigned() ||
         value.get<std::uint64_t>() <=
             static_cast<std::uint64_t>(std::numeric_limits<long long>::max());
}

// The store held in bytes, or nothing when any part of them is not in the stored layout:
// a half-read store would silently drop what it could not read at the next save.
std::optional<Learning::Store> decode(const std::string& bytes) {
  const auto root = nlohmann::json::parse(bytes, nullptr, false);
  if (!root.is_object()) return std::nullopt;
  const auto uses = root.find("uses");
  const auto picks = root.find("picks");
  if (uses == root.end() || picks == root.end() || !uses->is_object() || !picks->is_object()) {
    return std::nullopt;
  }
  Learning::Store store;
  for (const auto& [id, use] : uses->items()) {
    if (!use.is_object()) return std::nullopt;
    const auto count = use.find("count");
    const auto last = use.find("last");
    if (count == use.end() || last == use.end() || !count->is_number() || !last->is_number()) {
      return std::nullopt;
    }
    // record() only ever adds to a count; a negative one would turn the logarithm of the
    // usage bonus into minus infinity or NaN, which no ranking can sort.
    if (count->get<double>() < 0) return std::nullopt;
    store.uses.emplace(id, Learning::Use{count->get<double>(), last->get<double>()});
  }
  for (const auto& [key, counts] : picks->items()) {
    if (!counts.is_object()) return std::nullopt;
    auto& stored = store.picks[key];
    for (const auto& [id, count] : counts.items()) {
      if (!isPickCount(count)) return std::nullopt;
      stored.emplace(id, count.get<long long>());
    }
  }
  return store;
}

// Ids are opaque and may hold bytes that are not UTF-8; those are written as U+FFFD
// rather than failing the whole save, so every other use and pick is still kept.
std::string encode(const Learning::Store& store) {
  nlohmann::json uses = nlohmann::json::object();
  for (const auto& [id, use] : store.uses) uses[id] = {{"count", use.count}, {"last", use.last}};
  nlohmann::json picks = nlohmann::json::object();
  for (const auto& [key, counts] : store.picks) picks[key] = counts;
  const nlohmann::json root = {{"uses", std::move(uses)}, {"picks", std::move(picks)}};
  return root.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Counts one activation of id at now after a query with the given key.
void add(Learning::Store& store, const std::string& id, const std::string& key, double now) {
  Learning::Use& use = store.uses[id];
  use.count += 1;
  use.last = now;
  for (const std::size_t length : prefixLengths(key)) {
    long long& picks = store.picks[key.substr(0, length)][id];
    // A hand-edited store may already hold the largest count; it stays there rather than
    // overflowing.
    if (picks < std::numeric_limits<long long>::max()) ++picks;
  }
  if (store.picks.size() > kPruneAbove) {
    std::erase_if(store.picks, [](const auto& entry) { return total(entry.second) <= 1; });
  }
}

}  // namespace

Learning::Learning(Defaults& defaults, const Clock& clock) : defaults_(defaults), clock_(clock) {
  if (const auto bytes = defaults_.data(kKey)) {
    if (auto store = decode(*bytes)) keep(std::move(*store));
  }
}

void Learning::record(const std::string& id, const std::string& query) {
  const double now = clock_.now();
  const std::string key = queryKey(query);
  // The pick is added to the store as saved now, not to this process's older copy, so the
  // picks that "varek run" and the launcher make at the same time add up.
  defaults_.update([&](Defaults& stored) {
    Store store;
    if (const auto bytes = stored.data(kKey)) {
      if (auto decoded = decode(*bytes)) {
        store = std::move(*decoded);
      } else {
        stored.setData(kUnreadableKey, *bytes);
      }
    }
    add(store, id, key, now);
    stored.setData(kKey, encode(store));
    keep(std::move(store));
  });
}

void Learning::keep(Store store) {
  store_ = std::move(store);
  known_.clear();
  for (const auto& [id, use] : store_.uses) known_.insert(id);
  for (const auto& [key, counts] : store_.picks) {
    for (const auto& [id, count] : counts) known_.insert(id);
  }
  ++revision_;
}

double Learning::boost(const std::string& id, const std::string& key) const {
  double usage = 0;
  if (const auto use = store_.uses.find(id); use != store_.uses.end()) {
    usage = std::min(kUsageCap, kUsageScale * std::log2(use->second.count + 1)) *
            decay(use->second, clock_.now(), kUsageDecayDays);
  }
  if (key.empty()) return usage;

  const auto counts = store_.picks.find(key);
  if (counts == store_.picks.end()) return usage;
  const auto picked = counts->second.find(id);
  if (picked == counts->second.end()) return usage;
  long long most = 0;
  for (const auto& [other, count] : counts->second) most = std::max(most, count);
  // Only a hand-edited store holds counts below one; they earn nothing rather than a
  // division by zero.
  if (most <= 0) return usage;
  return usage + kPickWeight * static_cast<double>(picked->second) / static_cast<double>(most);
}

std::vector<std::string> Learning::top(std::size_t count) const {
  const double now = clock_.now();
  std::vector<std::pair<double, const std::string*>> ranked;
  ranked.reserve(store_.uses.size());
  for (const auto& [id, use] : store_.uses) {
    ranked.emplace_back(use.count * decay(use, now, kRecentDecayDays), &id);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& left, const auto& right) { return left.first > right.first; });
  std::vector<std::string> ids;
  for (std::size_t index = 0; index < std::min(count, ranked.size()); ++index) {
    ids.push_back(*ranked[index].second);
  }
  return ids;
}

std::string Learning::queryKey(std::string_view query) { return fold(unicode::trimBlanks(query)); }

}  // namespace varek
