// The X11 backend against a real X server, window manager and clients (xterms and
// xmessages of their own processes, Qt windows of this one) inside the private desktop of
// scripts/with-desktop; and the decoding of the text that clients store.
#include "platform/x11/x11_desktop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QRasterWindow>

#include <set>

#include "platform/linux/qt_screens.h"
#include "platform/x11/x11_text.h"
#include "platform/x11/x11_window_server.h"
#include "platform/x11/x11_workspace.h"
#include "sources/windows.h"
#include "tests/support/desktop_fixtures.h"
#include "tests/support/desktop_session.h"
#include "tests/support/fake_dbus_service.h"
#include "tests/support/manual_clock.h"

namespace varek {

namespace {

namespace fs = std::filesystem;
using test::Child;
using test::outerFrame;
using test::run;
using test::waitFor;
using Client = X11Desktop::Client;

fs::path applicationsFolder() { return fs::path(std::getenv("XDG_DATA_HOME")) / "applications"; }

Child xterm(const QStringList& arguments) { return Child("/usr/bin/xterm", arguments); }
// An Xt client that names no process (_NET_WM_PID); its title is its instance name.
Child xmessage(const QString& name) { return Child("/usr/bin/xmessage", {"-name", name, "Varek"}); }

std::optional<Client> await(X11Desktop& desktop, const std::function<bool(const Client&)>& wanted) {
  std::optional<Client> found;
  waitFor([&] {
    desktop.update();
    for (const Client& client : desktop.snapshot()->clients) {
      if (wanted(client)) found = client;
    }
    return found.has_value();
  });
  return found;
}
std::optional<Client> windowOf(X11Desktop& desktop, int pid) {
  return await(desktop, [pid](const Client& client) { return client.pid == pid; });
}
std::optional<Client> windowNamed(X11Desktop& desktop, const std::string& instance) {
  return await(desktop, [&](const Client& client) { return client.instance == instance; });
}

// A window of this process: it has no size increments, so it lands to the pixel.
struct OwnWindow {
  explicit OwnWindow(const X11Desktop& desktop) {
    window.setTitle(QStringLiteral("Varek Probe Window"));
    window.setGeometry(300, 300, 400, 300);
    window.show();
    id = static_cast<xcb_window_t>(window.winId());
    waitFor([&] { return desktop.snapshot()->find(id) != nullptr; });
  }
  QRasterWindow window;
  xcb_window_t id = 0;
};

class X11DesktopTest : public ::testing::Test {
 protected:
  X11Desktop desktop;
  // The screens as the launcher sees them, through Qt.
  X11WindowServer server{desktop, nullptr, qtScreens()};
  X11Workspace workspace{desktop};
};
using X11WorkspaceTest = X11DesktopTest;
using X11WindowServerTest = X11DesktopTest;

TEST(X11Text, DecodesRareAndBrokenCompoundText) {
  // What Xlib makes of titles is read in CacheFollowsClientsUntilTerminateClosesThem; these
  // compound texts are rarer: {shows, bytes, text}.
  const std::string rows[][3] = {
      {"an extended segment names its set", "\x1b%/1\x80\x89koi8-r\x02\xf0\xd2", "Пр"},
      {"invalid UTF-8 in a segment is replaced", "a\x1b%G\xff\x1b%@b", "a\uFFFDb"},
      {"an unknown set reads as replacements", "\x1b-~\xa1\xa2.", "\uFFFD\uFFFD."},
      {"a cut-off escape ends the text", "ab\x1b$", "ab"},
  };
  for (const auto& [shows, bytes, text] : rows) {
    EXPECT_EQ(X11Text::decode(bytes, X11Text::Encoding::compoundText), text) << shows;
  }
}

TEST_F(X11WorkspaceTest, CacheFollowsClientsUntilTerminateClosesThem) {
  Child terminal = xterm({"-title", "Größe ändern"});
  Child note = xmessage("varek-note");
  const auto a = windowOf(desktop, terminal.pid);
  const auto b = windowNamed(desktop, "varek-note");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->instance + " " + a->windowClass + " " + a->title, "xterm XTerm Größe ändern");
  EXPECT_TRUE(a->normal && b->normal);
  EXPECT_EQ(a->application, terminal.pid);
  EXPECT_LT(b->application, 0) << "no process named";
  // WM_NAME as Xlib stores these titles: STRING when Latin-1 holds them, else COMPOUND_TEXT.
  const std::string huge(20000, 'x');
  for (const std::string& title :
       std::vector<std::string>{"Grüße", "Notizen – vim", "Łódź Привет 日本語", huge, ""}) {
    const std::string shown = title.substr(0, X11Text::kTitleCharacters);
    run("xprop", {"-id", std::to_string(b->id), "-f", "WM_NAME", "8t", "-set", "WM_NAME", title});
    EXPECT_TRUE(waitFor([&] {
      const Client* client = desktop.snapshot()->find(b->id);
      return client && client->title == shown;
    })) << shown.substr(0, 20);
  }
  // Shown from another host, a client's process id names nothing here: its class does.
  run("xprop", {"-id", std::to_string(a->id), "-f", "WM_CLIENT_MACHINE", "8s", "-set",
                "WM_CLIENT_MACHINE", "elsewhere.example"});
  const auto remote =
      await(desktop, [&](const Client& client) { return client.id == a->id && client.pid == 0; });
  ASSERT_TRUE(remote);
  EXPECT_LT(remote->application, 0);
  // A window that is still starting up may miss the first request (on a loaded machine the
  // xterm can be mapped before it listens for the close), so the request is repeated.
  auto lastRequest = std::chrono::steady_clock::time_point();
  ASSERT_TRUE(waitFor([&] {
    if (std::chrono::steady_clock::now() - lastRequest > std::chrono::seconds(1)) {
      workspace.terminate(remote->application);
      lastRequest = std::chrono::steady_clock::now();
    }
    return terminal.process.state() == QProcess::NotRunning;
  }));
  EXPECT_EQ(terminal.process.exitStatus(), QProcess::NormalExit) << "closed, not signalled";
  EXPECT_TRUE(waitFor([&] { return desktop.snapshot()->find(a->id) == nullptr; }));
  EXPECT_NE(desktop.snapshot()->find(b->id), nullptr);
}

TEST_F(X11WorkspaceTest, ListsApplicationsByEntryOrWindowClass) {
  // The probe is named by its desktop id, "varek-probe". The helper names XTerm's class as
  // the shown debian-xterm does and comes first by id, but no menu shows it.
  const fs::path entry = applicationsFolder() / "varek/probe.desktop";
  const fs::path helper = applicationsFolder() / "debian-xterm-helper.desktop";
  test::writeFile(entry, "[Desktop Entry]\nType=Application\nName=Varek Probe\nExec=xterm\n");
  test::writeFile(helper,
                  "[Desktop Entry]\nType=Application\nName=Helper\nExec=xterm\n"
                  "NoDisplay=true\nStartupWMClass=XTerm\n");
  // Each window appears before the next client starts, so the order is known.
  Child byStartupClass = xterm({});
  ASSERT_TRUE(windowOf(desktop, byStartupClass.pid));
  Child byDesktopId = xterm({"-class", "Varek-Probe"});
  ASSERT_TRUE(windowOf(desktop, byDesktopId.pid));
  Child first = xmessage("varek-first");
  const auto firstWindow = windowNamed(desktop, "varek-first");
  ASSERT_TRUE(firstWindow);
  Child second = xmessage("varek-second");
  ASSERT_TRUE(windowNamed(desktop, "varek-second"));
  const OwnWindow own(desktop);
  const std::set<int> known{byStartupClass.pid, byDesktopId.pid, firstWindow->application,
                            getpid()};
  // Named at once: the first read of the entries, begun with the workspace, is waited for.
  std::vector<RunningApp> apps = X11Workspace(desktop).runningApplications();
  std::erase_if(apps, [&](const RunningApp& app) { return !known.contains(app.pid); });
  // In the order the windows appeared, never this process itself.
  EXPECT_EQ(apps,
            (std::vector<RunningApp>{
                {byStartupClass.pid, "XTerm", "/usr/share/applications/debian-xterm.desktop", true},
                {byDesktopId.pid, "Varek Probe", entry.string(), true},
                {firstWindow->application, "Xmessage", std::nullopt, true},
            }));
  std::multiset<std::string> titles;
  for (const Windows::Window& window : Windows::list(workspace, server)) {
    if (window.app.pid == firstWindow->application) titles.insert(window.title);
  }
  EXPECT_EQ(titles, (std::multiset<std::string>{"varek-first", "varek-second"}));
  fs::remove(entry);
  fs::remove(helper);
}

TEST_F(X11WorkspaceTest, OpensThroughTheDesktopsHandlers) {
  const fs::path folder = fs::temp_directory_path() / "varek-opener";
  const fs::path log = folder / "opened.log";
  const fs::path entry = applicationsFolder() / "varek-opener.desktop";
  fs::remove_all(folder);
  test::writeScript(folder / "handler",
                    "printf '%s\\n' \"${1:-launched}\" >> '" + log.string() + "'\n");
  test::writeFile(entry, "[Desktop Entry]\nType=Application\nName=Varek Opener\nExec=" +
                             (folder / "handler").string() +
                             " %u\nMimeType=x-scheme-handler/varek-probe;inode/directory;\n");
  // GIO learns which entry takes a type from this index, not from the entries themselves.
  const fs::path index = applicationsFolder() / "mimeinfo.cache";
  test::writeFile(index,
                  "[MIME Cache]\nx-scheme-handler/varek-probe=varek-opener.desktop;\n"
                  "inode/directory=varek-opener.desktop;\n");
  ASSERT_TRUE(waitFor([&] { return workspace.openUrl("varek-probe://ready"); }));
  std::string started = "varek-probe://ready\n";
  ASSERT_TRUE(waitFor([&] { return test::readFile(log) == started; }));

  // Each call is one row: what it returns, and what the handler was started with, if at all.
  const auto row = [&](const char* shows, bool accepted, bool wanted, const std::string& opened) {
    EXPECT_EQ(accepted, wanted) << shows;
    if (!opened.empty()) started += opened + "\n";
    EXPECT_TRUE(waitFor([&] { return test::readFile(log) == started; })) << shows;
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

  FakeService fileManager("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1");
  workspace.reveal(log.string() + "/");
  const auto calls = fileManager.calls("ShowItems");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(fileManager.calls().size(), 1u);
  EXPECT_EQ(calls[0].value(0).toStringList(),
            QStringList{QString::fromStdString("file://" + log.string())});
  fs::remove(entry);
  fs::remove(index);
}

TEST_F(X11WindowServerTest, ActivationIsRequestedAndRemembered) {
  const OwnWindow one(desktop);
  const OwnWindow two(desktop);
  Child terminal = xterm({"-title", "Varek Other"});
  Child note = xmessage("varek-active");
  const auto other = windowOf(desktop, terminal.pid);
  const auto unnamed = windowNamed(desktop, "varek-active");
  ASSERT_TRUE(other && unnamed);
  const auto becomesActive = [&](xcb_window_t window) {
    return waitFor(
        [&] { return test::activeWindow() == window && desktop.snapshot()->active == window; });
  };
  const auto frontToBack = [&] {
    std::vector<WindowId> ids;
    for (const auto& window : server.windowsOf(getpid())) ids.push_back(window.id);
    return ids;
  };
  server.raise(one.id);
  server.raise(two.id);
  ASSERT_TRUE(becomesActive(two.id));
  EXPECT_EQ(server.focusedWindow(getpid()), two.id) << "the active one";
  EXPECT_EQ(frontToBack(), (std::vector<WindowId>{two.id, one.id}));
  server.raise(one.id);
  ASSERT_TRUE(becomesActive(one.id));
  server.raise(other->id);
  ASSERT_TRUE(becomesActive(other->id));
  EXPECT_EQ(server.focusedWindow(getpid()), one.id) << "the last active, another process in front";
  EXPECT_EQ(frontToBack(), (std::vector<WindowId>{one.id, two.id}));
  EXPECT_EQ(workspace.frontmostApplication().value_or(RunningApp{}).pid, terminal.pid);
  server.raise(two.id);
  ASSERT_TRUE(becomesActive(two.id));
  EXPECT_EQ(workspace.frontmostApplication().value_or(RunningApp{}).pid, terminal.pid)
      << "this process is never the frontmost";
  workspace.activate(unnamed->application);
  EXPECT_TRUE(becomesActive(unnamed->id)) << "a window that names no process";
  EXPECT_EQ(server.focusedWindow(unnamed->application), unnamed->id);
  EXPECT_EQ(workspace.frontmostApplication().value_or(RunningApp{}).pid, unnamed->application);
}

TEST_F(X11WindowServerTest, LayoutsLandInTheWorkAreaAndReadBack) {
  EXPECT_TRUE(server.isTrusted());
  Child panel = xterm({"-title", "Varek Strut"});
  const auto strut = windowOf(desktop, panel.pid);
  ASSERT_TRUE(strut);
  // A strut along the top edge, as a panel reserves it, shrinks the work area.
  run("xprop", {"-id", std::to_string(strut->id), "-f", "_NET_WM_STRUT", "32c", "-set",
                "_NET_WM_STRUT", "0, 0, 30, 0"});
  const Rect root = test::rootFrame();
  const Rect visible{0, 0, root.width, root.height - 30};
  EXPECT_TRUE(waitFor([&] {
    const auto screens = server.screens();
    return screens.size() == 1 && screens.front().visibleFrame == visible;
  }));
  EXPECT_EQ(server.screens().front().frame, root);
  EXPECT_EQ(server.mainScreen()->visibleFrame, visible);

  const OwnWindow own(desktop);
  const RunningApp self{.pid = getpid(), .name = "Varek", .path = std::nullopt, .regular = true};
  const Rect start{200, 150, 600, 400};
  for (const Windows::Layout layout : Windows::allLayouts()) {
    server.setFrame(own.id, start);
    ASSERT_TRUE(waitFor([&] { return outerFrame(own.id) == start; }));
    const Rect expected = Windows::integral(Windows::frame(layout, visible, start));
    Windows::place(layout, self, server, workspace);
    EXPECT_TRUE(waitFor([&] { return outerFrame(own.id) == expected; })) << Windows::title(layout);
    EXPECT_EQ(server.frame(own.id), outerFrame(own.id)) << Windows::title(layout);
  }
}

// The hotkey's modifiers may still be down when the paste is posted. (A paste with none
// held is the panel controller's test.)
TEST_F(X11WindowServerTest, PasteArrivesInTheFocusedWindowWithModifiersHeld) {
  QGuiApplication::clipboard()->setText(QStringLiteral("pasted by Varek\n"));
  // Like most applications, this xterm pastes on Control+V alone ("!"), not with Alt added.
  const QString translation =
      QStringLiteral("*VT100.translations: #override !Ctrl <Key>v: insert-selection(CLIPBOARD)");
  const fs::path file = fs::temp_directory_path() / "varek-pasted.txt";
  fs::remove(file);
  const std::string readLine = "IFS= read -r line; printf %s \"$line\" > '" + file.string() + "'";
  Child reader = xterm({"-title", "Varek Paste", "-xrm", translation, "-e", "sh", "-c",
                        QString::fromStdString(readLine)});
  const auto window = windowOf(desktop, reader.pid);
  ASSERT_TRUE(window);
  server.raise(window->id);
  ASSERT_TRUE(waitFor([&] { return test::activeWindow() == window->id; }));
  run("xdotool", {"keydown", "alt+super+shift"});
  server.postPaste();
  EXPECT_TRUE(waitFor([&] { return test::readFile(file) == "pasted by Varek"; }))
      << test::readFile(file);
  run("xdotool", {"keyup", "alt+super+shift"});
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
    EXPECT_EQ(test::logMessages(logFile.string(), "windows: no X display").size(), 1u) << display;
    EXPECT_EQ(test::logMessages(logFile.string(), "").size(), 1u) << "logged once";
  }
}

}  // namespace
}  // namespace varek
