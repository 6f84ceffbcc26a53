// The varek binary: the launcher itself, or one command against the same stores.
#include <xcb/xcb.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <clocale>
#include <cstdio>

#include "app/app_delegate.h"
#include "app/command_line.h"
#include "app/log.h"
#include "platform/linux/linux_platform.h"
#include "search/bench.h"

namespace {

using varek::CommandLine;
using varek::SearchModel;

// File rows arrive after the synchronous search; a command waits this long for them.
constexpr int kRecentFilesWaitMs = 1000;
constexpr int kFilesModeWaitMs = 4000;
// Listing the windows takes a round trip per window; a command waits this long at most.
constexpr int kWindowsWaitMs = 2000;
// Layout and paste actions run a moment after the row, once the panel would be gone.
constexpr int kDelayedActionsMs = 400;
constexpr const char* kSignalInterface = "zz.orvel.varek";
constexpr const char* kToggle = "toggle";

// Qt picks its platform from the session; the hotkey needs X11, which XWayland offers too.
void preferX11() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
}

// Qt would abort with a page of advice; one line says what is missing.
bool displayReachable() {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) return false;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool reachable = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return reachable;
}

// Qt adopts the user's locale for the C library, and printf would then write a decimal
// comma into the log's figures.
void keepNumbersInCLocale() { std::setlocale(LC_NUMERIC, "C"); }

void processEventsFor(int milliseconds, const std::function<bool()>& done = nullptr) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds && !(done && done())) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(1);
  }
}

// What the panel refreshes each time it opens: the application in front (a layout row
// places its window) and the open windows, which the model lists in the background.
void refreshAsThePanelDoes(SearchModel& model) {
  model.willShow();
  // The list is made on the scheduler's pool and handed back through the event loop.
  QThreadPool::globalInstance()->waitForDone(kWindowsWaitMs);
  QCoreApplication::processEvents();
}

// Runs the search and waits for the file rows that belong to it.
void search(SearchModel& model, const CommandLine& line) {
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
  if (model.files().running()) {
    const int wait = line.mode == SearchModel::Mode::files ? kFilesModeWaitMs : kRecentFilesWaitMs;
    processEventsFor(wait, [&] { return filesArrived; });
  }
  model.setObserver(nullptr);
}

// Sends the signal and makes sure it left: Qt writes it from its own thread and has no
// flush, so a process that ends at once may lose it. Messages leave a connection in order,
// so the bus's answer to a call sent after the signal proves the signal went out.
bool sendAndWait(QDBusConnection& bus, const QDBusMessage& message) {
  if (!bus.isConnected() || !bus.send(message)) return false;
  const QDBusMessage roundTrip = QDBusMessage::createMethodCall(
      "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId");
  return bus.call(roundTrip).type() == QDBusMessage::ReplyMessage;
}

int sendSignal(const CommandLine& line) {
  QString member = QString::fromStdString(line.text);
  const QString prefix = QString(kSignalInterface) + ".";
  if (member.startsWith(prefix)) member = member.mid(prefix.size());
  QDBusMessage message = QDBusMessage::createSignal("/", kSignalInterface, member);
  if (line.payload) message << QString::fromStdString(*line.payload);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!sendAndWait(bus, message)) {
    std::fprintf(stderr, "varek: keine Verbindung zum Sitzungsbus\n");
    return 1;
  }
  return 0;
}

// Asks the launcher that already runs to toggle its panel, as its hotkey would.
void toggleOtherLauncher(QDBusConnection& bus) {
  sendAndWait(bus, QDBusMessage::createSignal("/", kSignalInterface, kToggle));
}

// The launcher: one per session, known by its bus name. A second start toggles the panel
// of the first and leaves.
int runLauncher(int argc, char** argv) {
  preferX11();
  if (!displayReachable()) {
    std::fprintf(stderr, "varek: keine Anzeige (DISPLAY) – der Starter braucht X11\n");
    return 1;
  }
  QApplication application(argc, argv);
  keepNumbersInCLocale();
  QApplication::setQuitOnLastWindowClosed(false);

  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected() && bus.interface()->isServiceRegistered(kSignalInterface)) {
    toggleOtherLauncher(bus);
    return 0;
  }

  varek::LinuxPlatform desktop(varek::LinuxPlatform::Options{});
  varek::AppDelegate delegate(desktop.platform(), desktop.log());
  QTimer::singleShot(0, &delegate, [&] {
    delegate.start();
    // The name is claimed only once the signals are heard, so that a script that waits for
    // it may send them. Of two launchers started at the same moment, the later leaves here.
    if (bus.isConnected() && !bus.registerService(kSignalInterface)) {
      toggleOtherLauncher(bus);
      QCoreApplication::exit(0);
    }
  });
  return application.exec();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  auto parsed = varek::parseCommandLine(arguments);
  if (auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "%s\n", error->c_str());
    return 2;
  }
  const CommandLine line = std::get<CommandLine>(parsed);
  if (line.command == CommandLine::Command::launcher) return runLauncher(argc, argv);

  QCoreApplication application(argc, argv);
  keepNumbersInCLocale();
  if (line.command == CommandLine::Command::signal) return sendSignal(line);

  varek::LinuxPlatform desktop(varek::LinuxPlatform::Options{.clipboard = false, .preload = false});
  auto model = SearchModel::create(desktop.platform());

  switch (line.command) {
    case CommandLine::Command::bench: {
      const std::string result = varek::benchLine(varek::bench(*model));
      desktop.log().write(result);
      std::printf("%s\n", result.c_str());
      return 0;
    }
    case CommandLine::Command::query:
      search(*model, line);
      std::fputs(varek::formatRows(model->items(), line.json).c_str(), stdout);
      return 0;
    case CommandLine::Command::run: {
      search(*model, line);
      if (line.row >= static_cast<int>(model->items().size())) {
        std::fprintf(stderr, "varek: keine Zeile %d (%zu Treffer)\n", line.row,
                     model->items().size());
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
      processEventsFor(kDelayedActionsMs);
      std::printf("%s\n", row.title.c_str());
      return 0;
    }
    default:
      return 2;
  }
}
