// The hotkey through the desktops' shortcut services, each played by a fake on the private
// session bus that records its calls and sends the signals a real one sends; GNOME's custom
// shortcut in a settings file of the test's own (the keyfile backend under the private
// XDG_CONFIG_HOME); and which of them a session gets.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/gnome_key_binder.h"
#include "app/kglobalaccel_key_binder.h"
#include "app/portal_key_binder.h"
#include "app/sway_key_binder.h"
#include "app/x11_key_binder.h"
#include "tests/support/desktop_session.h"
#include "tests/support/fake_dbus_service.h"
#include "tests/support/scoped_variable.h"

namespace varek {
namespace {

constexpr QKeyCombination kAltSpace(Qt::AltModifier, Qt::Key_Space);
constexpr QKeyCombination kCtrlAltK(Qt::ControlModifier | Qt::AltModifier, Qt::Key_K);
constexpr QKeyCombination kSuperF5(Qt::MetaModifier, Qt::Key_F5);

constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kPortalInterface = "org.freedesktop.portal.GlobalShortcuts";

// The portal: each method answers with a Request path, then a Response on it; binding is
// granted unless the trigger is one the desktop refuses.
class FakePortal : public FakeService {
 public:
  explicit FakePortal(QString refused)
      : FakeService("org.freedesktop.portal.Desktop", kPortalPath,
                    [this](const QDBusMessage& call) { return answer(call); }),
        refused_(std::move(refused)) {}

  QStringList triggers;  // the preferred triggers asked for, in order

 private:
  QVariantList answer(const QDBusMessage& call) {
    if (call.member() == "Get") return {QVariant::fromValue(QDBusVariant(1U))};
    if (call.member() != "CreateSession" && call.member() != "BindShortcuts") return {};
    const QVariantMap options = qdbus_cast<QVariantMap>(call.arguments().last());
    const QString sender = call.service().mid(1).replace('.', '_');
    const QString request =
        QString("%1/request/%2/%3").arg(kPortalPath, sender, options["handle_token"].toString());
    uint code = 0;
    QVariantMap results;
    if (call.member() == "CreateSession") {
      results["session_handle"] =
          QString("%1/session/%2/%3")
              .arg(kPortalPath, sender, options["session_handle_token"].toString());
    } else {
      const QDBusArgument shortcuts = call.arguments()[1].value<QDBusArgument>();
      shortcuts.beginArray();
      while (!shortcuts.atEnd()) {
        QString id;
        QVariantMap properties;
        shortcuts.beginStructure();
        shortcuts >> id >> properties;
        shortcuts.endStructure();
        triggers << id + " " + properties["preferred_trigger"].toString();
      }
      shortcuts.endArray();
      code = triggers.last().endsWith(refused_) ? 1 : 0;
    }
    send(request, "org.freedesktop.portal.Request", "Response", {code, results});
    return {QVariant::fromValue(QDBusObjectPath(request))};
  }

