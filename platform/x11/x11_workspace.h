// Running applications and opening things on an X11 desktop. An application is a process
// with client windows, named after the desktop entry its window class matches; windows that
// name no process of this machine form one application per window class, with a negative
// key in place of the process id (X11Desktop::applicationKey). Opening goes through GIO,
// revealing through the file manager's D-Bus service.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/linux/application_catalog.h"
#include "platform/workspace.h"
#include "platform/x11/x11_desktop.h"

namespace varek {

class X11Workspace : public Workspace {
 public:
  // Starts reading the desktop entries in the background when there is a display; naming
  // a window waits for that first read. A window class none of them matches makes a fresh
  // read in the background, at most every 30 seconds.
  explicit X11Workspace(X11Desktop& desktop);
  ~X11Workspace() override;

  // One entry per application with client windows, in the order its first window appeared;
  // never this process itself.
  std::vector<RunningApp> runningApplications() const override;
  // The owner of the active window; when that is this process, the application that was
  // active before it.
  std::optional<RunningApp> frontmostApplication() const override;

  bool openUrl(const std::string& url) override;
  bool openFile(const std::string& path) override;
  bool openApplication(const std::string& path) override;
  // Through org.freedesktop.FileManager1 when a file manager offers it, else the parent
  // folder opens.
  void reveal(const std::string& path) override;
  // Raises all normal windows of the process and activates the one it last used.
  void activate(int pid) override;
  // Asks the window manager to close each of its windows, as their close buttons would;
  // no signal is sent.
  void terminate(int pid) override;
  void beep() override;
  // Beeps so far, also those without a display to sound them.
  int beeps() const { return beeps_; }

 private:
  std::vector<RunningApp> applications(
      const std::shared_ptr<const X11Desktop::Snapshot>& snapshot) const;

  X11Desktop& desktop_;
  int beeps_ = 0;
  std::shared_ptr<ApplicationCatalog> catalog_;  // shared with a background read in flight

  // Every search asks for the running applications, so the list is built once per change
  // of the windows or of the desktop entries.
  mutable std::mutex mutex_;
  mutable std::shared_ptr<const X11Desktop::Snapshot> builtFrom_;
  mutable std::uint64_t builtWithCatalog_ = 0;
  mutable std::vector<RunningApp> applications_;
};

}  // namespace varek
