// Files and folders under the home folder whose name contains the typed term, from the
// desktop's live file index, ranked by the matcher and delivered whenever the index
// reports: the newest content first, or only what was opened in the last 730 days.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/file_index.h"
#include "platform/workspace.h"
#include "search/item.h"

namespace varek {

class FileSearch : public std::enable_shared_from_this<FileSearch> {
 public:
  struct Options {
    int limit = 8;            // rows per delivery
    bool openedOnly = false;  // only files opened within the last 730 days
  };
  using Results = std::function<void(std::vector<Item>)>;

  static constexpr double kOpenedWithinSeconds = 730 * 86400.0;
  // Only this many index results are ranked per delivery, in the index's date order.
  static constexpr int kExamined = 300;

  FileSearch(FileIndex& index, Workspace& workspace, const Clock& clock, std::string home);

  // Where each delivery goes, on the main queue.
  void setOnResults(Results onResults) { onResults_ = std::move(onResults); }
  // Replaces any running query. A term under two characters delivers an empty list at once.
  void search(std::string_view term, Options options);
  // Ends the running query; nothing more is delivered for it.
  void stop();

  const std::string& term() const { return term_; }
  int limit() const { return limit_; }
  bool running() const { return query_ != nullptr; }

  // Build output, package folders, hidden paths and object files.
  static bool isNoise(std::string_view path);

 private:
  void gathered(const std::vector<FileIndex::Hit>& hits);

  FileIndex& index_;
  Workspace& workspace_;
  const Clock& clock_;
  std::string home_;
  Results onResults_;
  std::unique_ptr<FileIndex::Query> query_;
  std::string term_;
  int limit_ = 8;
  // Counts queries started and stopped; a delivery carries the count of its own query, so
  // one that arrives for a replaced or stopped query is recognised and dropped.
  std::uint64_t generation_ = 0;
};

}  // namespace varek
