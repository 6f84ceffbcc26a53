// The system commands on a Linux desktop. Each action prefers the desktop's own D-Bus
// services, which answer with an error when they fail, over command-line tools, several
// of which exit with 0 having done nothing. Which way an action takes depends only on
// what is installed and running, so that choice is a pure function, apart from doing it.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/log.h"
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
    grim,
    screenshotPortal,
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
      screencopy,      // a wlroots compositor that lets clients capture the screen
      wayland,         // a Wayland display in WAYLAND_DISPLAY
      startable,       // a name owned on the session bus, or one the bus starts on demand
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

  // What the desktop's settings say about the user's terminal.
  struct TerminalSettings {
    std::string desktops;              // XDG_CURRENT_DESKTOP, e.g. "ubuntu:GNOME"
    std::optional<std::string> gnome;  // GNOME's default terminal, a command line ("exec")
    std::string gnomeOption;           // the option it runs a program with ("exec-arg")
    bool gnomeChosen = false;          // the user set it; else it is the schema's default
    std::optional<std::string> kde;    // [General] TerminalApplication of kdeglobals
  };
  static TerminalSettings terminalSettings();
  // The full path of a program on PATH, or "" without one.
  using Locate = std::function<std::string(const std::string&)>;
  // The program and arguments that run the shell command in the desktop's own terminal
  // (the current desktop's setting, then the other desktop's if the user made it, then
  // x-terminal-emulator) and keep the window open after the command until the user presses
  // Return; empty when no terminal is installed. The command stays one argument.
  static std::vector<std::string> terminalCommand(const TerminalSettings& settings,
                                                  const Locate& locate, const std::string& command);

  // Where a screenshot taken at this time is stored in the folder:
  // "Bildschirmfoto vom 2026-05-04 13-07-09.png", or " (2)", " (3)" … before the suffix
  // where that name is taken, so that two pictures in one second keep both.
  using Taken = std::function<bool(const std::filesystem::path&)>;
  static std::filesystem::path screenshotFile(const std::filesystem::path& folder,
                                              const std::tm& time, const Taken& taken);

  // Used from the main thread. The work runs on a serial background queue of the
  // scheduler, so the main thread never waits for a service; the log line and the beep of
  // a skipped or failed action come back to the main queue. Each missing service or tool,
  // and each distinct failure, is logged once for the life of this object; the beep
  // sounds every time.
  LinuxSystemActions(Scheduler& scheduler, const Log& log, std::function<void()> beep);

  // Tries the usable methods in order until one succeeds; a failed one hands on to the
  // next, and when all fail, one line names what each said.
  void perform(SystemAction action) override;
  void runInTerminal(const std::string& command) override;

 private:
  struct Reports;

  Scheduler& scheduler_;
  std::shared_ptr<Reports> reports_;
};

}  // namespace varek
