#include "platform/wayland/wayland_window_server.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "platform/wayland/wayland_workspace.h"
#include "search/unicode.h"

namespace varek {
namespace {

using Json = nlohmann::json;
using ScreenArea = WaylandWindowServer::ScreenArea;

constexpr std::string_view kGnome = "gnome";
constexpr std::string_view kKde = "kde";

// The core's coordinates start at the primary screen's bottom-left corner, y up.
Rect toDesktop(const Rect& area, const Rect& primary) {
  return {area.x - primary.x, primary.y + primary.height - (area.y + area.height), area.width,
          area.height};
}

Rect toLayout(const Rect& rect, const Rect& primary) {
  return {primary.x + rect.x, primary.y + primary.height - (rect.y + rect.height), rect.width,
          rect.height};
}

Rect rectOf(const Json& node) {
  const Json& rect = node.value("rect", Json::object());
  return {rect.value("x", 0.0), rect.value("y", 0.0), rect.value("width", 0.0),
          rect.value("height", 0.0)};
}

std::optional<Json> parsed(const std::optional<std::string>& payload) {
  if (!payload) return std::nullopt;
  Json json = Json::parse(*payload, nullptr, false);
  if (json.is_discarded()) return std::nullopt;
  return json;
}

std::string text(const Json& node, const char* key) {
  const auto found = node.find(key);
  return found != node.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// A window as sway names it, cleaned as the toplevel list cleans it, so that the two compare.
struct Match {
  const WaylandToplevels::Toplevel& toplevel;
  const Json* found = nullptr;
  bool foundFocused = false;

  void visit(const Json& node) {
    if (node.contains("app_id") || node.contains("window_properties")) {
      std::string appId = text(node, "app_id");
      if (appId.empty() && node.contains("window_properties")) {
        appId = text(node["window_properties"], "class");
      }
      const bool focused = node.value("focused", false);
      if (WaylandToplevels::cleaned(appId) == toplevel.appId &&
          WaylandToplevels::cleaned(text(node, "name")) == toplevel.title &&
          (!found || (focused && !foundFocused))) {
        found = &node;
        foundFocused = focused;
      }
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
      if (const auto list = node.find(children); list != node.end() && list->is_array()) {
        for (const Json& child : *list) visit(child);
      }
    }
  }
};

}  // namespace

WaylandWindowServer::Texts WaylandWindowServer::describe(const Means& means) {
  if (!means.connected) {
    return {"Keine Verbindung zum Wayland-Compositor – Varek neu starten",
            "keine Verbindung zum Compositor", "Braucht eine Verbindung zum Compositor"};
  }
  const std::string desktop = unicode::lowercase(means.desktop);
  if (!means.toplevels && desktop.find(kGnome) != std::string::npos) {
    return {"GNOME erlaubt Programmen keine Fensterliste", "von GNOME nicht erlaubt",
            "GNOME erlaubt Programmen kein Platzieren von Fenstern"};
  }
  // KWin hands its list only to programs whose installed desktop entry asks for it.
  if (!means.toplevels && desktop.find(kKde) != std::string::npos) {
    return {"KDE Plasma gibt die Fensterliste nur installierten Programmen – Varek als Paket "
            "installieren",
            "von KDE Plasma nicht freigegeben", "Braucht die Fensterliste von KDE Plasma"};
  }
  if (!means.toplevels) {
    return {
        "Der Compositor gibt keine Fensterliste heraus (wlr-foreign-toplevel-management) – "
        "z. B. sway, labwc oder Hyprland nutzen",
        "kein wlr-foreign-toplevel-management", "Braucht eine Fensterliste vom Compositor"};
  }
  if (!means.swayIpc && !means.placer) {
    return {"", "", "Fenster platzieren geht unter Wayland nur mit sway oder KDE Plasma"};
  }
  return {};
}

WaylandWindowServer::WaylandWindowServer(const WaylandConnection& connection,
                                         WaylandToplevels& toplevels, const Log* log,
                                         ScreenSource screens, Paste paste, Placer placer)
    : connection_(connection),
      toplevels_(toplevels),
      log_(log),
      screens_(std::move(screens)),
      paste_(std::move(paste)),
      placer_(std::move(placer)) {
  if (const char* socket = std::getenv("SWAYSOCK"); socket && *socket) {
    sway_ = std::make_unique<SwayIpc>(std::string(socket));
  }
}

WaylandWindowServer::~WaylandWindowServer() = default;

WaylandWindowServer::Means WaylandWindowServer::means() const {
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  bool sway = false;
  {
    const std::lock_guard lock(swayMutex_);
    sway = reconnectedSway();
  }
  return {.connected = connection_.state() == WaylandConnection::State::connected,
          .toplevels = toplevels_.available(),
          .swayIpc = sway,
          .placer = !sway && placer_.available && placer_.available(),
          .desktop = desktop ? desktop : ""};
}

bool WaylandWindowServer::reconnectedSway() const {
  if (!sway_) return false;
  // A request that failed closed the connection; sway may be back, or restarted.
  if (!sway_->connected()) sway_ = std::make_unique<SwayIpc>(sway_->socket());
  return sway_->connected();
}

bool WaylandWindowServer::isTrusted() const { return toplevels_.available(); }

void WaylandWindowServer::requestTrust() {
  if (isTrusted() || toldWhatIsMissing_ || !log_) return;
  toldWhatIsMissing_ = true;
  const Means now = means();
  log_->write(!now.connected
                  ? "windows: no Wayland compositor, so windows cannot be listed or moved"
                  : "windows: the compositor lists no windows (no "
                    "zwlr_foreign_toplevel_manager_v1 nor org_kde_plasma_window_management), so they "
                    "cannot be listed or "
                    "moved");
}

std::string WaylandWindowServer::unreachableReason() const { return describe(means()).reason; }

std::string WaylandWindowServer::unreachableCause() const { return describe(means()).cause; }

bool WaylandWindowServer::canPlaceWindows() const {
  const Means now = means();
  return now.toplevels && (now.swayIpc || now.placer);
}

std::string WaylandWindowServer::placementReason() const { return describe(means()).placement; }

std::vector<WindowServer::WindowInfo> WaylandWindowServer::windowsOf(int pid) const {
  std::vector<const WaylandToplevels::Toplevel*> mine;
  const auto snapshot = toplevels_.snapshot();
  for (const auto& toplevel : snapshot->toplevels) {
    if (WaylandWorkspace::applicationKey(toplevel) == pid) mine.push_back(&toplevel);
  }
  // Front to back: the one active last first, then those never active, newest first.
  std::stable_sort(mine.begin(), mine.end(), [](const auto* left, const auto* right) {
    return left->activation != right->activation ? left->activation > right->activation
                                                 : left->id > right->id;
  });
  std::vector<WindowInfo> windows;
  for (const auto* toplevel : mine) windows.push_back({toplevel->id, toplevel->title});
  return windows;
}

std::optional<WindowId> WaylandWindowServer::focusedWindow(int pid) const {
  const std::vector<WindowInfo> windows = windowsOf(pid);
  if (windows.empty()) return std::nullopt;
  return windows.front().id;
}

std::optional<std::string> WaylandWindowServer::askSway(SwayIpc::Message message) const {
  const std::lock_guard lock(swayMutex_);
  if (!reconnectedSway()) return std::nullopt;
  return sway_->request(message);
}

std::optional<std::pair<long long, Rect>> WaylandWindowServer::container(WindowId window) const {
  const auto snapshot = toplevels_.snapshot();
  const WaylandToplevels::Toplevel* toplevel = snapshot->find(window);
  if (!toplevel) return std::nullopt;
  const std::optional<Json> tree = parsed(askSway(SwayIpc::Message::getTree));
  if (!tree) return std::nullopt;
  Match match{*toplevel};
  match.visit(*tree);
  if (!match.found || !match.found->contains("id")) return std::nullopt;
  // sway leaves the title bar out of a container's rectangle and gives it apart; the
  // outer frame, as on X11, has it.
  Rect outer = rectOf(*match.found);
  const double titleBar = match.found->value("deco_rect", Json::object()).value("height", 0.0);
  outer.y -= titleBar;
  outer.height += titleBar;
  return std::pair{match.found->value("id", 0LL), outer};
}

std::optional<Rect> WaylandWindowServer::frame(WindowId window) const {
  const std::vector<ScreenArea> areas = screenAreas().areas;
  if (areas.empty()) return std::nullopt;
  if (const auto found = container(window)) return toDesktop(found->second, areas.front().frame);
  const auto snapshot = toplevels_.snapshot();
  const WaylandToplevels::Toplevel* toplevel = snapshot->find(window);
  if (!toplevel || !toplevel->frame) return std::nullopt;
  return toDesktop(*toplevel->frame, areas.front().frame);
}

void WaylandWindowServer::setFrame(WindowId window, Rect frame) {
  const std::vector<ScreenArea> areas = screenAreas().areas;
  if (areas.empty()) return;
  const Rect target = toLayout(frame, areas.front().frame);
  const auto found = container(window);
  if (!found) {
    const auto snapshot = toplevels_.snapshot();
    const WaylandToplevels::Toplevel* toplevel = snapshot->find(window);
    if (!toplevel || !placer_.place || !placer_.available || !placer_.available()) return;
    if (!placer_.place(toplevel->uuid, target) && log_) {
      log_->write("windows: KWin did not take the script that places the window");
    }
    return;
  }
  const std::string commands =
      "[con_id=" + std::to_string(found->first) + "] floating enable, resize set " +
      std::to_string(std::max(1L, std::lround(target.width))) + " " +
      std::to_string(std::max(1L, std::lround(target.height))) + ", move absolute position " +
      std::to_string(std::lround(target.x)) + " " + std::to_string(std::lround(target.y));
  const std::lock_guard lock(swayMutex_);
  if (reconnectedSway() && !sway_->command(commands) && log_) {
    log_->write("windows: sway did not place the window: " + sway_->error());
  }
}

void WaylandWindowServer::raise(WindowId window) { toplevels_.activate(window); }

WaylandWindowServer::Screens WaylandWindowServer::screenAreas() const {
  const std::optional<Json> outputs = parsed(askSway(SwayIpc::Message::getOutputs));
  if (!outputs || !outputs->is_array()) return {screens_ ? screens_() : std::vector<ScreenArea>{}};
  const std::optional<Json> workspaces = parsed(askSway(SwayIpc::Message::getWorkspaces));
  Screens screens;
  std::optional<std::size_t> focused;
  for (const Json& output : *outputs) {
    if (!output.is_object() || !output.value("active", false)) continue;
    ScreenArea area{rectOf(output), rectOf(output)};
    // The visible workspace's rectangle is the output less its bars and panels.
    if (workspaces && workspaces->is_array()) {
      for (const Json& workspace : *workspaces) {
        if (workspace.is_object() && workspace.value("visible", false) &&
            text(workspace, "output") == text(output, "name")) {
          area.visible = rectOf(workspace);
        }
      }
    }
    // sway has no primary output; the one at the layout's origin stands in for it.
    const bool atOrigin = area.frame.x == 0 && area.frame.y == 0;
    if (atOrigin) {
      screens.areas.insert(screens.areas.begin(), area);
      if (focused) ++*focused;
    } else {
      screens.areas.push_back(area);
    }
    if (output.value("focused", false)) focused = atOrigin ? 0 : screens.areas.size() - 1;
  }
  screens.focused = focused.value_or(0);
  return screens;
}

std::vector<ScreenInfo> WaylandWindowServer::screens() const {
  const std::vector<ScreenArea> areas = screenAreas().areas;
  std::vector<ScreenInfo> screens;
  for (const ScreenArea& area : areas) {
    screens.push_back(
        {toDesktop(area.frame, areas.front().frame), toDesktop(area.visible, areas.front().frame)});
  }
  return screens;
}

std::optional<ScreenInfo> WaylandWindowServer::mainScreen() const {
  const Screens screens = screenAreas();
  if (screens.areas.empty()) return std::nullopt;
  const ScreenArea& chosen = screens.areas[screens.focused];
  const Rect& primary = screens.areas.front().frame;
  return ScreenInfo{toDesktop(chosen.frame, primary), toDesktop(chosen.visible, primary)};
}

void WaylandWindowServer::postPaste() {
  if (paste_) paste_();
}

}  // namespace varek
