#include "platform/linux/system_actions.h"

#define G_SETTINGS_ENABLE_BACKEND
#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QUrl>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>
#include <utility>

#include "sources/commands.h"

#ifdef VAREK_WAYLAND
#include "platform/wayland/wayland_connection.h"
#endif

namespace varek {
namespace {

using Method = LinuxSystemActions::Method;
using Requirement = LinuxSystemActions::Requirement;
using Kind = Requirement::Kind;

// One queue for all actions, so that two quick toggles read and write one after the other.
const std::string kQueue = "system-actions";
// The services answer at once or not at all; a hung one must not hold up later actions
// for D-Bus's default of 25 seconds.
constexpr int kReplyTimeoutMs = 2000;

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
constexpr const char* kLogindSession = "org.freedesktop.login1.Session";
constexpr const char* kScreenSaver = "org.freedesktop.ScreenSaver";
constexpr const char* kScreenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kNetworkManager = "org.freedesktop.NetworkManager";
constexpr const char* kNetworkManagerPath = "/org/freedesktop/NetworkManager";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
constexpr const char* kWirelessEnabled = "WirelessEnabled";
constexpr const char* kGnomeSession = "org.gnome.SessionManager";
constexpr const char* kKdeSession = "org.kde.ksmserver";
constexpr const char* kXfceSession = "org.xfce.SessionManager";
// GNOME's Logout mode 1 skips the confirmation dialog: the launcher asked already.
constexpr unsigned kGnomeLogoutWithoutDialog = 1;

constexpr const char* kInterfaceSchema = "org.gnome.desktop.interface";
constexpr const char* kColorSchemeKey = "color-scheme";
constexpr std::string_view kDarkScheme = "prefer-dark";
constexpr std::string_view kDefaultScheme = "default";
// GIO falls back to these when no real settings store is installed: a change made there
// reaches no other program and is gone when we exit.
constexpr std::array<std::string_view, 2> kVolatileBackends = {"GMemorySettingsBackend",
                                                               "GNullSettingsBackend"};

constexpr const char* kTrashAddress = "trash:///";
constexpr const char* kTrashScheme = "trash";
constexpr const char* kTrashHandlerType = "x-scheme-handler/trash";
constexpr const char* kFolderType = "inode/directory";
// The trash folder's contents are the user's own files, readable by nobody else.
constexpr int kTrashFolderMode = 0700;

constexpr const char* kShowingDesktop = "_NET_SHOWING_DESKTOP";

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenshotPortal = "org.freedesktop.portal.Screenshot";
constexpr const char* kPortalRequest = "org.freedesktop.portal.Request";
constexpr std::string_view kScreencopyGlobal = "zwlr_screencopy_manager_v1";
// A compositor sends its registry within milliseconds; a silent one is not waited for longer.
constexpr std::chrono::milliseconds kRegistryWait{1000};
// The folder a screenshot tool makes where the user has none, as xdg-user-dirs makes it.
constexpr int kPicturesFolderMode = 0755;
// Names taken by others between the look and the making of the file: tried this often.
constexpr int kScreenshotFileAttempts = 10;

// Every Debian system has this name for the terminal the administrator chose; it takes the
// program to run after -e.
constexpr const char* kTerminal = "x-terminal-emulator";
constexpr const char* kGnomeTerminalSchema = "org.gnome.desktop.default-applications.terminal";
constexpr const char* kKdeGlobals = "kdeglobals";
constexpr std::string_view kKdeTerminalKey = "TerminalApplication";
constexpr const char* kKdeDefaultTerminal = "konsole";
// The user's command is the script's first argument, never part of its text, so it needs
// no quoting. It runs in a subshell, so that an "exit" in it still leaves its output on
// screen until the user closes the window.
constexpr const char* kKeepOpenScript =
    "(eval \"$1\"); printf '\\n[Eingabetaste drücken zum Schließen]'; read -r _";

// A tool that does not end within this time is taken to hang and stopped.
constexpr int kToolTimeoutMs = 5000;
// What a failing tool said, as far as it goes into the log.
constexpr int kToolMessageLength = 200;

Requirement systemService(const char* name) { return {Kind::systemService, name}; }
Requirement sessionService(const char* name) { return {Kind::sessionService, name}; }
Requirement program(const char* name) { return {Kind::program, name}; }
Requirement display() { return {Kind::display, ""}; }

bool named(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && value[0] != '\0';
}

std::vector<Method> candidates(SystemAction action) {
  switch (action) {
    case SystemAction::lockScreen:
      return {Method::logindLock, Method::screenSaverLock, Method::loginctlLock,
              Method::xdgScreensaverLock};
    case SystemAction::sleep:
      return {Method::logindSuspend};
    case SystemAction::displaySleep:
      return {Method::xsetDisplayOff};
    case SystemAction::screenSaver:
      return {Method::screenSaverActivate, Method::xdgScreensaverActivate};
    case SystemAction::toggleDarkMode:
      return {Method::colorScheme};
    case SystemAction::toggleMute:
      return {Method::wpctlMute, Method::pactlMute};
    case SystemAction::toggleWifi:
      return {Method::networkManagerWireless};
    case SystemAction::hideAllApps:
      return {Method::showingDesktop};
    case SystemAction::screenshot:
      // wlroots' capture needs no dialog and no desktop service; other Wayland desktops
      // let only their portal capture the screen; the X11 tools come last.
      return {Method::grim,      Method::screenshotPortal,  Method::gnomeScreenshot,
              Method::spectacle, Method::xfceScreenshooter, Method::flameshot};
    case SystemAction::openTrash:
      return {Method::trashAddress, Method::trashFolder};
    case SystemAction::emptyTrash:
      return {Method::emptyTrashAddress, Method::emptyTrashFolder};
    case SystemAction::restart:
      return {Method::logindReboot};
    case SystemAction::shutDown:
      return {Method::logindPowerOff};
    case SystemAction::logOut:
      return {Method::gnomeLogout, Method::kdeLogout, Method::xfceLogout, Method::logindTerminate,
              Method::loginctlTerminate};
  }
  return {};
}

std::string title(SystemAction action) {
  for (const Commands::Command& command : Commands::all()) {
    if (command.action == action) return command.title;
  }
  return "?";
}

bool hasOwner(const QDBusConnection& bus, const std::string& name) {
  if (!bus.isConnected()) return false;
  QDBusMessage question = QDBusMessage::createMethodCall(
      "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner");
  question << QString::fromStdString(name);
  const QDBusMessage reply = bus.call(question, QDBus::Block, kReplyTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
         reply.arguments().constFirst().toBool();
}

// Also a name the bus would start on the first call, as it does the desktop portal.
bool startable(const QDBusConnection& bus, const std::string& name) {
  if (hasOwner(bus, name)) return true;
  const QDBusMessage reply =
      bus.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                              "org.freedesktop.DBus", "ListActivatableNames"),
               QDBus::Block, kReplyTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
         reply.arguments().constFirst().toStringList().contains(QString::fromStdString(name));
}

// sway is wlroots' own compositor; another shows that it is one by offering wlroots' capture.
bool screencopyOffered() {
  if (!named("WAYLAND_DISPLAY")) return false;
  if (named("SWAYSOCK")) return true;
#ifdef VAREK_WAYLAND
  const WaylandConnection connection(std::nullopt, kRegistryWait);
  const auto& globals = connection.globals();
  return std::any_of(globals.begin(), globals.end(), [](const WaylandConnection::Global& global) {
    return global.interface == kScreencopyGlobal;
  });
#else
  return false;
#endif
}

std::string findProgram(const std::string& name) {
  return QStandardPaths::findExecutable(QString::fromStdString(name)).toStdString();
}

bool colorSchemeStored() {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  if (source == nullptr) return false;
  GSettingsSchema* schema = g_settings_schema_source_lookup(source, kInterfaceSchema, TRUE);
  if (schema == nullptr) return false;
  const bool hasKey = g_settings_schema_has_key(schema, kColorSchemeKey);
  g_settings_schema_unref(schema);
  if (!hasKey) return false;
  GSettingsBackend* backend = g_settings_backend_get_default();
  const std::string_view backendType = G_OBJECT_TYPE_NAME(backend);
  g_object_unref(backend);
  return std::find(kVolatileBackends.begin(), kVolatileBackends.end(), backendType) ==
         kVolatileBackends.end();
}

bool addressSchemeSupported(const std::string& scheme) {
  for (const char* const* known = g_vfs_get_supported_uri_schemes(g_vfs_get_default());
       known != nullptr && *known != nullptr; ++known) {
    if (scheme == *known) return true;
  }
  return false;
}

bool hasHandler(const std::string& contentType) {
  GAppInfo* handler = g_app_info_get_default_for_type(contentType.c_str(), FALSE);
  if (handler == nullptr) return false;
  g_object_unref(handler);
  return true;
}

bool probe(const Requirement& requirement) {
  switch (requirement.kind) {
    case Kind::systemService:
      return hasOwner(QDBusConnection::systemBus(), requirement.name);
    case Kind::sessionService:
      return hasOwner(QDBusConnection::sessionBus(), requirement.name);
    case Kind::program:
      return !findProgram(requirement.name).empty();
    case Kind::display:
      return named("DISPLAY");
    case Kind::wayland:
      return named("WAYLAND_DISPLAY");
    case Kind::screencopy:
      return screencopyOffered();
    case Kind::startable:
      return startable(QDBusConnection::sessionBus(), requirement.name);
    case Kind::colorScheme:
      return colorSchemeStored();
    case Kind::addressScheme:
      return addressSchemeSupported(requirement.name);
    case Kind::handler:
      return hasHandler(requirement.name);
  }
  return false;
}

// Asks each requirement once per action, however many methods share it.
class Probe {
 public:
  bool operator()(const Requirement& requirement) {
    for (const auto& [known, present] : answers_) {
      if (known == requirement) return present;
    }
    answers_.emplace_back(requirement, probe(requirement));
    return answers_.back().second;
  }

