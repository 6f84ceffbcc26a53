// The launcher's shell on the private test desktop: the hotkey grabbed on the real X
// server and pressed through XTest, control signals over the real session bus, the tray
// menu, the autostart entry, and a second launcher process beside a first one.
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <regex>

#include "app/app_delegate.h"
#include "app/control_signals.h"
#include "platform/linux/linux_platform.h"
#include "tests/support/fake_platform.h"
#include "ui/panel_controller.h"

namespace varek {
namespace {

using Mode = SearchModel::Mode;
// Control signals by member, each with its payload if it has one.
using SignalList = std::vector<std::pair<QString, std::optional<QVariant>>>;

// Long enough for a loaded machine; a passing test never waits this long.
constexpr int kWaitMs = 20000;
constexpr const char* kBarrierInterface = "zz.orvel.varek.testbarrier";

bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, kWaitMs); }
int run(const QString& program, const QStringList& arguments) {
  return QProcess::execute(program, arguments);
}
std::streamoff logSize(const std::string& file) {
  std::ifstream stream(file, std::ios::ate);
  return stream ? static_cast<std::streamoff>(stream.tellg()) : 0;
}
// The messages of the log past this offset that start with prefix, without time stamps.
std::vector<std::string> logSince(const std::string& file, std::streamoff offset,
                                  const std::string& prefix = "") {
  std::ifstream stream(file);
  stream.seekg(offset);
  std::vector<std::string> messages;
  for (std::string line; std::getline(stream, line);) {
    line = line.substr(line.find(' ') + 1);
    if (line.starts_with(prefix)) messages.push_back(line);
  }
  return messages;
}

// Another X client, as a desktop that binds a combination itself would be.
class OtherClient {
 public:
  OtherClient() : connection_(xcb_connect(nullptr, nullptr)) {
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection_);
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, ' ');
    space_ = codes ? codes[0] : 0;
    std::free(codes);
    xcb_key_symbols_free(symbols);
  }
  ~OtherClient() { xcb_disconnect(connection_); }
  xcb_window_t root() const { return root_; }
  xcb_keycode_t space() const { return space_; }

  // Whether the server lets this client have Space with these modifiers; it keeps them.
  bool grab(std::uint16_t modifiers) {
    xcb_generic_error_t* error = xcb_request_check(
        connection_, xcb_grab_key_checked(connection_, 0, root_, modifiers, space_,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    std::free(error);
    return error == nullptr;
  }

 private:
  xcb_connection_t* connection_;
  xcb_window_t root_ = 0;
  xcb_keycode_t space_ = 0;
};

// Sends the signals, then one of a test interface on the same connection: the bus keeps
// their order, so once that one is back, every signal before it has been handled.
void post(const SignalList& sequence) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  for (const auto& [member, payload] : sequence) {
    QDBusMessage message = QDBusMessage::createSignal("/", ControlSignals::kInterface, member);
    if (payload) message << *payload;
    bus.send(message);
  }
  QAction barrier;
  bool arrived = false;
  QObject::connect(&barrier, &QAction::triggered, [&] { arrived = true; });
  bus.connect("", "", kBarrierInterface, "done", &barrier, SLOT(trigger()));
  bus.send(QDBusMessage::createSignal("/", kBarrierInterface, "done"));
  EXPECT_TRUE(waitFor([&] { return arrived; }));
  bus.disconnect("", "", kBarrierInterface, "done", &barrier, SLOT(trigger()));
}

// The text of the alert that the action shows, answered with the button of that title.
std::optional<QString> alertDuring(const std::function<void()>& action, const QString& answer) {
  std::optional<QString> shown;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (alert == nullptr || shown) return;
    shown = alert->text();
    for (QAbstractButton* button : alert->buttons()) {
      if (button->text() == answer) button->click();
    }
  });
  watcher.start(10);
  action();
  return shown;
}

// The launcher started on the real desktop backend, with its first preset hotkey.
struct Launcher {
  Launcher() {
    desktop.platform().defaults.setString("hotkey", Hotkey::portableText(Hotkey::kPresets[0]));
    logStart = logSize(log());
    delegate.start();
  }
  PanelController& controller() { return *delegate.controller(); }
  SearchModel& model() { return controller().model(); }
  const std::string& log() { return desktop.log().file(); }
  std::vector<std::string> logSinceStart() { return logSince(log(), logStart); }

