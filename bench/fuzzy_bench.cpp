// Scores the benchmark queries against every name of the benchmark index, the work the
// unified search repeats for each keystroke. Reports nanoseconds per target scored.
//
//   fuzzy_bench [--benchmark_repetitions=5]   (VAREK_APPLICATIONS overrides the folder)
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "search/fuzzy.h"

namespace {

const std::vector<std::string> kQueries = {"s",          "sa",    "saf",  "safa", "safari",
                                           "sys",        "einst", "vsc",  "term", "12*7+3",
                                           "5 km in mi", "wlan",  "sperr"};

// The names of the index: each entry's Name and, where it has one, its German Name[de].
std::vector<std::string> indexNames() {
  const char* override = std::getenv("VAREK_APPLICATIONS");
  const std::filesystem::path folder = override ? override : VAREK_FIXTURE_APPLICATIONS;
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.path().extension() != ".desktop") continue;
    std::ifstream file(entry.path());
    bool inMainGroup = false;
    for (std::string line; std::getline(file, line);) {
      if (line.starts_with('[')) inMainGroup = line == "[Desktop Entry]";
      if (!inMainGroup) continue;
      for (std::string_view key : {"Name=", "Name[de]="}) {
        if (line.starts_with(key)) names.push_back(line.substr(key.size()));
      }
    }
  }
  return names;
}

void scoreIndex(benchmark::State& state) {
  std::vector<varek::Fuzzy::Target> targets;
  for (const auto& name : indexNames()) targets.emplace_back(name);
  if (targets.empty()) {
    state.SkipWithError("no desktop entries found; set VAREK_APPLICATIONS");
    return;
  }
  std::vector<varek::Fuzzy::Query> queries;
  for (const auto& text : kQueries) queries.emplace_back(text);

  for (auto _ : state) {
    for (const auto& query : queries) {
      for (const auto& target : targets) {
        benchmark::DoNotOptimize(varek::Fuzzy::score(query, target));
      }
    }
  }
  const double scored = static_cast<double>(targets.size() * queries.size());
  state.counters["targets"] = static_cast<double>(targets.size());
  state.counters["ns_per_target"] = benchmark::Counter(
      scored * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(scoreIndex)->Unit(benchmark::kMicrosecond);

void buildTargets(benchmark::State& state) {
  const auto names = indexNames();
  for (auto _ : state) {
    for (const auto& name : names) benchmark::DoNotOptimize(varek::Fuzzy::Target(name));
  }
  state.counters["ns_per_target"] = benchmark::Counter(
      static_cast<double>(names.size()) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(buildTargets)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
