// The panel controller on a real X display: where the panel opens, its keys, hiding when
// another window takes the focus, the opening line of the log, typing ahead of the first
// frame, and two rows that act on real X clients.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <iostream>
#include <vector>

#include "platform/linux/linux_platform.h"
#include "tests/support/fake_platform.h"
#include "ui/panel_controller.h"
#include "ui/root_view.h"
#include "ui/search_field.h"
#include "ui/varek_panel.h"

namespace varek {
namespace {

using Mode = SearchModel::Mode;

constexpr int kWaitMs = 20000;
constexpr quint32 kX11LockMask = 1U << 1;
const QString kFirefox = QStringLiteral("/usr/share/applications/firefox.desktop");

bool waitFor(const std::function<bool()>& done, int milliseconds = kWaitMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > milliseconds) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// A key as the X server hands it over: to the panel's window, which passes it on to the
// widget with the focus.
void press(QWidget& panel, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
           const QString& text = {}, quint32 nativeModifiers = 0) {
  for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
    QKeyEvent event(type, key, modifiers, 0, 0, nativeModifiers, text);
    QCoreApplication::sendEvent(panel.windowHandle(), &event);
  }
}

void type(QWidget& panel, const QString& text) {
  for (const QChar character : text) {
    press(panel, static_cast<Qt::Key>(character.toUpper().unicode()), Qt::NoModifier, character);
  }
}

QString run(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  process.waitForFinished(kWaitMs);
  return QString::fromUtf8(process.readAllStandardOutput());
}

QStringList openingLines(const std::string& logFile) {
  QFile file(QString::fromStdString(logFile));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split('\n').filter(" geöffnet in ");
}

// The panel's origin as the placement rule states it, in bottom-left coordinates (y up
// from the primary screen's bottom edge): (mid x − 370, min y + 0.72 × height − 235 − 60)
// of the visible frame; then turned into Qt's top-left coordinates.
QPoint expectedOrigin(const QRect& visible, int primaryHeight) {
  const double minY = primaryHeight - (visible.top() + visible.height());
  const double bottom = minY + 0.72 * visible.height() - 235 - 60;
  return {static_cast<int>(std::lround(visible.left() + visible.width() / 2.0 - 370)),
          static_cast<int>(std::lround(primaryHeight - (bottom + 470)))};
}

// The outer frame of a window, as the X server and the window manager report it.
QRect frameOf(const QString& window) {
  const QString info = run("xwininfo", {"-id", window});
  auto field = [&info](const char* name) {
    const auto match = QRegularExpression(QString(name) + R"(:\s+(-?\d+))").match(info);
    return match.captured(1).toInt();
  };
  const QStringList extents =
      run("xprop", {"-id", window, "_NET_FRAME_EXTENTS"}).section('=', 1).split(',');
  const int left = extents.value(0).trimmed().toInt(), right = extents.value(1).trimmed().toInt();
  const int top = extents.value(2).trimmed().toInt(), bottom = extents.value(3).trimmed().toInt();
  return {field("Absolute upper-left X") - left, field("Absolute upper-left Y") - top,
          field("Width") + left + right, field("Height") + top + bottom};
}

// An xterm of its own, in front with the focus, where Ctrl+V pastes the clipboard.
class Xterm {
 public:
  explicit Xterm(const QStringList& command) {
    const QString title = QStringLiteral("varek-xterm-%1").arg(++count_);
    process_.start("xterm", QStringList{"-title", title, "-geometry", "60x10+400+300", "-xrm",
                                        "XTerm*VT100.translations: #override Ctrl <Key>v: "
                                        "insert-selection(CLIPBOARD)",
                                        "-e"} +
                                command);
    window_ = run("xdotool", {"search", "--sync", "--name", title}).trimmed();
    activate();
  }
  ~Xterm() {
    process_.kill();
    process_.waitForFinished();
  }
  void activate() const { run("xdotool", {"windowactivate", "--sync", window_}); }
  const QString& window() const { return window_; }
  int pid() const { return static_cast<int>(process_.processId()); }

 private:
  static inline int count_ = 0;
  QProcess process_;
  QString window_;
};

// The in-memory desktop, with one application that has a path to reveal and copy.
struct FakeDesktop {
  FakeDesktop() {
    fake.appScanner.apps = {
        {.name = "Firefox", .alternateName = "", .path = kFirefox.toStdString(), .url = {}}};
  }
  test::FakePlatform fake;
};

class PanelControllerTest : public ::testing::Test {
 protected:
  FakeDesktop desktop;
  test::FakePlatform& fake = desktop.fake;
  Log log{fake.paths.logFile(), fake.scheduler};
  PanelController controller{fake.platform(), log};
  QWidget& panel = controller.panel();
  SearchModel& model = controller.model();

