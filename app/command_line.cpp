#include "app/command_line.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace varek {
namespace {

using Command = CommandLine::Command;

std::optional<SearchModel::Mode> modeFromName(const std::string& name) {
  if (name == "all") return SearchModel::Mode::all;
  if (name == "files") return SearchModel::Mode::files;
  if (name == "clipboard") return SearchModel::Mode::clipboard;
  if (name == "windows") return SearchModel::Mode::windows;
  return std::nullopt;
}

std::optional<SearchModel::Action> actionFromName(const std::string& name) {
  if (name == "open") return SearchModel::Action::open;
  if (name == "reveal") return SearchModel::Action::reveal;
  if (name == "copy") return SearchModel::Action::copy;
  return std::nullopt;
}

std::optional<int> rowNumber(const std::string& text) {
  int number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < 0) return std::nullopt;
  return number;
}

constexpr std::string_view kSignalPrefix = "zz.orvel.varek.";
// "reload" re-reads the settings that `varek einstellungen` wrote; "copy" puts its payload
// on the clipboard, so a copy made by `varek run` outlives that process.
constexpr std::string_view kSignalNames[] = {"toggle", "show",  "hide",  "query",  "mode",
                                             "down",   "enter", "bench", "reload", "copy"};

constexpr std::string_view kUsage[] = {
    "varek                        startet den Starter (Symbol, Kürzel, Suchfeld)",
    "",  // help
    "",  // version
    "varek query [--mode M] [--json] [--] TEXT",
    "varek run [--mode M] [--row N] [--action open|reveal|copy] [--confirm] [--] TEXT",
    "varek bench",
    "varek signal NAME [NUTZLAST]",
    "varek einstellungen [kürzel K | zwischenablage an|aus | anmeldung an|aus]",
};

constexpr std::string_view kDetails[] = {
    "Befehle: query, run, bench, signal, einstellungen; varek BEFEHL --help erklärt einen.\n"
    "varek --version nennt die Version.\n",
    "",
    "",
    "Eine Suche; gibt die Zeilen aus, die das Suchfeld zeigen würde.\n"
    "  --mode M   all, files, clipboard oder windows (Vorgabe: all)\n"
    "  --json     ein JSON-Objekt je Zeile\n"
    "  --         beendet die Optionen, der Text darf dann mit - beginnen\n",
    "Sucht und führt Zeile N aus wie die Eingabetaste im Suchfeld; gibt ihren Titel aus.\n"
    "  --row N      die Zeile, ab 0 gezählt (Vorgabe: 0)\n"
    "  --action A   open, reveal (im Dateimanager zeigen) oder copy (kopieren)\n"
    "  --confirm    führt auch Zeilen aus, die eine Bestätigung verlangen\n"
    "Beendet sich mit 1, wenn die Zeile nicht ausgeführt werden konnte.\n",
    "Führt 260 gezählte Suchen aus; gibt die Zeile „Bench: …“ aus und schreibt sie ins "
    "Protokoll.\n",
    "Schickt dem laufenden Starter ein Steuersignal (zz.orvel.varek.NAME) und startet ihn "
    "zuvor, falls keiner läuft.\n"
    "  NAME: toggle, show, hide, query TEXT, mode 1–4, down, enter, bench, reload, copy TEXT\n",
    "Zeigt oder ändert die Einstellungen, auch ohne Symbol in der Leiste.\n"
    "  kürzel alt|strg|super|K   das Tastenkürzel mit Leertaste, oder K wie „Strg+Alt+K“\n"
    "  zwischenablage an|aus     den Zwischenablage-Verlauf\n"
    "  anmeldung an|aus          den Start beim Anmelden\n",
};

std::optional<Command> commandFromName(std::string_view name) {
  if (name == "query") return Command::query;
  if (name == "run") return Command::run;
  if (name == "bench") return Command::bench;
  if (name == "signal") return Command::signal;
  if (name == "einstellungen") return Command::settings;
  return std::nullopt;
}

std::optional<bool> switchValue(std::string_view word) {
  if (word == "an") return true;
  if (word == "aus") return false;
  return std::nullopt;
}

// Reads what follows `varek einstellungen` into line.
std::optional<std::string> parseSettings(const std::vector<std::string>& words, CommandLine& line) {
  const std::string usage = "varek: " + std::string(kUsage[static_cast<int>(Command::settings)]);
  if (words.empty()) return std::nullopt;
  if (words.size() != 2) return usage;
  const std::string& name = words[0];
  const std::string& value = words[1];
  if (name == "kürzel" || name == "kuerzel") {
    line.setting = CommandLine::Setting::hotkey;
    if (value == "alt") {
      line.text = "Alt+Space";
    } else if (value == "strg") {
      line.text = "Ctrl+Space";
    } else if (value == "super") {
      line.text = "Meta+Space";
    } else {
      line.text = value;
    }
    return std::nullopt;
  }
  if (name == "zwischenablage") {
    line.setting = CommandLine::Setting::clipboard;
  } else if (name == "anmeldung") {
    line.setting = CommandLine::Setting::login;
  } else {
    return usage;
  }
  const auto on = switchValue(value);
  if (!on) return "varek: " + name + " erwartet an oder aus";
  line.on = *on;
  return std::nullopt;
}

}  // namespace

