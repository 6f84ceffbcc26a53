#include "platform/wayland/wayland_toplevels.h"

#include <wayland-client.h>

#include <algorithm>
#include <cctype>

#include "search/unicode.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"
#ifdef VAREK_PLASMA_WINDOWS
#include "plasma-window-management-client.h"
#endif

namespace varek {
namespace {

// The version whose events the listener below handles (the parent event came with 3).
constexpr std::uint32_t kManagerVersion = 3;
// Only the seat object itself is needed, to name it in activate.
constexpr std::uint32_t kSeatVersion = 1;
#ifdef VAREK_PLASMA_WINDOWS
// KWin 5.27 speaks version 16; every event up to it has a handler below.
constexpr std::uint32_t kPlasmaVersion = 16;
// KWin's name for a window is a UUID; anything longer or with other characters is not one.
constexpr std::size_t kUuidCharacters = 64;

// The name without braces when it looks like a UUID, else empty: it is written into a
// script later, so nothing that could end a string there is kept.
std::string uuidOf(std::string_view text) {
  if (text.starts_with('{') && text.ends_with('}')) text = text.substr(1, text.size() - 2);
  const bool plain = !text.empty() && text.size() <= kUuidCharacters &&
                     std::all_of(text.begin(), text.end(), [](char each) {
                       return std::isxdigit(static_cast<unsigned char>(each)) || each == '-';
                     });
  return plain ? std::string(text) : std::string();
}

// For the events this backend does not follow.
template <typename... Arguments>
void ignore(void*, Arguments...) {}
#endif

}  // namespace

// One toplevel: what the compositor said so far, and what its next done makes current.
struct WaylandToplevels::Handle {
  WaylandToplevels* owner = nullptr;
  zwlr_foreign_toplevel_handle_v1* proxy = nullptr;
  org_kde_plasma_window* window = nullptr;  // KWin's instead of proxy
  std::uint32_t kwinId = 0;
  Toplevel current;
  Toplevel pending;
  bool complete = false;  // its whole first state has come
  bool skipped = false;   // KWin: kept out of task bars (panels, the desktop itself)
  bool shown = false;     // complete, and listed

  void commit() {
    if (pending.activated && !current.activated) pending.activation = ++owner->activations_;
    current = pending;
    shown = complete && !skipped;
    owner->publish();
  }

  static void onTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
    static_cast<Handle*>(data)->pending.title = cleaned(title ? title : "");
  }
  static void onAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
    static_cast<Handle*>(data)->pending.appId = cleaned(appId ? appId : "");
  }
  static void onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
  static void onState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
    Toplevel& pending = static_cast<Handle*>(data)->pending;
    pending.activated = pending.minimized = pending.maximized = pending.fullscreen = false;
    const auto* state = static_cast<const std::uint32_t*>(states->data);
    for (std::size_t index = 0; index < states->size / sizeof(std::uint32_t); ++index) {
      switch (state[index]) {
        case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED:
          pending.activated = true;
          break;
        case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED:
          pending.minimized = true;
          break;
        case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MAXIMIZED:
          pending.maximized = true;
          break;
        case ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_FULLSCREEN:
          pending.fullscreen = true;
          break;
      }
    }
  }
  static void onDone(void* data, zwlr_foreign_toplevel_handle_v1*) {
    Handle& handle = *static_cast<Handle*>(data);
    handle.complete = true;
    handle.commit();
  }
  static void onClosed(void* data, zwlr_foreign_toplevel_handle_v1*) { remove(data); }
  static void remove(void* data) {
    Handle* handle = static_cast<Handle*>(data);
    WaylandToplevels& owner = *handle->owner;
    std::erase_if(owner.handles_, [handle](const auto& each) { return each.get() == handle; });
    owner.publish();
  }
  static void onParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

  static constexpr zwlr_foreign_toplevel_handle_v1_listener kListener{
      .title = onTitle,
      .app_id = onAppId,
      .output_enter = onOutput,
      .output_leave = onOutput,
      .state = onState,
      .done = onDone,
      .closed = onClosed,
      .parent = onParent,
  };

  ~Handle() {
    if (proxy) zwlr_foreign_toplevel_handle_v1_destroy(proxy);
#ifdef VAREK_PLASMA_WINDOWS
    if (window && wl_proxy_get_version(reinterpret_cast<wl_proxy*>(window)) >=
                      ORG_KDE_PLASMA_WINDOW_DESTROY_SINCE_VERSION) {
      org_kde_plasma_window_destroy(window);
    } else if (window) {
      wl_proxy_destroy(reinterpret_cast<wl_proxy*>(window));
    }
#endif
  }
};

