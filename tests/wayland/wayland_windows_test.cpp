#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wayland-server.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "platform/wayland/sway_ipc.h"
#include "platform/wayland/wayland_window_server.h"
#include "platform/wayland/wayland_workspace.h"
#include "search/unicode.h"
#include "sources/windows.h"
#include "tests/support/wayland_clients.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

extern char** environ;

namespace varek {
namespace {

using Json = nlohmann::json;
using Toplevel = WaylandToplevels::Toplevel;

// A real window: a terminal with this app id and title, closed with the test.
class Foot {
 public:
  Foot(const std::string& appId, const std::string& title) {
    const char* arguments[] = {"foot",        "-a",    appId.c_str(), "-T",
                               title.c_str(), "sleep", "60",          nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&quiet, STDOUT_FILENO, STDERR_FILENO);
    if (posix_spawnp(&pid_, "foot", &quiet, nullptr, const_cast<char**>(arguments), environ) != 0) {
      pid_ = 0;
    }
    posix_spawn_file_actions_destroy(&quiet);
  }
  ~Foot() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Foot(const Foot&) = delete;
  Foot& operator=(const Foot&) = delete;

 private:
  pid_t pid_ = 0;
};

// The backend as the launcher's main thread drives it.
struct Desktop {
  WaylandConnection connection;
  WaylandToplevels toplevels{connection};
  WaylandWorkspace workspace{toplevels};
  WaylandWindowServer windowServer{connection, toplevels};

  bool until(const std::function<bool()>& done) {
    return test::handleEventsUntil(connection, [&] {
      toplevels.checkConnection();
      return done();
    });
  }

