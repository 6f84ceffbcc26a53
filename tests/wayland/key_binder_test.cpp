// The hotkey on Wayland desktops: sway's configuration as the binder reads it, and the
// binding itself on the private sway desktop, pressed through a virtual keyboard.
#include <gtest/gtest.h>

#include <QProcess>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "app/sway_config.h"
#include "app/sway_key_binder.h"
#include "tests/support/desktop_session.h"

namespace varek {
namespace {

constexpr QKeyCombination kAltSpace(Qt::AltModifier, Qt::Key_Space);
constexpr QKeyCombination kSuperSpace(Qt::MetaModifier, Qt::Key_Space);
constexpr QKeyCombination kCtrlAltK(Qt::ControlModifier | Qt::AltModifier, Qt::Key_K);

bool bound(std::string_view config, QKeyCombination combination) {
  const auto read = [](const std::string& pattern) {
    return pattern == "/etc/sway/config.d/*" ? std::vector<std::string>{"bindsym Mod1+space x"}
                                             : std::vector<std::string>{};
  };
  const std::vector<SwayCombination> bindings = swayConfigBindings(config, read);
  return std::count(bindings.begin(), bindings.end(),
                    parseSwayCombination(SwayKeyBinder::swayText(combination))) > 0;
}

TEST(SwayConfig, CombinationsBoundInTheDefaultModeAreTaken) {
  // configuration, whether Alt+Space is bound there
  const std::tuple<const char*, std::string_view, bool> rows[] = {
      {"plain", "bindsym Mod1+space exec x", true},
      {"other names and case", "bindsym ALT+Space exec x", true},
      {"a variable", "set $mod Mod1\nset $modifier Mod4\nbindsym $mod+space exec x", true},
      {"the longer variable wins", "set $mod Mod1\nset $modifier Mod4\nbindsym $modifier+space x",
       false},
      {"a variable defined again", "set $mod Mod4\nset $mod Mod1\nbindsym $mod+space x", true},
      {"flags first", "bindsym --to-code --no-warn Mod1+space exec x", true},
      {"in a block", "bindsym {\n  Mod1+Return exec y\n  Mod1+space exec x\n}", true},
      {"continued line", "bindsym \\\n  Mod1+space exec x", true},
      {"another mode", "mode \"resize\" {\n  bindsym Mod1+space mode default\n}", false},
      {"Shift as well", "bindsym Mod1+Shift+space exec x", false},
      {"a comment", "# bindsym Mod1+space exec x", false},
      {"an include", "include /etc/sway/config.d/*", true},
      {"a relative include", "include config.d/*", false},
      {"a keycode", "bindcode Mod1+65 exec x", false},
  };
  for (const auto& [name, config, taken] : rows) {
    EXPECT_EQ(bound(config, kAltSpace), taken) << name;
  }
}

// The binding events that sway sends to any listener, here another IPC client's.
class BindingListener {
 public:
  BindingListener() { EXPECT_TRUE(ipc_.subscribe({"binding"})); }

  // Waits until a binding event with this command arrives; the commands of all that came.
  std::vector<std::string> until(const std::string& command) {
    test::waitFor([&] {
      for (const SwayIpc::Received& event : ipc_.events()) {
        const auto payload = nlohmann::json::parse(event.payload, nullptr, false);
        commands_.push_back(payload["binding"]["command"].get<std::string>());
      }
      return std::count(commands_.begin(), commands_.end(), command) > 0;
    });
    return std::exchange(commands_, {});
  }

 private:
  SwayIpc ipc_;
  std::vector<std::string> commands_;
};

// wtype loses the first key of each run: a harmless Shift goes first.
void press(const QStringList& keys) {
  ASSERT_EQ(QProcess::execute("wtype", QStringList{"-k", "Shift_L"} + keys), 0);
}
const QStringList kPressAltSpace = {"-M", "alt", "-k", "space", "-m", "alt"};
const QStringList kPressSuperSpace = {"-M", "logo", "-k", "space", "-m", "logo"};
const QStringList kPressCtrlAltK = {"-M", "ctrl", "-M",  "alt", "-k",
                                    "k",  "-m",   "alt", "-m",  "ctrl"};
const std::string kUserCommand = "nop user binding";

TEST(SwayKeyBinder, PressesArriveOnceAndOnlyWhileBound) {
  // The command as the panel's part gives it: several commands, quotes of its own.
  const std::string ours = "nop [app_id=\"zz.orvel.varek\"] scratchpad show; nop varek toggle";
  BindingListener listener;
  int presses = 0;
  {
    SwayKeyBinder binder(ours);
    binder.setOnPress([&] { ++presses; });
    ASSERT_EQ(binder.bind(kAltSpace), KeyBinder::Status::registered);
    press(kPressAltSpace);
    EXPECT_EQ(listener.until(ours), std::vector<std::string>{ours});
    EXPECT_TRUE(test::waitFor([&] { return presses > 0; }));
    EXPECT_EQ(presses, 1);

    // The user's binding stays: reported taken, and it still runs its own command.
    EXPECT_EQ(binder.bind(kSuperSpace), KeyBinder::Status::taken);
    press(kPressSuperSpace);
    EXPECT_EQ(listener.until(kUserCommand), std::vector<std::string>{kUserCommand});

    // Another combination: the earlier one is gone, as events arrive in order.
    ASSERT_EQ(binder.bind(kCtrlAltK), KeyBinder::Status::registered);
    press(kPressAltSpace + kPressCtrlAltK);
    EXPECT_EQ(listener.until(ours), std::vector<std::string>{ours});
    EXPECT_TRUE(test::waitFor([&] { return presses > 1; }));
    EXPECT_EQ(presses, 2);
  }
  // With the binder gone, its combination does nothing.
  press(kPressCtrlAltK + kPressSuperSpace);
  EXPECT_EQ(listener.until(kUserCommand), std::vector<std::string>{kUserCommand});
  EXPECT_EQ(presses, 2);
}

TEST(SwayKeyBinder, BindsAgainWhenSwayReloadsItsConfiguration) {
  int presses = 0;
  SwayKeyBinder binder;
  binder.setOnPress([&] { ++presses; });
  ASSERT_EQ(binder.bind(kCtrlAltK), KeyBinder::Status::registered);
  ASSERT_TRUE(SwayIpc().command("reload"));
  // Until the binder has read the reload, a press goes to the focused window.
  EXPECT_TRUE(test::waitFor([&] {
    press(kPressCtrlAltK);
    return QTest::qWaitFor([&] { return presses > 0; }, 300);
  }));
}

}  // namespace
}  // namespace varek