 private:
  std::vector<std::pair<Requirement, bool>> answers_;
};

std::string missingLine(const std::string& what, const std::vector<Requirement>& missing) {
  std::string line = "Fehlt für »" + what + "«: ";
  for (std::size_t index = 0; index < missing.size(); ++index) {
    line += (index == 0 ? "" : ", ") + missing[index].describe();
  }
  return line;
}

// Empty when the call succeeded, else the service's error.
std::string call(const QDBusConnection& bus, const QString& service, const QString& path,
                 const QString& interface, const QString& member,
                 const QVariantList& arguments = {}, QDBusMessage* reply = nullptr) {
  QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, member);
  message.setArguments(arguments);
  const QDBusMessage answer = bus.call(message, QDBus::Block, kReplyTimeoutMs);
  if (reply != nullptr) *reply = answer;
  if (answer.type() == QDBusMessage::ReplyMessage) return "";
  return (answer.errorName() + ": " + answer.errorMessage()).toStdString();
}

std::string callLogind(const QString& member, const QVariantList& arguments = {}) {
  return call(QDBusConnection::systemBus(), kLogind, kLogindPath, kLogindManager, member,
              arguments);
}

// Our own session, or the one the environment names when we run outside it (a user
// service, for instance).
std::string callOwnSession(const QString& member) {
  const QDBusConnection bus = QDBusConnection::systemBus();
  QDBusMessage reply;
  std::string error = call(bus, kLogind, kLogindPath, kLogindManager, "GetSessionByPID",
                           {QVariant::fromValue(static_cast<uint>(getpid()))}, &reply);
  const char* sessionId = std::getenv("XDG_SESSION_ID");
  if (!error.empty() && sessionId != nullptr && sessionId[0] != '\0') {
    error = call(bus, kLogind, kLogindPath, kLogindManager, "GetSession",
                 {QString::fromUtf8(sessionId)}, &reply);
  }
  if (!error.empty()) return error;
  if (reply.arguments().isEmpty()) return "logind nannte keine Sitzung";
  const QString session = reply.arguments().constFirst().value<QDBusObjectPath>().path();
  return call(bus, kLogind, session, kLogindSession, member);
}

std::string callScreenSaver(const QString& member, const QVariantList& arguments = {}) {
  return call(QDBusConnection::sessionBus(), kScreenSaver, kScreenSaverPath, kScreenSaver, member,
              arguments);
}

std::string toggleWireless() {
  const QDBusConnection bus = QDBusConnection::systemBus();
  QDBusMessage reply;
  const std::string error = call(bus, kNetworkManager, kNetworkManagerPath, kProperties, "Get",
                                 {QString(kNetworkManager), QString(kWirelessEnabled)}, &reply);
  if (!error.empty()) return error;
  const QVariant enabled = reply.arguments().value(0).value<QDBusVariant>().variant();
  if (enabled.metaType().id() != QMetaType::Bool)
    return "NetworkManager nannte keinen WLAN-Zustand";
  return call(bus, kNetworkManager, kNetworkManagerPath, kProperties, "Set",
              {QString(kNetworkManager), QString(kWirelessEnabled),
               QVariant::fromValue(QDBusVariant(!enabled.toBool()))});
}

std::string toggleColorScheme() {
  GSettings* settings = g_settings_new(kInterfaceSchema);
  char* current = g_settings_get_string(settings, kColorSchemeKey);
  const std::string wanted(current == kDarkScheme ? kDefaultScheme : kDarkScheme);
  g_free(current);
  const bool written = g_settings_set_string(settings, kColorSchemeKey, wanted.c_str());
  g_settings_sync();
  // A store that refused the change shows it only here.
  char* stored = g_settings_get_string(settings, kColorSchemeKey);
  const bool kept = written && wanted == stored;
  g_free(stored);
  g_object_unref(settings);
  return kept ? "" : "Farbschema blieb unverändert";
}

std::string requestShowingDesktop(xcb_connection_t* connection, int screenNumber) {
  if (xcb_connection_has_error(connection)) return "keine Verbindung zur Anzeige";
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int index = 0; index < screenNumber && screens.rem > 0; ++index) {
    xcb_screen_next(&screens);
  }
  if (screens.rem == 0) return "Anzeige ohne Bildschirm";
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, std::strlen(kShowingDesktop), kShowingDesktop),
      nullptr);
  if (atom == nullptr) return "Anzeige kennt kein " + std::string(kShowingDesktop);
  // The window manager owns the property and acts on this request to the root window.
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = screens.data->root;
  event.type = atom->atom;
  event.data.data32[0] = 1;
  std::free(atom);
  xcb_send_event(connection, 0, screens.data->root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                 reinterpret_cast<const char*>(&event));
  // A round trip, so the request has reached the server before the connection closes.
  std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
  return "";
}

