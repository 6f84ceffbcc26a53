// How the benchmark sees a launcher answer: it presses keys as a user would and times the
// repaints they cause, up to the last one before the window stays quiet. On X11 it
// watches the windows' DAMAGE events itself (x11_frame_watch.h). A Wayland compositor
// shows no client another's surface; there the launcher's own figures (its "geöffnet in
// … ms" log line) are to stand in, behind this same interface.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>

namespace varek::e2e {

using Clock = std::chrono::steady_clock;

// A key by its keysym, which X11 and the xkb keymaps of Wayland keyboards share.
using Key = std::uint32_t;
constexpr Key kSpace = 0x0020;
constexpr Key kEscape = 0xff1b;
constexpr Key kAlt = 0xffe9;

// What one key press or program start came to: the time from it to the last repaint
// before the window stayed quiet, and how many drawings reached the window on the way;
// no time when none came.
struct Frame {
  std::optional<double> milliseconds;
  int repaints = 0;
};

class FrameWatch {
 public:
  virtual ~FrameWatch() = default;

  // Watches the largest top-level window of the process with this title from now on,
  // mapped or not; false when it has none.
  virtual bool watchWindowOf(pid_t process, std::string_view title) = 0;
  // Watches every top-level window created while this is on: a program that makes its
  // window when it starts.
  virtual void watchNewWindows(bool on) = 0;
  // Presses and releases key while the modifiers are held; returns when it was sent.
  virtual Clock::time_point press(Key key, std::initializer_list<Key> held = {}) = 0;
  // Waits for the repaints of the watched windows after since: the frame ends with the
  // last one before quiet; nothing came when none did within a few seconds.
  virtual Frame awaitFrame(Clock::time_point since) = 0;
  // Waits until no window of watchWindowOf() is on the screen; false when one still is
  // after the limit.
  virtual bool awaitHidden(std::chrono::milliseconds limit) = 0;
};

}  // namespace varek::e2e
