// Gives the memory the launcher has freed back to the system once the panel has hidden.
// glibc keeps what a program frees for its own later use, spread over the arenas of the
// threads that allocated it: the rows of every search typed and the application index
// that each opening rescans in the background leave tens of megabytes freed but resident
// at 10 000 entries, a little more after every rescan. While hidden, nothing is waited for.
#pragma once

#include <QObject>
#include <QTimer>

class QWidget;

namespace varek {

class MemoryRelease : public QObject {
 public:
  // Trims once the panel has stayed hidden for a moment: after each hiding, and after start
  // (which builds the index and draws the panel unseen).
  explicit MemoryRelease(QWidget& panel);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QTimer trim_;
};

}  // namespace varek
