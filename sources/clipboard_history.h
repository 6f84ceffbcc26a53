// The newest 200 distinct texts and file lists copied while the launcher runs, kept in
// "zwischenablage.json". The clipboard has no change signal, so it is polled twice a
// second; copies marked as secret or transient by password managers are never kept. Every
// change is made to the file as it is at that moment, so other processes' entries are kept
// and an emptied history stays empty.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/defaults.h"
#include "platform/pasteboard.h"
#include "platform/scheduler.h"
#include "platform/private_file.h"

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
  // recorded, creates the file's folder and removes what writers killed while saving left
  // there. Loads nothing; call start().
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
  // Loads the file again if another process changed it since; cheap when none did.
  void refresh();
  // One look at the clipboard; the timer calls it.
  void poll();
  // Empties the list and the file ("Verlauf leeren"); entries that another process still
  // holds in memory do not come back with its next copy.
  void clear();

 private:
  // Takes the file's list when it can be read.
  void load();
  // Applies operation to the list in the file as it is now (or, when the file is missing
  // or unreadable, to the list in memory), saves and keeps the result.
  void change(const std::function<void(std::vector<Entry>&)>& operation);

  Pasteboard& pasteboard_;
  Scheduler& scheduler_;
  const Clock& clock_;
  Defaults& defaults_;
  std::string file_;
  std::vector<Entry> entries_;
  std::int64_t lastChange_;
  std::unique_ptr<Scheduler::Timer> timer_;
  // The file that entries_ was last loaded from or saved to.
  std::optional<PrivateFile::Stamp> stamp_;
};

}  // namespace varek
