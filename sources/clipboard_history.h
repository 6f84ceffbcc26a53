// The newest 200 distinct texts and file lists copied while the launcher runs, kept in
// "zwischenablage.json". The clipboard has no change signal, so it is polled twice a
// second; copies marked as secret or transient by password managers are never kept.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/defaults.h"
#include "platform/pasteboard.h"
#include "platform/scheduler.h"

namespace varek {

class ClipboardHistory : public std::enable_shared_from_this<ClipboardHistory> {
 public:
  struct Entry {
    std::string text;  // exactly as copied
    double date;       // seconds since 2001-01-01 UTC of the latest copy
  };

  static constexpr std::size_t kMaxEntries = 200;
  // Longer copies (in characters) are left out of the list and the file.
  static constexpr std::size_t kMaxCharacters = 99'999;
  static constexpr double kPollSeconds = 0.5;
  static constexpr double kPollTolerance = 0.2;

  // Remembers the clipboard's current change count, so what is on it now is not
  // recorded, and creates the file's folder. Loads nothing; call start().
  ClipboardHistory(Pasteboard& pasteboard, Scheduler& scheduler, const Clock& clock,
                   Defaults& defaults, std::string file);

  const std::vector<Entry>& entries() const { return entries_; }
  std::int64_t lastChange() const { return lastChange_; }
  // Marks the clipboard's content up to this change as seen (the launcher's own copies).
  void setLastChange(std::int64_t change) { lastChange_ = change; }

  // Whether recording is on ("clipboardEnabled", on when unset).
  bool enabled() const;
  void setEnabled(bool enabled);
  bool polling() const { return timer_ != nullptr; }

  // Loads the file over the list in memory, then polls if recording is on.
  void start();
  // One look at the clipboard; the timer calls it.
  void poll();
  // Empties the list and the file ("Verlauf leeren").
  void clear();

 private:
  void save();

  Pasteboard& pasteboard_;
  Scheduler& scheduler_;
  const Clock& clock_;
  Defaults& defaults_;
  std::string file_;
  std::vector<Entry> entries_;
  std::int64_t lastChange_;
  std::unique_ptr<Scheduler::Timer> timer_;
  // The last load found a file it could not read; the next save moves it aside first.
  bool setAsideBeforeSave_ = false;
};

}  // namespace varek
