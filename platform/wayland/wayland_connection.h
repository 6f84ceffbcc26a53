// The Wayland backend's own connection to the compositor, apart from the one Qt keeps for
// the panel: which of the protocols the launcher relies on the compositor offers, and the
// file descriptor an event loop watches. Plain C++ over libwayland-client.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

struct wl_display;
struct wl_interface;
struct wl_registry;

namespace varek {

class WaylandConnection {
 public:
  // The protocols the backend's features rest on; each names one global of the registry.
  enum class Capability {
    dataControl,      // clipboard history and copying without focus
    foreignToplevel,  // other applications' windows: list, activate, close
    plasmaWindows,    // the same on KDE Plasma, for clients its desktop entry allows
    virtualKeyboard,  // typing the paste shortcut into another window
    activation,       // passing focus on with an activation token
    layerShell,       // surfaces above ordinary windows
    seat,             // the keyboard that data control and the virtual keyboard act for
  };

  enum class State {
    absent,     // no display named, or none answered: error() says why
    connected,  // the registry has been read
    lost,       // the compositor went away or closed the connection: error() says why
  };

  struct Global {
    std::string interface;
    std::uint32_t name = 0;
    std::uint32_t version = 0;
  };

  // A compositor answers the registry within milliseconds; one silent for this long is
  // hung, and the launcher goes on without it rather than hang with it.
  static constexpr std::chrono::milliseconds kRegistryWait{5000};

  // Connects to this display, else to the one WAYLAND_DISPLAY names: a socket name in
  // XDG_RUNTIME_DIR or an absolute path. Never guesses a display when none is named, and
  // ignores WAYLAND_SOCKET, which belongs to the toolkit's connection. Reads the registry
  // once before returning, waiting at most registryWait for it.
  explicit WaylandConnection(const std::optional<std::string>& display = std::nullopt,
                             std::chrono::milliseconds registryWait = kRegistryWait);
  ~WaylandConnection();
  WaylandConnection(const WaylandConnection&) = delete;
  WaylandConnection& operator=(const WaylandConnection&) = delete;

  State state() const { return state_; }
  // Why the connection is absent or lost; empty while connected.
  std::error_code error() const { return error_; }

  // The global's interface name in the registry, e.g. "zwlr_data_control_manager_v1".
  static std::string_view interfaceName(Capability capability);
  // The highest version of the capability's global that the compositor offers, 0 for none.
  std::uint32_t offeredVersion(Capability capability) const;
  bool offers(Capability capability) const { return offeredVersion(capability) > 0; }
  // Every global the compositor offers now, in the order it announced them.
  const std::vector<Global>& globals() const { return globals_; }

  // Binds the capability's global (the first one announced) in the lower of the offered
  // version and maxVersion; the proxy is cast by the caller to the protocol's type. Null
  // unless connected and offered.
  void* bind(Capability capability, const wl_interface* interface, std::uint32_t maxVersion);
  // The version that bind() gives for this capability and maxVersion.
  std::uint32_t boundVersion(Capability capability, std::uint32_t maxVersion) const {
    return std::min(offeredVersion(capability), maxVersion);
  }
  // For the protocol objects made from the bound globals; null unless connected.
  wl_display* display() const { return state_ == State::connected ? display_ : nullptr; }
  // Waits, at most this long, until the compositor has answered every request sent before
  // and their events are handled; false on a broken connection or a timeout.
  bool roundtrip(std::chrono::milliseconds wait = kRegistryWait);

  // For an event loop to watch for reading; -1 unless connected.
  int fd() const;
  // Sends the requests made so far and handles the events that have arrived, without
  // waiting for more. The event loop calls it when fd() is readable. Returns the state
  // afterwards: lost once the compositor has gone, and from then on.
  State update();

 private:
  static void announce(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
  static void withdraw(void* data, wl_registry* registry, std::uint32_t name);
  bool pump(int timeoutMs);
  // The answer to a sync sent now, handled within wait; the state tells a failure apart.
  bool synced(std::chrono::milliseconds wait, State onFailure);
  void fail(State state, int error);

  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  State state_ = State::absent;
  std::error_code error_;
  std::vector<Global> globals_;
};

}  // namespace varek
