#include "sources/commands.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <system_error>
#include <thread>

#include "search/unicode.h"

extern char** environ;

namespace varek::Commands {
namespace {

constexpr const char* kNullDevice = "/dev/null";
// Large enough that a long listing needs few reads, small enough for the stack.
constexpr std::size_t kReadChunk = 16 * 1024;

// posix_spawn wants a mutable, null-terminated array whose first entry names the program.
std::vector<char*> argumentVector(const std::string& path,
                                  const std::vector<std::string>& arguments) {
  std::vector<char*> vector;
  vector.reserve(arguments.size() + 2);
  vector.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& argument : arguments)
    vector.push_back(const_cast<char*>(argument.c_str()));
  vector.push_back(nullptr);
  return vector;
}

// Owns a posix_spawn_file_actions_t, so every early return destroys it. A failed step makes
// the whole set unusable, since a child with half its descriptors redirected would write
// where it must not.
class FileActions {
 public:
  FileActions() : initialized_(posix_spawn_file_actions_init(&actions_) == 0) {}
  ~FileActions() {
    if (initialized_) posix_spawn_file_actions_destroy(&actions_);
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;

  bool valid() const { return initialized_ && !failed_; }
  void openNull(int descriptor, int flags) {
    if (valid() &&
        posix_spawn_file_actions_addopen(&actions_, descriptor, kNullDevice, flags, 0) != 0) {
      failed_ = true;
    }
  }
  void duplicate(int from, int to) {
    if (valid() && posix_spawn_file_actions_adddup2(&actions_, from, to) != 0) failed_ = true;
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool initialized_;
  bool failed_ = false;
};

// The process id of the started program, or -1 when it could not be started.
pid_t spawn(const std::string& path, const std::vector<std::string>& arguments,
            const FileActions& actions) {
  if (!actions.valid()) return -1;
  std::vector<char*> argv = argumentVector(path, arguments);
  pid_t pid = -1;
  if (posix_spawn(&pid, path.c_str(), actions.get(), nullptr, argv.data(), environ) != 0) {
    return -1;
  }
  return pid;
}

void waitFor(pid_t pid) {
  while (waitpid(pid, nullptr, 0) == -1 && errno == EINTR) {
  }
}

}  // namespace

const std::vector<Command>& all() {
  static const std::vector<Command> commands{
      {"Bildschirm sperren", "lock sperren", "lock.fill", SystemColor::gray, false, false,
       SystemAction::lockScreen},
      {"Ruhezustand", "sleep schlafen", "moon.zzz.fill", SystemColor::indigo, false, false,
       SystemAction::sleep},
      {"Bildschirm ausschalten", "display sleep monitor aus", "display", SystemColor::gray, false,
       false, SystemAction::displaySleep},
      {"Bildschirmschoner starten", "screensaver", "sparkles.tv", SystemColor::teal, false, false,
       SystemAction::screenSaver},
      {"Dunkelmodus umschalten", "dark mode hell dunkel erscheinungsbild", "circle.lefthalf.filled",
       SystemColor::purple, false, false, SystemAction::toggleDarkMode},
      {"Ton stumm / an", "mute lautstärke volume", "speaker.slash.fill", SystemColor::pink, false,
       false, SystemAction::toggleMute},
      {"WLAN ein / aus", "wifi wlan netzwerk", "wifi", SystemColor::blue, false, false,
       SystemAction::toggleWifi},
      {"Alle Apps ausblenden", "hide schreibtisch desktop", "eye.slash.fill", SystemColor::gray,
       false, false, SystemAction::hideAllApps},
      {"Bildschirmfoto", "screenshot aufnahme", "camera.viewfinder", SystemColor::gray, false,
       false, SystemAction::screenshot},
      {"Papierkorb öffnen", "trash mülleimer", "trash", SystemColor::gray, false, false,
       SystemAction::openTrash},
      // The four that cannot be undone wait for a second Return.
      {"Papierkorb leeren", "trash empty mülleimer", "trash.slash.fill", SystemColor::red, true,
       false, SystemAction::emptyTrash},
      {"Neustart", "restart reboot", "arrow.clockwise.circle.fill", SystemColor::orange, true,
       false, SystemAction::restart},
      {"Ausschalten", "shutdown herunterfahren", "power.circle.fill", SystemColor::red, true, false,
       SystemAction::shutDown},
      {"Abmelden", "logout log out", "rectangle.portrait.and.arrow.right", SystemColor::orange,
       true, false, SystemAction::logOut},
  };
  return commands;
}

const std::vector<Engine>& engines() {
  static const std::vector<Engine> list{
      {"g", "Google", "https://www.google.com/search?q=%@"},
      {"yt", "YouTube", "https://www.youtube.com/results?search_query=%@"},
      {"w", "Wikipedia", "https://de.wikipedia.org/w/index.php?search=%@"},
      // The desktop has no handler for maps: addresses, so the map search opens in the browser.
      {"map", "Karten", "https://www.openstreetmap.org/search?query=%@"},
      {"gh", "GitHub", "https://github.com/search?q=%@"},
      {"ddg", "DuckDuckGo", "https://duckduckgo.com/?q=%@"},
      {"amz", "Amazon", "https://www.amazon.de/s?k=%@"},
      {"tr", "DeepL", "https://www.deepl.com/translator#auto/de/%@"},
  };
  return list;
}

void shell(const std::string& path, const std::vector<std::string>& arguments) {
  FileActions actions;
  actions.openNull(STDIN_FILENO, O_RDONLY);
  actions.openNull(STDOUT_FILENO, O_WRONLY);
  actions.openNull(STDERR_FILENO, O_WRONLY);
  const pid_t pid = spawn(path, arguments, actions);
  if (pid == -1) return;
  // posix_spawn cannot double-fork, so a detached thread waits for the child instead; that
  // keeps the caller from blocking and the process table free of zombies.
  try {
    std::thread([pid] { waitFor(pid); }).detach();
  } catch (const std::system_error&) {
    // Without a thread the child stays a zombie until we exit, which is harmless.
  }
}

std::string shellOutput(const std::string& path, const std::vector<std::string>& arguments) {
  int pipeEnds[2];
  // Close-on-exec, so programs started meanwhile by other threads do not hold the write end
  // open and keep our read from ever seeing the end.
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return "";
  const int readEnd = pipeEnds[0];
  const int writeEnd = pipeEnds[1];

  pid_t pid = -1;
  {
    FileActions actions;
    actions.openNull(STDIN_FILENO, O_RDONLY);
    actions.duplicate(writeEnd, STDOUT_FILENO);
    actions.openNull(STDERR_FILENO, O_WRONLY);
    pid = spawn(path, arguments, actions);
  }
  close(writeEnd);
  if (pid == -1) {
    close(readEnd);
    return "";
  }

  // Read everything before waiting: a child whose output exceeds the pipe buffer would
  // otherwise block on its write while we block on its exit.
  std::string bytes;
  char chunk[kReadChunk];
  while (true) {
    const ssize_t count = read(readEnd, chunk, sizeof chunk);
    if (count > 0) {
      bytes.append(chunk, static_cast<std::size_t>(count));
    } else if (count == 0 || errno != EINTR) {
      break;
    }
  }
  close(readEnd);
  waitFor(pid);
  return unicode::utf8(unicode::scalars(bytes));
}

}  // namespace varek::Commands
