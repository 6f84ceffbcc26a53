#include "platform/linux/desktop_entry_scanner.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/linux/desktop_entries.h"
#include "search/unicode.h"

namespace varek {
namespace {

constexpr std::string_view kGnomePanelCategory = "X-GNOME-Settings-Panel";
constexpr std::array<std::string_view, 2> kXfceSettingsCategories = {"X-XFCE-SettingsDialog",
                                                                     "X-XFCE-SettingsManager"};
// Older KDE modules sort themselves into System Settings by groups of this form.
constexpr std::string_view kKdeSettingsCategoryPrefix = "X-KDE-settings-";
// Current KDE modules are entries that open System Settings at their module, given as
// the first argument; the bare program is the System Settings application itself.
constexpr std::array<std::string_view, 4> kKdeSettingsPrograms = {
    "systemsettings", "systemsettings5", "kcmshell5", "kcmshell6"};
constexpr std::string_view kDesktopSuffix = ".desktop";
// Any file can name and describe itself anything; a name of megabytes would be matched on
// every keystroke and laid out on every opening. No real name or description comes near
// this many characters.
constexpr std::size_t kLongestName = 300;

// A name or description as the index keeps it: at most kLongestName characters, never cut
// inside one.
std::string name(std::string_view value) {
  return std::string(unicode::leadingCharacters(value, kLongestName));
}

std::string baseName(const std::string& path) {
  gchar* base = g_path_get_basename(path.c_str());
  std::string result = base;
  g_free(base);
  return result;
}

bool opensKdeModule(const DesktopEntry& entry) {
  const std::vector<std::string>& command = entry.command;
  // A field code such as %u or an option is no module name.
  if (command.size() < 2 || command[1][0] == '%' || command[1][0] == '-') {
    return false;
  }
  return std::ranges::find(kKdeSettingsPrograms, baseName(command[0])) !=
         kKdeSettingsPrograms.end();
}

bool isSettingsPane(const DesktopEntry& entry) {
  std::string_view rest = entry.categories;
  while (!rest.empty()) {
    const std::size_t end = rest.find(';');
    const std::string_view category = rest.substr(0, end);
    if (category == kGnomePanelCategory || category.starts_with(kKdeSettingsCategoryPrefix) ||
        std::ranges::find(kXfceSettingsCategories, category) != kXfceSettingsCategories.end()) {
      return true;
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return opensKdeModule(entry);
}

// The first of the localised GenericName, the localised Comment and the program of Exec
// that says more than the name: two entries called "Terminal" are told apart by
// "Terminal-Emulator" against "Dropdown-Terminal", or else by their programs.
std::string description(const DesktopEntry& entry) {
  for (const std::string& text : {entry.genericName, entry.comment}) {
    if (!text.empty() && text != entry.name) return name(text);
  }
  if (entry.command.empty() || entry.command[0].empty()) return "";
  return name(baseName(entry.command[0]));
}

ScannedApp app(const DesktopEntry& entry) {
  const std::string shown = name(entry.name);
  std::string untranslated = name(entry.untranslatedName);
  return ScannedApp{.name = shown,
                    .alternateName = untranslated == shown ? "" : std::move(untranslated),
                    .path = entry.path,
                    .url = std::nullopt,
                    .description = description(entry)};
}

ScannedApp settingsPane(const DesktopEntry& entry) {
  std::string id = entry.id;
  if (id.ends_with(kDesktopSuffix)) id.resize(id.size() - kDesktopSuffix.size());
  return ScannedApp{
      .name = name(entry.name), .alternateName = std::move(id), .path = entry.path, .url = {}};
}

}  // namespace

AppScan DesktopEntryScanner::scan() const {
  const DesktopEnvironment environment = DesktopEnvironment::current();
  AppScan result;
  for (const DesktopEntry& entry : readDesktopEntries(environment, &result.fingerprint)) {
    if (!isSettingsPane(entry)) {
      if (!entry.noDisplay && entry.shownOnDesktop) result.apps.push_back(app(entry));
    } else if (environment.desktops.empty() || entry.shownOnDesktop) {
      // Under a bare window manager no desktop is named, and then every desktop's panes
      // count: whatever of them is installed still opens there.
      result.settings.push_back(settingsPane(entry));
    }
  }
  return result;
}

std::string DesktopEntryScanner::fingerprint() const {
  return surveyDesktopEntries(DesktopEnvironment::current()).fingerprint;
}

}  // namespace varek
