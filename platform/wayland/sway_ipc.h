// sway's IPC socket (the i3 protocol): commands, the tree of windows and outputs, the
// configuration as loaded, and events. What Wayland does not let a client do (bind a key,
// place a window, float the panel) sway does on request. Plain C++; the payloads are JSON.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varek {

class SwayIpc {
 public:
  enum class Message : std::uint32_t {
    runCommand = 0,
    getWorkspaces = 1,
    subscribe = 2,
    getOutputs = 3,
    getTree = 4,
    getVersion = 7,
    getConfig = 9,
    sendTick = 10,
  };
  // Events carry the high bit; the rest names the event.
  static constexpr std::uint32_t kEventBit = 0x80000000U;
  enum class Event : std::uint32_t {
    workspace = kEventBit | 0,
    window = kEventBit | 3,
    binding = kEventBit | 5,
    shutdown = kEventBit | 6,
    tick = kEventBit | 7,
  };
  struct Received {
    std::uint32_t type = 0;
    std::string payload;
  };

  // sway answers at once; one silent this long is hung.
  static constexpr std::chrono::milliseconds kReplyWait{2000};
  // A reply larger than this is refused rather than read (a tree of a few hundred windows
  // is well below it).
  static constexpr std::uint32_t kMaxPayload = 16U << 20;

  // Connects to this socket, else the one SWAYSOCK names; not connected without either.
  explicit SwayIpc(const std::optional<std::string>& socket = std::nullopt);
  ~SwayIpc();
  SwayIpc(const SwayIpc&) = delete;
  SwayIpc& operator=(const SwayIpc&) = delete;

  bool connected() const { return fd_ >= 0; }
  // The socket in use, so that a second connection (one for events) can join it.
  const std::string& socket() const { return socket_; }

  // Sends one message and waits for its reply; nothing when the socket broke or sway did
  // not answer in time, and then the connection is closed. Events that arrive meanwhile
  // (on a subscribed connection) are kept for events().
  std::optional<std::string> request(Message type, std::string_view payload = {},
                                     std::chrono::milliseconds wait = kReplyWait);
  // Runs sway commands ("floating enable, move position center"); true when every one
  // of them succeeded. Why one failed goes to error().
  bool command(std::string_view commands);
  const std::string& error() const { return error_; }

  // Subscribes this connection to events ("binding", "window", "shutdown", …); afterwards
  // an event loop watches fd() and calls events() when it is readable.
  bool subscribe(const std::vector<std::string>& events);
  int fd() const { return fd_; }
  // The events that have arrived, without waiting; the connection closes when sway is gone.
  std::vector<Received> events();

 private:
  bool send(std::uint32_t type, std::string_view payload);
  // Reads one whole message, waiting at most wait for its first byte.
  std::optional<Received> receive(std::chrono::milliseconds wait);
  void disconnect();

  std::string socket_;
  int fd_ = -1;
  std::string error_;
  std::vector<Received> pending_;
};

}  // namespace varek