// A connection of its own: the job runs off the main thread, away from Qt's.
std::string showDesktop() {
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
  std::string error = requestShowingDesktop(connection, screenNumber);
  xcb_disconnect(connection);
  return error;
}

// The error's message; frees the error.
std::string errorText(GError** error) {
  std::string text = *error != nullptr ? (*error)->message : "unbekannter Fehler";
  g_clear_error(error);
  return text;
}

std::string openAddress(const std::string& address) {
  GError* error = nullptr;
  if (g_app_info_launch_default_for_uri(address.c_str(), nullptr, &error)) return "";
  return errorText(&error);
}

// Where GIO puts what the user trashes on the home file system.
std::filesystem::path homeTrash() { return std::filesystem::path(g_get_user_data_dir()) / "Trash"; }

std::string openTrashFolder() {
  const std::filesystem::path files = homeTrash() / "files";
  g_mkdir_with_parents(files.c_str(), kTrashFolderMode);
  GFile* folder = g_file_new_for_path(files.c_str());
  char* address = g_file_get_uri(folder);
  std::string error = openAddress(address);
  g_free(address);
  g_object_unref(folder);
  return error;
}

// GVfs's trash covers the trash folders of every mounted drive and keeps its own
// bookkeeping right; deleting its top-level entries deletes them whole.
std::string emptyTrashAddress() {
  GFile* trash = g_file_new_for_uri(kTrashAddress);
  GError* error = nullptr;
  GFileEnumerator* children = g_file_enumerate_children(
      trash, G_FILE_ATTRIBUTE_STANDARD_NAME, G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, nullptr, &error);
  g_object_unref(trash);
  if (children == nullptr) return errorText(&error);
  std::string failure;
  GFile* child = nullptr;
  while (g_file_enumerator_iterate(children, nullptr, &child, nullptr, &error) &&
         child != nullptr) {
    GError* deleteError = nullptr;
    if (!g_file_delete(child, nullptr, &deleteError)) {
      const std::string text = errorText(&deleteError);
      if (failure.empty()) failure = text;
    }
  }
  if (error != nullptr) failure = errorText(&error);
  g_object_unref(children);
  return failure;
}

