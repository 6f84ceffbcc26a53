#include "platform/linux/desktop_entries.h"

#include "platform/linux/desktop_entry_cache.h"

#include <dirent.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace varek {
namespace {

constexpr std::string_view kDesktopSuffix = ".desktop";
// GLib's folders when XDG_DATA_DIRS is unset or empty.
constexpr const char* kDefaultDataFolders = "/usr/local/share/:/usr/share/";
// GLib's search path when PATH is unset: the current folder last, for safety.
constexpr const char* kDefaultSearchPath = "/bin:/usr/bin:.";
constexpr const char* kFullNameKey = "X-GNOME-FullName";
constexpr const char* kGenericNameKey = "GenericName";

// "a::b" gives "a", "" and "b", as g_strsplit does; an empty text gives nothing.
std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  if (text.empty()) return parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

std::string buildFilename(const std::string& folder, const std::string& name) {
  gchar* joined = g_build_filename(folder.c_str(), name.c_str(), nullptr);
  std::string result = joined;
  g_free(joined);
  return result;
}

// The XDG base-directory rules make a relative folder invalid: it would depend on where
// the launcher happened to start.
bool isAbsolute(const std::string& folder) { return folder.starts_with('/'); }

// Whether GLib would run the file: executable for this user (and, for root, by some
// execute bit, which access() does not ask for) and not a folder.
bool isExecutableFile(const std::string& path) {
  if (::access(path.c_str(), X_OK) != 0) return false;
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) return false;
  return ::getuid() != 0 || (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
}

// Finds programs as g_find_program_in_path does: a name with a slash is taken as it is,
// any other is the first executable of that name in the PATH folders, an empty folder
// meaning the current one. Asking each folder for each entry's program cost some 16
// access() calls per entry, nearly all failing; here each folder is listed once, when
// first needed, and only a name it holds is checked, once per scan.
class ProgramSearch {
 public:
  explicit ProgramSearch(const std::string& searchPath) {
    // Unlike g_strsplit, an empty PATH or an empty end still names a folder.
    std::size_t start = 0;
    for (std::size_t end; (end = searchPath.find(':', start)) != std::string::npos;
         start = end + 1) {
      folders_.push_back({.path = searchPath.substr(start, end - start)});
    }
    folders_.push_back({.path = searchPath.substr(start)});
    for (Folder& folder : folders_) {
      if (folder.path.empty()) folder.path = ".";
    }
  }

  bool finds(const std::string& program) {
    if (program.empty()) return false;
    const auto known = found_.find(program);
    if (known != found_.end()) return known->second;
    bool result = false;
    if (program.find('/') != std::string::npos) {
      result = isExecutableFile(program);
    } else {
      for (Folder& folder : folders_) {
        if (holds(folder, program) && isExecutableFile(folder.path + "/" + program)) {
          result = true;
          break;
        }
      }
    }
    found_.emplace(program, result);
    return result;
  }

 private:
  struct Folder {
    std::string path;
    bool listed = false;
    // Absent when the folder exists but could not be listed (it may be searchable
    // without being readable); then every name is tried there.
    std::optional<std::unordered_set<std::string>> names = std::unordered_set<std::string>();
  };

  static bool holds(Folder& folder, const std::string& program) {
    if (!folder.listed) {
      folder.listed = true;
      if (DIR* directory = ::opendir(folder.path.c_str())) {
        while (const dirent* item = ::readdir(directory)) folder.names->insert(item->d_name);
        ::closedir(directory);
      } else if (errno != ENOENT && errno != ENOTDIR) {
        folder.names.reset();
      }
    }
    return !folder.names || folder.names->contains(program);
  }

