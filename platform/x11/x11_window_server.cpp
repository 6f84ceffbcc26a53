#include "platform/x11/x11_window_server.h"

#include <X11/keysym.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace varek {
namespace {

// The hotkey's modifiers may still be held when the paste is typed; held, they would turn
// Control+V into another shortcut.
constexpr xcb_keysym_t kModifierKeys[] = {
    XK_Shift_L, XK_Shift_R, XK_Control_L, XK_Control_R, XK_Alt_L,   XK_Alt_R,           XK_Meta_L,
    XK_Meta_R,  XK_Super_L, XK_Super_R,   XK_Hyper_L,   XK_Hyper_R, XK_ISO_Level3_Shift};
// XTest's device id for the core keyboard.
constexpr std::uint8_t kCoreKeyboard = 0;

using Area = X11WindowServer::Area;
using ScreenArea = X11WindowServer::ScreenArea;

std::optional<xcb_window_t> xWindow(const X11Desktop& desktop, WindowId window) {
  if (!desktop.connection() || window == XCB_WINDOW_NONE ||
      window > std::numeric_limits<xcb_window_t>::max()) {
    return std::nullopt;
  }
  return static_cast<xcb_window_t>(window);
}

// The core's coordinates start at the primary screen's bottom-left corner, y up.
Rect toDesktop(const Area& area, const Area& primary) {
  return {area.x - primary.x, primary.y + primary.height - (area.y + area.height), area.width,
          area.height};
}

Area toX(const Rect& rect, const Area& primary) {
  return {primary.x + rect.x, primary.y + primary.height - (rect.y + rect.height), rect.width,
          rect.height};
}

// Without the toolkit's view of the screens: the root window as the one screen, its usable
// part the current desktop's _NET_WORKAREA.
std::vector<ScreenArea> rootScreen(const X11Desktop& desktop) {
  xcb_connection_t* connection = desktop.connection();
  xcb_ewmh_connection_t* ewmh = desktop.ewmh();
  const auto geometryCookie = xcb_get_geometry(connection, desktop.root());
  const auto workareaCookie = xcb_ewmh_get_workarea(ewmh, desktop.screenNumber());
  const auto currentCookie = xcb_ewmh_get_current_desktop(ewmh, desktop.screenNumber());
  const XcbOwned<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(connection, geometryCookie, nullptr));
  xcb_ewmh_get_workarea_reply_t workarea;
  const bool hasWorkarea = xcb_ewmh_get_workarea_reply(ewmh, workareaCookie, &workarea, nullptr);
  std::uint32_t current = 0;
  if (!xcb_ewmh_get_current_desktop_reply(ewmh, currentCookie, &current, nullptr)) current = 0;

  std::optional<Area> visible;
  if (hasWorkarea) {
    if (current < workarea.workarea_len) {
      const xcb_ewmh_geometry_t& area = workarea.workarea[current];
      visible = Area{static_cast<double>(area.x), static_cast<double>(area.y),
                     static_cast<double>(area.width), static_cast<double>(area.height)};
    }
    xcb_ewmh_get_workarea_reply_wipe(&workarea);
  }
  if (!geometry) return {};
  const Area whole{0, 0, static_cast<double>(geometry->width),
                   static_cast<double>(geometry->height)};
  return {{whole, visible.value_or(whole)}};
}

// The screens in X coordinates, the primary one first.
std::vector<ScreenArea> screenAreas(const X11Desktop& desktop,
                                    const X11WindowServer::ScreenSource& source) {
  if (!desktop.connection()) return {};
  if (source) {
    std::vector<ScreenArea> areas = source();
    if (!areas.empty()) return areas;
  }
  return rootScreen(desktop);
}

Area primaryArea(const X11Desktop& desktop, const X11WindowServer::ScreenSource& source) {
  const std::vector<ScreenArea> areas = screenAreas(desktop, source);
  return areas.empty() ? Area{} : areas.front().frame;
}

xcb_ewmh_get_extents_reply_t frameExtents(const X11Desktop& desktop,
                                          xcb_get_property_cookie_t cookie) {
  xcb_ewmh_get_extents_reply_t extents{};
  if (!xcb_ewmh_get_frame_extents_reply(desktop.ewmh(), cookie, &extents, nullptr)) {
    extents = {};
  }
  return extents;
}

