#include "platform/wayland/wayland_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace varek {

namespace {

struct CapabilityInterface {
  WaylandConnection::Capability capability;
  std::string_view interface;
};

constexpr CapabilityInterface kInterfaces[] = {
    {WaylandConnection::Capability::dataControl, "zwlr_data_control_manager_v1"},
    {WaylandConnection::Capability::foreignToplevel, "zwlr_foreign_toplevel_manager_v1"},
    {WaylandConnection::Capability::plasmaWindows, "org_kde_plasma_window_management"},
    {WaylandConnection::Capability::virtualKeyboard, "zwp_virtual_keyboard_manager_v1"},
    {WaylandConnection::Capability::activation, "xdg_activation_v1"},
    {WaylandConnection::Capability::layerShell, "zwlr_layer_shell_v1"},
    {WaylandConnection::Capability::seat, "wl_seat"},
};

// The socket of a display name the way libwayland resolves it: an absolute path as it is,
// anything else inside XDG_RUNTIME_DIR. Empty when it cannot be resolved.
std::string socketPath(const std::string& display) {
  if (display.starts_with('/')) return display;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || runtime[0] != '/') return {};
  return std::string(runtime) + "/" + display;
}

// Connects a socket of our own rather than through wl_display_connect(), which takes over
// a WAYLAND_SOCKET handed to this process whatever display it is asked for. Returns the
// descriptor, or -1 with errno set.
int connectSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    errno = path.empty() ? ENOENT : ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

void markDone(void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }
constexpr wl_callback_listener kSyncListener = {.done = markDone};

}  // namespace

WaylandConnection::WaylandConnection(const std::optional<std::string>& display,
                                     std::chrono::milliseconds registryWait) {
  std::string name = display.value_or("");
  if (!display) {
    if (const char* variable = std::getenv("WAYLAND_DISPLAY")) name = variable;
  }
  if (name.empty()) {
    error_ = std::make_error_code(std::errc::no_such_device);
    return;
  }
  const int fd = connectSocket(socketPath(name));
  if (fd < 0) {
    error_ = std::error_code(errno, std::system_category());
    return;
  }
  // The display owns the descriptor from here on, and has closed it if it failed.
  display_ = wl_display_connect_to_fd(fd);
  if (display_ == nullptr) {
    error_ = std::error_code(errno, std::system_category());
    return;
  }

  static constexpr wl_registry_listener kRegistryListener = {.global = announce,
                                                             .global_remove = withdraw};
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &kRegistryListener, this);
  state_ = State::connected;
  synced(registryWait, State::absent);
  if (state_ != State::connected) {
    wl_registry_destroy(registry_);
    registry_ = nullptr;
    wl_display_disconnect(display_);
    display_ = nullptr;
    globals_.clear();
  }
}

WaylandConnection::~WaylandConnection() {
  if (registry_ != nullptr) wl_registry_destroy(registry_);
  if (display_ != nullptr) wl_display_disconnect(display_);
}

std::string_view WaylandConnection::interfaceName(Capability capability) {
  for (const CapabilityInterface& entry : kInterfaces) {
    if (entry.capability == capability) return entry.interface;
  }
  return {};
}

std::uint32_t WaylandConnection::offeredVersion(Capability capability) const {
  const std::string_view interface = interfaceName(capability);
  std::uint32_t version = 0;
  // A compositor may announce an interface more than once (wl_seat per seat).
  for (const Global& global : globals_) {
    if (global.interface == interface) version = std::max(version, global.version);
  }
  return version;
}

void* WaylandConnection::bind(Capability capability, const wl_interface* interface,
                              std::uint32_t maxVersion) {
  if (state_ != State::connected) return nullptr;
  const std::string_view name = interfaceName(capability);
  const std::uint32_t version = boundVersion(capability, maxVersion);
  for (const Global& global : globals_) {
    if (global.interface == name && version > 0) {
      return wl_registry_bind(registry_, global.name, interface, version);
    }
  }
  return nullptr;
}

bool WaylandConnection::roundtrip(std::chrono::milliseconds wait) {
  return state_ == State::connected && synced(wait, State::lost);
}

// A round trip of our own, since wl_display_roundtrip() would wait without a bound.
bool WaylandConnection::synced(std::chrono::milliseconds wait, State onFailure) {
  bool done = false;
  wl_callback* sync = wl_display_sync(display_);
  wl_callback_add_listener(sync, &kSyncListener, &done);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (!done && state_ == State::connected) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      // A slow answer after a timeout must not write into this frame's flag.
      wl_callback_destroy(sync);
      if (onFailure == State::absent) fail(onFailure, ETIMEDOUT);
      return false;
    }
    if (!pump(static_cast<int>(left.count()))) fail(onFailure, wl_display_get_error(display_));
  }
  wl_callback_destroy(sync);
  return done;
}

int WaylandConnection::fd() const {
  return state_ == State::connected ? wl_display_get_fd(display_) : -1;
}

WaylandConnection::State WaylandConnection::update() {
  if (state_ == State::connected && !pump(0)) fail(State::lost, wl_display_get_error(display_));
  return state_;
}

// One turn of libwayland's reading protocol, safe beside other threads that read the same
// display: send, wait up to timeoutMs for data, read it, handle it. False on a broken
// connection.
bool WaylandConnection::pump(int timeoutMs) {
  while (wl_display_prepare_read(display_) != 0) {
    if (wl_display_dispatch_pending(display_) < 0) return false;
  }
  // A full socket buffer (EAGAIN) is sent on the next turn. A closed one (EPIPE) is read on:
  // the compositor may have said why before it closed.
  if (wl_display_flush(display_) < 0 && errno != EAGAIN && errno != EPIPE) {
    wl_display_cancel_read(display_);
    return false;
  }
  pollfd watched = {.fd = wl_display_get_fd(display_), .events = POLLIN, .revents = 0};
  const int ready = poll(&watched, 1, timeoutMs);
  if (ready <= 0) {
    wl_display_cancel_read(display_);
    return ready == 0 || errno == EINTR;
  }
  if (wl_display_read_events(display_) < 0) return false;
  return wl_display_dispatch_pending(display_) >= 0;
}

void WaylandConnection::fail(State state, int error) {
  state_ = state;
  // libwayland reports a protocol error with EPROTO; a vanished compositor as EPIPE or
  // ECONNRESET. Without a code the connection still broke.
  error_ = std::error_code(error != 0 ? error : EPIPE, std::system_category());
}

void WaylandConnection::announce(void* data, wl_registry*, std::uint32_t name,
                                 const char* interface, std::uint32_t version) {
  static_cast<WaylandConnection*>(data)->globals_.push_back(
      {.interface = interface, .name = name, .version = version});
}

void WaylandConnection::withdraw(void* data, wl_registry*, std::uint32_t name) {
  std::erase_if(static_cast<WaylandConnection*>(data)->globals_,
                [name](const Global& global) { return global.name == name; });
}

}  // namespace varek
