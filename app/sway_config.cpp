#include "app/sway_config.h"

#include <glob.h>
#include <strings.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

namespace varek {
namespace {

// sway's modifier names, compared without case; the bits are xkb's modifier indices.
constexpr std::uint32_t kShift = 1U << 0, kLock = 1U << 1, kControl = 1U << 2, kMod1 = 1U << 3,
                        kMod2 = 1U << 4, kMod3 = 1U << 5, kMod4 = 1U << 6, kMod5 = 1U << 7;
constexpr std::pair<std::string_view, std::uint32_t> kModifierNames[] = {
    {"Shift", kShift}, {"Lock", kLock},  {"Ctrl", kControl}, {"Control", kControl},
    {"Mod1", kMod1},   {"Alt", kMod1},   {"Mod2", kMod2},    {"Mod3", kMod3},
    {"Mod4", kMod4},   {"Super", kMod4}, {"Mod5", kMod5},
};
// Includes nest; a file that includes itself must not loop for ever.
constexpr int kMaxIncludeDepth = 8;

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool equalNoCase(std::string_view one, std::string_view other) {
  return one.size() == other.size() && strncasecmp(one.data(), other.data(), one.size()) == 0;
}

std::string unquoted(std::string_view text) {
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
      text.back() == text.front()) {
    return std::string(text.substr(1, text.size() - 2));
  }
  return std::string(text);
}

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> result;
  while (!(line = trimmed(line)).empty()) {
    const auto end = std::min(line.find_first_of(" \t"), line.size());
    result.push_back(line.substr(0, end));
    line.remove_prefix(end);
  }
  return result;
}

// Replaces each $variable, the longest name first as sway does, so that $mod and $modifier
// do not clash.
std::string expanded(std::string line,
                     const std::vector<std::pair<std::string, std::string>>& variables) {
  for (const auto& [name, value] : variables) {
    for (auto at = line.find(name); at != std::string::npos;
         at = line.find(name, at + value.size())) {
      line.replace(at, name.size(), value);
    }
  }
  return line;
}

struct Reader {
  const SwayIncludeReader& readInclude;
  std::vector<std::pair<std::string, std::string>> variables;  // longest name first
  std::vector<SwayCombination> bindings;

  void read(std::string_view config, int depth) {
    // The heads of the open `{` blocks: each line inside one is read as head plus line.
    std::vector<std::string> heads;
    std::istringstream lines{std::string(config)};
    std::string line;
    std::string continued;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\\') {
        continued += line.substr(0, line.size() - 1);
        continue;
      }
      std::string whole = continued + line;
      continued.clear();
      const std::string_view text = trimmed(whole);
      if (text.empty() || text.front() == '#') continue;
      if (text == "}") {
        if (!heads.empty()) heads.pop_back();
        continue;
      }
      std::string full;
      for (const std::string& head : heads) full += head + ' ';
      if (text.back() == '{') {
        heads.emplace_back(trimmed(text.substr(0, text.size() - 1)));
        continue;
      }
      full += text;
      statement(full, depth);
    }
  }

  // Variables are replaced everywhere but in the name that set defines, which may be
  // defined again.
  void statement(const std::string& raw, int depth) {
    const std::vector<std::string_view> setParts = words(raw);
    if (setParts.size() >= 3 && setParts[0] == "set" && setParts[1].starts_with('$')) {
      const auto valueStart = raw.find(setParts[2], raw.find(setParts[1]) + setParts[1].size());
      define(std::string(setParts[1]),
             unquoted(trimmed(expanded(raw.substr(valueStart), variables))));
      return;
    }
    const std::string line = expanded(raw, variables);
    const std::vector<std::string_view> parts = words(line);
    if (parts.empty()) return;
    if (parts[0] == "include" && parts.size() >= 2 && depth < kMaxIncludeDepth) {
      for (const std::string& text : readInclude(unquoted(trimmed(line.substr(7))))) {
        read(text, depth + 1);
      }
    } else if (parts[0] == "bindsym") {
      bind(parts);
    }
  }

  void define(std::string name, std::string value) {
    std::erase_if(variables, [&](const auto& variable) { return variable.first == name; });
    variables.emplace_back(std::move(name), std::move(value));
    std::stable_sort(variables.begin(), variables.end(), [](const auto& one, const auto& other) {
      return one.first.size() > other.first.size();
    });
  }

  // A mode line ("mode "resize" bindsym …") reaches here only through a block; bindsym
  // lines start with bindsym.
  void bind(const std::vector<std::string_view>& parts) {
    for (std::size_t index = 1; index < parts.size(); ++index) {
      if (parts[index].starts_with("--")) continue;
      if (auto combination = parseSwayCombination(parts[index])) {
        bindings.push_back(std::move(*combination));
      }
      return;
    }
  }
};

}  // namespace

std::optional<SwayCombination> parseSwayCombination(std::string_view text) {
  SwayCombination combination;
  for (std::size_t start = 0; start <= text.size();) {
    const auto end = std::min(text.find('+', start), text.size());
    const std::string name(text.substr(start, end - start));
    start = end + 1;
    const auto modifier =
        std::find_if(std::begin(kModifierNames), std::end(kModifierNames),
                     [&](const auto& entry) { return equalNoCase(entry.first, name); });
    if (modifier != std::end(kModifierNames)) {
      combination.modifiers |= modifier->second;
      continue;
    }
    const xkb_keysym_t keysym = xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_CASE_INSENSITIVE);
    if (keysym == XKB_KEY_NoSymbol) return std::nullopt;
    combination.keysyms.push_back(keysym);
  }
  if (combination.keysyms.empty()) return std::nullopt;
  std::sort(combination.keysyms.begin(), combination.keysyms.end());
  return combination;
}

std::vector<SwayCombination> swayConfigBindings(std::string_view config,
                                                const SwayIncludeReader& readInclude) {
  Reader reader{readInclude, {}, {}};
  reader.read(config, 0);
  return std::move(reader.bindings);
}

std::vector<std::string> readSwayIncludes(const std::string& pattern) {
  std::string path = pattern;
  if (path.starts_with("~/")) {
    const char* home = std::getenv("HOME");
    if (home == nullptr) return {};
    path = home + path.substr(1);
  }
  // A relative include is relative to the configuration's folder, which get_config does not
  // tell.
  if (!path.starts_with('/')) return {};
  std::vector<std::string> texts;
  glob_t found{};
  if (glob(path.c_str(), 0, nullptr, &found) == 0) {
    for (std::size_t index = 0; index < found.gl_pathc; ++index) {
      std::ifstream file(found.gl_pathv[index]);
      texts.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
  }
  globfree(&found);
  return texts;
}

}  // namespace varek
