// The global hotkey: one key combination that reaches the launcher whichever application
// has focus, bound by the KeyBinder of the session (see key_binder.h). It is kept under
// "hotkey" in the user defaults in Qt's portable form ("Alt+Space"), which people may edit
// by hand; the German names of the tray ("Strg+Leertaste") and the modifier-glyph labels
// that earlier versions stored read as well (only read, never shown; written back in the
// new form).
#pragma once

#include <QKeyCombination>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/key_binder.h"
#include "platform/defaults.h"

namespace varek {

class Hotkey {
 public:
  static constexpr const char* kDefaultsKey = "hotkey";
  // The tray's presets; the first is the combination used while nothing usable is stored.
  static constexpr std::array<QKeyCombination, 3> kPresets = {
      QKeyCombination(Qt::AltModifier, Qt::Key_Space),
      QKeyCombination(Qt::ControlModifier, Qt::Key_Space),
      QKeyCombination(Qt::MetaModifier, Qt::Key_Space)};

  using Status = KeyBinder::Status;

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
  // Binds through the binder of the session (makeKeyBinder()).
  explicit Hotkey(Defaults& defaults);
  Hotkey(Defaults& defaults, std::unique_ptr<KeyBinder> binder);
  // Releases the binding, so that a later instance or another client may take the key.
  ~Hotkey();
  Hotkey(const Hotkey&) = delete;
  Hotkey& operator=(const Hotkey&) = delete;

  // Read from the defaults on every call; an absent or unusable value is kPresets[0].
  QKeyCombination combination() const;
  // Stores the combination and registers it (ask registered() or status() how it went).
  void setCombination(QKeyCombination combination);

  // Releases any binding, then binds the stored combination; false when that failed, and
  // then nothing stays bound.
  bool registerKey() { return grab(combination()) == Status::registered; }
  // Releases any binding, then binds this combination without storing it.
  Status grab(QKeyCombination combination);
  void unregisterKey();
  bool registered() const { return status_ == Status::registered; }
  Status status() const { return status_; }

  // Where the desktop keeps the binding in the user's settings, whether the user agreed to
  // have it written there; agreeing writes the stored combination and binds it again.
  KeyBinder::Consent consent() const { return binder_->consent(); }
  bool agree();
  void withdraw();

  // Called on every press of the bound combination, on the main thread.
  void setOnPress(std::function<void()> onPress) { onPress_ = std::move(onPress); }

 private:
  Defaults& defaults_;
  std::unique_ptr<KeyBinder> binder_;
  std::function<void()> onPress_;
  Status status_ = Status::off;
};

}  // namespace varek
