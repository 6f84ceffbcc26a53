// The X11 backend against a real X server, window manager and clients: xterms of their own
// processes and a Qt window of this one, inside the private desktop of scripts/with-desktop.
#include "platform/linux/x11_desktop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QClipboard>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QGuiApplication>
#include <QProcess>
#include <QRasterWindow>
#include <QThread>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "platform/linux/x11_window_server.h"
#include "platform/linux/x11_workspace.h"
#include "sources/commands.h"
#include "sources/windows.h"
#include "tests/support/manual_clock.h"

namespace varek {

static void PrintTo(const Rect& rect, std::ostream* out) {
  *out << "(" << rect.x << ", " << rect.y << ", " << rect.width << ", " << rect.height << ")";
}

static void PrintTo(const RunningApp& app, std::ostream* out) {
  *out << "{" << app.pid << ", " << app.name << ", " << app.path.value_or("-") << ", "
       << app.regular << "}";
}

namespace {

namespace fs = std::filesystem;

// Long enough for an xterm to start and the window manager to answer on a loaded machine.
constexpr auto kPatience = std::chrono::seconds(30);
// Larger than xterm's character cell in its default font, the step its size snaps to.
constexpr double kCellSlack = 20;

bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return true;
}

std::string read(const fs::path& file) {
  std::ifstream in(file);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

fs::path applicationsFolder() { return fs::path(std::getenv("XDG_DATA_HOME")) / "applications"; }

// A number that xwininfo or xprop prints after the label.
double field(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  return at == std::string::npos ? -1 : std::strtod(text.c_str() + at + label.size(), nullptr);
}

std::vector<double> cardinals(const std::string& xpropLine) {
  std::vector<double> values;
  std::istringstream in(xpropLine.substr(std::min(xpropLine.find('='), xpropLine.size()) + 1));
  for (std::string value; std::getline(in, value, ',');) values.push_back(std::stod(value));
  return values;
}

Rect rootFrame() {
  const std::string info = Commands::shellOutput("/usr/bin/xwininfo", {"-root"});
  return {0, 0, field(info, "Width:"), field(info, "Height:")};
}

// The outer frame as the X server and the window manager tell any client, bottom-left.
Rect serverFrame(xcb_window_t window) {
  const std::string id = std::to_string(window);
  const std::string info = Commands::shellOutput("/usr/bin/xwininfo", {"-id", id});
  std::vector<double> extents =
      cardinals(Commands::shellOutput("/usr/bin/xprop", {"-id", id, "_NET_FRAME_EXTENTS"}));
  extents.resize(4);
  const double width = field(info, "Width:") + extents[0] + extents[1];
  const double height = field(info, "Height:") + extents[2] + extents[3];
  const double top = field(info, "Absolute upper-left Y:") - extents[2];
  return {field(info, "Absolute upper-left X:") - extents[0], rootFrame().height - (top + height),
          width, height};
}

xcb_window_t serverActiveWindow() {
  const std::string line = Commands::shellOutput("/usr/bin/xprop", {"-root", "_NET_ACTIVE_WINDOW"});
  const std::size_t at = line.find("# ");
  return at == std::string::npos ? 0 : std::strtoul(line.c_str() + at + 2, nullptr, 16);
}

// An X client of another process.
class Xterm {
 public:
  explicit Xterm(const QStringList& arguments) {
    process.start(QStringLiteral("/usr/bin/xterm"), arguments);
    process.waitForStarted();
    pid = static_cast<int>(process.processId());
  }
  ~Xterm() {
    process.kill();
    process.waitForFinished();
  }
  QProcess process;
  int pid = 0;
};

std::optional<X11Desktop::Client> windowOf(X11Desktop& desktop, int pid) {
  std::optional<X11Desktop::Client> found;
  eventually([&] {
    desktop.update();
    const auto clients = desktop.snapshot()->clientsOf(pid);
    if (!clients.empty()) found = clients.front();
    return found.has_value();
  });
  return found;
}

// A window of this process: it has no size increments, so it lands to the pixel.
struct OwnWindow {
  explicit OwnWindow(const X11Desktop& desktop) {
    window.setTitle(QStringLiteral("Varek Probe Window"));
    window.setGeometry(300, 300, 400, 300);
    window.show();
    id = static_cast<xcb_window_t>(window.winId());
    eventually([&] { return desktop.snapshot()->find(id) != nullptr; });
  }
  QRasterWindow window;
  xcb_window_t id = 0;
};

// A file manager's reveal service, offered by this process on the session bus.
class FileManager : public QDBusVirtualObject {
 public:
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QLatin1String("ShowItems")) return false;
    shown = message.arguments().value(0).toStringList();
    connection.send(message.createReply());
    return true;
  }
  QString introspect(const QString&) const override { return {}; }
  QStringList shown;
};

