// The windows of other applications. Rectangles are in bottom-left desktop coordinates:
// the origin is the primary screen's bottom-left corner and y grows upwards.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/geometry.h"

namespace varek {

using WindowId = std::uint64_t;

struct ScreenInfo {
  Rect frame;         // the whole screen
  Rect visibleFrame;  // without panels, docks and menu bars
};

class WindowServer {
 public:
  virtual ~WindowServer() = default;

  // Whether other applications' windows may be read and moved at all.
  virtual bool isTrusted() const = 0;
  // Asks the user to allow it, where the desktop has such a prompt.
  virtual void requestTrust() = 0;
  // Why windows are out of reach on this desktop and what the user can do about it, as one
  // German sentence; empty while isTrusted().
  virtual std::string unreachableReason() const = 0;
  // The same in a few words, for a menu line or a log ("kein EWMH-Fenstermanager").
  virtual std::string unreachableCause() const = 0;
  // Whether windows can be moved and resized into a layout here.
  virtual bool canPlaceWindows() const = 0;
  // Why not, in a few German words for a layout's row; empty while canPlaceWindows().
  virtual std::string placementReason() const = 0;

  struct WindowInfo {
    WindowId id;
    std::string title;  // may be empty
  };
  // The windows of the application with this process id, front to back; read from a cache
  // kept current by the backend. Empty when the application does not answer.
  virtual std::vector<WindowInfo> windowsOf(int pid) const = 0;
  // The window of the application that has or last had focus.
  virtual std::optional<WindowId> focusedWindow(int pid) const = 0;
  // The outer frame of the window, or nothing when it cannot be read.
  virtual std::optional<Rect> frame(WindowId window) const = 0;
  // Moves and resizes the outer frame; the window may refuse or adjust it.
  virtual void setFrame(WindowId window, Rect frame) = 0;
  // Makes the window its application's main window and raises it.
  virtual void raise(WindowId window) = 0;

  // The screens, the primary one first.
  virtual std::vector<ScreenInfo> screens() const = 0;
  // The screen with keyboard focus, or nothing without screens.
  virtual std::optional<ScreenInfo> mainScreen() const = 0;

  // Whether postPaste() can reach other windows here; where it cannot, a pasted entry is
  // only copied and the user pastes it.
  virtual bool canPaste() const = 0;
  // Types the paste shortcut into whatever window has focus now.
  virtual void postPaste() = 0;
};

}  // namespace varek
