// The panel controller on a real X display: where the panel opens, its keys, hiding when
// another window takes the focus, the opening line of the log, and rows that act on real
// X clients.
#include <gtest/gtest.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QKeySequence>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdlib>
#include <memory>

#include "platform/linux/linux_platform.h"
#include "tests/support/desktop_fixtures.h"
#include "tests/support/desktop_session.h"
#include "tests/support/event_count.h"
#include "tests/support/fake_platform.h"
#include "tests/support/x11_client.h"
#include "ui/panel_controller.h"
#include "ui/root_view.h"
#include "ui/search_field.h"
#include "ui/varek_panel.h"

namespace varek {
namespace {

using test::waitFor;

const std::string kFirefox = "/usr/share/applications/firefox.desktop";

// Keys as the X server hands them over: to the panel's window, which passes them on to
// the widget with the focus. A word in lower case is typed; any other names a key
// ("Escape", "Ctrl+Return", "Ctrl+Shift+N"; "Caps+Ctrl+3" with Caps Lock on). X11 gives
// a digit its character even with a modifier held.
void keys(QWidget& panel, const QString& words) {
  const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers, QString text,
                         quint32 native) {
    for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
      QKeyEvent event(type, key, modifiers, 0, 0, native, text);
      QCoreApplication::sendEvent(panel.windowHandle(), &event);
    }
  };
  for (QString word : words.split(' ', Qt::SkipEmptyParts)) {
    if (word[0].isLower()) {
      for (QChar letter : word) press(Qt::Key(letter.toUpper().unicode()), {}, letter, 0);
      continue;
    }
    // The X11 modifier bit of Caps Lock, as the key event carries it in its native state.
    const quint32 capsLock = word.startsWith("Caps+") ? 1U << 1 : 0;
    const QKeyCombination key = QKeySequence(word.remove("Caps+"))[0];
    press(key.key(), key.keyboardModifiers(), word.back().isDigit() ? word.right(1) : "", capsLock);
  }
}

// On the in-memory desktop, with one application that has a path to reveal and copy.
class PanelControllerTest : public ::testing::Test {
 protected:
  PanelControllerTest() {
    fake.appScanner.apps = {{.name = "Firefox", .alternateName = "", .path = kFirefox, .url = {}}};
    model.apps().fill();
  }
  std::vector<std::string> openings() { return test::logMessages(log.file(), "geöffnet in "); }
  // Shows the panel and waits for its first frame, which the log line marks.
  bool open() {
    const std::size_t before = openings().size();
    controller.show();
    return waitFor([&] { return openings().size() == before + 1; });
  }
  // The model and what reached the desktop, in one line.
  std::string state() {
    const int selection = model.selection();
    const bool last = selection > 0 && selection + 1 == static_cast<int>(model.items().size());
    std::string line = model.query() + " | " + std::string(title(model.mode())) + " | " +
                       (last ? "last" : std::to_string(selection)) +
                       (controller.isVisible() ? " | shown" : " | hidden");
    if (model.confirmID() && controller.isVisible()) line += " | asks to confirm";
    for (const std::string& path : fake.workspace.revealed) line += " | revealed " + path;
    if (fake.pasteboard.text()) line += " | copied " + *fake.pasteboard.text();
    if (!fake.systemActions.performed.empty()) line += " | restarts";
    return line;
  }

  test::FakePlatform fake;
  Log log{fake.paths.logFile(), fake.scheduler};
  PanelController controller{fake.platform(), log};
  QWidget& panel = controller.panel();
  SearchModel& model = controller.model();
};

// Centred horizontally; the panel's middle 60 pixels below the line at 72 % of the visible
// height, so its top lies 0.28 × height − (470 / 2 − 60) below the frame's top.
TEST(PanelControllerPlacement, CentresOnTheVisibleFrameNearTheTop) {
  const std::pair<QRect, QPoint> rows[] = {
      {{0, 0, 1440, 875}, {720 - 370, 245 - 175}},  // bottom-left (350, 360) on 900 pixels
      {{0, 0, 1440, 900}, {720 - 370, 252 - 175}},
      {{1440, 30, 1920, 1050}, {1440 + 960 - 370, 30 + 294 - 175}},  // a second screen
      {{0, 0, 1366, 767}, {683 - 370, 40}},                          // 214.76 − 175, rounded
  };
  for (const auto& [visible, origin] : rows) EXPECT_EQ(VarekPanel::origin(visible), origin);
}

