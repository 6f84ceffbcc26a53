// Running applications and opening things: what the desktop's session and launcher
// service offer. Lists come from caches that the backend keeps current, so reading them
// costs no round trip to another process or the file system.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varek {

struct RunningApp {
  int pid = 0;
  std::string name;                 // localised, user-visible name; may be empty
  std::optional<std::string> path;  // the application's bundle or desktop-entry file
  bool regular = false;             // an ordinary application with windows of its own

  friend bool operator==(const RunningApp&, const RunningApp&) = default;
};

class Workspace {
 public:
  virtual ~Workspace() = default;

  // The running applications in a stable order; read from a cache, never blocks.
  virtual std::vector<RunningApp> runningApplications() const = 0;
  // The application in front at this moment (the one that had focus before ours).
  virtual std::optional<RunningApp> frontmostApplication() const = 0;

  // Opens an address with its default handler; false when nothing could handle it.
  virtual bool openUrl(const std::string& url) = 0;
  // Opens a file or folder with its default application.
  virtual bool openFile(const std::string& path) = 0;
  // Launches (or brings forward) the application described by this bundle or entry path.
  virtual bool openApplication(const std::string& path) = 0;
  // Shows the file in the file manager, selected.
  virtual void reveal(const std::string& path) = 0;
  // Brings every window of the application to the front.
  virtual void activate(int pid) = 0;
  // Asks the application to quit, as its own quit command would.
  virtual void terminate(int pid) = 0;
  // The system's alert sound, for an action that has nothing to act on.
  virtual void beep() = 0;
};

}  // namespace varek