#ifdef VAREK_PLASMA_WINDOWS
// KWin sends each change on its own, without a done: once a window's first state is whole,
// every event makes it current.
struct WaylandToplevels::Plasma {
  static Handle& of(void* data) { return *static_cast<Handle*>(data); }
  static void changed(Handle& handle) {
    if (handle.complete) handle.commit();
  }
  static void onTitle(void* data, org_kde_plasma_window*, const char* title) {
    of(data).pending.title = cleaned(title ? title : "");
    changed(of(data));
  }
  static void onAppId(void* data, org_kde_plasma_window*, const char* appId) {
    of(data).pending.appId = cleaned(appId ? appId : "");
    changed(of(data));
  }
  static void onState(void* data, org_kde_plasma_window*, std::uint32_t flags) {
    Toplevel& pending = of(data).pending;
    pending.activated = flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE;
    pending.minimized = flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED;
    pending.maximized = flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MAXIMIZED;
    pending.fullscreen = flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_FULLSCREEN;
    of(data).skipped = flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_SKIPTASKBAR;
    changed(of(data));
  }
  static void onGeometry(void* data, org_kde_plasma_window*, std::int32_t x, std::int32_t y,
                         std::uint32_t width, std::uint32_t height) {
    of(data).pending.frame = Rect{static_cast<double>(x), static_cast<double>(y),
                                  static_cast<double>(width), static_cast<double>(height)};
    changed(of(data));
  }
  static void onUnmapped(void* data, org_kde_plasma_window*) { Handle::remove(data); }
  static void onInitialState(void* data, org_kde_plasma_window*) {
    of(data).complete = true;
    of(data).commit();
  }

  static constexpr org_kde_plasma_window_listener kWindowListener{
      .title_changed = onTitle,
      .app_id_changed = onAppId,
      .state_changed = onState,
      .virtual_desktop_changed = ignore,
      .themed_icon_name_changed = ignore,
      .unmapped = onUnmapped,
      .initial_state = onInitialState,
      .parent_window = ignore,
      .geometry = onGeometry,
      .icon_changed = ignore,
      .pid_changed = ignore,
      .virtual_desktop_entered = ignore,
      .virtual_desktop_left = ignore,
      .application_menu = ignore,
      .activity_entered = ignore,
      .activity_left = ignore,
      .resource_name_changed = ignore,
  };

  // KWin announces a window once, by number and (since version 13) by UUID as well.
  static void add(WaylandToplevels& owner, std::uint32_t kwinId, const char* uuid) {
    for (const auto& each : owner.handles_) {
      if (each->kwinId == kwinId) return;
    }
    const std::uint32_t version = wl_proxy_get_version(reinterpret_cast<wl_proxy*>(owner.plasma_));
    auto handle = std::make_unique<Handle>();
    handle->owner = &owner;
    handle->kwinId = kwinId;
    handle->window =
        uuid && version >= ORG_KDE_PLASMA_WINDOW_MANAGEMENT_GET_WINDOW_BY_UUID_SINCE_VERSION
            ? org_kde_plasma_window_management_get_window_by_uuid(owner.plasma_, uuid)
            : org_kde_plasma_window_management_get_window(owner.plasma_, kwinId);
    handle->pending.id = owner.nextId_++;
    handle->pending.uuid = uuidOf(uuid ? uuid : "");
    // Before version 4 nothing marks the first state as whole.
    handle->complete = version < ORG_KDE_PLASMA_WINDOW_INITIAL_STATE_SINCE_VERSION;
    org_kde_plasma_window_add_listener(handle->window, &kWindowListener, handle.get());
    owner.handles_.push_back(std::move(handle));
  }
  static void onWindow(void* data, org_kde_plasma_window_management*, std::uint32_t id) {
    add(*static_cast<WaylandToplevels*>(data), id, nullptr);
  }
  static void onWindowWithUuid(void* data, org_kde_plasma_window_management*, std::uint32_t id,
                               const char* uuid) {
    add(*static_cast<WaylandToplevels*>(data), id, uuid);
  }

  static constexpr org_kde_plasma_window_management_listener kListener{
      .show_desktop_changed = ignore,
      .window = onWindow,
      .stacking_order_changed = ignore,
      .stacking_order_uuid_changed = ignore,
      .window_with_uuid = onWindowWithUuid,
  };
};
#endif

const WaylandToplevels::Toplevel* WaylandToplevels::Snapshot::find(std::uint64_t id) const {
  const auto found = std::find_if(toplevels.begin(), toplevels.end(),
                                  [id](const Toplevel& toplevel) { return toplevel.id == id; });
  return found == toplevels.end() ? nullptr : &*found;
}

const WaylandToplevels::Toplevel* WaylandToplevels::Snapshot::previous() const {
  const Toplevel* latest = nullptr;
  for (const Toplevel& toplevel : toplevels) {
    if (toplevel.appId != kOwnAppId && toplevel.activation > 0 &&
        (!latest || toplevel.activation > latest->activation)) {
      latest = &toplevel;
    }
  }
  return latest;
}

