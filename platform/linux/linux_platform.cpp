#include "platform/linux/linux_platform.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThreadPool>
#include <chrono>
#include <filesystem>

#include "platform/linux/desktop_entry_scanner.h"
#include "platform/linux/dictd_dictionary.h"
#include "platform/linux/json_defaults.h"
#include "platform/linux/qt_scheduler.h"
#include "platform/linux/tracker_file_index.h"
#include "platform/x11/x11_desktop.h"
#include "platform/x11/x11_workspace.h"
#include "platform/linux/xdg_paths.h"
#ifdef VAREK_WAYLAND
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_keyboard.h"
#include "platform/wayland/wayland_pasteboard.h"
#include "platform/wayland/wayland_toplevels.h"
#include "platform/wayland/wayland_window_server.h"
#include "platform/wayland/wayland_workspace.h"
#endif
#include "platform/x11/x11_clipboard.h"

namespace varek {
namespace {

// Seconds between the Unix epoch and 2001-01-01, the origin of every stored time.
constexpr double kUnixOffset = 978'307'200;

class SystemClock : public Clock {
 public:
  double now() const override {
    const std::chrono::duration<double> sinceEpoch =
        std::chrono::system_clock::now().time_since_epoch();
    return sinceEpoch.count() - kUnixOffset;
  }
};

// Stands in for the clipboard where there is none to watch (the command line): it never
// changes, so nothing is recorded, and what is copied goes nowhere.
class AbsentPasteboard : public Pasteboard {
 public:
  // What the launcher's clipboard on this desktop would say: the lists are the same.
  explicit AbsentPasteboard(bool recordsWithoutFocus = true)
      : recordsWithoutFocus_(recordsWithoutFocus) {}
  std::int64_t changeCount() const override { return changes_; }
  bool recordsWithoutFocus() const override { return recordsWithoutFocus_; }
  std::vector<std::string> types() const override { return {}; }
  std::vector<std::string> filePaths() const override { return {}; }
  std::optional<std::string> text() const override { return std::nullopt; }
  void setText(const std::string&) override { ++changes_; }

 private:
  bool recordsWithoutFocus_;
  std::int64_t changes_ = 0;
};

// Stands in for the system actions in a process that lists rows and runs none.
class AbsentSystemActions : public SystemActions {
 public:
  explicit AbsentSystemActions(const Log& log) : log_(log) {}
  void perform(SystemAction) override { log_.write(kRefusal); }
  void runInTerminal(const std::string&) override { log_.write(kRefusal); }

 private:
  static constexpr const char* kRefusal = "Systembefehle laufen nur im Starter und mit varek run";
  const Log& log_;
};

#ifdef VAREK_WAYLAND
// The toolkit's screens, which on Wayland are in the compositor's layout already.
WaylandWindowServer::ScreenSource waylandScreens(X11WindowServer::ScreenSource toolkit) {
  if (!toolkit) return {};
  return [toolkit = std::move(toolkit)] {
    std::vector<WaylandWindowServer::ScreenArea> areas;
    for (const X11WindowServer::ScreenArea& area : toolkit()) {
      const auto rect = [](const X11WindowServer::Area& from) {
        return Rect{from.x, from.y, from.width, from.height};
      };
      areas.push_back({rect(area.frame), rect(area.visible)});
    }
    return areas;
  };
}
#endif

}  // namespace

LinuxPlatform::LinuxPlatform(Options options, Session session) {
  clock_ = std::make_unique<SystemClock>();
  auto paths = std::make_unique<XdgPaths>();
  // The log's folder is made at start; the log itself never creates folders.
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(paths->logFile()).parent_path(),
                                      ignored);
  log_ = std::make_unique<Log>(paths->logFile(), *clock_);
  defaults_ = std::make_unique<JsonDefaults>(paths->configFile());
  scheduler_ = std::make_unique<QtScheduler>();
  display_ = namedDisplaySession();
  if (display_ == DisplaySession::wayland) connectWayland();
  if (!options.clipboard) session.pasteboard = nullptr;
  makeWindowParts(options, session);
  fileIndex_ = std::make_unique<TrackerFileIndex>(
      *scheduler_, TrackerFileIndex::Setup{.home = paths->homeFolder(), .log = log_.get()});
  auto dictionary = std::make_unique<DictdDictionary>();
  if (options.preload) {
    // A large dictionary's index takes a tenth of a second to load: not on a keystroke.
    scheduler_->runConcurrent([dictionary = dictionary.get()] { dictionary->definition("varek"); });
  }
  dictionary_ = std::move(dictionary);
  const auto beep = [this] { workspace_->beep(); };
  if (session.systemActions) {
    systemActions_ = session.systemActions(*scheduler_, *log_, beep);
  } else {
    systemActions_ = std::make_unique<AbsentSystemActions>(*log_);
  }
  appScanner_ = std::make_unique<DesktopEntryScanner>();
  paths_ = std::move(paths);
}