// Without GVfs only the home trash is in reach; the trash folders of other drives need its
// view over all mounts. The files go before their descriptions, so an interruption leaves
// no description of a file that is gone.
std::string emptyTrashFolder() {
  namespace fs = std::filesystem;
  std::string failure;
  for (const char* half : {"files", "info"}) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator entry(homeTrash() / half, error), end; !error && entry != end;
         entry.increment(error)) {
      entries.push_back(entry->path());
    }
    for (const fs::path& entry : entries) {
      fs::remove_all(entry, error);
      if (error && failure.empty()) failure = entry.string() + ": " + error.message();
    }
  }
  return failure;
}

// For a tool whose work ends outside it (a screenshot tool, a lock screen) starting it is
// all that can be checked.
std::string start(const char* name, const std::vector<std::string>& arguments) {
  const std::string path = findProgram(name);
  if (path.empty()) return std::string(name) + " nicht gefunden";
  Commands::shell(path, arguments);
  return "";
}

// A tool whose exit status says whether it worked, run to its end (we are on the
// background queue); empty when it did, else what went wrong in the tool's own words.
std::string runTool(const char* name, const QStringList& arguments) {
  const std::string path = findProgram(name);
  if (path.empty()) return std::string(name) + " nicht gefunden";
  QProcess process;
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardOutputFile(QProcess::nullDevice());
  process.start(QString::fromStdString(path), arguments);
  if (!process.waitForFinished(kToolTimeoutMs)) {
    const bool started = process.state() != QProcess::NotRunning;
    process.kill();
    process.waitForFinished();
    return std::string(name) + (started ? ": keine Antwort" : ": startet nicht");
  }
  if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) return "";
  const QString said = QString::fromUtf8(process.readAllStandardError())
                           .trimmed()
                           .section(QLatin1Char('\n'), 0, 0)
                           .left(kToolMessageLength);
  if (!said.isEmpty()) return std::string(name) + ": " + said.toStdString();
  if (process.exitStatus() != QProcess::NormalExit) return std::string(name) + ": abgestürzt";
  return std::string(name) + ": Exit-Status " + std::to_string(process.exitCode());
}

// The user's pictures folder as xdg-user-dirs names it, else ~/Bilder or ~/Pictures,
// whichever there is, else a new ~/Bilder.
std::filesystem::path picturesFolder() {
  if (const char* folder = g_get_user_special_dir(G_USER_DIRECTORY_PICTURES)) return folder;
  const std::filesystem::path home = g_get_home_dir();
  for (const char* name : {"Bilder", "Pictures"}) {
    std::error_code error;
    if (std::filesystem::is_directory(home / name, error)) return home / name;
  }
  return home / "Bilder";
}

