#include "app/x11_key_binder.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QGuiApplication>
#include <cstdlib>
#include <memory>

#include "app/key_symbol.h"

namespace varek {
namespace {

constexpr xcb_keysym_t kNumLockSymbol = 0xff7f;  // XK_Num_Lock
// Shift, Lock, Control and Mod1 to Mod5; the bits above are mouse buttons held down.
constexpr std::uint16_t kModifierBits = 0x00ff;
// The high bit of an event's type marks one that a client sent; it is the same key.
constexpr std::uint8_t kEventTypeBits = 0x7f;
constexpr int kModifierCount = 8;

struct XcbFree {
  void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using XcbOwned = std::unique_ptr<T, XcbFree>;

// The grab has to live on Qt's own connection: only there do the key events reach the
// event filter, on the main thread.
xcb_connection_t* qtConnection() {
  if (qGuiApp == nullptr) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_keycode_t keycodeOf(xcb_key_symbols_t* symbols, xcb_keysym_t symbol) {
  XcbOwned<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, symbol));
  return codes ? codes.get()[0] : 0;
}

// NumLock sits on whichever of Mod1 to Mod5 the keymap gives it, usually Mod2.
std::uint16_t numLockMask(xcb_connection_t* connection, xcb_keycode_t numLock) {
  if (numLock == 0) return 0;
  XcbOwned<xcb_get_modifier_mapping_reply_t> mapping(
      xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
  if (!mapping) return 0;
  const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
  const int perModifier = mapping->keycodes_per_modifier;
  for (int modifier = 0; modifier < kModifierCount; ++modifier) {
    for (int index = 0; index < perModifier; ++index) {
      if (codes[modifier * perModifier + index] == numLock) {
        return static_cast<std::uint16_t>(1U << modifier);
      }
    }
  }
  return 0;
}

}  // namespace

std::uint16_t X11KeyBinder::modifiers(QKeyCombination combination) {
  const Qt::KeyboardModifiers held = combination.keyboardModifiers();
  std::uint16_t mask = 0;
  if (held & Qt::ShiftModifier) mask |= XCB_MOD_MASK_SHIFT;
  if (held & Qt::ControlModifier) mask |= XCB_MOD_MASK_CONTROL;
  if (held & Qt::AltModifier) mask |= XCB_MOD_MASK_1;
  if (held & Qt::MetaModifier) mask |= XCB_MOD_MASK_4;
  return mask;
}

X11KeyBinder::~X11KeyBinder() {
  unbind();
  if (installed_ && qGuiApp != nullptr) qGuiApp->removeNativeEventFilter(this);
}

KeyBinder::Status X11KeyBinder::bind(QKeyCombination combination) {
  unbind();
  xcb_connection_t* connection = qtConnection();
  if (connection == nullptr) return Status::noDisplay;
  if (!installed_) {
    qGuiApp->installNativeEventFilter(this);
    installed_ = true;
  }

  root_ = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
  keycode_ = keycodeOf(symbols, keysymOf(combination.key()));
  const xcb_keycode_t numLock = keycodeOf(symbols, kNumLockSymbol);
  xcb_key_symbols_free(symbols);
  if (keycode_ == 0) return Status::missingKey;

  // A grab matches its modifiers exactly, so CapsLock or NumLock being on would otherwise
  // silence the hotkey: each combination of the two is grabbed as well.
  const std::uint16_t numLockBit = numLockMask(connection, numLock);
  ignoredModifiers_ = static_cast<std::uint16_t>(XCB_MOD_MASK_LOCK | numLockBit);
  modifiers_ = modifiers(combination);
  std::vector<std::uint16_t> variants = {0, XCB_MOD_MASK_LOCK};
  if (numLockBit != 0) {
    variants.push_back(numLockBit);
    variants.push_back(static_cast<std::uint16_t>(numLockBit | XCB_MOD_MASK_LOCK));
  }

  // Without owner events, a press reaches us relative to the root window even while our
  // own panel has the focus, which is how the event filter knows it.
  std::vector<xcb_void_cookie_t> cookies;
  for (std::uint16_t variant : variants) {
    cookies.push_back(xcb_grab_key_checked(connection, 0, root_,
                                           static_cast<std::uint16_t>(modifiers_ | variant),
                                           keycode_, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
  }
  // BadAccess means another client holds the combination; any refusal counts as taken.
  bool taken = false;
  for (std::size_t index = 0; index < cookies.size(); ++index) {
    XcbOwned<xcb_generic_error_t> error(xcb_request_check(connection, cookies[index]));
    if (error) {
      taken = true;
    } else {
      grabs_.push_back(static_cast<std::uint16_t>(modifiers_ | variants[index]));
    }
  }
  if (taken) {
    unbind();
    return Status::taken;
  }
  return Status::registered;
}

void X11KeyBinder::unbind() {
  held_ = false;
  if (grabs_.empty()) return;
  xcb_connection_t* connection = qtConnection();
  if (connection != nullptr) {
    for (std::uint16_t mask : grabs_) xcb_ungrab_key(connection, keycode_, root_, mask);
    // A round trip: once it returns, the server has let go, and another client (or the
    // next registration) finds the combination free.
    XcbOwned<xcb_get_input_focus_reply_t> done(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
  }
  grabs_.clear();
}

bool X11KeyBinder::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (grabs_.empty() || eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  const std::uint8_t type = event->response_type & kEventTypeBits;
  if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
  // The grab reports relative to the root window, which tells our combination apart from
  // the same keys typed into the panel.
  const auto* key = static_cast<const xcb_key_press_event_t*>(message);
  if (key->event != root_ || key->detail != keycode_) return false;
  if (type == XCB_KEY_RELEASE) {
    held_ = false;
    lastRelease_ = key->time;
    return false;
  }
  if ((key->state & kModifierBits & ~ignoredModifiers_) != modifiers_) return false;
  // Holding the keys repeats the press, as a press after a press or, where the X server
  // repeats keys the old way, as a release and a press with the same time stamp. Either
  // is one press: the panel would flicker open and shut.
  const bool repeat = held_ || key->time == lastRelease_;
  held_ = true;
  if (!repeat) pressed();
  return true;
}

}  // namespace varek