// Qt may ask the panel to repaint after it is shown but before the server exposes it, when
// it has no pixels yet: what the panel does after a frame must leave them alone then.
TEST(VarekPanelShown, TakesAnUpdateBeforeItsFirstFrame) {
  VarekPanel panel;
  panel.show();
  ASSERT_FALSE(panel.windowHandle()->isExposed());
  QEvent request(QEvent::UpdateRequest);
  QCoreApplication::sendEvent(&panel, &request);
  QCoreApplication::sendPostedEvents(&panel);
  EXPECT_TRUE(waitFor([&] { return panel.windowHandle()->isExposed(); }));
}

TEST_F(PanelControllerTest, OpensOnTheScreenUnderThePointer) {
  QScreen* screen = QGuiApplication::primaryScreen();
  QCursor::setPos(screen, 100, 100);
  const auto grab = [&] { return screen->grabWindow(0, 350, 77, 740, 470).toImage(); };
  const QImage before = grab();
  ASSERT_TRUE(open());
  model.setQuery("fenster");
  ASSERT_TRUE(waitFor([&] { return panel.windowOpacity() == 1.0; })) << "faded in";
  QCoreApplication::processEvents();

  EXPECT_EQ(panel.geometry(), QRect(350, 77, 740, 470))
      << "on the test desktop's 1440 x 900 screen";
  EXPECT_EQ(test::outerFrame(panel.winId()), (Rect{350, 900 - 77 - 470, 740, 470}))
      << "as the X server has it, counted from the bottom";
  const QImage shown = grab();
  EXPECT_NE(shown, before) << "the panel is on the screen";
  QDir().mkpath(VAREK_SCREENSHOTS);
  shown.save(QStringLiteral(VAREK_SCREENSHOTS "/panel.png"));
}

// Each row opens the panel and types at once, ahead of its first frame, as a user does.
TEST_F(PanelControllerTest, KeysActOnTheModel) {
  const std::string firefox = "firefox | Alles | 0 | hidden | ";
  const std::pair<QString, std::string> rows[] = {
      {"Ctrl+3 abc Escape", " | Zwischenablage | 0 | shown"},  // Escape clears the text,
      {"Ctrl+3 Escape", " | Alles | 0 | shown"},               // then leaves the mode,
      {"Escape", " | Alles | 0 | hidden"},                     // then hides
      {"neustart Return", "neustart | Alles | 0 | shown | asks to confirm"},
      {"neustart Return Enter", "neustart | Alles | 0 | hidden | restarts"},
      {"firefox Ctrl+Return", firefox + "revealed " + kFirefox},
      {"firefox Alt+Return", firefox + "copied " + kFirefox},
      {"firefox Ctrl+Alt+Return", firefox + "revealed " + kFirefox},  // Strg wins
      {"firefox Ctrl+C", firefox + "copied " + kFirefox},             // no text selected: the row
      {"Ctrl+4", " | Fenster | 0 | shown"},
      {"Ctrl+2 Ctrl+1", " | Alles | 0 | shown"},
      {"Ctrl+2 Ctrl+5", " | Dateien | 0 | shown"},        // no mode, and types nothing
      {"Ctrl+2 Caps+Ctrl+3", " | Dateien | 0 | shown"},   // another shortcut,
      {"Ctrl+2 Shift+Ctrl+3", " | Dateien | 0 | shown"},  // as with Shift
      {"Meta+2 Meta+C", " | Alles | 0 | shown"},          // Super is the desktop's
      {"fenster Down Ctrl+N", "fenster | Alles | 2 | shown"},
      {"fenster Down Up Ctrl+P", "fenster | Alles | last | shown"},
      {"fenster Ctrl+Shift+N", "fenster | Alles | 0 | shown"},
      {"fenster Shift+Down", "fenster | Alles | 1 | shown"},  // the arrows take any modifiers
  };
  for (const auto& [words, after] : rows) {
    fake.workspace.revealed.clear();
    fake.systemActions.performed.clear();
    fake.pasteboard.copy(std::nullopt);
    controller.show();
    keys(panel, words);
    EXPECT_EQ(state(), after) << words.toStdString();
  }
}

