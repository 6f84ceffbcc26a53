// The whole Linux desktop backend, built once and handed to the core as one Platform.
// Needs a Qt application object; without a display, the clipboard and the windows
// report nothing and everything else works. What acts on the desktop rather than reading
// it (the clipboard, the screens, system actions) needs Qt GUI and D-Bus and is made apart,
// in linux_session.cpp, so that a process which only searches loads neither.
#pragma once

#include <functional>
#include <memory>

#include "platform/log.h"
#include "platform/linux/display_session.h"
#include "platform/x11/x11_window_server.h"
#include "platform/platform.h"

class QSocketNotifier;

namespace varek {

class QtScheduler;
class WaylandConnection;
class WaylandKeyboard;
class WaylandToplevels;
class X11Desktop;

class LinuxPlatform {
 public:
  struct Options {
    // Watch the X11 clipboard (needs a QGuiApplication); a command line has none.
    bool clipboard = true;
    // Load slow indexes (a large dictionary) in the background at start, for a process
    // that lives on; a command line is done before they would be used.
    bool preload = true;
  };

  // The parts that act on the desktop; each one left empty is made without its library.
  struct Session {
    // The clipboard watched when Options::clipboard asks for it; else one that never changes.
    std::function<std::unique_ptr<Pasteboard>()> pasteboard;
    // Else actions that only log that they cannot run in this process.
    std::function<std::unique_ptr<SystemActions>(Scheduler&, Log&, std::function<void()> beep)>
        systemActions;
    // Else the root window is the one screen; on Wayland, else sway's outputs or none.
    X11WindowServer::ScreenSource screens;
    // On Wayland without sway, what places windows (KWin's scripting), made only in a
    // Wayland session; else nothing does.
    struct Placer {
      std::function<bool()> available;
      std::function<bool(const std::string& uuid, Rect frame)> place;
    };
    std::function<Placer()> placer;
  };

  // With the session of this desktop (linux_session.cpp: Qt GUI and D-Bus).
  explicit LinuxPlatform(Options options);
  // With only the given parts: `varek query` runs no row and passes none.
  LinuxPlatform(Options options, Session session);
  ~LinuxPlatform();

  Platform platform();
  Log& log() { return *log_; }
  // The session the environment names (namedDisplaySession()).
  DisplaySession display() const { return display_; }
  // The backend's own connection to the compositor in a Wayland session, watched by the
  // event loop; null in other sessions, or when the compositor did not answer at start.
  WaylandConnection* wayland() { return wayland_.get(); }

  // For a process that runs one row and exits: lets the background jobs started so far
  // finish (at most this long) and delivers what they report, then says how often the
  // desktop beeped, which is how a row tells that it could not run.
  int beepsAfterJobs(int milliseconds);

 private:
  // Connects to the compositor and lets the event loop hand its events over.
  void connectWayland();
  // What reads and acts on the windows and the clipboard, by windowing system.
  void makeWindowParts(Options options, Session& session);
  // The Wayland session's parts; false where the compositor did not answer.
  bool makeWaylandParts(Options options, Session& session);

  DisplaySession display_ = DisplaySession::none;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<Paths> paths_;
  std::unique_ptr<Log> log_;
  std::unique_ptr<QtScheduler> scheduler_;
  std::unique_ptr<Defaults> defaults_;
  std::unique_ptr<WaylandConnection> wayland_;
  std::unique_ptr<QSocketNotifier> waylandEvents_;
  std::unique_ptr<Pasteboard> pasteboard_;
  std::unique_ptr<WaylandToplevels> toplevels_;
  std::unique_ptr<WaylandKeyboard> keyboard_;
  std::unique_ptr<X11Desktop> desktop_;
  std::unique_ptr<Workspace> workspace_;
  // How often the workspace beeped, which each session's workspace counts.
  std::function<int()> beeps_;
  std::unique_ptr<WindowServer> windowServer_;
  std::unique_ptr<FileIndex> fileIndex_;
  std::unique_ptr<Dictionary> dictionary_;
  std::unique_ptr<SystemActions> systemActions_;
  std::unique_ptr<AppScanner> appScanner_;
};

}  // namespace varek