  // Shows the panel and waits for its first frame, which the log line marks.
  bool open() {
    const auto before = openingLines(log.file()).size();
    controller.show();
    return waitFor([&] { return openingLines(log.file()).size() == before + 1; });
  }
};

TEST(PanelControllerPlacement, CentresOnTheVisibleFrameNearTheTop) {
  struct Row {
    const char* shows;
    QRect visible;
  };
  const Row rows[] = {
      {"the launcher's own example, (350, 360) bottom-left", {0, 0, 1440, 875}},
      {"a whole 1440 x 900 screen", {0, 0, 1440, 900}},
      {"a second screen right of the first, a bar on top", {1440, 30, 1920, 1050}},
      {"an odd size rounds to whole pixels", {0, 0, 1366, 767}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(VarekPanel::origin(row.visible), expectedOrigin(row.visible, 900)) << row.shows;
  }
  // (350, 360) counted from the bottom of a 900-pixel screen puts the top edge 470 higher.
  EXPECT_EQ(VarekPanel::origin({0, 0, 1440, 875}), QPoint(350, 900 - 360 - 470));
}

TEST_F(PanelControllerTest, OpensOnTheScreenUnderThePointer) {
  QScreen* screen = QGuiApplication::primaryScreen();
  QCursor::setPos(screen, 100, 100);
  const QRect area(expectedOrigin(screen->availableGeometry(), screen->geometry().height()),
                   QSize(VarekPanel::kWidth, VarekPanel::kHeight));
  const QImage before =
      screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
  ASSERT_TRUE(open());
  model.setQuery("fenster");
  ASSERT_TRUE(waitFor([&] { return panel.windowOpacity() == 1.0; })) << "faded in";
  QCoreApplication::processEvents();

  EXPECT_EQ(panel.geometry(), area);
  EXPECT_EQ(frameOf(QString::number(panel.winId())), area) << "as the X server has it";
  const QImage shown =
      screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
  EXPECT_NE(shown, before) << "the panel is on the screen";
  QDir().mkpath(VAREK_SCREENSHOTS);
  shown.save(QStringLiteral(VAREK_SCREENSHOTS "/panel.png"));
}

TEST_F(PanelControllerTest, EscapeStepsBackOneThingAtATime) {
  struct Row {
    const char* shows;
    QString query;
    Mode mode;
    Mode modeAfter;
    bool visibleAfter;
  };
  const Row rows[] = {
      {"text in the field is only cleared", "abc", Mode::clipboard, Mode::clipboard, true},
      {"an empty field in another mode returns to all", "", Mode::clipboard, Mode::all, true},
      {"an empty field in mode all hides the panel", "", Mode::all, Mode::all, false},
  };
  for (const Row& row : rows) {
    controller.show();
    model.setMode(row.mode);
    type(panel, row.query);
    press(panel, Qt::Key_Escape);
    EXPECT_EQ(model.query(), "") << row.shows;
    EXPECT_EQ(model.mode(), row.modeAfter) << row.shows;
    EXPECT_EQ(controller.isVisible(), row.visibleAfter) << row.shows;
  }
}

TEST_F(PanelControllerTest, ACommandThatNeedsConfirmationRunsOnTheSecondReturn) {
  controller.show();
  type(panel, "neustart");
  ASSERT_EQ(model.items().at(0).title, "Neustart");
  press(panel, Qt::Key_Return);
  EXPECT_EQ(model.confirmID(), model.items().at(0).id);
  EXPECT_TRUE(fake.systemActions.performed.empty());
  EXPECT_TRUE(controller.isVisible());
  press(panel, Qt::Key_Enter);
  EXPECT_EQ(fake.systemActions.performed, std::vector{SystemAction::restart});
  EXPECT_FALSE(controller.isVisible());
}

TEST_F(PanelControllerTest, ModifiersOfReturnChooseTheAction) {
  struct Row {
    const char* shows;
    Qt::KeyboardModifiers modifiers;
    std::size_t revealed;
    bool copied;
  };
  const Row rows[] = {
      {"Super+Return reveals", Qt::MetaModifier, 1, false},
      {"Alt+Return copies", Qt::AltModifier, 1, true},
      {"Super wins over Alt", Qt::MetaModifier | Qt::AltModifier, 2, false},
  };
  for (const Row& row : rows) {
    fake.pasteboard.copy(std::nullopt);
    controller.show();
    type(panel, "firefox");
    press(panel, Qt::Key_Return, row.modifiers);
    EXPECT_EQ(fake.workspace.revealed.size(), row.revealed) << row.shows;
    EXPECT_EQ(fake.pasteboard.text() == kFirefox.toStdString(), row.copied) << row.shows;
    EXPECT_FALSE(controller.isVisible()) << row.shows;
  }
  EXPECT_EQ(fake.workspace.revealed.back(), kFirefox.toStdString());
}

TEST_F(PanelControllerTest, OnlySuperWithADigitFromOneToFourSwitchesTheMode) {
  struct Row {
    const char* shows;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    quint32 native;
    Mode modeAfter;
  };
  const Row rows[] = {
      {"Super+2 files", Qt::Key_2, Qt::MetaModifier, 0, Mode::files},
      {"Super+5 is no mode", Qt::Key_5, Qt::MetaModifier, 0, Mode::files},
      {"Caps Lock makes it another shortcut", Qt::Key_3, Qt::MetaModifier, kX11LockMask,
       Mode::files},
      {"so does Shift", Qt::Key_3, Qt::MetaModifier | Qt::ShiftModifier, 0, Mode::files},
      {"Super+3 clipboard", Qt::Key_3, Qt::MetaModifier, 0, Mode::clipboard},
      {"Super+4 windows", Qt::Key_4, Qt::MetaModifier, 0, Mode::windows},
      {"Super+1 all", Qt::Key_1, Qt::MetaModifier, 0, Mode::all},
  };
  controller.show();
  for (const Row& row : rows) {
    // X11 gives the key its digit even with Super held.
    press(panel, row.key, row.modifiers, QChar(static_cast<char16_t>(row.key)), row.native);
    EXPECT_EQ(model.mode(), row.modeAfter) << row.shows;
  }
  EXPECT_EQ(model.query(), "") << "a Super key the panel does not use types nothing";
  EXPECT_TRUE(controller.isVisible());
}

TEST_F(PanelControllerTest, ArrowsAndControlNAndPMoveTheSelection) {
  struct Row {
    const char* shows;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int selectionAfter;  // -1: the last row
  };
  const Row rows[] = {
      {"Down", Qt::Key_Down, Qt::NoModifier, 1},
      {"Ctrl+N", Qt::Key_N, Qt::ControlModifier, 2},
      {"Up", Qt::Key_Up, Qt::NoModifier, 1},
      {"Ctrl+P", Qt::Key_P, Qt::ControlModifier, 0},
      {"Ctrl+P wraps to the last row", Qt::Key_P, Qt::ControlModifier, -1},
      {"Ctrl+Shift+N is not handled", Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier, -1},
      {"the arrows take any modifiers", Qt::Key_Down, Qt::ShiftModifier, 0},
  };
  controller.show();
  type(panel, "fenster");
  const int count = static_cast<int>(model.items().size());
  ASSERT_GE(count, 3);
  for (const Row& row : rows) {
    press(panel, row.key, row.modifiers);
    EXPECT_EQ(model.selection(), row.selectionAfter < 0 ? count - 1 : row.selectionAfter)
        << row.shows;
  }
}

TEST_F(PanelControllerTest, SuperCCopiesTheFieldsSelectionElseTheRow) {
  controller.show();
  type(panel, "firefox");
  SearchField& field = panel.findChild<RootView*>()->field();
  field.selectAll();
  press(panel, Qt::Key_C, Qt::MetaModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "firefox");
  EXPECT_EQ(fake.pasteboard.text(), std::nullopt);
  EXPECT_TRUE(controller.isVisible());

  field.deselect();
  press(panel, Qt::Key_C, Qt::MetaModifier);
  EXPECT_EQ(fake.pasteboard.text(), kFirefox.toStdString());
  EXPECT_FALSE(controller.isVisible());
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

// The window manager erases the panel's states whenever it hides, also when it opens
// again at once; each opening sets them anew and writes its line.
TEST_F(PanelControllerTest, EveryOpeningIsLoggedAndStaysAboveOnAllWorkspaces) {
  constexpr int kOpenings = 5;
  const QString window = QString::number(panel.winId());
  for (int opening = 1; opening <= kOpenings; ++opening) {
    ASSERT_TRUE(open());
    const QString states = run("xprop", {"-id", window, "_NET_WM_STATE", "_NET_WM_DESKTOP"});
    for (const char* state :
         {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER",
          "_NET_WM_DESKTOP(CARDINAL) = 4294967295"}) {
      EXPECT_TRUE(states.contains(state)) << opening << ": " << states.toStdString();
    }
    controller.hide();
  }
  const QRegularExpression line(R"(^\S+Z geöffnet in \d+\.\d ms$)");
  for (const QString& written : openingLines(log.file())) {
    EXPECT_TRUE(line.match(written).hasMatch()) << written.toStdString();
  }
}

TEST_F(PanelControllerTest, KeysTypedBeforeTheFirstFrameLandInOrder) {
  controller.show();
  type(panel, "neustart");
  EXPECT_EQ(model.query(), "neustart");
}

class PanelControllerOnDesktop : public ::testing::Test {
 protected:
  LinuxPlatform backend{{.clipboard = true, .preload = false}};
  PanelController controller{backend.platform(), backend.log()};
  QWidget& panel = controller.panel();
  SearchModel& model = controller.model();

  // The desktop's cache of windows follows the X server through the event loop; the
  // application in front is the one a layout row acts on.
  bool inFront(const Xterm& xterm) {
    return waitFor([&] {
      const auto front = backend.platform().workspace.frontmostApplication();
      return front && front->pid == xterm.pid();
    });
  }
};

// Real key presses, typed while the test does not let Qt look at its events: without the
// focus taken at once they would land in the xterm.
TEST_F(PanelControllerOnDesktop, KeysTypedRightAfterShowingLandInThePanel) {
  const Xterm xterm({"sleep", "600"});
  controller.show();
  QProcess typist;
  typist.start("xdotool", {"type", "--delay", "1", "saf neu"});
  typist.waitForFinished(kWaitMs);
  EXPECT_TRUE(waitFor([&] { return model.query() == "saf neu"; })) << model.query();
}

TEST_F(PanelControllerOnDesktop, AClipboardRowPastesIntoTheApplicationInFront) {
  const QString text = QStringLiteral("varek-paste-42");
  QTemporaryDir folder;
  const QString output = folder.filePath("pasted");
  const Xterm xterm(
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
  press(panel, Qt::Key_3, Qt::MetaModifier);
  ASSERT_EQ(model.items().at(0).title, text.toStdString());
  press(panel, Qt::Key_Return);
  EXPECT_TRUE(waitFor([&] {
    QFile file(output);
    return file.open(QIODevice::ReadOnly) && file.readAll() == text.toUtf8();
  }));
}

TEST_F(PanelControllerOnDesktop, ALayoutRowPlacesTheWindowInFront) {
  const Xterm xterm({"sleep", "600"});
  ASSERT_TRUE(inFront(xterm));
  controller.show();
  type(panel, "linke h");
  ASSERT_EQ(model.items().at(0).title, "Fenster: Linke Hälfte");
  press(panel, Qt::Key_Return);
  // xterm sizes itself in whole character cells, so it may stay up to one cell short.
  constexpr int kCellSlack = 20;
  EXPECT_TRUE(waitFor([&] {
    const QRect frame = frameOf(xterm.window());
    return frame.topLeft() == QPoint(0, 0) && frame.width() > 720 - kCellSlack &&
           frame.width() <= 720 && frame.height() > 900 - kCellSlack && frame.height() <= 900;
  })) << "the left half of 1440 x 900";
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Paints the panel as soon as it asks for it and notes when the frame was done.
class FrameClock : public QObject {
 public:
  explicit FrameClock(QWidget& panel) { panel.installEventFilter(this); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::UpdateRequest) return false;
    watched->event(event);
    ++frames;
    return true;
  }
  int frames = 0;
};

// Reports, never asserts: the opening time the log gives, and from a key to the end of
// the repaint it causes.
TEST_F(PanelControllerOnDesktop, ReportsOpeningAndRepaintTimes) {
  constexpr int kOpenings = 50;
  const Xterm xterm({"sleep", "600"});
  controller.warmUp();
  const int before = static_cast<int>(openingLines(backend.log().file()).size());
  for (int opening = 1; opening <= kOpenings; ++opening) {
    controller.show();
    ASSERT_TRUE(
        waitFor([&] { return openingLines(backend.log().file()).size() == before + opening; }));
    controller.hide();
    xterm.activate();
  }
  std::vector<double> openings;
  for (const QString& line : openingLines(backend.log().file()).mid(before)) {
    openings.push_back(line.section(' ', 3, 3).toDouble());
  }

  controller.show();
  QTest::qWait(200);
  FrameClock clock(panel);
  std::vector<double> repaints;
  for (const QChar character : QStringLiteral("systemeinstellungen")) {
    const int frames = clock.frames;
    QElapsedTimer timer;
    timer.start();
    type(panel, QString(character));
    ASSERT_TRUE(waitFor([&] { return clock.frames > frames; }));
    repaints.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
  }
  std::cout << "geöffnet in (median of " << openings.size() << "): " << median(openings)
            << " ms; first " << openings.front() << " ms; key to repaint (median of "
            << repaints.size() << "): " << median(repaints) << " ms\n";
  RecordProperty("openingMedianMs", std::to_string(median(openings)));
  RecordProperty("keyToRepaintMedianMs", std::to_string(median(repaints)));
}

}  // namespace
}  // namespace varek
