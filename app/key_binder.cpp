#include "app/key_binder.h"

#include <cstdlib>

#include <QDBusConnection>

#include "app/gnome_key_binder.h"
#include "app/kglobalaccel_key_binder.h"
#include "app/portal_key_binder.h"
#include "app/x11_key_binder.h"
#ifdef VAREK_SWAY_KEY_BINDER
#include "app/sway_key_binder.h"
#endif

namespace varek {
namespace {

// Where no way to bind a key exists, the user binds `varek signal toggle` by hand.
class UnsupportedKeyBinder : public KeyBinder {
 public:
  Status bind(QKeyCombination) override { return Status::unsupported; }
  void unbind() override {}
};

bool variableSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

KeyBinder::~KeyBinder() = default;

std::unique_ptr<KeyBinder> makeKeyBinder(const KeyBinderOptions& options) {
  // On a Wayland session an X11 grab would hear only keys typed into XWayland windows.
  if (!variableSet("WAYLAND_DISPLAY")) return std::make_unique<X11KeyBinder>();
#ifdef VAREK_SWAY_KEY_BINDER
  if (variableSet("SWAYSOCK")) return std::make_unique<SwayKeyBinder>(options.swayCommand);
#endif
  // Hyprland and the other wlroots compositors without sway's IPC have ways of their own;
  // until one is built here they get the unsupported binder and its text.
  const QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected() && PortalKeyBinder::offered(bus))
    return std::make_unique<PortalKeyBinder>(bus);
  if (bus.isConnected() && KGlobalAccelKeyBinder::offered(bus)) {
    return std::make_unique<KGlobalAccelKeyBinder>(bus);
  }
  if (GnomeKeyBinder::offered()) return std::make_unique<GnomeKeyBinder>();
  return std::make_unique<UnsupportedKeyBinder>();
}

}  // namespace varek
