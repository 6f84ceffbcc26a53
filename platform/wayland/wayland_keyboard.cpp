#include "platform/wayland/wayland_keyboard.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <string_view>

#include "virtual-keyboard-unstable-v1-client.h"

namespace varek {
namespace {

// Linux input event codes; XKB numbers the same keys 8 higher.
constexpr std::uint32_t kLeftControl = 29;
constexpr std::uint32_t kV = 47;
constexpr std::uint32_t kReleased = 0;
constexpr std::uint32_t kPressed = 1;
// The Control modifier's bit in XKB's fixed order of real modifiers (Shift, Lock, Control).
constexpr std::uint32_t kControlMask = 1u << 2;
// wl_keyboard_keymap_format.xkb_v1
constexpr std::uint32_t kXkbV1 = 1;

// Only the keys this keyboard sends; types and interpretations are the system's standard.
constexpr std::string_view kKeymap = R"(xkb_keymap {
  xkb_keycodes "varek" {
    minimum = 8;
    maximum = 255;
    <LCTL> = 37;
    <AB04> = 55;
  };
  xkb_types "varek" { include "complete" };
  xkb_compat "varek" { include "complete" };
  xkb_symbols "varek" {
    key <LCTL> { [ Control_L ] };
    key <AB04> { [ v, V ] };
    modifier_map Control { <LCTL> };
  };
};
)";

std::uint32_t now() {
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// A sealed memory file holding the keymap text with its final NUL, as the protocol wants it.
int keymapFile() {
  const int fd = ::memfd_create("varek-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return -1;
  if (::write(fd, kKeymap.data(), kKeymap.size()) != static_cast<ssize_t>(kKeymap.size()) ||
      ::write(fd, "", 1) != 1) {
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  return fd;
}

}  // namespace

WaylandKeyboard::WaylandKeyboard(WaylandConnection& connection) : connection_(connection) {
  using Capability = WaylandConnection::Capability;
  if (!connection.offers(Capability::virtualKeyboard) || !connection.offers(Capability::seat))
    return;
  seat_ = static_cast<wl_seat*>(connection.bind(Capability::seat, &wl_seat_interface, 1));
  manager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
      connection.bind(Capability::virtualKeyboard, &zwp_virtual_keyboard_manager_v1_interface, 1));
  if (seat_ == nullptr || manager_ == nullptr) return;
  const int keymap = keymapFile();
  if (keymap < 0) return;
  keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager_, seat_);
  zwp_virtual_keyboard_v1_keymap(keyboard_, kXkbV1, keymap,
                                 static_cast<std::uint32_t>(kKeymap.size() + 1));
  ::close(keymap);
  // Keys sent while the compositor has yet to take the keymap could be read with another;
  // waiting once here keeps every shortcut after it whole, with no key typed in advance
  // (a Shift tap, the usual remedy, can switch an input method's language).
  connection.roundtrip();
}

WaylandKeyboard::~WaylandKeyboard() {
  if (keyboard_ != nullptr) zwp_virtual_keyboard_v1_destroy(keyboard_);
  // Version 1 has no destructor request: this frees the proxy alone.
  if (manager_ != nullptr) zwp_virtual_keyboard_manager_v1_destroy(manager_);
  if (seat_ != nullptr) wl_seat_destroy(seat_);
  if (connection_.display() != nullptr) wl_display_flush(connection_.display());
}

bool WaylandKeyboard::available() const {
  return keyboard_ != nullptr && connection_.state() == WaylandConnection::State::connected;
}

bool WaylandKeyboard::typePasteShortcut() {
  if (!available()) return false;
  key(kLeftControl, true);
  modifiers(kControlMask);
  key(kV, true);
  key(kV, false);
  key(kLeftControl, false);
  modifiers(0);
  return connection_.update() == WaylandConnection::State::connected;
}

void WaylandKeyboard::key(std::uint32_t code, bool pressed) {
  zwp_virtual_keyboard_v1_key(keyboard_, now(), code, pressed ? kPressed : kReleased);
}

void WaylandKeyboard::modifiers(std::uint32_t depressed) {
  zwp_virtual_keyboard_v1_modifiers(keyboard_, depressed, 0, 0, 0);
}

}  // namespace varek
