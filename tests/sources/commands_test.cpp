#include "sources/commands.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/support/fake_platform.h"

namespace varek::Commands {
namespace {

TEST(CommandsTable, FourteenWithFourConfirmations) {
  const std::vector<Command>& commands = all();
  ASSERT_EQ(commands.size(), 14u);
  EXPECT_EQ(commands.front().action, SystemAction::lockScreen);
  EXPECT_EQ(commands.back().action, SystemAction::logOut);
  std::set<std::string> titles;
  std::set<SystemAction> actions;
  std::vector<std::string> confirmed;
  for (const Command& command : commands) {
    titles.insert(command.title);
    actions.insert(command.action);
    if (command.confirm) confirmed.push_back(command.title);
    EXPECT_FALSE(command.keepsOpen) << command.title;
  }
  EXPECT_EQ(titles.size(), 14u);
  EXPECT_EQ(actions.size(), 14u) << "every action has exactly one row";
  EXPECT_EQ(confirmed,
            (std::vector<std::string>{"Papierkorb leeren", "Neustart", "Ausschalten", "Abmelden"}));
  EXPECT_EQ(&all(), &commands) << "the table is built once";
}

TEST(CommandsEngines, KeysInOrderEachWithOnePlaceholder) {
  std::vector<std::string> keys;
  for (const Engine& engine : engines()) {
    keys.push_back(engine.key);
    const std::size_t first = engine.address.find("%@");
    ASSERT_NE(first, std::string::npos) << engine.key;
    EXPECT_EQ(engine.address.find("%@", first + 1), std::string::npos) << engine.key;
    // Only web addresses have a handler on every desktop.
    EXPECT_EQ(engine.address.rfind("https://", 0), 0u) << engine.key;
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"g", "yt", "w", "map", "gh", "ddg", "amz", "tr"}));
}

TEST(CommandsShellOutput, ReturnsStandardOutputAsUtf8) {
  struct Row {
    const char* name;
    std::string path;
    std::vector<std::string> arguments;
    std::string output;
  };
  const Row rows[] = {
      {"arguments pass unsplit", "/bin/echo", {"a b", "c"}, "a b c\n"},
      {"no shell expands anything", "/bin/echo", {"$HOME", "x;y", "*"}, "$HOME x;y *\n"},
      {"a missing program yields nothing", "/nonexistent/varek-program", {"x"}, ""},
      {"invalid bytes become replacement characters",
       "/usr/bin/printf",
       {"a\\377b"},
       "a\xEF\xBF\xBD"
       "b"},
      {"standard error is discarded", "/bin/sh", {"-c", "echo out; echo err >&2"}, "out\n"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(shellOutput(row.path, row.arguments), row.output) << row.name;
  }
}

TEST(CommandsShellOutput, ReadsPastThePipeBuffer) {
  const std::string output = shellOutput("/usr/bin/head", {"-c", "200000", "/dev/zero"});
  EXPECT_EQ(output.size(), 200000u);
  EXPECT_EQ(output.find_first_not_of('\0'), std::string::npos);
}

TEST(CommandsShell, StartsTheProgram) {
  test::FakePaths paths;
  const std::filesystem::path created = paths.folder() / "started";
  shell("/usr/bin/touch", {created.string()});
  // The program runs on its own; give it a generous while to appear.
  constexpr int kAttempts = 500;
  for (int attempt = 0; attempt < kAttempts && !std::filesystem::exists(created); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(std::filesystem::exists(created));
}

}  // namespace
}  // namespace varek::Commands
