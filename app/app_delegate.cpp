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
#include <optional>
#include <string_view>

#include "app/color_scheme.h"
#include "app/control_signals.h"
#include "app/hotkey_dialog.h"
#include "app/key_binder.h"
#include "ui/sway_scratchpad.h"
#include "ui/varek_panel.h"
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
// The star's colours on panels of a dark and of a light scheme.
constexpr QRgb kStarOnDark = qRgb(0xF2, 0xF2, 0xF2);
constexpr QRgb kStarOnLight = qRgb(0x1E, 0x1E, 0x1E);
// Tray hosts ask for 16 to 24 pixels on ordinary screens and twice that on dense ones.
constexpr std::array<qreal, 2> kIconScales = {1, 2};

// The keyboard-shortcut pages of the desktops' settings, by desktop-entry file name:
// GNOME, KDE Plasma, Xfce.
constexpr std::array<std::string_view, 3> kKeyboardShortcutPanes = {
    "gnome-keyboard-panel.desktop", "kcm_keys.desktop", "xfce-keyboard-settings.desktop"};

// The log's words for a grab that failed, after "Kürzel Alt+Leertaste": " ist belegt", or
// the reason it cannot be grabbed at all.
std::string failure(QKeyCombination combination, Hotkey::Status status) {
  if (status == Hotkey::Status::taken) return " ist belegt";
  return ": " +
         HotkeyDialog::problem(status, combination, HotkeyDialog::Where::trayMenu).toStdString();
}

// The desktop's page of keyboard shortcuts among the settings panes, if it has one; a copy,
// as the index may refresh while a dialog waits.
std::optional<AppIndex::Entry> keyboardShortcutsPane(PanelController* controller) {
  if (controller == nullptr) return std::nullopt;
  for (const AppIndex::Entry& entry : controller->model().apps().entries()) {
    const std::string name = std::filesystem::path(entry.path).filename().string();
    const bool shortcuts = std::find(kKeyboardShortcutPanes.begin(), kKeyboardShortcutPanes.end(),
                                     name) != kKeyboardShortcutPanes.end();
    if (entry.kind == Item::Kind::setting && shortcuts) return entry;
  }
  return std::nullopt;
}

}  // namespace

AppDelegate::AppDelegate(const Platform& platform, Log& log, LoginItem loginItem, QObject* parent)
    : QObject(parent),
      platform_(platform),
      log_(log),
      // On sway the binding itself shows and focuses the panel kept in the scratchpad, so
      // that the keys typed right after the hotkey reach it, then tells the launcher.
      hotkey_(platform_.defaults,
              makeKeyBinder({.swayCommand = SwayScratchpad::criteria(VarekPanel::kAppId) +
                                            " scratchpad show; nop varek toggle"})),
      loginItem_(std::move(loginItem)) {
  hotkeyMenu_.setTitle("Tastenkürzel");
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::start() {
  controller_ = std::make_unique<PanelController>(platform_, log_);

  hotkey_.setOnPress([this] { togglePanel(); });
  const QKeyCombination combination = hotkey_.combination();
  if (!hotkey_.registerKey()) {
    log_.write("Kürzel " + Hotkey::label(combination).toStdString() +
               failure(combination, hotkey_.status()));
  }

  colorScheme_ = std::make_unique<ColorScheme>();
  trayIcon_ = std::make_unique<QSystemTrayIcon>(trayStar());
  connect(colorScheme_.get(), &ColorScheme::changed, this,
          [this] { trayIcon_->setIcon(trayStar()); });
  connect(&menu_, &QMenu::aboutToShow, this, &AppDelegate::rebuildMenu);
  // Desktops without a tray reach the same menu through the panel's settings row.
  controller_->setShowSettings([this](QPoint at) { menu_.popup(at); });
  trayIcon_->setContextMenu(&menu_);
  // A click on the icon opens the menu too, as the menu is all the icon offers.
  connect(trayIcon_.get(), &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) menu_.popup(QCursor::pos());
          });
  showHotkey();
  trayIcon_->setVisible(true);
  // Said once, at start: the launcher runs on without its hotkey, reachable through the
  // tray. Without a tray that shows notifications, the log line above is all there is.
  if (!hotkey_.registered() && QSystemTrayIcon::isSystemTrayAvailable() &&
      QSystemTrayIcon::supportsMessages()) {
    trayIcon_->showMessage(
        "Varek: Tastenkürzel",
        HotkeyDialog::problem(hotkey_.status(), combination, HotkeyDialog::Where::trayMenu),
        QSystemTrayIcon::Warning);
  }

  controlSignals_ = std::make_unique<ControlSignals>(*controller_, log_);
  // `varek einstellungen` writes the defaults; the combination in use is grabbed anew only
  // when it changed, and the clipboard history follows its switch.
  controlSignals_->setOnReload([this, grabbed = combination]() mutable {
    const QKeyCombination stored = hotkey_.combination();
    if (stored != grabbed || !hotkey_.registered()) changeHotkey(stored);
    grabbed = stored;
    ClipboardHistory& history = controller_->model().clipboard();
    history.setEnabled(history.enabled());
  });
  // A copy made by `varek run` stays on the clipboard once that process is gone, and the
  // history does not record it as someone else's.
  controlSignals_->setOnCopy([this](const std::string& text) {
    platform_.pasteboard.setText(text);
    controller_->model().clipboard().setLastChange(platform_.pasteboard.changeCount());
  });
  controlSignals_->listen();

  QTimer::singleShot(kWarmUpDelayMs, this, [this] { controller_->warmUp(); });
}

