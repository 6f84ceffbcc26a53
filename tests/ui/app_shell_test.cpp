// The launcher's shell on the private test desktop: the hotkey grabbed on the real X
// server and pressed through XTest, control signals over the real session bus, the tray
// menu, the autostart entry, and the varek binary beside a launcher.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>
#include <regex>

#include "app/app_delegate.h"
#include "app/control_signals.h"
#include "platform/linux/linux_platform.h"
#include "tests/support/desktop_session.h"
#include "tests/support/event_count.h"
#include "tests/support/fake_platform.h"
#include "tests/support/x11_client.h"
#include "ui/panel_controller.h"
#include "ui/root_view.h"

namespace varek {
namespace {

using Mode = SearchModel::Mode;
using test::waitFor;

constexpr const char* kBarrierInterface = "zz.orvel.varek.testbarrier";

// Sends the signals ("hide; query 12*7+3": a member, then its payload if there is one),
// then one of a test interface on the same connection: the bus keeps their order, so once
// that one is back, every signal before it has been handled.
void post(const QString& sequence) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  for (const QString& one : sequence.split("; ")) {
    QDBusMessage message =
        QDBusMessage::createSignal("/", ControlSignals::kInterface, one.section(' ', 0, 0));
    if (one.contains(' ')) message << one.section(' ', 1);
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
    delegate.start();
  }
  PanelController& controller() { return *delegate.controller(); }
  SearchModel& model() { return controller().model(); }
  std::vector<std::string> log() { return test::logMessages(desktop.log().file(), ""); }
  // The messages after the first start ones, each ending in a line feed.
  std::string log(std::size_t start) {
    const std::vector<std::string> messages = log();
    std::string text;
    for (std::size_t index = start; index < messages.size(); ++index)
      text += messages[index] + "\n";
    return text;
  }
  // The query (a long one by its length), the mode, the selected row and whether the panel
  // is shown.
  std::string state() {
    const QString query = QString::fromStdString(model().query());
    return (query.size() > 100 ? QString("(%1 characters)").arg(query.size()) : query)
               .toStdString() +
           " | " + std::string(title(model().mode())) + " | " +
           std::to_string(model().selection()) +
           (controller().isVisible() ? " | shown" : " | hidden");
  }

