// The part of the varek binary that acts on the desktop: the launcher itself, `varek run`,
// `varek signal` and `varek einstellungen`. It links Qt GUI, Widgets and D-Bus; varek
// (main.cpp) answers help, version, query and bench without them and starts this program
// for the rest, with the same arguments.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app_delegate.h"
#include "app/command_line.h"
#include "app/command_search.h"
#include "app/control_signals.h"
#include "app/hotkey.h"
#include "platform/log.h"
#include "app/login_item.h"
#include "app/memory_release.h"
#include "app/wayland_frames.h"
#include "platform/linux/display_session.h"
#include "platform/linux/json_defaults.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/xdg_paths.h"
#ifdef VAREK_WAYLAND
#include "platform/wayland/wayland_copy_holder.h"
#endif
#include "ui/panel_controller.h"

namespace {

using varek::CommandLine;
using varek::SearchModel;

// Layout and paste actions run a moment after the row, once the panel would be gone.
constexpr int kDelayedActionsMs = 400;
// A system command runs in the background; whether it failed is known once it ends.
constexpr int kSystemCommandWaitMs = 10000;
constexpr const char* kSignalInterface = "zz.orvel.varek";
constexpr const char* kToggle = "toggle";
constexpr const char* kReload = "reload";
constexpr const char* kCopy = "copy";
// `varek signal` waits this long for a launcher it started to claim its name: a cold start
// takes a fraction of a second, a large index or a busy machine a few.
constexpr int kLauncherStartMs = 10000;
constexpr int kPollMs = 50;
// Set only in the environment of the process that keeps a copy on the clipboard after
// `varek run` exits; the copied text arrives on its standard input.
constexpr const char* kHolderVariable = "VAREK_CLIPBOARD_HOLDER";
// The holder serves the copy until another program copies something, at most this long:
// enough to paste it somewhere, and no process left behind for the session.
constexpr int kHoldClipboardMs = 5 * 60 * 1000;
// The parent waits this long for the holder to own the clipboard before it gives up.
constexpr int kHolderReadyMs = 3000;

// The app id of the panel on Wayland and the desktop entry's name: compositors' rules and
// docks know the launcher by it.
constexpr const char* kDesktopFileName = "zz.orvel.varek";

// Qt runs on the session found, unless the user named a platform; programs the launcher
// starts learn the session from XDG_SESSION_TYPE where the login manager did not set it.
// A compositor named but silent is forgotten, so that Qt, the backend and those programs
// all use the X server instead.
void enterSession(varek::DisplaySession session) {
  const bool wayland = session == varek::DisplaySession::wayland;
  if (!wayland) qunsetenv("WAYLAND_DISPLAY");
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", wayland ? "wayland" : "xcb");
  }
  if (qEnvironmentVariableIsEmpty("XDG_SESSION_TYPE")) {
    qputenv("XDG_SESSION_TYPE", QByteArray(varek::sessionName(session).data()));
  }
}

// Qt ends the process itself when its display goes away (a compositor that quit or
// crashed); the log keeps its last word, written before the process is gone.
const varek::Log* fatalLog = nullptr;
QtMessageHandler qtHandler = nullptr;

void logFatalMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  // Qt's Wayland platform says that the connection broke as a warning, then exits at once.
  const bool lastWord = type == QtFatalMsg ||
                        (type == QtWarningMsg && message.startsWith("The Wayland connection"));
  if (lastWord && fatalLog != nullptr) {
    fatalLog->write("Beendet von Qt: " + message.toStdString());
  }
  if (qtHandler != nullptr) qtHandler(type, context, message);
}

// Qt adopts the user's locale for the C library, and printf would then write a decimal
// comma into the log's figures.
void keepNumbersInCLocale() { std::setlocale(LC_NUMERIC, "C"); }

// The command line keeps the text a row copied, which this short-lived process hands on.
class CopyKeeper : public varek::Pasteboard {
 public:
  std::int64_t changeCount() const override { return changes_; }
  std::vector<std::string> types() const override { return {}; }
  std::vector<std::string> filePaths() const override { return {}; }
  std::optional<std::string> text() const override { return std::nullopt; }
  void setText(const std::string& text) override {
    ++changes_;
    copied_ = text;
  }
  const std::optional<std::string>& copied() const { return copied_; }