void AppDelegate::togglePanel() {
  if (controller_) controller_->hotkeyPressed();
}

QAction* AppDelegate::item(QMenu& menu, const QString& title, std::function<void()> action) {
  QAction* added = menu.addAction(title);
  connect(added, &QAction::triggered, this, [action = std::move(action)] { action(); });
  return added;
}

void AppDelegate::rebuildMenu() {
  menu_.clear();
  hotkeyMenu_.clear();
  const QKeyCombination current = hotkey_.combination();
  showHotkey();

  item(menu_, "Varek öffnen  (" + Hotkey::label(current) + ")", [this] {
    if (controller_) controller_->show();
  });
  menu_.addSeparator();

  // One radio group: the presets, then any other combination, which names itself once
  // it is the one in use.
  bool preset = false;
  for (QKeyCombination choice : Hotkey::kPresets) {
    QAction* choiceItem =
        item(hotkeyMenu_, Hotkey::label(choice), [this, choice] { chooseHotkey(choice); });
    choiceItem->setCheckable(true);
    choiceItem->setChecked(current == choice);
    hotkeyChoices_.addAction(choiceItem);
    preset = preset || current == choice;
  }
  QAction* other = item(hotkeyMenu_,
                        preset ? QString("Anderes Kürzel …")
                               : QString("Anderes Kürzel (%1) …").arg(Hotkey::label(current)),
                        [this] { chooseOtherHotkey(); });
  other->setCheckable(true);
  other->setChecked(!preset);
  hotkeyChoices_.addAction(other);
  menu_.addMenu(&hotkeyMenu_);
  // GNOME keeps the shortcut in the user's own settings: written and removed only here.
  if (hotkey_.status() == Hotkey::Status::needsConsent) {
    item(menu_, "Kürzel in GNOME eintragen", [this] {
      const bool written = hotkey_.agree();
      log_.write(
          "Kürzel " + Hotkey::label(hotkey_.combination()).toStdString() +
          (written ? " in GNOME eingetragen" : failure(hotkey_.combination(), hotkey_.status())));
      showHotkey();
    });
  } else if (hotkey_.consent() == KeyBinder::Consent::given) {
    item(menu_, "Kürzel aus GNOME entfernen", [this] {
      hotkey_.withdraw();
      log_.write("Kürzel aus GNOME entfernt");
      showHotkey();
    });
  }

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

  // What is missing only the user can change (start a window manager, change desktops),
  // so the menu says so and offers nothing to click.
  if (!platform_.windowServer.isTrusted()) {
    menu_
        .addAction(QString::fromStdString("Fensterliste fehlt: " +
                                          platform_.windowServer.unreachableCause()))
        ->setEnabled(false);
  }

  QAction* login =
      item(menu_, "Beim Anmelden öffnen", [this] { loginItem_.setEnabled(!loginItem_.enabled()); });
  login->setCheckable(true);
  login->setChecked(loginItem_.enabled());
  menu_.addSeparator();

  item(menu_, "Varek beenden", [] { QCoreApplication::quit(); });
}

