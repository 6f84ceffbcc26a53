#include "sources/app_index.h"

#include <cstdint>
#include <limits>
#include <unordered_set>
#include <utility>

namespace varek {
namespace {

// Before the first scan every refresh must count as stale, whatever the clock says.
constexpr double kDistantPast = -std::numeric_limits<double>::max();

// An application is found by its name and by its untranslated name where that differs.
void addApp(AppIndex::Contents& contents, const ScannedApp& app) {
  const auto item = static_cast<std::uint32_t>(contents.entries.size());
  contents.entries.push_back({.name = app.name,
                              .description = app.description,
                              .path = app.path,
                              .kind = Item::Kind::app,
                              .url = std::nullopt,
                              .id = "app:" + app.path});
  contents.targets.add(item, app.name);
  if (!app.alternateName.empty() && app.alternateName != app.name) {
    contents.targets.add(item, app.alternateName);
  }
}

// Settings panes keep a fixed pair of targets, so a pane's second name always sits at
// the same place even when it repeats the first.
void addSetting(AppIndex::Contents& contents, const ScannedApp& setting) {
  const auto item = static_cast<std::uint32_t>(contents.entries.size());
  contents.entries.push_back({.name = setting.name,
                              .description = setting.description,
                              .path = setting.path,
                              .kind = Item::Kind::setting,
                              .url = setting.url,
                              .id = "set:" + setting.path});
  contents.targets.add(item, setting.name);
  contents.targets.add(item, setting.alternateName.empty() ? setting.name : setting.alternateName);
}

}  // namespace

AppIndex::AppIndex(const AppScanner& scanner, Scheduler& scheduler, const Clock& clock)
    : scanner_(scanner), scheduler_(scheduler), clock_(clock), lastScan_(kDistantPast) {}

void AppIndex::fill() {
  contents_ = scan(scanner_);
  fingerprint_ = contents_.fingerprint;
  ++revision_;
  lastScan_ = clock_.now();
}

void AppIndex::refresh(Refresh refresh) {
  const double now = clock_.now();
  if (refresh != Refresh::force && now - lastScan_ <= kThrottleSeconds) return;
  // Taken at the start, so that opening the panel again while this scan runs starts none.
  lastScan_ = now;
  scheduler_.runSerial(kQueue, [self = shared_from_this()] {
    // Rebuilding unchanged lists would cost a scan and replace every target for nothing.
    std::string fingerprint = self->scanner_.fingerprint();
    if (!fingerprint.empty() && fingerprint == self->fingerprint_) return;
    Contents scanned = scan(self->scanner_);
    self->fingerprint_ = scanned.fingerprint;
    self->scheduler_.post([self, scanned = std::move(scanned)]() mutable {
      self->contents_ = std::move(scanned);
      ++self->revision_;
    });
  });
}

AppIndex::Contents AppIndex::scan(const AppScanner& scanner) {
  Contents contents;
  // Overlapping search folders can report one file twice; only such exact repeats go, so one
  // program installed under two paths keeps both rows.
  std::unordered_set<std::string> seenPaths;
  const AppScan scanned = scanner.scan();
  for (const ScannedApp& app : scanned.apps) {
    if (app.name.empty() || !seenPaths.insert(app.path).second) continue;
    addApp(contents, app);
  }
  for (const ScannedApp& setting : scanned.settings) {
    if (setting.name.empty()) continue;
    addSetting(contents, setting);
  }
  contents.fingerprint = scanned.fingerprint;
  return contents;
}

}  // namespace varek