WaylandToplevels::WaylandToplevels(WaylandConnection& connection)
    : connection_(connection), published_(std::make_shared<const Snapshot>()) {
  manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
      connection_.bind(WaylandConnection::Capability::foreignToplevel,
                       &zwlr_foreign_toplevel_manager_v1_interface, kManagerVersion));
  if (!manager_) {
    bindPlasma();
    return;
  }
  seat_ = static_cast<wl_seat*>(
      connection_.bind(WaylandConnection::Capability::seat, &wl_seat_interface, kSeatVersion));
  static constexpr zwlr_foreign_toplevel_manager_v1_listener listener{
      .toplevel = &WaylandToplevels::onToplevel,
      .finished = &WaylandToplevels::onFinished,
  };
  zwlr_foreign_toplevel_manager_v1_add_listener(manager_, &listener, this);
  {
    const std::lock_guard lock(mutex_);
    available_ = true;
  }
  // The compositor announces every toplevel at once; after one round trip the list is whole.
  connection_.roundtrip();
  checkConnection();
}

void WaylandToplevels::bindPlasma() {
#ifdef VAREK_PLASMA_WINDOWS
  plasma_ = static_cast<org_kde_plasma_window_management*>(
      connection_.bind(WaylandConnection::Capability::plasmaWindows,
                       &org_kde_plasma_window_management_interface, kPlasmaVersion));
  if (!plasma_) return;
  org_kde_plasma_window_management_add_listener(plasma_, &Plasma::kListener, this);
  {
    const std::lock_guard lock(mutex_);
    available_ = true;
  }
  // The first round trip brings the windows, the second the state of each.
  connection_.roundtrip();
  connection_.roundtrip();
  checkConnection();
#endif
}

WaylandToplevels::~WaylandToplevels() {
  handles_.clear();
  if (plasma_) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(plasma_));
  if (manager_) {
    if (connection_.state() == WaylandConnection::State::connected) {
      zwlr_foreign_toplevel_manager_v1_stop(manager_);
    }
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(manager_));
  }
  if (seat_) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(seat_));
  if (connection_.display()) wl_display_flush(connection_.display());
}

bool WaylandToplevels::available() const {
  const std::lock_guard lock(mutex_);
  return available_;
}

std::shared_ptr<const WaylandToplevels::Snapshot> WaylandToplevels::snapshot() const {
  const std::lock_guard lock(mutex_);
  return published_;
}

void WaylandToplevels::activate(std::uint64_t id) {
  Handle* target = handle(id);
#ifdef VAREK_PLASMA_WINDOWS
  if (target && target->window) {
    // Shown as well, when minimized.
    org_kde_plasma_window_set_state(
        target->window,
        ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE | ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_MINIMIZED,
        ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE);
    send();
    return;
  }
#endif
  if (!target || !seat_) return;
  zwlr_foreign_toplevel_handle_v1_activate(target->proxy, seat_);
  send();
}

void WaylandToplevels::close(std::uint64_t id) {
  Handle* target = handle(id);
  if (!target) return;
#ifdef VAREK_PLASMA_WINDOWS
  if (target->window) org_kde_plasma_window_close(target->window);
#endif
  if (target->proxy) zwlr_foreign_toplevel_handle_v1_close(target->proxy);
  send();
}

void WaylandToplevels::checkConnection() {
  if (connection_.state() == WaylandConnection::State::connected || (!manager_ && !plasma_)) {
    return;
  }
  clear();
}

std::string WaylandToplevels::cleaned(std::string_view text) {
  // Only the bytes that can make up the characters kept are decoded: a title of megabytes
  // costs no more than one of a few hundred characters.
  const std::string_view head = text.substr(0, kTextCharacters * unicode::kMostBytesPerCharacter);
  const std::string valid = unicode::utf8(unicode::scalars(head));
  return std::string(unicode::leadingCharacters(valid, kTextCharacters));
}

void WaylandToplevels::onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                                  zwlr_foreign_toplevel_handle_v1* proxy) {
  WaylandToplevels& owner = *static_cast<WaylandToplevels*>(data);
  auto handle = std::make_unique<Handle>();
  handle->owner = &owner;
  handle->proxy = proxy;
  handle->pending.id = owner.nextId_++;
  zwlr_foreign_toplevel_handle_v1_add_listener(proxy, &Handle::kListener, handle.get());
  owner.handles_.push_back(std::move(handle));
}

void WaylandToplevels::onFinished(void* data, zwlr_foreign_toplevel_manager_v1*) {
  static_cast<WaylandToplevels*>(data)->clear();
}

void WaylandToplevels::publish() {
  auto fresh = std::make_shared<Snapshot>();
  for (const auto& handle : handles_) {
    if (handle->shown) fresh->toplevels.push_back(handle->current);
  }
  const std::lock_guard lock(mutex_);
  published_ = std::move(fresh);
}

// The compositor stopped listing, or went away: nothing listed is reachable any more.
void WaylandToplevels::clear() {
  handles_.clear();
  if (manager_) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(manager_));
  if (plasma_) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(plasma_));
  manager_ = nullptr;
  plasma_ = nullptr;
  const std::lock_guard lock(mutex_);
  available_ = false;
  published_ = std::make_shared<const Snapshot>();
}

WaylandToplevels::Handle* WaylandToplevels::handle(std::uint64_t id) const {
  for (const auto& each : handles_) {
    if (each->shown && each->current.id == id) return each.get();
  }
  return nullptr;
}

void WaylandToplevels::send() {
  if (connection_.display()) wl_display_flush(connection_.display());
}

}  // namespace varek
