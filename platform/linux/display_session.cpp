#include "platform/linux/display_session.h"

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>

#ifdef VAREK_WAYLAND
#include "platform/wayland/wayland_connection.h"
#endif

namespace varek {
namespace {

constexpr std::chrono::milliseconds kCompositorWait{1000};

bool named(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

bool waylandReachable() {
#ifdef VAREK_WAYLAND
  if (!named("WAYLAND_DISPLAY")) return false;
  const WaylandConnection probe(std::nullopt, kCompositorWait);
  return probe.state() == WaylandConnection::State::connected;
#else
  return false;
#endif
}

}  // namespace

DisplaySession namedDisplaySession() {
  if (named("WAYLAND_DISPLAY")) return DisplaySession::wayland;
  if (named("DISPLAY")) return DisplaySession::x11;
  return DisplaySession::none;
}

DisplaySession reachableDisplaySession() {
  if (waylandReachable()) return DisplaySession::wayland;
  if (x11Reachable()) return DisplaySession::x11;
  return DisplaySession::none;
}

bool x11Reachable() {
  if (!named("DISPLAY")) return false;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool reachable = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return reachable;
}

std::string_view sessionName(DisplaySession session) {
  switch (session) {
    case DisplaySession::wayland:
      return "wayland";
    case DisplaySession::x11:
      return "x11";
    case DisplaySession::none:
      break;
  }
  return "keine";
}

}  // namespace varek