class X11DesktopTest : public ::testing::Test {
 protected:
  X11Desktop desktop;
  X11WindowServer server{desktop};
  X11Workspace workspace{desktop};
};
using X11WorkspaceTest = X11DesktopTest;
using X11WindowServerTest = X11DesktopTest;

TEST_F(X11DesktopTest, CacheFollowsTheClientWindows) {
  Xterm first({"-title", "Varek Test A"});
  Xterm second({"-title", "Größe ändern"});
  const auto a = windowOf(desktop, first.pid);
  const auto b = windowOf(desktop, second.pid);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->instance + " " + a->windowClass, "xterm XTerm");
  EXPECT_TRUE(a->normal);
  using Listing = std::vector<std::pair<WindowId, std::string>>;
  const auto listing = [&](int pid) {
    Listing windows;
    for (const auto& window : server.windowsOf(pid)) windows.emplace_back(window.id, window.title);
    return windows;
  };
  EXPECT_EQ(listing(first.pid), (Listing{{a->id, "Varek Test A"}}));
  EXPECT_EQ(listing(second.pid), (Listing{{b->id, "Größe ändern"}}));
  for (const std::string title : {"Umbenannt", "Öl & Ähre", ""}) {
    Commands::shellOutput("/usr/bin/xdotool",
                          {"set_window", "--name", title, std::to_string(a->id)});
    EXPECT_TRUE(eventually([&] { return listing(first.pid) == Listing{{a->id, title}}; })) << title;
  }
  first.process.kill();
  EXPECT_TRUE(eventually([&] { return listing(first.pid).empty(); }));
  EXPECT_EQ(listing(second.pid), (Listing{{b->id, "Größe ändern"}}));
}

TEST_F(X11WorkspaceTest, NamesProcessesAfterTheirDesktopEntries) {
  const fs::path entry = applicationsFolder() / "varek-probe.desktop";
  write(entry, "[Desktop Entry]\nType=Application\nName=Varek Probe\nExec=/usr/bin/xterm\n");
  // Each window appears before the next xterm starts, so the order is known.
  Xterm byStartupClass({});
  ASSERT_TRUE(windowOf(desktop, byStartupClass.pid));
  Xterm byDesktopId({"-class", "Varek-Probe"});
  ASSERT_TRUE(windowOf(desktop, byDesktopId.pid));
  Xterm unlisted({"-class", "Unlisted-Probe"});
  const OwnWindow own(desktop);
  const std::set<int> pids{byStartupClass.pid, byDesktopId.pid, unlisted.pid, getpid()};
  std::vector<RunningApp> apps;
  // An entry written just now reaches GIO's index of this process within a moment.
  eventually([&] {
    apps.clear();
    for (const RunningApp& app : X11Workspace(desktop).runningApplications()) {
      if (pids.contains(app.pid)) apps.push_back(app);
    }
    return apps.size() == 3 && apps[1].path;
  });
  // In the order the windows appeared, never this process itself.
  EXPECT_EQ(apps,
            (std::vector<RunningApp>{
                {byStartupClass.pid, "XTerm", "/usr/share/applications/debian-xterm.desktop", true},
                {byDesktopId.pid, "Varek Probe", entry.string(), true},
                {unlisted.pid, "Unlisted-Probe", std::nullopt, true},
            }));
  fs::remove(entry);
}

