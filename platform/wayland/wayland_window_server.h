// The windows of other applications on a Wayland desktop: listed, focused and closed through
// the compositor's window list; measured and placed through sway's IPC, or on KDE Plasma
// through the frames KWin lists and a placer that asks KWin (its scripting), since Wayland
// lets no client move another's window; the screens from sway's outputs, else the toolkit's. What is
// out of reach on this desktop, and why, it says in German.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log.h"
#include "platform/wayland/sway_ipc.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_toplevels.h"
#include "platform/window_server.h"

namespace varek {

class WaylandWindowServer : public WindowServer {
 public:
  // A rectangle in the compositor's layout: origin at the top-left, y down.
  struct ScreenArea {
    Rect frame, visible;
  };
  // The screens as the toolkit sees them, the primary one first; asked only without sway.
  using ScreenSource = std::function<std::vector<ScreenArea>()>;
  // Types the paste shortcut into the focused window; false when it could not.
  using Paste = std::function<bool()>;
  // Moves a window where sway is missing: whether the desktop's means is there now, and a
  // request for the window KWin knows by this UUID (the active one when it knows none) to
  // take this outer frame in the compositor's layout; false when it could not be asked.
  struct Placer {
    std::function<bool()> available;
    std::function<bool(const std::string& uuid, Rect frame)> place;
  };

  // What this desktop offers, which decides what is said about what it lacks.
  struct Means {
    bool connected = false;    // to the compositor
    bool toplevels = false;    // it lists its windows to us
    bool swayIpc = false;      // sway answers on SWAYSOCK
    bool placer = false;       // else another placer (KWin's scripting) answers
    std::string_view desktop;  // XDG_CURRENT_DESKTOP
  };
  struct Texts {
    std::string reason;     // unreachableReason()
    std::string cause;      // unreachableCause()
    std::string placement;  // placementReason()
  };
  static Texts describe(const Means& means);

  // The log, when given, hears once why windows cannot be used. sway's IPC is used when
  // SWAYSOCK names its socket.
  WaylandWindowServer(const WaylandConnection& connection, WaylandToplevels& toplevels,
                      const Log* log = nullptr, ScreenSource screens = {}, Paste paste = {},
                      Placer placer = {});
  ~WaylandWindowServer() override;

  // True while the compositor lists its windows: there is no permission to ask for.
  bool isTrusted() const override;
  // There is no prompt to show; this only logs, once, what is missing.
  void requestTrust() override;
  std::string unreachableReason() const override;
  std::string unreachableCause() const override;
  bool canPlaceWindows() const override;
  std::string placementReason() const override;

  // The pid is the workspace's application key (WaylandWorkspace::applicationKey); a
  // window id is the toplevel's id.
  std::vector<WindowInfo> windowsOf(int pid) const override;
  std::optional<WindowId> focusedWindow(int pid) const override;
  // On sway the window is found in its tree by app id and title. Two windows alike in both
  // cannot be told apart there; the focused one is taken then, else the first in the tree.
  // Elsewhere the frame KWin said last.
  std::optional<Rect> frame(WindowId window) const override;
  // On sway the window floats and takes exactly this outer frame; elsewhere the placer is
  // asked, and without one nothing moves.
  void setFrame(WindowId window, Rect frame) override;
  // Activates the toplevel.
  void raise(WindowId window) override;

  // sway's active outputs, each with the area its visible workspace leaves to windows.
  std::vector<ScreenInfo> screens() const override;
  // sway's focused output; without sway, the primary screen.
  std::optional<ScreenInfo> mainScreen() const override;

  // Only with a virtual keyboard: GNOME and KDE offer none to programs.
  bool canPaste() const override { return static_cast<bool>(paste_); }
  void postPaste() override;

 private:
  Means means() const;
  // The screens in the compositor's layout, the primary one first, and the focused one.
  struct Screens {
    std::vector<ScreenArea> areas;
    std::size_t focused = 0;
  };
  Screens screenAreas() const;
  // sway's id of the toplevel's container, and its rectangle in the layout.
  std::optional<std::pair<long long, Rect>> container(WindowId window) const;
  std::optional<std::string> askSway(SwayIpc::Message message) const;
  // Whether sway answers, connecting afresh when the last request broke the connection;
  // called with swayMutex_ held.
  bool reconnectedSway() const;

  const WaylandConnection& connection_;
  WaylandToplevels& toplevels_;
  const Log* log_;
  ScreenSource screens_;
  Paste paste_;
  Placer placer_;
  bool toldWhatIsMissing_ = false;

  mutable std::mutex swayMutex_;
  mutable std::unique_ptr<SwayIpc> sway_;  // null without SWAYSOCK
};

}  // namespace varek
