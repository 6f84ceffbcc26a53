#include "sources/windows.h"

#include <array>
#include <cmath>

namespace varek::Windows {
namespace {

struct LayoutInfo {
  Layout layout;
  std::string_view title;
  std::string_view symbol;
};

constexpr std::array<LayoutInfo, 10> kLayouts{{
    {Layout::left, "Linke Hälfte", "rectangle.lefthalf.filled"},
    {Layout::right, "Rechte Hälfte", "rectangle.righthalf.filled"},
    {Layout::top, "Obere Hälfte", "rectangle.tophalf.filled"},
    {Layout::bottom, "Untere Hälfte", "rectangle.bottomhalf.filled"},
    {Layout::maximize, "Maximieren", "rectangle.fill"},
    {Layout::almost, "Fast maximieren", "rectangle.inset.filled"},
    {Layout::center, "Zentrieren", "rectangle.center.inset.filled"},
    {Layout::leftThird, "Linkes Drittel", "rectangle.leadingthird.inset.filled"},
    {Layout::centerThird, "Mittleres Drittel", "rectangle.center.inset.filled"},
    {Layout::rightThird, "Rechtes Drittel", "rectangle.trailingthird.inset.filled"},
}};

// "Fast maximieren" leaves this share of the screen free at each edge.
constexpr double kAlmostMargin = 0.05;
constexpr double kAlmostShare = 0.9;

const LayoutInfo& info(Layout layout) {
  for (const LayoutInfo& candidate : kLayouts) {
    if (candidate.layout == layout) return candidate;
  }
  return kLayouts.front();
}

bool contains(const Rect& rect, double x, double y) {
  return x >= rect.x && x < rect.x + rect.width && y >= rect.y && y < rect.y + rect.height;
}

}  // namespace

std::vector<Window> list(const Workspace& workspace, const WindowServer& windowServer) {
  std::vector<Window> windows;
  if (!windowServer.isTrusted()) return windows;
  for (const RunningApp& app : workspace.runningApplications()) {
    if (!app.regular) continue;
    for (const auto& window : windowServer.windowsOf(app.pid)) {
      if (window.title.empty()) continue;
      windows.push_back({window.title, app, window.id, Fuzzy::Target(window.title)});
    }
  }
  return windows;
}

std::optional<WindowId> focusedWindow(const WindowServer& windowServer, const RunningApp& app) {
  return windowServer.focusedWindow(app.pid);
}

void place(Layout layout, const std::optional<RunningApp>& app, WindowServer& windowServer,
           Workspace& workspace) {
  const std::optional<WindowId> window =
      app ? focusedWindow(windowServer, *app) : std::optional<WindowId>();
  const std::optional<Rect> current = window ? windowServer.frame(*window) : std::nullopt;
  if (!current) {
    workspace.beep();
    return;
  }
  const double centerX = current->x + current->width * 0.5;
  const double centerY = current->y + current->height * 0.5;
  std::optional<ScreenInfo> target;
  for (const ScreenInfo& screen : windowServer.screens()) {
    if (contains(screen.frame, centerX, centerY)) {
      target = screen;
      break;
    }
  }
  if (!target) target = windowServer.mainScreen();
  if (!target) return;
  windowServer.setFrame(*window, integral(frame(layout, target->visibleFrame, *current)));
}

const std::vector<Layout>& allLayouts() {
  static const std::vector<Layout> layouts = [] {
    std::vector<Layout> all;
    for (const LayoutInfo& candidate : kLayouts) all.push_back(candidate.layout);
    return all;
  }();
  return layouts;
}

std::string_view title(Layout layout) { return info(layout).title; }

std::string_view symbol(Layout layout) { return info(layout).symbol; }

std::optional<Layout> layoutFromTitle(std::string_view text) {
  for (const LayoutInfo& candidate : kLayouts) {
    if (candidate.title == text) return candidate.layout;
  }
  return std::nullopt;
}

Rect frame(Layout layout, Rect screen, Rect current) {
  const double width = screen.width;
  const double height = screen.height;
  const double midX = screen.x + width * 0.5;
  const double midY = screen.y + height * 0.5;
  switch (layout) {
    case Layout::left:
      return {screen.x, screen.y, width * 0.5, height};
    case Layout::right:
      return {midX, screen.y, width * 0.5, height};
    case Layout::top:
      return {screen.x, midY, width, height * 0.5};
    case Layout::bottom:
      return {screen.x, screen.y, width, height * 0.5};
    case Layout::maximize:
      return screen;
    case Layout::almost:
      return {screen.x + kAlmostMargin * width, screen.y + kAlmostMargin * height,
              kAlmostShare * width, kAlmostShare * height};
    case Layout::center:
      return {midX - current.width * 0.5, midY - current.height * 0.5, current.width,
              current.height};
    case Layout::leftThird:
      return {screen.x, screen.y, width / 3, height};
    case Layout::centerThird:
      return {screen.x + width / 3, screen.y, width / 3, height};
    case Layout::rightThird:
      return {screen.x + (width + width) / 3, screen.y, width / 3, height};
  }
  return screen;
}

Rect integral(Rect rect) {
  const double left = std::floor(rect.x);
  const double bottom = std::floor(rect.y);
  const double right = std::ceil(rect.x + rect.width);
  const double top = std::ceil(rect.y + rect.height);
  return {left, bottom, right - left, top - bottom};
}

}  // namespace varek::Windows