  std::vector<Folder> folders_;
  std::unordered_map<std::string, bool> found_;
};

using Identity = std::pair<dev_t, ino_t>;

// Adds the .desktop files under folder to files by desktop id; a subfolder adds its name
// and a "-" to the ids within. Within one folder the file read last wins an id, as in
// GIO. A folder already being walked (a symbolic link back up) is skipped, where GIO
// would walk on until paths grew too long.
void collectFiles(const std::string& folder, const std::string& prefix, DesktopEntryFiles& files,
                  std::set<Identity>& walking) {
  DIR* directory = ::opendir(folder.c_str());
  if (directory == nullptr) return;
  struct stat status {};
  if (::fstat(::dirfd(directory), &status) != 0 ||
      !walking.insert({status.st_dev, status.st_ino}).second) {
    ::closedir(directory);
    return;
  }
  const Identity self{status.st_dev, status.st_ino};
  while (const dirent* item = ::readdir(directory)) {
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = buildFilename(folder, name);
    if (name.ends_with(kDesktopSuffix)) {
      DesktopEntryFile file{.path = path};
      // Relative to the open folder: ten thousand lookups of the whole path cost twice.
      if (::fstatat(::dirfd(directory), item->d_name, &status, 0) == 0) {
        file.stamp = {status.st_size, status.st_mtim.tv_sec, status.st_mtim.tv_nsec,
                      static_cast<std::int64_t>(status.st_ino)};
      }
      files.insert_or_assign(prefix + name, std::move(file));
      continue;
    }
    bool isFolder = item->d_type == DT_DIR;
    if (item->d_type == DT_LNK || item->d_type == DT_UNKNOWN) {
      isFolder = ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    }
    if (isFolder) collectFiles(path, prefix + name + "-", files, walking);
  }
  walking.erase(self);
  ::closedir(directory);
}

struct KeyFileFree {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileFree>;

// A string value of the main group, taken over from GLib; null when absent.
std::optional<std::string> take(gchar* value) {
  if (value == nullptr) return std::nullopt;
  std::string result = value;
  g_free(value);
  return result;
}

// Every getter is asked only for a key the file has: for a missing one GLib formats an
// error message even when nobody takes it, and most keys are missing from most entries
// (that was a quarter of the scan).
bool has(GKeyFile* file, const char* key) {
  return g_key_file_has_key(file, G_KEY_FILE_DESKTOP_GROUP, key, nullptr) != FALSE;
}

std::optional<std::string> text(GKeyFile* file, const char* key) {
  if (!has(file, key)) return std::nullopt;
  return take(g_key_file_get_string(file, G_KEY_FILE_DESKTOP_GROUP, key, nullptr));
}

// What g_key_file_get_locale_string returns, by its own rule: the value for the first of
// the user's languages (most specific first: de_DE.UTF-8, de_DE, de.UTF-8, de) that the
// file translates readably, else the untranslated one.
std::optional<std::string> localised(GKeyFile* file, const std::string& key,
                                     const std::vector<std::string>& languages) {
  for (const std::string& language : languages) {
    const std::string translated = key + "[" + language + "]";
    if (auto value = text(file, translated.c_str())) return value;
  }
  return text(file, key.c_str());
}

bool flag(GKeyFile* file, const char* key) {
  return has(file, key) &&
         g_key_file_get_boolean(file, G_KEY_FILE_DESKTOP_GROUP, key, nullptr) != FALSE;
}

// Null when the key is absent, which differs from an empty list: "OnlyShowIn=" shows
// the entry nowhere.
std::optional<std::vector<std::string>> list(GKeyFile* file, const char* key) {
  if (!has(file, key)) return std::nullopt;
  gchar** values =
      g_key_file_get_string_list(file, G_KEY_FILE_DESKTOP_GROUP, key, nullptr, nullptr);
  if (values == nullptr) return std::nullopt;
  std::vector<std::string> result(values, values + g_strv_length(values));
  g_strfreev(values);
  return result;
}

// The first named desktop that either list holds decides; with none named, or none
// held, an entry shows unless it names the only desktops it belongs to.
bool shownOn(const std::vector<std::string>& desktops,
             const std::optional<std::vector<std::string>>& onlyShowIn,
             const std::optional<std::vector<std::string>>& notShowIn) {
  const auto holds = [](const std::optional<std::vector<std::string>>& names,
                        const std::string& desktop) {
    return names && std::ranges::find(*names, desktop) != names->end();
  };
  for (const std::string& desktop : desktops) {
    if (holds(onlyShowIn, desktop)) return true;
    if (holds(notShowIn, desktop)) return false;
  }
  return !onlyShowIn;
}

// What every entry of one scan is read against.
struct Reading {
  const std::vector<std::string>& desktops;
  std::vector<std::string> languages;  // as GLib names them for LC_MESSAGES
  ProgramSearch programs;
};

std::optional<DesktopEntry> readEntry(const std::string& id, const std::string& path,
                                      Reading& reading) {
  const KeyFile file(g_key_file_new());
  if (!g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_NONE, nullptr)) {
    return std::nullopt;
  }
  if (take(g_key_file_get_start_group(file.get())) != G_KEY_FILE_DESKTOP_GROUP ||
      text(file.get(), G_KEY_FILE_DESKTOP_KEY_TYPE) != G_KEY_FILE_DESKTOP_TYPE_APPLICATION ||
      flag(file.get(), G_KEY_FILE_DESKTOP_KEY_HIDDEN)) {
    return std::nullopt;
  }
  const std::string tryExec = text(file.get(), G_KEY_FILE_DESKTOP_KEY_TRY_EXEC).value_or("");
  if (!tryExec.empty() && !reading.programs.finds(tryExec)) return std::nullopt;
  DesktopEntry entry;
  entry.id = id;
  entry.path = path;
  const std::string exec = text(file.get(), G_KEY_FILE_DESKTOP_KEY_EXEC).value_or("");
  if (!exec.empty()) {
    gchar** arguments = nullptr;
    if (!g_shell_parse_argv(exec.c_str(), nullptr, &arguments, nullptr)) return std::nullopt;
    entry.command.assign(arguments, arguments + g_strv_length(arguments));
    g_strfreev(arguments);
    if (!reading.programs.finds(entry.command.front())) return std::nullopt;
  }
  std::optional<std::string> name = localised(file.get(), kFullNameKey, reading.languages);
  if (!name) name = localised(file.get(), G_KEY_FILE_DESKTOP_KEY_NAME, reading.languages);
  // GIO's own word for an entry without a name, in the user's language.
  entry.name = name ? std::move(*name) : g_dgettext("glib20", "Unnamed");
  entry.untranslatedName = text(file.get(), G_KEY_FILE_DESKTOP_KEY_NAME).value_or("");
  entry.genericName = localised(file.get(), kGenericNameKey, reading.languages).value_or("");
  entry.comment =
      localised(file.get(), G_KEY_FILE_DESKTOP_KEY_COMMENT, reading.languages).value_or("");
  entry.categories = text(file.get(), G_KEY_FILE_DESKTOP_KEY_CATEGORIES).value_or("");
  entry.startupWindowClass = text(file.get(), G_KEY_FILE_DESKTOP_KEY_STARTUP_WM_CLASS).value_or("");
  entry.noDisplay = flag(file.get(), G_KEY_FILE_DESKTOP_KEY_NO_DISPLAY);
  entry.shownOnDesktop =
      shownOn(reading.desktops, list(file.get(), G_KEY_FILE_DESKTOP_KEY_ONLY_SHOW_IN),
              list(file.get(), G_KEY_FILE_DESKTOP_KEY_NOT_SHOW_IN));
  return entry;
}

}  // namespace

