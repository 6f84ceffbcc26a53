#include "platform/wayland/wayland_connection.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-server.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "tests/support/listening_socket.h"
#include "tests/support/scoped_variable.h"
#include "virtual-keyboard-unstable-v1-client.h"
#include "wlr-data-control-unstable-v1-client.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

namespace varek {
namespace {

using Capability = WaylandConnection::Capability;
using State = WaylandConnection::State;

// Runs under scripts/with-sway, whose sway 1.7 offers every capability, those with
// descriptions of our own in at least the version they describe.
TEST(WaylandConnection, listsWhatSwayOffers) {
  WaylandConnection connection;
  ASSERT_EQ(connection.state(), State::connected) << connection.error().message();
  EXPECT_GE(connection.fd(), 0);
  const struct {
    Capability capability;
    int version;
  } rows[] = {{Capability::dataControl, zwlr_data_control_manager_v1_interface.version},
              {Capability::foreignToplevel, zwlr_foreign_toplevel_manager_v1_interface.version},
              {Capability::virtualKeyboard, zwp_virtual_keyboard_manager_v1_interface.version},
              {Capability::activation, 1},
              {Capability::layerShell, 4},
              {Capability::seat, 7}};
  for (const auto& row : rows) {
    EXPECT_GE(static_cast<int>(connection.offeredVersion(row.capability)), row.version)
        << WaylandConnection::interfaceName(row.capability);
  }
  EXPECT_EQ(connection.update(), State::connected);

  auto* seat = static_cast<wl_seat*>(connection.bind(Capability::seat, &wl_seat_interface, 5));
  ASSERT_NE(seat, nullptr);
  EXPECT_EQ(wl_seat_get_version(seat), 5u);
  EXPECT_TRUE(connection.roundtrip());
  wl_seat_destroy(seat);
}

// No display, an unreachable one and a silent one leave the connection absent with a reason.
TEST(WaylandConnection, failsCleanlyWithoutACompositor) {
  test::Listener silent;
  const struct {
    const char* name;
    std::optional<std::string> display;
    std::errc error;
  } rows[] = {
      {"none named", "", std::errc::no_such_device},
      {"no such socket name", "varek-no-such-display", std::errc::no_such_file_or_directory},
      {"no such socket path", "/nonexistent/wayland-0", std::errc::no_such_file_or_directory},
      {"accepted but never answered", silent.path, std::errc::timed_out},
  };
  for (const auto& row : rows) {
    const WaylandConnection connection(row.display, std::chrono::milliseconds(200));
    EXPECT_EQ(connection.state(), State::absent) << row.name;
    EXPECT_EQ(connection.error(), row.error) << row.name;
    EXPECT_EQ(connection.fd(), -1) << row.name;
    EXPECT_TRUE(connection.globals().empty()) << row.name;
  }
  // No fallback to wayland-0 when the variable is missing.
  const test::ScopedVariable unset("WAYLAND_DISPLAY", nullptr);
  EXPECT_EQ(WaylandConnection().error(), std::errc::no_such_device);
}

// A compositor that quits leaves a lost connection behind, and no crash.
TEST(WaylandConnection, reportsACompositorThatVanishes) {
  test::Listener listener;
  wl_display* server = wl_display_create();
  wl_global_create(server, &wl_seat_interface, 7, nullptr,
                   [](wl_client*, void*, uint32_t, uint32_t) {});
  ASSERT_EQ(wl_display_add_socket_fd(server, dup(listener.fd)), 0);
  std::thread serving([server] { wl_display_run(server); });

  WaylandConnection connection(listener.path.string());
  EXPECT_EQ(connection.state(), State::connected) << connection.error().message();
  EXPECT_EQ(connection.offeredVersion(Capability::seat), 7u);
  EXPECT_FALSE(connection.offers(Capability::dataControl));

  wl_display_terminate(server);
  serving.join();
  wl_display_destroy_clients(server);
  wl_display_destroy(server);
  EXPECT_EQ(connection.update(), State::lost);
  EXPECT_EQ(connection.error(), std::errc::broken_pipe);
  EXPECT_EQ(connection.update(), State::lost);
  EXPECT_EQ(connection.fd(), -1);
}

}  // namespace
}  // namespace varek
