// The launcher end to end, as a user meets it, beside rofi in the same interleaved runs:
// hotkey to the panel's first complete frame, keystroke to the repainted list, resident
// memory over many openings, cold start to a grabbed hotkey, and `varek query` as a whole
// process (beside `fzf --filter` where fzf is installed). Once over the benchmark index of
// 388 desktop entries, once over 10 000 generated ones; prints one table of medians.
//
// Runs on an X11 desktop of its own, with no launcher running on its session bus:
//   scripts/with-desktop build/…/bench/varek_e2e_bench [--openings 50] [--starts 10]
//       [--queries 20] [--keys edi] [--large 10000] [--without-rofi] [--varek PATH]
// scripts/bench-desktop builds it and does that.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/e2e/bus_name.h"
#include "bench/e2e/desktop_entries.h"
#include "bench/e2e/processes.h"
#include "bench/e2e/x11_frame_watch.h"

namespace {

using namespace varek::e2e;
using std::chrono::milliseconds;

constexpr const char* kBusName = "zz.orvel.varek";
// The launcher's panel window is titled so.
constexpr const char* kPanelTitle = "Varek";
// The launcher paints its panel once off-screen a second after it starts; an opening
// before that would time the warm-up instead of the panel.
constexpr milliseconds kWarmUpWait(2000);
// Generous for a cold start over a large index on a loaded machine.
constexpr milliseconds kStartLimit(30000);
constexpr milliseconds kCommandLimit(30000);
constexpr milliseconds kRofiExitLimit(3000);
constexpr int kEscapesToHide = 3;
constexpr milliseconds kHideLimit(300);
constexpr double kPercentile = 0.95;

struct Options {
  int openings = 50;
  int starts = 10;
  int queries = 20;
  std::string keys = "edi";
  std::size_t large = 10000;
  bool rofi = true;
  std::string varek = VAREK_BINARY;
};

// Measured values, and how many times nothing came to measure.
struct Samples {
  std::vector<double> values;
  int missed = 0;

  void add(std::optional<double> value) {
    if (value) {
      values.push_back(*value);
    } else {
      ++missed;
    }
  }
  // Nearest rank: the smallest value that at least this share of the values do not exceed.
  std::optional<double> quantile(double share) const {
    if (values.empty()) return std::nullopt;
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(share * static_cast<double>(sorted.size())));
    return sorted[std::max<std::size_t>(rank, 1) - 1];
  }
};

// One program's figures over one index; the rival's are rofi's and fzf's.
struct Figures {
  Samples open;       // hotkey (rofi: its start) to the first complete frame, ms
  Samples key;        // keystroke to the repainted list, ms
  Samples repaints;   // drawings (damage reports) per keystroke
  Samples memory;     // resident MiB after each opening's typing
  Samples start;      // process start to hotkey grabbed and bus name claimed, ms
  Samples query;      // the whole query process, ms
  std::string bench;  // the launcher's own "Bench: …" line
};

struct IndexRun {
  std::string label;
  std::filesystem::path share;
  Figures varek = {}, rival = {};
  bool rofi = false, fzf = false;
};

double millisecondsSince(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

std::optional<double> elapsed(Clock::time_point start, std::optional<Clock::time_point> end) {
  if (!end) return std::nullopt;
  return std::chrono::duration<double, std::milli>(*end - start).count();
}

std::string readFile(const std::filesystem::path& file) {
  std::ifstream stream(file);
  std::stringstream text;
  text << stream.rdbuf();
  return text.str();
}

// The launcher's last start line in its log says whether the hotkey was grabbed.
bool hotkeyReady() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state == nullptr) return false;
  std::ifstream log(std::filesystem::path(state) / "Varek" / "Varek.log");
  std::string started;
  for (std::string line; std::getline(log, line);) {
    if (line.find(" gestartet: ") != std::string::npos) started = line;
  }
  return started.find(" bereit, ") != std::string::npos;
}

// Runs a command to its end; its whole time in ms, nothing when it failed or hung.
std::optional<double> timeCommand(const Launch& launch) {
  const Clock::time_point begin = Clock::now();
  const auto process = start(launch);
  if (!process || !awaitExit(*process, kCommandLimit)) {
    if (process) stop(*process);
    return std::nullopt;
  }
  return millisecondsSince(begin);
}

class Bench {
 public:
  Bench(Options options, FrameWatch& watch, BusName& bus, std::filesystem::path scratch)
      : options_(std::move(options)), watch_(watch), bus_(bus), scratch_(std::move(scratch)) {}