// A new, empty file for a screenshot taken now, made exclusively so that nothing else is
// ever written over; empty with the reason in `failure` where none could be made.
struct ScreenshotFile {
  std::filesystem::path path;
  std::string failure;
};

ScreenshotFile makeScreenshotFile() {
  namespace fs = std::filesystem;
  const fs::path folder = picturesFolder();
  if (g_mkdir_with_parents(folder.c_str(), kPicturesFolderMode) != 0) {
    return {{}, folder.string() + ": " + std::strerror(errno)};
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const auto taken = [](const fs::path& file) {
    std::error_code error;
    return fs::exists(fs::symlink_status(file, error));
  };
  for (int attempt = 0; attempt < kScreenshotFileAttempts; ++attempt) {
    const fs::path file = LinuxSystemActions::screenshotFile(folder, local, taken);
    const int made = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (made < 0 && errno == EEXIST) continue;
    if (made < 0) return {{}, file.string() + ": " + std::strerror(errno)};
    ::close(made);
    return {file, ""};
  }
  return {{}, folder.string() + ": kein freier Dateiname"};
}

// grim captures every output into one PNG and tells by its exit status whether it did.
std::string grimScreenshot() {
  const ScreenshotFile file = makeScreenshotFile();
  if (file.path.empty()) return file.failure;
  std::string failure = runTool("grim", {QString::fromStdString(file.path.string())});
  // An empty file left behind would look like a picture that failed to open.
  std::error_code ignored;
  if (!failure.empty()) std::filesystem::remove(file.path, ignored);
  return failure;
}

// Moves a picture the portal handed back into the pictures folder, unless it is there
// already. Only a PNG that is a file of its own is taken: the path comes from another
// program, and no other file of the user's is ever moved.
void keepPortalPicture(const std::filesystem::path& picture) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::symlink_status(picture, error);
  if (error || !fs::is_regular_file(status) ||
      QString::fromStdString(picture.extension().string()).compare(".png", Qt::CaseInsensitive) !=
          0) {
    return;
  }
  const fs::path folder = fs::weakly_canonical(picturesFolder(), error);
  const fs::path within = fs::weakly_canonical(picture, error).lexically_relative(folder);
  if (!within.empty() && *within.begin() != "..") return;
  const ScreenshotFile file = makeScreenshotFile();
  if (file.path.empty()) return;
  fs::rename(picture, file.path, error);
  // A temporary folder on another file system: copied, then removed.
  if (error && fs::copy_file(picture, file.path, fs::copy_options::overwrite_existing, error)) {
    fs::remove(picture, error);
  } else if (error) {
    fs::remove(file.path, error);
  }
}

// Hears the portal's answer to one request on the main thread and ends with it (QtDBus
// stops listening for an object that is gone). A portal
// that leaves the picture in a temporary folder (KDE's does) would lose it with the next
// restart, so it is stored as grim's pictures are.
class PortalAnswer : public QObject {
  Q_OBJECT

 public:
  explicit PortalAnswer(QString request) : request_(std::move(request)) {}
  bool listen() {
    return QDBusConnection::sessionBus().connect(kPortal, request_, kPortalRequest, "Response",
                                                 this, SLOT(response(uint, QVariantMap)));
  }

 public slots:
  void response(uint code, const QVariantMap& results) {
    deleteLater();
    // 1: the user cancelled; 2: the desktop failed and said so itself.
    if (code != 0) return;
    const QUrl address(results.value(QStringLiteral("uri")).toString());
    if (address.isLocalFile()) keepPortalPicture(address.toLocalFile().toStdString());
  }

 private:
  QString request_;
};

// The desktop's own dialog takes over from here. Its answer names a request object made
// from our connection's name and a token of ours; it is listened for before asking, so
// that it cannot come first.
std::string askScreenshotPortal() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  static std::atomic<unsigned> requests = 0;
  const QString token = QStringLiteral("varek%1").arg(++requests);
  const QString sender = bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
  auto* answer =
      new PortalAnswer(QStringLiteral("%1/request/%2/%3").arg(kPortalPath, sender, token));
  answer->moveToThread(QCoreApplication::instance()->thread());
  if (!answer->listen()) {
    answer->deleteLater();
    return "Antwort des Portals nicht zu hören";
  }
  const QVariantMap options{{QStringLiteral("interactive"), true},
                            {QStringLiteral("handle_token"), token}};
  std::string error =
      call(bus, kPortal, kPortalPath, kScreenshotPortal, "Screenshot", {QString(), options});
  // Without a request there is no answer to wait for; QtDBus stops listening with it.
  if (!error.empty()) answer->deleteLater();
  return error;
}