  QString refused_;
};

TEST(PortalKeyBinder, BindsThroughASessionAndHearsActivated) {
  FakePortal portal("CTRL+ALT+k");
  ASSERT_TRUE(PortalKeyBinder::offered(QDBusConnection::sessionBus()));
  int presses = 0;
  {
    PortalKeyBinder binder;
    binder.setOnPress([&] { ++presses; });
    ASSERT_EQ(binder.bind(kAltSpace), KeyBinder::Status::registered);
    EXPECT_EQ(binder.bind(kCtrlAltK), KeyBinder::Status::taken) << "the user said no";
    ASSERT_EQ(binder.bind(kSuperF5), KeyBinder::Status::registered);
    EXPECT_EQ(portal.triggers,
              QStringList({"toggle ALT+space", "toggle CTRL+ALT+k", "toggle LOGO+F5"}));
    // Another shortcut's press is not ours; signals keep their order.
    const QVariant ours = portal.calls("BindShortcuts").back()[0];
    portal.send(kPortalPath, kPortalInterface, "Activated", {ours, "other", 0ULL, QVariantMap()});
    portal.send(kPortalPath, kPortalInterface, "Activated", {ours, "toggle", 0ULL, QVariantMap()});
    EXPECT_TRUE(test::waitFor([&] { return presses > 0; }));
    EXPECT_EQ(presses, 1);
  }
  // Every session opened was closed again, the last when the binder went.
  EXPECT_TRUE(test::waitFor([&] { return portal.calls("Close").size() == 3; }));
}

TEST(KGlobalAccelKeyBinder, SetsTheKeyAndHearsItsPresses) {
  const QString component = "/component/varek";
  FakeService service("org.kde.kglobalaccel", "/", [&](const QDBusMessage& call) -> QVariantList {
    if (call.member() == "getComponent") return {QVariant::fromValue(QDBusObjectPath(component))};
    if (call.member() != "setShortcut") return {};
    // Another action holds Ctrl+Alt+K: the service leaves it out of what it gives.
    QList<int> keys = qdbus_cast<QList<int>>(call.arguments()[1]);
    keys.removeAll(kCtrlAltK.toCombined());
    return {QVariant::fromValue(keys)};
  });
  ASSERT_TRUE(KGlobalAccelKeyBinder::offered(QDBusConnection::sessionBus()));
  int presses = 0;
  {
    KGlobalAccelKeyBinder binder;
    binder.setOnPress([&] { ++presses; });
    EXPECT_EQ(binder.bind(kCtrlAltK), KeyBinder::Status::taken);
    ASSERT_EQ(binder.bind(kAltSpace), KeyBinder::Status::registered);
    const QString interface = "org.kde.kglobalaccel.Component";
    service.send(component, interface, "globalShortcutPressed", {"other", "toggle", 0LL});
    service.send(component, interface, "globalShortcutPressed", {"varek", "toggle", 0LL});
    EXPECT_TRUE(test::waitFor([&] { return presses > 0; }));
    EXPECT_EQ(presses, 1);
  }
  // The keys asked for, in order: taken, released, free, released as the binder went.
  std::vector<QList<int>> asked;
  for (const QVariantList& call : service.calls("setShortcut")) {
    asked.push_back(qdbus_cast<QList<int>>(call[1]));
  }
  const std::vector<QList<int>> expected = {
      {kCtrlAltK.toCombined()}, {}, {kAltSpace.toCombined()}, {}};
  EXPECT_EQ(asked, expected);
  EXPECT_EQ(service.calls("doRegister").size(), 1U);
}

// A GNOME setting in GVariant's text form ("'<Super>F5'", "['/a/', '/b/']"), written first
// when write is given.
std::string setting(const char* schema, const std::string& path, const char* key,
                    const char* write = nullptr) {
  GSettings* settings =
      path.empty() ? g_settings_new(schema) : g_settings_new_with_path(schema, path.c_str());
  if (write != nullptr) {
    g_settings_set_value(settings, key, g_variant_parse(nullptr, write, nullptr, nullptr, nullptr));
  }
  GVariant* value = g_settings_get_value(settings, key);
  gchar* text = g_variant_print(value, FALSE);
  std::string result = text;
  g_free(text);
  g_variant_unref(value);
  g_object_unref(settings);
  return result;
}

TEST(GnomeKeyBinder, WritesItsShortcutOnlyWithConsentAndNeverOverGnomes) {
  for (const auto& [desktops, offered] : {std::pair{"ubuntu:GNOME", true}, {"KDE", false}}) {
    test::ScopedVariable desktop("XDG_CURRENT_DESKTOP", desktops);
    EXPECT_EQ(GnomeKeyBinder::offered(), offered) << desktops;
  }
  const char* list = "org.gnome.settings-daemon.plugins.media-keys";
  const char* custom = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
  const std::string folder = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";
  const std::string mine = folder + "mine/", ours = folder + "varek/";
  setting(custom, mine, "binding", "'<Super>F5'");
  setting(list, "", "custom-keybindings", ("['" + mine + "']").c_str());

  using Status = KeyBinder::Status;
  GnomeKeyBinder binder;
  // GNOME's own: the window menu on Alt+Space, the input sources on Super+Space; the user's.
  EXPECT_EQ(binder.bind(kAltSpace), Status::taken);
  EXPECT_EQ(binder.bind(QKeyCombination(Qt::MetaModifier, Qt::Key_Space)), Status::taken);
  EXPECT_EQ(binder.bind(kSuperF5), Status::taken);
  EXPECT_EQ(binder.bind(kCtrlAltK), Status::needsConsent);
  EXPECT_EQ(binder.consent(), KeyBinder::Consent::asked);
  EXPECT_EQ(setting(list, "", "custom-keybindings"), "['" + mine + "']") << "nothing written yet";

  EXPECT_FALSE(binder.agree(kAltSpace));
  ASSERT_TRUE(binder.agree(kCtrlAltK));
  EXPECT_EQ(binder.consent(), KeyBinder::Consent::given);
  EXPECT_EQ(setting(list, "", "custom-keybindings"), "['" + mine + "', '" + ours + "']");
  EXPECT_EQ(setting(custom, ours, "name") + setting(custom, ours, "command") +
                setting(custom, ours, "binding"),
            "'Varek''varek signal toggle''<Control><Alt>k'");
  // Once written, another combination replaces it there.
  EXPECT_EQ(binder.bind(QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_J)),
            Status::registered);
  EXPECT_EQ(setting(custom, ours, "binding"), "'<Control><Alt>j'");

