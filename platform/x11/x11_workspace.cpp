#include "platform/x11/x11_workspace.h"

#include <unistd.h>

#include "platform/linux/desktop_launch.h"

namespace varek {

X11Workspace::X11Workspace(X11Desktop& desktop)
    : desktop_(desktop), catalog_(std::make_shared<ApplicationCatalog>()) {
  // Without a display no window will ever need a name; the command line starts faster.
  // With one, the entries are read beside the rest of the start.
  if (desktop_.connection() && !catalog_->readInBackground()) catalog_->readNow();
}

X11Workspace::~X11Workspace() = default;

std::vector<RunningApp> X11Workspace::applications(
    const std::shared_ptr<const X11Desktop::Snapshot>& snapshot) const {
  const std::uint64_t generation = catalog_->generation();
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
    if (const auto entry = catalog_->findByWindowClass(client.windowClass, client.instance)) {
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

bool X11Workspace::openUrl(const std::string& url) { return DesktopLaunch::openUrl(url); }

bool X11Workspace::openFile(const std::string& path) { return DesktopLaunch::openFile(path); }

bool X11Workspace::openApplication(const std::string& path) {
  return DesktopLaunch::openApplication(path);
}

void X11Workspace::reveal(const std::string& path) { DesktopLaunch::reveal(path); }

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
