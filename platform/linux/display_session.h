// Which windowing system this process acts on. A Wayland session wins where both are named
// (XWayland sets DISPLAY beside WAYLAND_DISPLAY), and a named display that does not answer
// counts as absent, so the launcher falls back to the other one or says that none is there.
#pragma once

#include <string_view>

namespace varek {

enum class DisplaySession { none, x11, wayland };

// The session the environment names, without connecting: for processes that act on the
// desktop only if it is there (the command line).
DisplaySession namedDisplaySession();
// The session whose display answers: Wayland when WAYLAND_DISPLAY names a compositor that
// sends its registry, else X11 when DISPLAY names a server that accepts us. Connects and
// disconnects once per named display; a hung compositor is waited for at most a second.
DisplaySession reachableDisplaySession();
// Whether the X server that DISPLAY names accepts a connection.
bool x11Reachable();

// "wayland", "x11", "keine": the words of the log's start line and of XDG_SESSION_TYPE.
std::string_view sessionName(DisplaySession session);

}  // namespace varek
