#include "search/bench.h"

#include <algorithm>
#include <cstdio>

namespace varek {

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

}  // namespace varek
