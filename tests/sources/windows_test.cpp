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

TEST(WindowsLayout, FramesDivideTheVisibleScreen) {
  const Rect window{100, 100, 800, 600};
  const std::pair<Layout, Rect> rows[] = {
      {Layout::left, {0, 25, 720, 900}},
      {Layout::right, {720, 25, 720, 900}},
      {Layout::top, {0, 25 + 450, 1440, 450}},
      {Layout::bottom, {0, 25, 1440, 450}},
      {Layout::maximize, kScreen},
      {Layout::almost, {72, 25 + 45, 1296, 810}},
      {Layout::center, {720 - 400, 25 + 450 - 300, 800, 600}},
      {Layout::leftThird, {0, 25, 480, 900}},
      {Layout::centerThird, {480, 25, 480, 900}},
      {Layout::rightThird, {960, 25, 480, 900}},
  };
  for (const auto& [layout, expected] : rows) {
    const Rect actual = frame(layout, kScreen, window);
    EXPECT_DOUBLE_EQ(actual.x, expected.x) << title(layout);
    EXPECT_DOUBLE_EQ(actual.y, expected.y) << title(layout);
    EXPECT_DOUBLE_EQ(actual.width, expected.width) << title(layout);
    EXPECT_DOUBLE_EQ(actual.height, expected.height) << title(layout);
  }
}

// Centring keeps the window's size wherever it was, and nothing is clamped to the screen.
TEST(WindowsLayout, CenterKeepsSizeAndMayOverhang) {
  EXPECT_EQ(frame(Layout::center, kScreen, {900, 500, 800, 600}), (Rect{320, 175, 800, 600}));
  EXPECT_EQ(frame(Layout::center, kScreen, {0, 0, 2000, 1000}), (Rect{-280, -25, 2000, 1000}));
}

TEST(WindowsLayout, IntegralRoundsOutwardToWholePoints) {
  const Rect third = frame(Layout::leftThird, {0, 0, 1000, 700}, {});
  EXPECT_EQ(integral(third), (Rect{0, 0, 334, 700}));
  EXPECT_EQ(integral({10.5, 20.25, 100, 50.5}), (Rect{10, 20, 101, 51}));
  EXPECT_EQ(integral({-0.5, -0.5, 1, 1}), (Rect{-1, -1, 2, 2}));
}

TEST(WindowsLayout, TitlesSymbolsAndOrder) {
  ASSERT_EQ(allLayouts().size(), 10u);
  EXPECT_EQ(allLayouts().front(), Layout::left);
  EXPECT_EQ(allLayouts().back(), Layout::rightThird);
  for (Layout layout : allLayouts()) {
    EXPECT_EQ(layoutFromTitle(title(layout)), layout) << title(layout);
  }
  EXPECT_EQ(title(Layout::almost), "Fast maximieren");
  EXPECT_EQ(symbol(Layout::centerThird), symbol(Layout::center));
  EXPECT_EQ(symbol(Layout::rightThird), "rectangle.trailingthird.inset.filled");
  EXPECT_EQ(layoutFromTitle("Zentrieren"), Layout::center);
  EXPECT_EQ(layoutFromTitle("zentrieren"), std::nullopt);
  EXPECT_EQ(layoutFromTitle(""), std::nullopt);
}

struct PlaceFixture : ::testing::Test {
  test::FakeWorkspace workspace;
  test::FakeWindowServer server;
  const RunningApp editor{.pid = 42, .name = "Editor", .path = std::nullopt, .regular = true};

  PlaceFixture() {
    server.screenList = {{{0, 0, 1000, 800}, {0, 0, 1000, 770}},
                         {{1000, 0, 1600, 900}, {1000, 40, 1600, 860}}};
    server.focused[42] = 7;
  }
  std::optional<Rect> placedFrame() {
    if (server.placed.empty()) return std::nullopt;
    return server.placed.back().second;
  }
};

// The window goes onto the screen that holds its centre, else the main screen, rounded
// outwards to whole points.
TEST_F(PlaceFixture, LaysOutOnTheScreenHoldingTheWindowCentre) {
  struct Row {
    const char* name;
    Rect current;
    Layout layout;
    Rect expected;
  } rows[] = {
      {"first screen, third widened to whole points",
       {100, 100, 300, 200},
       Layout::leftThird,
       {0, 0, 334, 770}},
      {"centre on the second screen", {1200, 100, 600, 400}, Layout::right, {1800, 40, 800, 860}},
      {"centre off every screen: main screen",
       {5000, 5000, 100, 100},
       Layout::maximize,
       {0, 0, 1000, 770}},
  };
  for (const auto& row : rows) {
    server.frames[7] = row.current;
    place(row.layout, editor, server, workspace);
    EXPECT_EQ(placedFrame(), row.expected) << row.name;
  }
  EXPECT_EQ(workspace.beeps, 0);
}

TEST_F(PlaceFixture, BeepsWhenThereIsNothingToPlace) {
  place(Layout::left, std::nullopt, server, workspace);  // no application
  server.frames.clear();
  place(Layout::left, editor, server, workspace);  // unreadable frame
  server.focused.clear();
  place(Layout::left, editor, server, workspace);  // no focused window
  EXPECT_EQ(workspace.beeps, 3);
  EXPECT_TRUE(server.placed.empty());
}

TEST(WindowsList, ListsTitledWindowsOfRegularAppsOnlyWithTrust) {
  test::FakeWorkspace workspace;
  test::FakeWindowServer server;
  workspace.apps = {{.pid = 1, .name = "Agent", .path = std::nullopt, .regular = false},
                    {.pid = 2, .name = "Mail", .path = "/apps/mail.desktop", .regular = true},
                    {.pid = 3, .name = "Files", .path = std::nullopt, .regular = true}};
  server.windows[1] = {{10, "Agent window"}};
  server.windows[2] = {{20, ""}, {21, "Posteingang"}};
  server.windows[3] = {{30, "Downloads"}, {31, "Bilder"}};

  std::vector<std::string> titles;
  for (const Window& window : list(workspace, server)) titles.push_back(window.title);
  EXPECT_EQ(titles, (std::vector<std::string>{"Posteingang", "Downloads", "Bilder"}));

  server.trusted = false;
  EXPECT_TRUE(list(workspace, server).empty());
}

}  // namespace
}  // namespace Windows
}  // namespace varek
