// The launcher's benchmark on the in-memory desktop: first the 260 searches of the
// built-in benchmark over the benchmark index (its "Bench: …" line), then Google
// Benchmark figures per source. The index is read from the desktop entries' Name,
// Name[de] and Categories, as the desktop backend will present them.
//
//   varek_bench [--benchmark_filter=…]   (VAREK_APPLICATIONS overrides the folder)
//
// Counters named ns_per_… are nanoseconds (Google Benchmark prints them with an "s").
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "search/bench.h"
#include "search/fuzzy.h"
#include "search/search_model.h"
#include "sources/calculator.h"
#include "tests/support/fake_platform.h"

namespace {

using varek::ScannedApp;

struct BenchIndex {
  std::vector<ScannedApp> apps, settings;
};

BenchIndex readIndex() {
  const char* override = std::getenv("VAREK_APPLICATIONS");
  const std::filesystem::path folder = override ? override : VAREK_FIXTURE_APPLICATIONS;
  BenchIndex index;
  std::error_code error;
  for (const auto& file : std::filesystem::directory_iterator(folder, error)) {
    if (file.path().extension() != ".desktop") continue;
    std::ifstream stream(file.path());
    std::string name, german, categories;
    bool inMainGroup = false;
    for (std::string line; std::getline(stream, line);) {
      if (line.starts_with('[')) inMainGroup = line == "[Desktop Entry]";
      if (!inMainGroup) continue;
      if (line.starts_with("Name=")) name = line.substr(5);
      if (line.starts_with("Name[de]=")) german = line.substr(9);
      if (line.starts_with("Categories=")) categories = line.substr(11);
    }
    if (name.empty()) continue;
    ScannedApp entry{.name = german.empty() ? name : german,
                     .alternateName = name,
                     .path = file.path().string(),
                     .url = std::nullopt};
    const bool setting = categories.find("X-GNOME-Settings-Panel") != std::string::npos;
    (setting ? index.settings : index.apps).push_back(std::move(entry));
  }
  return index;
}

struct BenchDesktop {
  varek::test::FakePlatform fake;
  std::shared_ptr<varek::SearchModel> model;

  BenchDesktop() {
    const BenchIndex index = readIndex();
    fake.appScanner.apps = index.apps;
    fake.appScanner.settings = index.settings;
    model = varek::SearchModel::create(fake.platform());
  }
};

BenchDesktop& desktop() {
  static BenchDesktop instance;
  return instance;
}

void scoreIndex(benchmark::State& state) {
  const varek::Fuzzy::Targets& targets = desktop().model->apps().targets();
  std::vector<varek::Fuzzy::Query> queries;
  for (auto text : varek::kBenchQueries) queries.emplace_back(text);
  for (auto _ : state) {
    for (const auto& query : queries) {
      for (std::size_t target = 0; target < targets.size(); ++target)
        benchmark::DoNotOptimize(targets.score(query, target));
    }
  }
  state.counters["targets"] = static_cast<double>(targets.size());
  state.counters["ns_per_target"] = benchmark::Counter(
      static_cast<double>(targets.size() * queries.size()) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(scoreIndex)->Unit(benchmark::kMicrosecond);

void buildTargets(benchmark::State& state) {
  std::vector<std::string> names;
  for (const auto& app : desktop().fake.appScanner.apps) names.push_back(app.name);
  for (auto _ : state) {
    varek::Fuzzy::Targets targets;
    for (std::uint32_t item = 0; item < names.size(); ++item) targets.add(item, names[item]);
    benchmark::DoNotOptimize(targets);
  }
  state.counters["ns_per_target"] = benchmark::Counter(
      static_cast<double>(names.size()) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(buildTargets)->Unit(benchmark::kMicrosecond);

void calculator(benchmark::State& state) {
  const char* inputs[] = {"12*7+3", "5 km in mi", "safari", "sqrt(16)+2^10"};
  for (auto _ : state) {
    for (const char* input : inputs) benchmark::DoNotOptimize(varek::Calculator::evaluate(input));
  }
  state.counters["ns_per_query"] = benchmark::Counter(
      4e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(calculator)->Unit(benchmark::kMicrosecond);

// One unified search per benchmark query, as a keystroke runs it.
void everything(benchmark::State& state) {
  auto& model = *desktop().model;
  const std::string term(varek::kBenchQueries[static_cast<std::size_t>(state.range(0))]);
  state.SetLabel(term);
  for (auto _ : state) benchmark::DoNotOptimize(model.everything(term));
}
BENCHMARK(everything)
    ->DenseRange(0, varek::kBenchQueries.size() - 1)
    ->Unit(benchmark::kMicrosecond);

// The clipboard mode filters a full history of 200 entries by folded substring.
void clipboardMode(benchmark::State& state) {
  auto& fake = desktop().fake;
  auto& model = *desktop().model;
  while (model.clipboard().entries().size() < varek::ClipboardHistory::kMaxEntries) {
    fake.pasteboard.copy("Eintrag " + std::to_string(model.clipboard().entries().size()) +
                         " mit etwas längerem Text über Straßen und Cafés");
    fake.scheduler.advance(varek::ClipboardHistory::kPollSeconds);
  }
  for (auto _ : state) benchmark::DoNotOptimize(model.clipboardItems("café 1"));
}
BENCHMARK(clipboardMode)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  const varek::BenchResult result = varek::bench(*desktop().model);
  std::printf("%s\n", varek::benchLine(result).c_str());
  const varek::BenchResult plain = varek::plainScan(desktop().model->apps());
  std::printf("%s\n", varek::plainScanLine(plain, result).c_str());
  std::fflush(stdout);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
