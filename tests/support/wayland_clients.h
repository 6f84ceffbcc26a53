// Other programs on the test's Wayland desktop: a copier that offers whatever types and
// bytes a test wants (wl-copy offers one type at a time), a command run to its end while
// the test keeps its own connection answering, and a socket for a compositor of the test's
// own.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/wayland/wayland_connection.h"
#include "wlr-data-control-unstable-v1-client.h"

extern char** environ;

namespace varek::test {

// Takes the clipboard with copies of its own, on a connection and a thread of its own, so
// it answers reads while the test's thread waits for them.
class WaylandCopier {
 public:
  struct Copy {
    std::vector<std::string> types;
    std::string bytes;  // the answer to every type
  };

  WaylandCopier() {
    // A reader that gives up closes its end under our writes.
    ::signal(SIGPIPE, SIG_IGN);
    using Capability = WaylandConnection::Capability;
    seat_ = static_cast<wl_seat*>(connection_.bind(Capability::seat, &wl_seat_interface, 1));
    manager_ = static_cast<zwlr_data_control_manager_v1*>(connection_.bind(
        Capability::dataControl, &zwlr_data_control_manager_v1_interface, 1));
    if (seat_ != nullptr && manager_ != nullptr)
      device_ = zwlr_data_control_manager_v1_get_data_device(manager_, seat_);
    thread_ = std::thread([this] { run(); });
  }
  ~WaylandCopier() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    thread_.join();
  }

  // Queues copies that take the clipboard one after another: each as soon as the one
  // before has been read, or had a moment to be, the way a password manager that marks
  // every second copy changes the clipboard under a reader.
  void copy(std::vector<Copy> copies) {
    const std::lock_guard lock(mutex_);
    for (Copy& copy : copies) queued_.push_back(std::move(copy));
  }
  // Waits until every queued copy has been made and the compositor has handled it.
  bool settle(std::chrono::milliseconds wait = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return settled_.wait_for(lock, wait, [&] { return queued_.empty() && busy_ == 0; });
  }

 private:
  struct Source {
    zwlr_data_control_source_v1* proxy;
    std::string bytes;
    bool read = false;
  };
  static constexpr auto kUnreadFor = std::chrono::milliseconds(2);

  static void send(void* data, zwlr_data_control_source_v1*, const char*, int fd) {
    static_cast<Source*>(data)->read = true;
    const std::string& bytes = static_cast<Source*>(data)->bytes;
    for (std::size_t written = 0; written < bytes.size();) {
      const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
      if (count <= 0) break;
      written += static_cast<std::size_t>(count);
    }
    ::close(fd);
  }
  static void cancelled(void*, zwlr_data_control_source_v1*) {}

  bool nothingQueued() {
    const std::lock_guard lock(mutex_);
    return queued_.empty();
  }

  void run() {
    static constexpr zwlr_data_control_source_v1_listener kListener = {.send = send,
                                                                       .cancelled = cancelled};
    while (true) {
      std::optional<Copy> next;
      const bool waiting = !sources_.empty() && !sources_.back()->read &&
                           std::chrono::steady_clock::now() - madeAt_ < kUnreadFor;
      {
        const std::lock_guard lock(mutex_);
        if (stopping_) break;
        if (!queued_.empty() && !waiting) {
          next = std::move(queued_.front());
          queued_.pop_front();
          ++busy_;
        }
      }
      if (next && device_ != nullptr) {
        // Every source stays alive to the end: a late reader of an old copy still gets it.
        auto& source = sources_.emplace_back(std::make_unique<Source>(
            Source{zwlr_data_control_manager_v1_create_data_source(manager_), next->bytes}));
        zwlr_data_control_source_v1_add_listener(source->proxy, &kListener, source.get());
        for (const std::string& type : next->types)
          zwlr_data_control_source_v1_offer(source->proxy, type.c_str());
        zwlr_data_control_device_v1_set_selection(device_, source->proxy);
        madeAt_ = std::chrono::steady_clock::now();
      }
      if (next && nothingQueued()) connection_.roundtrip();
      connection_.update();
      pollfd watched{.fd = connection_.fd(), .events = POLLIN, .revents = 0};
      if (!next) ::poll(&watched, 1, 1);
      const std::lock_guard lock(mutex_);
      if (next) --busy_;
      if (queued_.empty() && busy_ == 0) settled_.notify_all();
    }
    for (auto& source : sources_) zwlr_data_control_source_v1_destroy(source->proxy);
    if (device_ != nullptr) zwlr_data_control_device_v1_destroy(device_);
    if (manager_ != nullptr) zwlr_data_control_manager_v1_destroy(manager_);
    if (seat_ != nullptr) wl_seat_destroy(seat_);
    connection_.roundtrip();
  }

  WaylandConnection connection_;
  wl_seat* seat_ = nullptr;
  zwlr_data_control_manager_v1* manager_ = nullptr;
  zwlr_data_control_device_v1* device_ = nullptr;
  std::vector<std::unique_ptr<Source>> sources_;
  std::chrono::steady_clock::time_point madeAt_;
  std::mutex mutex_;
  std::condition_variable settled_;
  std::deque<Copy> queued_;
  int busy_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

// A listening socket at a fresh path, that nobody serves until given to a server.
struct WaylandListener {
  inline static int made = 0;
  std::filesystem::path path = std::filesystem::temp_directory_path() /
                               ("wayland-test-" + std::to_string(getpid()) + "-" +
                                std::to_string(made++));
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

// Runs a program to its end (at most `wait`) and gives what it printed, while `connection`
// keeps handling its events, so the program may read a clipboard this process serves.
inline std::optional<std::string> runAnswering(WaylandConnection& connection,
                                               std::vector<std::string> command,
                                               std::chrono::milliseconds wait =
                                                   std::chrono::seconds(10)) {
  int output[2];
  if (::pipe(output) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, output[0]);
  std::vector<char*> arguments;
  for (std::string& argument : command) arguments.push_back(argument.data());
  arguments.push_back(nullptr);
  pid_t child = 0;
  const int spawned =
      posix_spawnp(&child, arguments[0], &actions, nullptr, arguments.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(output[1]);
  std::string printed;
  bool ended = false;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (spawned == 0 && std::chrono::steady_clock::now() < deadline) {
    connection.update();
    pollfd watched[] = {{.fd = output[0], .events = POLLIN, .revents = 0},
                        {.fd = connection.fd(), .events = POLLIN, .revents = 0}};
    ::poll(watched, 2, 50);
    if ((watched[0].revents & (POLLIN | POLLHUP)) == 0) continue;
    char chunk[4096];
    const ssize_t count = ::read(output[0], chunk, sizeof chunk);
    if (count <= 0) {
      ended = true;
      break;
    }
    printed.append(chunk, static_cast<std::size_t>(count));
  }
  ::close(output[0]);
  if (spawned != 0) return std::nullopt;
  if (!ended) ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return printed;
}

}  // namespace varek::test
