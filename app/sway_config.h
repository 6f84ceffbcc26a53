// The key combinations that sway's configuration binds, read from its text (get_config),
// so that the launcher never takes one over: sway replaces a binding without a word.
// Plain C++ over xkbcommon's keysym names.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varek {

// A combination as sway matches it: the modifier mask and the keysyms, whatever the
// spelling ("$mod+Space", "mod4+space", "Super+SPACE" are one).
struct SwayCombination {
  std::uint32_t modifiers = 0;
  std::vector<std::uint32_t> keysyms;  // sorted
  bool operator==(const SwayCombination&) const = default;
};

// Reads "Mod1+space"; nothing for a name that is neither a modifier nor a keysym.
std::optional<SwayCombination> parseSwayCombination(std::string_view text);

// The text of a file that an include line names (absolute, or after ~ and glob expansion),
// empty when it cannot be read.
using SwayIncludeReader = std::function<std::vector<std::string>(const std::string& pattern)>;

// Every combination bound by bindsym in the default mode, with the `set $var` variables,
// `--` flags, `{ }` blocks and included files resolved. Bindings in other modes fire only
// there and are left out; bindcode lines name keycodes of a keymap unknown here.
std::vector<SwayCombination> swayConfigBindings(std::string_view config,
                                                const SwayIncludeReader& readInclude);

// The included files' texts by glob expansion on this machine.
std::vector<std::string> readSwayIncludes(const std::string& pattern);

}  // namespace varek
