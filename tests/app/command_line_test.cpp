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
      {"help", {"--help"}, Command::help, ""},
      {"short help", {"-h"}, Command::help, ""},
      {"version", {"--version"}, Command::version, ""},
      {"help of a command wins over its text", {"run", "x", "--help"}, Command::help, ""},
      {"help after -- is text", {"query", "--", "--help"}, Command::query, "--help"},
      {"one dash is text", {"query", "-5", "km"}, Command::query, "-5 km"},
      {"an empty text lists the most picked", {"query", ""}, Command::query, ""},
      {"signal name without the interface",
       {"signal", "zz.orvel.varek.toggle"},
       Command::signal,
       "toggle"},
      {"settings shown", {"einstellungen"}, Command::settings, ""},
      {"hotkey by word", {"einstellungen", "kürzel", "strg"}, Command::settings, "Ctrl+Space"},
      {"hotkey as typed",
       {"einstellungen", "kürzel", "Strg+Alt+K"},
       Command::settings,
       "Strg+Alt+K"},
      {"query words join", {"query", "5", "km", "in", "mi"}, Command::query, "5 km in mi"},
      {"mode before the text",
       {"query", "--mode", "files", "bericht"},
       Command::query,
       "bericht",
       SearchModel::Mode::files},
      {"options after -- are text", {"query", "--", "--json"}, Command::query, "--json"},
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
  EXPECT_EQ(std::get<CommandLine>(parseCommandLine({"signal", "mode", "-1"})).payload, "-1");
  EXPECT_EQ(std::get<CommandLine>(parseCommandLine({"query", "--help"})).helpTopic, Command::query);
  const auto settings =
      std::get<CommandLine>(parseCommandLine({"einstellungen", "anmeldung", "an"}));
  EXPECT_EQ(settings.setting, CommandLine::Setting::login);
  EXPECT_TRUE(settings.on);
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
      {"signal", "explode"},
      {"signal", "--json", "toggle"},
      {"query"},
      {"query", "--json"},
      {"einstellungen", "farbe", "blau"},
      {"einstellungen", "zwischenablage", "ja"},
      {"einstellungen", "kürzel"},
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
