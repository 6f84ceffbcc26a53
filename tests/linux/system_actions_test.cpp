// LinuxSystemActions: the method chosen for every action from what is present, and the
// actions the test desktop can carry out for real: openbox's showing-desktop mode, GIO's
// home trash, the keyfile settings store, a stand-in screen saver on the private session
// bus and a stand-in terminal.
#include "platform/linux/system_actions.h"
#include "tests/support/scoped_variable.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QtCore/qtestsupport_core.h>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QThread>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "sources/commands.h"
#include "tests/support/virtual_scheduler.h"

namespace varek {
namespace {

namespace fs = std::filesystem;
using Method = LinuxSystemActions::Method;
using Requirement = LinuxSystemActions::Requirement;
using Kind = Requirement::Kind;

// A started program or the window manager answers within milliseconds; this bounds a failure.
constexpr int kDeadlineMs = 20000;
const Requirement kLogind{Kind::systemService, "org.freedesktop.login1"};
const Requirement kScreenSaver{Kind::sessionService, "org.freedesktop.ScreenSaver"};
const Requirement kDisplay{Kind::display, ""};
Requirement program(const char* name) { return {Kind::program, name}; }
Requirement session(const char* name) { return {Kind::sessionService, name}; }

using test::ScopedVariable;

std::string readFile(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

std::string run(const char* program, const std::vector<std::string>& arguments) {
  return Commands::shellOutput(QStandardPaths::findExecutable(program).toStdString(), arguments);
}

// The actions, logging into the test's state folder and counting beeps; background jobs
// run at once on the test's thread.
struct Harness {
  test::VirtualScheduler scheduler;
  fs::path logFile =
      fs::path(std::getenv("XDG_STATE_HOME")) /
      (::testing::UnitTest::GetInstance()->current_test_info()->name() + std::string(".log"));
  Log log{logFile.string(), scheduler};
  int beeps = 0;
  LinuxSystemActions actions{scheduler, log, [this] { ++beeps; }};

  Harness() { fs::remove(logFile); }

  void perform(SystemAction action) {
    actions.perform(action);
    scheduler.runBackground();
  }
};

TEST(SystemActions, ChoosesMethodsByWhatIsPresent) {
  struct Row {
    const char* shows;
    SystemAction action;
    std::vector<Requirement> present;
    std::vector<Method> expected;
  };
  const std::vector<Row> rows{
      {"logind locks first; loginctl and the tool are later",
       SystemAction::lockScreen,
       {kLogind, kScreenSaver, program("loginctl"), program("xdg-screensaver"), kDisplay},
       {Method::logindLock, Method::screenSaverLock, Method::loginctlLock,
        Method::xdgScreensaverLock}},
      {"loginctl is useless without logind, the tool without a display",
       SystemAction::lockScreen,
       {kScreenSaver, program("loginctl"), program("xdg-screensaver")},
       {Method::screenSaverLock}},
      {"sleep is logind's", SystemAction::sleep, {kLogind}, {Method::logindSuspend}},
      {"display sleep is xset's",
       SystemAction::displaySleep,
       {program("xset"), kDisplay},
       {Method::xsetDisplayOff}},
      {"the screen saver service first",
       SystemAction::screenSaver,
       {program("xdg-screensaver"), kDisplay, kScreenSaver},
       {Method::screenSaverActivate, Method::xdgScreensaverActivate}},
      {"dark mode needs a stored color scheme",
       SystemAction::toggleDarkMode,
       {{Kind::colorScheme, "color-scheme"}},
       {Method::colorScheme}},
      {"wpctl before pactl",
       SystemAction::toggleMute,
       {program("pactl"), program("wpctl")},
       {Method::wpctlMute, Method::pactlMute}},
      {"Wi-Fi is NetworkManager's",
       SystemAction::toggleWifi,
       {{Kind::systemService, "org.freedesktop.NetworkManager"}},
       {Method::networkManagerWireless}},
      {"hiding needs a display", SystemAction::hideAllApps, {kDisplay}, {Method::showingDesktop}},
      {"screenshot tools in order",
       SystemAction::screenshot,
       {program("flameshot"), program("spectacle")},
       {Method::spectacle, Method::flameshot}},
      {"the trash address, else the trash folder",
       SystemAction::openTrash,
       {{Kind::handler, "inode/directory"}, {Kind::handler, "x-scheme-handler/trash"}},
       {Method::trashAddress, Method::trashFolder}},
      {"the home trash is emptied even without GVfs",
       SystemAction::emptyTrash,
       {},
       {Method::emptyTrashFolder}},
      {"GVfs's trash first",
       SystemAction::emptyTrash,
       {{Kind::addressScheme, "trash"}},
       {Method::emptyTrashAddress, Method::emptyTrashFolder}},
      {"restart is logind's", SystemAction::restart, {kLogind}, {Method::logindReboot}},
      {"shut down is logind's", SystemAction::shutDown, {kLogind}, {Method::logindPowerOff}},
      {"session managers log out before logind",
       SystemAction::logOut,
       {kLogind, session("org.xfce.SessionManager"), session("org.kde.ksmserver"),
        session("org.gnome.SessionManager"), program("loginctl")},
       {Method::gnomeLogout, Method::kdeLogout, Method::xfceLogout, Method::logindTerminate,
        Method::loginctlTerminate}},
  };
  std::set<SystemAction> covered;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shows);
    covered.insert(row.action);
    EXPECT_EQ(LinuxSystemActions::methods(row.action,
                                          [&](const Requirement& requirement) {
                                            return std::find(row.present.begin(), row.present.end(),
                                                             requirement) != row.present.end();
                                          }),
              row.expected);
  }
  EXPECT_EQ(covered.size(), Commands::all().size());
}

TEST(SystemActions, LogsWhatIsMissingOnceAndBeepsEachTime) {
  const fs::path noPrograms = fs::path(std::getenv("TMPDIR")) / "no-programs";
  fs::create_directories(noPrograms);
  const ScopedVariable path("PATH", noPrograms.string());
  Harness harness;
  const std::vector<std::pair<std::function<void()>, std::string>> rows{
      {[&] { harness.perform(SystemAction::toggleMute); },
       "Fehlt für »Ton stumm / an«: wpctl, pactl"},
      {[&] { harness.actions.runInTerminal("true"); },
       "Fehlt für »Im Terminal ausführen«: x-terminal-emulator"},
  };
  for (const auto& [attempt, expected] : rows) {
    SCOPED_TRACE(expected);
    const int beepsBefore = harness.beeps;
    attempt();
    attempt();
    EXPECT_EQ(harness.beeps - beepsBefore, 2);
    std::istringstream lines(readFile(harness.logFile));
    int count = 0;
    for (std::string line; std::getline(lines, line);) count += line.ends_with(expected);
    EXPECT_EQ(count, 1);
  }
}

TEST(SystemActions, HideAllAppsShowsTheDesktop) {
  const auto becomes = [](const std::string& value) {
    return QTest::qWaitFor(
        [&] {
          return run("xprop", {"-root", "-notype", "_NET_SHOWING_DESKTOP"}) ==
                 "_NET_SHOWING_DESKTOP = " + value + "\n";
        },
        kDeadlineMs);
  };
  // openbox sets the property when its start is done; a request sent earlier may be lost.
  ASSERT_TRUE(becomes("0"));
  Harness harness;
  harness.perform(SystemAction::hideAllApps);
  EXPECT_TRUE(becomes("1"));
  EXPECT_EQ(harness.beeps, 0);

  // Back to the windows, through Qt's connection, for the tests that follow.
  xcb_connection_t* x11 =
      qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
  constexpr char kAtom[] = "_NET_SHOWING_DESKTOP";
  xcb_intern_atom_reply_t* atom =
      xcb_intern_atom_reply(x11, xcb_intern_atom(x11, 0, sizeof kAtom - 1, kAtom), nullptr);
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = xcb_setup_roots_iterator(xcb_get_setup(x11)).data->root;
  event.type = atom->atom;
  std::free(atom);
  xcb_send_event(x11, 0, event.window,
                 XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                 reinterpret_cast<const char*>(&event));
  xcb_flush(x11);
  EXPECT_TRUE(becomes("0"));
}

TEST(SystemActions, EmptyTrashDeletesTrashedFilesAndFolders) {
  const fs::path home = std::getenv("HOME");
  const fs::path trash = fs::path(std::getenv("XDG_DATA_HOME")) / "Trash";
  std::ofstream(home / "note.txt") << "gone";
  fs::create_directories(home / "folder" / "inner");
  std::ofstream(home / "folder" / "inner" / "deep.txt") << "gone too";
  run("gio", {"trash", (home / "note.txt").string(), (home / "folder").string()});
  ASSERT_EQ(std::distance(fs::directory_iterator(trash / "files"), fs::directory_iterator()), 2);

  Harness harness;
  harness.perform(SystemAction::emptyTrash);
  EXPECT_TRUE(fs::is_empty(trash / "files"));
  EXPECT_TRUE(fs::is_empty(trash / "info"));
  EXPECT_EQ(harness.beeps, 0);
}

TEST(SystemActions, ToggleDarkModeFlipsTheStoredColorScheme) {
  const auto stored = [] {
    return run("gsettings", {"get", "org.gnome.desktop.interface", "color-scheme"});
  };
  Harness harness;
  const bool darkBefore = stored() == "'prefer-dark'\n";
  for (const bool dark : {!darkBefore, darkBefore}) {
    harness.perform(SystemAction::toggleDarkMode);
    EXPECT_EQ(stored(), dark ? "'prefer-dark'\n" : "'default'\n");
  }
  EXPECT_EQ(harness.beeps, 0);
}

// Owns the screen saver's name on a connection and a thread of its own, so the call
// travels through the bus daemon while the test's thread waits for the answer.
struct FakeScreenSaver : QDBusVirtualObject {
  static constexpr const char* kName = "org.freedesktop.ScreenSaver";
  static constexpr const char* kPath = "/org/freedesktop/ScreenSaver";
  QThread thread;
  QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kName);
  std::atomic<bool> activated = false;

