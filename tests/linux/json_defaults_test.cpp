#include "platform/linux/json_defaults.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

namespace varek {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// A file in a folder that does not exist yet, under the run's private home.
fs::path freshFile(const std::string& name) {
  const fs::path test = fs::path(::getenv("VAREK_TEST_HOME")) / "json_defaults" / name;
  fs::remove_all(test);
  return test / "varek" / "defaults.json";
}

fs::path storedFile(const std::string& name, const std::string& bytes) {
  const fs::path file = freshFile(name);
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
  return file;
}

TEST(JsonDefaultsTest, ValuesSurviveARestartAndReadOnlyAsTheirType) {
  enum class Type { data, boolean, string };
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
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shows);
    const fs::path file = freshFile("restart");
    {
      JsonDefaults store(file);
      store.setString("hotkey", "alt+space");
      if (row.type == Type::data) store.setData("k", row.value);
      if (row.type == Type::boolean) store.setBoolean("k", row.value == "true");
      if (row.type == Type::string) store.setString("k", row.value);
    }
    const JsonDefaults store(file);
    const auto expected = [&](Type type) { return row.type == type ? row.value : "none"; };
    EXPECT_EQ(store.data("k").value_or("none"), expected(Type::data));
    const std::optional<bool> flag = store.boolean("k");
    EXPECT_EQ(flag ? (*flag ? "true" : "false") : "none", expected(Type::boolean));
    EXPECT_EQ(store.string("k").value_or("none"), expected(Type::string));
    EXPECT_EQ(store.string("hotkey"), "alt+space");
  }
}

TEST(JsonDefaultsTest, ValuesOfAnotherShapeReadAsNothing) {
  for (const char* value :
       {"5", "null", R"({"data": "!!"})", R"({"data": 5})", R"({"b": "AA=="})"}) {
    SCOPED_TRACE(value);
    const JsonDefaults store(storedFile("shapes", std::string(R"({"k": )") + value + "}"));
    EXPECT_EQ(store.data("k"), std::nullopt);
    EXPECT_EQ(store.boolean("k"), std::nullopt);
    EXPECT_EQ(store.string("k"), std::nullopt);
  }
}

TEST(JsonDefaultsTest, OnlyTheOwnerCanReadTheFileAndItsFolder) {
  const fs::path file = freshFile("private");
  JsonDefaults(file).setBoolean("k", true);
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(file.parent_path()).permissions(), fs::perms::owner_all);
}

TEST(JsonDefaultsTest, AnUnreadableFileIsSetAsideBeforeTheFirstWrite) {
  struct Row {
    const char* shows;
    std::string bytes;
  };
  const Row rows[] = {
      {"not JSON", "{\"hotkey\": "},
      {"not an object", R"(["hotkey", "alt+space"])"},
      {"invalid UTF-8 in a text", "{\"hotkey\": \"\xff\"}"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shows);
    const fs::path file = storedFile("unreadable", row.bytes);
    JsonDefaults store(file);
    EXPECT_EQ(store.string("hotkey"), std::nullopt);
    EXPECT_EQ(contents(file), row.bytes) << "reading alone changes nothing";
    store.setBoolean("clipboardEnabled", false);
    store.setBoolean("clipboardEnabled", true);
    EXPECT_EQ(contents(file.string() + ".unreadable"), row.bytes);
    EXPECT_FALSE(fs::exists(file.string() + ".unreadable.2")) << "set aside once";
    EXPECT_EQ(JsonDefaults(file).boolean("clipboardEnabled"), true);
  }
}

TEST(JsonDefaultsTest, AWriterKilledAtAnyMomentLeavesAWholeFile) {
  constexpr int kRounds = 30;
  // Large enough that writing and syncing it takes a while, so kills land inside.
  constexpr std::size_t kValueSize = 256 << 10;
  // A value starts with its generation and is derived from it, so a reader tells a whole
  // value from a mixture of two.
  const auto value = [](long generation) {
    std::string bytes = std::to_string(generation) + ":";
    bytes.resize(kValueSize, char(generation % 251));
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
