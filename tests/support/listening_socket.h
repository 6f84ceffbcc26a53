// A listening Unix socket at a fresh path, that nobody serves until it is given to a
// server (wl_display_add_socket_fd): a compositor of a test's own.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace varek::test {

struct Listener {
  std::filesystem::path path =
      std::filesystem::path(testing::TempDir()) / ("wayland-test-" + std::to_string(getpid()));
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  Listener() {
    std::filesystem::remove(path);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    listen(fd, 1);
  }
  ~Listener() {
    close(fd);
    std::filesystem::remove(path);
  }
};

}  // namespace varek::test
