// What can be launched: the installed applications and the settings panes.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varek {

struct ScannedApp {
  std::string name;                // the user-visible, localised name
  std::string alternateName;       // a second name it is known by (untranslated or file name)
  std::string path;                // the bundle or desktop-entry file; unique per entry
  std::optional<std::string> url;  // opens a settings pane; none for applications
  // What sets an application apart from another of its name (its kind, what it is for or
  // the program it runs); empty for settings panes, whose rows all say the same.
  std::string description = {};
};

class AppScanner {
 public:
  virtual ~AppScanner() = default;

  // Both scans read the system afresh, may run on any thread and take tens of
  // milliseconds; unreadable entries are left out silently.
  virtual std::vector<ScannedApp> scanApps() const = 0;
  virtual std::vector<ScannedApp> scanSettings() const = 0;
};

}  // namespace varek