TEST_F(X11WorkspaceTest, OpensThroughTheDesktopsHandlers) {
  const fs::path folder = fs::temp_directory_path() / "varek-opener";
  const fs::path log = folder / "opened.log";
  const fs::path handler = folder / "handler";
  const fs::path entry = applicationsFolder() / "varek-opener.desktop";
  fs::remove_all(folder);
  write(handler, "#!/bin/sh\nprintf '%s\\n' \"${1:-launched}\" >> '" + log.string() + "'\n");
  fs::permissions(handler, fs::perms::owner_all);
  write(entry, "[Desktop Entry]\nType=Application\nName=Varek Opener\nExec=" + handler.string() +
                   " %u\nMimeType=x-scheme-handler/varek-probe;inode/directory;\n");
  // GIO learns which entry takes a type from this index, not from the entries themselves.
  const fs::path index = applicationsFolder() / "mimeinfo.cache";
  write(index,
        "[MIME Cache]\nx-scheme-handler/varek-probe=varek-opener.desktop;\n"
        "inode/directory=varek-opener.desktop;\n");
  ASSERT_TRUE(eventually([&] { return workspace.openUrl("varek-probe://ready"); }));
  std::string started = "varek-probe://ready\n";
  ASSERT_TRUE(eventually([&] { return read(log) == started; }));

  // Each call is one row: what it returns, and what the handler was started with, if at all.
  const auto row = [&](const char* shows, bool accepted, bool wanted, const std::string& opened) {
    EXPECT_EQ(accepted, wanted) << shows;
    if (!opened.empty()) started += opened + "\n";
    EXPECT_TRUE(eventually([&] { return read(log) == started; })) << shows << ": " << read(log);
  };
  row("an address goes to its scheme's handler", workspace.openUrl("varek-probe://hallo"), true,
      "varek-probe://hallo");
  row("an address nobody handles is refused", workspace.openUrl("varek-none://x"), false, "");
  // GIO hands a local file to the handler as its path.
  row("a folder goes to the folder handler", workspace.openFile(folder), true, folder);
  row("an entry starts its program", workspace.openApplication(entry), true, "launched");
  row("a missing entry is refused", workspace.openApplication(folder / "none.desktop"), false, "");
  workspace.reveal(log);
  row("without a file manager, reveal opens the folder", true, true, folder);

  FileManager fileManager;
  QDBusConnection bus = QDBusConnection::sessionBus();
  ASSERT_TRUE(
      bus.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager));
  ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
  workspace.reveal(log.string() + "/");
  EXPECT_EQ(fileManager.shown, QStringList{QString::fromStdString("file://" + log.string())});
  bus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
  bus.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
  fs::remove(entry);
  fs::remove(index);
}

TEST_F(X11WorkspaceTest, TerminateClosesWindowsPolitely) {
  Xterm xterm({"-title", "Varek Quit"});
  const auto window = windowOf(desktop, xterm.pid);
  ASSERT_TRUE(window);
  // A window that is still starting up may miss the first request (on a loaded machine the
  // xterm can be mapped before it listens for the close), so the request is repeated.
  auto lastRequest = std::chrono::steady_clock::time_point();
  ASSERT_TRUE(eventually([&] {
    if (std::chrono::steady_clock::now() - lastRequest > std::chrono::seconds(1)) {
      workspace.terminate(xterm.pid);
      lastRequest = std::chrono::steady_clock::now();
    }
    return xterm.process.state() == QProcess::NotRunning;
  }));
  EXPECT_EQ(xterm.process.exitStatus(), QProcess::NormalExit) << "a signal would crash it";
  EXPECT_TRUE(eventually([&] { return desktop.snapshot()->find(window->id) == nullptr; }));
}

TEST_F(X11WindowServerTest, RequestsMakeTheWindowActive) {
  Xterm first({"-title", "Varek Test A", "-geometry", "80x24+10+10"});
  Xterm second({"-title", "Varek Test B", "-geometry", "80x24+500+10"});
  const auto a = windowOf(desktop, first.pid);
  const auto b = windowOf(desktop, second.pid);
  ASSERT_TRUE(a && b);
  const auto row = [&](const char* shows, xcb_window_t window, int pid) {
    EXPECT_TRUE(eventually([&] { return serverActiveWindow() == window; })) << shows;
    EXPECT_TRUE(eventually([&] { return desktop.snapshot()->active == window; })) << shows;
    EXPECT_EQ(server.focusedWindow(pid), window) << shows;
    const auto front = workspace.frontmostApplication();
    EXPECT_EQ(front ? front->pid : 0, pid) << shows;
  };
  server.raise(a->id);
  row("raise activates its window", a->id, first.pid);
  server.raise(b->id);
  row("raise activates another window", b->id, second.pid);
  workspace.activate(first.pid);
  row("activate brings the process's window", a->id, first.pid);
}