  QTemporaryDir folder;
  LinuxPlatform desktop{LinuxPlatform::Options{.clipboard = true, .preload = false}};
  std::size_t logStart = log().size();
  AppDelegate delegate{desktop.platform(), desktop.log(),
                       LoginItem(folder.filePath("varek.desktop").toStdString(), "/bin/varek")};
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

TEST(AppShell, HotkeyTogglesThePanelWhateverTheLocks) {
  Launcher launcher;
  for (const QString lock : {"", "Caps_Lock", "Num_Lock"}) {
    if (!lock.isEmpty()) QProcess::execute("xdotool", {"key", lock});
    for (const bool visible : {true, false}) {
      QProcess::execute("xdotool", {"key", "alt+space"});
      EXPECT_TRUE(waitFor([&] { return launcher.controller().isVisible() == visible; }))
          << lock.toStdString();
    }
    if (!lock.isEmpty()) QProcess::execute("xdotool", {"key", lock});
  }
}

// The hotkey opens the panel from inside its key's X event, where Qt handles the server's
// exposure of the shown window before the requests it posted to repaint what it showed:
// those must not paint the panel whole a second time.
TEST(AppShell, AnOpeningPaintsThePanelWholeOnce) {
  MemoryLauncher launcher;
  PanelController& controller = *launcher.delegate.controller();
  RootView& view = *controller.panel().findChild<RootView*>();
  test::EventCount wholePaints([&](const QEvent& event) {
    return event.type() == QEvent::Paint &&
           static_cast<const QPaintEvent&>(event).rect() == view.rect();
  });
  view.installEventFilter(&wholePaints);
  for (int opening = 1; opening <= 2; ++opening) {
    wholePaints.count = 0;
    QProcess::execute("xdotool", {"key", "alt+space"});
    ASSERT_TRUE(waitFor([&] { return controller.isVisible() && wholePaints.count > 0; }));
    QTest::qWait(100);
    EXPECT_EQ(wholePaints.count, 1) << "opening " << opening;
    controller.hide();
  }
}

TEST(AppShell, TakenHotkeyIsLoggedAnnouncedAndStartUpGoesOn) {
  // A tray host to announce it from.
  QProcess tray;
  tray.start("trayer", {"--SetDockType", "true"});
  ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
  test::OtherClient desktop;
  ASSERT_TRUE(desktop.grab(' ', XCB_MOD_MASK_1));
  Launcher launcher;
  EXPECT_FALSE(launcher.delegate.hotkey().registered());
  EXPECT_EQ(launcher.log(launcher.logStart), "Kürzel Alt+Leertaste ist belegt\n");
  const auto announced = [] {
    QStringList texts;
    for (QWidget* shown : QApplication::topLevelWidgets()) {
      if (!shown->isVisible() || !shown->inherits("QBalloonTip")) continue;
      for (QLabel* label : shown->findChildren<QLabel*>()) texts << label->text();
    }
    return texts.join(" | ");
  };
  EXPECT_TRUE(waitFor([&] { return announced().contains("Alt+Leertaste ist belegt"); }))
      << announced().toStdString();
  EXPECT_TRUE(announced().contains("im Menü des Varek-Symbols")) << "says how to change it";
  EXPECT_NE(launcher.delegate.trayIcon(), nullptr);
  post("show");
  EXPECT_TRUE(launcher.controller().isVisible());
}

// Each row starts hidden, with an empty query in mode all; then the model, the panel and
// the lines the signals added to the log. A query's line follows the opening it caused.
TEST(ControlSignals, ActOnThePanelAndTheModelAsInputWould) {
  const std::string any = "[\\s\\S]*", opened = "geöffnet in .*\n";
  const std::string timing = "“: .*, oben: ";
  const std::tuple<QString, std::string, std::string> rows[] = {
      {"toggle 2", " | Alles | 0 | shown", opened},  // the payload is ignored
      {"show 2; toggle 2", " | Alles | 0 | hidden", any},
      {"show; show", " | Alles | 0 | shown", any},
      {"show; hide", " | Alles | 0 | hidden", any},
      {"open 2", " | Alles | 0 | hidden", ""},  // not a member of the interface
      {"mode 2", " | Dateien | 0 | hidden", ""},
      {"mode +3", " | Zwischenablage | 0 | hidden", ""},
      {"mode 4", " | Fenster | 0 | hidden", ""},
      {"mode", " | Alles | 0 | hidden", ""},
      {"query 12*7+3", "12*7+3 | Alles | 0 | shown",
       opened + "Suche „12\\*7\\+3" + timing + "87\n"},
      {"query", " | Alles | 0 | shown", opened + "Suche „" + timing + ".+\n"},
      {"show; mode 3; query zzqx", "zzqx | Zwischenablage | 0 | shown",
       opened + "Suche „zzqx“: .* 0 Treffer, oben: –\n"},
      // Cut when it arrives, and again in the log.
      {"query " + QString(2000, QChar(u'ä')), "(1000 characters) | Alles | 0 | shown",
       opened + "Suche „(?:ä)+…\n"},
      {"query 12*7+3; hide; down", "12*7+3 | Alles | 1 | hidden", any},
      {"show; query 12*7+3; enter", "12*7+3 | Alles | 0 | hidden", any},  // copies 87
      {"show; mode 3; query saf; bench", " | Zwischenablage | 0 | shown",
       opened + "Suche „saf.*\nBench: 260 Suchen, .*\n"},
  };
  Launcher launcher;
  for (const auto& [sequence, after, logged] : rows) {
    launcher.controller().hide();
    launcher.model().reset();
    const std::size_t start = launcher.log().size();
    post(sequence);
    EXPECT_EQ(launcher.state(), after) << sequence.left(40).toStdString();
    EXPECT_TRUE(waitFor([&] { return std::regex_match(launcher.log(start), std::regex(logged)); }))
        << QString::fromStdString(launcher.log(start)).left(200).toStdString();
  }
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "87") << "Return ran the calculator's row";
  for (const char* ignored :
       {"0", "5", "-1", "zwei", "", " 2", "2 ", "+-3", "+", "３", "18446744073709551618"}) {
    EXPECT_EQ(ControlSignals::parseMode(ignored), std::nullopt) << ignored;
  }
  launcher.model().reset();
  QDBusConnection::sessionBus().send(
      QDBusMessage::createSignal("/", ControlSignals::kInterface, "mode") << 2);
  post("hide");
  EXPECT_EQ(launcher.model().mode(), Mode::all) << "a number is not a text";
}

// The desktop's activation token travels in the signal as the sender adds it, and reaches
// the launcher when the signal shows the panel; a token that could not be genuine does not.
TEST(ControlSignals, ActivationTokenComesWithSignalsThatShow) {
  const std::string genuine = "gnome-shell/Varek/2-0-host_TIME81";
  const std::tuple<const char*, std::optional<QString>, std::string, std::string> rows[] = {
      {"show", std::nullopt, genuine, genuine},
      {"toggle", QString("2"), genuine, genuine},  // after a payload
      {"query", QString("saf"), genuine, genuine},
      {"hide", std::nullopt, genuine, ""},  // shows nothing
      {"show", std::nullopt, "zwei Wörter", ""},
      {"show", std::nullopt, "", ""},
      {"show", std::nullopt, std::string(ControlSignals::kActivationTokenBytes + 1, 'a'), ""},
  };
  Launcher launcher;
  std::string taken;
  launcher.delegate.controlSignals()->setOnActivationToken(
      [&](const std::string& token) { taken = token; });
  for (const auto& [member, payload, token, expected] : rows) {
    launcher.controller().hide();
    taken.clear();
    QDBusMessage message = QDBusMessage::createSignal("/", ControlSignals::kInterface, member);
    if (payload) message << *payload;
    QDBusConnection::sessionBus().send(message << ControlSignals::activationArgument(token));
    post("hide");
    EXPECT_EQ(taken, expected) << member << " " << token.substr(0, 20);
  }
  EXPECT_TRUE(qgetenv("XDG_ACTIVATION_TOKEN").isEmpty()) << "a spent token is not passed on";
}

TEST(AppShell, MenuItemsActOnTheSettingsTheMenuShows) {
  MemoryLauncher launcher;
  QMenu& menu = launcher.delegate.menu();
  EXPECT_EQ(describe(menu),
            (std::vector<std::string>{
                "Varek öffnen  (Alt+Leertaste)", "—",
                "Tastenkürzel ▸ [x] Alt+Leertaste ▸ [ ] Strg+Leertaste ▸ [ ] Super+Leertaste ▸ "
                "[ ] Anderes Kürzel …",
                "[x] Zwischenablage-Verlauf", "Verlauf leeren", "[ ] Beim Anmelden öffnen", "—",
                "Varek beenden"}));
  QPointer<QAction> earlier = findItem(menu, "Verlauf leeren");
  describe(menu);
  EXPECT_TRUE(earlier.isNull()) << "an item of an earlier opening can run nothing any more";

  launcher.fake.pasteboard.copy("Geheimzahl 1234");
  launcher.fake.scheduler.advance(ClipboardHistory::kPollSeconds);
  ASSERT_EQ(launcher.model().clipboard().entries().size(), 1U);
  findItem(menu, "Verlauf leeren")->trigger();
  EXPECT_TRUE(launcher.model().clipboard().entries().empty());
  findItem(menu, "Zwischenablage-Verlauf")->trigger();
  EXPECT_FALSE(launcher.model().clipboard().enabled());
  findItem(menu, "Beim Anmelden öffnen")->trigger();
  EXPECT_TRUE(QFile::exists(QString::fromStdString(launcher.loginFile)));
  EXPECT_EQ(launcher.delegate.trayIcon()->toolTip(), "Varek – Alt+Leertaste");
  findItem(menu, "Strg+Leertaste")->trigger();
  EXPECT_EQ(launcher.delegate.trayIcon()->toolTip(), "Varek – Strg+Leertaste");
  launcher.fake.windowServer.trusted = false;
  // The menu keeps nothing between openings: each shows the settings as they are.
  for (int opening = 0; opening < 2; ++opening) {
    EXPECT_EQ(describe(menu),
              (std::vector<std::string>{"Varek öffnen  (Strg+Leertaste)", "—",
                                        "Tastenkürzel ▸ [ ] Alt+Leertaste ▸ [x] Strg+Leertaste ▸ "
                                        "[ ] Super+Leertaste ▸ [ ] Anderes Kürzel …",
                                        "[ ] Zwischenablage-Verlauf", "Verlauf leeren",
                                        "Fensterliste fehlt: keine Fensterliste",
                                        "[x] Beim Anmelden öffnen",
                                        "—", "Varek beenden"}));
  }
  EXPECT_FALSE(findItem(menu, "Fensterliste fehlt: keine Fensterliste")->isEnabled());
  findItem(menu, "Beim Anmelden öffnen")->trigger();
  EXPECT_FALSE(QFile::exists(QString::fromStdString(launcher.loginFile)));
  findItem(menu, "Varek öffnen  (Strg+Leertaste)")->trigger();
  EXPECT_TRUE(launcher.delegate.controller()->isVisible());
}

// The star stands out on the panel: light where the desktop prefers dark, dark where it
// prefers light, following GNOME's setting while it runs until a portal speaks, which then
// decides alone.
TEST(AppShell, TrayStarFollowsTheDesktopsColorScheme) {
  // A portal too old to know the key, as another process on the bus.
  QDBusConnection portal = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "portal");
  ASSERT_TRUE(portal.registerService("org.freedesktop.portal.Desktop"));
  GSettings* interface = g_settings_new("org.gnome.desktop.interface");
  g_settings_set_string(interface, "color-scheme", "prefer-dark");
  MemoryLauncher launcher;
  auto lightness = [&] {
    const QImage star = launcher.delegate.trayIcon()->icon().pixmap(18).toImage();
    return star.pixelColor(star.width() / 2, star.height() / 2).lightness();
  };
  EXPECT_GT(lightness(), 200);
  g_settings_set_string(interface, "color-scheme", "prefer-light");
  EXPECT_TRUE(waitFor([&] { return lightness() < 60; }));