  QTemporaryDir folder;
  LinuxPlatform desktop{LinuxPlatform::Options{.clipboard = true, .preload = false}};
  AppDelegate delegate{desktop.platform(), desktop.log(),
                       LoginItem(folder.filePath("varek.desktop").toStdString(), "/bin/varek")};
  std::streamoff logStart = 0;
};

// The launcher started on the in-memory platform, where trust, the clipboard and the
// settings panes are the test's to set; the hotkey still grabs on the real display.
struct MemoryLauncher {
  MemoryLauncher() { delegate.start(); }
  SearchModel& model() { return delegate.controller()->model(); }

  test::FakePlatform fake;
  Platform platform = fake.platform();
  Log log{fake.paths.logFile(), fake.scheduler};
  QTemporaryDir folder;
  std::string loginFile = folder.filePath("autostart/varek.desktop").toStdString();
  AppDelegate delegate{platform, log, LoginItem(loginFile, "/bin/varek")};
};

// Opens the menu as the tray would; one line per entry: "—" for a separator, "[x] " or
// "[ ] " before a checkable item, a submenu's items after " ▸ ".
std::vector<std::string> describe(QMenu& menu) {
  emit menu.aboutToShow();
  std::vector<std::string> lines;
  for (QAction* action : menu.actions()) {
    std::string line = action->isSeparator() ? "—" : action->text().toStdString();
    if (action->isCheckable()) line = (action->isChecked() ? "[x] " : "[ ] ") + line;
    for (QAction* inner : action->menu() ? action->menu()->actions() : QList<QAction*>{}) {
      line += (inner->isChecked() ? " ▸ [x] " : " ▸ [ ] ") + inner->text().toStdString();
    }
    lines.push_back(line);
  }
  return lines;
}

QAction* findItem(QMenu& menu, const QString& title) {
  for (QAction* action : menu.actions()) {
    if (action->text() == title) return action;
    if (QAction* inner = action->menu() ? findItem(*action->menu(), title) : nullptr) return inner;
  }
  return nullptr;
}

TEST(Hotkey, KeysHeldDownPressOnce) {
  constexpr std::uint8_t kPress = XCB_KEY_PRESS, kRelease = XCB_KEY_RELEASE, kSent = 0x80;
  constexpr std::uint16_t kAlt = XCB_MOD_MASK_1;
  struct Key {
    std::uint8_t type;
    std::uint32_t time;
    std::uint16_t state = kAlt;
    bool onRoot = true;
  };
  const std::tuple<const char*, std::vector<Key>, int> rows[] = {
      {"two presses", {{kPress, 1}, {kRelease, 2}, {kPress, 5}, {kRelease, 6}}, 2},
      {"repeats as presses alone", {{kPress, 1}, {kPress, 2}, {kPress, 3}, {kRelease, 4}}, 1},
      {"repeats as a release and a press at one time",
       {{kPress, 1}, {kRelease, 2}, {kPress, 2}, {kRelease, 3}, {kPress, 3}, {kRelease, 4}},
       1},
      {"CapsLock and NumLock on", {{kPress, 1, kAlt | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2}}, 1},
      {"Shift as well", {{kPress, 1, kAlt | XCB_MOD_MASK_SHIFT}}, 0},
      {"typed into a window of ours", {{kPress, 1, kAlt, false}}, 0},
      {"sent by a client", {{kPress | kSent, 1}}, 1},
  };
  OtherClient display;
  for (const auto& [name, keys, expected] : rows) {
    test::MemoryDefaults defaults;
    Hotkey hotkey(defaults);
    int presses = 0;
    hotkey.setOnPress([&] { ++presses; });
    ASSERT_TRUE(hotkey.registerKey());
    for (const Key& key : keys) {
      xcb_key_press_event_t event{};
      event.response_type = key.type;
      event.detail = display.space();
      event.time = key.time;
      event.root = display.root();
      event.event = key.onRoot ? display.root() : display.root() + 1;
      event.state = key.state;
      hotkey.nativeEventFilter("xcb_generic_event_t", &event, nullptr);
    }
    EXPECT_EQ(presses, expected) << name;
  }
}

