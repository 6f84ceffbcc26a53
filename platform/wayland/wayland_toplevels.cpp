#include "platform/wayland/wayland_toplevels.h"

#include <wayland-client.h>

#include <algorithm>

#include "search/unicode.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

namespace varek {
namespace {

// The version whose events the listener below handles (the parent event came with 3).
constexpr std::uint32_t kManagerVersion = 3;
// Only the seat object itself is needed, to name it in activate.
constexpr std::uint32_t kSeatVersion = 1;

}  // namespace

// One toplevel: what the compositor said so far, and what its next done makes current.
struct WaylandToplevels::Handle {
  WaylandToplevels* owner = nullptr;
  zwlr_foreign_toplevel_handle_v1* proxy = nullptr;
  Toplevel current;
  Toplevel pending;
  bool shown = false;  // the first done has come: the toplevel is complete and listed

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
    if (handle.pending.activated && !handle.current.activated) {
      handle.pending.activation = ++handle.owner->activations_;
    }
    handle.current = handle.pending;
    handle.shown = true;
    handle.owner->publish();
  }
  static void onClosed(void* data, zwlr_foreign_toplevel_handle_v1*) {
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
  }
};

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
  if (!manager_) return;
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

WaylandToplevels::~WaylandToplevels() {
  handles_.clear();
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
  if (!target || !seat_) return;
  zwlr_foreign_toplevel_handle_v1_activate(target->proxy, seat_);
  send();
}

void WaylandToplevels::close(std::uint64_t id) {
  Handle* target = handle(id);
  if (!target) return;
  zwlr_foreign_toplevel_handle_v1_close(target->proxy);
  send();
}

void WaylandToplevels::checkConnection() {
  if (connection_.state() == WaylandConnection::State::connected || !manager_) return;
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
  manager_ = nullptr;
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