// The window with its decorations, in X coordinates.
std::optional<Area> outerFrame(const X11Desktop& desktop, xcb_window_t window) {
  xcb_connection_t* connection = desktop.connection();
  const auto geometryCookie = xcb_get_geometry(connection, window);
  const auto positionCookie = xcb_translate_coordinates(connection, window, desktop.root(), 0, 0);
  const auto extentsCookie = xcb_ewmh_get_frame_extents(desktop.ewmh(), window);
  const XcbOwned<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(connection, geometryCookie, nullptr));
  const XcbOwned<xcb_translate_coordinates_reply_t> position(
      xcb_translate_coordinates_reply(connection, positionCookie, nullptr));
  const xcb_ewmh_get_extents_reply_t extents = frameExtents(desktop, extentsCookie);
  if (!geometry || !position) return std::nullopt;
  return Area{static_cast<double>(position->dst_x) - extents.left,
              static_cast<double>(position->dst_y) - extents.top,
              static_cast<double>(geometry->width) + extents.left + extents.right,
              static_cast<double>(geometry->height) + extents.top + extents.bottom};
}

std::vector<xcb_keycode_t> keycodes(xcb_key_symbols_t* symbols, xcb_keysym_t keysym) {
  std::vector<xcb_keycode_t> codes;
  const XcbOwned<xcb_keycode_t> list(xcb_key_symbols_get_keycode(symbols, keysym));
  for (const xcb_keycode_t* code = list.get(); code && *code != XCB_NO_SYMBOL; ++code) {
    codes.push_back(*code);
  }
  return codes;
}

void fakeKey(xcb_connection_t* connection, std::uint8_t type, xcb_keycode_t code) {
  xcb_test_fake_input(connection, type, code, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0,
                      kCoreKeyboard);
}

}  // namespace

X11WindowServer::X11WindowServer(X11Desktop& desktop, const Log* log, ScreenSource screens)
    : desktop_(desktop), log_(log), screens_(std::move(screens)) {}

bool X11WindowServer::isTrusted() const {
  return desktop_.connection() && desktop_.snapshot()->windowManager;
}

void X11WindowServer::requestTrust() {
  if (isTrusted() || toldWhatIsMissing_ || !log_) return;
  toldWhatIsMissing_ = true;
  log_->write(desktop_.connection()
                  ? "windows: no EWMH window manager runs, so windows cannot be listed or moved"
                  : "windows: no X display, so windows cannot be listed or moved");
}

// There is no permission to grant: what is missing is a window manager that tells other
// programs about its windows, which only the user can start.
std::string X11WindowServer::unreachableReason() const {
  return isTrusted() ? "" : "Kein Fenstermanager mit EWMH – z. B. Openbox, Xfwm oder KWin starten";
}

std::string X11WindowServer::unreachableCause() const {
  return isTrusted() ? "" : "kein EWMH-Fenstermanager";
}

std::string X11WindowServer::placementReason() const {
  return isTrusted() ? "" : "Braucht einen Fenstermanager mit EWMH";
}

std::vector<WindowServer::WindowInfo> X11WindowServer::windowsOf(int pid) const {
  std::vector<WindowInfo> windows;
  for (const X11Desktop::Client& client : desktop_.snapshot()->clientsOf(pid)) {
    if (client.normal) windows.push_back({client.id, client.title});
  }
  return windows;
}

std::optional<WindowId> X11WindowServer::focusedWindow(int pid) const {
  return desktop_.snapshot()->latestOf(pid, true);
}

std::optional<Rect> X11WindowServer::frame(WindowId window) const {
  const std::optional<xcb_window_t> id = xWindow(desktop_, window);
  if (!id) return std::nullopt;
  const std::optional<Area> outer = outerFrame(desktop_, *id);
  if (!outer) return std::nullopt;
  return toDesktop(*outer, primaryArea(desktop_, screens_));
}

