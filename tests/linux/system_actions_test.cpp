// LinuxSystemActions: the terminal chosen from the desktop's settings, and the actions the
// test desktop can carry out for real: openbox's showing-desktop mode, GIO's home trash, the
// keyfile settings store, and stand-ins for the screen saver service, the sound tools and the
// terminal.
#include "platform/linux/system_actions.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QGuiApplication>
#include <QUrl>

#include <atomic>
#include <optional>
#include <set>

#include "tests/support/desktop_fixtures.h"
#include "tests/support/desktop_session.h"
#include "tests/support/fake_dbus_service.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/virtual_scheduler.h"

namespace varek {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::run;
using test::ScopedVariable;
using test::waitFor;

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
  std::size_t logged(const std::string& message) const {
    return test::logMessages(logFile.string(), message).size();
  }
};

// A folder of stand-in tools in front of PATH.
struct Tools {
  fs::path folder = fs::path(std::getenv("TMPDIR")) / "tools";
  ScopedVariable path{"PATH", folder.string() + ":" + std::getenv("PATH")};
  Tools() { fs::remove_all(folder); }
};

// Two toggles each: the beep sounds every time, the log says it once.
TEST(SystemActions, MuteTriesPactlWhenWpctlFailsAndLogsOnce) {
  struct Row {
    const char* shows;
    std::optional<int> wpctl, pactl;  // exit status; none when not installed
    std::string called;
    std::string logged;  // the one log line
  };
  const Row rows[] = {
      {"wpctl does it", 0, 0, "wpctl wpctl ", ""},
      {"pactl when wpctl fails", 1, 0, "wpctl pactl wpctl pactl ", ""},
      {"both fail", 1, 1, "wpctl pactl wpctl pactl ",
       "»Ton stumm / an« fehlgeschlagen: wpctl: kein Gerät; pactl: kein Gerät"},
      {"neither installed", {}, {}, "", "Fehlt für »Ton stumm / an«: wpctl, pactl"},
  };
  const Tools tools;
  const ScopedVariable path("PATH", tools.folder.string());
  for (const Row& row : rows) {
    fs::remove_all(tools.folder);
    for (const auto& [tool, status] : {std::pair{"wpctl", row.wpctl}, {"pactl", row.pactl}}) {
      if (!status) continue;
      test::writeScript(tools.folder / tool,
                        "printf '%s ' \"${0##*/}\" >>\"${0%/*}/calls\"\n"
                        "echo 'kein Gerät' >&2; exit " +
                            std::to_string(*status));
    }
    Harness harness;
    harness.perform(SystemAction::toggleMute);
    harness.perform(SystemAction::toggleMute);
    EXPECT_EQ(readFile(tools.folder / "calls"), row.called) << row.shows;
    EXPECT_EQ(harness.beeps, row.logged.empty() ? 0 : 2) << row.shows;
    EXPECT_EQ(harness.logged(row.logged), row.logged.empty() ? 0u : 1u) << row.shows;
  }
}