 private:
  std::int64_t changes_ = 0;
  std::optional<std::string> copied_;
};

// Sends the signal and makes sure it left: Qt writes it from its own thread and has no
// flush, so a process that ends at once may lose it. Messages leave a connection in order,
// so the bus's answer to a call sent after the signal proves the signal went out.
bool sendAndWait(QDBusConnection& bus, const QDBusMessage& message) {
  if (!bus.isConnected() || !bus.send(message)) return false;
  const QDBusMessage roundTrip = QDBusMessage::createMethodCall(
      "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId");
  return bus.call(roundTrip).type() == QDBusMessage::ReplyMessage;
}

bool launcherRuns(QDBusConnection& bus) {
  return bus.isConnected() && bus.interface()->isServiceRegistered(kSignalInterface);
}

// This very binary, started on its own in a new session with the caller's environment (so
// DISPLAY and WAYLAND_DISPLAY carry over), with the given standard input and output and
// no terminal; 0 when it could not be started.
pid_t spawnSelf(const std::vector<std::string>& environment, int input, int output) {
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (input >= 0) posix_spawn_file_actions_adddup2(&files, input, STDIN_FILENO);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (output >= 0) posix_spawn_file_actions_adddup2(&files, output, STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  std::vector<char*> variables;
  for (char** variable = environ; *variable != nullptr; ++variable) variables.push_back(*variable);
  std::vector<std::string> added = environment;
  for (std::string& variable : added) variables.push_back(variable.data());
  variables.push_back(nullptr);
  char name[] = "varek";
  char* arguments[] = {name, nullptr};
  pid_t child = 0;
  const int error =
      posix_spawn(&child, "/proc/self/exe", &files, &attributes, arguments, variables.data());
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attributes);
  return error == 0 ? child : 0;
}

// A broadcast signal has no destination the bus could start, so a launcher is started
// here and the signal waits until it has claimed its name, that is, until it listens.
bool startLauncher(QDBusConnection& bus) {
  const pid_t child = spawnSelf({}, -1, -1);
  if (child == 0) return false;
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < kLauncherStartMs) {
    if (launcherRuns(bus)) return true;
    int status = 0;
    // A launcher that ended found no display, or another launcher took the name first.
    if (waitpid(child, &status, WNOHANG) == child) return launcherRuns(bus);
    QThread::msleep(kPollMs);
  }
  return false;
}

int sendSignal(const CommandLine& line) {
  QDBusMessage message =
      QDBusMessage::createSignal("/", kSignalInterface, QString::fromStdString(line.text));
  if (line.payload) message << QString::fromStdString(*line.payload);
  // A desktop's shortcut that runs this command hands it the right to give the focus on;
  // the launcher, not this process, has the window to take it.
  if (const char* token = std::getenv("XDG_ACTIVATION_TOKEN"); token && *token) {
    message << varek::ControlSignals::activationArgument(token);
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    std::fprintf(stderr, "varek: keine Verbindung zum Sitzungsbus\n");
    return 1;
  }
  if (!launcherRuns(bus) && !startLauncher(bus)) {
    std::fprintf(stderr, "varek: der Starter ließ sich nicht starten (siehe Protokoll)\n");
    return 1;
  }
  if (!sendAndWait(bus, message)) {
    std::fprintf(stderr, "varek: keine Verbindung zum Sitzungsbus\n");
    return 1;
  }
  return 0;
}

// Tells the process that started the holder that the copy is held, so that it may leave.
bool tellHeld() {
  if (::write(STDOUT_FILENO, "1", 1) != 1) return false;
  ::close(STDOUT_FILENO);
  return true;
}

