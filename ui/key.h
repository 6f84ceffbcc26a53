// One key hint of the footer: what a key combination does, then the keys on a cap, so a
// hint reads "Öffnen ⏎". keyHints() chooses the hints for the selected row.
#pragma once

#include <QPainter>
#include <QString>
#include <vector>

#include "search/item.h"

namespace varek {

struct Key {
  QString key;    // the keys, e.g. "Eingabe", "Strg+Eingabe"
  QString label;  // what they do, e.g. "Öffnen"

  // The size the hint draws at: the label, the spacing and the cap.
  QSizeF size() const;
  // Draws the hint with its left edge at `origin.x()`, centred on `origin.y()`.
  void paint(QPainter& painter, QPointF origin) const;

  bool operator==(const Key&) const = default;
};

// What Strg+Eingabe, Alt+Eingabe and Eingabe do with this row, in that order; a hint is
// left out where the row has no such action (no path to reveal, nothing to copy but the
// text it already copies on Return).
// `pastes`: whether Return on a clipboard row pastes it or only copies it.
std::vector<Key> keyHints(const Item& item, bool pastes);

}  // namespace varek
