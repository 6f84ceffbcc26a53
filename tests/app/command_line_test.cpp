#include "app/command_line.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace varek {
namespace {

using Command = CommandLine::Command;
using Mode = SearchModel::Mode;

CommandLine parsed(const std::vector<std::string>& arguments) {
  return std::get<CommandLine>(parseCommandLine(arguments));
}

// A row with what the printing shows; the rest stays empty.
Item row(Item::Kind kind, std::string title, std::string subtitle, double score) {
  Item item{};
  item.kind = kind;
  item.title = std::move(title);
  item.subtitle = std::move(subtitle);
  item.score = score;
  return item;
}

TEST(CommandLine, ParsesCommandsAndOptions) {
  using enum CommandLine::Command;
  using enum SearchModel::Mode;
  const std::tuple<const char*, std::vector<std::string>, Command, std::string, Mode> rows[] = {
      {"no arguments start the launcher", {}, launcher, "", all},
      {"help", {"--help"}, help, "", all},
      {"short help", {"-h"}, help, "", all},
      {"version", {"--version"}, version, "", all},
      {"help of a command wins over its text", {"run", "x", "--help"}, help, "", all},
      {"help after -- is text", {"query", "--", "--help"}, query, "--help", all},
      {"one dash is text", {"query", "-5", "km"}, query, "-5 km", all},
      {"an empty text lists the most picked", {"query", ""}, query, "", all},
      {"signal without interface", {"signal", "zz.orvel.varek.toggle"}, signal, "toggle", all},
      {"settings shown", {"einstellungen"}, settings, "", all},
      {"hotkey by word", {"einstellungen", "kürzel", "strg"}, settings, "Ctrl+Space", all},
      {"hotkey as typed", {"einstellungen", "kürzel", "Strg+Alt+K"}, settings, "Strg+Alt+K", all},
      {"query words join", {"query", "5", "km", "in", "mi"}, query, "5 km in mi", all},
      {"mode before text", {"query", "--mode", "files", "bericht"}, query, "bericht", files},
      {"options after -- are text", {"query", "--", "--json"}, query, "--json", all},
      {"bench", {"bench"}, bench, "", all},
  };
  for (const auto& [name, arguments, command, text, mode] : rows) {
    const auto result = parseCommandLine(arguments);
    ASSERT_TRUE(std::holds_alternative<CommandLine>(result)) << name;
    const auto& line = std::get<CommandLine>(result);
    EXPECT_EQ(std::tie(line.command, line.text, line.mode), std::tie(command, text, mode)) << name;
  }
  const CommandLine options =
      parsed({"run", "--row", "2", "--action", "copy", "--confirm", "--mode", "clipboard", "x"});
  EXPECT_EQ(std::tuple(options.row, options.action, options.confirm, options.mode),
            std::tuple(2, SearchModel::Action::copy, true, clipboard));
  EXPECT_EQ(parsed({"signal", "mode", "-1"}).payload, "-1");
  EXPECT_EQ(parsed({"query", "--help"}).helpTopic, query);
  const CommandLine login = parsed({"einstellungen", "anmeldung", "an"});
  EXPECT_EQ(std::pair(login.setting, login.on), std::pair(CommandLine::Setting::login, true));
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
  std::vector<Item> rows = {row(Item::Kind::calc, "87", "12*7+3 =", 2000),
                            row(Item::Kind::command, "Neustart", "", 940)};
  rows[0].copyText = "87";
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
