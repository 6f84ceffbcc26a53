// Prints GIO's own listing of the desktop entries, the reference for the scanner's test:
// one line an entry, sorted by desktop id, "id<TAB>file<TAB>display name<TAB>1 when a menu
// shows it<TAB>StartupWMClass". It runs as a process of its own because GIO reads the data
// folders and XDG_CURRENT_DESKTOP once per process.
#include <gio/gdesktopappinfo.h>

#include <cstdio>
#include <map>
#include <string>

int main() {
  std::map<std::string, std::string> lines;
  GList* all = g_app_info_get_all();
  for (GList* node = all; node != nullptr; node = node->next) {
    auto* info = G_APP_INFO(node->data);
    if (!G_IS_DESKTOP_APP_INFO(info)) continue;
    auto* entry = G_DESKTOP_APP_INFO(info);
    const std::string id = g_app_info_get_id(info);
    const char* windowClass = g_desktop_app_info_get_startup_wm_class(entry);
    lines[id] = id + "\t" + g_desktop_app_info_get_filename(entry) + "\t" +
                g_app_info_get_display_name(info) + "\t" +
                (g_app_info_should_show(info) ? "1\t" : "0\t") + (windowClass ? windowClass : "") +
                "\n";
  }
  g_list_free_full(all, g_object_unref);
  for (const auto& [id, line] : lines) std::fputs(line.c_str(), stdout);
}
