#include "app/command_search.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>
#include <memory>
#include <utility>
#include <vector>

namespace varek {
namespace {

// File rows arrive after the synchronous search; a command waits this long for them.
constexpr int kRecentFilesWaitMs = 1000;
constexpr int kFilesModeWaitMs = 4000;
// Listing the windows takes a round trip per window; a command waits this long at most.
constexpr int kWindowsWaitMs = 2000;

// What the panel refreshes each time it opens: the application in front (a layout row
// places its window) and the open windows, which the model lists in the background.
void refreshAsThePanelDoes(SearchModel& model) {
  model.willShow();
  model.refreshSources();
  // The list is made on the scheduler's pool and handed back through the event loop.
  QThreadPool::globalInstance()->waitForDone(kWindowsWaitMs);
  QCoreApplication::processEvents();
}

}  // namespace

void processEventsFor(int milliseconds, const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds && !(done && done())) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(1);
  }
}

void searchAsThePanelDoes(SearchModel& model, const CommandLine& line) {
  refreshAsThePanelDoes(model);
  // The model merges each delivery of file rows into its list, as it does for the panel,
  // but tells its observer only of a list that changed; the command waits for the delivery
  // itself. Shared, as the file search keeps the handler beyond this call.
  const auto delivered = std::make_shared<bool>(false);
  model.files().setOnResults([weak = model.weak_from_this(), delivered](std::vector<Item> files) {
    if (const auto strong = weak.lock()) strong->mergeFiles(std::move(files));
    *delivered = true;
  });
  model.setMode(line.mode);
  // The model searches when the text changes; an empty query changes nothing.
  if (line.text.empty()) {
    model.search();
  } else {
    model.setQuery(line.text);
  }
  // A file search runs only where the query can show file rows (mode and length decide).
  if (model.files().running()) {
    const int wait = line.mode == SearchModel::Mode::files ? kFilesModeWaitMs : kRecentFilesWaitMs;
    processEventsFor(wait, [&] { return *delivered; });
  }
}

}  // namespace varek