DesktopEnvironment DesktopEnvironment::current() {
  DesktopEnvironment environment;
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome != nullptr && isAbsolute(dataHome)) {
    environment.dataFolders.emplace_back(dataHome);
  } else {
    const char* home = std::getenv("HOME");
    environment.dataFolders.push_back(buildFilename(
        home != nullptr && home[0] != '\0' ? home : g_get_home_dir(), ".local/share"));
  }
  const char* dataDirs = std::getenv("XDG_DATA_DIRS");
  for (std::string& folder :
       split(dataDirs != nullptr && dataDirs[0] != '\0' ? dataDirs : kDefaultDataFolders, ':')) {
    if (isAbsolute(folder)) environment.dataFolders.push_back(std::move(folder));
  }
  const char* searchPath = std::getenv("PATH");
  environment.searchPath = searchPath != nullptr ? searchPath : kDefaultSearchPath;
  const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
  environment.desktops = split(desktops != nullptr ? desktops : "", ':');
  const char* cacheHome = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  const std::string cacheFolder =
      cacheHome != nullptr && isAbsolute(cacheHome)
          ? std::string(cacheHome)
          : buildFilename(home != nullptr && home[0] != '\0' ? home : g_get_home_dir(), ".cache");
  environment.cacheFile = buildFilename(cacheFolder, "varek/desktop-entries");
  return environment;
}

DesktopEntrySurvey surveyDesktopEntries(const DesktopEnvironment& environment) {
  DesktopEntrySurvey survey;
  // An id found in an earlier folder hides every later file of that id, even when its own
  // file is Hidden or unreadable.
  for (const std::string& dataFolder : environment.dataFolders) {
    DesktopEntryFiles files;
    std::set<Identity> walking;
    collectFiles(buildFilename(dataFolder, "applications"), "", files, walking);
    survey.files.merge(files);
  }
  survey.fingerprint = DesktopEntryCache::fingerprint(environment, survey.files);
  return survey;
}

std::vector<DesktopEntry> readDesktopEntries(const DesktopEnvironment& environment,
                                             std::string* fingerprint) {
  const DesktopEntrySurvey survey = surveyDesktopEntries(environment);
  if (fingerprint != nullptr) *fingerprint = survey.fingerprint;
  if (!environment.cacheFile.empty()) {
    if (auto cached = DesktopEntryCache::load(environment.cacheFile, survey.fingerprint)) {
      return std::move(*cached);
    }
  }
  Reading reading{.desktops = environment.desktops,
                  .languages = languageNames(),
                  .programs = ProgramSearch(environment.searchPath)};
  std::vector<DesktopEntry> entries;
  for (const auto& [id, file] : survey.files) {
    if (auto entry = readEntry(id, file.path, reading)) {
      entries.push_back(std::move(*entry));
    }
  }
  if (!environment.cacheFile.empty()) {
    DesktopEntryCache::store(environment.cacheFile, survey.fingerprint, entries);
  }
  return entries;
}

std::vector<std::string> languageNames() {
  std::vector<std::string> names;
  for (const gchar* const* language = g_get_language_names(); *language != nullptr; ++language) {
    names.emplace_back(*language);
  }
  return names;
}

}  // namespace varek