  bool measure(IndexRun& run) {
    run.rofi = options_.rofi && onPath("rofi");
    run.fzf = onPath("fzf");
    const std::vector<std::string> variables = {"XDG_DATA_DIRS=" + run.share.string()};
    std::fprintf(stderr, "%s: cold starts\n", run.label.c_str());
    const auto launcher = coldStarts(run, variables);
    if (!launcher) return false;
    std::this_thread::sleep_for(kWarmUpWait);
    if (!watch_.watchWindowOf(*launcher, kPanelTitle)) {
      std::fprintf(stderr, "varek_e2e_bench: the launcher has no window „%s“\n", kPanelTitle);
      stop(*launcher);
      return false;
    }
    std::fprintf(stderr, "%s: %d openings\n", run.label.c_str(), options_.openings);
    for (int opening = 0; opening < options_.openings; ++opening) {
      if (!openVarek(*launcher, run.varek)) {
        stop(*launcher);
        return false;
      }
      if (run.rofi) openRofi(variables, run.rival);
    }
    std::fprintf(stderr, "%s: queries\n", run.label.c_str());
    const std::filesystem::path names = scratch_ / "names.txt";
    {
      std::ofstream list(names);
      for (const std::string& name : entryNames(run.share)) list << name << '\n';
    }
    for (int query = 0; query < options_.queries; ++query) {
      run.varek.query.add(timeCommand(
          {.arguments = {options_.varek, "query", "--", options_.keys}, .variables = variables}));
      if (run.fzf) {
        run.rival.query.add(timeCommand(
            {.arguments = {"fzf", "--filter", options_.keys}, .input = names.string()}));
      }
    }
    const std::filesystem::path benchOutput = scratch_ / "bench.txt";
    if (timeCommand({.arguments = {options_.varek, "bench"},
                     .variables = variables,
                     .output = benchOutput.string()})) {
      run.varek.bench = readFile(benchOutput);
      if (!run.varek.bench.empty() && run.varek.bench.back() == '\n') run.varek.bench.pop_back();
    }
    stop(*launcher);
    bus_.await(false, Clock::time_point(), kStartLimit);
    return true;
  }

 private:
  // Starts the launcher as often as asked, each time until it is ready; the last one
  // stays running for the openings.
  std::optional<pid_t> coldStarts(IndexRun& run, const std::vector<std::string>& variables) {
    for (int attempt = 0; attempt < options_.starts; ++attempt) {
      const Clock::time_point begin = Clock::now();
      const auto launcher =
          start({.arguments = {options_.varek}, .variables = variables, .errors = ""});
      if (!launcher) {
        std::fprintf(stderr, "varek_e2e_bench: %s did not start\n", options_.varek.c_str());
        return std::nullopt;
      }
      const auto ready = bus_.await(true, begin, kStartLimit);
      run.varek.start.add(elapsed(begin, ready));
      if (!ready || !hotkeyReady()) {
        std::fprintf(stderr,
                     "varek_e2e_bench: the launcher did not become ready with its hotkey "
                     "Alt+Leertaste (see its log)\n");
        stop(*launcher);
        return std::nullopt;
      }
      if (attempt + 1 == options_.starts) return launcher;
      stop(*launcher);
      bus_.await(false, begin, kStartLimit);
    }
    return std::nullopt;
  }

  void typeKeys(Figures& figures) {
    for (const char letter : options_.keys) {
      const Frame frame = watch_.awaitFrame(watch_.press(static_cast<Key>(letter)));
      figures.key.add(frame.milliseconds);
      figures.repaints.add(frame.repaints);
    }
  }

  bool openVarek(pid_t launcher, Figures& figures) {
    figures.open.add(watch_.awaitFrame(watch_.press(kSpace, {kAlt})).milliseconds);
    typeKeys(figures);
    figures.memory.add(residentMiB(launcher));
    // Escape takes one step back at a time: the text first, then the panel.
    for (int step = 0; step < kEscapesToHide; ++step) {
      watch_.press(kEscape);
      if (watch_.awaitHidden(kHideLimit)) return true;
    }
    std::fprintf(stderr, "varek_e2e_bench: the panel did not hide on Escape\n");
    return false;
  }

  void openRofi(const std::vector<std::string>& variables, Figures& figures) {
    watch_.watchNewWindows(true);
    const Clock::time_point begin = Clock::now();
    const auto rofi = start({.arguments = {"rofi", "-show", "drun"}, .variables = variables});
    if (!rofi) {
      watch_.watchNewWindows(false);
      figures.open.add(std::nullopt);
      return;
    }
    figures.open.add(watch_.awaitFrame(begin).milliseconds);
    typeKeys(figures);
    figures.memory.add(residentMiB(*rofi));
    watch_.press(kEscape);
    if (!awaitExit(*rofi, kRofiExitLimit)) stop(*rofi);
    watch_.watchNewWindows(false);
  }

