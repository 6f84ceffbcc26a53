// The panel's window on sway, where a client can neither place nor show its own window:
// a rule, added once per running sway, floats it centred on every workspace and puts it
// in the scratchpad when it maps. Showing focuses it from there, hiding moves it back, so
// the window stays mapped and the hotkey's binding can show and focus it itself before
// the keys typed after the hotkey arrive. Plain C++ over sway's IPC.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/wayland/sway_ipc.h"

namespace varek {

class SwayScratchpad {
 public:
  // Connects to the sway that SWAYSOCK names; every call fails without one.
  explicit SwayScratchpad(std::string appId);

  bool connected() const { return ipc_.connected(); }
  // "[app_id="zz.orvel.varek"]": the criteria of the rule and of the hotkey's binding.
  static std::string criteria(std::string_view appId);
  // The rule itself, quoted so that sway keeps its commands together.
  static std::string rule(std::string_view appId);
  // The file in runtimeFolder that marks this sway as having the rule: named after its IPC
  // socket, which carries the compositor's process id, in a folder that the session
  // empties when it ends.
  static std::string marker(std::string_view runtimeFolder, std::string_view socket);

  // Adds the rule unless a launcher did so for this sway before: sway keeps a rule until
  // it exits and offers no way to remove one, so every restart of the launcher would add
  // another. False when sway refused it (error() says why).
  bool addRuleOnce();
  // Shows the window, from the scratchpad or wherever it is, and gives it the focus;
  // false while sway has no such window (not mapped yet).
  bool show();
  // Puts the window in the scratchpad; sway gives the focus back to the window before.
  bool hide();
  struct Window {
    bool visible = false;
    bool focused = false;
  };
  // How sway shows the window now; nothing without an answer or without the window.
  std::optional<Window> window();
  const std::string& error() const { return ipc_.error(); }

 private:
  std::string appId_;
  SwayIpc ipc_;
};

}  // namespace varek