TEST(AppShell, HotkeyTogglesThePanelWhateverTheLocks) {
  Launcher launcher;
  for (const QString lock : {"", "Caps_Lock", "Num_Lock"}) {
    if (!lock.isEmpty()) run("xdotool", {"key", lock});
    run("xdotool", {"key", "alt+space"});
    EXPECT_TRUE(waitFor([&] { return launcher.controller().isVisible(); })) << lock.toStdString();
    run("xdotool", {"key", "alt+space"});
    EXPECT_TRUE(waitFor([&] { return !launcher.controller().isVisible(); })) << lock.toStdString();
    if (!lock.isEmpty()) run("xdotool", {"key", lock});
  }
}

TEST(AppShell, TakenHotkeyIsLoggedAndStartUpGoesOn) {
  OtherClient desktop;
  ASSERT_TRUE(desktop.grab(XCB_MOD_MASK_1));
  Launcher launcher;
  EXPECT_FALSE(launcher.delegate.hotkey().registered());
  EXPECT_EQ(launcher.logSinceStart(), std::vector<std::string>{"Kürzel Alt+Leertaste ist belegt"});
  EXPECT_NE(launcher.delegate.trayIcon(), nullptr);
  post({{"show", std::nullopt}});
  EXPECT_TRUE(launcher.controller().isVisible());
}

TEST(ControlSignals, ActOnThePanelAndTheModel) {
  const QVariant two("2");
  struct Row {
    SignalList sequence;  // sent to a hidden panel in mode all
    bool visible;
    Mode mode;
  };
  const Row rows[] = {
      {{{"toggle", two}}, true, Mode::all},
      {{{"show", two}, {"toggle", two}}, false, Mode::all},
      {{{"show", two}, {"show", two}}, true, Mode::all},
      {{{"show", two}, {"hide", two}}, false, Mode::all},
      {{{"hide", two}, {"open", two}}, false, Mode::all},  // not a member of the interface
      {{{"mode", two}}, false, Mode::files},
      {{{"mode", QVariant("+3")}}, false, Mode::clipboard},
      {{{"mode", QVariant("4")}}, false, Mode::windows},
      {{{"mode", std::nullopt}}, false, Mode::all},
      {{{"mode", QVariant(2)}}, false, Mode::all},  // a number is not a text
  };
  Launcher launcher;
  for (std::size_t index = 0; index < std::size(rows); ++index) {
    launcher.controller().hide();
    launcher.model().setMode(Mode::all);
    post(rows[index].sequence);
    EXPECT_EQ(launcher.controller().isVisible(), rows[index].visible) << "row " << index;
    EXPECT_EQ(launcher.model().mode(), rows[index].mode) << "row " << index;
  }
  for (const char* ignored :
       {"0", "5", "-1", "zwei", "", " 2", "2 ", "+-3", "+", "３", "18446744073709551618"}) {
    EXPECT_EQ(ControlSignals::parseMode(ignored), std::nullopt) << ignored;
  }
}

TEST(ControlSignals, QueryShowsThePanelAndLogsItsSearch) {
  const std::tuple<SignalList, std::string, std::string> rows[] = {
      {{{"hide", {}}, {"query", QVariant("12*7+3")}}, "12*7+3", "\\d+ Treffer, oben: 87"},
      {{{"query", std::nullopt}}, "", "\\d+ Treffer, oben: .*"},
      {{{"mode", QVariant("3")}, {"query", QVariant("zzqx")}}, "zzqx", "0 Treffer, oben: –"},
  };
  Launcher launcher;
  for (const auto& [sequence, query, countAndTop] : rows) {
    const std::streamoff start = logSize(launcher.log());
    post(sequence);
    EXPECT_TRUE(launcher.controller().isVisible()) << query;
    EXPECT_EQ(launcher.model().query(), query);
    const std::vector<std::string> lines = logSince(launcher.log(), start, "Suche");
    ASSERT_EQ(lines.size(), 1U) << query;
    const std::string prefix = "Suche „" + query + "“: ";
    ASSERT_TRUE(lines[0].starts_with(prefix)) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[0].substr(prefix.size()),
                                 std::regex("\\d+\\.\\d\\d ms, " + countAndTop)))
        << lines[0];
    const std::vector<Item>& items = launcher.model().items();
    EXPECT_TRUE(lines[0].ends_with(std::to_string(items.size()) +
                                   " Treffer, oben: " + (items.empty() ? "–" : items[0].title)));
  }
}

