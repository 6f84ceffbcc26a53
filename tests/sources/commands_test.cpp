#include "sources/commands.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <set>

namespace varek::Commands {
namespace {

// Each action has one row with its own title (the row id), and exactly the four that lose
// work ask for a second Return.
TEST(CommandsTable, FourteenWithFourConfirmations) {
  std::set<SystemAction> actions;
  std::set<std::string> titles;
  std::vector<std::string> confirmed;
  for (const Command& command : all()) {
    actions.insert(command.action);
    titles.insert(command.title);
    if (command.confirm) confirmed.push_back(command.title);
  }
  EXPECT_EQ(std::tuple(all().size(), actions.size(), titles.size()), std::tuple(14u, 14u, 14u));
  EXPECT_EQ(confirmed,
            (std::vector<std::string>{"Papierkorb leeren", "Neustart", "Ausschalten", "Abmelden"}));
}

TEST(CommandsEngines, KeysInOrderEachWithOneWebPlaceholder) {
  std::vector<std::string> keys;
  for (const Engine& engine : engines()) {
    keys.push_back(engine.key);
    const std::size_t first = engine.address.find("%@");
    EXPECT_EQ(engine.address.find("%@", first + 1), std::string::npos) << engine.key;
    // Only web addresses have a handler on every desktop.
    EXPECT_TRUE(first != std::string::npos && engine.address.starts_with("https://")) << engine.key;
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"g", "yt", "w", "map", "gh", "ddg", "amz", "tr"}));
}

TEST(CommandsShellOutput, ReturnsStandardOutputAsUtf8) {
  const std::tuple<const char*, std::vector<std::string>, std::string> rows[] = {
      {"/bin/echo", {"a b", "c"}, "a b c\n"},                 // arguments pass unsplit
      {"/bin/echo", {"$HOME", "x;y", "*"}, "$HOME x;y *\n"},  // no shell expands anything
      {"/nonexistent/varek-program", {"x"}, ""},
      {"/usr/bin/printf", {"a\\377b"}, "a\uFFFDb"},            // invalid bytes replaced
      {"/bin/sh", {"-c", "echo out; echo err >&2"}, "out\n"},  // standard error discarded
  };
  for (const auto& [path, arguments, output] : rows) {
    EXPECT_EQ(shellOutput(path, arguments), output) << path;
  }
  // A program writing more than a pipe holds must not block on its full pipe.
  EXPECT_EQ(shellOutput("/usr/bin/head", {"-c", "200000", "/dev/zero"}), std::string(200000, '\0'));
}

// The program runs on its own. It inherits the write end of a pipe and says through it that
// it started; the read returns once it wrote or, had it never started, at once.
TEST(CommandsShell, StartsTheProgram) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  shell("/bin/sh", {"-c", "echo started >&" + std::to_string(ends[1])});
  ::close(ends[1]);
  char text[16] = {};
  EXPECT_EQ(::read(ends[0], text, sizeof text - 1), 8);
  EXPECT_STREQ(text, "started\n");
  ::close(ends[0]);
}

}  // namespace
}  // namespace varek::Commands