TEST(SystemActions, TerminalIsTheDesktopsOwn) {
  const std::set<std::string> installed{"gnome-terminal", "konsole", "xfce4-terminal",
                                        "x-terminal-emulator", "myterm"};
  const auto locate = [&](const std::string& name) {
    return installed.contains(name) ? "/" + name : std::string();
  };
  const std::nullopt_t none = std::nullopt;
  // desktops, GNOME's terminal, its option, whether the user chose it, KDE's terminal; what
  // starts before the shell that runs the command
  const std::pair<LinuxSystemActions::TerminalSettings, std::vector<std::string>> rows[] = {
      {{"ubuntu:GNOME", "gnome-terminal", "-x", false, none}, {"/gnome-terminal", "--"}},
      {{"XFCE", "gnome-terminal", "-x", false, none}, {"/x-terminal-emulator", "-e"}},
      {{"XFCE", "xfce4-terminal", "", true, none}, {"/xfce4-terminal", "-x"}},  // chosen
      {{"KDE", "myterm", "", true, "konsole --hold"}, {"/konsole", "--hold", "-e"}},
      {{"KDE", none, "", false, none}, {"/konsole", "-e"}},
      {{"GNOME", "myterm", "--run", false, none}, {"/myterm", "--run"}},
      {{"GNOME", "tilix", "", false, none}, {"/x-terminal-emulator", "-e"}},  // not installed
  };
  for (const auto& [settings, start] : rows) {
    SCOPED_TRACE(settings.desktops + " " + settings.gnome.value_or(""));
    std::vector<std::string> arguments =
        LinuxSystemActions::terminalCommand(settings, locate, "ls *");
    ASSERT_GT(arguments.size(), start.size());
    EXPECT_EQ(arguments.back(), "ls *");
    arguments.resize(start.size());
    EXPECT_EQ(arguments, start);
  }
}

TEST(SystemActions, TerminalShowsTheOutputUntilReturnIsPressed) {
  const Tools tools;
  const ScopedVariable desktop("XDG_CURRENT_DESKTOP", "");
  Harness harness;
  {
    const ScopedVariable path("PATH", tools.folder.string());
    harness.actions.runInTerminal("true");
    harness.actions.runInTerminal("true");
  }
  EXPECT_EQ(harness.beeps, 2) << "no terminal";
  EXPECT_EQ(harness.logged("Fehlt für »Im Terminal ausführen«: x-terminal-emulator"), 1u);

  const fs::path asked = tools.folder / "asked";
  // A stand-in terminal that writes down what it was asked to run, one argument a line.
  test::writeScript(tools.folder / "x-terminal-emulator",
                    "printf '%s\\n' \"$@\" >'" + asked.string() + ".part'\nmv '" + asked.string() +
                        ".part' '" + asked.string() + "'\n");
  const std::string command = "echo 'a  b' | tr a-z A-Z; exit 3";
  harness.actions.runInTerminal(command);
  ASSERT_TRUE(waitFor([&] { return fs::exists(asked); }));
  QStringList arguments = QString::fromStdString(readFile(asked)).split('\n');
  arguments.removeLast();
  ASSERT_EQ(arguments.value(0), "-e");
  ASSERT_EQ(arguments.last().toStdString(), command);
  // Run as the terminal would run it, with this test at the keyboard.
  QProcess shell;
  shell.start(arguments[1], arguments.mid(2));
  const std::string shown = "A  B\n\n[Eingabetaste drücken zum Schließen]";
  std::string screen;
  EXPECT_TRUE(waitFor([&] {
    screen += shell.readAllStandardOutput().toStdString();
    return screen == shown;
  })) << screen;
  EXPECT_EQ(shell.state(), QProcess::Running) << "the window stays";
  shell.write("\n");
  EXPECT_TRUE(waitFor([&] { return shell.state() == QProcess::NotRunning; }));
  EXPECT_EQ(harness.beeps, 2);
}

