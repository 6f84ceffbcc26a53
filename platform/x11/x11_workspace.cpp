#include "platform/x11/x11_workspace.h"

#include <unistd.h>

// GLib names a struct member "signals", which Qt's keyword macro would rewrite: GIO comes
// before any Qt header.
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/linux/desktop_entries.h"
#include "search/unicode.h"

namespace varek {
namespace {

// Reading the desktop entries costs a quarter of a second of CPU at 10 000 of them; an
// unknown window class is worth a fresh read, but a burst of them must not cost one each.
constexpr auto kRereadInterval = std::chrono::seconds(30);
// A file manager started for the call needs a moment; beyond this the parent folder serves
// the user better than waiting.
constexpr int kFileManagerTimeoutMs = 3000;
constexpr const char* kFileManagerService = "org.freedesktop.FileManager1";
constexpr const char* kFileManagerPath = "/org/freedesktop/FileManager1";
constexpr std::string_view kDesktopSuffix = ".desktop";

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

// The desktop entries by the window classes they name, read on threads of their own.
struct X11Workspace::Catalog : std::enable_shared_from_this<Catalog> {
  struct Entry {
    std::string name;
    std::string path;
  };
  struct Tables {
    std::unordered_map<std::string, Entry> byWindowClass;  // StartupWMClass, as written
    std::unordered_map<std::string, Entry> byDesktopId;    // lower case, without ".desktop"
  };

  std::atomic<std::uint64_t> generation = 0;  // rises with every read that completes

  void readNow() { store(read(DesktopEnvironment::current())); }

  // Starts a read unless one runs; false when no thread could be had for it.
  bool readInBackground() {
    {
      const std::lock_guard lock(mutex_);
      if (reading_) return true;
      reading_ = true;
      lastRead_ = std::chrono::steady_clock::now();
    }
    try {
      std::thread([catalog = shared_from_this(), environment = DesktopEnvironment::current()] {
        catalog->store(read(environment));
      }).detach();
      return true;
    } catch (const std::system_error&) {
      const std::lock_guard lock(mutex_);
      reading_ = false;
      readDone_.notify_all();
      return false;
    }
  }

  // The entry of a window's class: its StartupWMClass names the class (or the instance),
  // else its desktop id is the class or the instance in lower case.
  std::optional<Entry> find(const X11Desktop::Client& client) {
    const std::string lowerClass = unicode::lowercase(client.windowClass);
    const std::string lowerInstance = unicode::lowercase(client.instance);
    std::unique_lock lock(mutex_);
    // A window named by its class before the first read ends would keep that name until the
    // panel next opens; the rest of that read, begun with the workspace, is waited for.
    readDone_.wait(lock, [this] { return generation > 0 || !reading_; });
    for (const auto& [table, key] : {std::pair{&tables_.byWindowClass, &client.windowClass},
                                     std::pair{&tables_.byWindowClass, &client.instance},
                                     std::pair{&tables_.byDesktopId, &lowerClass},
                                     std::pair{&tables_.byDesktopId, &lowerInstance}}) {
      if (key->empty()) continue;
      if (const auto found = table->find(*key); found != table->end()) return found->second;
    }
    // Once per class: an application installed after our last read gets its name soon.
    const auto now = std::chrono::steady_clock::now();
    if (client.windowClass.empty() || reading_ || missed_.contains(client.windowClass) ||
        now - lastRead_ < kRereadInterval) {
      return std::nullopt;
    }
    missed_.insert(client.windowClass);
    lock.unlock();
    readInBackground();
    return std::nullopt;
  }

 private:
  static Tables read(const DesktopEnvironment& environment) {
    const std::vector<DesktopEntry> entries = readDesktopEntries(environment);
    Tables tables;
    // Of entries that share a class (or an id in lower case) the first by desktop id that a
    // menu shows wins: an application's hidden helpers, such as its URL handler, often name
    // its class too.
    for (const bool shown : {true, false}) {
      for (const DesktopEntry& entry : entries) {
        if ((!entry.noDisplay && entry.shownOnDesktop) != shown) continue;
        const Entry value{entry.name, entry.path};
        if (!entry.startupWindowClass.empty()) {
          tables.byWindowClass.emplace(entry.startupWindowClass, value);
        }
        std::string key = unicode::lowercase(entry.id);
        if (key.ends_with(kDesktopSuffix)) key.resize(key.size() - kDesktopSuffix.size());
        tables.byDesktopId.emplace(std::move(key), value);
      }
    }
    return tables;
  }

