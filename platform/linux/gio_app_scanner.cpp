#include "platform/linux/gio_app_scanner.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>

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
// The untranslated value of this key is the name a user of another language knows.
constexpr const char* kNameKey = "Name";
// Any file can name and describe itself anything; a name of megabytes would be matched on
// every keystroke and laid out on every opening. No real name or description comes near
// this many characters.
constexpr std::size_t kLongestName = 300;

// A name or description as the index keeps it: at most kLongestName characters, never cut
// inside one.
std::string name(const char* value) {
  if (value == nullptr) return "";
  return std::string(unicode::leadingCharacters(value, kLongestName));
}

std::vector<std::string_view> categories(GDesktopAppInfo* info) {
  std::vector<std::string_view> result;
  const char* list = g_desktop_app_info_get_categories(info);
  if (list == nullptr) return result;
  std::string_view rest(list);
  while (!rest.empty()) {
    const std::size_t end = rest.find(';');
    if (end != 0) result.push_back(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return result;
}

bool opensKdeModule(GDesktopAppInfo* info) {
  const char* commandLine = g_app_info_get_commandline(G_APP_INFO(info));
  if (commandLine == nullptr) return false;
  int count = 0;
  char** arguments = nullptr;
  if (!g_shell_parse_argv(commandLine, &count, &arguments, nullptr)) return false;
  bool result = false;
  // A field code such as %u or an option is no module name.
  if (count >= 2 && arguments[1][0] != '%' && arguments[1][0] != '-') {
    char* program = g_path_get_basename(arguments[0]);
    result = std::find(kKdeSettingsPrograms.begin(), kKdeSettingsPrograms.end(), program) !=
             kKdeSettingsPrograms.end();
    g_free(program);
  }
  g_strfreev(arguments);
  return result;
}

bool isSettingsPane(GDesktopAppInfo* info) {
  for (std::string_view category : categories(info)) {
    if (category == kGnomePanelCategory || category.starts_with(kKdeSettingsCategoryPrefix) ||
        std::find(kXfceSettingsCategories.begin(), kXfceSettingsCategories.end(), category) !=
            kXfceSettingsCategories.end()) {
      return true;
    }
  }
  return opensKdeModule(info);
}

// Under a bare window manager no desktop is named, and then every desktop's panes count:
// whatever of them is installed still opens there.
bool shownOnThisDesktop(GDesktopAppInfo* info) {
  const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
  if (desktops == nullptr || desktops[0] == '\0') return true;
  return g_desktop_app_info_get_show_in(info, nullptr);
}

std::string desktopIdStem(GAppInfo* info) {
  const char* value = g_app_info_get_id(info);
  std::string id = value ? value : "";
  if (id.ends_with(kDesktopSuffix)) id.resize(id.size() - kDesktopSuffix.size());
  return id;
}

// The first of the localised GenericName, the localised Comment and the program of Exec
// that says more than the name: two entries called "Terminal" are told apart by
// "Terminal-Emulator" against "Dropdown-Terminal", or else by their programs.
std::string description(GDesktopAppInfo* info) {
  const char* shown = g_app_info_get_display_name(G_APP_INFO(info));
  for (const char* text :
       {g_desktop_app_info_get_generic_name(info), g_app_info_get_description(G_APP_INFO(info))}) {
    if (text != nullptr && text[0] != '\0' && (shown == nullptr || std::strcmp(text, shown) != 0)) {
      return name(text);
    }
  }
  const char* program = g_app_info_get_executable(G_APP_INFO(info));
  if (program == nullptr || program[0] == '\0') return "";
  char* base = g_path_get_basename(program);
  std::string result = name(base);
  g_free(base);
  return result;
}

std::vector<ScannedApp> collect(const std::function<bool(GDesktopAppInfo*)>& keep,
                                const std::function<std::string(GDesktopAppInfo*)>& secondName,
                                const std::function<std::string(GDesktopAppInfo*)>& describe) {
  std::vector<ScannedApp> result;
  GList* all = g_app_info_get_all();
  for (GList* node = all; node != nullptr; node = node->next) {
    auto* appInfo = static_cast<GAppInfo*>(node->data);
    if (!G_IS_DESKTOP_APP_INFO(appInfo)) continue;
    auto* info = G_DESKTOP_APP_INFO(appInfo);
    const char* file = g_desktop_app_info_get_filename(info);
    if (file == nullptr || !keep(info)) continue;
    result.push_back(ScannedApp{.name = name(g_app_info_get_display_name(appInfo)),
                                .alternateName = secondName(info),
                                .path = file,
                                .url = std::nullopt,
                                .description = describe(info)});
  }
  g_list_free_full(all, g_object_unref);
  return result;
}

}  // namespace

std::vector<ScannedApp> GioAppScanner::scanApps() const {
  return collect(
      [](GDesktopAppInfo* info) {
        return g_app_info_should_show(G_APP_INFO(info)) && !isSettingsPane(info);
      },
      [](GDesktopAppInfo* info) {
        char* untranslated = g_desktop_app_info_get_string(info, kNameKey);
        std::string alternate = name(untranslated);
        g_free(untranslated);
        return alternate == name(g_app_info_get_display_name(G_APP_INFO(info))) ? std::string()
                                                                                : alternate;
      },
      description);
}

std::vector<ScannedApp> GioAppScanner::scanSettings() const {
  return collect(
      [](GDesktopAppInfo* info) { return isSettingsPane(info) && shownOnThisDesktop(info); },
      [](GDesktopAppInfo* info) { return desktopIdStem(G_APP_INFO(info)); },
      [](GDesktopAppInfo*) { return std::string(); });
}

}  // namespace varek
