// A well-known name on the session bus as the benchmark watches it: the launcher claims
// its name once its hotkey is grabbed and its signals are heard, so the moment the name
// gains an owner is the moment the launcher is ready.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <optional>
#include <string>

#include "bench/e2e/frame_watch.h"

namespace varek::e2e {

class BusName {
 public:
  // Watches the name on the session bus of DBUS_SESSION_BUS_ADDRESS.
  explicit BusName(std::string name);
  ~BusName();
  BusName(const BusName&) = delete;
  BusName& operator=(const BusName&) = delete;

  bool connected() const { return connection_ != nullptr; }
  // Asks the bus now.
  bool owned() const;
  // When, after since, the name was seen to be claimed (owned true) or released; nothing
  // when that did not happen within the limit.
  std::optional<Clock::time_point> await(bool owned, Clock::time_point since,
                                         std::chrono::milliseconds limit);

 private:
  static void changed(GDBusConnection*, const char*, const char*, const char*, const char*,
                      GVariant* parameters, gpointer self);

  std::string name_;
  GDBusConnection* connection_ = nullptr;
  unsigned subscription_ = 0;
  // The last change seen: whether the name then had an owner, and when.
  std::optional<bool> lastOwned_;
  Clock::time_point lastChange_;
};

}  // namespace varek::e2e