TEST_F(X11WindowServerTest, FocusedWindowIsTheOneLastActive) {
  const OwnWindow one(desktop);
  const OwnWindow two(desktop);
  Xterm other({"-title", "Varek Other"});
  const auto terminal = windowOf(desktop, other.pid);
  ASSERT_TRUE(terminal);
  const auto activate = [&](xcb_window_t window) {
    server.raise(window);
    return eventually([&] { return desktop.snapshot()->active == window; });
  };
  const auto frontToBack = [&] {
    std::vector<WindowId> ids;
    for (const auto& window : server.windowsOf(getpid())) ids.push_back(window.id);
    return ids;
  };
  ASSERT_TRUE(activate(one.id) && activate(two.id));
  EXPECT_EQ(server.focusedWindow(getpid()), two.id) << "the active one";
  EXPECT_EQ(frontToBack(), (std::vector<WindowId>{two.id, one.id}));
  ASSERT_TRUE(activate(one.id) && activate(terminal->id));
  EXPECT_EQ(server.focusedWindow(getpid()), one.id) << "the last active, another process in front";
  EXPECT_EQ(frontToBack(), (std::vector<WindowId>{one.id, two.id}));
  ASSERT_TRUE(activate(two.id));
  const auto front = workspace.frontmostApplication();
  EXPECT_EQ(front ? front->pid : 0, other.pid) << "this process is never the frontmost";
}

// North-west gravity keeps the top-left corner; xterm trims its size to whole cells.
bool fits(const Rect& actual, const Rect& target, double slack) {
  return actual.x == target.x && actual.y + actual.height == target.y + target.height &&
         actual.width <= target.width && actual.width >= target.width - slack &&
         actual.height <= target.height && actual.height >= target.height - slack;
}

TEST_F(X11WindowServerTest, FrameReadsBackWhatSetFramePlaced) {
  const OwnWindow own(desktop);
  Xterm xterm({"-title", "Varek Frame"});
  const auto terminal = windowOf(desktop, xterm.pid);
  ASSERT_TRUE(terminal);
  struct Row {
    const char* shows;
    xcb_window_t window;
    Rect target;
    double slack;
  };
  const Row rows[] = {
      {"in the bottom-left corner", own.id, {0, 0, 300, 200}, 0},
      {"in the middle", own.id, {400, 250, 640, 480}, 0},
      {"in the top-right corner", own.id, {1000, 500, 440, 400}, 0},
      {"an xterm, to a whole cell", terminal->id, {100, 100, 500, 450}, kCellSlack},
  };
  for (const Row& row : rows) {
    server.setFrame(row.window, row.target);
    EXPECT_TRUE(eventually([&] { return fits(serverFrame(row.window), row.target, row.slack); }))
        << row.shows << ": " << testing::PrintToString(serverFrame(row.window));
    EXPECT_EQ(server.frame(row.window), serverFrame(row.window)) << row.shows;
  }
}

TEST_F(X11WindowServerTest, LayoutsLandWhereTheCorePutsThem) {
  const OwnWindow own(desktop);
  const RunningApp self{.pid = getpid(), .name = "Varek", .path = std::nullopt, .regular = true};
  const Rect start{200, 150, 600, 400};
  const auto screens = server.screens();
  ASSERT_FALSE(screens.empty());
  for (const Windows::Layout layout : Windows::allLayouts()) {
    server.setFrame(own.id, start);
    ASSERT_TRUE(eventually([&] { return serverFrame(own.id) == start; }));
    const Rect expected =
        Windows::integral(Windows::frame(layout, screens.front().visibleFrame, start));
    Windows::place(layout, self, server, workspace);
    EXPECT_TRUE(eventually([&] { return serverFrame(own.id) == expected; }))
        << Windows::title(layout) << ": " << testing::PrintToString(serverFrame(own.id));
  }
}

