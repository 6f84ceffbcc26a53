// GNOME's custom shortcut, written into a settings file of the test's own (the keyfile
// backend under the private XDG_CONFIG_HOME), with GNOME's default shortcuts installed.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/gnome_key_binder.h"
#include "tests/support/scoped_variable.h"

namespace varek {
namespace {

constexpr const char* kMediaKeys = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* kCustom = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
constexpr const char* kCustomFolder =
    "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";

std::vector<std::string> customPaths() {
  GSettings* list = g_settings_new(kMediaKeys);
  gchar** paths = g_settings_get_strv(list, "custom-keybindings");
  std::vector<std::string> result(paths, paths + g_strv_length(paths));
  g_strfreev(paths);
  g_object_unref(list);
  return result;
}

std::string custom(const std::string& name, const char* key) {
  GSettings* settings = g_settings_new_with_path(kCustom, (kCustomFolder + name + "/").c_str());
  gchar* value = g_settings_get_string(settings, key);
  std::string result = value;
  g_free(value);
  g_object_unref(settings);
  return result;
}

TEST(GnomeKeyBinder, WritesItsShortcutOnlyWithConsentAndNeverOverGnomes) {
  for (const auto& [desktops, offered] : {std::pair{"ubuntu:GNOME", true}, {"KDE", false}}) {
    test::ScopedVariable desktop("XDG_CURRENT_DESKTOP", desktops);
    EXPECT_EQ(GnomeKeyBinder::offered(), offered) << desktops;
  }
  // A shortcut of the user's own on Super+F5.
  GSettings* mine =
      g_settings_new_with_path(kCustom, (std::string(kCustomFolder) + "mine/").c_str());
  g_settings_set_string(mine, "binding", "<Super>F5");
  g_object_unref(mine);
  GSettings* list = g_settings_new(kMediaKeys);
  const std::string minePath = std::string(kCustomFolder) + "mine/";
  const gchar* paths[] = {minePath.c_str(), nullptr};
  g_settings_set_strv(list, "custom-keybindings", paths);
  g_object_unref(list);

  using Status = KeyBinder::Status;
  GnomeKeyBinder binder;
  // GNOME's own: the window menu on Alt+Space, the input sources on Super+Space.
  EXPECT_EQ(binder.bind(QKeyCombination(Qt::AltModifier, Qt::Key_Space)), Status::taken);
  EXPECT_EQ(binder.bind(QKeyCombination(Qt::MetaModifier, Qt::Key_Space)), Status::taken);
  EXPECT_EQ(binder.bind(QKeyCombination(Qt::MetaModifier, Qt::Key_F5)), Status::taken);
  const QKeyCombination ctrlAltK(Qt::ControlModifier | Qt::AltModifier, Qt::Key_K);
  EXPECT_EQ(binder.bind(ctrlAltK), Status::needsConsent);
  EXPECT_EQ(binder.consent(), KeyBinder::Consent::asked);
  EXPECT_EQ(customPaths().size(), 1U) << "nothing written without consent";

  EXPECT_FALSE(binder.agree(QKeyCombination(Qt::AltModifier, Qt::Key_Space)));
  ASSERT_TRUE(binder.agree(ctrlAltK));
  EXPECT_EQ(binder.consent(), KeyBinder::Consent::given);
  EXPECT_EQ(customPaths(),
            (std::vector<std::string>{minePath, std::string(kCustomFolder) + "varek/"}));
  EXPECT_EQ(custom("varek", "name"), "Varek");
  EXPECT_EQ(custom("varek", "command"), "varek signal toggle");
  EXPECT_EQ(custom("varek", "binding"), "<Control><Alt>k");

  // Once written, another combination replaces it there.
  EXPECT_EQ(binder.bind(QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_J)),
            Status::registered);
  EXPECT_EQ(custom("varek", "binding"), "<Control><Alt>j");

  binder.withdraw();
  EXPECT_EQ(binder.consent(), KeyBinder::Consent::asked);
  EXPECT_EQ(customPaths(), std::vector<std::string>{minePath});
  EXPECT_EQ(custom("varek", "binding"), "");
  EXPECT_EQ(custom("mine", "binding"), "<Super>F5");
}

}  // namespace
}  // namespace varek
