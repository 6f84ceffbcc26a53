#include "platform/wayland/wayland_workspace.h"

#include "platform/linux/desktop_launch.h"

namespace varek {
namespace {

using Toplevel = WaylandToplevels::Toplevel;

// The application's toplevel that has or last had focus, else its newest.
const Toplevel* latestOf(const WaylandToplevels::Snapshot& snapshot, int application) {
  const Toplevel* latest = nullptr;
  for (const Toplevel& toplevel : snapshot.toplevels) {
    if (WaylandWorkspace::applicationKey(toplevel) != application) continue;
    if (!latest || toplevel.activation >= latest->activation) latest = &toplevel;
  }
  return latest;
}

}  // namespace

WaylandWorkspace::WaylandWorkspace(WaylandToplevels& toplevels)
    : toplevels_(toplevels), catalog_(std::make_shared<ApplicationCatalog>()) {
  // Without a window list no application will ever need a name.
  if (toplevels_.available() && !catalog_->readInBackground()) catalog_->readNow();
}

int WaylandWorkspace::applicationKey(const Toplevel& toplevel) {
  // A toplevel without an app id is an application of its own.
  return ApplicationCatalog::nameKey(toplevel.appId.empty() ? "#" + std::to_string(toplevel.id)
                                                            : toplevel.appId);
}

std::vector<RunningApp> WaylandWorkspace::applications(
    const std::shared_ptr<const WaylandToplevels::Snapshot>& snapshot) const {
  const std::uint64_t generation = catalog_->generation();
  {
    const std::lock_guard lock(mutex_);
    if (builtFrom_ == snapshot && builtWithCatalog_ == generation) return applications_;
  }
  std::vector<RunningApp> apps;
  for (const Toplevel& toplevel : snapshot->toplevels) {
    if (toplevel.appId == WaylandToplevels::kOwnAppId) continue;
    const int key = applicationKey(toplevel);
    if (std::any_of(apps.begin(), apps.end(),
                    [key](const RunningApp& app) { return app.pid == key; })) {
      continue;
    }
    RunningApp app{.pid = key, .name = toplevel.appId, .path = std::nullopt, .regular = true};
    if (const auto entry = catalog_->findByAppId(toplevel.appId)) {
      app.name = entry->name;
      app.path = entry->path;
    }
    apps.push_back(std::move(app));
  }
  const std::lock_guard lock(mutex_);
  builtFrom_ = snapshot;
  builtWithCatalog_ = generation;
  applications_ = apps;
  return apps;
}

std::vector<RunningApp> WaylandWorkspace::runningApplications() const {
  return applications(toplevels_.snapshot());
}

std::optional<RunningApp> WaylandWorkspace::frontmostApplication() const {
  const auto snapshot = toplevels_.snapshot();
  const Toplevel* previous = snapshot->previous();
  if (!previous) return std::nullopt;
  const int key = applicationKey(*previous);
  for (const RunningApp& app : applications(snapshot)) {
    if (app.pid == key) return app;
  }
  return std::nullopt;
}

bool WaylandWorkspace::openUrl(const std::string& url) { return DesktopLaunch::openUrl(url); }

bool WaylandWorkspace::openFile(const std::string& path) { return DesktopLaunch::openFile(path); }

bool WaylandWorkspace::openApplication(const std::string& path) {
  return DesktopLaunch::openApplication(path);
}

void WaylandWorkspace::reveal(const std::string& path) { DesktopLaunch::reveal(path); }

void WaylandWorkspace::activate(int pid) {
  const auto snapshot = toplevels_.snapshot();
  if (const Toplevel* target = latestOf(*snapshot, pid)) toplevels_.activate(target->id);
}

void WaylandWorkspace::terminate(int pid) {
  for (const Toplevel& toplevel : toplevels_.snapshot()->toplevels) {
    if (applicationKey(toplevel) == pid) toplevels_.close(toplevel.id);
  }
}

void WaylandWorkspace::beep() { ++beeps_; }

}  // namespace varek
