// The file index of the Linux desktop: Tracker 3's file miner, asked through
// libtracker-sparql and kept live by its notifier; the desktop's recently-used.xbel for
// files opened lately; and, where no miner answers, a walk of the home folder.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_index.h"

namespace varek {

class Log;
// Both are shared with the queries they serve, which may outlive the index.
class TrackerMiner;  // the connection to the miner, its prepared statement and notifier
class RecentFiles;   // recently-used.xbel, read again only after it changed

class TrackerFileIndex : public FileIndex {
 public:
  struct Setup {
    // The miner's D-Bus name; one that nobody owns or can start leaves only the walk.
    std::string service = "org.freedesktop.Tracker3.Miner.Files";
    // Where to search; empty means $HOME.
    std::string home{};
    // The recent files; empty means $XDG_DATA_HOME/recently-used.xbel.
    std::string recentFiles{};
    // Told once when the miner does not answer.
    const Log* log = nullptr;
  };

  // Starts connecting to the miner at once, so that the first query need not wait for it.
  // Indexes of one process share the connection to a miner.
  TrackerFileIndex();
  explicit TrackerFileIndex(Setup setup);
  ~TrackerFileIndex() override;

  std::unique_ptr<Query> start(const Request& request, Results deliver) override;

 private:
  std::string home_;
  std::shared_ptr<TrackerMiner> miner_;
  std::shared_ptr<RecentFiles> recent_;
  // Writes once into the log why files are found by walking; queries call it too.
  std::function<void(std::string_view)> tellUnanswered_;
};

}  // namespace varek
