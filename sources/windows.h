// Open windows of other applications and the ten layouts a window can be placed into.
// The layout geometry is pure and works in bottom-left coordinates (y grows upwards).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/geometry.h"
#include "platform/window_server.h"
#include "platform/workspace.h"
#include "search/fuzzy.h"

namespace varek::Windows {

enum class Layout {
  left,
  right,
  top,
  bottom,
  maximize,
  almost,
  center,
  leftThird,
  centerThird,
  rightThird
};

using Rect = varek::Rect;

// Every layout, in menu order.
const std::vector<Layout>& allLayouts();
// The German title, which is also the layout's name in stored ids ("Linke Hälfte").
std::string_view title(Layout layout);
// The symbol image drawn on the layout's row.
std::string_view symbol(Layout layout);
// The layout with exactly this title; case matters.
std::optional<Layout> layoutFromTitle(std::string_view title);
// One titled window of a regular application.
struct Window {
  std::string title;
  RunningApp app;
  WindowId element;
  Fuzzy::Target target;  // the title, prepared for matching
};

// The titled windows of every regular application, applications in the workspace's order;
// empty without the window server's trust.
std::vector<Window> list(const Workspace& workspace, const WindowServer& windowServer);
// The application's focused window, if any.
std::optional<WindowId> focusedWindow(const WindowServer& windowServer, const RunningApp& app);
// Puts the application's focused window into the layout on the screen that holds its
// centre; beeps when there is no application, focused window or readable frame.
void place(Layout layout, const std::optional<RunningApp>& app, WindowServer& windowServer,
           Workspace& workspace);

// Where a window with frame current goes on a screen whose usable area is screen.
Rect frame(Layout layout, Rect screen, Rect current);
// The smallest rectangle with whole-point edges that contains rect; windows are placed on
// whole points, so a third of an odd width grows rather than leaving a gap.
Rect integral(Rect rect);

}  // namespace varek::Windows