void X11WindowServer::setFrame(WindowId window, Rect frame) {
  const std::optional<xcb_window_t> id = xWindow(desktop_, window);
  if (!id) return;
  xcb_ewmh_connection_t* ewmh = desktop_.ewmh();
  const Area outer = toX(frame, primaryArea(desktop_, screens_));
  const xcb_ewmh_get_extents_reply_t extents =
      frameExtents(desktop_, xcb_ewmh_get_frame_extents(ewmh, *id));
  // A maximized window keeps its place under most window managers; the layout takes over.
  xcb_ewmh_request_change_wm_state(ewmh, desktop_.screenNumber(), *id, XCB_EWMH_WM_STATE_REMOVE,
                                   ewmh->_NET_WM_STATE_MAXIMIZED_VERT,
                                   ewmh->_NET_WM_STATE_MAXIMIZED_HORZ,
                                   XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
  // The position places the outer frame (north-west gravity); the size is the client's.
  const auto width = std::max<long>(1, std::lround(outer.width) - extents.left - extents.right);
  const auto height = std::max<long>(1, std::lround(outer.height) - extents.top - extents.bottom);
  const auto flags = static_cast<xcb_ewmh_moveresize_window_opt_flags_t>(
      XCB_EWMH_MOVERESIZE_WINDOW_X | XCB_EWMH_MOVERESIZE_WINDOW_Y |
      XCB_EWMH_MOVERESIZE_WINDOW_WIDTH | XCB_EWMH_MOVERESIZE_WINDOW_HEIGHT);
  // Negative positions travel as the same 32 bits, which the window manager reads signed.
  xcb_ewmh_request_moveresize_window(
      ewmh, desktop_.screenNumber(), *id, XCB_GRAVITY_NORTH_WEST, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
      flags, static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(outer.x))),
      static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(outer.y))),
      static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
  desktop_.flush();
}

void X11WindowServer::raise(WindowId window) {
  const std::optional<xcb_window_t> id = xWindow(desktop_, window);
  if (!id) return;
  // For a window manager that ignores the activation request, a restack still brings the
  // window up: it redirects the request to the window's frame.
  const std::uint32_t above = XCB_STACK_MODE_ABOVE;
  xcb_configure_window(desktop_.connection(), *id, XCB_CONFIG_WINDOW_STACK_MODE, &above);
  desktop_.activate(*id);
}

std::vector<ScreenInfo> X11WindowServer::screens() const {
  const std::vector<ScreenArea> areas = screenAreas(desktop_, screens_);
  std::vector<ScreenInfo> screens;
  for (const ScreenArea& area : areas) {
    screens.push_back(
        {toDesktop(area.frame, areas.front().frame), toDesktop(area.visible, areas.front().frame)});
  }
  return screens;
}

std::optional<ScreenInfo> X11WindowServer::mainScreen() const {
  const std::vector<ScreenArea> areas = screenAreas(desktop_, screens_);
  if (areas.empty()) return std::nullopt;
  const ScreenArea* chosen = &areas.front();
  const xcb_window_t active = desktop_.snapshot()->active;
  if (const std::optional<Area> window =
          active == XCB_WINDOW_NONE ? std::nullopt : outerFrame(desktop_, active)) {
    const double centerX = window->x + window->width * 0.5;
    const double centerY = window->y + window->height * 0.5;
    for (const ScreenArea& area : areas) {
      if (area.frame.contains(centerX, centerY)) {
        chosen = &area;
        break;
      }
    }
  }
  const Area& primary = areas.front().frame;
  return ScreenInfo{toDesktop(chosen->frame, primary), toDesktop(chosen->visible, primary)};
}

void X11WindowServer::postPaste() {
  xcb_connection_t* connection = desktop_.connection();
  if (!connection) return;
  const std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)> symbols(
      xcb_key_symbols_alloc(connection), &xcb_key_symbols_free);
  if (!symbols) return;
  const std::vector<xcb_keycode_t> control = keycodes(symbols.get(), XK_Control_L);
  const std::vector<xcb_keycode_t> letter = keycodes(symbols.get(), XK_v);
  if (control.empty() || letter.empty()) return;

  const XcbOwned<xcb_query_keymap_reply_t> keymap(
      xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
  const auto held = [&keymap](xcb_keycode_t code) {
    return !keymap || ((keymap->keys[code / 8] >> (code % 8)) & 1) != 0;
  };
  for (const xcb_keysym_t modifier : kModifierKeys) {
    for (const xcb_keycode_t code : keycodes(symbols.get(), modifier)) {
      if (held(code)) fakeKey(connection, XCB_KEY_RELEASE, code);
    }
  }
  fakeKey(connection, XCB_KEY_PRESS, control.front());
  fakeKey(connection, XCB_KEY_PRESS, letter.front());
  fakeKey(connection, XCB_KEY_RELEASE, letter.front());
  fakeKey(connection, XCB_KEY_RELEASE, control.front());
  // A round trip: when it returns, the server has taken every key event.
  const XcbOwned<xcb_get_input_focus_reply_t> focus(
      xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

}  // namespace varek