void LinuxPlatform::connectWayland() {
#ifdef VAREK_WAYLAND
  wayland_ = std::make_unique<WaylandConnection>();
  if (wayland_->state() != WaylandConnection::State::connected) {
    log_->write("Keine Verbindung zum Wayland-Compositor: " + wayland_->error().message());
    wayland_.reset();
    return;
  }
  waylandEvents_ = std::make_unique<QSocketNotifier>(wayland_->fd(), QSocketNotifier::Read);
  QObject::connect(waylandEvents_.get(), &QSocketNotifier::activated, [this] {
    const WaylandConnection::State state = wayland_->update();
    if (toplevels_) toplevels_->checkConnection();
    if (state != WaylandConnection::State::lost) return;
    // Said once: the descriptor stays readable (closed) from now on.
    waylandEvents_->setEnabled(false);
    log_->write("Verbindung zum Wayland-Compositor verloren: " + wayland_->error().message());
  });
#endif
}

void LinuxPlatform::makeWindowParts(Options options, Session& session) {
  if (makeWaylandParts(options, session)) return;
  pasteboard_ = options.clipboard && session.pasteboard ? session.pasteboard()
                                                        : std::make_unique<AbsentPasteboard>();
  // A Wayland session whose compositor did not answer gets no X display either: XWayland's
  // windows are only some of the desktop's. Without a display nothing is listed, and
  // opening files and applications works the same in every session.
  const bool x11 = display_ == DisplaySession::x11;
  desktop_ = std::make_unique<X11Desktop>(x11 ? std::nullopt : std::optional<std::string>(""));
  auto workspace = std::make_unique<X11Workspace>(*desktop_);
  beeps_ = [workspace = workspace.get()] { return workspace->beeps(); };
  workspace_ = std::move(workspace);
  windowServer_ =
      std::make_unique<X11WindowServer>(*desktop_, log_.get(), std::move(session.screens));
}

bool LinuxPlatform::makeWaylandParts([[maybe_unused]] Options options,
                                     [[maybe_unused]] Session& session) {
#ifdef VAREK_WAYLAND
  if (!wayland_) return false;
  toplevels_ = std::make_unique<WaylandToplevels>(*wayland_);
  auto workspace = std::make_unique<WaylandWorkspace>(*toplevels_);
  beeps_ = [workspace = workspace.get()] { return workspace->beeps(); };
  workspace_ = std::move(workspace);
  WaylandWindowServer::Paste paste;
  if (options.clipboard) {
    // Made once: its keymap must reach the compositor before the first paste.
    keyboard_ = std::make_unique<WaylandKeyboard>(*wayland_);
    if (keyboard_->available()) paste = [keyboard = keyboard_.get()] {
      return keyboard->typePasteShortcut();
    };
  }
  Session::Placer placer = session.placer ? session.placer() : Session::Placer();
  windowServer_ = std::make_unique<WaylandWindowServer>(
      *wayland_, *toplevels_, log_.get(), waylandScreens(std::move(session.screens)),
      std::move(paste),
      WaylandWindowServer::Placer{std::move(placer.available), std::move(placer.place)});
  auto pasteboard = options.clipboard ? std::make_unique<WaylandPasteboard>(
                                            *wayland_, &X11Clipboard::localFiles)
                                      : nullptr;
  if (pasteboard && pasteboard->available()) {
    pasteboard_ = std::move(pasteboard);
  } else if (options.clipboard && session.pasteboard) {
    // Without data control Qt still sees the clipboard while the panel has focus.
    pasteboard_ = session.pasteboard();
  } else {
    pasteboard_ = std::make_unique<AbsentPasteboard>(
        wayland_->offers(WaylandConnection::Capability::dataControl));
  }
  return true;
#else
  return false;
#endif
}

LinuxPlatform::~LinuxPlatform() {
  // Background jobs may still use the backend's objects; they end before those do.
  QThreadPool::globalInstance()->waitForDone();
}

int LinuxPlatform::beepsAfterJobs(int milliseconds) {
  scheduler_->waitForSerialQueues(milliseconds);
  // The jobs report on the main queue.
  QCoreApplication::processEvents();
  return beeps_();
}

Platform LinuxPlatform::platform() {
  return {*scheduler_, *clock_,      *defaults_,      *pasteboard_, *workspace_, *windowServer_,
          *fileIndex_, *dictionary_, *systemActions_, *appScanner_, *paths_};
}

}  // namespace varek