  portal.send(QDBusMessage::createSignal("/org/freedesktop/portal/desktop",
                                         "org.freedesktop.portal.Settings", "SettingChanged")
              << "org.freedesktop.appearance" << "color-scheme"
              << QVariant::fromValue(QDBusVariant(1U)));
  EXPECT_TRUE(waitFor([&] { return lightness() > 200; }));
  g_settings_set_string(interface, "color-scheme", "prefer-light");
  QTest::qWait(100);
  EXPECT_GT(lightness(), 200) << "the portal's answer stands";
  QDBusConnection::disconnectFromBus("portal");
  g_settings_reset(interface, "color-scheme");
  g_object_unref(interface);
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
    test::OtherClient desktop;
    ASSERT_TRUE(taken == 0 || desktop.grab(' ', taken));

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
    EXPECT_EQ(test::logMessages(launcher.fake.paths.logFile(), "Kürzel"),
              std::vector<std::string>{logged});
    EXPECT_EQ(launcher.fake.workspace.openedApps.size(), answer == open ? 1U : 0U);
  }
}

TEST(LoginItem, EntryIsWrittenQuotedReadAndRemoved) {
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

  // An entry that the desktop's keys switch off does not count.
  const std::pair<std::string, bool> rows[] = {
      {"[Desktop Entry]\nExec=varek\n", true},
      {"[Desktop Entry]\nHidden=false\n", true},
      {"[Desktop Entry]\nExec=varek\nHidden = true\n", false},
      {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
      {"[Desktop Entry]\n[Desktop Action x]\nHidden=true\n", true},
      {"Exec=varek\n", false},
  };
  for (const auto& [contents, enabled] : rows) {
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
    const QString pid = QString::number(first.processId());
    return !test::output("xdotool", {"search", "--onlyvisible", "--pid", pid}).trimmed().isEmpty();
  };
  EXPECT_FALSE(panelShown());
  for (const bool shown : {true, false}) {
    EXPECT_EQ(QProcess::execute(VAREK_BINARY, {}), 0);
    EXPECT_TRUE(waitFor([&] { return panelShown() == shown; }));
  }
  first.terminate();
  EXPECT_TRUE(first.waitForFinished());
}

// Each `varek signal` is a process of its own that ends right after sending; none of
// those sent one after another may be lost on the way out. The test owns the launcher's
// bus name, so the signals find a launcher and none is started.
TEST(CommandLine, EverySignalSentArrives) {
  constexpr int kSenders = 100;
  QAction listener;
  int arrived = 0;
  QObject::connect(&listener, &QAction::triggered, [&] { ++arrived; });
  QDBusConnection bus = QDBusConnection::sessionBus();
  ASSERT_TRUE(bus.registerService(ControlSignals::kInterface));
  bus.connect("", "", ControlSignals::kInterface, "query", &listener, SLOT(trigger()));
  for (int sender = 0; sender < kSenders; ++sender) {
    EXPECT_EQ(QProcess::execute(VAREK_BINARY, {"signal", "query", QString::number(sender)}), 0);
  }
  // A lost signal never comes; the wait ends at the bound then.
  EXPECT_TRUE(waitFor([&] { return arrived == kSenders; })) << arrived << " arrived";
  bus.disconnect("", "", ControlSignals::kInterface, "query", &listener, SLOT(trigger()));
  bus.unregisterService(ControlSignals::kInterface);
}

// On a desktop the command line sees the windows that the panel would list.
TEST(CommandLine, QueryListsTheOpenWindows) {
  const test::Xterm xterm({"sleep", "600"});
  const QString rows = test::output(VAREK_BINARY, {"query", "--mode", "windows", xterm.title()});
  EXPECT_TRUE(rows.startsWith("0. " + xterm.title())) << rows.toStdString();
}

}  // namespace
}  // namespace varek