std::string run(Method method) {
  switch (method) {
    case Method::logindLock:
      return callOwnSession("Lock");
    case Method::screenSaverLock:
      return callScreenSaver("Lock");
    case Method::loginctlLock:
      return start("loginctl", {"lock-session"});
    case Method::xdgScreensaverLock:
      return start("xdg-screensaver", {"lock"});
    case Method::logindSuspend:
      return callLogind("Suspend", {false});
    case Method::xsetDisplayOff:
      return start("xset", {"dpms", "force", "off"});
    case Method::screenSaverActivate:
      return callScreenSaver("SetActive", {true});
    case Method::xdgScreensaverActivate:
      return start("xdg-screensaver", {"activate"});
    case Method::colorScheme:
      return toggleColorScheme();
    case Method::wpctlMute:
      return runTool("wpctl", {"set-mute", "@DEFAULT_AUDIO_SINK@", "toggle"});
    case Method::pactlMute:
      return runTool("pactl", {"set-sink-mute", "@DEFAULT_SINK@", "toggle"});
    case Method::networkManagerWireless:
      return toggleWireless();
    case Method::showingDesktop:
      return showDesktop();
    case Method::grim:
      return grimScreenshot();
    case Method::screenshotPortal:
      return askScreenshotPortal();
    case Method::gnomeScreenshot:
      return start("gnome-screenshot", {"-i"});
    case Method::spectacle:
      return start("spectacle", {});
    case Method::xfceScreenshooter:
      return start("xfce4-screenshooter", {});
    case Method::flameshot:
      return start("flameshot", {"gui"});
    case Method::trashAddress:
      return openAddress(kTrashAddress);
    case Method::trashFolder:
      return openTrashFolder();
    case Method::emptyTrashAddress:
      return emptyTrashAddress();
    case Method::emptyTrashFolder:
      return emptyTrashFolder();
    case Method::logindReboot:
      return callLogind("Reboot", {false});
    case Method::logindPowerOff:
      return callLogind("PowerOff", {false});
    case Method::gnomeLogout:
      return call(QDBusConnection::sessionBus(), kGnomeSession, "/org/gnome/SessionManager",
                  kGnomeSession, "Logout", {kGnomeLogoutWithoutDialog});
    case Method::kdeLogout:
      // No confirmation, the default shutdown type and mode.
      return call(QDBusConnection::sessionBus(), kKdeSession, "/KSMServer",
                  "org.kde.KSMServerInterface", "logout", {0, 0, 0});
    case Method::xfceLogout:
      // No dialog; let the applications save their state.
      return call(QDBusConnection::sessionBus(), kXfceSession, "/org/xfce/SessionManager",
                  "org.xfce.Session.Manager", "Logout", {false, true});
    case Method::logindTerminate:
      return callOwnSession("Terminate");
    case Method::loginctlTerminate: {
      const char* sessionId = std::getenv("XDG_SESSION_ID");
      if (sessionId == nullptr || sessionId[0] == '\0') return "XDG_SESSION_ID ist leer";
      return start("loginctl", {"terminate-session", sessionId});
    }
  }
  return "unbekannter Weg";
}

bool hasDesktop(std::string_view desktops, std::string_view name) {
  for (std::size_t start = 0; start <= desktops.size();) {
    const std::size_t end = std::min(desktops.find(':', start), desktops.size());
    if (desktops.substr(start, end - start) == name) return true;
    start = end + 1;
  }
  return false;
}

// The options before the program a terminal is to run, for the terminals we know; each
// other takes the rest of its command line after -e or the option its settings name.
std::optional<std::vector<std::string>> runOptions(std::string_view terminal) {
  struct Known {
    std::vector<std::string_view> terminals;
    std::vector<std::string> options;
  };
  static const std::vector<Known> kKnown{
      {{"gnome-terminal", "kgx"}, {"--"}},
      {{"xfce4-terminal", "mate-terminal", "terminator"}, {"-x"}},
      {{"wezterm"}, {"start", "--"}},
      {{"kitty", "foot"}, {}},
      {{kTerminal, "xterm", "uxterm", "konsole", "alacritty", "urxvt", "rxvt", "st"}, {"-e"}},
  };
  for (const Known& known : kKnown) {
    if (std::find(known.terminals.begin(), known.terminals.end(), terminal) !=
        known.terminals.end()) {
      return known.options;
    }
  }
  return std::nullopt;
}

std::vector<std::string> commandLineWords(const std::string& commandLine) {
  int count = 0;
  char** words = nullptr;
  if (!g_shell_parse_argv(commandLine.c_str(), &count, &words, nullptr)) return {};
  std::vector<std::string> result(words, words + count);
  g_strfreev(words);
  return result;
}

