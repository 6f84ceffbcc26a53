#include "platform/wayland/sway_ipc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

namespace varek {
namespace {

constexpr std::string_view kMagic = "i3-ipc";
constexpr std::size_t kHeaderSize = kMagic.size() + 2 * sizeof(std::uint32_t);

// Reads exactly size bytes; the deadline bounds a peer that stops halfway.
bool readAll(int fd, char* data, std::size_t size, std::chrono::steady_clock::time_point deadline) {
  while (size > 0) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd watched{.fd = fd, .events = POLLIN, .revents = 0};
    const int ready = poll(&watched, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t got = ::recv(fd, data, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

SwayIpc::SwayIpc(const std::optional<std::string>& socket) {
  if (socket) {
    socket_ = *socket;
  } else if (const char* variable = std::getenv("SWAYSOCK")) {
    socket_ = variable;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_.empty() || socket_.size() >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, socket_.c_str(), socket_.size() + 1);
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ >= 0 && connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
    disconnect();
  }
}

SwayIpc::~SwayIpc() { disconnect(); }

void SwayIpc::disconnect() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool SwayIpc::send(std::uint32_t type, std::string_view payload) {
  if (fd_ < 0) return false;
  std::string message(kMagic);
  const auto length = static_cast<std::uint32_t>(payload.size());
  message.append(reinterpret_cast<const char*>(&length), sizeof length);
  message.append(reinterpret_cast<const char*>(&type), sizeof type);
  message.append(payload);
  std::string_view left = message;
  while (!left.empty()) {
    const ssize_t sent = ::send(fd_, left.data(), left.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) {
      disconnect();
      return false;
    }
    left.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

std::optional<SwayIpc::Received> SwayIpc::receive(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  char header[kHeaderSize];
  if (fd_ < 0 || !readAll(fd_, header, sizeof header, deadline) ||
      std::string_view(header, kMagic.size()) != kMagic) {
    disconnect();
    return std::nullopt;
  }
  std::uint32_t length = 0;
  Received received;
  std::memcpy(&length, header + kMagic.size(), sizeof length);
  std::memcpy(&received.type, header + kMagic.size() + sizeof length, sizeof received.type);
  if (length > kMaxPayload) {
    disconnect();
    return std::nullopt;
  }
  received.payload.resize(length);
  // The rest of a message follows its header at once.
  if (!readAll(fd_, received.payload.data(), length, deadline + kReplyWait)) {
    disconnect();
    return std::nullopt;
  }
  return received;
}

std::optional<std::string> SwayIpc::request(Message type, std::string_view payload,
                                            std::chrono::milliseconds wait) {
  if (!send(static_cast<std::uint32_t>(type), payload)) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (true) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    std::optional<Received> received = receive(std::max(left, std::chrono::milliseconds(0)));
    if (!received) return std::nullopt;
    if ((received->type & kEventBit) == 0) return std::move(received->payload);
    pending_.push_back(std::move(*received));
  }
}

bool SwayIpc::command(std::string_view commands) {
  error_.clear();
  const std::optional<std::string> reply = request(Message::runCommand, commands);
  if (!reply) {
    error_ = "sway antwortet nicht";
    return false;
  }
  const nlohmann::json results = nlohmann::json::parse(*reply, nullptr, false);
  if (!results.is_array() || results.empty()) {
    error_ = "unlesbare Antwort von sway";
    return false;
  }
  for (const nlohmann::json& result : results) {
    if (!result.is_object() || result.value("success", false) != true) {
      error_ = result.is_object() ? result.value("error", std::string("unbekannter Fehler"))
                                  : std::string("unlesbare Antwort von sway");
      return false;
    }
  }
  return true;
}

bool SwayIpc::subscribe(const std::vector<std::string>& events) {
  const std::optional<std::string> reply =
      request(Message::subscribe, nlohmann::json(events).dump());
  if (!reply) return false;
  const nlohmann::json result = nlohmann::json::parse(*reply, nullptr, false);
  return result.is_object() && result.value("success", false) == true;
}

std::vector<SwayIpc::Received> SwayIpc::events() {
  std::vector<Received> arrived = std::move(pending_);
  pending_.clear();
  while (fd_ >= 0) {
    pollfd watched{.fd = fd_, .events = POLLIN, .revents = 0};
    if (poll(&watched, 1, 0) <= 0) break;
    std::optional<Received> received = receive(kReplyWait);
    if (!received) break;
    arrived.push_back(std::move(*received));
  }
  return arrived;
}

}  // namespace varek