TEST(ControlSignals, DownEnterAndBenchWorkTheModel) {
  Launcher launcher;
  post({{"query", QVariant("12*7+3")}, {"hide", {}}, {"down", {}}});
  EXPECT_EQ(launcher.model().selection(), 1) << "moves also while hidden";
  post({{"show", {}}, {"query", QVariant("12*7+3")}, {"enter", {}}});
  EXPECT_FALSE(launcher.controller().isVisible()) << "Return ran the calculator's row";
  EXPECT_TRUE(waitFor([] { return QGuiApplication::clipboard()->text() == "87"; }));

  post({{"show", {}}, {"mode", QVariant("3")}, {"query", QVariant("saf")}});
  const std::streamoff start = logSize(launcher.log());
  post({{"bench", {}}});
  const std::string entries = std::to_string(launcher.model().apps().entries().size());
  const std::vector<std::string> lines = logSince(launcher.log(), start, "Bench");
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_TRUE(
      std::regex_match(lines[0], std::regex("Bench: 260 Suchen, Median \\d+\\.\\d\\d ms, 95% "
                                            "\\d+\\.\\d\\d ms, Max \\d+\\.\\d\\d ms, " +
                                            entries + " Einträge im Index")))
      << lines[0];
  EXPECT_EQ(launcher.model().query(), "");
  EXPECT_EQ(launcher.model().mode(), Mode::clipboard);
  EXPECT_TRUE(launcher.controller().isVisible());
}

TEST(AppShell, MenuShowsTheStoredSettings) {
  struct Row {
    std::optional<std::string> hotkey;
    bool trusted, clipboard, loginItem;
    std::vector<std::string> menu;
  };
  // clang-format off
  const Row rows[] = {
      {std::nullopt, true, true, false,
       {"Varek öffnen  (Alt+Leertaste)", "—",
        "Tastenkürzel ▸ [x] Alt+Leertaste ▸ [ ] Strg+Leertaste ▸ [ ] Super+Leertaste ▸ "
        "[ ] Anderes Kürzel …",
        "[x] Zwischenablage-Verlauf", "Verlauf leeren", "[ ] Beim Anmelden öffnen", "—",
        "Varek beenden"}},
      {"⌃ Leertaste", false, false, true,
       {"Varek öffnen  (Strg+Leertaste)", "—",
        "Tastenkürzel ▸ [ ] Alt+Leertaste ▸ [x] Strg+Leertaste ▸ [ ] Super+Leertaste ▸ "
        "[ ] Anderes Kürzel …",
        "[ ] Zwischenablage-Verlauf", "Verlauf leeren", "Fenstersteuerung erlauben …",
        "[x] Beim Anmelden öffnen", "—", "Varek beenden"}},
  };
  // clang-format on
  for (const Row& row : rows) {
    MemoryLauncher launcher;
    if (row.hotkey) launcher.fake.defaults.setString("hotkey", *row.hotkey);
    launcher.fake.windowServer.trusted = row.trusted;
    launcher.model().clipboard().setEnabled(row.clipboard);
    LoginItem(launcher.loginFile, "/bin/varek").setEnabled(row.loginItem);
    EXPECT_EQ(describe(launcher.delegate.menu()), row.menu) << row.hotkey.value_or("nothing");
    // The menu keeps nothing between openings: the second shows the same.
    EXPECT_EQ(describe(launcher.delegate.menu()), row.menu) << row.hotkey.value_or("nothing");
  }
}