// KDE writes [General] TerminalApplication only when the user picks a terminal other than
// its default; a key may carry KConfig's flags, as in "TerminalApplication[$e]".
std::optional<std::string> kdeTerminal() {
  std::vector<std::filesystem::path> files{std::filesystem::path(g_get_user_config_dir()) /
                                           kKdeGlobals};
  for (const char* const* folder = g_get_system_config_dirs(); *folder != nullptr; ++folder) {
    files.push_back(std::filesystem::path(*folder) / kKdeGlobals);
  }
  for (const std::filesystem::path& file : files) {
    std::ifstream in(file);
    bool general = false;
    for (std::string line; std::getline(in, line);) {
      if (line.starts_with('[')) {
        general = line.starts_with("[General]");
        continue;
      }
      const std::size_t equals = line.find('=');
      if (!general || equals == std::string::npos) continue;
      std::string_view key = std::string_view(line).substr(0, equals);
      key = key.substr(0, key.find_last_not_of(' ') + 1);
      if (key == kKdeTerminalKey || (key.starts_with(kKdeTerminalKey) &&
                                     key.substr(kKdeTerminalKey.size()).starts_with("[$"))) {
        const std::size_t value = line.find_first_not_of(' ', equals + 1);
        return value == std::string::npos ? std::string() : line.substr(value);
      }
    }
  }
  return std::nullopt;
}

}  // namespace

std::string LinuxSystemActions::Requirement::describe() const {
  switch (kind) {
    case Kind::systemService:
      return name + " (Systembus)";
    case Kind::sessionService:
      return name + " (Sitzungsbus)";
    case Kind::program:
      return name;
    case Kind::display:
      return "X11-Anzeige (DISPLAY)";
    case Kind::colorScheme:
      return std::string("GSettings ") + kInterfaceSchema + " " + kColorSchemeKey;
    case Kind::addressScheme:
      return "GIO-Dateisystem für " + name + ":// (GVfs)";
    case Kind::handler:
      return "Programm für " + name;
    case Kind::screencopy:
      return "wlroots-Bildschirmaufnahme (" + std::string(kScreencopyGlobal) + ")";
    case Kind::wayland:
      return "Wayland-Anzeige (WAYLAND_DISPLAY)";
    case Kind::startable:
      return name + " (Sitzungsbus)";
  }
  return name;
}

std::vector<Requirement> LinuxSystemActions::requirements(Method method) {
  switch (method) {
    case Method::logindLock:
    case Method::logindSuspend:
    case Method::logindReboot:
    case Method::logindPowerOff:
    case Method::logindTerminate:
      return {systemService(kLogind)};
    case Method::screenSaverLock:
    case Method::screenSaverActivate:
      return {sessionService(kScreenSaver)};
    // loginctl is only a client of logind.
    case Method::loginctlLock:
    case Method::loginctlTerminate:
      return {program("loginctl"), systemService(kLogind)};
    case Method::xdgScreensaverLock:
    case Method::xdgScreensaverActivate:
      return {program("xdg-screensaver"), display()};
    case Method::xsetDisplayOff:
      return {program("xset"), display()};
    case Method::colorScheme:
      return {{Kind::colorScheme, kColorSchemeKey}};
    case Method::wpctlMute:
      return {program("wpctl")};
    case Method::pactlMute:
      return {program("pactl")};
    case Method::networkManagerWireless:
      return {systemService(kNetworkManager)};
    case Method::showingDesktop:
      return {display()};
    case Method::grim:
      return {program("grim"), {Kind::screencopy, ""}};
    case Method::screenshotPortal:
      return {{Kind::wayland, ""}, {Kind::startable, kPortal}};
    case Method::gnomeScreenshot:
      return {program("gnome-screenshot")};
    case Method::spectacle:
      return {program("spectacle")};
    case Method::xfceScreenshooter:
      return {program("xfce4-screenshooter")};
    case Method::flameshot:
      return {program("flameshot")};
    case Method::trashAddress:
      return {{Kind::handler, kTrashHandlerType}};
    case Method::trashFolder:
      return {{Kind::handler, kFolderType}};
    case Method::emptyTrashAddress:
      return {{Kind::addressScheme, kTrashScheme}};
    case Method::emptyTrashFolder:
      return {};
    case Method::gnomeLogout:
      return {sessionService(kGnomeSession)};
    case Method::kdeLogout:
      return {sessionService(kKdeSession)};
    case Method::xfceLogout:
      return {sessionService(kXfceSession)};
  }
  return {};
}

std::vector<Method> LinuxSystemActions::methods(SystemAction action, const Present& present) {
  std::vector<Method> usable;
  for (Method method : candidates(action)) {
    const std::vector<Requirement> needs = requirements(method);
    if (std::all_of(needs.begin(), needs.end(), present)) usable.push_back(method);
  }
  return usable;
}

std::filesystem::path LinuxSystemActions::screenshotFile(const std::filesystem::path& folder,
                                                         const std::tm& time, const Taken& taken) {
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H-%M-%S", &time);
  const std::string stem = std::string("Bildschirmfoto vom ") + stamp;
  std::filesystem::path file = folder / (stem + ".png");
  for (int number = 2; taken(file) && number <= kScreenshotFileAttempts * 100; ++number) {
    file = folder / (stem + " (" + std::to_string(number) + ").png");
  }
  return file;
}

