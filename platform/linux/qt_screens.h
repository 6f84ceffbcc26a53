// The screens as Qt's X11 platform sees them (scaling and struts included), or its Wayland
// platform in the compositor's logical layout, for the window server; apart from it so that a process without Qt GUI can still read windows.
#pragma once

#include "platform/x11/x11_window_server.h"

namespace varek {

// Asks Qt on the thread of its GUI application, in the X server's pixels; asks nothing
// (an empty list) on other threads, without a GUI application or off X11 and Wayland.
X11WindowServer::ScreenSource qtScreens();

}  // namespace varek
