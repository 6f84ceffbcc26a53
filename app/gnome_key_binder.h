// The hotkey on GNOME without the GlobalShortcuts portal: a custom keyboard shortcut in
// GNOME's settings that runs `varek signal toggle`. It stays in the user's settings beyond
// this process, so it is written only once the user agrees (the tray menu asks) and removed
// only on request; a combination that GNOME's own shortcuts hold counts as taken.
#pragma once

#include <QKeyCombination>
#include <QString>

#include "app/key_binder.h"

namespace varek {

class GnomeKeyBinder : public KeyBinder {
 public:
  static constexpr const char* kCommand = "varek signal toggle";

  // Whether this is a GNOME session whose settings hold custom keyboard shortcuts.
  static bool offered();
  // GNOME's form of the combination: "<Control><Alt>k".
  static QString accelerator(QKeyCombination combination);

  GnomeKeyBinder() = default;

  // registered where the shortcut is written already (it is updated to this combination),
  // else needsConsent; taken where one of GNOME's shortcuts holds it.
  Status bind(QKeyCombination combination) override;
  // The shortcut stays: it is the user's setting now.
  void unbind() override {}

  Consent consent() const override;
  bool agree(QKeyCombination combination) override;
  void withdraw() override;
};

}  // namespace varek
