// Opening addresses, files and applications the way the desktop's own launcher does: through
// GIO's default handlers and desktop entries, and revealing through the file manager's D-Bus
// service. The same on every session, X11 or Wayland.
#pragma once

#include <string>

namespace varek::DesktopLaunch {

// Opens an address with its default handler; false when nothing could handle it.
bool openUrl(const std::string& url);
// Opens a file or folder with its default application.
bool openFile(const std::string& path);
// Launches the application of this desktop-entry file.
bool openApplication(const std::string& path);
// Through org.freedesktop.FileManager1 when a file manager offers it, else the parent
// folder opens.
void reveal(const std::string& path);

}  // namespace varek::DesktopLaunch
