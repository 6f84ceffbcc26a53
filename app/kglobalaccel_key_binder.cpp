#include "app/kglobalaccel_key_binder.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>

namespace varek {
namespace {

constexpr const char* kPath = "/kglobalaccel";
constexpr const char* kInterface = "org.kde.KGlobalAccel";
constexpr const char* kComponentInterface = "org.kde.kglobalaccel.Component";
// The service answers at once; one silent this long is hung.
constexpr int kReplyWaitMs = 5000;
// setShortcut's flags: the keys are the ones in use now (SetPresent), and are not to be
// replaced by what the service remembers from an earlier run (NoAutoloading).
constexpr uint kSetPresent = 2, kNoAutoloading = 4;

// The action's four names: component and action, each as id and as shown to the user.
QStringList actionId() {
  return {KGlobalAccelKeyBinder::kComponent, KGlobalAccelKeyBinder::kAction, "Varek",
          "Varek öffnen oder schließen"};
}

QDBusMessage call(const QString& method, const QVariantList& arguments) {
  QDBusMessage message =
      QDBusMessage::createMethodCall(KGlobalAccelKeyBinder::kService, kPath, kInterface, method);
  message.setArguments(arguments);
  return message;
}

}  // namespace

bool KGlobalAccelKeyBinder::offered(const QDBusConnection& bus) {
  return bus.interface() != nullptr && bus.interface()->isServiceRegistered(kService).value();
}

KGlobalAccelKeyBinder::KGlobalAccelKeyBinder(QDBusConnection bus) : bus_(std::move(bus)) {}

KGlobalAccelKeyBinder::~KGlobalAccelKeyBinder() { unbind(); }

KeyBinder::Status KGlobalAccelKeyBinder::bind(QKeyCombination combination) {
  unbind();
  if (componentPath_.isEmpty()) {
    if (bus_.call(call("doRegister", {actionId()}), QDBus::Block, kReplyWaitMs).type() !=
        QDBusMessage::ReplyMessage) {
      return Status::noService;
    }
    const QDBusReply<QDBusObjectPath> component =
        bus_.call(call("getComponent", {QString(kComponent)}), QDBus::Block, kReplyWaitMs);
    if (!component.isValid()) return Status::noService;
    componentPath_ = component.value().path();
    bus_.connect(kService, componentPath_, kComponentInterface, "globalShortcutPressed", this,
                 SLOT(shortcutPressed(QString, QString, qlonglong)));
  }
  // The service leaves out a combination that another action holds.
  const int wanted = combination.toCombined();
  const std::optional<QList<int>> given = setKeys({wanted});
  if (!given) return Status::noService;
  bound_ = true;
  if (!given->contains(wanted)) {
    unbind();
    return Status::taken;
  }
  return Status::registered;
}

void KGlobalAccelKeyBinder::unbind() {
  if (!bound_) return;
  bound_ = false;
  setKeys({});
}

std::optional<QList<int>> KGlobalAccelKeyBinder::setKeys(const QList<int>& keys) {
  const QDBusReply<QList<int>> given = bus_.call(
      call("setShortcut", {actionId(), QVariant::fromValue(keys), kSetPresent | kNoAutoloading}),
      QDBus::Block, kReplyWaitMs);
  if (!given.isValid()) return std::nullopt;
  return given.value();
}

void KGlobalAccelKeyBinder::shortcutPressed(const QString& component, const QString& action,
                                            qlonglong) {
  if (bound_ && component == kComponent && action == kAction) pressed();
}

}  // namespace varek
