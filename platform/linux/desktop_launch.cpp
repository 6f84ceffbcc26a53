#include "platform/linux/desktop_launch.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <filesystem>
#include <string_view>

namespace varek::DesktopLaunch {
namespace {

// A file manager started for the call needs a moment; beyond this the parent folder serves
// the user better than waiting.
constexpr int kFileManagerTimeoutMs = 3000;
constexpr const char* kFileManagerService = "org.freedesktop.FileManager1";
constexpr const char* kFileManagerPath = "/org/freedesktop/FileManager1";

std::string fileUri(const std::string& path) {
  if (path.empty()) return {};
  GFile* file = g_file_new_for_path(path.c_str());
  char* uri = g_file_get_uri(file);
  std::string result = uri ? uri : "";
  g_free(uri);
  g_object_unref(file);
  return result;
}

bool launchDefault(const std::string& uri) {
  if (uri.empty()) return false;
  GError* error = nullptr;
  const bool launched = g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error);
  if (error) g_error_free(error);
  return launched;
}

// Whether the bus has an owner for the name or can start one on demand.
bool serviceReachable(GDBusConnection* bus, const char* service) {
  g_autoptr(GVariant) owned = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", service), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE,
      kFileManagerTimeoutMs, nullptr, nullptr);
  gboolean hasOwner = FALSE;
  if (owned) g_variant_get(owned, "(b)", &hasOwner);
  if (hasOwner) return true;
  g_autoptr(GVariant) activatable = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE,
      kFileManagerTimeoutMs, nullptr, nullptr);
  if (!activatable) return false;
  g_autofree const gchar** names = nullptr;
  g_variant_get(activatable, "(^a&s)", &names);
  for (const gchar** name = names; name != nullptr && *name != nullptr; ++name) {
    if (std::string_view(*name) == service) return true;
  }
  return false;
}

// GIO's own connection to the session bus, so that revealing needs no Qt D-Bus.
bool showInFileManager(const std::string& uri) {
  if (uri.empty()) return false;
  g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  // A file manager that the bus starts on demand has no owner yet but can be activated.
  if (!bus || !serviceReachable(bus, kFileManagerService)) return false;
  const gchar* const uris[] = {uri.c_str(), nullptr};
  g_autoptr(GVariant) reply =
      g_dbus_connection_call_sync(bus, kFileManagerService, kFileManagerPath, kFileManagerService,
                                  "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr,
                                  G_DBUS_CALL_FLAGS_NONE, kFileManagerTimeoutMs, nullptr, nullptr);
  return reply != nullptr;
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool openUrl(const std::string& url) { return launchDefault(url); }

bool openFile(const std::string& path) { return launchDefault(fileUri(path)); }

bool openApplication(const std::string& path) {
  GDesktopAppInfo* entry = g_desktop_app_info_new_from_filename(path.c_str());
  if (!entry) return false;
  GError* error = nullptr;
  const bool launched = g_app_info_launch(G_APP_INFO(entry), nullptr, nullptr, &error);
  if (error) g_error_free(error);
  g_object_unref(entry);
  return launched;
}

void reveal(const std::string& path) {
  if (path.empty()) return;
  const std::string item = withoutTrailingSlashes(path);
  if (showInFileManager(fileUri(item))) return;
  openFile(std::filesystem::path(item).parent_path().string());
}

}  // namespace varek::DesktopLaunch
