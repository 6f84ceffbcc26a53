// Moves another program's window on KDE Plasma's Wayland session, where no client may move
// another's: a small script, written to a private file, that KWin's scripting service loads
// and runs. KWin 5.27's scripting API.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/geometry.h"

class QDBusServiceWatcher;
class QTemporaryFile;

namespace varek {

class KWinScripting {
 public:
  // Watches the session bus for KWin's service; on the main thread, whose event loop hears
  // the service come and go.
  KWinScripting();
  // Unloads the last script.
  ~KWinScripting();
  KWinScripting(const KWinScripting&) = delete;
  KWinScripting& operator=(const KWinScripting&) = delete;

  // Whether KWin's scripting service is on the session bus, as last heard: no round trip,
  // so a search may ask on every keystroke. Callable on any thread.
  bool available() const { return present_; }
  // Asks KWin to give the window with this UUID (the active one when no window has it) this
  // outer frame in the compositor's layout, out of maximisation; false when KWin could not
  // be asked. On the main thread.
  bool place(const std::string& uuid, Rect frame);

  // The script for place(); the UUID must be made of hexadecimal digits and dashes only, and
  // is left out otherwise.
  static std::string script(const std::string& uuid, Rect frame);

 private:
  // KWin reads the file when the script starts, which is after run() has answered: the
  // file stays until the next script replaces it.
  std::unique_ptr<QTemporaryFile> file_;
  std::unique_ptr<QDBusServiceWatcher> watcher_;
  std::atomic<bool> present_ = false;
  bool loaded_ = false;
};

}  // namespace varek