// What a row did is logged once it is done; a copied text never reaches the log.
TEST_F(PanelControllerTest, RunRowsAreLoggedWithoutTheirClipboardText) {
  fake.pasteboard.copy("Geheimzahl 1234");
  fake.scheduler.advance(ClipboardHistory::kPollSeconds);
  const std::pair<QString, std::string> rows[] = {
      {"firefox Return", "Ausgeführt: „Firefox“"},
      {"firefox Ctrl+Return", "Im Dateimanager gezeigt: „Firefox“"},
      {"neustart Return", ""},  // only asks
      {"Ctrl+3 Alt+Return", "Kopiert: Eintrag der Zwischenablage"},
  };
  std::string last;
  for (const auto& [words, logged] : rows) {
    controller.show();
    keys(panel, words);
    std::vector<std::string> lines = test::logMessages(log.file(), "");
    std::erase_if(lines, [](const std::string& line) { return line.starts_with("geöffnet"); });
    const std::string now = lines.empty() ? "" : lines.back();
    EXPECT_EQ(now == last ? "" : now, logged) << words.toStdString();
    last = now;
  }
}

TEST_F(PanelControllerTest, StrgCWithTextSelectedCopiesTheText) {
  controller.show();
  keys(panel, "firefox");
  panel.findChild<RootView*>()->field().selectAll();
  keys(panel, "Ctrl+C");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "firefox");
  EXPECT_EQ(state(), "firefox | Alles | 0 | shown");
}

// Desktops without a tray reach the settings through a row found by its words; it opens
// them where the panel stood, once the panel has hidden.
TEST_F(PanelControllerTest, SettingsRowOpensTheSettingsWhereThePanelStood) {
  controller.show();
  keys(panel, "einstellungen");
  EXPECT_NE(model.items().at(0).id, "settings") << "no row without settings to open";
  std::vector<std::pair<QPoint, bool>> opened;  // where, and whether the panel was hidden
  controller.setShowSettings([&](QPoint at) { opened.emplace_back(at, !controller.isVisible()); });
  for (const QString words : {"einstellungen", "varek", "kürzel"}) {
    controller.show();
    keys(panel, words + " Return");
    const std::pair expected{panel.pos() + QPoint(20, 70), true};
    EXPECT_EQ(opened, std::vector{expected}) << words.toStdString();
    opened.clear();
  }
}

