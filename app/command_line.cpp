#include "app/command_line.h"

#include <charconv>
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

}  // namespace

std::variant<CommandLine, std::string> parseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  if (arguments.empty()) return line;
  const std::string& verb = arguments.front();
  if (verb == "query") {
    line.command = Command::query;
  } else if (verb == "run") {
    line.command = Command::run;
  } else if (verb == "bench") {
    line.command = Command::bench;
  } else if (verb == "signal") {
    line.command = Command::signal;
  } else {
    return "varek: unbekannter Befehl „" + verb + "“ (query, run, bench oder signal)";
  }

  std::vector<std::string> words;
  bool optionsEnded = false;
  for (std::size_t index = 1; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    const bool searches = line.command == Command::query || line.command == Command::run;
    if (optionsEnded || !argument.starts_with("--") || !searches) {
      words.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument == "--json" && line.command == Command::query) {
      line.json = true;
      continue;
    }
    if (argument == "--confirm" && line.command == Command::run) {
      line.confirm = true;
      continue;
    }
    const bool takesValue =
        argument == "--mode" ||
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

  switch (line.command) {
    case Command::bench:
      if (!words.empty()) return "varek: bench nimmt keine Argumente";
      break;
    case Command::signal:
      if (words.empty() || words.size() > 2) return "varek: signal NAME [NUTZLAST]";
      line.text = words[0];
      if (words.size() == 2) line.payload = words[1];
      break;
    default:
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
