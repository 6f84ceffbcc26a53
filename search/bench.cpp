#include "search/bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "search/fuzzy.h"

namespace varek {
namespace {

bool isSubsequence(std::string_view typed, std::string_view name) {
  std::size_t next = 0;
  for (char byte : name) {
    if (next < typed.size() && byte == typed[next]) ++next;
  }
  return next == typed.size();
}

}  // namespace

BenchResult summarize(std::vector<double> durations, std::size_t entries) {
  BenchResult result{.searches = durations.size(), .entries = entries};
  if (durations.empty()) return result;
  std::sort(durations.begin(), durations.end());
  const std::size_t count = durations.size();
  result.median = durations[count / 2];
  result.percentile95 = durations[static_cast<std::size_t>(static_cast<double>(count) * 0.95)];
  result.maximum = durations[count - 1];
  return result;
}

BenchResult bench(SearchModel& model) {
  std::vector<double> durations;
  durations.reserve(kBenchQueries.size() * kBenchRepetitions);
  for (std::string_view query : kBenchQueries) {
    for (int repetition = 0; repetition < kBenchRepetitions; ++repetition) {
      // Each sample is a search for a text that differs from the one before.
      model.setQuery("");
      model.setQuery(std::string(query));
      durations.push_back(model.lastSearchMs());
    }
  }
  model.setQuery("");
  return summarize(std::move(durations), model.apps().entries().size());
}

std::string benchLine(const BenchResult& result) {
  char line[200];
  std::snprintf(
      line, sizeof line,
      "Bench: %zu Suchen, Median %.2f ms, 95%% %.2f ms, Max %.2f ms, %zu Einträge im Index",
      result.searches, result.median, result.percentile95, result.maximum, result.entries);
  return line;
}

BenchResult plainScan(const AppIndex& index) {
  const Fuzzy::Targets& targets = index.targets();
  std::vector<std::string> names;
  names.reserve(targets.size());
  for (std::size_t target = 0; target < targets.size(); ++target) {
    names.emplace_back(targets.compact(target));
  }
  std::vector<double> durations;
  durations.reserve(kBenchQueries.size() * kBenchRepetitions);
  for (std::string_view query : kBenchQueries) {
    for (int repetition = 0; repetition < kBenchRepetitions; ++repetition) {
      const auto start = std::chrono::steady_clock::now();
      const std::string typed = Fuzzy::Query(query).compact;
      std::size_t matches = 0;
      for (const std::string& name : names) {
        matches += name.starts_with(typed) || name.find(typed) != std::string::npos ||
                   isSubsequence(typed, name);
      }
      // Stored before the clock is read again, so the scan can neither be dropped nor
      // moved behind it.
      [[maybe_unused]] volatile std::size_t observed = matches;
      const std::chrono::duration<double, std::milli> elapsed =
          std::chrono::steady_clock::now() - start;
      durations.push_back(elapsed.count());
    }
  }
  return summarize(std::move(durations), names.size());
}

std::string plainScanLine(const BenchResult& plain, const BenchResult& search) {
  char line[200];
  std::snprintf(line, sizeof line,
                "Einfacher Durchlauf über %zu Namen: Median %.3f ms, 95%% %.3f ms; die Suche "
                "braucht das %.2f-Fache",
                plain.entries, plain.median, plain.percentile95,
                plain.median > 0 ? search.median / plain.median : 0.0);
  return line;
}

}  // namespace varek