std::span<const std::string_view> signalNames() { return kSignalNames; }

std::optional<CommandLine> parseArguments(int argc, char** argv) {
  auto parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "%s\n", error->c_str());
    return std::nullopt;
  }
  return std::get<CommandLine>(parsed);
}

std::string helpText(Command command) {
  if (command == Command::launcher) {
    std::string text = "Varek, ein Starter für die Tastatur.\n\nAufruf:\n";
    for (std::string_view usage : kUsage) {
      if (!usage.empty()) text += "  " + std::string(usage) + "\n";
    }
    text += "  varek --help | -h, varek BEFEHL --help, varek --version\n\n";
    return text + std::string(kDetails[0]);
  }
  const auto index = static_cast<std::size_t>(command);
  return "Aufruf: " + std::string(kUsage[index]) + "\n" + std::string(kDetails[index]);
}

std::string versionText() { return std::string("varek ") + VAREK_VERSION; }

std::variant<CommandLine, std::string> parseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  if (arguments.empty()) return line;
  const std::string& verb = arguments.front();
  if (verb == "--help" || verb == "-h") {
    line.command = Command::help;
    return line;
  }
  if (verb == "--version") {
    line.command = Command::version;
    return line;
  }
  const auto command = commandFromName(verb);
  if (!command) {
    return "varek: unbekannter Befehl „" + verb +
           "“ (query, run, bench, signal oder einstellungen; varek --help)";
  }
  line.command = *command;

  std::vector<std::string> words;
  bool optionsEnded = false;
  for (std::size_t index = 1; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    // A word with one dash is text ("-5 km in mi", the mode payload "-1"), -h aside.
    if (optionsEnded || (!argument.starts_with("--") && argument != "-h")) {
      words.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument == "--help" || argument == "-h") {
      line.helpTopic = line.command;
      line.command = Command::help;
      return line;
    }
    if (argument == "--json" && line.command == Command::query) {
      line.json = true;
      continue;
    }
    if (argument == "--confirm" && line.command == Command::run) {
      line.confirm = true;
      continue;
    }
    const bool searches = line.command == Command::query || line.command == Command::run;
    const bool takesValue =
        (searches && argument == "--mode") ||
        (line.command == Command::run && (argument == "--row" || argument == "--action"));
    if (!takesValue) return "varek: unbekannte Option „" + argument + "“ für " + verb;
    if (index + 1 >= arguments.size()) return "varek: " + argument + " braucht einen Wert";
    const std::string& value = arguments[++index];
    if (argument == "--mode") {
      const auto mode = modeFromName(value);
      if (!mode) return "varek: --mode erwartet all, files, clipboard oder windows";
      line.mode = *mode;
    } else if (argument == "--row") {
      const auto row = rowNumber(value);
      if (!row) return "varek: --row erwartet eine Zahl ab 0";
      line.row = *row;
    } else {
      const auto action = actionFromName(value);
      if (!action) return "varek: --action erwartet open, reveal oder copy";
      line.action = *action;
    }
  }

  const std::string usage = "varek: Aufruf: " + std::string(kUsage[static_cast<int>(line.command)]);
  switch (line.command) {
    case Command::bench:
      if (!words.empty()) return "varek: bench nimmt keine Argumente";
      break;
    case Command::signal: {
      if (words.empty() || words.size() > 2) return usage;
      std::string_view name = words[0];
      if (name.starts_with(kSignalPrefix)) name.remove_prefix(kSignalPrefix.size());
      if (std::find(std::begin(kSignalNames), std::end(kSignalNames), name) ==
          std::end(kSignalNames)) {
        return "varek: unbekanntes Signal „" + words[0] +
               "“ (toggle, show, hide, query, mode, down, enter, bench, reload, copy)";
      }
      line.text = name;
      if (words.size() == 2) line.payload = words[1];
      break;
    }
    case Command::settings:
      if (auto error = parseSettings(words, line)) return *error;
      break;
    default:
      // No text at all is a mistake; an empty text ("") lists what was picked most.
      if (words.empty()) return usage;
      // The words of an unquoted query join with blanks, as the shell split them.
      for (std::size_t index = 0; index < words.size(); ++index) {
        if (index > 0) line.text += ' ';
        line.text += words[index];
      }
  }
  return line;
}

std::string formatRows(const std::vector<Item>& rows, bool json) {
  std::string output;
  for (std::size_t index = 0; index < rows.size(); ++index) {
    const Item& row = rows[index];
    if (json) {
      nlohmann::json object = {
          {"id", row.id},
          {"title", row.title},
          {"subtitle", row.subtitle},
          {"kind", std::string(label(row.kind))},
          {"score", row.score},
          {"path", row.path ? nlohmann::json(*row.path) : nlohmann::json()},
          {"copyText", row.copyText ? nlohmann::json(*row.copyText) : nlohmann::json()},
          {"needsConfirm", row.needsConfirm},
          {"keepsOpen", row.keepsOpen},
      };
      output += object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
      continue;
    }
    output += std::to_string(index) + ". " + row.title;
    if (!row.subtitle.empty()) output += " — " + row.subtitle;
    output += " (" + std::string(label(row.kind)) + ")\n";
  }
  return output;
}

}  // namespace varek
