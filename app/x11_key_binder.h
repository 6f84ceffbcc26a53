// The hotkey on an X11 session: a passive grab of the combination on the root window of
// Qt's own connection, whose key events a native event filter picks out.
#pragma once

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <vector>

#include "app/key_binder.h"

namespace varek {

class X11KeyBinder : public KeyBinder, public QAbstractNativeEventFilter {
 public:
  // The X11 modifier mask that the combination grabs: Shift, Control, Mod1, Mod4.
  static std::uint16_t modifiers(QKeyCombination combination);

  X11KeyBinder() = default;
  ~X11KeyBinder() override;
  X11KeyBinder(const X11KeyBinder&) = delete;
  X11KeyBinder& operator=(const X11KeyBinder&) = delete;

  Status bind(QKeyCombination combination) override;
  void unbind() override;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  bool installed_ = false;
  std::uint32_t root_ = 0;
  std::uint8_t keycode_ = 0;
  std::uint16_t modifiers_ = 0;
  std::uint16_t ignoredModifiers_ = 0;  // Lock and NumLock, which must not matter
  std::vector<std::uint16_t> grabs_;    // the modifier masks grabbed now
  bool held_ = false;                   // pressed and not yet released
  std::uint32_t lastRelease_ = 0;       // the server time of the last release
};

}  // namespace varek
