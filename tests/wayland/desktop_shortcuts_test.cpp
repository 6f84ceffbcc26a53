// The hotkey through the desktops' shortcut services, each played by a fake on the private
// session bus that records its calls and sends the signals a real one sends; and GNOME's
// custom shortcut in a private settings file.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/gnome_key_binder.h"
#include "app/kglobalaccel_key_binder.h"
#include "app/portal_key_binder.h"
#include "app/sway_key_binder.h"
#include "app/x11_key_binder.h"
#include "tests/support/desktop_session.h"
#include "tests/support/scoped_variable.h"

namespace varek {
namespace {

constexpr QKeyCombination kAltSpace(Qt::AltModifier, Qt::Key_Space);
constexpr QKeyCombination kCtrlAltK(Qt::ControlModifier | Qt::AltModifier, Qt::Key_K);
constexpr QKeyCombination kSuperF5(Qt::MetaModifier, Qt::Key_F5);

// A service on a bus connection of its own, answering in a thread of its own: the binders
// wait for their replies with the main thread blocked, as they do with a real service.
class FakeService : public QDBusVirtualObject {
 public:
  using Answer = std::function<QVariantList(const QDBusMessage& call)>;

  FakeService(const QString& name, const QString& path, Answer answer)
      : connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)),
        answer_(std::move(answer)) {
    EXPECT_TRUE(connection_.registerVirtualObject(path, this, QDBusConnection::SubPath));
    thread_.start();
    moveToThread(&thread_);
    EXPECT_TRUE(connection_.registerService(name));
  }
  ~FakeService() override {
    QDBusConnection::disconnectFromBus(connection_.name());
    thread_.quit();
    thread_.wait();
  }

  bool handleMessage(const QDBusMessage& call, const QDBusConnection&) override {
    const QVariantList reply = answer_(call);
    connection_.send(call.createReply(reply));
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
    return true;
  }
  QString introspect(const QString&) const override { return {}; }

  void send(const QString& path, const QString& interface, const QString& name,
            const QVariantList& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    signal.setArguments(arguments);
    connection_.send(signal);
  }
  // The arguments of the calls of this method so far.
  std::vector<QVariantList> calls(const QString& member) {
    std::lock_guard lock(mutex_);
    std::vector<QVariantList> found;
    for (const QDBusMessage& call : calls_) {
      if (call.member() == member) found.push_back(call.arguments());
    }
    return found;
  }

 private:
  QThread thread_;
  QDBusConnection connection_;
  Answer answer_;
  std::mutex mutex_;
  std::vector<QDBusMessage> calls_;
};

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
  QString session;
  {
    PortalKeyBinder binder;
    binder.setOnPress([&] { ++presses; });
    ASSERT_EQ(binder.bind(kAltSpace), KeyBinder::Status::registered);
    EXPECT_EQ(binder.bind(kCtrlAltK), KeyBinder::Status::taken) << "the user said no";
    ASSERT_EQ(binder.bind(kSuperF5), KeyBinder::Status::registered);
    EXPECT_EQ(portal.triggers,
              QStringList({"toggle ALT+space", "toggle CTRL+ALT+k", "toggle LOGO+F5"}));
    session = qdbus_cast<QDBusObjectPath>(portal.calls("BindShortcuts").back()[0]).path();

    // Another session's press and another shortcut's are not ours; events keep their order.
    const QVariant other = QVariant::fromValue(QDBusObjectPath(session + "x"));
    const QVariant ours = QVariant::fromValue(QDBusObjectPath(session));
    portal.send(kPortalPath, kPortalInterface, "Activated", {other, "toggle", 0ULL, QVariantMap()});
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
    EXPECT_EQ(call[0].toStringList().mid(0, 2), QStringList({"varek", "toggle"}));
    asked.push_back(qdbus_cast<QList<int>>(call[1]));
  }
  const std::vector<QList<int>> expected = {
      {kCtrlAltK.toCombined()}, {}, {kAltSpace.toCombined()}, {}};
  EXPECT_EQ(asked, expected);
  EXPECT_EQ(service.calls("doRegister").size(), 1U);
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
