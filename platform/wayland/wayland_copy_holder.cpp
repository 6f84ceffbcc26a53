#include "platform/wayland/wayland_copy_holder.h"

#include <poll.h>

#include <thread>

#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_pasteboard.h"

namespace varek {
namespace {

using SteadyClock = std::chrono::steady_clock;

// How often a hold that has ended looks whether its last reader is done.
constexpr std::chrono::milliseconds kReaderCheck{20};

// The copy stays whole for whoever was pasting it when another copy came.
void letReadersFinish(const WaylandPasteboard& pasteboard) {
  const auto deadline = SteadyClock::now() + WaylandPasteboard::kServeTime;
  while (pasteboard.serving() && SteadyClock::now() < deadline) {
    std::this_thread::sleep_for(kReaderCheck);
  }
}

}  // namespace

CopyHoldEnd holdWaylandCopy(const std::string& text, std::chrono::milliseconds limit,
                            const std::function<bool()>& held) {
  WaylandConnection connection;
  if (connection.state() != WaylandConnection::State::connected ||
      !connection.offers(WaylandConnection::Capability::dataControl)) {
    return CopyHoldEnd::refused;
  }
  WaylandPasteboard pasteboard(connection, {});
  if (!pasteboard.available()) return CopyHoldEnd::refused;
  pasteboard.setText(text);
  // The compositor announces the new selection to every watcher, this one included, before
  // it answers the round trip; only a later selection is someone else's.
  if (!connection.roundtrip(WaylandPasteboard::kAnswerTime) || !pasteboard.available()) {
    return CopyHoldEnd::refused;
  }
  const std::int64_t own = pasteboard.changeCount();
  if (!held()) return CopyHoldEnd::abandoned;

  const auto deadline = SteadyClock::now() + limit;
  CopyHoldEnd end = CopyHoldEnd::expired;
  for (;;) {
    if (connection.update() != WaylandConnection::State::connected || !pasteboard.available()) {
      end = CopyHoldEnd::lost;
      break;
    }
    if (pasteboard.changeCount() > own) {
      end = CopyHoldEnd::replaced;
      break;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    if (left <= 0) break;
    pollfd events{.fd = connection.fd(), .events = POLLIN, .revents = 0};
    ::poll(&events, 1, static_cast<int>(left));
  }
  letReadersFinish(pasteboard);
  return end;
}

}  // namespace varek
