// KDE Plasma's windows and layouts without KWin: a compositor of the test's own serves
// KWin's window management, and a fake of KWin's scripting service on the private bus
// records the script that places a window.
#include <gtest/gtest.h>
#include <wayland-server.h>

#include <QCoreApplication>
#include <QFile>
#include <mutex>

#include "platform/linux/kwin_scripting.h"
#include "platform/wayland/wayland_window_server.h"
#include "platform/wayland/wayland_workspace.h"
#include "plasma-window-management-client.h"
#include "search/unicode.h"
#include "sources/windows.h"
#include "tests/support/fake_dbus_service.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/wayland_clients.h"

namespace varek {
namespace {

constexpr std::uint32_t kActive = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE;
constexpr std::uint32_t kMinimized = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED;
constexpr std::uint32_t kSkipTaskbar = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_SKIPTASKBAR;
// Event numbers, in the order the protocol's description lists its events.
constexpr std::uint32_t kWindowWithUuid = 4;
constexpr std::uint32_t kTitle = 0, kAppId = 1, kState = 2, kUnmapped = 5, kInitialState = 6,
                        kGeometry = 8;

// KWin's window list on a thread of its own: it announces its windows, records the requests
// made on them as "request uuid arguments…", and makes the test's changes on its thread.
class FakeKWin {
 public:
  struct Window {
    std::string uuid, title, appId;
    std::uint32_t state = 0;
    Rect frame;
    wl_resource* resource = nullptr;
  };

  explicit FakeKWin(std::vector<Window> windows) : windows_(std::move(windows)) {
    wl_global_create(server_, &org_kde_plasma_window_management_interface, 16, this, bind);
    EXPECT_EQ(wl_display_add_socket_fd(server_, dup(listener_.fd)), 0);
    thread_ = std::thread([this] { serve(); });
  }
  ~FakeKWin() {
    stopping_ = true;
    thread_.join();
    wl_display_destroy_clients(server_);
    wl_display_destroy(server_);
  }

  std::string display() const { return listener_.path.string(); }
  std::vector<std::string> requests() {
    const std::lock_guard lock(mutex_);
    return requests_;
  }
  void setState(std::size_t window, std::uint32_t state) {
    post([this, window, state] { wl_resource_post_event(windows_[window].resource, kState, state); });
  }
  void unmap(std::size_t window) {
    post([this, window] { wl_resource_post_event(windows_[window].resource, kUnmapped); });
  }

 private:
  void post(std::function<void()> change) {
    const std::lock_guard lock(mutex_);
    changes_.push_back(std::move(change));
  }
  void serve() {
    while (!stopping_) {
      std::vector<std::function<void()>> changes;
      {
        const std::lock_guard lock(mutex_);
        changes.swap(changes_);
      }
      for (const auto& change : changes) change();
      wl_display_flush_clients(server_);
      wl_event_loop_dispatch(wl_display_get_event_loop(server_), 10);
    }
  }
  static void bind(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
    auto& kwin = *static_cast<FakeKWin*>(data);
    wl_resource* manager =
        wl_resource_create(client, &org_kde_plasma_window_management_interface, version, id);
    wl_resource_set_dispatcher(manager, dispatch, &kwin, nullptr, nullptr);
    for (std::size_t index = 0; index < kwin.windows_.size(); ++index) {
      wl_resource_post_event(manager, kWindowWithUuid, index + 1, kwin.windows_[index].uuid.c_str());
    }
  }
  static int dispatch(const void* implementation, void* target, std::uint32_t,
                      const wl_message* message, wl_argument* arguments) {
    auto& kwin = *static_cast<FakeKWin*>(const_cast<void*>(implementation));
    auto* resource = static_cast<wl_resource*>(target);
    const std::string_view name = message->name;
    auto* window = static_cast<Window*>(wl_resource_get_user_data(resource));
    if (name == "get_window_by_uuid") {
      for (Window& each : kwin.windows_) {
        if (each.uuid == arguments[1].s) kwin.open(resource, arguments[0].n, each);
      }
    } else if (name == "destroy") {
      wl_resource_destroy(resource);
    } else if (window) {
      std::string request = std::string(name) + " " + window->uuid;
      if (name == "set_state") {
        request += " " + std::to_string(arguments[0].u) + " " + std::to_string(arguments[1].u);
      }
      const std::lock_guard lock(kwin.mutex_);
      kwin.requests_.push_back(request);
    }
    return 0;
  }
  void open(wl_resource* manager, std::uint32_t id, Window& window) {
    window.resource = wl_resource_create(wl_resource_get_client(manager),
                                         &org_kde_plasma_window_interface,
                                         wl_resource_get_version(manager), id);
    wl_resource_set_dispatcher(window.resource, dispatch, this, &window, nullptr);
    wl_resource_post_event(window.resource, kTitle, window.title.c_str());
    wl_resource_post_event(window.resource, kAppId, window.appId.c_str());
    wl_resource_post_event(window.resource, kState, window.state);
    const auto [x, y, width, height] = window.frame;
    wl_resource_post_event(window.resource, kGeometry, int(x), int(y), unsigned(width),
                           unsigned(height));
    wl_resource_post_event(window.resource, kInitialState);
  }

