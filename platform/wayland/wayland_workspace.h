// Running applications and opening things on a Wayland desktop. An application is the set of
// toplevels that share an app id, named after the desktop entry that the app id names.
// Wayland gives no process ids, so every application has the negative key of one known by
// name only (ApplicationCatalog::nameKey), the same one X11 gives a window class. Opening
// goes through GIO and the file manager's D-Bus service, as on X11.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/linux/application_catalog.h"
#include "platform/wayland/wayland_toplevels.h"
#include "platform/workspace.h"

namespace varek {

class WaylandWorkspace : public Workspace {
 public:
  // Starts reading the desktop entries in the background when the compositor lists its
  // windows; naming an application waits for that first read.
  explicit WaylandWorkspace(WaylandToplevels& toplevels);

  // The key its application is known by, the same in every process.
  static int applicationKey(const WaylandToplevels::Toplevel& toplevel);

  // One entry per app id, in the order its first toplevel appeared; never our own panel.
  std::vector<RunningApp> runningApplications() const override;
  // The application of the toplevel activated last that is not our panel.
  std::optional<RunningApp> frontmostApplication() const override;

  bool openUrl(const std::string& url) override;
  bool openFile(const std::string& path) override;
  bool openApplication(const std::string& path) override;
  void reveal(const std::string& path) override;
  // Activates the toplevel of the application that was active last (else its newest):
  // Wayland lets no client restack the others.
  void activate(int pid) override;
  // Asks each of its toplevels to close, as their close buttons would.
  void terminate(int pid) override;
  // Counts only: a Wayland client has no bell to ring.
  void beep() override;
  // Beeps so far.
  int beeps() const { return beeps_; }

 private:
  std::vector<RunningApp> applications(
      const std::shared_ptr<const WaylandToplevels::Snapshot>& snapshot) const;

  WaylandToplevels& toplevels_;
  int beeps_ = 0;
  std::shared_ptr<ApplicationCatalog> catalog_;

  // Every search asks for the running applications, so the list is built once per change
  // of the toplevels or of the desktop entries.
  mutable std::mutex mutex_;
  mutable std::shared_ptr<const WaylandToplevels::Snapshot> builtFrom_;
  mutable std::uint64_t builtWithCatalog_ = 0;
  mutable std::vector<RunningApp> applications_;
};

}  // namespace varek
