#include "bench/e2e/bus_name.h"

namespace varek::e2e {
namespace {

constexpr const char* kBus = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";

}  // namespace

BusName::BusName(std::string name) : name_(std::move(name)) {
  connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (connection_ == nullptr) return;
  // Signals are handed to the default main context, which await() runs.
  subscription_ = g_dbus_connection_signal_subscribe(
      connection_, kBus, kBus, "NameOwnerChanged", kBusPath, name_.c_str(),
      G_DBUS_SIGNAL_FLAGS_NONE, &BusName::changed, this, nullptr);
}

BusName::~BusName() {
  if (connection_ == nullptr) return;
  g_dbus_connection_signal_unsubscribe(connection_, subscription_);
  g_object_unref(connection_);
}

void BusName::changed(GDBusConnection*, const char*, const char*, const char*, const char*,
                      GVariant* parameters, gpointer self) {
  const char* name = nullptr;
  const char* oldOwner = nullptr;
  const char* newOwner = nullptr;
  g_variant_get(parameters, "(&s&s&s)", &name, &oldOwner, &newOwner);
  auto* watch = static_cast<BusName*>(self);
  watch->lastOwned_ = newOwner[0] != '\0';
  watch->lastChange_ = Clock::now();
}

bool BusName::owned() const {
  if (connection_ == nullptr) return false;
  GVariant* reply = g_dbus_connection_call_sync(
      connection_, kBus, kBusPath, kBus, "NameHasOwner", g_variant_new("(s)", name_.c_str()),
      G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
  if (reply == nullptr) return false;
  gboolean has = FALSE;
  g_variant_get(reply, "(b)", &has);
  g_variant_unref(reply);
  return has != FALSE;
}

std::optional<Clock::time_point> BusName::await(bool owned, Clock::time_point since,
                                                std::chrono::milliseconds limit) {
  if (connection_ == nullptr) return std::nullopt;
  bool timedOut = false;
  GSource* timeout = g_timeout_source_new(static_cast<unsigned>(limit.count()));
  g_source_set_callback(
      timeout,
      [](gpointer flag) {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &timedOut, nullptr);
  g_source_attach(timeout, nullptr);
  const auto seen = [&] { return lastOwned_ == owned && lastChange_ >= since; };
  while (!seen() && !timedOut) g_main_context_iteration(nullptr, TRUE);
  g_source_destroy(timeout);
  g_source_unref(timeout);
  if (!seen()) return std::nullopt;
  return lastChange_;
}

}  // namespace varek::e2e
