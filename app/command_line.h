// The command line of the varek binary: what was asked for, its help, and how rows are
// printed. Free of Qt, so it works where there is no display and no session bus.
//
//   varek                                   start the launcher
//   varek query [--mode M] [--json] [--] TEXT   one search; prints the rows
//   varek run [--mode M] [--row N] [--action open|reveal|copy] [--confirm] [--] TEXT
//   varek bench                             the 260-search benchmark
//   varek signal NAME [PAYLOAD]             a control signal to the running launcher
//   varek einstellungen [kürzel K | zwischenablage an|aus | anmeldung an|aus]
//   varek --help | -h, varek COMMAND --help, varek --version
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "search/item.h"
#include "search/search_model.h"

namespace varek {

struct CommandLine {
  enum class Command { launcher, help, version, query, run, bench, signal, settings };
  // What `varek einstellungen` changes; show only prints the settings.
  enum class Setting { show, hotkey, clipboard, login };

  Command command = Command::launcher;
  Command helpTopic = Command::launcher;  // the command whose help was asked for
  SearchModel::Mode mode = SearchModel::Mode::all;
  bool json = false;
  int row = 0;
  SearchModel::Action action = SearchModel::Action::open;
  bool confirm = false;  // also runs a row that asks for a second Return (restart, …)
  // The query; the signal's member ("toggle", without the interface); the hotkey as typed,
  // or in the stored form for the words alt, strg and super.
  std::string text;
  std::optional<std::string> payload;
  Setting setting = Setting::show;
  bool on = false;  // zwischenablage and anmeldung: an or aus
};

// The members of the control-signal interface the launcher acts on.
std::span<const std::string_view> signalNames();

// The parsed arguments (without the program name), or a one-line German error.
std::variant<CommandLine, std::string> parseCommandLine(const std::vector<std::string>& arguments);
// This process's arguments parsed; a bad one is explained on standard error and nothing is
// returned, for the caller to exit with 2.
std::optional<CommandLine> parseArguments(int argc, char** argv);

// The German help of one command, or of the whole program for Command::launcher.
std::string helpText(CommandLine::Command command);
// "varek 0.1": the project's version.
std::string versionText();

// One line per row: "1. Title — Subtitle (Kind)", or one JSON object per row.
std::string formatRows(const std::vector<Item>& rows, bool json);

}  // namespace varek
