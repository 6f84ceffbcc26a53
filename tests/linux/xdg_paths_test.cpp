#include "platform/linux/xdg_paths.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <map>
#include <string>

namespace varek {
namespace {

TEST(XdgPathsTest, FollowsTheBaseDirectoryVariables) {
  constexpr std::array<const char*, 4> kNames = {"HOME", "XDG_STATE_HOME", "XDG_DATA_HOME",
                                                 "XDG_CONFIG_HOME"};
  const std::string account = ::getpwuid(::getuid())->pw_dir;
  struct Row {
    const char* shows;
    std::array<const char*, 4> values;  // of kNames; nullptr unsets
    std::string home, log, clipboard, config;
  };
  const Row rows[] = {
      {"absolute values",
       {"/h", "/s", "/d", "/c"},
       "/h",
       "/s/Varek/Varek.log",
       "/d/Varek/zwischenablage.json",
       "/c/varek/defaults.json"},
      {"unset values fall back under home",
       {"/h", nullptr, nullptr, nullptr},
       "/h",
       "/h/.local/state/Varek/Varek.log",
       "/h/.local/share/Varek/zwischenablage.json",
       "/h/.config/varek/defaults.json"},
      {"empty and relative values count as unset",
       {"/h", "", "data", "./c"},
       "/h",
       "/h/.local/state/Varek/Varek.log",
       "/h/.local/share/Varek/zwischenablage.json",
       "/h/.config/varek/defaults.json"},
      {"without HOME the account's home",
       {nullptr, "/s", "/d", "/c"},
       account,
       "/s/Varek/Varek.log",
       "/d/Varek/zwischenablage.json",
       "/c/varek/defaults.json"},
      {"a home of / without a double slash",
       {"/", nullptr, nullptr, nullptr},
       "/",
       "/.local/state/Varek/Varek.log",
       "/.local/share/Varek/zwischenablage.json",
       "/.config/varek/defaults.json"},
  };
  std::map<std::string, std::string> saved;
  for (const char* name : kNames) {
    if (const char* value = ::getenv(name)) saved[name] = value;
  }
  const auto set = [](const char* name, const char* value) {
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shows);
    for (std::size_t at = 0; at < kNames.size(); ++at) set(kNames[at], row.values[at]);
    const XdgPaths paths;
    // The other tests run in the desktop's environment; the paths stay as constructed.
    for (const char* name : kNames) set(name, saved.count(name) ? saved[name].c_str() : nullptr);
    EXPECT_EQ(paths.homeFolder(), row.home);
    EXPECT_EQ(paths.logFile(), row.log);
    EXPECT_EQ(paths.clipboardFile(), row.clipboard);
    EXPECT_EQ(paths.configFile(), row.config);
  }
}

}  // namespace
}  // namespace varek
