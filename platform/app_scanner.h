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

struct AppScan {
  std::vector<ScannedApp> apps;
  std::vector<ScannedApp> settings;
  std::string fingerprint = {};  // AppScanner::fingerprint() of what was read
};

class AppScanner {
 public:
  virtual ~AppScanner() = default;

  // Reads the system afresh, both lists from one pass; may run on any thread and takes
  // tens of milliseconds. Unreadable entries are left out silently.
  virtual AppScan scan() const = 0;
  // Changes whenever scan() could give other lists, and costs a small part of a scan; a
  // refresh that finds it as before keeps the lists it has. Empty when the scanner cannot
  // tell, and then every refresh scans. May run on any thread.
  virtual std::string fingerprint() const { return {}; }
};

}  // namespace varek
