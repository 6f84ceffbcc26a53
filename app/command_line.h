// The command line of the varek binary: what was asked for, and how rows are printed.
//
//   varek                                   start the launcher
//   varek query [--mode M] [--json] TEXT    one search; prints the rows
//   varek run [--mode M] [--row N] [--action open|reveal|copy] [--confirm] TEXT
//   varek bench                             the 260-search benchmark
//   varek signal NAME [PAYLOAD]             a control signal to the running launcher
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "search/item.h"
#include "search/search_model.h"

namespace varek {

struct CommandLine {
  enum class Command { launcher, query, run, bench, signal };

  Command command = Command::launcher;
  SearchModel::Mode mode = SearchModel::Mode::all;
  bool json = false;
  int row = 0;
  SearchModel::Action action = SearchModel::Action::open;
  bool confirm = false;  // also runs a row that asks for a second Return (restart, …)
  std::string text;      // the query, or the signal's name
  std::optional<std::string> payload;
};

// The parsed arguments (without the program name), or a one-line German error.
std::variant<CommandLine, std::string> parseCommandLine(const std::vector<std::string>& arguments);

// One line per row: "1. Title — Subtitle (Kind)", or one JSON object per row.
std::string formatRows(const std::vector<Item>& rows, bool json);

}  // namespace varek
