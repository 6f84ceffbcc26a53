#include "app/hotkey_dialog.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace varek {
namespace {

constexpr const char* kPrompt = "Kürzel drücken …";

// Keys that only change others. Recording them would let Super alone stand as a key, and
// the first of them would become the key whose release ends the recording.
bool isModifierKey(int key) {
  switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_Mode_switch:
      return true;
    default:
      return false;
  }
}

}  // namespace

KeyRecorder::KeyRecorder(QWidget* parent) : QKeySequenceEdit(parent) {
  if (auto* line = findChild<QLineEdit*>()) line->setPlaceholderText(kPrompt);
}

void KeyRecorder::keyPressEvent(QKeyEvent* event) {
  // A second key pressed while the first combination is held would start a sequence.
  if (isModifierKey(event->key()) || holding_) {
    event->accept();
    return;
  }
  QKeySequenceEdit::keyPressEvent(event);
  holding_ = !keySequence().isEmpty();
}

void KeyRecorder::keyReleaseEvent(QKeyEvent* event) {
  event->accept();
  if (holding_ && !event->isAutoRepeat() && !isModifierKey(event->key())) finish();
}

void KeyRecorder::focusOutEvent(QFocusEvent* event) {
  if (holding_) finish();
  QKeySequenceEdit::focusOutEvent(event);
}

void KeyRecorder::finish() {
  holding_ = false;
  const QKeyCombination combination = keySequence()[0];
  // Setting the sequence ends the recording now; the next press starts a new one.
  setKeySequence(QKeySequence(combination));
  if (auto* line = findChild<QLineEdit*>()) {
    line->setText(Hotkey::label(combination));
    line->setPlaceholderText(kPrompt);
  }
  emit recorded(combination);
}

HotkeyDialog::HotkeyDialog(Hotkey& hotkey, std::function<bool(QKeyCombination)> apply,
                           QWidget* parent)
    : QDialog(parent),
      hotkey_(hotkey),
      apply_(std::move(apply)),
      recorder_(new KeyRecorder(this)),
      message_(new QLabel(this)) {
  setWindowTitle("Anderes Tastenkürzel – Varek");
  // The launcher has no window in front; the dialog must not open behind another one.
  setWindowFlag(Qt::WindowStaysOnTopHint);
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(QString("Die Tastenkombination drücken, die Varek öffnen soll, zum "
                                   "Beispiel Super+Leertaste. Jetzt: %1.")
                               .arg(Hotkey::label(hotkey_.combination())),
                           this);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  layout->addWidget(recorder_);
  message_->setWordWrap(true);
  layout->addWidget(message_);
  auto* buttons = new QDialogButtonBox(this);
  applyButton_ = buttons->addButton("Übernehmen", QDialogButtonBox::AcceptRole);
  applyButton_->setEnabled(false);
  buttons->addButton("Abbrechen", QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  connect(recorder_, &KeyRecorder::recorded, this, &HotkeyDialog::consider);
  recorder_->setFocus();
  hotkey_.unregisterKey();
}

QString HotkeyDialog::problem(Hotkey::Status status, QKeyCombination combination, Where where) {
  const QString label = Hotkey::label(combination);
  switch (status) {
    case Hotkey::Status::off:
    case Hotkey::Status::registered:
      return {};
    case Hotkey::Status::taken:
      return QString(
                 "%1 ist belegt. In den Tastenkürzel-Einstellungen der Arbeitsumgebung "
                 "freigeben oder %2 ein anderes Kürzel wählen.")
          .arg(label,
               where == Where::here ? "hier" : "im Menü des Varek-Symbols unter „Tastenkürzel“");
    case Hotkey::Status::refused:
      return Hotkey::refusal(combination).value_or(QString());
    case Hotkey::Status::missingKey:
      return QString("Die Tastaturbelegung hat keine Taste für %1.").arg(label);
    case Hotkey::Status::noDisplay:
      return QString("Ohne X11-Anzeige kann Varek kein globales Tastenkürzel belegen.");
    case Hotkey::Status::noService:
      return QString(
                 "Die Arbeitsumgebung hat nicht geantwortet, %1 ist nicht belegt. Varek neu "
                 "starten oder in ihren Tastenkürzel-Einstellungen ein Kürzel anlegen, das den "
                 "Befehl „varek signal toggle“ ausführt.")
          .arg(label);
    case Hotkey::Status::needsConsent:
      return QString(
                 "%1 lässt sich in den Tastenkürzeln von GNOME eintragen: im Menü des "
                 "Varek-Symbols „Kürzel in GNOME eintragen“ wählen.")
          .arg(label);
    case Hotkey::Status::unsupported:
      return QString(
                 "Diese Arbeitsumgebung lässt Varek kein globales Tastenkürzel belegen. In "
                 "ihren Tastenkürzel-Einstellungen ein Kürzel wie %1 anlegen, das den Befehl "
                 "„varek signal toggle“ ausführt.")
          .arg(label);
  }
  return {};
}

QString HotkeyDialog::message() const { return message_->text(); }

void HotkeyDialog::consider(QKeyCombination combination) {
  candidate_.reset();
  applyButton_->setEnabled(false);
  // Trying is the only sure test: the desktop tells whether it holds a combination only
  // by refusing the grab. The launcher holds nothing while the dialog records.
  const Hotkey::Status status = hotkey_.grab(combination);
  hotkey_.unregisterKey();
  if (status != Hotkey::Status::registered && status != Hotkey::Status::needsConsent) {
    message_->setText(problem(status, combination, Where::here));
    return;
  }
  candidate_ = combination;
  message_->setText(QString("%1 ist frei. Mit „Übernehmen“ öffnet es künftig Varek.")
                        .arg(Hotkey::label(combination)));
  applyButton_->setEnabled(true);
}

void HotkeyDialog::done(int result) {
  if (result == Accepted) {
    if (!candidate_) return;
    if (!apply_(*candidate_)) {
      message_->setText(problem(hotkey_.status(), *candidate_, Where::here));
      candidate_.reset();
      applyButton_->setEnabled(false);
      return;
    }
  } else {
    hotkey_.registerKey();
  }
  QDialog::done(result);
}

}  // namespace varek
