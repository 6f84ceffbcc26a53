// The installed applications and settings panes, read from the XDG desktop entries
// through GIO, which applies the desktop-entry rules for us: localised names, NoDisplay,
// OnlyShowIn, TryExec, Hidden, and user entries that shadow system ones.
#pragma once

#include "platform/app_scanner.h"

namespace varek {

class GioAppScanner : public AppScanner {
 public:
  // The entries a menu would show, settings panes excepted. The second name is the
  // untranslated Name when the user's language gives another one; the description is the
  // localised GenericName, else the localised Comment (either only when it differs from
  // the name), else the file name of the Exec program.
  std::vector<ScannedApp> scanApps() const override;

  // GNOME Settings panels (Categories hold X-GNOME-Settings-Panel), KDE System Settings
  // modules (the entry runs systemsettings or kcmshell with a module name, or its
  // Categories hold an X-KDE-settings-… group) and the dialogs of the XFCE settings
  // manager (X-XFCE-SettingsDialog, X-XFCE-SettingsManager). Most are NoDisplay, so
  // they are picked by what they are, not by whether a menu shows them; OnlyShowIn and
  // NotShowIn apply once the session names its desktop. The second name is the desktop
  // id without ".desktop" ("gnome-network-panel"). None has an address: no desktop
  // offers one for a pane, and launching the entry opens it, as its Exec line does.
  std::vector<ScannedApp> scanSettings() const override;
};

}  // namespace varek