// Blended by a compositor that ran when the panel was made (a stand-in owns the screen's
// compositor selection), the window has an alpha channel, is whole and lets the desktop
// show through the card. Otherwise it is opaque (the server would copy each drawing of a
// window with alpha once more) and cut to the card's rounded outline, so no black corners
// show: also when the compositor came or went after the window was made. Only a blended
// window fades in.
TEST_F(PanelControllerTest, CutsTheCornersOnlyWhereACompositorBlends) {
  xcb_connection_t* connection =
      qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
  const QByteArray name = "_NET_WM_CM_S0";
  const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
      xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, name.size(), name.data()),
                            nullptr),
      &std::free);
  ASSERT_TRUE(atom);
  QWidget standIn;
  const auto compositor = [&](bool runs) {
    xcb_set_selection_owner(connection,
                            runs ? static_cast<xcb_window_t>(standIn.winId()) : XCB_NONE,
                            atom->atom, XCB_CURRENT_TIME);
  };
  const struct {
    bool atStart, atOpening, blended;
  } cases[] = {
      {false, false, false}, {true, true, true}, {false, true, false}, {true, false, false}};
  for (const auto& [atStart, atOpening, blended] : cases) {
    SCOPED_TRACE(testing::Message()
                 << "compositor at start " << atStart << ", at opening " << atOpening);
    compositor(atStart);
    PanelController made{fake.platform(), log};
    compositor(atOpening);
    const std::size_t before = openings().size();
    made.show();
    EXPECT_EQ(made.panel().windowOpacity() < 1, blended) << "fades in";
    ASSERT_TRUE(waitFor([&] { return openings().size() == before + 1; }));
    const auto window = static_cast<xcb_window_t>(made.panel().winId());
    const std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr),
        &std::free);
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->depth, atStart ? 32 : 24);
    // The outline as the X server cuts the window.
    QRegion outline;
    const std::unique_ptr<xcb_shape_get_rectangles_reply_t, decltype(&std::free)> shape(
        xcb_shape_get_rectangles_reply(
            connection, xcb_shape_get_rectangles(connection, window, XCB_SHAPE_SK_BOUNDING),
            nullptr),
        &std::free);
    ASSERT_TRUE(shape);
    const xcb_rectangle_t* parts = xcb_shape_get_rectangles_rectangles(shape.get());
    for (int index = 0; index < xcb_shape_get_rectangles_rectangles_length(shape.get()); ++index) {
      outline += QRect(parts[index].x, parts[index].y, parts[index].width, parts[index].height);
    }
    EXPECT_EQ(outline.contains(QPoint(2, 2)), blended);
    EXPECT_EQ(outline.contains(QPoint(737, 467)), blended);
    EXPECT_TRUE(outline.contains(QPoint(0, 235)) && outline.contains(QPoint(370, 0)));
    const QColor card = made.panel().grab().toImage().pixelColor(600, 300);
    EXPECT_EQ(card.alpha() < 255, blended);
    // What the panel does at idle after a frame keeps its pixels: an exposure, which Qt
    // answers from them without painting, shows the same picture.
    QCoreApplication::processEvents();
    const auto shown = [&] {
      return QGuiApplication::primaryScreen()->grabWindow(window).toImage().copy(100, 100, 540,
                                                                                 270);
    };
    const QImage picture = shown();
    test::EventCount exposures([](const QEvent& event) { return event.type() == QEvent::Expose; });
    made.panel().windowHandle()->installEventFilter(&exposures);
    xcb_clear_area(connection, 1, window, 0, 0, 0, 0);
    xcb_flush(connection);
    ASSERT_TRUE(waitFor([&] { return exposures.count > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), picture) << "exposed again";
    made.hide();
  }
  compositor(false);
}

TEST_F(PanelControllerTest, HidesWhenAnotherWindowTakesTheFocus) {
  controller.show();
  ASSERT_TRUE(waitFor([&] { return panel.isActiveWindow(); }));
  panel.findChild<RootView*>()->field().clearFocus();
  QTest::qWait(50);
  EXPECT_TRUE(controller.isVisible()) << "the focus moving inside the panel";
  QWidget other;
  other.resize(200, 100);
  other.show();
  other.activateWindow();
  EXPECT_TRUE(waitFor([&] { return !controller.isVisible(); }));
}

// The panel's states, set once, hold at every opening, also one right after a hiding; each
// opening writes its line.
TEST_F(PanelControllerTest, EveryOpeningIsLoggedAndStaysAboveOnAllWorkspaces) {
  const QString window = QString::number(panel.winId());
  for (int opening = 1; opening <= 5; ++opening) {
    ASSERT_TRUE(open());
    const QString states =
        test::output("xprop", {"-id", window, "_NET_WM_STATE", "_NET_WM_DESKTOP"});
    for (const char* state :
         {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER",
          "_NET_WM_DESKTOP(CARDINAL) = 4294967295"}) {
      EXPECT_TRUE(states.contains(state)) << opening << ": " << states.toStdString();
    }
    controller.hide();
  }
}

// The open windows are listed once the first frame is out: the listing's round trips to
// the X server would hold that frame back.
TEST_F(PanelControllerTest, ListsTheWindowsOnceTheFirstFrameIsOut) {
  fake.workspace.apps.push_back({.pid = 5, .name = "Mail", .path = {}, .regular = true});
  fake.windowServer.windows[5] = {{50, "Posteingang"}};
  controller.show();
  fake.scheduler.runBackground();
  EXPECT_TRUE(model.windowCache().empty()) << "listed before the first frame";
  ASSERT_TRUE(waitFor([&] { return !openings().empty(); }));
  fake.scheduler.runBackground();
  EXPECT_EQ(model.windowCache().size(), 1u);
}

class PanelControllerOnDesktop : public ::testing::Test {
 protected:
  LinuxPlatform backend{{.clipboard = true, .preload = false}};
  PanelController controller{backend.platform(), backend.log()};
  QWidget& panel = controller.panel();
  SearchModel& model = controller.model();
};

