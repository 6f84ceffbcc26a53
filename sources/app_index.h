// The launchable applications and settings panes, each with its match targets prepared,
// so that a keystroke only runs the matcher. Refreshed in the background when the panel
// opens, at most every 30 seconds.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/app_scanner.h"
#include "platform/clock.h"
#include "platform/scheduler.h"
#include "search/fuzzy.h"
#include "search/item.h"

namespace varek {

class AppIndex : public std::enable_shared_from_this<AppIndex> {
 public:
  struct Entry {
    std::string name;
    std::string description;  // an application's row shows it beneath the name
    std::string path;
    Item::Kind kind;                 // app or setting
    std::optional<std::string> url;  // settings panes open through this address
    std::string id;                  // the row id, "app:" or "set:" and the path
  };
  // The entries with the names they are found by: item i of targets is entries[i].
  struct Contents {
    std::vector<Entry> entries;
    Fuzzy::Targets targets;
    std::string fingerprint;  // the scan's
  };

  enum class Refresh { ifStale, force };

  // The serial queue on which refresh scans run, one at a time.
  static constexpr const char* kQueue = "zz.orvel.varek.appindex";
  // A refresh within this many seconds of the last scan's start does nothing.
  static constexpr double kThrottleSeconds = 30;

  // Empty until fill() or a refresh; scans nothing by itself.
  AppIndex(const AppScanner& scanner, Scheduler& scheduler, const Clock& clock);

  const std::vector<Entry>& entries() const { return contents_.entries; }
  const Fuzzy::Targets& targets() const { return contents_.targets; }
  double lastScan() const { return lastScan_; }
  // Rises whenever the entries are replaced, so what a caller derives from them holds
  // until then.
  std::size_t revision() const { return revision_; }

  // Scans on the calling thread and replaces the entries at once (the first fill at start).
  void fill();
  // Scans on the index's queue and replaces the entries on the main queue when done;
  // when the scanner's fingerprint is as at the last scan, keeps them (and their revision).
  void refresh(Refresh refresh = Refresh::ifStale);

  // Applications first, then settings panes, with their targets; callable on any thread.
  static Contents scan(const AppScanner& scanner);

 private:
  const AppScanner& scanner_;
  Scheduler& scheduler_;
  const Clock& clock_;
  Contents contents_;
  std::size_t revision_ = 0;
  double lastScan_;
  // The scanner's fingerprint at the last scan; touched only by the scan in progress, and
  // scans run one at a time.
  std::string fingerprint_;
};

}  // namespace varek
