#include "platform/linux/xdg_paths.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <string>

#include "tests/support/scoped_variable.h"

namespace varek {
namespace {

TEST(XdgPathsTest, FollowsTheBaseDirectoryVariables) {
  const std::string account = ::getpwuid(::getuid())->pw_dir;
  struct Row {
    const char* shows;
    const char *home, *state, *data, *config;  // the variables; nullptr unsets
    std::string homeFolder, stateFolder, dataFolder, configFolder;
  };
  const Row rows[] = {
      {"absolute values; without HOME the account's home", nullptr, "/s", "/d", "/c", account, "/s",
       "/d", "/c"},
      {"an empty HOME counts as unset", "", "/s", "/d", "/c", account, "/s", "/d", "/c"},
      {"empty and relative values count as unset", "/h", "", "data", "./c", "/h", "/h/.local/state",
       "/h/.local/share", "/h/.config"},
      {"unset values under a home of /, without a double slash", "/", nullptr, nullptr, nullptr,
       "/", "/.local/state", "/.local/share", "/.config"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shows);
    // Only for the constructor: the other tests run in the desktop's environment.
    const XdgPaths paths = [&row] {
      const test::ScopedVariable home("HOME", row.home), state("XDG_STATE_HOME", row.state),
          data("XDG_DATA_HOME", row.data), config("XDG_CONFIG_HOME", row.config);
      return XdgPaths();
    }();
    EXPECT_EQ(paths.homeFolder(), row.homeFolder);
    EXPECT_EQ(paths.logFile(), row.stateFolder + "/Varek/Varek.log");
    EXPECT_EQ(paths.clipboardFile(), row.dataFolder + "/Varek/zwischenablage.json");
    EXPECT_EQ(paths.configFile(), row.configFolder + "/varek/defaults.json");
  }
}

}  // namespace
}  // namespace varek
