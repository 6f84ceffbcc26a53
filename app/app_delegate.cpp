#include "app/app_delegate.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>

#include "app/control_signals.h"
#include "ui/panel_controller.h"

namespace varek {
namespace {

// The star: 18 points square, its tips 7.5 points above and below the centre and 6.15 to
// either side; each side is a cubic whose two control points coincide at 0.12 of the sum
// of its ends' offsets, so the sides bow in towards the centre.
constexpr qreal kIconPoints = 18;
constexpr qreal kStarHalfHeight = 7.5;
constexpr qreal kStarHalfWidth = 6.15;
constexpr qreal kSideBow = 0.12;
// Tray hosts ask for 16 to 24 pixels on ordinary screens and twice that on dense ones.
constexpr std::array<qreal, 2> kIconScales = {1, 2};

// The keyboard-shortcut pages of the desktops' settings, by desktop-entry file name:
// GNOME, KDE Plasma, Xfce.
constexpr std::array<std::string_view, 3> kKeyboardShortcutPanes = {
    "gnome-keyboard-panel.desktop", "kcm_keys.desktop", "xfce-keyboard-settings.desktop"};

QString text(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace

AppDelegate::AppDelegate(const Platform& platform, Log& log, LoginItem loginItem, QObject* parent)
    : QObject(parent),
      platform_(platform),
      log_(log),
      hotkey_(platform_.defaults),
      loginItem_(std::move(loginItem)) {
  hotkeyMenu_.setTitle("Tastenkürzel");
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::start() {
  controller_ = std::make_unique<PanelController>(platform_, log_);

  hotkey_.setOnPress([this] { togglePanel(); });
  if (!hotkey_.registerKey()) {
    log_.write("Kürzel " + std::string(Hotkey::label(hotkey_.choice())) + " ist belegt");
  }

  QIcon icon;
  for (qreal scale : kIconScales) icon.addPixmap(menuIcon(scale));
  // Where the desktop tints tray icons to its panel, it may tint this one.
  icon.setIsMask(true);
  trayIcon_ = std::make_unique<QSystemTrayIcon>(icon);
  connect(&menu_, &QMenu::aboutToShow, this, &AppDelegate::rebuildMenu);
  trayIcon_->setContextMenu(&menu_);
  // A click on the icon opens the menu too, as the menu is all the icon offers.
  connect(trayIcon_.get(), &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) menu_.popup(QCursor::pos());
          });
  trayIcon_->setVisible(true);

  controlSignals_ = std::make_unique<ControlSignals>(*controller_, log_);
  controlSignals_->listen();

  QTimer::singleShot(kWarmUpDelayMs, this, [this] { controller_->warmUp(); });
}

void AppDelegate::togglePanel() {
  if (!controller_) return;
  if (controller_->isVisible()) {
    controller_->hide();
  } else {
    controller_->show();
  }
}

QAction* AppDelegate::item(QMenu& menu, const QString& title, std::function<void()> action) {
  QAction* added = menu.addAction(title);
  connect(added, &QAction::triggered, this, [action = std::move(action)] { action(); });
  return added;
}

void AppDelegate::rebuildMenu() {
  menu_.clear();
  hotkeyMenu_.clear();
  const Hotkey::Choice current = hotkey_.choice();

  item(menu_, "Varek öffnen  (" + text(Hotkey::label(current)) + ")", [this] {
    if (controller_) controller_->show();
  });
  menu_.addSeparator();

  for (Hotkey::Choice choice : Hotkey::kChoices) {
    QAction* choiceItem =
        item(hotkeyMenu_, text(Hotkey::label(choice)), [this, choice] { chooseHotkey(choice); });
    choiceItem->setCheckable(true);
    choiceItem->setChecked(hotkey_.choice() == choice);
  }
  menu_.addMenu(&hotkeyMenu_);

  QAction* clipboard = item(menu_, "Zwischenablage-Verlauf", [this] {
    if (!controller_) return;
    ClipboardHistory& history = controller_->model().clipboard();
    history.setEnabled(!history.enabled());
  });
  clipboard->setCheckable(true);
  clipboard->setChecked(controller_ && controller_->model().clipboard().enabled());
  item(menu_, "Verlauf leeren", [this] {
    if (controller_) controller_->model().clipboard().clear();
  });

  // X11 has no permission to grant; what can be missing is a window manager that speaks
  // EWMH, and asking only makes the backend log that.
  if (!platform_.windowServer.isTrusted()) {
    item(menu_, "Fenstersteuerung erlauben …", [this] { platform_.windowServer.requestTrust(); });
  }

  QAction* login =
      item(menu_, "Beim Anmelden öffnen", [this] { loginItem_.setEnabled(!loginItem_.enabled()); });
  login->setCheckable(true);
  login->setChecked(loginItem_.enabled());
  menu_.addSeparator();

  item(menu_, "Varek beenden", [] { QCoreApplication::quit(); });
}

void AppDelegate::chooseHotkey(Hotkey::Choice choice) {
  hotkey_.setChoice(choice);
  const bool registered = hotkey_.registerKey();
  if (!registered || choice == Hotkey::Choice::commandSpace) explainCommandSpace();
}

void AppDelegate::explainCommandSpace() {
  QMessageBox alert;
  alert.setWindowTitle("Varek");
  alert.setText("⌘ Leertaste von Spotlight übernehmen");
  alert.setInformativeText(
      "Schalte in Systemeinstellungen → Tastatur → Tastaturkurzbefehle → Spotlight den Eintrag "
      "„Spotlight-Suche einblenden“ aus. Danach reagiert Varek auf ⌘ Leertaste.");
  QPushButton* open = alert.addButton("Tastaturkurzbefehle öffnen", QMessageBox::AcceptRole);
  alert.addButton("Später", QMessageBox::RejectRole);
  alert.setDefaultButton(open);
  // The launcher has no window in front; the note must not open behind another one.
  alert.setWindowFlag(Qt::WindowStaysOnTopHint);
  alert.exec();
  if (alert.clickedButton() == open) openKeyboardShortcuts();
}

void AppDelegate::openKeyboardShortcuts() {
  if (!controller_) return;
  for (const AppIndex::Entry& entry : controller_->model().apps().entries()) {
    const std::string name = std::filesystem::path(entry.path).filename().string();
    const bool shortcuts = std::find(kKeyboardShortcutPanes.begin(), kKeyboardShortcutPanes.end(),
                                     name) != kKeyboardShortcutPanes.end();
    if (entry.kind != Item::Kind::setting || !shortcuts) continue;
    if (entry.url) {
      platform_.workspace.openUrl(*entry.url);
    } else {
      platform_.workspace.openApplication(entry.path);
    }
    return;
  }
}

QPixmap AppDelegate::menuIcon(qreal scale) {
  const int pixels = qRound(kIconPoints * scale);
  QPixmap pixmap(pixels, pixels);
  pixmap.setDevicePixelRatio(scale);
  pixmap.fill(Qt::transparent);

  const QPointF centre(kIconPoints / 2, kIconPoints / 2);
  // y grows downwards here; the star is symmetric, so that only swaps top and bottom.
  const std::array<QPointF, 4> tips = {
      centre + QPointF(0, -kStarHalfHeight), centre + QPointF(kStarHalfWidth, 0),
      centre + QPointF(0, kStarHalfHeight), centre + QPointF(-kStarHalfWidth, 0)};
  QPainterPath star(tips[0]);
  for (std::size_t index = 0; index < tips.size(); ++index) {
    const QPointF& from = tips[index];
    const QPointF& to = tips[(index + 1) % tips.size()];
    const QPointF control = centre + kSideBow * ((from - centre) + (to - centre));
    star.cubicTo(control, control, to);
  }
  star.closeSubpath();

  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  // The text colour of the desktop's palette stands out on its panels, light or dark.
  painter.fillPath(star, QGuiApplication::palette().color(QPalette::WindowText));
  return pixmap;
}

}  // namespace varek