  test::WaylandListener listener_;
  wl_display* server_ = wl_display_create();
  std::vector<Window> windows_;
  std::thread thread_;
  std::atomic<bool> stopping_ = false;
  std::mutex mutex_;
  std::vector<std::function<void()>> changes_;
  std::vector<std::string> requests_;
};

const std::string kHostile = "\xff\xfe" + std::string(3000, 'x');

// Two applications' windows, Plasma's desktop (kept out of task bars) and our panel.
std::vector<FakeKWin::Window> plasmaDesktop() {
  return {{"1a2b-0001", "Notizen", "vim", kMinimized, {100, 50, 800, 600}},
          {"1a2b-0002", kHostile, "foot", kActive, {200, 100, 640, 480}},
          {"1a2b-0003", "Arbeitsfläche", "org.kde.plasmashell", kSkipTaskbar, {0, 0, 1920, 1080}},
          {"1a2b-0004", "Varek", std::string(WaylandToplevels::kOwnAppId), 0, {660, 0, 600, 400}}};
}

// The backend on KWin's Wayland session, without sway, on a 1920x1080 screen.
struct PlasmaSession {
  test::ScopedVariable noSway{"SWAYSOCK", nullptr};
  FakeKWin kwin{plasmaDesktop()};
  WaylandConnection connection{kwin.display()};
  WaylandToplevels toplevels{connection};
  WaylandWorkspace workspace{toplevels};
  KWinScripting scripting;
  WaylandWindowServer windowServer{
      connection, toplevels, nullptr,
      [] { return std::vector<WaylandWindowServer::ScreenArea>{{{0, 0, 1920, 1080}, {0, 0, 1920, 1080}}}; },
      {},
      {[this] { return scripting.available(); },
       [this](const std::string& uuid, Rect frame) { return scripting.place(uuid, frame); }}};

  bool until(const std::function<bool()>& done) { return test::handleEventsUntil(connection, done); }
  std::optional<RunningApp> app(std::string_view name) const {
    for (const RunningApp& app : workspace.runningApplications()) {
      if (app.name == name) return app;
    }
    return std::nullopt;
  }
  bool requested(const std::string& request) {
    return until([&] {
      const auto requests = kwin.requests();
      return std::find(requests.begin(), requests.end(), request) != requests.end();
    });
  }
};

TEST(PlasmaWindows, listsActivatesAndClosesKWinsWindows) {
  PlasmaSession session;
  ASSERT_TRUE(session.windowServer.isTrusted());
  std::vector<std::string> names;
  for (const RunningApp& app : session.workspace.runningApplications()) names.push_back(app.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Vim", "Foot"}));
  const RunningApp vim = *session.app("Vim");
  const RunningApp foot = *session.app("Foot");

  // Another program's title: short and valid, whatever it sent.
  const std::string title = session.windowServer.windowsOf(foot.pid).front().title;
  EXPECT_LE(title.size(), WaylandToplevels::kTextCharacters * 4);
  EXPECT_TRUE(title.starts_with("\uFFFD\uFFFDx"));
  EXPECT_EQ(unicode::utf8(unicode::scalars(title)), title);

  // Our panel takes focus; the application the user came from stays in front.
  session.kwin.setState(1, 0);
  session.kwin.setState(3, kActive);
  ASSERT_TRUE(session.until([&] { return session.toplevels.snapshot()->toplevels.back().activated; }));
  EXPECT_EQ(session.workspace.frontmostApplication(), foot);

  session.workspace.activate(vim.pid);
  EXPECT_TRUE(session.requested("set_state 1a2b-0001 " + std::to_string(kActive | kMinimized) +
                                " " + std::to_string(kActive)));
  session.workspace.terminate(foot.pid);
  EXPECT_TRUE(session.requested("close 1a2b-0002"));
  session.kwin.unmap(0);
  EXPECT_TRUE(session.until([&] { return !session.app("Vim"); }));
}

// "Linke Hälfte" on KDE: KWin's scripting service gets a script with the window's UUID and
// the left half of the 1920x1080 work area; without the service the row says what is missing.
TEST(PlasmaWindows, placesALayoutThroughAKWinScript) {
  PlasmaSession session;
  EXPECT_FALSE(session.windowServer.canPlaceWindows());
  EXPECT_EQ(session.windowServer.placementReason(),
            "Fenster platzieren geht unter Wayland nur mit sway oder KDE Plasma");
  std::vector<std::string> scripts;
  {
    FakeService kwin("org.kde.KWin", "/Scripting", [&](const QDBusMessage& call) {
      if (call.member() != "loadScript") return QVariantList{};
      QFile file(call.arguments().front().toString());
      scripts.push_back(file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "");
      return QVariantList{QVariant(7)};
    });
    // The service is heard through Qt's event loop.
    EXPECT_TRUE(session.until([&] {
      QCoreApplication::processEvents();
      return session.windowServer.canPlaceWindows();
    }));
    EXPECT_EQ(session.windowServer.placementReason(), "");
    Windows::place(Windows::Layout::left, session.app("Foot"), session.windowServer,
                   session.workspace);
    ASSERT_EQ(scripts.size(), 1U);
    EXPECT_NE(scripts[0].find("const wanted = \"1a2b-0002\";"), std::string::npos) << scripts[0];
    EXPECT_NE(scripts[0].find("target.frameGeometry = {x: 0, y: 0, width: 960, height: 1080};"),
              std::string::npos)
        << scripts[0];
    EXPECT_EQ(kwin.calls("run").size(), 1U);
  }
  EXPECT_EQ(session.workspace.beeps(), 0);
}

}  // namespace
}  // namespace varek