TEST(AppShell, MenuItemsActOnTheirOwnSetting) {
  MemoryLauncher launcher;
  launcher.fake.windowServer.trusted = false;
  QMenu& menu = launcher.delegate.menu();
  describe(menu);
  EXPECT_EQ(launcher.delegate.trayIcon()->toolTip(), "Varek – Alt+Leertaste");
  QPointer<QAction> earlier = findItem(menu, "Verlauf leeren");
  describe(menu);
  EXPECT_TRUE(earlier.isNull()) << "an item of an earlier opening can run nothing any more";

  launcher.fake.pasteboard.copy("Geheimzahl 1234");
  launcher.fake.scheduler.advance(ClipboardHistory::kPollSeconds);
  ASSERT_EQ(launcher.model().clipboard().entries().size(), 1U);
  findItem(menu, "Verlauf leeren")->trigger();
  EXPECT_TRUE(launcher.model().clipboard().entries().empty());
  for (bool enabled : {false, true}) {
    findItem(menu, "Zwischenablage-Verlauf")->trigger();
    EXPECT_EQ(launcher.model().clipboard().enabled(), enabled);
    describe(menu);
  }
  findItem(menu, "Fenstersteuerung erlauben …")->trigger();
  EXPECT_EQ(launcher.fake.windowServer.trustRequests, 1);
  for (bool enabled : {true, false}) {
    findItem(menu, "Beim Anmelden öffnen")->trigger();
    EXPECT_EQ(QFile::exists(QString::fromStdString(launcher.loginFile)), enabled);
    describe(menu);
  }
  findItem(menu, "Varek öffnen  (Alt+Leertaste)")->trigger();
  EXPECT_TRUE(launcher.delegate.controller()->isVisible());
}

// Only a combination that could not be grabbed is explained, naming the desktop's own
// shortcut settings; each choice leaves one line in the log.
TEST(AppShell, ChoosingATakenHotkeyExplainsIt) {
  const QString close = "Schließen", open = "Tastenkürzel-Einstellungen öffnen";
  const std::string pane = "/usr/share/applications/gnome-keyboard-panel.desktop";
  const std::tuple<QKeyCombination, std::uint16_t, QString, std::string> rows[] = {
      // preset, its X11 modifier when taken by another client, answer, line logged
      {Hotkey::kPresets[2], 0, close, "Kürzel Super+Leertaste gewählt"},
      {Hotkey::kPresets[0], XCB_MOD_MASK_1, close, "Kürzel Alt+Leertaste gewählt, ist aber belegt"},
      {Hotkey::kPresets[1], XCB_MOD_MASK_CONTROL, open,
       "Kürzel Strg+Leertaste gewählt, ist aber belegt"},
  };
  for (const auto& [preset, taken, answer, logged] : rows) {
    MemoryLauncher launcher;
    launcher.fake.appScanner.settings = {
        {.name = "Tastatur", .alternateName = "", .path = pane, .url = std::nullopt}};
    launcher.model().apps().fill();
    launcher.delegate.hotkey().unregisterKey();
    OtherClient desktop;
    if (taken != 0) {
      ASSERT_TRUE(desktop.grab(taken));
    }

    describe(launcher.delegate.menu());
    QAction* item = findItem(launcher.delegate.menu(), Hotkey::label(preset));
    const auto alert = alertDuring([&] { item->trigger(); }, answer);
    EXPECT_EQ(alert.value_or("").toStdString(),
              taken == 0 ? ""
                         : Hotkey::label(preset).toStdString() +
                               " ist belegt. In den Tastenkürzel-Einstellungen der "
                               "Arbeitsumgebung freigeben oder hier ein anderes Kürzel wählen.");
    EXPECT_EQ(launcher.fake.defaults.string("hotkey"), Hotkey::portableText(preset));
    EXPECT_EQ(launcher.delegate.hotkey().registered(), taken == 0);
    EXPECT_EQ(logSince(launcher.fake.paths.logFile(), 0, "Kürzel"),
              std::vector<std::string>{logged});
    EXPECT_EQ(launcher.fake.workspace.openedApps.size(), answer == open ? 1U : 0U);
  }
}