  void store(Tables fresh) {
    const std::lock_guard lock(mutex_);
    lastRead_ = std::chrono::steady_clock::now();
    tables_ = std::move(fresh);
    ++generation;
    reading_ = false;
    readDone_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable readDone_;
  Tables tables_;
  std::unordered_set<std::string> missed_;
  std::chrono::steady_clock::time_point lastRead_;
  bool reading_ = false;
};

X11Workspace::X11Workspace(X11Desktop& desktop)
    : desktop_(desktop), catalog_(std::make_shared<Catalog>()) {
  // Without a display no window will ever need a name; the command line starts faster.
  // With one, the entries are read beside the rest of the start.
  if (desktop_.connection() && !catalog_->readInBackground()) catalog_->readNow();
}

X11Workspace::~X11Workspace() = default;

std::vector<RunningApp> X11Workspace::applications(
    const std::shared_ptr<const X11Desktop::Snapshot>& snapshot) const {
  const std::uint64_t generation = catalog_->generation;
  {
    const std::lock_guard lock(mutex_);
    if (builtFrom_ == snapshot && builtWithCatalog_ == generation) return applications_;
  }
  const int self = getpid();
  std::vector<RunningApp> apps;
  std::vector<const X11Desktop::Client*> namedAfter;  // a normal window if it has one
  for (const X11Desktop::Client& client : snapshot->clients) {
    if (client.application == self) continue;
    std::size_t index = 0;
    while (index < apps.size() && apps[index].pid != client.application) ++index;
    if (index == apps.size()) {
      apps.push_back(
          {.pid = client.application, .name = {}, .path = std::nullopt, .regular = false});
      namedAfter.push_back(&client);
    } else if (client.normal && !namedAfter[index]->normal) {
      namedAfter[index] = &client;
    }
    apps[index].regular = apps[index].regular || client.normal;
  }
  for (std::size_t index = 0; index < apps.size(); ++index) {
    const X11Desktop::Client& client = *namedAfter[index];
    if (const auto entry = catalog_->find(client)) {
      apps[index].name = entry->name;
      apps[index].path = entry->path;
    } else {
      apps[index].name = client.windowClass.empty() ? client.instance : client.windowClass;
    }
  }
  const std::lock_guard lock(mutex_);
  builtFrom_ = snapshot;
  builtWithCatalog_ = generation;
  applications_ = apps;
  return apps;
}

std::vector<RunningApp> X11Workspace::runningApplications() const {
  return applications(desktop_.snapshot());
}

std::optional<RunningApp> X11Workspace::frontmostApplication() const {
  const auto snapshot = desktop_.snapshot();
  const int self = getpid();
  const X11Desktop::Client* front = snapshot->find(snapshot->active);
  if (front && front->application == self) {
    front = nullptr;
    for (const X11Desktop::Client& client : snapshot->clients) {
      if (client.application != self && client.activation > 0 &&
          (!front || client.activation > front->activation)) {
        front = &client;
      }
    }
  }
  if (!front) return std::nullopt;
  for (const RunningApp& app : applications(snapshot)) {
    if (app.pid == front->application) return app;
  }
  return std::nullopt;
}

bool X11Workspace::openUrl(const std::string& url) { return launchDefault(url); }

bool X11Workspace::openFile(const std::string& path) { return launchDefault(fileUri(path)); }

bool X11Workspace::openApplication(const std::string& path) {
  GDesktopAppInfo* entry = g_desktop_app_info_new_from_filename(path.c_str());
  if (!entry) return false;
  GError* error = nullptr;
  const bool launched = g_app_info_launch(G_APP_INFO(entry), nullptr, nullptr, &error);
  if (error) g_error_free(error);
  g_object_unref(entry);
  return launched;
}

void X11Workspace::reveal(const std::string& path) {
  if (path.empty()) return;
  const std::string item = withoutTrailingSlashes(path);
  if (showInFileManager(fileUri(item))) return;
  openFile(std::filesystem::path(item).parent_path().string());
}

void X11Workspace::activate(int pid) {
  if (!desktop_.connection() || pid == 0) return;
  const auto snapshot = desktop_.snapshot();
  const std::optional<xcb_window_t> target = snapshot->latestOf(pid, true);
  if (!target) return;
  // Lowest first, so that the windows keep their order among themselves.
  const std::vector<X11Desktop::Client> windows = snapshot->clientsOf(pid);
  for (auto window = windows.rbegin(); window != windows.rend(); ++window) {
    if (window->normal && window->id != *target) {
      xcb_ewmh_request_restack_window(desktop_.ewmh(), desktop_.screenNumber(), window->id,
                                      XCB_WINDOW_NONE, XCB_STACK_MODE_ABOVE);
    }
  }
  desktop_.activate(*target);
}

void X11Workspace::terminate(int pid) {
  if (!desktop_.connection() || pid == 0) return;
  for (const X11Desktop::Client& client : desktop_.snapshot()->clientsOf(pid)) {
    xcb_ewmh_request_close_window(desktop_.ewmh(), desktop_.screenNumber(), client.id,
                                  XCB_CURRENT_TIME, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
  }
  desktop_.flush();
}

void X11Workspace::beep() {
  ++beeps_;
  if (!desktop_.connection()) return;
  xcb_bell(desktop_.connection(), 0);
  desktop_.flush();
}

}  // namespace varek
