// The effects of the system commands, done the way the desktop does them.
#pragma once

#include <string>

namespace varek {

enum class SystemAction {
  lockScreen,
  sleep,
  displaySleep,
  screenSaver,
  toggleDarkMode,
  toggleMute,
  toggleWifi,
  hideAllApps,
  screenshot,
  openTrash,
  emptyTrash,
  restart,
  shutDown,
  logOut,
};

class SystemActions {
 public:
  virtual ~SystemActions() = default;

  // Starts the action and returns at once; a failure is logged by the backend, never
  // reported to the caller.
  virtual void perform(SystemAction action) = 0;
  // Runs a command line typed by the user in a new terminal window.
  virtual void runInTerminal(const std::string& command) = 0;
};

}  // namespace varek
