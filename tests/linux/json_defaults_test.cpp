#include "platform/linux/json_defaults.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <tuple>

#include "tests/support/files.h"

namespace varek {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::readFile;

// A file in a folder that does not exist yet, under the run's private home.
fs::path freshFile(const std::string& name) {
  const fs::path test = fs::path(::getenv("VAREK_TEST_HOME")) / "json_defaults" / name;
  fs::remove_all(test);
  return test / "varek" / "defaults.json";
}

// A store linked into a dotfiles folder, as users keep their settings under version control.
fs::path linkedFile(const std::string& name, bool relative) {
  const fs::path file = freshFile(name), dotfiles = file.parent_path().parent_path() / "dotfiles";
  fs::create_directories(file.parent_path());
  fs::create_directories(dotfiles);
  fs::create_symlink(relative ? "../dotfiles/defaults.json" : dotfiles / "defaults.json", file);
  return file;
}

fs::path target(const fs::path& link) { return link.parent_path() / fs::read_symlink(link); }

TEST(JsonDefaultsTest, ValuesOfTwoProcessesSurviveARestartAndReadOnlyAsTheirType) {
  enum class Type { data, boolean, string, edited };  // edited: written into the file by hand
  struct Row {
    const char* shows;
    Type type;
    std::string value;
  };
  const Row rows[] = {
      {"bytes with NUL and invalid UTF-8", Type::data, std::string("a\0b\xff\xfe\xc3", 6)},
      {"empty bytes", Type::data, ""},
      {"false, which is not absence", Type::boolean, "false"},
      {"true", Type::boolean, "true"},
      {"text with umlauts", Type::string, "Strg+Größe ⌥"},
      {"a number", Type::edited, "5"},
      {"null", Type::edited, "null"},
      {"data that is no base64", Type::edited, R"({"data": "!!"})"},
      {"data that is no text", Type::edited, R"({"data": 5})"},
      {"an object without data", Type::edited, R"({"b": "AA=="})"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shows);
    const fs::path file = freshFile("restart");
    // Both open the file before either writes, as the launcher and "varek run" do.
    JsonDefaults launcher(file), commandLine(file);
    launcher.setString("hotkey", "alt+space");
    if (row.type == Type::data) commandLine.setData("k", row.value);
    if (row.type == Type::boolean) commandLine.setBoolean("k", row.value == "true");
    if (row.type == Type::string) commandLine.setString("k", row.value);
    if (row.type == Type::edited)
      std::ofstream(file) << R"({"hotkey": "alt+space", "k": )" << row.value << "}";
    JsonDefaults restarted(file);
    for (const JsonDefaults* store : {&launcher, &restarted}) {
      const auto expected = [&](Type type) { return row.type == type ? row.value : "none"; };
      EXPECT_EQ(store->data("k").value_or("none"), expected(Type::data));
      const std::optional<bool> flag = store->boolean("k");
      EXPECT_EQ(flag ? (*flag ? "true" : "false") : "none", expected(Type::boolean));
      EXPECT_EQ(store->string("k").value_or("none"), expected(Type::string));
      EXPECT_EQ(store->string("hotkey"), "alt+space");
    }
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(file.parent_path()).permissions(), fs::perms::owner_all);
  }
}

TEST(JsonDefaultsTest, ALinkedFileStaysALinkAndItsTargetIsWritten) {
  // Relative or absolute, to a file that holds a value or is not made yet.
  for (const auto& [relative, hotkey] :
       {std::pair{true, std::optional<std::string>("ctrl+space")}, {false, std::nullopt}}) {
    SCOPED_TRACE(relative);
    const fs::path file = linkedFile("link", relative);
    if (hotkey) std::ofstream(target(file)) << R"({"hotkey": ")" << *hotkey << R"("})";
    JsonDefaults(file).setBoolean("clipboardEnabled", false);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(JsonDefaults(target(file)).boolean("clipboardEnabled"), false);
    EXPECT_EQ(JsonDefaults(target(file)).string("hotkey"), hotkey);
  }
}

