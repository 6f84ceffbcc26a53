// The global hotkey: one key combination, grabbed on the X11 root window so that it
// reaches the launcher whichever application has focus. It is kept under "hotkey" in the
// user defaults in Qt's portable form ("Alt+Space"), which people may edit by hand; the
// German names of the tray ("Strg+Leertaste") and the modifier-glyph labels that earlier
// versions stored read as well (only read, never shown; written back in the new form).
// Another desktop (a Wayland compositor's own binding service) can stand behind the same
// members later: only grab() talks to X11.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QKeyCombination>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/defaults.h"

namespace varek {

class Hotkey : public QAbstractNativeEventFilter {
 public:
  static constexpr const char* kDefaultsKey = "hotkey";
  // The tray's presets; the first is the combination used while nothing usable is stored.
  static constexpr std::array<QKeyCombination, 3> kPresets = {
      QKeyCombination(Qt::AltModifier, Qt::Key_Space),
      QKeyCombination(Qt::ControlModifier, Qt::Key_Space),
      QKeyCombination(Qt::MetaModifier, Qt::Key_Space)};

  // What the last grab came to.
  enum class Status {
    off,         // nothing grabbed yet, or released
    registered,  // grabbed: presses arrive
    taken,       // another client holds the combination
    refused,     // not a usable hotkey (see refusal())
    missingKey,  // the keyboard layout has no key for it
    noDisplay,   // no X11 connection to grab on
  };

  // One combination from its stored or typed text; nothing when the text is not exactly
  // one usable combination.
  static std::optional<QKeyCombination> parse(std::string_view text);
  // The stored form, "Alt+Space", "Ctrl+Shift+K".
  static std::string portableText(QKeyCombination combination);
  // The German label of tray, dialog and log: "Alt+Leertaste", "Strg+Umschalt+K".
  static QString label(QKeyCombination combination);
  // Why the combination cannot be a hotkey, in German; nothing when it can. A key without
  // Strg, Alt or Super would be taken from every text field of the desktop.
  static std::optional<QString> refusal(QKeyCombination combination);
  // The X11 modifier mask that the combination grabs: Shift, Control, Mod1, Mod4.
  static std::uint16_t modifiers(QKeyCombination combination);

  explicit Hotkey(Defaults& defaults);
  // Releases the grab, so that a later instance or another client may take the key.
  ~Hotkey() override;
  Hotkey(const Hotkey&) = delete;
  Hotkey& operator=(const Hotkey&) = delete;

  // Read from the defaults on every call; an absent or unusable value is kPresets[0].
  QKeyCombination combination() const;
  // Stores the combination and registers it (ask registered() or status() how it went).
  void setCombination(QKeyCombination combination);

  // Releases any grab, then grabs the stored combination; false when that failed, and then
  // nothing stays grabbed.
  bool registerKey() { return grab(combination()) == Status::registered; }
  // Releases any grab, then grabs this combination without storing it.
  Status grab(QKeyCombination combination);
  void unregisterKey();
  bool registered() const { return status_ == Status::registered; }
  Status status() const { return status_; }

  // Called on every press of the grabbed combination, on the main thread.
  void setOnPress(std::function<void()> onPress) { onPress_ = std::move(onPress); }

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  Defaults& defaults_;
  std::function<void()> onPress_;
  Status status_ = Status::off;
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