TEST(SystemActions, HideAllAppsShowsTheDesktop) {
  const auto becomes = [](const std::string& value) {
    return waitFor([&] {
      return run("xprop", {"-root", "-notype", "_NET_SHOWING_DESKTOP"}) ==
             "_NET_SHOWING_DESKTOP = " + value + "\n";
    });
  };
  // openbox sets the property when its start is done; a request sent earlier may be lost.
  ASSERT_TRUE(becomes("0"));
  Harness harness;
  harness.perform(SystemAction::hideAllApps);
  EXPECT_TRUE(becomes("1"));
  EXPECT_EQ(harness.beeps, 0);
  // Back to the windows for the tests that follow, asked for as a pager asks.
  xcb_connection_t* x11 =
      qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
  constexpr std::string_view kAtom = "_NET_SHOWING_DESKTOP";
  xcb_intern_atom_reply_t* atom =
      xcb_intern_atom_reply(x11, xcb_intern_atom(x11, 0, kAtom.size(), kAtom.data()), nullptr);
  ASSERT_NE(atom, nullptr);
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
  test::writeFile(home / "note.txt", "gone");
  test::writeFile(home / "folder" / "inner" / "deep.txt", "gone too");
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

TEST(SystemActions, ScreenSaverAsksTheSessionService) {
  FakeService screenSaver("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver");
  Harness harness;
  harness.perform(SystemAction::screenSaver);
  EXPECT_EQ(screenSaver.calls().size(), 1u);
  EXPECT_EQ(screenSaver.calls("org.freedesktop.ScreenSaver.SetActive"),
            std::vector{QVariantList{true}});
  EXPECT_EQ(harness.beeps, 0);
}

// On another Wayland desktop the portal's dialog takes the picture; one it hands back from
// a temporary folder is stored in the pictures folder, and a file that is no PNG stays.
TEST(SystemActions, ScreenshotThroughThePortalIsStoredInThePictures) {
  const ScopedVariable wayland("WAYLAND_DISPLAY", "varek-none");
  const fs::path handed[] = {fs::path(std::getenv("TMPDIR")) / "notes.txt",
                             fs::path(std::getenv("TMPDIR")) / "Screenshot_1.png"};
  for (const fs::path& file : handed) test::writeFile(file, file.filename().string());
  std::atomic<int> answered = 0;
  FakeService portal(
      "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
      [&](const QDBusMessage& call) -> QVariantList {
        const QVariantMap options = qdbus_cast<QVariantMap>(call.arguments().value(1));
        const QString request =
            QString("/org/freedesktop/portal/desktop/request/%1/%2")
                .arg(call.service().mid(1).replace('.', '_'), options["handle_token"].toString());
        const QString uri = QUrl::fromLocalFile(handed[answered++ % 2].c_str()).toString();
        EXPECT_TRUE(options["interactive"].toBool());
        portal.send(request, "org.freedesktop.portal.Request", "Response",
                    {0U, QVariantMap{{"uri", uri}}});
        return {QVariant::fromValue(QDBusObjectPath(request))};
      });
  Harness harness;
  harness.perform(SystemAction::screenshot);
  harness.perform(SystemAction::screenshot);
  EXPECT_TRUE(waitFor([&] { return !fs::exists(handed[1]); }));
  EXPECT_TRUE(fs::exists(handed[0]));
  std::vector<std::string> stored;
  for (const auto& entry : fs::recursive_directory_iterator(std::getenv("HOME"))) {
    if (entry.path().filename().string().starts_with("Bildschirmfoto vom ")) {
      stored.push_back(readFile(entry.path()));
    }
  }
  EXPECT_EQ(stored, std::vector<std::string>{"Screenshot_1.png"});
  EXPECT_EQ(harness.beeps, 0);
}

// Two screenshots in one second keep both pictures.
TEST(SystemActions, ScreenshotFileNeverReplacesAnother) {
  std::tm time{};
  time.tm_year = 126, time.tm_mon = 4, time.tm_mday = 4, time.tm_hour = 13, time.tm_min = 7,
  time.tm_sec = 9;
  const std::string first = "Bildschirmfoto vom 2026-05-04 13-07-09";
  const struct {
    std::set<std::string> taken;
    std::string file;
  } files[] = {
      {{}, first + ".png"},
      {{first + ".png"}, first + " (2).png"},
      {{first + ".png", first + " (2).png"}, first + " (3).png"},
  };
  for (const auto& file : files) {
    EXPECT_EQ(
        LinuxSystemActions::screenshotFile(
            "/p", time,
            [&](const fs::path& name) { return file.taken.contains(name.filename().string()); }),
        fs::path("/p") / file.file);
  }
}

}  // namespace
}  // namespace varek