LinuxSystemActions::TerminalSettings LinuxSystemActions::terminalSettings() {
  TerminalSettings settings;
  if (const char* desktops = std::getenv("XDG_CURRENT_DESKTOP")) settings.desktops = desktops;
  // GSettings aborts on a schema that is not installed, so it is looked up first.
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  GSettingsSchema* schema =
      source ? g_settings_schema_source_lookup(source, kGnomeTerminalSchema, TRUE) : nullptr;
  if (schema != nullptr && g_settings_schema_has_key(schema, "exec")) {
    GSettings* gnome = g_settings_new_full(schema, nullptr, nullptr);
    char* exec = g_settings_get_string(gnome, "exec");
    settings.gnome = exec;
    g_free(exec);
    if (g_settings_schema_has_key(schema, "exec-arg")) {
      char* option = g_settings_get_string(gnome, "exec-arg");
      settings.gnomeOption = option;
      g_free(option);
    }
    if (GVariant* chosen = g_settings_get_user_value(gnome, "exec")) {
      settings.gnomeChosen = true;
      g_variant_unref(chosen);
    }
    g_object_unref(gnome);
  }
  if (schema != nullptr) g_settings_schema_unref(schema);
  settings.kde = kdeTerminal();
  return settings;
}

std::vector<std::string> LinuxSystemActions::terminalCommand(const TerminalSettings& settings,
                                                             const Locate& locate,
                                                             const std::string& command) {
  struct Candidate {
    std::string commandLine;
    std::string option;  // what its settings say it runs a program with
  };
  const bool onKde = hasDesktop(settings.desktops, "KDE");
  std::vector<Candidate> candidates;
  // GNOME's schema is installed on many desktops that are not GNOME, with gnome-terminal
  // as its default: that default speaks only for GNOME itself.
  const auto gnome = [&] {
    if (settings.gnome && (settings.gnomeChosen || hasDesktop(settings.desktops, "GNOME"))) {
      candidates.push_back({*settings.gnome, settings.gnomeOption});
    }
  };
  const auto kde = [&] {
    if (settings.kde) {
      candidates.push_back({*settings.kde, ""});
    } else if (onKde) {
      candidates.push_back({kKdeDefaultTerminal, ""});
    }
  };
  if (onKde) {
    kde();
    gnome();
  } else {
    gnome();
    kde();
  }
  candidates.push_back({kTerminal, ""});

  for (const Candidate& candidate : candidates) {
    const std::vector<std::string> words = commandLineWords(candidate.commandLine);
    const std::string path = words.empty() ? std::string() : locate(words.front());
    if (path.empty()) continue;
    std::vector<std::string> arguments{path};
    arguments.insert(arguments.end(), words.begin() + 1, words.end());
    const std::string name = std::filesystem::path(words.front()).filename().string();
    const std::vector<std::string> options = runOptions(name).value_or(
        std::vector<std::string>{candidate.option.empty() ? "-e" : candidate.option});
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(), {"/bin/sh", "-c", kKeepOpenScript, "sh", command});
    return arguments;
  }
  return {};
}

// Lives on the main thread only; jobs hold it shared, so a late report outlives us safely.
struct LinuxSystemActions::Reports {
  const Log& log;
  std::function<void()> beep;
  std::set<std::string> logged;

  void report(const std::string& line) {
    if (logged.insert(line).second) log.write(line);
    if (beep) beep();
  }
};

LinuxSystemActions::LinuxSystemActions(Scheduler& scheduler, const Log& log,
                                       std::function<void()> beep)
    : scheduler_(scheduler),
      reports_(std::make_shared<Reports>(Reports{log, std::move(beep), {}})) {}

void LinuxSystemActions::perform(SystemAction action) {
  scheduler_.runSerial(kQueue, [&scheduler = scheduler_, reports = reports_, action] {
    Probe probe;
    const std::vector<Method> usable = methods(action, std::ref(probe));
    if (usable.empty()) {
      std::vector<Requirement> missing;
      for (Method method : candidates(action)) {
        for (const Requirement& requirement : requirements(method)) {
          if (!probe(requirement) &&
              std::find(missing.begin(), missing.end(), requirement) == missing.end()) {
            missing.push_back(requirement);
          }
        }
      }
      scheduler.post(
          [reports, line = missingLine(title(action), missing)] { reports->report(line); });
      return;
    }
    std::string line = "»" + title(action) + "« fehlgeschlagen: ";
    for (std::size_t index = 0; index < usable.size(); ++index) {
      const std::string failure = run(usable[index]);
      if (failure.empty()) return;
      line += (index == 0 ? "" : "; ") + failure;
    }
    scheduler.post([reports, line] { reports->report(line); });
  });
}

void LinuxSystemActions::runInTerminal(const std::string& command) {
  const std::vector<std::string> arguments =
      terminalCommand(terminalSettings(), findProgram, command);
  if (arguments.empty()) {
    reports_->report(missingLine("Im Terminal ausführen", {program(kTerminal)}));
    return;
  }
  Commands::shell(arguments.front(), {arguments.begin() + 1, arguments.end()});
}

}  // namespace varek

#include "system_actions.moc"
