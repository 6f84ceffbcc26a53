// The dialog behind "Anderes Kürzel …": it records one key combination, says at once
// whether the desktop lets Varek have it (trying the grab), and applies it on "Übernehmen".
// While it is open the launcher holds no grab, so that every combination, the current
// one too, reaches the dialog instead of opening the panel.
#pragma once

#include <QDialog>
#include <QKeySequenceEdit>
#include <functional>
#include <optional>

#include "app/hotkey.h"

class QLabel;
class QPushButton;

namespace varek {

// A key-sequence field that ends its recording with the first combination. The plain field
// goes on recording up to four for a second, and a global hotkey is one combination.
class KeyRecorder : public QKeySequenceEdit {
  Q_OBJECT

 public:
  explicit KeyRecorder(QWidget* parent = nullptr);

 signals:
  void recorded(QKeyCombination combination);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void finish();
  bool holding_ = false;  // a combination is recorded and its key still down
};

class HotkeyDialog : public QDialog {
  Q_OBJECT

 public:
  // Where a message sends the user to pick another combination.
  enum class Where { here, trayMenu };

  // apply stores and grabs a free combination; true when Varek holds it then.
  HotkeyDialog(Hotkey& hotkey, std::function<bool(QKeyCombination)> apply,
               QWidget* parent = nullptr);

  // Why the combination is not Varek's hotkey, by the status of its grab, in German;
  // empty for a grab that worked.
  static QString problem(Hotkey::Status status, QKeyCombination combination, Where where);

  KeyRecorder& recorder() { return *recorder_; }
  QPushButton& applyButton() { return *applyButton_; }
  QString message() const;
  // The last combination recorded that was free when recorded.
  std::optional<QKeyCombination> candidate() const { return candidate_; }

  // Applying keeps the dialog open when the combination was taken meanwhile; either way
  // out gives the launcher a grab again.
  void done(int result) override;

 private:
  void consider(QKeyCombination combination);

  Hotkey& hotkey_;
  std::function<bool(QKeyCombination)> apply_;
  KeyRecorder* recorder_;
  QLabel* message_;
  QPushButton* applyButton_;
  std::optional<QKeyCombination> candidate_;
};

}  // namespace varek
