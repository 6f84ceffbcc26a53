// The hotkey through KDE's global shortcut service (KGlobalAccel), where no portal offers
// global shortcuts: Varek registers one action, asks for the combination, and hears its
// presses from the component's globalShortcutPressed signal.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <optional>

#include "app/key_binder.h"

namespace varek {

class KGlobalAccelKeyBinder : public QObject, public KeyBinder {
  Q_OBJECT

 public:
  static constexpr const char* kService = "org.kde.kglobalaccel";
  static constexpr const char* kComponent = "varek";
  static constexpr const char* kAction = "toggle";

  // Whether the service runs on the bus.
  static bool offered(const QDBusConnection& bus);

  explicit KGlobalAccelKeyBinder(QDBusConnection bus = QDBusConnection::sessionBus());
  ~KGlobalAccelKeyBinder() override;

  Status bind(QKeyCombination combination) override;
  void unbind() override;

 private slots:
  void shortcutPressed(const QString& component, const QString& action, qlonglong timestamp);

 private:
  // Asks for these keys; the keys the service gave, which leave out any held elsewhere.
  std::optional<QList<int>> setKeys(const QList<int>& keys);

  QDBusConnection bus_;
  QString componentPath_;  // the component's object path once registered
  bool bound_ = false;
};

}  // namespace varek
