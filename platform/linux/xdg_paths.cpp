#include "platform/linux/xdg_paths.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

namespace varek {
namespace {

// The home folder of the account, for sessions started without HOME (some service
// managers and su do that).
std::string accountHome() {
  if (const passwd* account = ::getpwuid(::getuid()); account && account->pw_dir) {
    return account->pw_dir;
  }
  return "/";
}

// A base directory from the environment, or its default under home. The XDG rules make
// a relative path invalid, so a relative or empty value counts as unset.
std::string baseDirectory(const char* variable, const std::string& home,
                          const char* defaultUnderHome) {
  const char* value = ::getenv(variable);
  if (value && value[0] == '/') return value;
  // A home of "/" would otherwise give "//.config".
  return (home.ends_with('/') ? home.substr(0, home.size() - 1) : home) + defaultUnderHome;
}

}  // namespace

XdgPaths::XdgPaths() {
  const char* home = ::getenv("HOME");
  homeFolder_ = home && home[0] != '\0' ? std::string(home) : accountHome();
  logFile_ = baseDirectory("XDG_STATE_HOME", homeFolder_, "/.local/state") + "/Varek/Varek.log";
  clipboardFile_ =
      baseDirectory("XDG_DATA_HOME", homeFolder_, "/.local/share") + "/Varek/zwischenablage.json";
  configFile_ = baseDirectory("XDG_CONFIG_HOME", homeFolder_, "/.config") + "/varek/defaults.json";
}

}  // namespace varek