  Options options_;
  FrameWatch& watch_;
  BusName& bus_;
  std::filesystem::path scratch_;
};

std::string number(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// "3.1 / 4.0": median and p95 (or the maximum) with the given number of decimals.
std::string pair(const Samples& samples, double second, int decimals) {
  const auto median = samples.quantile(0.5);
  if (!median) return samples.missed > 0 ? "none came" : "—";
  std::string cell =
      number(*median, decimals) + " / " + number(*samples.quantile(second), decimals);
  if (samples.missed > 0) cell += " (" + std::to_string(samples.missed) + " missed)";
  return cell;
}

std::string memoryCell(const Samples& samples, bool growth) {
  if (samples.values.empty()) return "—";
  char text[64];
  if (growth) {
    std::snprintf(text, sizeof text, "%.1f → %.1f", samples.values.front(), samples.values.back());
  } else {
    std::snprintf(text, sizeof text, "%.1f", *samples.quantile(0.5));
  }
  return text;
}

// Median and p95, and the size of the index, out of the launcher's line "Bench: 260 Suchen,
// Median 0.02 ms, 95% 0.05 ms, Max 0.20 ms, 388 Einträge im Index".
struct BenchLine {
  double median = 0, p95 = 0, maximum = 0;
  std::size_t entries = 0;
};

std::optional<BenchLine> parseBenchLine(const std::string& line) {
  const std::size_t median = line.find("Median ");
  BenchLine parsed;
  if (median == std::string::npos ||
      std::sscanf(line.c_str() + median, "Median %lf ms, 95%% %lf ms, Max %lf ms, %zu",
                  &parsed.median, &parsed.p95, &parsed.maximum, &parsed.entries) != 4) {
    return std::nullopt;
  }
  return parsed;
}

void printTable(const std::vector<IndexRun>& runs, const Options& options) {
  std::vector<std::array<std::string, 5>> rows;
  std::array<std::string, 5> header{"", "", "", "", ""};
  std::array<std::string, 5> programs{"", "", "", "", ""};
  for (std::size_t index = 0; index < runs.size() && index < 2; ++index) {
    header[1 + 2 * index] = runs[index].label;
    programs[1 + 2 * index] = "varek";
    programs[2 + 2 * index] = runs[index].rofi ? "rofi" : "(no rofi)";
  }
  rows.push_back(header);
  rows.push_back(programs);
  const auto row = [&](std::string label, auto varekCell, auto rivalCell) {
    std::array<std::string, 5> cells{std::move(label), "", "", "", ""};
    for (std::size_t index = 0; index < runs.size() && index < 2; ++index) {
      cells[1 + 2 * index] = varekCell(runs[index]);
      cells[2 + 2 * index] = rivalCell(runs[index]);
    }
    rows.push_back(cells);
  };
  const auto none = [](const IndexRun&) { return std::string("—"); };
  row(
      "hotkey → first frame, ms (rofi: its start)",
      [](const IndexRun& run) { return pair(run.varek.open, kPercentile, 1); },
      [](const IndexRun& run) { return pair(run.rival.open, kPercentile, 1); });
  row(
      "  first opening after start, ms",
      [](const IndexRun& run) {
        return run.varek.open.values.empty() ? std::string("—")
                                             : number(run.varek.open.values.front(), 1);
      },
      none);
  row(
      "keystroke → repainted list, ms",
      [](const IndexRun& run) { return pair(run.varek.key, kPercentile, 1); },
      [](const IndexRun& run) { return pair(run.rival.key, kPercentile, 1); });
  row(
      "drawings per keystroke (median / max)",
      [](const IndexRun& run) { return pair(run.varek.repaints, 1, 0); },
      [](const IndexRun& run) { return pair(run.rival.repaints, 1, 0); });
  row(
      "RSS after typing, MiB (varek: 1st → last opening; rofi: median)",
      [](const IndexRun& run) { return memoryCell(run.varek.memory, true); },
      [](const IndexRun& run) { return memoryCell(run.rival.memory, false); });
  row(
      "cold start → hotkey and bus name, ms",
      [](const IndexRun& run) { return pair(run.varek.start, kPercentile, 1); }, none);
  row(
      "whole `varek query` (rofi column: fzf --filter), ms",
      [](const IndexRun& run) { return pair(run.varek.query, kPercentile, 1); },
      [](const IndexRun& run) {
        return run.fzf ? pair(run.rival.query, kPercentile, 1) : "(no fzf)";
      });
  row(
      "search, `varek bench`, ms",
      [](const IndexRun& run) {
        const auto bench = parseBenchLine(run.varek.bench);
        return bench ? number(bench->median, 2) + " / " + number(bench->p95, 2) : "—";
      },
      none);
  row(
      "entries in the launcher's index",
      [](const IndexRun& run) {
        const auto bench = parseBenchLine(run.varek.bench);
        return bench ? std::to_string(bench->entries) : "—";
      },
      none);

  std::array<std::size_t, 5> widths{};
  // Widths in characters, not bytes: the table has arrows, dashes and umlauts.
  const auto length = [](const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char byte) {
      return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
    }));
  };
  for (const auto& cells : rows) {
    for (std::size_t column = 0; column < cells.size(); ++column) {
      widths[column] = std::max(widths[column], length(cells[column]));
    }
  }
  std::printf(
      "\n%d openings, keys \"%s\", %d cold starts, %d query runs; medians / p95 unless said\n",
      options.openings, options.keys.c_str(), options.starts, options.queries);
  for (const auto& cells : rows) {
    for (std::size_t column = 0; column < cells.size(); ++column) {
      std::printf("%s%s%s", column == 0 ? "" : "  ", cells[column].c_str(),
                  std::string(widths[column] - length(cells[column]), ' ').c_str());
    }
    std::printf("\n");
  }
}

