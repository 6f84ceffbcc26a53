#include "app/command_line.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace varek {
namespace {

using Command = CommandLine::Command;

TEST(CommandLine, ParsesCommandsAndOptions) {
  struct Row {
    const char* name;
    std::vector<std::string> arguments;
    Command command;
    std::string text;
    SearchModel::Mode mode = SearchModel::Mode::all;
  } rows[] = {
      {"no arguments start the launcher", {}, Command::launcher, ""},
      {"query words join", {"query", "5", "km", "in", "mi"}, Command::query, "5 km in mi"},
      {"mode before the text",
       {"query", "--mode", "files", "bericht"},
       Command::query,
       "bericht",
       SearchModel::Mode::files},
      {"options after -- are text", {"query", "--", "--json"}, Command::query, "--json"},
      {"signal with its name",
       {"signal", "zz.orvel.varek.toggle"},
       Command::signal,
       "zz.orvel.varek.toggle"},
      {"bench", {"bench"}, Command::bench, ""},
  };
  for (const auto& row : rows) {
    const auto parsed = parseCommandLine(row.arguments);
    ASSERT_TRUE(std::holds_alternative<CommandLine>(parsed)) << row.name;
    const auto& line = std::get<CommandLine>(parsed);
    EXPECT_EQ(line.command, row.command) << row.name;
    EXPECT_EQ(line.text, row.text) << row.name;
    EXPECT_EQ(line.mode, row.mode) << row.name;
  }
  const auto run = std::get<CommandLine>(parseCommandLine(
      {"run", "--row", "2", "--action", "copy", "--confirm", "--mode", "clipboard", "x"}));
  EXPECT_EQ(run.row, 2);
  EXPECT_EQ(run.action, SearchModel::Action::copy);
  EXPECT_TRUE(run.confirm);
  EXPECT_EQ(run.mode, SearchModel::Mode::clipboard);
  EXPECT_EQ(std::get<CommandLine>(parseCommandLine({"signal", "query", "12*7+3"})).payload,
            "12*7+3");
}

// Every mistake is one German line; the caller exits with status 2.
TEST(CommandLine, RejectsBadArgumentsWithAGermanLine) {
  const std::vector<std::string> rows[] = {
      {"suche", "x"},
      {"query", "--mode", "alles", "x"},
      {"query", "--mode"},
      {"run", "--row", "-1", "x"},
      {"run", "--row", "2a", "x"},
      {"run", "--action", "paste"},
      {"query", "--row", "1", "x"},
      {"bench", "extra"},
      {"signal"},
  };
  for (const auto& arguments : rows) {
    const auto parsed = parseCommandLine(arguments);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << arguments.front();
    const auto& error = std::get<std::string>(parsed);
    EXPECT_TRUE(error.starts_with("varek: ")) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(CommandLine, PrintsRowsAsLinesOrJson) {
  const std::vector<Item> rows = {
      {.id = "calc",
       .title = "87",
       .subtitle = "12*7+3 =",
       .kind = Item::Kind::calc,
       .icon = {Item::Icon::Text{"="}},
       .score = 2000,
       .path = std::nullopt,
       .copyText = "87",
       .needsConfirm = false,
       .keepsOpen = false,
       .run = nullptr},
      {.id = "cmd:Neustart",
       .title = "Neustart",
       .subtitle = "",
       .kind = Item::Kind::command,
       .icon = {Item::Icon::Text{""}},
       .score = 940,
       .path = std::nullopt,
       .copyText = std::nullopt,
       .needsConfirm = true,
       .keepsOpen = false,
       .run = nullptr},
  };
  EXPECT_EQ(formatRows(rows, false), "0. 87 — 12*7+3 = (Rechner)\n1. Neustart (Befehl)\n");
  const std::string json = formatRows(rows, true);
  const auto first = nlohmann::json::parse(json.substr(0, json.find('\n')));
  EXPECT_EQ(first["kind"], "Rechner");
  EXPECT_EQ(first["copyText"], "87");
  EXPECT_TRUE(first["path"].is_null());
  EXPECT_EQ(first["score"], 2000);
  EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 2);
}

}  // namespace
}  // namespace varek