void AppDelegate::chooseHotkey(QKeyCombination preset) {
  changeHotkey(preset);
  if (!hotkey_.registered()) explainHotkeyProblem(preset);
}

void AppDelegate::changeHotkey(QKeyCombination combination) {
  hotkey_.setCombination(combination);
  std::string line = "Kürzel " + Hotkey::label(combination).toStdString() + " gewählt";
  if (hotkey_.status() == Hotkey::Status::taken) {
    line += ", ist aber belegt";
  } else if (!hotkey_.registered()) {
    line += failure(combination, hotkey_.status());
  }
  log_.write(line);
  showHotkey();
}

void AppDelegate::showHotkey() {
  if (!trayIcon_) return;
  QString tip = "Varek – " + Hotkey::label(hotkey_.combination());
  if (!hotkey_.registered()) tip += " (ohne Wirkung)";
  trayIcon_->setToolTip(tip);
}

void AppDelegate::chooseOtherHotkey() {
  HotkeyDialog dialog(hotkey_, [this](QKeyCombination combination) {
    // Only a combination that is Varek's, or free for the desktop's settings once the user
    // agrees, is stored; a taken one stays in the dialog.
    const auto usable = [this] {
      return hotkey_.registered() || hotkey_.status() == Hotkey::Status::needsConsent;
    };
    hotkey_.grab(combination);
    if (!usable()) return false;
    changeHotkey(combination);
    return usable();
  });
  dialog.exec();
}

void AppDelegate::explainHotkeyProblem(QKeyCombination combination) {
  QMessageBox alert;
  alert.setWindowTitle("Varek");
  alert.setIcon(QMessageBox::Warning);
  alert.setText(HotkeyDialog::problem(hotkey_.status(), combination, HotkeyDialog::Where::here));
  QPushButton* other = alert.addButton("Anderes Kürzel …", QMessageBox::ActionRole);
  const std::optional<AppIndex::Entry> pane = keyboardShortcutsPane(controller_.get());
  QPushButton* open =
      pane ? alert.addButton("Tastenkürzel-Einstellungen öffnen", QMessageBox::AcceptRole)
           : nullptr;
  alert.addButton("Schließen", QMessageBox::RejectRole);
  alert.setDefaultButton(other);
  // The launcher has no window in front; the note must not open behind another one.
  alert.setWindowFlag(Qt::WindowStaysOnTopHint);
  alert.exec();
  if (alert.clickedButton() == other) {
    chooseOtherHotkey();
  } else if (open != nullptr && alert.clickedButton() == open) {
    if (pane->url) {
      platform_.workspace.openUrl(*pane->url);
    } else {
      platform_.workspace.openApplication(pane->path);
    }
  }
}

QIcon AppDelegate::trayStar() const {
  // Light on a dark panel, dark on a light one; without a stated preference the text colour
  // of the desktop's palette, which its theme sets to stand out on its panels.
  QColor color = QGuiApplication::palette().color(QPalette::WindowText);
  const ColorScheme::Preference preference =
      colorScheme_ ? colorScheme_->preference() : ColorScheme::Preference::none;
  if (preference == ColorScheme::Preference::dark) color = QColor(kStarOnDark);
  if (preference == ColorScheme::Preference::light) color = QColor(kStarOnLight);
  QIcon icon;
  for (qreal scale : kIconScales) icon.addPixmap(menuIcon(scale, color));
  // Where the desktop tints tray icons to its panel, it may tint this one.
  icon.setIsMask(true);
  return icon;
}

QPixmap AppDelegate::menuIcon(qreal scale, const QColor& color) {
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
  painter.fillPath(star, color);
  return pixmap;
}

}  // namespace varek
