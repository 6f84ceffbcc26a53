#include "app/command_search.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>

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
  bool filesArrived = false;
  model.setObserver([&](SearchModel::Field field) {
    if (field == SearchModel::Field::items) filesArrived = true;
  });
  model.setMode(line.mode);
  // The model searches when the text changes; an empty query changes nothing.
  if (line.text.empty()) {
    model.search();
  } else {
    model.setQuery(line.text);
  }
  filesArrived = false;
  // A file search runs only where the query can show file rows (mode and length decide).
  if (model.files().running()) {
    const int wait = line.mode == SearchModel::Mode::files ? kFilesModeWaitMs : kRecentFilesWaitMs;
    processEventsFor(wait, [&] { return filesArrived; });
  }
  model.setObserver(nullptr);
}

}  // namespace varek
