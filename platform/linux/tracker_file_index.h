// The file index of the Linux desktop: Tracker 3's file miner, asked through
// libtracker-sparql and kept live by its notifier; the desktop's recently-used.xbel for
// files opened lately; and, where no miner answers, a walk of the home folder.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_index.h"

namespace varek {

class Log;
class Scheduler;
// Both are shared with the queries they serve, which may outlive the index.
class TrackerMiner;  // the connection to the miner, its prepared statement and notifier
class RecentFiles;   // recently-used.xbel, read again only after it changed

class TrackerFileIndex : public FileIndex {
 public:
  // A desktop prunes its history (GTK forgets files unused for 30 days), so a real one
  // holds a few hundred to a few thousand bookmarks; a runaway writer's file has held
  // 125 000 (50 MB). Only the most recently used are kept: each search looks through them
  // on the main thread.
  static constexpr std::size_t kRecentFilesKept = 2000;
  // Writers append new bookmarks at the end, so the end of the file is read: 4 MiB holds
  // twice the kept number at the 400 to 1000 bytes a bookmark takes, leaving room for
  // bookmarks that are used again where they were first added.
  static constexpr std::size_t kRecentFilesBytes = 4 << 20;

  struct Setup {
    // The miner's D-Bus name; one that nobody owns or can start leaves only the walk.
    std::string service = "org.freedesktop.Tracker3.Miner.Files";
    // Where to search; empty means $HOME.
    std::string home{};
    // The recent files; empty means $XDG_DATA_HOME/recently-used.xbel.
    std::string recentFiles{};
    // Told once when the miner does not answer, and once when the recent files are read
    // only in part.
    const Log* log = nullptr;
  };

  // Starts reading the recent files at once, on the scheduler's background queue, so that
  // the first query need not wait for them. The miner is connected to when the first query
  // of all files starts; indexes of one process share the connection to a miner.
  TrackerFileIndex(Scheduler& scheduler, Setup setup);
  ~TrackerFileIndex() override;

  std::unique_ptr<Query> start(const Request& request, Results deliver) override;

 private:
  Scheduler& scheduler_;
  std::string home_;
  std::string service_;
  std::shared_ptr<TrackerMiner> miner_;  // from the first query of all files on
  std::shared_ptr<RecentFiles> recent_;
  // Writes once into the log why files are found by walking; queries call it too.
  std::function<void(std::string_view)> tellUnanswered_;
};

}  // namespace varek
