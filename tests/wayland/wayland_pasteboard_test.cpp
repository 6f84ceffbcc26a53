#include "platform/wayland/wayland_pasteboard.h"

#include <gtest/gtest.h>
#include <wayland-server.h>

#include <cstdlib>

#include "platform/wayland/wayland_keyboard.h"
#include "platform/x11/x11_clipboard.h"
#include "tests/support/wayland_clients.h"

namespace varek {
namespace {

using Copy = test::WaylandCopier::Copy;
using Snapshot = Pasteboard::Snapshot;

constexpr std::string_view kMarker = "x-kde-passwordManagerHint";
constexpr auto kWait = std::chrono::seconds(10);

static_assert(WaylandPasteboard::kMaxBytes == X11Clipboard::kMaxBytes);
static_assert(WaylandPasteboard::kAnswerTime == X11Clipboard::kAnswerTime);

bool isMarker(std::string_view type) { return type == kMarker; }

struct Desktop {
  WaylandConnection connection;
  WaylandPasteboard pasteboard{connection, X11Clipboard::localFiles};

  // Whether a new copy came, seen as the change count rising past `before`.
  bool changed(std::int64_t before) {
    return test::handleEventsUntil(connection, [&] { return pasteboard.changeCount() > before; });
  }
};

// Types and content come from the one copy on the clipboard; markers keep its content
// unread; what cannot be read whole gives nothing.
TEST(WaylandPasteboard, readsOneCopyWhole) {
  Desktop desktop;
  ASSERT_TRUE(desktop.pasteboard.available());
  const std::string atCap(WaylandPasteboard::kMaxBytes, 'a');
  std::vector<std::string> tooMany;
  for (std::size_t index = 0; index <= WaylandPasteboard::kMaxTypes; ++index)
    tooMany.push_back("type/" + std::to_string(index));
  const struct {
    const char* name;
    Copy copy;
    std::optional<Snapshot> expected;
  } rows[] = {
      {"text",
       {{"text/plain;charset=utf-8"}, "hello"},
       Snapshot{{"text/plain;charset=utf-8"}, {}, "hello"}},
      {"marked",
       {{"text/plain", std::string(kMarker)}, "secret"},
       Snapshot{{"text/plain", std::string(kMarker)}, {}, std::nullopt}},
      {"files",
       {{"text/uri-list", "text/plain"}, "file:///tmp/a%20b\r\nhttps://example.org/\r\n"},
       Snapshot{{"text/uri-list", "text/plain"}, {"/tmp/a b"}, std::nullopt}},
      {"not UTF-8",
       {{"UTF8_STRING"},
        "a\xff"
        "b"},
       Snapshot{{"UTF8_STRING"}, {}, "a\uFFFDb"}},
      {"ISO 8859-1", {{"STRING"}, "caf\xe9"}, Snapshot{{"STRING"}, {}, "caf\u00e9"}},
      {"no text", {{"image/png"}, "\x89PNG"}, Snapshot{{"image/png"}, {}, std::nullopt}},
      {"at the cap", {{"text/plain"}, atCap}, Snapshot{{"text/plain"}, {}, atCap}},
      {"over the cap", {{"text/plain"}, atCap + "a"}, std::nullopt},
      {"too many types", {tooMany, "x"}, std::nullopt},
  };
  std::vector<std::unique_ptr<test::WaylandCopier>> copiers;
  for (const auto& row : rows) {
    const std::int64_t before = desktop.pasteboard.changeCount();
    // Kept to the end: a copier that goes clears the clipboard, a change of its own.
    copiers.push_back(std::make_unique<test::WaylandCopier>(std::vector{row.copy}));
    ASSERT_TRUE(desktop.changed(before)) << row.name;
    const std::optional<Snapshot> read = desktop.pasteboard.snapshot(isMarker);
    ASSERT_EQ(read.has_value(), row.expected.has_value()) << row.name;
    if (!read) continue;
    EXPECT_EQ(read->types, row.expected->types) << row.name;
    EXPECT_EQ(read->filePaths, row.expected->filePaths) << row.name;
    // Compared whole but not printed: some are megabytes long.
    EXPECT_TRUE(read->text == row.expected->text)
        << row.name << ": " << (read->text ? read->text->size() : 0) << " bytes";
  }
}

// A password manager that copies marked and unmarked texts in quick turns never has a
// marked text read, whichever copy a read falls on.
TEST(WaylandPasteboard, neverReadsAMarkedCopyInAFlood) {
  Desktop desktop;
  std::vector<Copy> flood;
  for (int index = 0; index < 200; ++index) {
    flood.push_back(index % 2 == 0 ? Copy{{"text/plain", std::string(kMarker)}, "secret"}
                                   : Copy{{"text/plain"}, "plain " + std::to_string(index)});
  }
  flood.push_back({{"text/plain"}, "last"});
  const test::WaylandCopier copier(flood);
  // Reads as fast as they go while the copies change hands under them.
  int texts = 0;
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  std::optional<Snapshot> read;
  while (!(read && read->text == "last") && std::chrono::steady_clock::now() < deadline) {
    desktop.connection.update();
    read = desktop.pasteboard.snapshot(isMarker);
    if (!read || !read->text) continue;
    ++texts;
    EXPECT_NE(*read->text, "secret");
    EXPECT_FALSE(std::any_of(read->types.begin(), read->types.end(), isMarker));
  }
  EXPECT_TRUE(read && read->text == "last");
  RecordProperty("texts read", texts);
}

// Our own copy takes the clipboard without focus, other programs read it, and it gives way
// to the next copy made elsewhere.
TEST(WaylandPasteboard, servesItsOwnCopyUntilAnotherTakesOver) {
  Desktop desktop;
  std::int64_t before = desktop.pasteboard.changeCount();
  desktop.pasteboard.setText("from varek ✓");
  EXPECT_GT(desktop.pasteboard.changeCount(), before);
  EXPECT_EQ(test::runAnswering(desktop.connection, "wl-paste --no-newline"), "from varek ✓");
  EXPECT_EQ(desktop.pasteboard.text(), "from varek ✓");

  before = desktop.pasteboard.changeCount();
  ASSERT_EQ(std::system("wl-copy 'from elsewhere'"), 0);
  ASSERT_TRUE(desktop.changed(before));
  ASSERT_TRUE(test::handleEventsUntil(
      desktop.connection, [&] { return desktop.pasteboard.text() == "from elsewhere"; }));
  EXPECT_EQ(desktop.pasteboard.snapshot(isMarker)->text, "from elsewhere");
}

// A compositor of the test's own that offers data control and either ends it at once or
// goes away: either way the clipboard stays empty and unchanging, copying does nothing,
// and there is no keyboard to paste with.
TEST(WaylandPasteboard, staysEmptyWhenDataControlEnds) {
  // The requests of a data control manager and device, in the order of their opcodes.
  using Destroy = void (*)(wl_client*, wl_resource*);
  using Select = void (*)(wl_client*, wl_resource*, wl_resource*);
  static constexpr Destroy kDestroy = [](wl_client*, wl_resource* resource) {
    wl_resource_destroy(resource);
  };
  static constexpr Select kIgnore = [](wl_client*, wl_resource*, wl_resource*) {};
  static constexpr struct {
    Select setSelection;
    Destroy destroy;
    Select setPrimarySelection;
  } kDevice{kIgnore, kDestroy, kIgnore};
  static constexpr std::uint32_t kFinished = 2;
  static constexpr struct {
    void (*createDataSource)(wl_client*, wl_resource*, std::uint32_t);
    void (*getDataDevice)(wl_client*, wl_resource*, std::uint32_t, wl_resource*);
    Destroy destroy;
  } kManager{[](wl_client*, wl_resource*, std::uint32_t) {},
             [](wl_client* client, wl_resource* manager, std::uint32_t id, wl_resource*) {
               wl_resource* device =
                   wl_resource_create(client, &zwlr_data_control_device_v1_interface,
                                      wl_resource_get_version(manager), id);
               wl_resource_set_implementation(device, &kDevice, nullptr, nullptr);
               if (wl_resource_get_user_data(manager) != nullptr)
                 wl_resource_post_event(device, kFinished);
             },
             kDestroy};
  for (const bool finishes : {true, false}) {
    test::WaylandListener listener;
    wl_display* server = wl_display_create();
    wl_global_create(server, &wl_seat_interface, 1, nullptr,
                     [](wl_client* client, void*, std::uint32_t version, std::uint32_t id) {
                       wl_resource_create(client, &wl_seat_interface, static_cast<int>(version),
                                          id);
                     });
    wl_global_create(server, &zwlr_data_control_manager_v1_interface, 2,
                     finishes ? server : nullptr,
                     [](wl_client* client, void* finish, std::uint32_t version, std::uint32_t id) {
                       wl_resource_set_implementation(
                           wl_resource_create(client, &zwlr_data_control_manager_v1_interface,
                                              static_cast<int>(version), id),
                           &kManager, finish, nullptr);
                     });
    ASSERT_EQ(wl_display_add_socket_fd(server, dup(listener.fd)), 0);
    std::thread serving([server] { wl_display_run(server); });

    WaylandConnection connection(listener.path.string());
    WaylandPasteboard pasteboard(connection, X11Clipboard::localFiles);
    if (!finishes) {
      wl_display_terminate(server);
      serving.join();
      wl_display_destroy_clients(server);
    }
    connection.roundtrip(std::chrono::milliseconds(500));
    const std::int64_t count = pasteboard.changeCount();
    pasteboard.setText("lost");
    EXPECT_FALSE(pasteboard.available()) << finishes;
    EXPECT_EQ(pasteboard.changeCount(), count) << finishes;
    const std::optional<Snapshot> read = pasteboard.snapshot(isMarker);
    EXPECT_TRUE(read && read->types.empty() && !read->text) << finishes;
    // Nor does this compositor offer a virtual keyboard.
    EXPECT_FALSE(WaylandKeyboard(connection).typePasteShortcut()) << finishes;
    if (finishes) {
      wl_display_terminate(server);
      serving.join();
    }
    wl_display_destroy(server);
  }
}

}  // namespace
}  // namespace varek