  std::optional<RunningApp> app(std::string_view name) const {
    for (const RunningApp& app : workspace.runningApplications()) {
      if (app.name == name) return app;
    }
    return std::nullopt;
  }
};

// sway's container of the window with this app id.
std::optional<Json> swayWindow(std::string_view appId) {
  SwayIpc sway;
  std::vector<Json> pending{Json::parse(sway.request(SwayIpc::Message::getTree).value_or("{}"))};
  while (!pending.empty()) {
    const Json node = std::move(pending.back());
    pending.pop_back();
    if (node.value("app_id", Json()).is_string() && node["app_id"] == appId) return node;
    for (const char* children : {"nodes", "floating_nodes"}) {
      for (const Json& child : node.value(children, Json::array())) pending.push_back(child);
    }
  }
  return std::nullopt;
}

// Runs under scripts/with-sway: two terminals become two applications, each with its window.
TEST(WaylandWindows, listsFocusesPlacesAndClosesRealWindows) {
  Desktop desktop;
  ASSERT_TRUE(desktop.windowServer.isTrusted());
  const Foot one("varek-one", "Erstes Fenster");
  // foot's own app id, which its desktop entry names.
  const Foot two("foot", "Zweites Fenster");
  ASSERT_TRUE(desktop.until([&] { return desktop.app("varek-one") && desktop.app("Foot"); }));
  const RunningApp first = *desktop.app("varek-one");
  const RunningApp second = *desktop.app("Foot");
  EXPECT_TRUE(second.path.value_or("").ends_with("/foot.desktop"));
  EXPECT_EQ(first.pid, ApplicationCatalog::nameKey("varek-one"));
  ASSERT_EQ(desktop.windowServer.windowsOf(second.pid).size(), 1U);
  EXPECT_EQ(desktop.windowServer.windowsOf(second.pid).front().title, "Zweites Fenster");
  EXPECT_EQ(Windows::list(desktop.workspace, desktop.windowServer).size(), 2U);

  desktop.workspace.activate(first.pid);
  ASSERT_TRUE(
      desktop.until([] { return swayWindow("varek-one").value_or(Json())["focused"] == true; }));
  ASSERT_TRUE(desktop.until([&] { return desktop.workspace.frontmostApplication() == first; }));

  // A stand-in for our own panel takes focus; the application the user came from stays. It
  // floats as the panel does, so that no window beside it changes size.
  SwayIpc().command("for_window [app_id=\"zz.orvel.varek\"] floating enable");
  const Foot panel(std::string(WaylandToplevels::kOwnAppId), "Varek");
  ASSERT_TRUE(desktop.until([&] {
    const Toplevel& newest = desktop.toplevels.snapshot()->toplevels.back();
    return newest.appId == WaylandToplevels::kOwnAppId && newest.activated;
  }));
  EXPECT_EQ(desktop.workspace.frontmostApplication(), first);
  EXPECT_EQ(desktop.workspace.runningApplications().size(), 2U);

  // The left half of the 1920x1080 output, title bar included.
  desktop.workspace.activate(first.pid);
  ASSERT_TRUE(
      desktop.until([] { return swayWindow("varek-one").value_or(Json())["focused"] == true; }));
  Windows::place(Windows::Layout::left, first, desktop.windowServer, desktop.workspace);
  // sway applies the new geometry once the terminal has taken it.
  desktop.until([] { return swayWindow("varek-one").value_or(Json())["rect"]["width"] == 960; });
  const Json placed = swayWindow("varek-one").value_or(Json());
  const int titleBar = placed["deco_rect"]["height"];
  EXPECT_EQ(placed["type"], "floating_con");
  EXPECT_EQ(placed["rect"]["x"], 0);
  EXPECT_EQ(placed["rect"]["y"].get<int>() - titleBar, 0);
  EXPECT_EQ(placed["rect"]["width"], 1920 / 2);
  EXPECT_EQ(placed["rect"]["height"].get<int>() + titleBar, 1080);
  EXPECT_EQ(desktop.windowServer.frame(*desktop.windowServer.focusedWindow(first.pid)),
            (Rect{0, 0, 1920 / 2, 1080}));
  EXPECT_EQ(desktop.workspace.beeps(), 0);

  desktop.workspace.terminate(second.pid);
  ASSERT_TRUE(desktop.until([&] { return !desktop.app("Foot"); }));
  EXPECT_FALSE(swayWindow("foot"));
}

// A title is another program's text: whatever it sends, what is kept is short and valid.
TEST(WaylandWindows, boundsAndCleansAHostileTitle) {
  Desktop desktop;
  const std::string hostile = "\xff\xfe\xc3(" + std::string(100'000, 'x');
  const Foot foot("varek-hostile", hostile);
  std::vector<WindowServer::WindowInfo> windows;
  ASSERT_TRUE(desktop.until([&] {
    const auto app = desktop.app("varek-hostile");
    windows = app ? desktop.windowServer.windowsOf(app->pid) : windows;
    return !windows.empty() && !windows.front().title.empty();
  }));
  const std::string& title = windows.front().title;
  EXPECT_LE(title.size(), WaylandToplevels::kTextCharacters * 4);
  EXPECT_TRUE(title.starts_with("\uFFFD\uFFFD\uFFFD(x")) << title.substr(0, 20);
  EXPECT_EQ(unicode::utf8(unicode::scalars(title)), title);
}

// Event numbers, in the order the protocol's description lists its events.
constexpr std::uint32_t kToplevelEvent = 0, kFinishedEvent = 1;
constexpr std::uint32_t kTitleEvent = 0, kDoneEvent = 5;

// The server's side of the compositor below: requests are answered by nobody, and a destroy
// request frees the object.
int ignore(const void*, void* target, std::uint32_t, const wl_message* message, wl_argument*) {
  if (std::string_view(message->name) == "destroy") {
    wl_resource_destroy(static_cast<wl_resource*>(target));
  }
  return 0;
}

// Lists one window, then stops listing when finish is set.
void listOneWindow(wl_client* client, void* finish, std::uint32_t version, std::uint32_t id) {
  wl_resource* manager =
      wl_resource_create(client, &zwlr_foreign_toplevel_manager_v1_interface, version, id);
  wl_resource* toplevel =
      wl_resource_create(client, &zwlr_foreign_toplevel_handle_v1_interface, version, 0);
  wl_resource_set_dispatcher(manager, ignore, nullptr, nullptr, nullptr);
  wl_resource_set_dispatcher(toplevel, ignore, nullptr, nullptr, nullptr);
  wl_resource_post_event(manager, kToplevelEvent, toplevel);
  wl_resource_post_event(toplevel, kTitleEvent, "Brief");
  wl_resource_post_event(toplevel, kDoneEvent);
  if (finish) wl_resource_post_event(manager, kFinishedEvent);
}

// A compositor of the test's own lists one window, then stops listing or goes away: what was
// listed is gone either way.
TEST(WaylandWindows, forgetsEverythingWhenTheListEnds) {
  for (const bool finishes : {false, true}) {
    const test::WaylandListener listener;
    wl_display* server = wl_display_create();
    wl_global_create(server, &zwlr_foreign_toplevel_manager_v1_interface, 3,
                     finishes ? server : nullptr, listOneWindow);
    ASSERT_EQ(wl_display_add_socket_fd(server, dup(listener.fd)), 0);
    std::thread serving([server] { wl_display_run(server); });
    {
      WaylandConnection connection(listener.path.string());
      WaylandToplevels toplevels(connection);
      EXPECT_EQ(toplevels.snapshot()->toplevels.size(), finishes ? 0U : 1U);
      EXPECT_EQ(toplevels.available(), !finishes);
      wl_display_terminate(server);
      serving.join();
      wl_display_destroy_clients(server);
      connection.update();
      toplevels.checkConnection();
      EXPECT_TRUE(toplevels.snapshot()->toplevels.empty());
      EXPECT_FALSE(toplevels.available());
    }
    wl_display_destroy(server);
  }
}

// What the windows mode, the layout rows, the tray and the start line say on each desktop.
TEST(WaylandWindows, saysWhatTheDesktopLacks) {
  using Means = WaylandWindowServer::Means;
  const struct {
    const char* row;
    Means means;
    std::string reason;
    std::string placement;
  } rows[] = {
      {"sway offers everything", {true, true, true, false, "sway"}, "", ""},
      {"KWin lists and places", {true, true, false, true, "KDE"}, "", ""},
      {"neither sway nor KWin places anything",
       {true, true, false, false, "labwc"},
       "",
       "Fenster platzieren geht unter Wayland nur mit sway oder KDE Plasma"},
      {"GNOME lists no windows",
       {true, false, false, false, "ubuntu:GNOME"},
       "GNOME erlaubt Programmen keine Fensterliste",
       "GNOME erlaubt Programmen kein Platzieren von Fenstern"},
      {"KWin lists windows only to an installed program",
       {true, false, false, false, "KDE"},
       "KDE Plasma gibt die Fensterliste nur installierten Programmen – Varek als Paket "
       "installieren",
       "Braucht die Fensterliste von KDE Plasma"},
      {"another compositor without the list names the protocol",
       {true, false, false, false, "weston"},
       "Der Compositor gibt keine Fensterliste heraus (wlr-foreign-toplevel-management) – z. B. "
       "sway, labwc oder Hyprland nutzen",
       "Braucht eine Fensterliste vom Compositor"},
      {"no compositor at all",
       {false, false, false, false, "GNOME"},
       "Keine Verbindung zum Wayland-Compositor – Varek neu starten",
       "Braucht eine Verbindung zum Compositor"},
  };
  for (const auto& row : rows) {
    const WaylandWindowServer::Texts texts = WaylandWindowServer::describe(row.means);
    EXPECT_EQ(texts.reason, row.reason) << row.row;
    EXPECT_EQ(texts.placement, row.placement) << row.row;
    EXPECT_EQ(texts.cause.empty(), row.reason.empty()) << row.row;
  }
}

}  // namespace
}  // namespace varek
