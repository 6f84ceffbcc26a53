// The XDG desktop entries that GIO would list, read in one pass over the data folders with
// one GKeyFile read per file: desktop ids, the first folder's file winning an id, Hidden,
// Type, TryExec and the Exec program on PATH, localised keys, OnlyShowIn and NotShowIn.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace varek {

// What a reading depends on besides the files and the locale (which GLib takes from
// LANGUAGE, LC_ALL, LC_MESSAGES and LANG when it reads a localised key).
struct DesktopEnvironment {
  std::vector<std::string> dataFolders;  // XDG_DATA_HOME, then each of XDG_DATA_DIRS
  std::string searchPath;                // PATH
  std::vector<std::string> desktops;     // XDG_CURRENT_DESKTOP, split at ':'
  // Where a reading is kept for the next one (desktop_entry_cache.h); empty for none.
  std::string cacheFile;

  // Read from the process environment afresh; the cache in XDG_CACHE_HOME.
  static DesktopEnvironment current();
};

struct DesktopEntry {
  std::string id;    // "kde-kcm_mouse.desktop" for applications/kde/kcm_mouse.desktop
  std::string path;  // the file, as GIO names it
  std::string name;  // localised X-GNOME-FullName, else localised Name, as GIO shows it
  std::string untranslatedName;
  std::string genericName;           // localised; empty when absent
  std::string comment;               // localised; empty when absent
  std::string categories;            // as written: "GTK;Settings;"
  std::vector<std::string> command;  // Exec split into arguments; empty without one
  std::string startupWindowClass;    // StartupWMClass as written; empty when absent
  bool noDisplay = false;
  // By OnlyShowIn and NotShowIn against the named desktops; with none named, whether the
  // entry lacks OnlyShowIn.
  bool shownOnDesktop = true;
};

// A desktop file and what its metadata says of its version.
struct DesktopEntryFile {
  std::string path;
  // Size, change time (seconds, nanoseconds) and inode: a rewritten or replaced file has
  // others. All zero when the file could not be asked.
  std::array<std::int64_t, 4> stamp = {};
};
// Desktop id → the file that holds it, for every desktop file of the data folders.
using DesktopEntryFiles = std::map<std::string, DesktopEntryFile>;

// The files of the data folders and the fingerprint of a reading of them, from one walk.
struct DesktopEntrySurvey {
  DesktopEntryFiles files;
  std::string fingerprint;  // see DesktopEntryCache::fingerprint
};
DesktopEntrySurvey surveyDesktopEntries(const DesktopEnvironment& environment);

// Every entry a menu could list, sorted by id; unreadable files and folders are left out.
// Taken from the cache file when that holds a reading of the same files, else read and
// cached. The fingerprint of the files read goes to fingerprint when given.
std::vector<DesktopEntry> readDesktopEntries(const DesktopEnvironment& environment,
                                             std::string* fingerprint = nullptr);

// The user's languages as GLib orders them for LC_MESSAGES, most specific first.
std::vector<std::string> languageNames();

}  // namespace varek
