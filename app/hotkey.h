// The global hotkey: the space bar with one chosen modifier, grabbed on the X11 root
// window so that it reaches the launcher whichever application has focus. The choice is
// kept under "hotkey" in the user defaults, as the label the status menu shows.
#pragma once

#include <QAbstractNativeEventFilter>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/defaults.h"

namespace varek {

class Hotkey : public QAbstractNativeEventFilter {
 public:
  // Option, Control and Command stand for Alt, Control and Super on a PC keyboard.
  enum class Choice { optionSpace, controlSpace, commandSpace };
  static constexpr std::array<Choice, 3> kChoices = {Choice::optionSpace, Choice::controlSpace,
                                                     Choice::commandSpace};
  static constexpr const char* kDefaultsKey = "hotkey";

  // "⌥ Leertaste", "⌃ Leertaste", "⌘ Leertaste": the stored form and the menu's label.
  static std::string_view label(Choice choice);
  static std::optional<Choice> choiceFromLabel(std::string_view label);
  // The X11 modifier mask that the choice grabs (Mod1, Control, Mod4).
  static std::uint16_t modifiers(Choice choice);

  explicit Hotkey(Defaults& defaults);
  // Releases the grab, so that a later instance or another client may take the key.
  ~Hotkey() override;
  Hotkey(const Hotkey&) = delete;
  Hotkey& operator=(const Hotkey&) = delete;

  // Read from the defaults on every call; an absent or unknown value is optionSpace.
  Choice choice() const;
  // Stores the choice and registers it (the result is dropped; ask registerKey()).
  void setChoice(Choice choice);

  // Releases any grab, then grabs the current choice; false when another client holds the
  // combination (or there is no X11 display), and then nothing stays grabbed.
  bool registerKey();
  void unregisterKey();
  bool registered() const { return !grabs_.empty(); }

  // Called on every press of the grabbed combination, on the main thread.
  void setOnPress(std::function<void()> onPress) { onPress_ = std::move(onPress); }

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  Defaults& defaults_;
  std::function<void()> onPress_;
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
