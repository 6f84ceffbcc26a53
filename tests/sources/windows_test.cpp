#include "sources/windows.h"

#include <gtest/gtest.h>

#include "tests/support/fake_platform.h"

namespace varek {

void PrintTo(const Rect& rect, std::ostream* out) {
  *out << "(" << rect.x << ", " << rect.y << ", " << rect.width << ", " << rect.height << ")";
}

namespace Windows {
namespace {

// A 1440 × 900 visible frame above a 25-point dock, in bottom-left coordinates.
constexpr Rect kScreen{0, 25, 1440, 900};

// Centring keeps the window's size wherever it was, and nothing is clamped to the screen.
TEST(WindowsLayout, FramesDivideTheVisibleScreen) {
  const Rect window{100, 100, 800, 600};
  using enum Layout;
  // clang-format off
  const std::tuple<Layout, Rect, Rect> rows[] = {
      {left, window, {0, 25, 720, 900}},               {right, window, {720, 25, 720, 900}},
      {top, window, {0, 25 + 450, 1440, 450}},         {bottom, window, {0, 25, 1440, 450}},
      {maximize, window, kScreen},                     {almost, window, {72, 25 + 45, 1296, 810}},
      {center, window, {720 - 400, 25 + 450 - 300, 800, 600}},
      {center, {900, 500, 800, 600}, {320, 175, 800, 600}},
      {center, {0, 0, 2000, 1000}, {-280, -25, 2000, 1000}},
      {leftThird, window, {0, 25, 480, 900}},          {centerThird, window, {480, 25, 480, 900}},
      {rightThird, window, {960, 25, 480, 900}},
  };
  // clang-format on
  for (const auto& [layout, current, expected] : rows) {
    EXPECT_EQ(frame(layout, kScreen, current), expected) << title(layout);
  }
}

TEST(WindowsLayout, IntegralRoundsOutwardToWholePoints) {
  EXPECT_EQ(integral({10.5, 20.25, 100, 50.5}), (Rect{10, 20, 101, 51}));
  EXPECT_EQ(integral({-0.5, -0.5, 1, 1}), (Rect{-1, -1, 2, 2}));
}

// The window goes onto the screen that holds its centre, else the main screen, rounded
// outwards to whole points; without an application, a frame or a focused window, a beep.
TEST(WindowsPlace, LaysOutOnTheScreenHoldingTheWindowCentreOrBeeps) {
  test::FakeWorkspace workspace;
  test::FakeWindowServer server;
  server.screenList = {{{0, 0, 1000, 800}, {0, 0, 1000, 770}},
                       {{1000, 0, 1600, 900}, {1000, 40, 1600, 860}}};
  server.focused[42] = 7;
  const RunningApp editor{.pid = 42, .name = "Editor", .path = std::nullopt, .regular = true};
  const std::tuple<Rect, Layout, Rect> rows[] = {
      {{100, 100, 300, 200}, Layout::leftThird, {0, 0, 334, 770}},  // a third widened
      {{1200, 100, 600, 400}, Layout::right, {1800, 40, 800, 860}},
      {{5000, 5000, 100, 100}, Layout::maximize, {0, 0, 1000, 770}},  // off every screen
  };
  for (const auto& [current, layout, expected] : rows) {
    server.frames[7] = current;
    place(layout, editor, server, workspace);
    ASSERT_FALSE(server.placed.empty());
    EXPECT_EQ(server.placed.back().second, expected) << title(layout);
  }
  EXPECT_EQ(workspace.beeps, 0);
  server.placed.clear();
  place(Layout::left, std::nullopt, server, workspace);  // no application
  server.frames.clear();
  place(Layout::left, editor, server, workspace);  // unreadable frame
  server.focused.clear();
  place(Layout::left, editor, server, workspace);  // no focused window
  EXPECT_EQ(workspace.beeps, 3);
  EXPECT_TRUE(server.placed.empty());
}

}  // namespace
}  // namespace Windows
}  // namespace varek
