#include "ui/panel_controller.h"

#include <QCursor>
#include <QEasingCurve>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>
#include <QWindow>
#include <array>
#include <charconv>
#include <string>

#include "ui/root_view.h"
#include "ui/search_field.h"
#include "ui/varek_panel.h"

namespace varek {
namespace {

// The fade-in: 0.09 s on the usual ease-out curve, the cubic Bézier with the control
// points (0, 0) and (0.58, 1).
constexpr int kFadeMilliseconds = 90;
constexpr QPointF kEaseOutControl1{0.0, 0.0};
constexpr QPointF kEaseOutControl2{0.58, 1.0};

// The first searches a user types, run once before the first opening.
constexpr std::array<const char*, 3> kWarmUpQueries = {"s", "sa", "saf"};

// Where the settings open, from the panel's top-left corner: over the list, at its left.
constexpr QPoint kSettingsOffset{20, 70};

// The X11 modifier bit of Caps Lock, as the key event carries it in its native state.
constexpr quint32 kX11LockMask = 1U << 1;

// The modifiers that count when a shortcut asks for "only" one of them: a shortcut with
// Shift, Caps Lock or a keypad key added is a different one. Control (Strg) is the key of
// the panel's shortcuts: the desktops keep Super and its combinations for themselves.
enum class Only { none, control, other };

Only onlyModifier(const QKeyEvent& event) {
  const Qt::KeyboardModifiers flags =
      event.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier |
                           Qt::MetaModifier | Qt::KeypadModifier);
  const bool capsLock = QGuiApplication::platformName() == QLatin1String("xcb") &&
                        (event.nativeModifiers() & kX11LockMask) != 0;
  if (capsLock) return Only::other;
  if (flags == Qt::NoModifier) return Only::none;
  if (flags == Qt::ControlModifier) return Only::control;
  return Only::other;
}

// The screen under the pointer, else the primary one; nothing without any screen.
QScreen* screenUnderPointer() {
  const QPoint pointer = QCursor::pos();
  for (QScreen* screen : QGuiApplication::screens()) {
    if (screen->geometry().contains(pointer)) return screen;
  }
  return QGuiApplication::primaryScreen();
}

// "geöffnet in 12.3 ms"
std::string timeLine(const char* what, const QElapsedTimer& since) {
  std::array<char, 32> digits{};
  const double milliseconds = static_cast<double>(since.nsecsElapsed()) / 1e6;
  const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), milliseconds,
                                     std::chars_format::fixed, 1);
  return std::string(what) + " in " + std::string(digits.data(), written.ptr) + " ms";
}

}  // namespace

PanelController::PanelController(const Platform& platform, Log& log, QObject* parent)
    : QObject(parent),
      model_(SearchModel::create(platform)),
      panel_(std::make_unique<VarekPanel>()),
      rootView_(new RootView(*model_, panel_.get())),
      fade_(new QPropertyAnimation(panel_.get(), "windowOpacity", panel_.get())),
      log_(log),
      fades_(QGuiApplication::platformName() != QLatin1String("wayland")),
      logsKeystrokes_(qEnvironmentVariable("VAREK_TIMINGS") == QLatin1String("1")) {
  rootView_->move(0, 0);
  model_->setObserver([view = rootView_](SearchModel::Field field) { view->modelChanged(field); });
  model_->setHide([controller = QPointer<PanelController>(this)] {
    if (controller) controller->hide();
  });

  QEasingCurve easeOut(QEasingCurve::BezierSpline);
  easeOut.addCubicBezierSegment(kEaseOutControl1, kEaseOutControl2, QPointF(1, 1));
  fade_->setDuration(kFadeMilliseconds);
  fade_->setStartValue(0.0);
  fade_->setEndValue(1.0);
  fade_->setEasingCurve(easeOut);

  // Keys and exposure arrive at the window before any widget sees them; activation
  // changes arrive at the top-level widget.
  panel_->windowHandle()->installEventFilter(this);
  panel_->installEventFilter(this);
}

PanelController::~PanelController() {
  // The panel goes before this object's QObject part; it must not call back into it.
  panel_->windowHandle()->removeEventFilter(this);
  panel_->removeEventFilter(this);
  fade_->stop();
  model_->setObserver(nullptr);
  model_->setHide([] {});
}

SearchModel& PanelController::model() { return *model_; }

QWidget& PanelController::panel() { return *panel_; }

void PanelController::setShowSettings(std::function<void(QPoint)> show) {
  model_->setShowSettings([controller = QPointer<PanelController>(this), show = std::move(show)] {
    if (controller) show(controller->panel_->geometry().topLeft() + kSettingsOffset);
  });
}