// The holder of a copy made by `varek run` with no launcher running: it keeps the copy as
// the clipboard until another program copies something, or until kHoldClipboardMs have
// passed. A compositor with data control keeps it without a window; else the X server does
// (a Wayland desktop's XWayland hands it on to its Wayland clients).
int holdClipboard(int argc, char** argv) {
  std::string text;
  char buffer[4096];
  for (ssize_t read = 0; (read = ::read(STDIN_FILENO, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(read));
  }
#ifdef VAREK_WAYLAND
  if (varek::namedDisplaySession() == varek::DisplaySession::wayland &&
      varek::holdWaylandCopy(text, std::chrono::milliseconds(kHoldClipboardMs), tellHeld) !=
          varek::CopyHoldEnd::refused) {
    return 0;
  }
#endif
  // Qt would end the process with a core dump where no X server answers.
  if (!varek::x11Reachable()) return 1;
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication application(argc, argv);
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText(QString::fromStdString(text));
  // Qt owns the selection once the server has answered a round trip after setText.
  QGuiApplication::sync();
  if (!clipboard->ownsClipboard() || !tellHeld()) return 1;
  QObject::connect(clipboard, &QClipboard::changed, &application,
                   [clipboard](QClipboard::Mode mode) {
                     if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard())
                       QCoreApplication::quit();
                   });
  QTimer::singleShot(kHoldClipboardMs, &application, &QCoreApplication::quit);
  return application.exec();
}

// Puts what `varek run` copied where it outlives this process: with the running launcher,
// which copies it as its own; else with a holder process on the display. False where
// neither can.
bool handOverCopy(const std::string& text) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (launcherRuns(bus)) {
    QDBusMessage message = QDBusMessage::createSignal("/", kSignalInterface, kCopy);
    message << QString::fromStdString(text);
    if (sendAndWait(bus, message)) return true;
  }
  // The holder finds out itself which display keeps the copy, and says so only once it does.
  if (varek::namedDisplaySession() == varek::DisplaySession::none) return false;
  int input[2];
  int ready[2];
  if (pipe2(input, O_CLOEXEC) != 0) return false;
  if (pipe2(ready, O_CLOEXEC) != 0) {
    ::close(input[0]);
    ::close(input[1]);
    return false;
  }
  const pid_t holder = spawnSelf({std::string(kHolderVariable) + "=1"}, input[0], ready[1]);
  ::close(input[0]);
  ::close(ready[1]);
  bool held = false;
  if (holder != 0) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
      const ssize_t written = ::write(input[1], data, left);
      if (written <= 0) break;
      data += written;
      left -= static_cast<std::size_t>(written);
    }
    ::close(input[1]);
    input[1] = -1;
    pollfd answer{.fd = ready[0], .events = POLLIN, .revents = 0};
    char byte = 0;
    held = poll(&answer, 1, kHolderReadyMs) == 1 && ::read(ready[0], &byte, 1) == 1;
  }
  if (input[1] >= 0) ::close(input[1]);
  ::close(ready[0]);
  return held;
}

