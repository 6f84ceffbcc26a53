// The system commands on a Linux desktop. Each action prefers the desktop's own D-Bus
// services, which answer with an error when they fail, over command-line tools, several
// of which exit with 0 having done nothing. Which way an action takes depends only on
// what is installed and running, so that choice is a pure function, apart from doing it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/log.h"
#include "platform/scheduler.h"
#include "platform/system_actions.h"

namespace varek {

class LinuxSystemActions : public SystemActions {
 public:
  // One way of carrying out an action.
  enum class Method {
    logindLock,
    screenSaverLock,
    loginctlLock,
    xdgScreensaverLock,
    logindSuspend,
    xsetDisplayOff,
    screenSaverActivate,
    xdgScreensaverActivate,
    colorScheme,
    wpctlMute,
    pactlMute,
    networkManagerWireless,
    showingDesktop,
    gnomeScreenshot,
    spectacle,
    xfceScreenshooter,
    flameshot,
    trashAddress,
    trashFolder,
    emptyTrashAddress,
    emptyTrashFolder,
    logindReboot,
    logindPowerOff,
    gnomeLogout,
    kdeLogout,
    xfceLogout,
    logindTerminate,
    loginctlTerminate,
  };

  // Something a method cannot do without.
  struct Requirement {
    enum class Kind {
      systemService,   // a name owned on the system bus
      sessionService,  // a name owned on the session bus
      program,         // an executable on PATH
      display,         // an X11 display in DISPLAY
      colorScheme,     // GNOME's color-scheme key, stored by a real settings backend
      addressScheme,   // a GIO file system for addresses of this scheme (GVfs)
      handler,         // a default application for this content type
    };
    Kind kind;
    std::string name;

    friend bool operator==(const Requirement&, const Requirement&) = default;
    // How the log line names it, e.g. "org.freedesktop.login1 (Systembus)".
    std::string describe() const;
  };

  using Present = std::function<bool(const Requirement&)>;

  static std::vector<Requirement> requirements(Method method);
  // The methods able to carry out the action with what is present, best first.
  static std::vector<Method> methods(SystemAction action, const Present& present);

  // Used from the main thread. The work runs on a serial background queue of the
  // scheduler, so the main thread never waits for a service; the log line and the beep of
  // a skipped or failed action come back to the main queue. Each missing service or tool
  // is logged once for the life of this object, a failure every time.
  LinuxSystemActions(Scheduler& scheduler, const Log& log, std::function<void()> beep);

  void perform(SystemAction action) override;
  // Starts x-terminal-emulator -e sh -c COMMAND, the command as one argument.
  void runInTerminal(const std::string& command) override;

 private:
  struct Reports;

  Scheduler& scheduler_;
  std::shared_ptr<Reports> reports_;
};

}  // namespace varek