TEST(JsonDefaultsTest, OpeningRemovesOnlyTheStaleTemporariesOfKilledWriters) {
  const fs::path file = linkedFile("temporaries", false);
  const fs::path folder = file.parent_path(), dotfiles = target(file).parent_path();
  // Each file: whether it was last written an hour ago, and whether opening the store keeps it.
  const std::tuple<fs::path, bool, bool> rows[] = {
      {folder / "defaults.json.pDhAAU", true, false},    // left by a killed writer
      {dotfiles / "defaults.json.Qx12Zz", true, false},  // left beside the link's target
      {folder / "defaults.json.aBcDeF", false, true},    // a writer may still be busy with it
      {dotfiles / "defaults.json.k3LmNo", false, true},
      {folder / "defaults.json.pDhAAUx", true, true},   // not six characters
      {dotfiles / "defaults.json.pDh-AU", true, true},  // not letters and digits
      {folder / "other.json.pDhAAU", true, true},       // another file's
  };
  for (const auto& [path, old, kept] : rows) {
    std::ofstream(path) << "copied text";
    if (old) fs::last_write_time(path, fs::file_time_type::clock::now() - 1h);
  }
  const JsonDefaults opened(file);
  for (const auto& [path, old, kept] : rows) EXPECT_EQ(fs::exists(path), kept) << path;
}

TEST(JsonDefaultsTest, AnUnreadableFileIsSetAsideBeforeTheFirstWrite) {
  for (const auto& [shows, bytes] : {std::pair{"not JSON", std::string("{\"hotkey\": ")},
                                     {"not an object", R"(["hotkey", "alt+space"])"},
                                     {"invalid UTF-8 in a text", "{\"hotkey\": \"\xff\"}"}}) {
    SCOPED_TRACE(shows);
    const fs::path file = freshFile("unreadable");
    test::writeFile(file, bytes);
    JsonDefaults store(file);
    EXPECT_EQ(store.string("hotkey"), std::nullopt);
    EXPECT_EQ(readFile(file), bytes) << "reading alone changes nothing";
    store.setBoolean("clipboardEnabled", false);
    store.setBoolean("clipboardEnabled", true);
    EXPECT_EQ(readFile(file.string() + ".unreadable"), bytes);
    EXPECT_FALSE(fs::exists(file.string() + ".unreadable.2")) << "set aside once";
    EXPECT_EQ(JsonDefaults(file).boolean("clipboardEnabled"), true);
  }
}

TEST(JsonDefaultsTest, AWriterKilledAtAnyMomentLeavesAWholeFile) {
  constexpr int kRounds = 30;
  // Large enough that writing and syncing it takes a while, so kills land inside; it starts
  // with its generation and is made from it, so a reader tells a whole value from a mixture.
  const auto value = [](long generation) {
    std::string bytes = std::to_string(generation) + ":";
    bytes.resize(256 << 10, char(generation % 251));
    return bytes;
  };
  const fs::path file = freshFile("killed");
  JsonDefaults(file).setData("learning.v1", value(0));
  std::mt19937 random(20260);
  long seen = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    int progress[2];
    ASSERT_EQ(::pipe(progress), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      JsonDefaults store(file);
      for (long generation = seen + 1;; ++generation) {
        store.setData("learning.v1", value(generation));
        if (::write(progress[1], "w", 1) != 1) ::_exit(1);
      }
    }
    ::close(progress[1]);
    // One whole write lies between two progress bytes; the kill falls at a random
    // moment of the next one. The pause picks that moment; nothing waits on it.
    char written;
    ASSERT_EQ(::read(progress[0], &written, 1), 1);
    const auto begun = std::chrono::steady_clock::now();
    ASSERT_EQ(::read(progress[0], &written, 1), 1);
    const auto cycle = std::chrono::steady_clock::now() - begun;
    std::this_thread::sleep_for(std::uniform_real_distribution<double>(0, 1)(random) * cycle);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(progress[0]);

    const std::optional<std::string> bytes = JsonDefaults(file).data("learning.v1");
    ASSERT_TRUE(bytes);
    const long generation = std::stol(bytes->substr(0, bytes->find(':')));
    EXPECT_GE(generation, seen);
    ASSERT_EQ(*bytes, value(generation));
    seen = generation;
  }
}

}  // namespace
}  // namespace varek
