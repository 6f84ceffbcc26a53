// The built-in benchmark: 13 typical queries, each typed 20 times, timed by the model's
// own measurement of each search; beside it the same searches as a plain scan of the
// index, the least any search of it can cost, which the real one is held against.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "search/search_model.h"

namespace varek {

inline constexpr std::array<std::string_view, 13> kBenchQueries = {
    "s",   "sa",   "saf",    "safa",       "safari", "sys",  "einst",
    "vsc", "term", "12*7+3", "5 km in mi", "wlan",   "sperr"};
inline constexpr int kBenchRepetitions = 20;

struct BenchResult {
  std::size_t searches = 0;
  double median = 0;        // ms, the upper of the two middle values
  double percentile95 = 0;  // ms
  double maximum = 0;       // ms
  std::size_t entries = 0;  // applications and settings panes in the index
};

// The statistics of a list of search durations in milliseconds.
BenchResult summarize(std::vector<double> durations, std::size_t entries);
// Runs the 260 searches on the model, leaving its query empty afterwards.
BenchResult bench(SearchModel& model);
// "Bench: 260 Suchen, Median 0.01 ms, 95% 0.02 ms, Max 0.05 ms, 388 Einträge im Index"
std::string benchLine(const BenchResult& result);

// The 260 searches as a plain scan over the index's folded names: a prefix, a substring
// and a subsequence test each, no ranking and no rows. entries counts the names.
BenchResult plainScan(const AppIndex& index);
// "Einfacher Durchlauf über 416 Namen: Median 0.01 ms, 95% 0.01 ms; die Suche braucht
// das 1.80-Fache"
std::string plainScanLine(const BenchResult& plain, const BenchResult& search);

}  // namespace varek
