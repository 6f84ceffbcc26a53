// Other programs on the test's Wayland desktop: a copier that offers whatever types and
// bytes a test wants (wl-copy offers one type at a time), a command run to its end while
// the test keeps its own connection answering, and a socket for a compositor of the test's
// own.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/wayland/wayland_connection.h"
#include "wlr-data-control-unstable-v1-client.h"

namespace varek::test {

// Takes the clipboard with copies of its own, on a connection and a thread of its own, so
// it answers reads while the test's thread waits for them. Each copy follows the one
// before as soon as that has been read, or has had a moment to be: the way a password
// manager that marks every second copy changes the clipboard under a reader.
class WaylandCopier {
 public:
  struct Copy {
    std::vector<std::string> types;
    std::string bytes;  // the answer to every type
  };

  explicit WaylandCopier(std::vector<Copy> copies) : copies_(std::move(copies)) {
    // A reader that gives up closes its end under our writes.
    ::signal(SIGPIPE, SIG_IGN);
    thread_ = std::thread([this] { run(); });
  }
  ~WaylandCopier() {
    stopping_ = true;
    thread_.join();
  }

 private:
  struct Source {
    zwlr_data_control_source_v1* proxy;
    const std::string& bytes;
    bool read = false;
  };
  static constexpr auto kUnreadFor = std::chrono::milliseconds(2);

  static void send(void* data, zwlr_data_control_source_v1*, const char*, int fd) {
    auto& source = *static_cast<Source*>(data);
    source.read = true;
    for (std::size_t written = 0; written < source.bytes.size();) {
      const ssize_t count =
          ::write(fd, source.bytes.data() + written, source.bytes.size() - written);
      if (count <= 0) break;
      written += static_cast<std::size_t>(count);
    }
    ::close(fd);
  }
  static void cancelled(void*, zwlr_data_control_source_v1*) {}

  void run() {
    using Capability = WaylandConnection::Capability;
    WaylandConnection connection;
    auto* seat = static_cast<wl_seat*>(connection.bind(Capability::seat, &wl_seat_interface, 1));
    auto* manager = static_cast<zwlr_data_control_manager_v1*>(
        connection.bind(Capability::dataControl, &zwlr_data_control_manager_v1_interface, 1));
    if (seat == nullptr || manager == nullptr) return;
    zwlr_data_control_device_v1* device =
        zwlr_data_control_manager_v1_get_data_device(manager, seat);
    static constexpr zwlr_data_control_source_v1_listener kListener = {.send = send,
                                                                       .cancelled = cancelled};
    // Every source stays alive to the end: a late reader of an old copy still gets it.
    std::vector<std::unique_ptr<Source>> sources;
    auto madeAt = std::chrono::steady_clock::now();
    while (!stopping_) {
      const bool waiting = !sources.empty() && !sources.back()->read &&
                           std::chrono::steady_clock::now() - madeAt < kUnreadFor;
      if (sources.size() < copies_.size() && !waiting) {
        const Copy& copy = copies_[sources.size()];
        auto& source = sources.emplace_back(std::make_unique<Source>(
            Source{zwlr_data_control_manager_v1_create_data_source(manager), copy.bytes}));
        zwlr_data_control_source_v1_add_listener(source->proxy, &kListener, source.get());
        for (const std::string& type : copy.types)
          zwlr_data_control_source_v1_offer(source->proxy, type.c_str());
        zwlr_data_control_device_v1_set_selection(device, source->proxy);
        madeAt = std::chrono::steady_clock::now();
      }
      connection.update();
      pollfd watched{.fd = connection.fd(), .events = POLLIN, .revents = 0};
      ::poll(&watched, 1, 1);
    }
    for (auto& source : sources) zwlr_data_control_source_v1_destroy(source->proxy);
    zwlr_data_control_device_v1_destroy(device);
    zwlr_data_control_manager_v1_destroy(manager);
    wl_seat_destroy(seat);
    connection.roundtrip();
  }

  const std::vector<Copy> copies_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Handles the compositor's events until done holds; long enough for a loaded machine.
inline bool handleEventsUntil(WaylandConnection& connection, const std::function<bool()>& done) {
  for (int turn = 0; turn < 400; ++turn) {
    connection.update();
    if (done()) return true;
    pollfd watched{.fd = connection.fd(), .events = POLLIN, .revents = 0};
    ::poll(&watched, 1, 50);
  }
  return false;
}

// A listening socket at a fresh path, that nobody serves until given to a server.
struct WaylandListener {
  inline static int made = 0;
  std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("wayland-test-" + std::to_string(getpid()) + "-" + std::to_string(made++));
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  WaylandListener() {
    std::filesystem::remove(path);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    listen(fd, 1);
  }
  ~WaylandListener() {
    close(fd);
    std::filesystem::remove(path);
  }
};

// What a program printed, run to its end on a thread of its own while `connection` keeps
// handling its events, so the program may read a clipboard this process serves.
inline std::optional<std::string> runAnswering(WaylandConnection& connection,
                                               const std::string& command) {
  auto printed = std::async(std::launch::async, [command]() -> std::optional<std::string> {
    FILE* program = ::popen(command.c_str(), "r");
    if (program == nullptr) return std::nullopt;
    std::string output;
    char chunk[4096];
    while (const std::size_t count = std::fread(chunk, 1, sizeof chunk, program))
      output.append(chunk, count);
    return ::pclose(program) == 0 ? std::optional(output) : std::nullopt;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (printed.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready &&
         std::chrono::steady_clock::now() < deadline)
    connection.update();
  return printed.get();
}

}  // namespace varek::test
