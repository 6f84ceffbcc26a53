#include "app/portal_key_binder.h"

#include <QDBusArgument>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QEventLoop>
#include <QTimer>

#include "app/key_symbol.h"

namespace varek {

// One shortcut as the portal takes it: an id and its properties, a(sa{sv}) on the wire.
struct PortalShortcut {
  QString id;
  QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
  argument.beginStructure();
  argument << shortcut.id << shortcut.properties;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
  argument.beginStructure();
  argument >> shortcut.id >> shortcut.properties;
  argument.endStructure();
  return argument;
}

}  // namespace varek

Q_DECLARE_METATYPE(varek::PortalShortcut)
Q_DECLARE_METATYPE(QList<varek::PortalShortcut>)

namespace varek {
namespace {

constexpr const char* kService = "org.freedesktop.portal.Desktop";
constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
constexpr const char* kSessionInterface = "org.freedesktop.portal.Session";
// Opening a session needs no one's answer; binding may wait for the user to confirm the
// shortcut in the desktop's dialog.
constexpr int kSessionWaitMs = 5000;
constexpr int kConsentWaitMs = 60000;
// The portal's Response codes: 0 granted, 1 cancelled by the user, 2 ended otherwise.
constexpr uint kGranted = 0;

}  // namespace

bool PortalKeyBinder::offered(const QDBusConnection& bus) {
  QDBusMessage get =
      QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Properties", "Get");
  get << QString(kInterface) << QString("version");
  return bus.call(get, QDBus::Block, kSessionWaitMs).type() == QDBusMessage::ReplyMessage;
}

PortalKeyBinder::PortalKeyBinder(QDBusConnection bus) : bus_(std::move(bus)) {
  qDBusRegisterMetaType<PortalShortcut>();
  qDBusRegisterMetaType<QList<PortalShortcut>>();
  bus_.connect(kService, kPath, kInterface, "Activated", this, SLOT(activated(QDBusMessage)));
}

PortalKeyBinder::~PortalKeyBinder() { unbind(); }

QString PortalKeyBinder::trigger(QKeyCombination combination) {
  const Qt::KeyboardModifiers held = combination.keyboardModifiers();
  QString text;
  if (held & Qt::ControlModifier) text += "CTRL+";
  if (held & Qt::AltModifier) text += "ALT+";
  if (held & Qt::ShiftModifier) text += "SHIFT+";
  if (held & Qt::MetaModifier) text += "LOGO+";
  return text + QString::fromStdString(keysymName(combination.key()));
}

KeyBinder::Status PortalKeyBinder::bind(QKeyCombination combination) {
  unbind();
  const std::optional<QVariantMap> session =
      request("CreateSession", {}, {{"session_handle_token", QString("varek%1").arg(++sessions_)}},
              kSessionWaitMs);
  if (!session) return Status::noService;
  // A string by the portal's description, an object path in some of its implementations.
  const QVariant handle = session->value("session_handle");
  session_ = handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
                 ? handle.value<QDBusObjectPath>().path()
                 : handle.toString();
  if (session_.isEmpty()) return Status::noService;

  const QList<PortalShortcut> shortcuts = {{kShortcutId,
                                            {{"description", "Varek öffnen oder schließen"},
                                             {"preferred_trigger", trigger(combination)}}}};
  const std::optional<QVariantMap> bound = request(
      "BindShortcuts",
      {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts), QString()},
      {}, kConsentWaitMs);
  // Refused or not answered: the desktop keeps no shortcut of ours.
  if (!bound) {
    unbind();
    return Status::taken;
  }
  return Status::registered;
}

void PortalKeyBinder::unbind() {
  if (session_.isEmpty()) return;
  bus_.call(QDBusMessage::createMethodCall(kService, session_, kSessionInterface, "Close"),
            QDBus::NoBlock);
  session_.clear();
}

// Activated(o session, s shortcut, t timestamp, a{sv} options), read by hand: QtDBus refused
// to connect a slot with these four types.
void PortalKeyBinder::activated(const QDBusMessage& signal) {
  const QVariantList arguments = signal.arguments();
  if (session_.isEmpty() || arguments.size() < 2) return;
  const QString session = qdbus_cast<QDBusObjectPath>(arguments[0]).path();
  if (session == session_ && arguments[1].toString() == kShortcutId) pressed();
}

void PortalKeyBinder::response(uint code, const QVariantMap& results) {
  response_.emplace(code, results);
  if (waiting_ != nullptr) waiting_->quit();
}

std::optional<QVariantMap> PortalKeyBinder::request(const QString& method, QVariantList arguments,
                                                    QVariantMap options, int waitMs) {
  // The Request object's path follows from our name and the token, so the answer is
  // listened for before the call: it may come before the call returns.
  const QString token = QString("varek%1").arg(++requests_);
  const QString sender = bus_.baseService().mid(1).replace('.', '_');
  const QString path = QString("%1/request/%2/%3").arg(kPath, sender, token);
  options.insert("handle_token", token);
  arguments << options;
  response_.reset();
  bus_.connect(kService, path, kRequestInterface, "Response", this,
               SLOT(response(uint, QVariantMap)));
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
  call.setArguments(arguments);
  const QDBusMessage reply = bus_.call(call, QDBus::Block, kSessionWaitMs);
  if (reply.type() == QDBusMessage::ReplyMessage && !response_) {
    QEventLoop loop;
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    waiting_ = &loop;
    loop.exec();
    waiting_ = nullptr;
  }
  bus_.disconnect(kService, path, kRequestInterface, "Response", this,
                  SLOT(response(uint, QVariantMap)));
  if (reply.type() != QDBusMessage::ReplyMessage || !response_ || response_->first != kGranted) {
    return std::nullopt;
  }
  return response_->second;
}

}  // namespace varek