bool PanelController::isVisible() const { return panel_->shown(); }

void PanelController::toggle() {
  if (isVisible()) {
    hide();
  } else {
    show();
  }
}

void PanelController::hotkeyPressed() {
  const std::optional<VarekPanel::CompositorState> state = panel_->compositorState();
  if (!state) {
    toggle();
  } else if (state->visible != isVisible()) {
    state->visible ? show() : hide();
  }
}

void PanelController::show() {
  opening_.start();
  model_->willShow();
  // A panel kept mapped was reset when it hid: keys may already have reached it.
  if (!panel_->keptMapped()) model_->reset();

  if (QScreen* screen = screenUnderPointer()) {
    panel_->move(VarekPanel::origin(screen->availableGeometry()));
  }
  fade_->stop();
  // Nothing blends the window without a compositor: its opacity would change at every step
  // of the fade for nothing. Set before the window maps, so no full-opacity frame shows.
  if (fades_ && panel_->composited()) panel_->setWindowOpacity(0);
  // A window kept mapped (on sway, in the scratchpad) is visible to Qt while hidden.
  const bool wasVisible = panel_->isVisible();
  if (!panel_->shown()) activeSinceShow_ = false;
  panel_->present();
  // Showing a widget, Qt posts it a request to repaint itself whole, handled after the
  // server's exposure has painted the panel: a second frame, all alike. Taken now, the
  // requests join the first.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
  rootView_->setTranslucent(panel_->composited());
  rootView_->field().setFocus(Qt::ActiveWindowFocusReason);
  if (fades_ && panel_->composited()) {
    fade_->start();
  } else if (panel_->windowOpacity() < 1) {
    panel_->setWindowOpacity(1);  // the compositor went since the last opening
  }
  if (wasVisible) {
    // A window already on the screen gets no new exposure; it paints at once instead.
    panel_->repaint();
    logOpening();
  } else {
    awaitingFirstFrame_ = true;
  }
  afterOpening([this] { model_->refreshSources(); });
  installKeys();
}

void PanelController::logOpening() {
  log_.write(timeLine("geöffnet", opening_));
  stopAwaitingFirstFrame();
}

void PanelController::stopAwaitingFirstFrame() {
  awaitingFirstFrame_ = false;
  // A job may open the panel again and queue more; those wait for that opening.
  std::vector<std::function<void()>> jobs;
  jobs.swap(afterOpening_);
  for (const auto& job : jobs) job();
}

void PanelController::afterOpening(std::function<void()> job) {
  if (awaitingFirstFrame_) {
    afterOpening_.push_back(std::move(job));
  } else {
    job();
  }
}

void PanelController::hide() {
  if (!panel_->shown()) return;
  fade_->stop();
  panel_->dismiss();
  keysInstalled_ = false;
  keystroke_.invalidate();
  if (panel_->keptMapped()) {
    // sway shows the last frame again at once when it next shows the window.
    model_->reset();
    panel_->repaint();
  }
  // An opening hidden before its first frame writes no line; what waited for that line is
  // not held back any longer.
  stopAwaitingFirstFrame();
}

void PanelController::installKeys() { keysInstalled_ = true; }

// The panel is drawn into an image rather than mapped far off-screen: window managers pull
// such a window back until a corner shows, and without a compositor its zero opacity does
// not hide it. The image runs the same layout, fonts and painting code.
void PanelController::warmUp() {
  if (panel_->shown()) return;
  model_->willShow();
  for (const char* query : kWarmUpQueries) {
    model_->setQuery(query);
    drawOffscreen();
  }
  model_->reset();
  drawOffscreen();
  panel_->prepare();
}

void PanelController::drawOffscreen() {
  QImage image(panel_->size(), QImage::Format_ARGB32_Premultiplied);
  panel_->render(&image);
}