// Writes the settings the tray would write and asks a running launcher to take them up.
int changeSettings(const CommandLine& line) {
  varek::XdgPaths paths;
  varek::JsonDefaults defaults(paths.configFile());
  varek::LoginItem loginItem;
  const auto storedHotkey = [&] {
    return varek::Hotkey::parse(defaults.string(varek::Hotkey::kDefaultsKey).value_or(""))
        .value_or(varek::Hotkey::kPresets[0]);
  };
  const auto word = [](bool on) { return on ? "an" : "aus"; };
  switch (line.setting) {
    case CommandLine::Setting::show:
      std::printf("Kürzel: %s\nZwischenablage-Verlauf: %s\nBeim Anmelden öffnen: %s\n",
                  varek::Hotkey::label(storedHotkey()).toUtf8().constData(),
                  word(defaults.boolean("clipboardEnabled").value_or(true)),
                  word(loginItem.enabled()));
      return 0;
    case CommandLine::Setting::hotkey: {
      const auto combination = varek::Hotkey::parse(line.text);
      if (!combination) {
        std::fprintf(stderr,
                     "varek: „%s“ ist kein Tastenkürzel (etwa alt, strg, super, Strg+Alt+K)\n",
                     line.text.c_str());
        return 2;
      }
      if (const auto refusal = varek::Hotkey::refusal(*combination)) {
        std::fprintf(stderr, "varek: %s\n", refusal->toUtf8().constData());
        return 2;
      }
      defaults.setString(varek::Hotkey::kDefaultsKey, varek::Hotkey::portableText(*combination));
      break;
    }
    case CommandLine::Setting::clipboard:
      defaults.setBoolean("clipboardEnabled", line.on);
      break;
    case CommandLine::Setting::login:
      if (!loginItem.setEnabled(line.on)) {
        std::fprintf(stderr, "varek: %s ließ sich nicht schreiben\n", loginItem.file().c_str());
        return 1;
      }
      return 0;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  // The launcher grabs a new combination and logs how that went; one started later reads
  // the settings anyway.
  if (launcherRuns(bus)) {
    sendAndWait(bus, QDBusMessage::createSignal("/", kSignalInterface, kReload));
  }
  return 0;
}

// Asks the launcher that already runs to toggle its panel, as its hotkey would.
void toggleOtherLauncher(QDBusConnection& bus) {
  sendAndWait(bus, QDBusMessage::createSignal("/", kSignalInterface, kToggle));
}

// "varek 0.1 gestartet: Sitzung x11, Desktop GNOME, Kürzel Alt+Leertaste bereit, fehlt:
// nichts", so that a report from a user's log says on what the launcher ran.
std::string startLine(varek::AppDelegate& delegate, varek::LinuxPlatform& desktop) {
  const auto variable = [](const char* name, const char* otherwise) {
    const char* value = std::getenv(name);
    return std::string(value != nullptr && *value != '\0' ? value : otherwise);
  };
  const varek::Platform platform = desktop.platform();
  const std::string session(varek::sessionName(desktop.display()));
  varek::Hotkey& hotkey = delegate.hotkey();
  std::string missing;
  const auto lacks = [&missing](const char* what) {
    missing += (missing.empty() ? "" : ", ") + std::string(what);
  };
  if (!hotkey.registered()) lacks("Tastenkürzel");
  if (!platform.windowServer.isTrusted()) {
    lacks(("Fenstersteuerung (" + platform.windowServer.unreachableCause() + ")").c_str());
  }
  if (!QSystemTrayIcon::isSystemTrayAvailable()) lacks("Symbol in der Leiste");
  if (QDBusConnection::sessionBus().isConnected() == false) lacks("Sitzungsbus");
  return varek::versionText() + " gestartet: Sitzung " + session + ", Desktop " +
         variable("XDG_CURRENT_DESKTOP", "unbekannt") + ", Kürzel " +
         varek::Hotkey::label(hotkey.combination()).toStdString() +
         (hotkey.registered() ? " bereit" : " ohne Wirkung") +
         ", fehlt: " + (missing.empty() ? std::string("nichts") : missing);
}

// Written by the signal handler, read by the event loop.
int terminationPipe[2] = {-1, -1};

// `pkill -x varek` and the end of the session send SIGTERM (a terminal's Ctrl+C SIGINT):
// the launcher then quits as through its menu, so that it gives back a hotkey binding
// held by the compositor and ends no store halfway. Null when no pipe could be made.
QSocketNotifier* quitOnTermination() {
  if (pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
  struct sigaction action {};
  action.sa_handler = [](int) {
    const char byte = 1;
    // Async-signal-safe; a full pipe already holds a request to quit.
    [[maybe_unused]] const ssize_t written = ::write(terminationPipe[1], &byte, 1);
  };
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
  return notifier;
}

// The launcher: one per session, known by its bus name. A second start toggles the panel
// of the first and leaves.
int runLauncher(int argc, char** argv) {
  const varek::DisplaySession session = varek::reachableDisplaySession();
  if (session == varek::DisplaySession::none) {
    std::fprintf(stderr,
                 "varek: keine Anzeige erreichbar (weder WAYLAND_DISPLAY noch DISPLAY) – der "
                 "Starter braucht eine Wayland- oder X11-Sitzung\n");
    return 1;
  }
  enterSession(session);
  QGuiApplication::setDesktopFileName(kDesktopFileName);
  QApplication application(argc, argv);
  keepNumbersInCLocale();
  QApplication::setQuitOnLastWindowClosed(false);

  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected() && bus.interface()->isServiceRegistered(kSignalInterface)) {
    toggleOtherLauncher(bus);
    return 0;
  }

  if (session == varek::DisplaySession::wayland) varek::skipClientFramesWhereCompositorDrawsThem();
  varek::LinuxPlatform desktop(varek::LinuxPlatform::Options{});
  QSocketNotifier* ending = quitOnTermination();
  if (ending != nullptr) ending->setParent(&application);
  fatalLog = &desktop.log();
  qtHandler = qInstallMessageHandler(logFatalMessages);
  varek::AppDelegate delegate(desktop.platform(), desktop.log());
  QTimer::singleShot(0, &delegate, [&] {
    delegate.start();
    // Owned by the panel.
    new varek::MemoryRelease(delegate.controller()->panel());
    desktop.log().write(startLine(delegate, desktop));
    // The name is claimed only once the signals are heard, so that a script that waits for
    // it may send them. Of two launchers started at the same moment, the later leaves here.
    if (bus.isConnected() && !bus.registerService(kSignalInterface)) {
      toggleOtherLauncher(bus);
      QCoreApplication::exit(0);
    }
  });
  const int status = application.exec();
  qInstallMessageHandler(qtHandler);
  fatalLog = nullptr;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Known to the system by the name the user ran, so that `pkill -x varek` still ends the
  // launcher.
  ::prctl(PR_SET_NAME, "varek");
  if (!qEnvironmentVariableIsEmpty(kHolderVariable)) {
    qunsetenv(kHolderVariable);
    return holdClipboard(argc, argv);
  }
  const std::optional<CommandLine> parsed = varek::parseArguments(argc, argv);
  if (!parsed) return 2;
  const CommandLine& line = *parsed;
  if (line.command == CommandLine::Command::launcher) return runLauncher(argc, argv);

  QCoreApplication application(argc, argv);
  keepNumbersInCLocale();
  if (line.command == CommandLine::Command::signal) return sendSignal(line);
  if (line.command == CommandLine::Command::settings) return changeSettings(line);
  // varek itself answers the other commands.
  if (line.command != CommandLine::Command::run) return 2;

  varek::LinuxPlatform desktop(varek::LinuxPlatform::Options{.clipboard = false, .preload = false});
  const varek::Platform backend = desktop.platform();
  CopyKeeper pasteboard;
  const varek::Platform observed{backend.scheduler,  backend.clock,      backend.defaults,
                                 pasteboard,         backend.workspace,  backend.windowServer,
                                 backend.fileIndex,  backend.dictionary, backend.systemActions,
                                 backend.appScanner, backend.paths};
  auto model = SearchModel::create(observed);
  varek::searchAsThePanelDoes(*model, line);
  if (line.row >= static_cast<int>(model->items().size())) {
    std::fprintf(stderr, "varek: keine Zeile %d (%zu Treffer)\n", line.row, model->items().size());
    return 1;
  }
  model->setSelection(line.row);
  const varek::Item row = model->items()[static_cast<std::size_t>(line.row)];
  model->activate(line.action);
  if (model->confirmID() == row.id) {
    // The second Return of the panel: given only on request, as these rows restart,
    // shut down or empty the trash.
    if (!line.confirm) {
      std::fprintf(stderr, "varek: „%s“ braucht Bestätigung: --confirm\n", row.title.c_str());
      return 1;
    }
    model->activate(line.action);
  }
  varek::processEventsFor(kDelayedActionsMs);
  // The panel beeps where the row had nothing to act on, also when a system command
  // fails in the background.
  if (desktop.beepsAfterJobs(kSystemCommandWaitMs) > 0) {
    desktop.log().write("Ausführen von " + varek::loggedName(row) + " ging nicht (Befehlszeile)");
    std::fprintf(stderr, "varek: „%s“ ließ sich nicht ausführen\n", row.title.c_str());
    return 1;
  }
  desktop.log().write("Ausgeführt: " + varek::loggedName(row) + " (Befehlszeile)");
  if (pasteboard.copied() && !handOverCopy(*pasteboard.copied())) {
    std::fprintf(stderr,
                 "varek: nicht kopiert: kein Starter läuft, und keine Anzeige hält die "
                 "Zwischenablage – den Starter mit „varek“ starten und noch einmal versuchen\n");
    return 1;
  }
  std::printf("%s\n", row.title.c_str());
  return 0;
}
