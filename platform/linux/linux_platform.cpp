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
#endif

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
  std::int64_t changeCount() const override { return changes_; }
  std::vector<std::string> types() const override { return {}; }
  std::vector<std::string> filePaths() const override { return {}; }
  std::optional<std::string> text() const override { return std::nullopt; }
  void setText(const std::string&) override { ++changes_; }

 private:
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
  makeWindowParts(session);
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
    if (wayland_->update() != WaylandConnection::State::lost) return;
    // Said once: the descriptor stays readable (closed) from now on.
    waylandEvents_->setEnabled(false);
    log_->write("Verbindung zum Wayland-Compositor verloren: " + wayland_->error().message());
  });
#endif
}

// The Wayland session keeps the X11 parts until its own are built in here, given no X
// display: XWayland's windows are only some of the desktop's, and its window manager
// answers none of the EWMH requests. Without a display they list no windows, and opening
// files and applications works the same in every session.
void LinuxPlatform::makeWindowParts(Session& session) {
  pasteboard_ = session.pasteboard ? session.pasteboard() : std::make_unique<AbsentPasteboard>();
  const bool x11 = display_ == DisplaySession::x11;
  desktop_ = std::make_unique<X11Desktop>(x11 ? std::nullopt : std::optional<std::string>(""));
  workspace_ = std::make_unique<X11Workspace>(*desktop_);
  windowServer_ =
      std::make_unique<X11WindowServer>(*desktop_, log_.get(), std::move(session.screens));
}

LinuxPlatform::~LinuxPlatform() {
  // Background jobs may still use the backend's objects; they end before those do.
  QThreadPool::globalInstance()->waitForDone();
}

int LinuxPlatform::beepsAfterJobs(int milliseconds) {
  scheduler_->waitForSerialQueues(milliseconds);
  // The jobs report on the main queue.
  QCoreApplication::processEvents();
  return workspace_->beeps();
}

Platform LinuxPlatform::platform() {
  return {*scheduler_, *clock_,      *defaults_,      *pasteboard_, *workspace_, *windowServer_,
          *fileIndex_, *dictionary_, *systemActions_, *appScanner_, *paths_};
}

}  // namespace varek
