#include "app/memory_release.h"

#include <malloc.h>

#include <QEvent>
#include <QWidget>

namespace varek {
namespace {

// Long enough for the background rescan that the opening started to have landed, and for
// a quick reopening to find the memory still there.
constexpr int kHiddenForMs = 1000;

}  // namespace

MemoryRelease::MemoryRelease(QWidget& panel) : QObject(&panel) {
  trim_.setSingleShot(true);
  trim_.setInterval(kHiddenForMs);
  // Returns every whole free page of every arena, not only the end of the main heap.
  connect(&trim_, &QTimer::timeout, this, [] { malloc_trim(0); });
  panel.installEventFilter(this);
  trim_.start();
}

bool MemoryRelease::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Hide) trim_.start();
  // While the panel is open, what a trim gave back the next keystroke would ask for again.
  if (event->type() == QEvent::Show) trim_.stop();
  return QObject::eventFilter(watched, event);
}

}  // namespace varek