TEST(AppShell, MenuIconIsAFourPointedStar) {
  for (qreal scale : {1.0, 2.0}) {
    const QImage image = AppDelegate::menuIcon(scale).toImage();
    ASSERT_EQ(image.size(), QSize(18, 18) * scale);
    const auto alpha = [&](qreal x, qreal y) {
      return qAlpha(image.pixel(static_cast<int>(x * scale), static_cast<int>(y * scale)));
    };
    EXPECT_EQ(alpha(8.5, 8.5), 255) << "the centre";
    // The tips lie 7.5 points above and below the centre and 6.15 to either side.
    EXPECT_GT(alpha(8.5, 2.5) + alpha(9.5, 2.5) + alpha(13.5, 8.5) + alpha(13.5, 9.5), 0);
    EXPECT_EQ(alpha(9, 0.5) + alpha(16.5, 9) + alpha(1.5, 9), 0) << "beyond the tips";
    // The sides bow in towards the centre and leave the quadrants empty.
    EXPECT_EQ(alpha(13, 4) + alpha(4, 4) + alpha(4, 13) + alpha(13, 13), 0);
  }
}

TEST(LoginItem, EntryIsWrittenQuotedAndRemoved) {
  QTemporaryDir folder;
  const std::string file = folder.filePath("autostart/varek.desktop").toStdString();
  LoginItem item(file, "/opt/Varek Test/varek");
  EXPECT_FALSE(item.enabled());
  ASSERT_TRUE(item.setEnabled(true)) << "makes the missing autostart folder";
  EXPECT_TRUE(item.enabled());
  std::ifstream stream(file);
  const std::string written{std::istreambuf_iterator<char>(stream), {}};
  EXPECT_NE(written.find("\nExec=\"/opt/Varek Test/varek\"\n"), std::string::npos) << written;
  ASSERT_TRUE(item.setEnabled(false));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(file)));
  EXPECT_TRUE(item.setEnabled(false)) << "switching off twice is no error";

  // The Exec key's quoting first, then the string escapes, which double a backslash.
  const std::pair<std::string, std::string> quoted[] = {
      {"/usr/bin/varek", "Exec=/usr/bin/varek"},
      {"/opt/100%/varek", "Exec=/opt/100%%/varek"},  // else read as a field code
      {"/opt/a$b/varek", R"(Exec="/opt/a\\$b/varek")"},
      {R"(/opt/a\b/varek)", R"(Exec="/opt/a\\\\b/varek")"},
  };
  for (const auto& [executable, exec] : quoted) {
    EXPECT_NE(LoginItem::entry(executable).find("\n" + exec + "\n"), std::string::npos) << exec;
  }
}

TEST(LoginItem, SwitchedOffEntriesDoNotCount) {
  const std::pair<std::string, bool> rows[] = {
      {"[Desktop Entry]\nExec=varek\n", true},
      {"[Desktop Entry]\nHidden=false\n", true},
      {"[Desktop Entry]\nExec=varek\nHidden = true\n", false},
      {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
      {"[Desktop Entry]\n[Desktop Action x]\nHidden=true\n", true},
      {"Exec=varek\n", false},
  };
  for (const auto& [contents, enabled] : rows) {
    QTemporaryDir folder;
    const std::string file = folder.filePath("varek.desktop").toStdString();
    std::ofstream(file) << contents;
    EXPECT_EQ(LoginItem(file, "/bin/varek").enabled(), enabled) << contents;
  }
}

TEST(AppShell, SecondLauncherTogglesTheFirstAndLeaves) {
  QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
  ASSERT_FALSE(bus->isServiceRegistered(ControlSignals::kInterface));
  QProcess first;
  first.start(VAREK_BINARY, {});
  ASSERT_TRUE(
      waitFor([&] { return bus->isServiceRegistered(ControlSignals::kInterface).value(); }));
  const auto panelShown = [&] {
    QProcess search;
    search.start("xdotool",
                 {"search", "--onlyvisible", "--pid", QString::number(first.processId())});
    search.waitForFinished();
    return !search.readAllStandardOutput().trimmed().isEmpty();
  };
  EXPECT_FALSE(panelShown());
  EXPECT_EQ(run(VAREK_BINARY, {}), 0);
  EXPECT_TRUE(waitFor(panelShown));
  EXPECT_EQ(run(VAREK_BINARY, {}), 0);
  EXPECT_TRUE(waitFor([&] { return !panelShown(); }));
  first.terminate();
  EXPECT_TRUE(first.waitForFinished());
}

}  // namespace
}  // namespace varek