TEST_F(PanelControllerOnDesktop, AClipboardRowPastesIntoTheApplicationInFront) {
  const QString text = QStringLiteral("varek-paste-42");
  QTemporaryDir folder;
  const QString output = folder.filePath("pasted");
  const test::Xterm xterm(
      {"sh", "-c",
       QStringLiteral("stty -icanon min 1 -echo; head -c %1 > '%2'").arg(text.size()).arg(output)});
  QGuiApplication::clipboard()->setText(text);
  ASSERT_TRUE(waitFor([&] {
    model.clipboard().poll();
    return !model.clipboard().entries().empty() &&
           model.clipboard().entries().front().text == text.toStdString();
  }));

  xterm.activate();
  controller.show();
  keys(panel, "Ctrl+3");
  ASSERT_EQ(model.items().at(0).title, text.toStdString());
  keys(panel, "Return");
  EXPECT_TRUE(waitFor([&] {
    QFile file(output);
    return file.open(QIODevice::ReadOnly) && file.readAll() == text.toUtf8();
  }));
}

// The window manager does not manage the panel, so it may not pass the keyboard on when the
// panel goes; it must go back to the window before, not to the root window, where keys
// would reach whatever window the pointer is over.
TEST_F(PanelControllerOnDesktop, HidingGivesTheKeyboardBackToTheWindowBefore) {
  const test::Xterm xterm({"sleep", "600"});
  xterm.activate();
  auto* connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
  const auto focus = [connection] {
    const std::unique_ptr<xcb_get_input_focus_reply_t, decltype(&std::free)> reply(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr),
        &std::free);
    return reply ? reply->focus : xcb_window_t{XCB_NONE};
  };
  // What a pager hears on the root window: the panel asks for the window before by name,
  // as a taskbar would, whatever the window manager does by itself.
  test::OtherClient pager;
  const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(pager.connection.get(), pager.root(), XCB_CW_EVENT_MASK, &mask);
  xcb_flush(pager.connection.get());
  const auto xtermWindow = static_cast<xcb_window_t>(xterm.window().toULong());
  bool askedFor = false;
  const auto hearAsk = [&] {
    while (auto* event = xcb_poll_for_event(pager.connection.get())) {
      const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
      askedFor |=
          (event->response_type & ~0x80) == XCB_CLIENT_MESSAGE && message->window == xtermWindow;
      std::free(event);
    }
    return askedFor;
  };
  controller.show();
  ASSERT_TRUE(waitFor([&] { return focus() == static_cast<xcb_window_t>(panel.winId()); }));
  controller.hide();
  EXPECT_TRUE(waitFor([&] { return focus() == xtermWindow; }));
  EXPECT_TRUE(waitFor(hearAsk));
}

TEST_F(PanelControllerOnDesktop, KeysTypedAtOnceFindALayoutForTheWindowInFront) {
  const test::Xterm xterm({"sleep", "600"});
  // The desktop's cache of windows follows the X server through the event loop; the
  // application in front is the one a layout row acts on.
  ASSERT_TRUE(waitFor([&] {
    const auto front = backend.platform().workspace.frontmostApplication();
    return front && front->pid == xterm.pid();
  }));
  controller.show();
  // Real key presses, typed while the test does not let Qt look at its events: without the
  // focus taken at once they would land in the xterm.
  QProcess::execute("xdotool", {"type", "--delay", "1", "linke h"});
  ASSERT_TRUE(waitFor([&] { return model.query() == "linke h"; })) << model.query();
  ASSERT_EQ(model.items().at(0).title, "Fenster: Linke Hälfte");
  keys(panel, "Return");
  // xterm sizes itself in whole character cells, so it may stay up to one cell short.
  constexpr int kCellSlack = 20;
  EXPECT_TRUE(waitFor([&] {
    const Rect frame = test::outerFrame(xterm.window().toULong());
    return frame.x == 0 && frame.y + frame.height == 900 && frame.width > 720 - kCellSlack &&
           frame.width <= 720 && frame.height > 900 - kCellSlack;
  })) << "the left half of 1440 x 900";
}

}  // namespace
}  // namespace varek
