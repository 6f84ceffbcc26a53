// The other applications' windows (toplevels) as the compositor lists them through
// zwlr_foreign_toplevel_manager_v1, or on KDE Plasma through KWin's
// org_kde_plasma_window_management: title, app id, states and the order in which they
// appeared, kept current by the connection's events on the main thread and read from any
// thread without asking the compositor. Titles and app ids come from other programs, so
// they are bounded and made valid UTF-8 here.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/geometry.h"
#include "platform/wayland/wayland_connection.h"

struct org_kde_plasma_window;
struct org_kde_plasma_window_management;
struct wl_seat;
struct zwlr_foreign_toplevel_handle_v1;
struct zwlr_foreign_toplevel_manager_v1;

namespace varek {

class WaylandToplevels {
 public:
  // Our own panel's app id: never "the application you came from".
  static constexpr std::string_view kOwnAppId = "zz.orvel.varek";
  // A title or app id keeps this many characters, as on X11: far more than a row shows,
  // and few enough that a hostile window cannot make every search slow.
  static constexpr std::size_t kTextCharacters = 256;

  struct Toplevel {
    std::uint64_t id = 0;  // ours, from 1 up, never reused
    std::string title;     // may be empty
    std::string appId;     // may be empty
    bool activated = false;
    bool minimized = false;
    bool maximized = false;
    bool fullscreen = false;
    std::uint64_t activation = 0;  // higher for a later activation; 0 when never activated
    // Only KWin says these: its own name for the window (letters, digits and dashes only),
    // and the outer frame in the compositor's layout (origin top-left, y down).
    std::string uuid;
    std::optional<Rect> frame;
  };

  struct Snapshot {
    std::vector<Toplevel> toplevels;  // in the order they appeared, oldest first
    const Toplevel* find(std::uint64_t id) const;
    // The toplevel activated last that is not our own panel, still open: the window the
    // user came from when the panel has focus.
    const Toplevel* previous() const;
  };

  // Binds the wlroots manager (up to version 3) and the seat, else KWin's window management,
  // and reads the first list with one round trip. Without either every list stays empty.
  explicit WaylandToplevels(WaylandConnection& connection);
  ~WaylandToplevels();
  WaylandToplevels(const WaylandToplevels&) = delete;
  WaylandToplevels& operator=(const WaylandToplevels&) = delete;

  // Whether the compositor lists its windows to us now.
  bool available() const;
  // The list as it is now; callable on any thread.
  std::shared_ptr<const Snapshot> snapshot() const;

  // Asks the compositor to focus the toplevel (and show it, when minimized). On the
  // connection's thread, as the two below.
  void activate(std::uint64_t id);
  // Asks the toplevel to close, as its close button would.
  void close(std::uint64_t id);

  // The owner calls this after the connection's update(): once the compositor has gone,
  // the list empties and stays empty.
  void checkConnection();

  // A title or app id from another program, valid UTF-8 and at most kTextCharacters long.
  static std::string cleaned(std::string_view text);

 private:
  struct Handle;
  // KWin's windows, where the wlroots list is missing.
  struct Plasma;
  void bindPlasma();
  static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1* manager,
                         zwlr_foreign_toplevel_handle_v1* handle);
  static void onFinished(void* data, zwlr_foreign_toplevel_manager_v1* manager);
  void publish();
  void clear();
  Handle* handle(std::uint64_t id) const;
  void send();

  WaylandConnection& connection_;
  zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
  wl_seat* seat_ = nullptr;
  org_kde_plasma_window_management* plasma_ = nullptr;
  // Main thread only.
  std::vector<std::unique_ptr<Handle>> handles_;
  std::uint64_t nextId_ = 1;
  std::uint64_t activations_ = 0;

  mutable std::mutex mutex_;
  std::shared_ptr<const Snapshot> published_;
  bool available_ = false;
};

}  // namespace varek