std::optional<Options> parseOptions(int argc, char** argv) {
  Options options;
  const std::map<std::string, std::function<bool(const char*)>> valued = {
      {"--openings", [&](const char* value) { return (options.openings = std::atoi(value)) > 0; }},
      {"--starts", [&](const char* value) { return (options.starts = std::atoi(value)) > 0; }},
      {"--queries", [&](const char* value) { return (options.queries = std::atoi(value)) > 0; }},
      {"--large",
       [&](const char* value) { return (options.large = std::strtoul(value, nullptr, 10)) > 0; }},
      {"--keys",
       [&](const char* value) {
         options.keys = value;
         return !options.keys.empty() &&
                std::all_of(options.keys.begin(), options.keys.end(),
                            [](char letter) { return letter >= 'a' && letter <= 'z'; });
       }},
      {"--varek", [&](const char* value) { return !(options.varek = value).empty(); }},
  };
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    if (argument == "--without-rofi") {
      options.rofi = false;
      continue;
    }
    const auto option = valued.find(argument);
    if (option == valued.end() || index + 1 >= argc || !option->second(argv[++index])) {
      std::fprintf(stderr,
                   "usage: varek_e2e_bench [--openings N] [--starts N] [--queries N] [--keys "
                   "LOWERCASE] [--large N] [--without-rofi] [--varek PATH]\n");
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parseOptions(argc, argv);
  if (!options) return 2;
  const auto watch = connectX11FrameWatch();
  if (!watch) {
    std::fprintf(stderr,
                 "varek_e2e_bench: needs an X11 display with the DAMAGE and XTEST "
                 "extensions (run it in scripts/with-desktop)\n");
    return 1;
  }
  BusName bus(kBusName);
  if (!bus.connected() || bus.owned()) {
    std::fprintf(stderr, "varek_e2e_bench: needs a session bus on which no launcher runs yet\n");
    return 1;
  }
  std::string folderTemplate =
      (std::filesystem::temp_directory_path() / "varek-e2e.XXXXXX").string();
  if (mkdtemp(folderTemplate.data()) == nullptr) return 1;
  const std::filesystem::path scratch = folderTemplate;
  const std::unique_ptr<const std::filesystem::path, void (*)(const std::filesystem::path*)>
      removal(&scratch,
              [](const std::filesystem::path* folder) { std::filesystem::remove_all(*folder); });

  std::vector<IndexRun> runs;
  runs.push_back({.label = "388 entries", .share = VAREK_FIXTURE_SHARE});
  const std::filesystem::path large = scratch / "share";
  if (!writeDesktopEntries(large, options->large)) {
    std::fprintf(stderr, "varek_e2e_bench: could not write the desktop entries\n");
    return 1;
  }
  runs.push_back({.label = std::to_string(options->large) + " entries", .share = large});

  Bench bench(*options, *watch, bus, scratch);
  for (IndexRun& run : runs) {
    if (!bench.measure(run)) return 1;
  }
  printTable(runs, *options);
  return 0;
}