TEST_F(X11WindowServerTest, ScreensFollowTheWorkArea) {
  EXPECT_TRUE(server.isTrusted());
  Xterm panel({"-title", "Varek Strut"});
  const auto window = windowOf(desktop, panel.pid);
  ASSERT_TRUE(window);
  const Rect root = rootFrame();
  // A strut along the top edge, as a panel reserves it, shrinks the work area.
  for (const char* strut : {"0, 0, 0, 0", "0, 0, 30, 0"}) {
    Commands::shellOutput("/usr/bin/xprop",
                          {"-id", std::to_string(window->id), "-f", "_NET_WM_STRUT", "32c", "-set",
                           "_NET_WM_STRUT", strut});
    const double reserved = cardinals(std::string("=") + strut)[2];
    const Rect visible{0, 0, root.width, root.height - reserved};
    EXPECT_TRUE(eventually([&] {
      const auto screens = server.screens();
      return screens.size() == 1 && screens.front().visibleFrame == visible;
    })) << strut
        << ": " << testing::PrintToString(server.screens().front().visibleFrame);
    EXPECT_EQ(server.screens().front().frame, root) << strut;
    EXPECT_EQ(server.mainScreen()->visibleFrame, visible) << strut;
  }
}

TEST_F(X11WindowServerTest, PasteArrivesInTheFocusedWindow) {
  QGuiApplication::clipboard()->setText(QStringLiteral("pasted by Varek\n"));
  // Like most applications, this xterm pastes on Control+V alone ("!"), not with Alt added.
  const QString translation =
      QStringLiteral("*VT100.translations: #override !Ctrl <Key>v: insert-selection(CLIPBOARD)");
  for (const char* held : {"", "alt+super+shift"}) {
    const fs::path file = fs::temp_directory_path() / "varek-pasted.txt";
    fs::remove(file);
    const std::string readLine = "IFS= read -r line; printf %s \"$line\" > '" + file.string() + "'";
    Xterm reader({"-title", "Varek Paste", "-xrm", translation, "-e", "sh", "-c",
                  QString::fromStdString(readLine)});
    const auto window = windowOf(desktop, reader.pid);
    ASSERT_TRUE(window) << held;
    server.raise(window->id);
    ASSERT_TRUE(eventually([&] { return serverActiveWindow() == window->id; })) << held;
    if (*held) Commands::shellOutput("/usr/bin/xdotool", {"keydown", held});
    server.postPaste();
    EXPECT_TRUE(eventually([&] { return read(file) == "pasted by Varek"; }))
        << "held: " << held << ", read: " << read(file);
    if (*held) Commands::shellOutput("/usr/bin/xdotool", {"keyup", held});
  }
}

TEST(X11AbsentDisplayTest, EverythingIsEmptyAndNothingFails) {
  for (const char* display : {"", ":4711"}) {
    X11Desktop absent{std::string(display)};
    const test::ManualClock clock;
    const fs::path logFile = fs::temp_directory_path() / "varek-absent.log";
    fs::remove(logFile);
    const Log log(logFile.string(), clock);
    X11WindowServer server(absent, &log);
    X11Workspace workspace(absent);
    EXPECT_EQ(absent.connection(), nullptr) << display;
    EXPECT_TRUE(server.windowsOf(getpid()).empty() && server.screens().empty() &&
                workspace.runningApplications().empty())
        << display;
    EXPECT_FALSE(server.isTrusted() || server.focusedWindow(getpid()) || server.frame(1) ||
                 server.mainScreen() || workspace.frontmostApplication())
        << display;
    server.setFrame(1, {0, 0, 100, 100});
    server.raise(1);
    server.postPaste();
    workspace.activate(1);
    workspace.terminate(1);
    workspace.beep();
    server.requestTrust();
    server.requestTrust();
    const std::string logged = read(logFile);
    EXPECT_NE(logged.find("no X display"), std::string::npos) << display;
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 1) << "logged once: " << logged;
  }
}

}  // namespace
}  // namespace varek
