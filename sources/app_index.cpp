#include "sources/app_index.h"

#include <limits>
#include <unordered_set>
#include <utility>

namespace varek {
namespace {

// Before the first scan every refresh must count as stale, whatever the clock says.
constexpr double kDistantPast = -std::numeric_limits<double>::max();

AppIndex::Entry appEntry(const ScannedApp& app) {
  AppIndex::Entry entry{.name = app.name,
                        .description = app.description,
                        .path = app.path,
                        .kind = Item::Kind::app,
                        .targets = {},
                        .url = std::nullopt,
                        .id = "app:" + app.path};
  entry.targets.emplace_back(app.name);
  if (!app.alternateName.empty() && app.alternateName != app.name) {
    entry.targets.emplace_back(app.alternateName);
  }
  return entry;
}

// Settings panes keep a fixed pair of targets, so a pane's second name always sits at
// the same place even when it repeats the first.
AppIndex::Entry settingEntry(const ScannedApp& setting) {
  AppIndex::Entry entry{.name = setting.name,
                        .description = setting.description,
                        .path = setting.path,
                        .kind = Item::Kind::setting,
                        .targets = {},
                        .url = setting.url,
                        .id = "set:" + setting.path};
  entry.targets.emplace_back(setting.name);
  entry.targets.emplace_back(setting.alternateName.empty() ? setting.name : setting.alternateName);
  return entry;
}

}  // namespace

AppIndex::AppIndex(const AppScanner& scanner, Scheduler& scheduler, const Clock& clock)
    : scanner_(scanner), scheduler_(scheduler), clock_(clock), lastScan_(kDistantPast) {}

void AppIndex::fill() {
  entries_ = scan(scanner_);
  lastScan_ = clock_.now();
}

void AppIndex::refresh(Refresh refresh) {
  const double now = clock_.now();
  if (refresh != Refresh::force && now - lastScan_ <= kThrottleSeconds) return;
  // Taken at the start, so that opening the panel again while this scan runs starts none.
  lastScan_ = now;
  scheduler_.runSerial(kQueue, [self = shared_from_this()] {
    std::vector<Entry> scanned = scan(self->scanner_);
    self->scheduler_.post(
        [self, scanned = std::move(scanned)]() mutable { self->entries_ = std::move(scanned); });
  });
}

std::vector<AppIndex::Entry> AppIndex::scan(const AppScanner& scanner) {
  std::vector<Entry> entries;
  // Overlapping search folders can report one file twice; only such exact repeats go, so one
  // program installed under two paths keeps both rows.
  std::unordered_set<std::string> seenPaths;
  const AppScan scanned = scanner.scan();
  for (const ScannedApp& app : scanned.apps) {
    if (app.name.empty() || !seenPaths.insert(app.path).second) continue;
    entries.push_back(appEntry(app));
  }
  for (const ScannedApp& setting : scanned.settings) {
    if (setting.name.empty()) continue;
    entries.push_back(settingEntry(setting));
  }
  return entries;
}

}  // namespace varek
