// The windows of other applications on an X11 desktop with an EWMH window manager: listed
// from the desktop's cache, measured and placed through the window manager, and the paste
// shortcut typed through XTest. Rectangles become bottom-left desktop coordinates here.
#pragma once

#include <functional>
#include <vector>

#include "platform/log.h"
#include "platform/window_server.h"
#include "platform/x11/x11_desktop.h"

namespace varek {

class X11WindowServer : public WindowServer {
 public:
  // A rectangle in X's own coordinates: origin at the root window's top-left, y down.
  struct Area {
    double x = 0, y = 0, width = 0, height = 0;
    bool contains(double pointX, double pointY) const {
      return pointX >= x && pointX < x + width && pointY >= y && pointY < y + height;
    }
  };
  struct ScreenArea {
    Area frame, visible;
  };
  // The screens as the toolkit sees them, the primary one first; empty where it sees none
  // (qt_screens.h). Without it, the root window is the one screen.
  using ScreenSource = std::function<std::vector<ScreenArea>()>;

  // The log, when given, hears once why windows cannot be used.
  explicit X11WindowServer(X11Desktop& desktop, const Log* log = nullptr,
                           ScreenSource screens = {});

  // X11 has no permission for this: whoever reaches the display may read and move every
  // window. What can be missing is the display or a window manager that speaks EWMH.
  bool isTrusted() const override;
  // There is no prompt to show; this only logs, once, what is missing.
  void requestTrust() override;
  std::string unreachableReason() const override;
  std::string unreachableCause() const override;
  // Wherever windows can be read, the window manager also places them.
  bool canPlaceWindows() const override { return isTrusted(); }
  std::string placementReason() const override;

  // The pid is the workspace's application key (X11Desktop::applicationKey), which is
  // negative for windows that name no process. Normal windows only: a desktop or dock
  // window of the same process is no place to go.
  std::vector<WindowInfo> windowsOf(int pid) const override;
  std::optional<WindowId> focusedWindow(int pid) const override;
  std::optional<Rect> frame(WindowId window) const override;
  void setFrame(WindowId window, Rect frame) override;
  void raise(WindowId window) override;

  std::vector<ScreenInfo> screens() const override;
  std::optional<ScreenInfo> mainScreen() const override;

  bool canPaste() const override { return isTrusted(); }
  void postPaste() override;

 private:
  X11Desktop& desktop_;
  const Log* log_;
  ScreenSource screens_;
  bool toldWhatIsMissing_ = false;
};

}  // namespace varek