bool PanelController::eventFilter(QObject* watched, QEvent* event) {
  // Qt repaints widgets on an update request to the panel or, synced to the compositor's
  // frames, to its window.
  if (event->type() == QEvent::UpdateRequest && keystroke_.isValid()) {
    // The repaint, its flush included, of what the keys since the last one changed.
    watched->event(event);
    log_.write(timeLine("Taste bis Liste", keystroke_));
    keystroke_.invalidate();
    return true;
  }
  if (watched == panel_.get()) {
    if (event->type() == QEvent::WindowActivate) {
      // sway showed the panel from its scratchpad (the hotkey's binding): an opening, before
      // the keys typed after the hotkey arrive.
      if (!panel_->shown() && panel_->keptMapped()) show();
      activeSinceShow_ = true;
    } else if (event->type() == QEvent::WindowDeactivate && activeSinceShow_) {
      // Another window took the focus: a click elsewhere, another window coming forward.
      // Qt may hear late of a focus that sway has given back since.
      const auto state = panel_->compositorState();
      if (!state || !state->focused) hide();
    }
    return false;
  }
  if (watched != panel_->windowHandle()) return false;

  // sway showed and focused the panel kept in its scratchpad, and the keys typed after the
  // hotkey came before Qt's word of the focus.
  if (event->type() == QEvent::KeyPress && !panel_->shown() && panel_->keptMapped()) show();
  if (event->type() == QEvent::KeyPress && keysInstalled_) {
    const auto& key = static_cast<const QKeyEvent&>(*event);
    // Only keys that change the list: a lone modifier would time the caret's next blink.
    const bool changesList = !key.text().isEmpty() || key.key() == Qt::Key_Backspace ||
                             key.key() == Qt::Key_Up || key.key() == Qt::Key_Down;
    if (logsKeystrokes_ && changesList && !keystroke_.isValid()) keystroke_.start();
    if (handle(key)) return true;
    // A Super combination the panel does not use goes on to the field as a key that types
    // nothing: X11 gives it its character, which the field would otherwise insert.
    if ((key.modifiers() & Qt::MetaModifier) && !key.text().isEmpty()) {
      QKeyEvent bare(key.type(), key.key(), key.modifiers(), key.nativeScanCode(),
                     key.nativeVirtualKey(), key.nativeModifiers(), QString(), key.isAutoRepeat(),
                     key.count());
      QCoreApplication::sendEvent(watched, &bare);
      return true;
    }
    return false;
  }
  if (event->type() == QEvent::Expose && awaitingFirstFrame_) {
    // The window paints and flushes its first frame while it handles the exposure; letting
    // it do so here puts the end of that frame inside the measured opening time.
    watched->event(event);
    if (panel_->windowHandle()->isExposed()) logOpening();
    return true;
  }
  return false;
}

void PanelController::activate(SearchModel::Action action) {
  SearchModel& model = *model_;
  const int selection = model.selection();
  if (selection < 0 || selection >= static_cast<int>(model.items().size())) return;
  const Item row = model.items()[static_cast<std::size_t>(selection)];
  // The first Return on a row that must be confirmed only asks.
  const bool asks = action == SearchModel::Action::open && row.needsConfirm &&
                    model.confirmID() != row.id;
  model.activate(action);
  // Nothing to show in the file manager: the model beeped.
  if (asks || (action == SearchModel::Action::reveal && !row.path)) return;
  const char* done = action == SearchModel::Action::reveal ? "Im Dateimanager gezeigt: "
                     : action == SearchModel::Action::copy ? "Kopiert: "
                                                           : "Ausgeführt: ";
  log_.write(done + loggedName(row));
}

bool PanelController::handle(const QKeyEvent& event) {
  const int key = event.key();
  const Qt::KeyboardModifiers modifiers = event.modifiers();
  SearchModel& model = *model_;

  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    // Strg wins over Alt: Strg+Alt+Return reveals.
    if (modifiers & Qt::ControlModifier) {
      activate(SearchModel::Action::reveal);
    } else if (modifiers & Qt::AltModifier) {
      activate(SearchModel::Action::copy);
    } else {
      activate(SearchModel::Action::open);
    }
    return true;
  }
  if (key == Qt::Key_Escape) {
    // One step back at a time: the text, then the mode, then the panel.
    if (!model.query().empty()) {
      model.setQuery("");
    } else if (model.mode() != SearchModel::Mode::all) {
      model.setMode(SearchModel::Mode::all);
    } else {
      hide();
    }
    return true;
  }
  if (key == Qt::Key_Up || key == Qt::Key_Down) {
    model.move(key == Qt::Key_Up ? -1 : 1);
    return true;
  }

  const Only only = onlyModifier(event);
  if (only == Only::control && key >= Qt::Key_0 && key <= Qt::Key_9) {
    const auto mode = modeFromNumber(key - Qt::Key_0);
    if (!mode) return false;
    model.setMode(*mode);
    return true;
  }
  if (only == Only::control && key == Qt::Key_C) {
    // With text selected in the field, Strg+C copies that text, as in any field; only
    // without a selection it copies the selected row.
    SearchField& field = rootView_->field();
    if (field.hasSelectedText()) {
      field.copy();
    } else {
      activate(SearchModel::Action::copy);
    }
    return true;
  }
  if (only == Only::control && (key == Qt::Key_N || key == Qt::Key_P)) {
    model.move(key == Qt::Key_N ? 1 : -1);
    return true;
  }
  return false;
}

}  // namespace varek