  binder.withdraw();
  EXPECT_EQ(binder.consent(), KeyBinder::Consent::asked);
  EXPECT_EQ(setting(list, "", "custom-keybindings"), "['" + mine + "']");
  EXPECT_EQ(setting(custom, ours, "binding") + setting(custom, mine, "binding"), "'''<Super>F5'");
}

std::string kindOf(KeyBinder& binder) {
  if (dynamic_cast<X11KeyBinder*>(&binder) != nullptr) return "X11";
  if (dynamic_cast<SwayKeyBinder*>(&binder) != nullptr) return "sway";
  if (dynamic_cast<PortalKeyBinder*>(&binder) != nullptr) return "portal";
  if (dynamic_cast<KGlobalAccelKeyBinder*>(&binder) != nullptr) return "KGlobalAccel";
  if (dynamic_cast<GnomeKeyBinder*>(&binder) != nullptr) return "GNOME";
  return binder.bind(kAltSpace) == KeyBinder::Status::unsupported ? "unsupported" : "?";
}

TEST(KeyBinderChoice, FollowsTheSessionAndWhatItsBusOffers) {
  struct Row {
    bool wayland, sway, portal, kglobalaccel;
    const char* desktop;
    std::string expected;
  };
  const Row rows[] = {
      {false, false, true, true, "GNOME", "X11"},
      {true, true, true, true, "GNOME", "sway"},
      {true, false, true, true, "GNOME", "portal"},
      {true, false, false, true, "GNOME", "KGlobalAccel"},
      {true, false, false, false, "GNOME", "GNOME"},
      {true, false, false, false, "river", "unsupported"},
  };
  const std::string display = std::getenv("WAYLAND_DISPLAY");
  const std::string sway = std::getenv("SWAYSOCK");
  for (const Row& row : rows) {
    test::ScopedVariable wayland("WAYLAND_DISPLAY", row.wayland ? display.c_str() : nullptr);
    test::ScopedVariable swaySocket("SWAYSOCK", row.sway ? sway.c_str() : nullptr);
    test::ScopedVariable desktop("XDG_CURRENT_DESKTOP", row.desktop);
    std::optional<FakePortal> portal;
    if (row.portal) portal.emplace("");
    std::optional<FakeService> kglobalaccel;
    if (row.kglobalaccel)
      kglobalaccel.emplace("org.kde.kglobalaccel", "/",
                           [](const QDBusMessage&) { return QVariantList(); });
    EXPECT_EQ(kindOf(*makeKeyBinder()), row.expected);
  }
}

}  // namespace
}  // namespace varek
