// The hotkey through the desktop's GlobalShortcuts portal (KDE Plasma, GNOME 48 on): a
// session holds one shortcut with Varek's id and the combination as its preferred trigger;
// the desktop may let the user confirm or change it, and reports presses as Activated.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QObject>
#include <QVariantMap>
#include <optional>

#include "app/key_binder.h"

namespace varek {

class PortalKeyBinder : public QObject, public KeyBinder {
  Q_OBJECT

 public:
  static constexpr const char* kShortcutId = "toggle";

  // Whether the bus has a portal that offers global shortcuts.
  static bool offered(const QDBusConnection& bus);

  explicit PortalKeyBinder(QDBusConnection bus = QDBusConnection::sessionBus());
  ~PortalKeyBinder() override;

  Status bind(QKeyCombination combination) override;
  void unbind() override;

  // The trigger in the shortcuts' own words: "CTRL+ALT+k", "LOGO+space".
  static QString trigger(QKeyCombination combination);

 private slots:
  void activated(const QDBusMessage& signal);
  void response(uint code, const QVariantMap& results);

 private:
  // Calls a method that answers through a Request object, and waits for its Response.
  std::optional<QVariantMap> request(const QString& method, QVariantList arguments,
                                     QVariantMap options, int waitMs);

  QDBusConnection bus_;
  QString session_;   // the open session's object path, empty when none
  int requests_ = 0;  // tokens, unique for the connection
  int sessions_ = 0;
  std::optional<std::pair<uint, QVariantMap>> response_;
  QEventLoop* waiting_ = nullptr;  // the loop that waits for response_
};

}  // namespace varek
