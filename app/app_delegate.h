// The launcher's shell for the life of the process: it starts the panel, the global
// hotkey, the tray icon with its menu (the only settings surface) and the control signals,
// and warms the panel up a second after start. There is no main window.
#pragma once

#include <QActionGroup>
#include <QColor>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

#include "app/hotkey.h"
#include "platform/log.h"
#include "app/login_item.h"
#include "platform/platform.h"

namespace varek {

class ColorScheme;
class ControlSignals;
class PanelController;

class AppDelegate : public QObject {
  Q_OBJECT

 public:
  // The panel is warmed up off-screen this long after start, before the first real opening.
  static constexpr int kWarmUpDelayMs = 1000;

  AppDelegate(const Platform& platform, Log& log, LoginItem loginItem = LoginItem(),
              QObject* parent = nullptr);
  ~AppDelegate() override;

  // Start-up once the event loop runs, in this order: panel, hotkey (a taken combination
  // is logged, and announced once where a tray shows notifications), tray icon and menu,
  // control signals, and the delayed warm-up.
  void start();
  // Builds every item afresh from the stored settings; runs each time the menu opens.
  void rebuildMenu();
  // Stores and grabs the combination, logs the change and shows it in the tooltip.
  void changeHotkey(QKeyCombination combination);
  // The modal note after choosing a combination that could not be grabbed.
  void explainHotkeyProblem(QKeyCombination combination);
  // The dialog that records any other combination.
  void chooseOtherHotkey();

  // The tray's four-pointed star, 18 points square, at this many pixels per point.
  static QPixmap menuIcon(qreal scale, const QColor& color);

  PanelController* controller() { return controller_.get(); }
  Hotkey& hotkey() { return hotkey_; }
  QMenu& menu() { return menu_; }
  QSystemTrayIcon* trayIcon() { return trayIcon_.get(); }
  ControlSignals* controlSignals() { return controlSignals_.get(); }

 private:
  QAction* item(QMenu& menu, const QString& title, std::function<void()> action);
  void togglePanel();
  void chooseHotkey(QKeyCombination preset);
  void showHotkey();
  // The star in the colour that stands out on the desktop's panel.
  QIcon trayStar() const;

  Platform platform_;
  Log& log_;
  std::unique_ptr<PanelController> controller_;
  Hotkey hotkey_;
  LoginItem loginItem_;
  QActionGroup hotkeyChoices_{nullptr};
  QMenu menu_;
  QMenu hotkeyMenu_;
  std::unique_ptr<ColorScheme> colorScheme_;
  std::unique_ptr<QSystemTrayIcon> trayIcon_;
  std::unique_ptr<ControlSignals> controlSignals_;
};

}  // namespace varek