  FakeScreenSaver() {
    moveToThread(&thread);
    thread.start();
  }
  ~FakeScreenSaver() override {
    QDBusConnection::disconnectFromBus(kName);
    thread.quit();
    thread.wait();
  }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    activated = message.interface() == kName && message.member() == "SetActive" &&
                message.arguments() == QVariantList{true};
    return connection.send(message.createReply());
  }
  QString introspect(const QString&) const override { return {}; }
};

TEST(SystemActions, ScreenSaverAsksTheSessionService) {
  FakeScreenSaver screenSaver;
  ASSERT_TRUE(screenSaver.bus.registerVirtualObject(FakeScreenSaver::kPath, &screenSaver));
  ASSERT_TRUE(screenSaver.bus.registerService(FakeScreenSaver::kName));
  Harness harness;
  harness.perform(SystemAction::screenSaver);
  EXPECT_TRUE(screenSaver.activated);
  EXPECT_EQ(harness.beeps, 0);
}

TEST(SystemActions, RunInTerminalPassesTheCommandAsOneArgument) {
  const fs::path folder = fs::path(std::getenv("TMPDIR")) / "terminal";
  const std::string arguments = (folder / "arguments").string();
  fs::create_directories(folder);
  // Written aside and renamed, so the test never reads half a list.
  std::ofstream(folder / "x-terminal-emulator")
      << "#!/bin/sh\nfor a; do printf '[%s]' \"$a\"; done >'" << arguments << ".part'\nmv '"
      << arguments << ".part' '" << arguments << "'\n";
  fs::permissions(folder / "x-terminal-emulator", fs::perms::owner_all);
  const ScopedVariable path("PATH", folder.string() + ":" + std::getenv("PATH"));
  Harness harness;
  for (const std::string command : {"echo 'a  b' \"$HOME\" | tr a-z A-Z; exit 3", "-v", "ls *"}) {
    SCOPED_TRACE(command);
    fs::remove(arguments);
    harness.actions.runInTerminal(command);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(arguments); }, kDeadlineMs));
    EXPECT_EQ(readFile(arguments), "[-e][sh][-c][" + command + "]");
  }
  EXPECT_EQ(harness.beeps, 0);
}

}  // namespace
}  // namespace varek
