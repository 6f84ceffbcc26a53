// The installed applications and settings panes, from one reading of the XDG desktop
// entries (see desktop_entries.h) split in two. GIO stays the launcher of an entry; the
// path given here is the file it opens.
#pragma once

#include "platform/app_scanner.h"

namespace varek {

class DesktopEntryScanner : public AppScanner {
 public:
  // Apps: the entries a menu would show, settings panes excepted. The second name is the
  // untranslated Name when the user's language gives another one; the description is the
  // localised GenericName, else the localised Comment (either only when it differs from
  // the name), else the file name of the Exec program.
  //
  // Settings: GNOME Settings panels (Categories hold X-GNOME-Settings-Panel), KDE System
  // Settings modules (the entry runs systemsettings or kcmshell with a module name, or
  // its Categories hold an X-KDE-settings-… group) and the dialogs of the XFCE settings
  // manager (X-XFCE-SettingsDialog, X-XFCE-SettingsManager). Most are NoDisplay, so they
  // are picked by what they are, not by whether a menu shows them; OnlyShowIn and
  // NotShowIn apply once the session names its desktop. The second name is the desktop
  // id without ".desktop" ("gnome-network-panel"). None has an address: no desktop
  // offers one for a pane, and launching the entry opens it, as its Exec line does.
  AppScan scan() const override;
  // Of the desktop files, their folders, PATH, the desktop and the languages.
  std::string fingerprint() const override;
};

}  // namespace varek
