// The hotkey on sway: a binding added over IPC (bindsym) whose presses arrive as binding
// events on a second, subscribed connection that the Qt event loop watches, so nothing is
// started per press. A combination the configuration binds counts as taken: sway would
// replace it without a word, and the user's binding is never touched.
#pragma once

#include <QSocketNotifier>
#include <memory>
#include <optional>
#include <string>

#include "app/key_binder.h"
#include "app/sway_config.h"
#include "platform/wayland/sway_ipc.h"

namespace varek {

class SwayKeyBinder : public KeyBinder {
 public:
  // command: the sway command text the binding runs (several may be joined by ";"); a
  // press counts when sway reports having run exactly this text. socket: the IPC socket,
  // else SWAYSOCK's.
  explicit SwayKeyBinder(std::string command = KeyBinderOptions().swayCommand,
                         const std::optional<std::string>& socket = std::nullopt);
  ~SwayKeyBinder() override;

  Status bind(QKeyCombination combination) override;
  void unbind() override;

  // The combination in sway's words, "Mod1+space"; empty for a key without a keysym.
  static std::string swayText(QKeyCombination combination);

 private:
  // Adds the binding in sway's words without touching bound_.
  Status add(const std::string& text);
  void readEvents();
  // Whether the configuration binds the combination; nothing when sway did not answer.
  std::optional<bool> configBinds(const SwayCombination& combination);

  std::string command_;
  SwayIpc commands_;
  SwayIpc events_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::string bound_;  // the combination bound now in sway's words, empty when none
};

}  // namespace varek
