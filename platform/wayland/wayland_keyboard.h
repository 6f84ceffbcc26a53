// Types the paste shortcut into whichever window the compositor gives the keyboard focus,
// through a virtual keyboard (wlroots' compositors offer one; Wayland lets no client send
// keys to another directly). The caller hides its own window first, so focus goes back to
// the window the copy is meant for.
#pragma once

#include <cstdint>

#include "platform/wayland/wayland_connection.h"

struct wl_seat;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

namespace varek {

class WaylandKeyboard {
 public:
  // Makes the virtual keyboard and gives it its keymap once, waiting (at most the
  // connection's round trip) until the compositor has both, so no shortcut races a new
  // keymap. The connection must outlive this.
  explicit WaylandKeyboard(WaylandConnection& connection);
  ~WaylandKeyboard();
  WaylandKeyboard(const WaylandKeyboard&) = delete;
  WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;

  // False when the compositor offers no virtual keyboard or the connection is lost.
  bool available() const;
  // Presses and releases Strg+V, sent to the compositor before this returns; false when
  // nothing could be typed.
  bool typePasteShortcut();

 private:
  void key(std::uint32_t code, bool pressed);
  void modifiers(std::uint32_t depressed);

  WaylandConnection& connection_;
  wl_seat* seat_ = nullptr;
  zwp_virtual_keyboard_manager_v1* manager_ = nullptr;
  zwp_virtual_keyboard_v1* keyboard_ = nullptr;
};

}  // namespace varek
